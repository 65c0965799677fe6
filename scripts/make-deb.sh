#!/usr/bin/env bash
# make-deb.sh OUT_DIR JOBS [-DOPTION=VALUE ...]
#
# Makes the Debian packages (qrv3 and qrv3-dbgsym) with dpkg-buildpackage
# from debian/, and the native source package beside them, and checks all
# of them with lintian. The -D options are the deployment's settings
# (QRV_PUBLIC_KEY_FILE, QRV_ASSIGN_HOST_PRIMARY, ...); debian/rules passes
# them to CMake. ARCH in the environment, when it names one architecture,
# cross-builds for it (dpkg-buildpackage -a).
#
# dpkg-buildpackage writes its results into the parent of the source tree,
# and other checkouts may share that parent. So the tree is copied into
# OUT_DIR/src/qrv3-VERSION first (the files git knows, or every file but
# build folders outside a git checkout), and the results are collected
# from OUT_DIR/src into OUT_DIR. QRV_DEB_VERSION_SUFFIX (e.g. +test1)
# gives the package a later version, for an upgrade test.
set -euo pipefail
out=$1 jobs=$2
shift 2
top=$(cd "$(dirname "$0")/.." && pwd)

arch_opt=()
case "${ARCH:-}" in
  "" ) ;;
  *" "* ) echo "make-deb: ARCH must name one architecture, not \"$ARCH\"" >&2; exit 2 ;;
  * ) arch_opt=("-a$ARCH") ;;
esac

version=$(dpkg-parsechangelog -l "$top/debian/changelog" -S Version)
version="$version${QRV_DEB_VERSION_SUFFIX:-}"
rm -rf "$out"
mkdir -p "$out/src"
out=$(cd "$out" && pwd)
src="$out/src/qrv3-$version"
mkdir "$src"
if git -C "$top" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  (cd "$top" && git ls-files -z --cached --others --exclude-standard |
     while IFS= read -r -d '' f; do [ -e "$f" ] || [ -L "$f" ] && printf '%s\0' "$f"; done |
     tar --null -T - -cf -) | tar -xf - -C "$src"
else
  tar -C "$top" --exclude='./build*' --exclude='./obj-*' --exclude='./debian/qrv3' \
      --exclude='./debian/.debhelper' -cf - . | tar -xf - -C "$src"
fi
if [ -n "${QRV_DEB_VERSION_SUFFIX:-}" ]; then
  { printf 'qrv3 (%s) unstable; urgency=medium\n\n  * Rebuilt for an upgrade test.\n\n -- %s  %s\n\n' \
      "$version" "$(dpkg-parsechangelog -l "$top/debian/changelog" -S Maintainer)" "$(date -R)"
    cat "$top/debian/changelog"; } > "$src/debian/changelog"
fi

# The source package first, from the untouched copy.
(cd "$out/src" && dpkg-source -b "qrv3-$version" >/dev/null)
export QRV_CMAKE_OPTIONS="$*"
(cd "$src" && dpkg-buildpackage -us -uc -b -j"$jobs" "${arch_opt[@]}")

shopt -s nullglob
results=("$out"/src/*.deb "$out"/src/*.dsc "$out"/src/*.tar.* "$out"/src/*.buildinfo "$out"/src/*.changes)
[ ${#results[@]} -gt 0 ] || { echo "make-deb: dpkg-buildpackage made nothing" >&2; exit 1; }
mv "${results[@]}" "$out/"
rm -rf "$out/src"

for deb in "$out"/*.deb; do
  echo "make-deb: $deb"
  dpkg-deb --info "$deb"
  dpkg-deb --contents "$deb"
done
# Errors and warnings fail the build; every other tag is shown.
lintian --pedantic -I -E --fail-on error,warning "$out"/*.dsc "$out"/*.deb
