# 64-bit ARM (Debian arm64).
set(VORN_TARGET_TRIPLET aarch64-linux-gnu)
set(VORN_TARGET_PROCESSOR aarch64)
set(VORN_TARGET_EMULATOR qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
