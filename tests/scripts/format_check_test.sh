#!/usr/bin/env bash
# The formatting check passes a formatted file and fails, naming it, on an unformatted one.
set -euo pipefail
check="$1/scripts/format-check.sh"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT

printf 'int main() {\n    return 0;\n}\n' >"$dir/good.cpp"
"$check" "$dir/good.cpp"

printf 'int  main( ){return 0;}\n' >"$dir/bad.cpp"
if out="$("$check" "$dir" 2>&1)"; then
  echo "an unformatted file passed the check" >&2
  exit 1
fi
grep -q "not formatted: $dir/bad.cpp" <<<"$out" || { echo "unexpected output: $out" >&2; exit 1; }
! grep -q "good.cpp" <<<"$out"

"$check" --fix "$dir/bad.cpp"
"$check" "$dir"
