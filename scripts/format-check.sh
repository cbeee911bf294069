#!/usr/bin/env bash
# Checks that the project's C++ sources are formatted as .clang-format says; with --fix,
# formats them in place instead. Without paths it takes every source folder.
# Usage: scripts/format-check.sh [--fix] [FILE|DIR ...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

fix=0
if [ "${1:-}" = "--fix" ]; then
  fix=1
  shift
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for d in platform common service utm outgoing incoming refdata crpt companion cardsync tools tests bench; do
    [ -d "$root/$d" ] && targets+=("$root/$d")
  done
fi

files=()
while IFS= read -r -d '' f; do files+=("$f"); done < <(
  find "${targets[@]}" -type f \( -name '*.cpp' -o -name '*.h' \) -not -path '*/build*/*' -print0 | sort -z)
[ ${#files[@]} -gt 0 ] || exit 0

style="--style=file:$root/.clang-format"
if [ $fix -eq 1 ]; then
  clang-format -i "$style" "${files[@]}"
elif ! clang-format --dry-run --Werror "$style" "${files[@]}" 2>/tmp/format-check.$$; then
  grep -E '^[^ ].*: (error|warning):' /tmp/format-check.$$ | cut -d: -f1 | sort -u | sed 's/^/not formatted: /' >&2
  rm -f /tmp/format-check.$$
  echo "Run scripts/format-check.sh --fix to format them." >&2
  exit 1
fi
rm -f /tmp/format-check.$$
