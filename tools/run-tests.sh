#!/usr/bin/env bash
# Builds quillfeed in the given directory (default: build) and runs every test,
# the real print-server test included when this machine can run it.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$dir" -j"$jobs"
ctest --test-dir "$dir" --output-on-failure -j"$jobs"
