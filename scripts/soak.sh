#!/usr/bin/env bash
# Soak: pbb-sim and pbbd, built with AddressSanitizer + UBSan, under frame
# floods, switch events, ageing, management clients and kill -9 restarts
# for N minutes; checks that the switch, the daemon and the run database
# agree after every round and that no sanitizer reports anything.
#   scripts/soak.sh [--minutes N] [--seed S] [--keep] [--build-dir DIR]
# Without --build-dir it builds the sanitizer tree (build-asan/, shared with
# scripts/test.sh --sanitize) first; with it, it uses the binaries there.
set -euo pipefail
cd "$(dirname "$0")/.."
args=() build=""
while [ $# -gt 0 ]; do
  case $1 in
    --minutes|--seed) args+=("$1" "$2"); shift 2 ;;
    --keep) args+=("$1"); shift ;;
    --build-dir) build=$2; shift 2 ;;
    *) echo "usage: scripts/soak.sh [--minutes N] [--seed S] [--keep] [--build-dir DIR]" >&2; exit 2 ;;
  esac
done
if [ -z "$build" ]; then
  . scripts/sanitize-flags.sh
  build=$sanitize_build
  scripts/install-deps.sh >&2
  cmake -S . -B "$build" -G Ninja "${sanitize_flags[@]}" >/dev/null
  cmake --build "$build" -j "$(nproc)" --target pbbd pbb-sim pbbctl pbb-simctl >&2
fi
# A sanitizer report ends the process that finds it; a small quarantine
# keeps the daemon's resident size close to what it really holds.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}:quarantine_size_mb=16
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
exec python3 scripts/soak.py --build-dir "$build" "${args[@]}"
