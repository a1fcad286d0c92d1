#!/usr/bin/env bash
# Builds and runs every benchmark under bench/ and prints one table: each
# figure with its goal, the median over the repetitions and whether the goal
# is met.
#   scripts/bench.sh [--repetitions N] [--json] [--out DIR]
# The benchmarks' own JSON output stays in DIR (default build-bench/results).
#
#   scripts/bench.sh --plot [--from FILE]... [--baseline FILE] [--repetitions N] [--out DIR]
# Runs only the curves from 16k to 1M entries over 64 and 1,024 VSIs and in
# one VSI, consecutive and random B-MACs: the unicast table's lookup, add,
# delete and page (bench_ucpw; JSON in DIR/bench_ucpw_table.json), and
# learning, restart, both flushes and the walk of every VSI (the *Curve
# benchmarks; JSON in DIR/curves_<benchmark>.json), N repetitions each
# (medians drawn), or reads such JSON files given with --from,
# and draws them into docs/img/*.png (scripts/plot_bench.py); --baseline
# draws an older run's JSON dashed beside them. The curves do not run
# without --plot.
set -euo pipefail
cd "$(dirname "$0")/.."
reps=3 json="" out=build-bench/results plot="" from="" baseline=""
# The benchmarks with curves (Name/entries/vsis/macs, bench/bench_shapes.h).
curves="bench_learn bench_restart bench_flush bench_walk"
usage="usage: scripts/bench.sh [--repetitions N] [--json] [--out DIR] [--plot [--from FILE]... [--baseline FILE]]"
while [ $# -gt 0 ]; do
  case $1 in
    --repetitions) reps=$2; shift 2 ;;
    --json) json=--json; shift ;;
    --out) out=$2; shift 2 ;;
    --plot) plot=1; shift ;;
    --from) from="$from $2"; shift 2 ;;
    --baseline) baseline=$2; shift 2 ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done

# Debian's python3, whose matplotlib the dependency script installs, before
# any other python3 on the PATH.
py=/usr/bin/python3; [ -x "$py" ] || py=python3

if [ -n "$plot" ]; then
  if [ -z "$from" ]; then
    scripts/install-deps.sh >&2
    cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPBB_BENCH=ON >/dev/null
    # shellcheck disable=SC2086
    cmake --build build-bench -j "$(nproc)" --target bench_ucpw $curves >&2
    mkdir -p "$out"
    from=$out/bench_ucpw_table.json
    echo "running bench_ucpw's table operations ($reps repetitions)" >&2
    build-bench/bench/bench_ucpw --benchmark_filter='^BM_(Get|Add|Delete|GetNextByIndex)/' \
      --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
      --benchmark_out="$from" --benchmark_out_format=json >"$out/bench_ucpw_table.txt" 2>&1
    for name in $curves; do
      echo "running $name's curves ($reps repetitions)" >&2
      "build-bench/bench/$name" --benchmark_filter=Curve \
        --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
        --benchmark_out="$out/curves_$name.json" --benchmark_out_format=json >"$out/curves_$name.txt" 2>&1 ||
        echo "$name's curves failed: see $out/curves_$name.txt" >&2
      from="$from $out/curves_$name.json"
    done
  fi
  # shellcheck disable=SC2086
  exec "$py" scripts/plot_bench.py $from ${baseline:+--baseline "$baseline"} --out docs/img
fi
[ -z "$from$baseline" ] || { echo "--from and --baseline go with --plot" >&2; exit 2; }

scripts/install-deps.sh >&2
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPBB_BENCH=ON >/dev/null
targets=$(for f in bench/bench_*.cpp; do basename "$f" .cpp; done)
# shellcheck disable=SC2086
cmake --build build-bench -j "$(nproc)" --target $targets pbb-sim pbbctl >&2
mkdir -p "$out"
rm -f "$out"/*.json
# Two benchmarks run each repetition in a process of its own, as what
# they measure starts from a fresh process, and the heap of one that ran
# other benchmarks (or the same one) before holds their leftovers, which
# new entries fill or step around: memory per entry (the daemon's resident
# size over that of the empty daemon) and the restart's scale (a restart
# is a new daemon; in one process, later rounds of the restart at 256,000
# ran up to 60% slower at the same resident size). Their JSON files are
# bench_x.<tag>-N.json, read with bench_x.json.
alone() {
  case $1 in
    bench_learn) echo "BM_MemoryPerEntry_OverSim memory" ;;
    bench_restart) echo "BM_Restart_Scale_InProcess scale" ;;
  esac
}
run() {
  local bin=$1 name=$2
  shift 2
  "$bin" "$@" --benchmark_format=console \
    --benchmark_out="$out/$name.json" --benchmark_out_format=json >"$out/$name.txt" 2>&1 ||
    echo "$name failed: see $out/$name.txt" >&2
}
for bin in build-bench/bench/bench_*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  echo "running $name ($reps repetitions)" >&2
  read -r filter tag <<<"$(alone "$name")" || true
  # The curves run with --plot only.
  if [ -n "${filter:-}" ]; then
    run "$bin" "$name" --benchmark_repetitions="$reps" --benchmark_filter="-($filter|Curve)"
    for i in $(seq "$reps"); do run "$bin" "$name.$tag-$i" --benchmark_filter="$filter"; done
  else
    run "$bin" "$name" --benchmark_repetitions="$reps" --benchmark_filter=-Curve
  fi
done
"$py" scripts/bench_table.py "$out" $json
