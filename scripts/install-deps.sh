#!/usr/bin/env bash
# Makes sure that what a target needs is on the machine, and nothing more.
# As root it installs what is missing with apt-get; otherwise it names the
# packages to install and fails.
#
#   install-deps.sh [--test] [--package] [--arch ARCH] [COMMAND:PACKAGE ...]
#
# Without options: what building the client, its tests and the demo needs.
# --test adds what only the tests run (a real HTTP proxy); --package adds
# what making and checking the Debian package needs. --arch ARCH (arm64,
# armhf) adds what cross-building the package for ARCH and running it under
# qemu-user need: the cross toolchain, qemu-user and the target's libraries
# as dpkg installs them on ARCH (multiarch: dpkg --add-architecture ARCH).
# COMMAND:PACKAGE adds a package to install when COMMAND is missing.
set -euo pipefail

want_test=0
want_package=0
arch=""
extras=()
while [ $# -gt 0 ]; do
  case "$1" in
    --test) want_test=1 ;;
    --package) want_package=1 ;;
    --arch)
      [ $# -ge 2 ] || { echo "install-deps: --arch needs an architecture (arm64, armhf)" >&2; exit 2; }
      arch=$2; shift ;;
    *) extras+=("$1") ;;
  esac
  shift
done
case "$arch" in
  ""|arm64|armhf) ;;
  *) echo "install-deps: --arch $arch: only arm64 and armhf are cross-packaged" >&2; exit 2 ;;
esac

missing=()
need_cmd()    { command -v "$1" >/dev/null 2>&1 || missing+=("$2"); }
need_header() { [ -e "$1" ] || missing+=("$2"); }

need_cmd cmake cmake
need_cmd ninja ninja-build
need_cmd g++ g++
need_cmd python3 python3
need_cmd ip iproute2
need_cmd unshare util-linux
need_cmd gzip gzip
need_header /usr/include/bzlib.h libbz2-dev
need_header /usr/include/openssl/sha.h libssl-dev
[ -e /usr/include/curl/curl.h ] || [ -e "/usr/include/$(gcc -dumpmachine 2>/dev/null)/curl/curl.h" ] \
  || missing+=(libcurl4-openssl-dev)
need_header /usr/include/gtest/gtest.h libgtest-dev
need_cmd bzip2 bzip2
need_cmd openssl openssl
if [ "$want_test" -eq 1 ]; then
  need_cmd tinyproxy tinyproxy
fi
if [ "$want_package" -eq 1 ]; then
  need_cmd dpkg-buildpackage dpkg-dev
  need_cmd dh debhelper
  need_cmd lintian lintian
  need_cmd readelf binutils
  need_cmd systemd-nspawn systemd-container
  need_cmd mandoc mandoc
fi
for extra in "${extras[@]}"; do
  need_cmd "${extra%%:*}" "${extra#*:}"
done

# The target's libraries for a cross package build: dpkg-buildpackage -a
# checks the Build-Depends against them and dpkg-shlibdeps reads the
# package's Depends from their symbols files, so they must be installed
# packages of ARCH, not files unpacked somewhere. libstdc++6 is there for
# running the built client under qemu-user (the cross toolchain's copy is
# not where ARCH's loader looks).
foreign=()
if [ -n "$arch" ]; then
  case "$arch" in
    arm64) triple=aarch64-linux-gnu qemu=qemu-aarch64 ;;
    armhf) triple=arm-linux-gnueabihf qemu=qemu-arm ;;
  esac
  need_cmd "$triple-g++" "crossbuild-essential-$arch"
  need_cmd "$qemu" qemu-user
  for pkg in libbz2-dev libssl-dev libcurl4-openssl-dev libstdc++6; do
    dpkg-query -W -f='${Status}' "$pkg:$arch" 2>/dev/null | grep -q ' installed$' || foreign+=("$pkg:$arch")
  done
  missing+=("${foreign[@]}")
fi

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if [ ${#foreign[@]} -gt 0 ] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
  echo "Adding the architecture $arch to dpkg (multiarch)"
  dpkg --add-architecture "$arch"
  # apt-get update fails as a whole when one index of a suite cannot be
  # had (a mirror caught mid-sync serves a file that does not match its
  # signed Release). The new architecture is then taken out again: left in,
  # every later apt-get update on the machine would fail the same way.
  if ! apt-get update -qq; then
    dpkg --remove-architecture "$arch" || true
    apt-get update -qq || true
    echo "install-deps: the package indexes for $arch could not be fetched (see above);" \
         "$arch is taken out of dpkg again. Try again when the mirror is consistent." >&2
    exit 1
  fi
else
  apt-get update -qq
fi

echo "Installing: ${missing[*]}"
if ! apt-get install -y -qq --no-install-recommends "${missing[@]}"; then
  if [ ${#foreign[@]} -gt 0 ]; then
    # Multi-Arch: same packages (libc6, libssl3, ...) must have the very
    # same version on every architecture; a suite whose index for $arch is
    # missing or older than this machine's packages cannot give them.
    echo "install-deps: ${foreign[*]} need the versions of their libraries installed here" \
         "for $arch as well; apt-cache policy PACKAGE:$arch shows which are offered." >&2
  fi
  exit 1
fi

# A package may start a system service of its own on installation (tinyproxy
# does, on port 8888). The tests start their own copy of what they need, so
# a service that this run installed is stopped and disabled again; one that
# was there before is none of our business.
for pkg in "${missing[@]}"; do
  case "$pkg" in
    tinyproxy) service=tinyproxy ;;
    *) continue ;;
  esac
  if [ -d /run/systemd/system ]; then
    systemctl disable --now "$service" >/dev/null 2>&1 || true
  else
    if command -v update-rc.d >/dev/null 2>&1; then
      update-rc.d "$service" disable >/dev/null 2>&1 || true
    fi
    if [ -x "/etc/init.d/$service" ]; then
      "/etc/init.d/$service" stop >/dev/null 2>&1 || true
    fi
  fi
done
