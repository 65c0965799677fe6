#!/usr/bin/env bash
# Makes sure that everything the build and the tests need is on the machine.
# As root it installs what is missing with apt-get; otherwise it names the
# packages to install and fails.
set -euo pipefail

missing=()
need_cmd()    { command -v "$1" >/dev/null 2>&1 || missing+=("$2"); }
need_header() { [ -e "$1" ] || missing+=("$2"); }

need_cmd cmake cmake
need_cmd ninja ninja-build
need_cmd g++ g++
need_cmd python3 python3
need_cmd ip iproute2
need_cmd unshare util-linux
need_header /usr/include/bzlib.h libbz2-dev
need_header /usr/include/openssl/sha.h libssl-dev
[ -e /usr/include/curl/curl.h ] || [ -e "/usr/include/$(gcc -dumpmachine 2>/dev/null)/curl/curl.h" ] \
  || missing+=(libcurl4-openssl-dev)
need_header /usr/include/gtest/gtest.h libgtest-dev
need_cmd bzip2 bzip2
need_cmd openssl openssl
need_cmd tinyproxy tinyproxy
for extra in "$@"; do
  need_cmd "${extra%%:*}" "${extra#*:}"
done

[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "Missing packages: ${missing[*]}" >&2
  echo "Install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
