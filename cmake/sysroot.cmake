# SPDX-License-Identifier: MIT
# Cross-building against a system root: a target triplet and a folder that
# holds the target's headers and libraries, as a Debian sysroot made by
# scripts/sysroot.sh or a device maker's SDK does.
#
#   -DVORN_TARGET=arm-linux-gnueabihf     the target triplet
#   -DVORN_SYSROOT=/path/to/sysroot       the target's root
#   -DVORN_CC=... -DVORN_CXX=...          the SDK's compilers (optional; by
#                                         default clang and lld, which take
#                                         headers, start files and libgcc
#                                         from the sysroot alone)
#   -DVORN_EMULATOR=qemu-arm              runs what is built, with the
#                                         sysroot's own loader and libraries
#                                         (optional; see target-run.sh)
#   -DVORN_GLIBC_BASELINE=2.4             the newest glibc symbol version
#                                         that vorn may need (optional)
foreach(variable VORN_TARGET VORN_SYSROOT)
  if(NOT ${variable})
    message(FATAL_ERROR "cmake/sysroot.cmake needs -D${variable}=…")
  endif()
endforeach()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VORN_TARGET VORN_SYSROOT VORN_CC VORN_CXX)

set(CMAKE_SYSTEM_NAME Linux)
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "${VORN_TARGET}")
set(CMAKE_SYSROOT "${VORN_SYSROOT}")
set(CMAKE_LIBRARY_ARCHITECTURE "${VORN_TARGET}")
if(VORN_CC)
  set(CMAKE_C_COMPILER "${VORN_CC}")
  set(CMAKE_CXX_COMPILER "${VORN_CXX}")
else()
  set(CMAKE_C_COMPILER clang)
  set(CMAKE_CXX_COMPILER clang++)
  set(CMAKE_C_COMPILER_TARGET "${VORN_TARGET}")
  set(CMAKE_CXX_COMPILER_TARGET "${VORN_TARGET}")
  set(CMAKE_EXE_LINKER_FLAGS_INIT -fuse-ld=lld)
  set(CMAKE_SHARED_LINKER_FLAGS_INIT -fuse-ld=lld)
  set(CMAKE_MODULE_LINKER_FLAGS_INIT -fuse-ld=lld)
endif()

# Libraries, headers and packages come from the sysroot only; programs that
# run during the build come from the build machine.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${VORN_SYSROOT}")
set(ENV{PKG_CONFIG_LIBDIR}
  "${VORN_SYSROOT}/usr/lib/${VORN_TARGET}/pkgconfig:${VORN_SYSROOT}/usr/lib/pkgconfig:${VORN_SYSROOT}/usr/share/pkgconfig")

if(VORN_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_CURRENT_LIST_DIR}/target-run.sh;${VORN_EMULATOR};${VORN_SYSROOT};${VORN_TARGET}")
endif()
