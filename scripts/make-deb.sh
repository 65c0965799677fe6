#!/usr/bin/env bash
# make-deb.sh BUILD_DIR JOBS [-DOPTION=VALUE ...]
#
# Builds the client alone the way a Debian package build does, makes the
# .deb with CPack and checks it with lintian. The compiler flags are those of
# dpkg-buildflags with every hardening feature (PIE, stack protection,
# _FORTIFY_SOURCE, full RELRO, immediate binding); warnings are not fatal
# here, as in any packager's build: CI keeps them fatal in `make test`.
set -euo pipefail
build=$1 jobs=$2
shift 2
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS" LDFLAGS

# The flags are read when the folder is first configured; a fresh folder
# each time keeps a changed environment from being ignored.
rm -rf "$build"
cmake -S . -B "$build" -G Ninja --compile-no-warning-as-error \
  -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF "$@"
cmake --build "$build" -j "$jobs"
(cd "$build" && cpack -G DEB)

deb=$(ls "$build"/qrv3_*.deb)
echo "make-deb: $deb"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
# Errors fail the build; warnings and notes are shown for the packager.
lintian --fail-on error --display-info "$deb"
