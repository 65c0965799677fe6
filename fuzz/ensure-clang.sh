#!/usr/bin/env bash
# Makes sure that clang and its sanitizer and libFuzzer runtimes are on the
# machine, through scripts/install-deps.sh (which installs as root, and
# otherwise names what is missing and fails).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"

"$top/scripts/install-deps.sh" clang:clang

# The runtimes (libFuzzer, ASan, UBSan, TSan) are a package of their own that
# apt only recommends with clang, and they hold no command to look for: probe
# by building with them.
probe() {
  local dir rc=0
  dir="$(mktemp -d)"
  printf '%s\n' '#include <cstddef>' '#include <cstdint>' \
    'extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }' >"$dir/f.cpp"
  printf '%s\n' 'int main() { return 0; }' >"$dir/t.cpp"
  clang++ -fsanitize=fuzzer,address,undefined "$dir/f.cpp" -o "$dir/f" >/dev/null 2>&1 || rc=1
  clang++ -fsanitize=thread "$dir/t.cpp" -o "$dir/t" >/dev/null 2>&1 || rc=1
  rm -rf "$dir"
  return $rc
}

if ! probe; then
  major="$(clang -dumpversion | cut -d. -f1)"
  # No command of that name exists, so install-deps.sh always counts the
  # package as missing and installs it.
  "$top/scripts/install-deps.sh" clang:clang "libclang-rt-$major-dev:libclang-rt-$major-dev"
  probe || { echo "clang cannot build with -fsanitize=fuzzer/thread" >&2; exit 1; }
fi
