#!/usr/bin/env bash
# Installs what is missing, builds Release and starts Tonvale. Without a
# display it starts under a virtual one (Xvfb), so the program still runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
binary=build/release/src/app/tonvale
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "No display found: starting Tonvale under Xvfb (xvfb-run). Stop it with Ctrl+C."
  exec xvfb-run -a -s "-screen 0 1920x1080x24" "$binary" "$@"
fi
exec "$binary" "$@"
