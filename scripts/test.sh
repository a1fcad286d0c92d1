#!/usr/bin/env bash
# Builds pbbd and runs every test (unit and system tests) with CTest.
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer build (clang) in
#                                build-asan/, which also holds the fuzz targets (scripts/fuzz.sh)
set -euo pipefail
cd "$(dirname "$0")/.."

# Benchmarks are not tests: they are built apart (README, "Benchmarks").
build=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DPBB_BENCH=OFF)
if [ "${1:-}" = "--sanitize" ]; then
  . scripts/sanitize-flags.sh
  build=$sanitize_build
  flags=("${sanitize_flags[@]}")
fi

scripts/install-deps.sh
# A build tree from before pbbctl had a folder of its own holds the program
# where its folder now goes.
if [ -f "$build/tools/pbbctl" ]; then rm -f "$build/tools/pbbctl"; fi
cmake -S . -B "$build" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" -j 2 --output-on-failure --timeout 300
