# 32-bit ARM (hard float): long, size_t and pointers are 32 bits and plain
# char is unsigned. Debian 12 builds it with a 32-bit time_t by default.
# See cross-common.cmake.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(QRV_CROSS_TRIPLE arm-linux-gnueabihf)
set(QRV_CROSS_LOADER ld-linux-armhf.so.3)
set(QRV_CROSS_QEMU   qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
