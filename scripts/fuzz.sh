#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang into build-fuzz/ and runs them.
# Usage: scripts/fuzz.sh           each harness over its corpus once (a regression test)
#        scripts/fuzz.sh SECONDS   each harness for SECONDS; new inputs go to build-fuzz/corpus
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="$root/build-fuzz"

CXX=clang++ CC=clang cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQOR_FUZZ=ON \
  -DQOR_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)" --target fuzzers >/dev/null
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

if [ $# -eq 0 ]; then
  (cd "$dir" && ctest --output-on-failure -R '^Fuzz\.')
  exit
fi
for src in "$root"/tests/fuzz/corpus/*/; do
  name="$(basename "$src")"
  mkdir -p "$dir/corpus/$name"
  echo "== $name: $1 s"
  "$dir/tests/fuzz/fuzz_$name" -max_total_time="$1" -print_final_stats=1 \
    "$dir/corpus/$name" "$src" 2>&1 | grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|==|SUMMARY)' || true
done
