#!/usr/bin/env bash
# Cross-builds the client, its cores and its tests for another processor and
# runs the tests under qemu-user on this machine.
#
#   scripts/test-cross.sh [--unit] [--jobs N] ARCH...     ARCH: s390x arm64 armhf
#
# s390x is big-endian (every byte-order conversion is a plain copy there),
# arm64 has an unsigned plain char, armhf a 32-bit long, size_t and pointer.
# Everything an architecture needs stays in its build folder
# (build-cross-ARCH/, or $BUILD_CROSS_PREFIX-ARCH): the target's libraries
# unpacked from Debian's packages with a private apt state (the machine's own
# dpkg gets no foreign architecture), GoogleTest built from the sources of
# libgtest-dev, and the cross build itself. Only host packages are installed
# on the machine: the cross compilers and qemu-user.
#
# The tests start the client, the cores and helper programs as child
# processes, so the kernel must hand every program of the target to qemu:
# the script registers qemu with binfmt_misc under names of its own for the
# run and removes them (and a binfmt_misc mount it made) when it ends.
#
# --unit runs the unit tests only (label "unit", what CI runs); otherwise the
# end-to-end tests with the testbed run as well, each in a private network
# namespace with the testbed's servers native and the client and cores under
# qemu. A test unfit for an emulated processor can be left out by name
# (QRV_CROSS_EXCLUDE below).
set -euo pipefail

top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$top"

prefix="${BUILD_CROSS_PREFIX:-$top/build-cross}"
host_build="${BUILD:-$top/build}"

# Under qemu every instruction is translated, and a test that waits for a
# child process waits for a whole emulated program start: the cross runs give
# each test case ten minutes instead of two.
cross_timeout=600

# Test cases left out under qemu-user, as a ctest regular expression:
# - DemoResumeTest...IsAccepted runs the demo core through 16,000 steps of
#   floating-point molecular dynamics after a restart and allows a minute for
#   it; emulated (armhf most of all) that takes several minutes.
exclude="${QRV_CROSS_EXCLUDE-DemoResumeTest\.CtrlCInsideAUnitThenRestartResumesFromTheCheckpointAndIsAccepted}"

triple_of() {
  case "$1" in
    s390x) echo s390x-linux-gnu ;;
    arm64) echo aarch64-linux-gnu ;;
    armhf) echo arm-linux-gnueabihf ;;
  esac
}
qemu_of() {
  case "$1" in
    s390x) echo qemu-s390x ;;
    arm64) echo qemu-aarch64 ;;
    armhf) echo qemu-arm ;;
  esac
}
debarch_of() { echo "$1"; }  # Debian's names are the ones used here

# ELF header patterns for binfmt_misc: class, byte order, type (executable or
# shared object, through the mask) and machine.
binfmt_magic() {
  case "$1" in
    s390x) echo '\x7fELF\x02\x02\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x16' ;;
    arm64) echo '\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00' ;;
    armhf) echo '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x28\x00' ;;
  esac
}
# The byte after the ELF version (the OS ABI) is left out: GNU tools mark
# programs that use GNU extensions with 3 instead of 0.
binfmt_mask() {
  case "$1" in
    s390x) echo '\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff' ;;
    *)     echo '\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff' ;;
  esac
}

log() { printf 'test-cross: %s\n' "$*"; }

# ---- binfmt_misc: registered for this run only ------------------------------
binfmt_dir=/proc/sys/fs/binfmt_misc
binfmt_mounted_here=0
binfmt_names=()
cleanup_binfmt() {
  local n
  for n in "${binfmt_names[@]}"; do
    [ -e "$binfmt_dir/$n" ] && echo -1 > "$binfmt_dir/$n" || true
  done
  binfmt_names=()
  if [ "$binfmt_mounted_here" -eq 1 ]; then
    umount "$binfmt_dir" 2>/dev/null || true
    binfmt_mounted_here=0
  fi
}
trap cleanup_binfmt EXIT
trap 'exit 130' INT TERM

