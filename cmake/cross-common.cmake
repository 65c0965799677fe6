# Shared part of the cross toolchains (toolchain-ARCH.cmake set the triple,
# the processor, the dynamic loader and the qemu-user program, then include
# this file). scripts/test-cross.sh builds the project with them and runs the
# tests under qemu-user; the programs are test builds for this machine only.
#
# The target's libraries (libbz2, libcrypto, libcurl and their dependencies,
# and GoogleTest) live in a sysroot inside the build folder,
# QRV_CROSS_SYSROOT; libc and libstdc++ come from Debian's cross toolchain
# under /usr/TRIPLE.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER   ${QRV_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${QRV_CROSS_TRIPLE}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${QRV_CROSS_TRIPLE})

if(NOT QRV_CROSS_SYSROOT)
  set(QRV_CROSS_SYSROOT ${CMAKE_BINARY_DIR}/sysroot)
endif()
# try_compile projects read this file again; they need the same sysroot.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QRV_CROSS_SYSROOT)

set(CMAKE_FIND_ROOT_PATH ${QRV_CROSS_SYSROOT} /usr/${QRV_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)   # python3, the testbed's tools
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian keeps the per-architecture headers (openssl/configuration.h,
# curl/curlbuild) in include/TRIPLE, which the find modules do not add.
set(_qrv_sys_include "-isystem ${QRV_CROSS_SYSROOT}/usr/include/${QRV_CROSS_TRIPLE}")
set(CMAKE_C_FLAGS_INIT   "${_qrv_sys_include}")
set(CMAKE_CXX_FLAGS_INIT "${_qrv_sys_include}")

# The programs run under qemu-user on this machine, where the target's loader
# and libraries are not in their usual places: the loader is named by its
# host path, and the library folders go in as DT_RPATH (not DT_RUNPATH), which
# the loader also applies to the libraries' own dependencies (libcurl's).
# So a program finds everything without QEMU_LD_PREFIX or LD_LIBRARY_PATH,
# also when a test starts it with an environment of its own.
set(_qrv_libdirs "/usr/${QRV_CROSS_TRIPLE}/lib:${QRV_CROSS_SYSROOT}/usr/lib/${QRV_CROSS_TRIPLE}:${QRV_CROSS_SYSROOT}/lib/${QRV_CROSS_TRIPLE}")
set(_qrv_link "-Wl,--dynamic-linker=/usr/${QRV_CROSS_TRIPLE}/lib/${QRV_CROSS_LOADER} -Wl,--disable-new-dtags -Wl,-rpath,${_qrv_libdirs} -Wl,-rpath-link,${_qrv_libdirs}")
set(CMAKE_EXE_LINKER_FLAGS_INIT    "${_qrv_link}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_qrv_link}")

# Test discovery and every registered test start the target's programs
# through qemu-user.
find_program(QRV_CROSS_QEMU_PATH ${QRV_CROSS_QEMU} PATHS /usr/bin NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QRV_CROSS_QEMU_PATH})
