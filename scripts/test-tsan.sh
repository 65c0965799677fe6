#!/usr/bin/env bash
# Runs the whole test suite of a ThreadSanitizer build and fails when any
# process of it (test programs, the qrv3 binary and the helpers they start)
# reported a data race or another ThreadSanitizer finding.
#
#   scripts/test-tsan.sh BUILD_DIR [JOBS]
#
# Clang 14's ThreadSanitizer aborts with "unexpected memory mapping" on
# kernels with a high vm.mmap_rnd_bits; running without address-space
# randomisation (setarch -R, inherited by every child) avoids it.
set -uo pipefail

build="$(cd "${1:?build directory}" && pwd)"
jobs="${2:-2}"
reports="$build/tsan-reports"
rm -rf "$reports"
mkdir -p "$reports"

# Each process that reports writes its own file (report.PID); a process that
# reports also exits with 66, so the test that ran it fails as well.
export TSAN_OPTIONS="${TSAN_OPTIONS:-second_deadlock_stack=1 exitcode=66} log_path=$reports/report"

cd "$build"
setarch "$(uname -m)" -R ctest --output-on-failure -j "$jobs"
rc=$?

shopt -s nullglob
found=("$reports"/report.*)
if [ ${#found[@]} -ne 0 ]; then
  for f in "${found[@]}"; do
    echo "==== $f"
    cat "$f"
  done
  echo "ThreadSanitizer reported in ${#found[@]} process(es); reports in $reports" >&2
  exit 1
fi
exit $rc
