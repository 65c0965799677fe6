# 64-bit ARM, little-endian, where plain char is unsigned. See cross-common.cmake.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(QRV_CROSS_TRIPLE aarch64-linux-gnu)
set(QRV_CROSS_LOADER ld-linux-aarch64.so.1)
set(QRV_CROSS_QEMU   qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
