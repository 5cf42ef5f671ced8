#!/usr/bin/env bash
# Builds the benchmarks in release mode and runs them all, printing their figures.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${BUILD_DIR:-build/bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DDOVECREST_TESTS=OFF -DDOVECREST_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
for b in "$build"/bench/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" --benchmark_counters_tabular=true "$@"
done
