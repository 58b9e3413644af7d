#!/usr/bin/env bash
# Installs what is missing, builds Release and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --tests
scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --preset release -j"$(nproc)"
