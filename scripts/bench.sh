#!/usr/bin/env bash
# Builds and runs every benchmark under bench/ and prints one table: each
# figure with its goal, the median over the repetitions and whether the goal
# is met.
#   scripts/bench.sh [--repetitions N] [--json] [--out DIR]
# The benchmarks' own JSON output stays in DIR (default build-bench/results).
set -euo pipefail
cd "$(dirname "$0")/.."
reps=3 json="" out=build-bench/results
while [ $# -gt 0 ]; do
  case $1 in
    --repetitions) reps=$2; shift 2 ;;
    --json) json=--json; shift ;;
    --out) out=$2; shift 2 ;;
    *) echo "usage: scripts/bench.sh [--repetitions N] [--json] [--out DIR]" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh >&2
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPBB_BENCH=ON >/dev/null
targets=$(for f in bench/bench_*.cpp; do basename "$f" .cpp; done)
# shellcheck disable=SC2086
cmake --build build-bench -j "$(nproc)" --target $targets pbb-sim pbbctl >&2
mkdir -p "$out"
for bin in build-bench/bench/bench_*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  echo "running $name ($reps repetitions)" >&2
  "$bin" --benchmark_repetitions="$reps" --benchmark_format=console \
    --benchmark_out="$out/$name.json" --benchmark_out_format=json >"$out/$name.txt" 2>&1 ||
    echo "$name failed: see $out/$name.txt" >&2
done
python3 scripts/bench_table.py "$out" $json
