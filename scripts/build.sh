#!/usr/bin/env bash
# Configures and builds the project. Usage: scripts/build.sh [--sanitize]
# The build folder is build/ (build-asan/ with --sanitize).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

dir="$root/build"
opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
  dir="$root/build-asan"
  opts=(-DCMAKE_BUILD_TYPE=Debug -DQOR_SANITIZE=ON -DQOR_BUILD_BENCH=OFF)
fi
cmake -S "$root" -B "$dir" "${opts[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
echo "$dir"
