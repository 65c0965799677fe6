#!/usr/bin/env bash
# Source coverage that the fuzz corpora reach in the library.
#
#   fuzz/coverage.sh COVERAGE_BUILD FUZZ_BUILD [TARGET...]
#
# Replays the committed seeds and everything `make fuzz` kept
# (FUZZ_BUILD/fuzz/corpus/NAME) through the targets of a build configured
# with -DQRV_FUZZ=ON -DQRV_FUZZ_COVERAGE=ON, and prints for each target the
# line and branch coverage of every library source file it reached.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
cov="$(cd "${1:?coverage build directory}" && pwd)"
fuzzed="${2:?fuzzing build directory}"
shift 2

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for bin in "$cov"/fuzz/bin/*_fuzz; do
    [ -x "$bin" ] && targets+=("$(basename "$bin" _fuzz)")
  done
fi

for name in "${targets[@]}"; do
  bin="$cov/fuzz/bin/${name}_fuzz"
  prof="$cov/fuzz/profiles/$name"
  rm -rf "$prof"
  mkdir -p "$prof"
  dirs=()
  [ -d "$here/corpus/$name" ] && dirs+=("$here/corpus/$name")
  [ -d "$fuzzed/fuzz/corpus/$name" ] && dirs+=("$fuzzed/fuzz/corpus/$name")
  flags=(-runs=0)
  [ -f "$here/$name.options" ] && mapfile -t -O ${#flags[@]} flags < <(grep -v '^\s*\(#\|$\)' "$here/$name.options")
  inputs="$(find "${dirs[@]}" -type f | wc -l)"
  LLVM_PROFILE_FILE="$prof/%p.profraw" "$bin" "${flags[@]}" "${dirs[@]}" >"$prof/replay.log" 2>&1
  llvm-profdata merge -sparse "$prof"/*.profraw -o "$prof/merged.profdata"
  echo "== $name ($inputs inputs replayed)"
  # Only the library's own files that the target reached.
  llvm-cov export "$bin" -instr-profile="$prof/merged.profdata" -summary-only \
      -ignore-filename-regex='(^/usr/|/fuzz/|/generated/)' |
    python3 -c '
import json, os, sys
top = sys.argv[1]
print("  %-38s %15s %15s" % ("file", "lines", "branches"))
for f in sorted(json.load(sys.stdin)["data"][0]["files"], key=lambda f: f["filename"]):
    lines, branches = f["summary"]["lines"], f["summary"]["branches"]
    if lines["covered"] == 0:
        continue
    def part(s):
        return "%5d/%-5d%3.0f%%" % (s["covered"], s["count"], s["percent"]) if s["count"] else "%15s" % "-"
    print("  %-38s %s %s" % (os.path.relpath(f["filename"], top), part(lines), part(branches)))
' "$(cd "$here/.." && pwd)"
done
