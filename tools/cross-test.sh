#!/usr/bin/env bash
# Builds the image engine, its unit tests and the zlib-free printer encoders
# with Debian's cross compilers for aarch64 and armhf and runs the tests under
# qemu-user. Plain char is unsigned there and the SSE2 paths of the image
# engine drop out, so this catches what only x86 hides.
#   bash tools/cross-test.sh [BUILD_ROOT]   (default: build-cross)
set -euo pipefail
cd "$(dirname "$0")/.."
root=${1:-build-cross}
jobs=$(nproc 2>/dev/null || echo 2)
for target in aarch64-linux-gnu:aarch64 arm-linux-gnueabihf:arm; do
  IFS=: read -r triple qemu <<<"$target"
  dir=$root/$triple
  cmake -S tools/cross -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR="$qemu" \
    -DCMAKE_CXX_COMPILER="$triple-g++" -DCMAKE_C_COMPILER="$triple-gcc" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="qemu-$qemu-static;-L;/usr/$triple" >/dev/null
  cmake --build "$dir" -j"$jobs"
  echo "== $triple"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs"
done
