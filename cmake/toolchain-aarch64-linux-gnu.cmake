# Cross build for 64-bit ARM Linux (a Raspberry Pi print server, say) with
# Debian's cross toolchain (crossbuild-essential-arm64) and the arm64
# libraries of Debian's multiarch packages (libcups2-dev:arm64 and so on),
# which live beside the machine's own under /usr/lib/aarch64-linux-gnu.
# scripts/install-cross-deps.sh installs all of it.
#
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64-linux-gnu.cmake
#
# Programs built here run on this machine under qemu-user: CMake uses the
# emulator below to list the GoogleTest cases and ctest to run them.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(_triplet aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${_triplet}-g++)
# find_library and find_path look in /usr/lib/aarch64-linux-gnu (multiarch).
set(CMAKE_LIBRARY_ARCHITECTURE ${_triplet})

# Libraries and headers come from the arm64 side only; build tools (ppdc,
# cups-config, Ghostscript) are this machine's own.
set(CMAKE_FIND_ROOT_PATH /usr/${_triplet} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu)

# pkg-config with the arm64 .pc files (Debian's cross wrapper).
find_program(PKG_CONFIG_EXECUTABLE NAMES ${_triplet}-pkg-config)
if(NOT PKG_CONFIG_EXECUTABLE)
  set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${_triplet}/pkgconfig:/usr/share/pkgconfig)
endif()

# The arm64 programs run under qemu-user with the multiarch arm64 C library
# (libc6:arm64, which the arm64 -dev packages bring): its dynamic loader and
# its libc come from one build.  The cross toolchain's prefix has a loader
# of another glibc build, and that loader finds the multiarch libc through
# the machine's ld.so.cache: with the two mixed, a program's first
# pthread_create walks a list at the wrong offset and never returns.
find_program(TESVEL_QEMU_AARCH64 qemu-aarch64)
if(TESVEL_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TESVEL_QEMU_AARCH64} -L /)
endif()
