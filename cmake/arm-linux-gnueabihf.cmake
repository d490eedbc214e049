# 32-bit ARM, hard float (Debian armhf).
set(VORN_TARGET_TRIPLET arm-linux-gnueabihf)
set(VORN_TARGET_PROCESSOR arm)
set(VORN_TARGET_EMULATOR qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
