#!/usr/bin/env bash
# Makes sure that what a target needs is on the machine, and nothing more.
# As root it installs what is missing with apt-get; otherwise it names the
# packages to install and fails.
#
#   install-deps.sh [--test] [--package] [COMMAND:PACKAGE ...]
#
# Without options: what building the client, its tests and the demo needs.
# --test adds what only the tests run (a real HTTP proxy); --package adds
# what making and checking the Debian package needs. COMMAND:PACKAGE adds a
# package to install when COMMAND is missing.
set -euo pipefail

want_test=0
want_package=0
extras=()
for arg in "$@"; do
  case "$arg" in
    --test) want_test=1 ;;
    --package) want_package=1 ;;
    *) extras+=("$arg") ;;
  esac
done

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

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"

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
