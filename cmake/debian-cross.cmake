# Cross-building on Debian for the multiarch target VORN_TARGET_TRIPLET, with
# Debian's cross compiler, the target's -dev packages installed beside the
# build machine's (dpkg --add-architecture) and qemu-user to run what is
# built. Included by the per-target toolchain files in this folder.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${VORN_TARGET_PROCESSOR})
set(CMAKE_C_COMPILER ${VORN_TARGET_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${VORN_TARGET_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${VORN_TARGET_TRIPLET})
# pkgconf's wrapper reads the target's .pc files only.
set(PKG_CONFIG_EXECUTABLE ${VORN_TARGET_TRIPLET}-pkg-config CACHE FILEPATH "pkg-config for the target")
# The target's loader and libraries are installed in the build machine's
# multiarch folders, where qemu-user finds them.
set(CMAKE_CROSSCOMPILING_EMULATOR ${VORN_TARGET_EMULATOR})
