#!/usr/bin/env bash
# Files written on one machine load on another, byte for byte the same:
# runs the file_exchange helper of this machine's build and of a cross build
# (under qemu-user), requires identical files from both writers, and requires
# each reader to find in both sets of files exactly what the writers meant.
#
#   scripts/cross-file-exchange.sh HOST_HELPER CROSS_HELPER QEMU WORK
set -euo pipefail

host="$1" cross="$2" qemu="$3" work="$4"
rm -rf "$work"
mkdir -p "$work/host" "$work/cross"

run() {  # run host|cross write|read DIR DUMP
  if [ "$1" = host ]; then "$host" "${@:2}"; else "$qemu" "$cross" "${@:2}"; fi
}

run host write "$work/host" "$work/host.written"
run cross write "$work/cross" "$work/cross.written"

fail=0
if ! diff -u "$work/host.written" "$work/cross.written"; then
  echo "FAIL: the two builds mean different values (above: this machine -, cross +)"
  fail=1
fi
for f in queue.dat client.cfg registry/HKLM.txt work/wuinfo_01.dat; do
  if ! cmp "$work/host/$f" "$work/cross/$f"; then
    echo "FAIL: $f differs between the builds"
    fail=1
  fi
done

# Each reader in a copy, so that nothing it writes (unitinfo.txt) touches
# the files the other reads.
for reader in host cross; do
  for files in host cross; do
    copy="$work/$reader-reads-$files"
    cp -a "$work/$files" "$copy"
    if ! run "$reader" read "$copy" "$copy.dump"; then
      echo "FAIL: the $reader build cannot read the files of the $files build"
      fail=1
    elif ! diff -u "$work/host.written" "$copy.dump"; then
      echo "FAIL: the $reader build reads the files of the $files build differently (above)"
      fail=1
    fi
  done
done

[ $fail -eq 0 ] && echo "the files of both builds are the same and read the same both ways"
exit $fail
