#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) in build-asan/ and runs
# each over its seed corpus for a while; fails when any target finds a
# crash, a sanitizer report, a leak or a time-out.
#   scripts/fuzz.sh [--seconds N] [--only NAME]...
# N seconds per target (default 10). New inputs go to build-asan/corpus/<name>,
# crashes to build-asan/artifacts/<name>/; the checked-in seeds are only read.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=10
only=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --only) only+=("$2"); shift 2 ;;
    *) echo "usage: scripts/fuzz.sh [--seconds N] [--only NAME]..." >&2; exit 2 ;;
  esac
done

# The sanitizer build of scripts/test.sh --sanitize holds the targets: after
# that run only the targets themselves are left to link.
. scripts/sanitize-flags.sh
build=$sanitize_build
scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja "${sanitize_flags[@]}" >/dev/null
cmake --build "$build" --target pbb_fuzz -j "$(nproc)"

names=()
if [ ${#only[@]} -gt 0 ]; then
  names=("${only[@]}")
else
  for d in fuzz/corpus/*/; do names+=("$(basename "$d")"); done
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# The targets run side by side, as many at a time as there are cores; their
# results are printed in name order once all have finished (bash keeps each
# finished job's status for the wait on its pid).
declare -A pid
for name in "${names[@]}"; do
  mkdir -p "$build/corpus/$name" "$build/artifacts/$name"
  "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$name/" "$build/corpus/$name" "fuzz/corpus/$name" \
      >"$build/fuzz-$name.log" 2>&1 &
  pid[$name]=$!
  while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
done

failed=()
for name in "${names[@]}"; do
  log="$build/fuzz-$name.log"
  if wait "${pid[$name]}"; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    echo "fuzz $name: ok, ${runs:-?} runs in ${seconds} s (${rate:-?} execs/s)"
  else
    echo "fuzz $name: FAILED (log $log, inputs in $build/artifacts/$name/)" >&2
    grep -E "ERROR|runtime error|check failed|SUMMARY|Test unit written" "$log" | head -20 >&2 || true
    failed+=("$name")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: ${#failed[@]} target(s) failed: ${failed[*]}" >&2
  exit 1
fi