register_binfmt() {
  local arch="$1" qemu
  qemu="$(command -v "$(qemu_of "$arch")")"
  if [ ! -e "$binfmt_dir/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt_dir"
    binfmt_mounted_here=1
  fi
  # The name carries this run's process ID, so a run removes only its own
  # entries. F opens qemu now (it then works in any mount namespace); P keeps
  # the program's own argv[0].
  local name="qrv3-cross-$arch-$$"
  printf ':%s:M::%s:%s:%s:FP' "$name" "$(binfmt_magic "$arch")" "$(binfmt_mask "$arch")" "$qemu" \
    > "$binfmt_dir/register"
  binfmt_names+=("$name")
}

# ---- the target's libraries -------------------------------------------------
# Debian's packages for the target, resolved and fetched with an apt state of
# their own in the build folder, then unpacked (dpkg -x) into the sysroot. The
# cross toolchain brings libc and libstdc++, so those packages are not
# unpacked.
make_sysroot() {
  local arch="$1" b="$2" triple
  triple="$(triple_of "$arch")"
  local sysroot="$b/sysroot" apt="$b/apt"
  local want="libbz2-dev libssl-dev libcurl4-openssl-dev"
  if [ -f "$sysroot/.complete" ] && [ "$(cat "$sysroot/.complete")" = "$want" ]; then
    return
  fi
  log "$arch: fetching $want for the sysroot"
  rm -rf "$sysroot" "$apt"
  mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/state" "$sysroot"
  : > "$apt/state/status"
  local opts=(-o "APT::Architecture=$(debarch_of "$arch")" -o "APT::Architectures::=$(debarch_of "$arch")"
              -o "Dir::State::Lists=$apt/lists" -o "Dir::State::status=$apt/state/status"
              -o "Dir::Cache=$apt/cache" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=
              -o Debug::NoLocking=1 -o APT::Sandbox::User=root)
  # One stale index (seen: a security suite's armhf list that did not match
  # its signed Release) makes apt-get update fail as a whole, though the other
  # suites' lists arrived. The sysroot is private, so it may take a package at
  # the main suite's version; the install below still fails when a package
  # is missing altogether.
  if ! apt-get "${opts[@]}" -qq update; then
    log "$arch: some of Debian's package lists could not be fetched; the sysroot takes its packages from those that were"
  fi
  # shellcheck disable=SC2086
  apt-get "${opts[@]}" -qq -y --no-install-recommends --download-only install $want
  local deb pkg
  for deb in "$apt"/cache/archives/*.deb; do
    pkg="$(dpkg-deb -f "$deb" Package)"
    case "$pkg" in
      libc6|libc6-dev|libc-dev-bin|linux-libc-dev|libgcc-s1|gcc-12-base|libstdc++6|libcrypt1|libcrypt-dev|libnsl2|libnsl-dev|libtirpc*|rpcsvc-proto) continue ;;
    esac
    dpkg-deb -x "$deb" "$sysroot"
  done
  # Debian's development symlinks are absolute (/lib/TRIPLE/libbz2.so.1.0);
  # make them point inside the sysroot.
  local link target
  while IFS= read -r link; do
    target="$(readlink "$link")"
    case "$target" in /*) ln -sfn "$sysroot$target" "$link" ;; esac
  done < <(find "$sysroot" -type l)
  rm -rf "$apt/cache/archives"/*.deb
  echo "$want" > "$sysroot/.complete"
  [ -e "$sysroot/usr/include/$triple/curl/curl.h" ] || [ -e "$sysroot/usr/include/curl/curl.h" ] \
    || { echo "test-cross: $arch: libcurl's headers are missing from the sysroot" >&2; exit 1; }
}

make_gtest() {
  local arch="$1" b="$2"
  local sysroot="$b/sysroot"
  [ -f "$sysroot/usr/lib/cmake/GTest/GTestConfig.cmake" ] && return
  log "$arch: building GoogleTest from /usr/src/googletest"
  cmake -S /usr/src/googletest -B "$b/googletest" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-$arch.cmake" -DQRV_CROSS_SYSROOT="$sysroot" \
    -DCMAKE_INSTALL_PREFIX="$sysroot/usr" -DBUILD_GMOCK=OFF >/dev/null
  cmake --build "$b/googletest" -j "$jobs" --target install >/dev/null
}

host_deps() {
  local arch="$1" triple
  triple="$(triple_of "$arch")"
  scripts/install-deps.sh "$triple-g++:crossbuild-essential-$arch" "$(qemu_of "$arch"):qemu-user" \
    dpkg-deb:dpkg
  [ -d /usr/src/googletest ] || { echo "test-cross: /usr/src/googletest is missing (libgtest-dev)" >&2; exit 1; }
}

# The cross-machine file test compares the files that the target's build
# writes with those of this machine's build ($host_build), so that one is
# brought up to date too.
host_helper() {
  [ -f "$host_build/build.ninja" ] || cmake -S . -B "$host_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$host_build" -j "$jobs" --target file_exchange >/dev/null
}

run_arch() {
  local arch="$1"
  local b="$prefix-$arch"
  local start=$SECONDS
  mkdir -p "$b"
  host_deps "$arch"
  make_sysroot "$arch" "$b"
  make_gtest "$arch" "$b"
  host_helper
  if [ ! -f "$b/build.ninja" ]; then
    local launcher=()
    command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    cmake -S . -B "$b" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-$arch.cmake" -DQRV_CROSS_SYSROOT="$b/sysroot" \
      -DQRV_TEST_TIMEOUT="$cross_timeout" -DQRV_HOST_BIN_DIR="$host_build/bin" "${launcher[@]}" >/dev/null
  fi
  log "$arch: building"
  cmake --build "$b" -j "$jobs"
  local built=$SECONDS
  register_binfmt "$arch"
  local labels='unit|testbed'
  [ "$unit_only" -eq 1 ] && labels='unit'
  log "$arch: running the tests (label $labels) under $(qemu_of "$arch")"
  local rc=0
  local select=(-L "^($labels)\$")
  [ -n "$exclude" ] && select+=(-E "$exclude")
  (cd "$b" && ctest "${select[@]}" -j "$jobs" --output-on-failure --timeout "$cross_timeout") \
    | tee "$b/test-cross.log" || rc=$?
  cleanup_binfmt
  local count
  count="$(sed -n 's/.*tests passed, [0-9]* tests failed out of \([0-9]*\)$/\1/p' "$b/test-cross.log" | tail -1)"
  log "$arch: ${count:-?} tests under qemu, build $((built - start)) s, tests $((SECONDS - built)) s, total $((SECONDS - start)) s"
  return $rc
}

main() {
  unit_only=0
  jobs="$(nproc 2>/dev/null || echo 2)"
  archs=()
  while [ $# -gt 0 ]; do
    case "$1" in
      --unit) unit_only=1 ;;
      --jobs) jobs="$2"; shift ;;
      s390x|arm64|armhf) archs+=("$1") ;;
      *) echo "usage: $0 [--unit] [--jobs N] s390x|arm64|armhf..." >&2; exit 2 ;;
    esac
    shift
  done
  [ ${#archs[@]} -gt 0 ] || archs=(s390x arm64 armhf)
  local status=0 arch
  for arch in "${archs[@]}"; do
    run_arch "$arch" || status=1
  done
  return $status
}

unit_only=0
jobs="$(nproc 2>/dev/null || echo 2)"
if [ "${BASH_SOURCE[0]}" = "$0" ]; then main "$@"; fi
