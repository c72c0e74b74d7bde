#!/usr/bin/env bash
# quillfeed on ARM, built with Debian's cross compilers and tested under
# qemu-user; plain char is unsigned there and the NEON paths replace the x86
# ones, so this catches what only x86 hides.
#
#  * aarch64: the whole suite (filter, renderers, encoders, preview, the
#    app's PAPPL-free part, their unit and whole-process tests) against a
#    Debian 12 arm64 root made with debootstrap, which is the compiler's
#    sysroot and qemu's library root. The whole-process tests start the
#    filter through qemu (QF_TEST_RUNNER).
#  * armhf: the image engine and its unit tests (tools/cross), built for
#    Debian's baseline, where NEON is chosen at run time, and with
#    -mfpu=neon, where the build selects it.
#  * Both: bench/dither_isa.cpp, each one-bit conversion's vector path
#    against its portable one in the same run (qemu's figures, not a CPU's).
#
#   bash tools/cross-test.sh [BUILD_ROOT]   (default: build-cross)
#
# The arm64 root is made once, as root, in BUILD_ROOT/arm64-root (or where
# QF_ARM64_ROOT says) and kept. debootstrap --foreign downloads and unpacks
# the packages; a sysroot needs their files only, so the second stage (the
# package scripts, which would need qemu registered with binfmt_misc) is not
# run. The mirror is the one this machine's apt uses (QF_DEBIAN_MIRROR
# overrides it).
set -euo pipefail
cd "$(dirname "$0")/.."
root=${1:-build-cross}
jobs=$(nproc 2>/dev/null || echo 2)
qemu64=$(command -v qemu-aarch64-static)
sysroot=$(realpath -m "${QF_ARM64_ROOT:-$root/arm64-root}")

# --- The arm64 root ------------------------------------------------------------
. tools/apt-mirror.sh
packages=libcups2-dev,libcupsimage2-dev,libpng-dev,libjpeg-dev,zlib1g-dev,libgtest-dev,libsystemd-dev
if [ "$(cat "$sysroot/.qf-sysroot" 2>/dev/null)" != "$packages" ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "ERROR: making the arm64 root needs root (debootstrap); or set QF_ARM64_ROOT to one" >&2
    exit 1
  fi
  mirror=${QF_DEBIAN_MIRROR:-$(apt_uri bookworm)}
  rm -rf "$sysroot"
  mkdir -p "$(dirname "$sysroot")"
  debootstrap --foreign --arch=arm64 --variant=minbase \
    --include="$packages" \
    bookworm "$sysroot" "${mirror:-http://deb.debian.org/debian}" >"$sysroot.log" 2>&1 ||
    { tail -n 20 "$sysroot.log"; exit 1; }
  for deb in "$sysroot"/var/cache/apt/archives/*.deb; do
    dpkg-deb -x "$deb" "$sysroot"
  done
  # qemu looks a path up in the root first: the device nodes debootstrap
  # made there would stand in for this machine's (a pty's slave is then not
  # found), so the root keeps none.
  rm -rf "${sysroot:?}"/dev/*
  echo "$packages" >"$sysroot/.qf-sysroot"
fi

# --- aarch64: everything ---------------------------------------------------------
dir=$root/aarch64-linux-gnu
QF_SYSROOT=$sysroot cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$PWD/tools/cross/aarch64-debian12.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQF_APP=CORE >/dev/null
QF_SYSROOT=$sysroot cmake --build "$dir" -j"$jobs"
echo "== aarch64-linux-gnu: the whole suite"
# The GoogleTest programs all run, under qemu. The scripts of the print
# server (e2e), the app, the status matrix and Bluetooth start our programs
# directly, not through qemu, and need a print server or D-Bus of this
# machine's architecture: they stay with the x86 build.
QEMU_LD_PREFIX=$sysroot QF_TEST_RUNNER=$qemu64 \
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" -E '^(e2e|app|status|bluetooth)\.'


# --- armhf: the image engine, NEON chosen at run time and at build time --------
for flavour in baseline:"" neon:"-mfpu=neon"; do
  IFS=: read -r name flags <<<"$flavour"
  dir=$root/arm-linux-gnueabihf-$name
  cmake -S tools/cross -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=arm \
    -DCMAKE_CXX_COMPILER=arm-linux-gnueabihf-g++ -DCMAKE_C_COMPILER=arm-linux-gnueabihf-gcc \
    -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="qemu-arm-static;-L;/usr/arm-linux-gnueabihf" >/dev/null
  cmake --build "$dir" -j"$jobs"
  echo "== arm-linux-gnueabihf ($name): the image engine"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs"
done

# --- Vector against portable paths, under qemu ---------------------------------
echo "== aarch64 (qemu): one-bit conversions, vector path against portable"
qemu-aarch64-static -L "$sysroot" "$root/aarch64-linux-gnu/bench/qf_dither_isa"
echo "== armhf with NEON (qemu): one-bit conversions, vector path against portable"
qemu-arm-static -L /usr/arm-linux-gnueabihf "$root/arm-linux-gnueabihf-baseline/qf_dither_isa"
