#!/usr/bin/env bash
# Runs every fuzz target of a built fuzzing configuration for a bounded time
# and fails on any finding (crash, sanitizer report, failed check, leak,
# timeout, out-of-memory).
#
#   fuzz/run.sh BUILD_DIR SECONDS [TARGET...]
#
# Each target starts from its committed seeds (fuzz/corpus/NAME) plus what
# earlier runs found (BUILD_DIR/fuzz/corpus/NAME, where new inputs go), with
# the flags in fuzz/NAME.options and the dictionary fuzz/NAME.dict when they
# exist. A finding is saved under BUILD_DIR/fuzz/artifacts/NAME/; reproduce
# it with BUILD_DIR/fuzz/bin/NAME_fuzz FILE.
set -uo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?build directory}" && pwd)"
seconds="${2:?seconds per target}"
shift 2

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for bin in "$build"/fuzz/bin/*_fuzz; do
    [ -x "$bin" ] && targets+=("$(basename "$bin" _fuzz)")
  done
fi
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz/run.sh: no fuzz targets in $build/fuzz/bin" >&2
  exit 1
fi

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=()
summary=()
for name in "${targets[@]}"; do
  bin="$build/fuzz/bin/${name}_fuzz"
  work="$build/fuzz/corpus/$name"
  artifacts="$build/fuzz/artifacts/$name"
  log="$build/fuzz/logs/$name.log"
  mkdir -p "$work" "$artifacts" "$(dirname "$log")"
  flags=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
         -artifact_prefix="$artifacts/")
  [ -f "$here/$name.options" ] && mapfile -t -O ${#flags[@]} flags < <(grep -v '^\s*\(#\|$\)' "$here/$name.options")
  [ -f "$here/$name.dict" ] && flags+=(-dict="$here/$name.dict")
  seeds=()
  [ -d "$here/corpus/$name" ] && seeds+=("$here/corpus/$name")

  echo "== $name: ${seconds}s"
  "$bin" "${flags[@]}" "$work" "${seeds[@]}" >"$log" 2>&1
  rc=$?

  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  counters="$(sed -n 's/.*Loaded [0-9]* modules *(\([0-9]*\) inline 8-bit counters).*/\1/p' "$log" | head -1)"
  last="$(grep -E '^#[0-9]+' "$log" | grep ' cov: ' | tail -1)"
  cov="$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")"
  ft="$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")"
  corp="$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$last")"
  found="$(ls "$artifacts" 2>/dev/null | wc -l)"
  line="$(printf '%-15s executions %10s   coverage %5s of %5s edges   features %6s   corpus %5s' \
          "$name" "${execs:-?}" "${cov:-?}" "${counters:-?}" "${ft:-?}" "${corp:-?}")"
  if [ $rc -ne 0 ] || [ "$found" -ne 0 ]; then
    line="$line   FINDING (exit $rc; see $log and $artifacts)"
    failed+=("$name")
    grep -E 'ERROR|fuzz check failed|runtime error|SUMMARY|^    #[0-9]|at /' "$log" | head -40
  fi
  echo "$line"
  summary+=("$line")
done

echo
echo "Fuzzing summary (${seconds}s per target):"
printf '  %s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
  echo "Findings in: ${failed[*]}" >&2
  exit 1
fi
