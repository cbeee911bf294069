#!/usr/bin/env bash
# The whole test suite on a fresh Debian 12 machine: installs what is missing, builds,
# starts the local Firebird server when none runs, and runs every test.
# Usage: scripts/test.sh [--sanitize]   (--sanitize: AddressSanitizer and UBSan build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

"$root/scripts/deps.sh"
"$root/scripts/format-check.sh"
dir="$("$root/scripts/build.sh" "$@" | tail -n 1)"
"$root/scripts/firebird.sh"

if [ "${1:-}" = "--sanitize" ]; then
  # The Firebird client keeps process-wide caches until exit; leaks are not checked.
  export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
  export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
fi
if [ "${1:-}" != "--sanitize" ]; then
  # The fuzz harnesses over their corpora, as regression tests of past findings.
  "$root/scripts/fuzz.sh"
fi
cd "$dir"
ctest --output-on-failure -j2 --timeout 300
