#!/usr/bin/env bash
# Builds pbbd and shows it working on the simulated switch: starts pbb-sim
# with its embedded default topology and pbbd in a private run and state
# directory, waits until both are ready, shows the switch, the daemon's
# status and its stored state, restarts the daemon, and stops both cleanly.
# Everything it made is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target pbbd pbbctl pbb-sim pbb-simctl

work=$(mktemp -d /tmp/pbb-demo.XXXXXX)
sim_pid="" pbbd_pid=""
cleanup() {
  for p in $pbbd_pid $sim_pid; do
    if kill -0 "$p" 2>/dev/null; then kill -TERM "$p" 2>/dev/null || true; fi
  done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export PBB_RUN_DIR=$work/run PBB_STATE_DIR=$work/state PBB_LOG_FILE=$work/pbb.log PBB_PLATFORM=sim
pbbctl() { "$top/build/tools/pbbctl" "$@"; }
simctl() { "$top/build/tools/pbb-simctl/pbb-simctl" "$@"; }

# Polls a condition for up to 10 seconds.
wait_for() {
  local what=$1; shift
  for _ in $(seq 1 200); do
    if "$@" >/dev/null 2>&1; then return 0; fi
    sleep 0.05
  done
  echo "timed out waiting for $what; the log:"; cat "$PBB_LOG_FILE" 2>/dev/null || true
  exit 1
}

start_pbbd() {
  "$top/build/daemon/pbbd" &
  pbbd_pid=$!
  wait_for "pbbd to complete its start-up" sh -c "'$top/build/tools/pbbctl' status --json | grep -q '\"pid\":$pbbd_pid'"
}

echo "== starting pbb-sim with its default topology (run directory $PBB_RUN_DIR)"
"$top/build/tools/pbb-sim/pbb-sim" > "$work/sim.out" &
sim_pid=$!
wait_for "pbb-sim to be ready" grep -q "pbb-sim ready" "$work/sim.out"
cat "$work/sim.out"

echo; echo "== starting pbbd"
start_pbbd
pbbctl status

echo; echo "== the simulated switch"
simctl show interfaces
echo
simctl show vsis
echo
simctl show stats

echo; echo "== pbbd's stored state"
pbbctl db dump --state-dir "$PBB_STATE_DIR"

echo; echo "== restarting pbbd: the switch keeps its state"
pbbctl stop
wait "$pbbd_pid" || true
start_pbbd
pbbctl status

echo; echo "== the log"
cat "$PBB_LOG_FILE"

echo; echo "== stopping"
pbbctl stop
wait "$pbbd_pid" && echo "pbbd exited with status 0"
pbbd_pid=""
kill -TERM "$sim_pid"; wait "$sim_pid" && echo "pbb-sim exited with status 0"
sim_pid=""
