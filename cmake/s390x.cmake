# Cross build for big-endian s390x Linux, run under user-mode emulation.
#
#   cmake -S . -B build/s390x -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/s390x.cmake -DS390X_SYSROOT=/abs/path/to/tree
#
# The tree is a Debian s390x system with libc6-dev, libssl-dev and libstdc++6
# (cross/check makes one). CTest then runs every test through qemu-s390x, so
# the unit tests check the code on a CPU of the other byte order.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)

# try_compile projects re-read this file without the cache; hand the tree on
# to them, and fall back to the environment for a first run without -D.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES S390X_SYSROOT)
if(NOT S390X_SYSROOT AND DEFINED ENV{S390X_SYSROOT})
  set(S390X_SYSROOT "$ENV{S390X_SYSROOT}")
endif()
set(S390X_SYSROOT "${S390X_SYSROOT}" CACHE PATH "Debian s390x system tree (absolute path)")
if(NOT S390X_SYSROOT)
  message(FATAL_ERROR "Set S390X_SYSROOT to the absolute path of a Debian s390x system tree")
endif()
if(NOT IS_ABSOLUTE "${S390X_SYSROOT}" OR NOT EXISTS "${S390X_SYSROOT}/usr/include/s390x-linux-gnu")
  message(FATAL_ERROR "S390X_SYSROOT=${S390X_SYSROOT} is not an absolute path to a Debian s390x tree with libc6-dev")
endif()

set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE s390x-linux-gnu)
set(CMAKE_SYSROOT "${S390X_SYSROOT}")

# Build tools come from the host; headers, libraries and packages only from
# the tree, so nothing of the x86-64 system can leak into the target code.
set(CMAKE_FIND_ROOT_PATH "${S390X_SYSROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -L makes the emulator take the dynamic loader and shared libraries from the
# tree; CTest and gtest_discover_tests prefix every test command with this.
find_program(S390X_QEMU qemu-s390x REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR "${S390X_QEMU};-L;${S390X_SYSROOT}")
