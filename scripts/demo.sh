#!/usr/bin/env bash
# Builds pbbd and tells its story on the simulated switch: pbb-sim starts
# with its embedded default topology and pbbd in a private run and state
# directory; a PBB VSI is configured with pbbctl, learns from frames
# injected with pbb-simctl (a burst, and the frames of a pcap file kept in
# examples/), loses entries to a link going down and to line-card ageing,
# comes back whole after a restart, and is withdrawn with `pbbctl stop
# --clear`. Everything it made is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target pbbd pbbctl pbb-sim pbb-simctl >/dev/null

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
pbbctl() { "$top/build/tools/pbbctl/pbbctl" "$@"; }
simctl() { "$top/build/tools/pbb-simctl/pbb-simctl" "$@"; }
step() { printf '\n== %s\n' "$*"; }
run() { printf '$ %s\n' "$*"; "$@"; }

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
learned_count() { pbbctl show learned vsi-red --json | grep -c '"bmac"' || true; }
has_learned() { [ "$(learned_count)" = "$1" ]; }
batch_done() { simctl show refresh | grep -q "refresh window closed"; }

start_pbbd() {
  "$top/build/daemon/pbbd" &
  pbbd_pid=$!
  wait_for "pbbd to complete its start-up" sh -c "'$top/build/tools/pbbctl/pbbctl' status --json | grep -q '\"pid\":$pbbd_pid'"
  wait_for "pbbd's first L2VPN batch" batch_done
}

step "pbb-sim, the simulated switch, starts with its default topology"
"$top/build/tools/pbb-sim/pbb-sim" > "$work/sim.out" &
sim_pid=$!
wait_for "pbb-sim to be ready" grep -q "pbb-sim ready" "$work/sim.out"
cat "$work/sim.out"
run simctl show vsis

step "pbbd starts, registers with the switch's L2VPN module and is ready"
start_pbbd
run pbbctl status

step "vsi-red gets B-VLAN 100 and two uplinks: its multicast entry is programmed"
run pbbctl bvlan set vsi-red 100
run pbbctl uplink add eth-1/0/1 vsi-red
run pbbctl uplink add eth-2/0/1 vsi-red
run pbbctl show mc vsi-red

step "frames arrive: a burst of 4 stations on eth-1/0/1, and a pcap file of 2 on eth-2/0/1"
run simctl frame burst eth-1/0/1 4 --isid 10010 --bvlan 100 --bsa 00:bb:00:00:00:10
run simctl frame pcap eth-2/0/1 "$top/examples/two-stations.pcap"
wait_for "6 learned entries" has_learned 6
run pbbctl show learned vsi-red
run simctl show unicast --vsi vsi-red

step "eth-2/0/1's link goes down: its entries go from the daemon and the switch"
run simctl link down eth-2/0/1
wait_for "eth-2/0/1's entries to go" has_learned 4
run pbbctl show learned vsi-red
run pbbctl show mc vsi-red

step "both MAC-in-MAC line cards age 00:bb:00:00:00:10 out: it is withdrawn"
run simctl report aged 1 vsi-red 10010 00:bb:00:00:00:10/100
run simctl report aged 2 vsi-red 10010 00:bb:00:00:00:10/100
wait_for "the aged entry to go" has_learned 3
run pbbctl show learned vsi-red

step "pbbd restarts: what it learned and was configured comes back and is programmed again"
run pbbctl stop
wait "$pbbd_pid" || true
start_pbbd
run pbbctl show mc vsi-red
run pbbctl show learned vsi-red
run simctl show unicast --vsi vsi-red

step "pbbctl stop --clear withdraws every learned entry and deletes the saved ones"
run pbbctl stop --clear
wait "$pbbd_pid" || true
pbbd_pid=""
run simctl show unicast --vsi vsi-red

step "stopping pbb-sim"
kill -TERM "$sim_pid"; wait "$sim_pid" && echo "pbb-sim exited with status 0"
sim_pid=""
