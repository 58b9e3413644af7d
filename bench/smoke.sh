#!/usr/bin/env bash
# Runs one benchmark with a tiny workload, as the suite's bench-smoke label
# does for every benchmark: it passes when the benchmark exits 0 and prints
# the figure its caller names (an extended regular expression), so a
# benchmark that breaks fails the suite instead of waiting for someone to
# run it. Exit 77 from the benchmark is a skip and stays one.
#   bench/smoke.sh <expected line regex> <command> [arguments...]
set -uo pipefail
expected=$1
shift
output=$("$@" 2>&1)
status=$?
printf '%s\n' "$output"
if (( status == 77 )); then
  exit 77
fi
if (( status != 0 )); then
  echo "bench-smoke: $1 exited with $status"
  exit 1
fi
if ! grep -Eq -- "$expected" <<<"$output"; then
  echo "bench-smoke: $1 printed no line matching: $expected"
  exit 1
fi
