# Builds the whole of quillfeed for aarch64 with Debian's cross compiler
# against a Debian 12 arm64 root (tools/cross-test.sh makes one), and runs
# the target's programs under qemu-user with that root:
#   QF_SYSROOT=/path/to/arm64-root cmake -S . -B build-arm64 \
#     -DCMAKE_TOOLCHAIN_FILE=tools/cross/aarch64-debian12.cmake
# The root comes from the environment, which CMake's own checks see too.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
if(NOT DEFINED ENV{QF_SYSROOT})
  message(FATAL_ERROR "set QF_SYSROOT to a Debian 12 arm64 root")
endif()
set(CMAKE_SYSROOT $ENV{QF_SYSROOT})
# Headers, libraries and CMake packages from the root; programs (ppdc,
# cups-config, python3) from this machine.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config (this machine's) reads the root's .pc files.
set(ENV{PKG_CONFIG_SYSROOT_DIR} $ENV{QF_SYSROOT})
set(ENV{PKG_CONFIG_LIBDIR} $ENV{QF_SYSROOT}/usr/lib/aarch64-linux-gnu/pkgconfig:$ENV{QF_SYSROOT}/usr/share/pkgconfig)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L $ENV{QF_SYSROOT})
