# IBM Z, 64-bit big-endian: the host where every byte-order conversion is a
# plain copy and every missing or doubled swap shows. See cross-common.cmake.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(QRV_CROSS_TRIPLE s390x-linux-gnu)
set(QRV_CROSS_LOADER ld64.so.1)
set(QRV_CROSS_QEMU   qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/cross-common.cmake)
