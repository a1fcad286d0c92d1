#!/usr/bin/env bash
# A three-switch PBB lab in network namespaces (docs/lab.md).
#
# Three simulated switches (pbb-sim), each with its pbbd, their backbone
# ports joined by a Linux bridge (the backbone core), two VSIs and five
# customer hosts. Every host reaches the others of its VSI through the
# entries its switch's pbbd programmed, and no host of the other VSI.
#
#   scripts/lab.sh [options] up | down | status | ping [--json] | demo
#   scripts/lab.sh [options] pbbctl SW ARGS... | simctl SW ARGS...
#   scripts/lab.sh [options] kill-daemon SW | start-daemon SW
#
# Options (or the environment):
#   --dir DIR        PBB_LAB_DIR     run, state and log directories (/run/pbb-lab)
#   --prefix P       PBB_LAB_PREFIX  prefix of the network namespaces' names (pbl)
#   --build-dir DIR  PBB_BUILD_DIR   where the binaries are; unset, 'up' builds build/
# SW is a switch: 1, 2, 3 (or sw1, sw2, sw3).
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
lab=${PBB_LAB_DIR:-/run/pbb-lab}
prefix=${PBB_LAB_PREFIX:-pbl}
build=${PBB_BUILD_DIR:-}

usage() {
  sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'
  exit "${1:-2}"
}
die() { echo "lab: $*" >&2; exit 1; }

while [ $# -gt 0 ]; do
  case $1 in
    --dir) [ $# -ge 2 ] || usage; lab=$2; shift 2 ;;
    --prefix) [ $# -ge 2 ] || usage; prefix=$2; shift 2 ;;
    --build-dir) [ $# -ge 2 ] || usage; build=$2; shift 2 ;;
    -h|--help|help) usage 0 ;;
    --*) echo "lab: unknown option $1" >&2; usage ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || usage
cmd=$1; shift
case $lab in /*) ;; *) lab=$(pwd)/$lab ;; esac
[[ $prefix =~ ^[a-z][a-z0-9]{0,7}$ ]] || die "prefix '$prefix': 1 to 8 lower-case letters and digits, a letter first"

# The lab. Switch N: pbb-sim with the topology below, its backbone address
# 02:00:00:b0:00:0N, its backbone port eth-1/0/1 a veth (bb) into the core
# bridge, its circuits eth-2/0/1 (vsi-red) and eth-2/0/2 (vsi-green).
switches=(1 2 3)
bvlan_red=100 bvlan_green=101
# host  switch  port       VSI        address    customer MAC
hosts=(
  "r1   1       eth-2/0/1  vsi-red    10.0.0.11  00:00:5e:00:53:11"
  "g1   1       eth-2/0/2  vsi-green  10.0.0.21  00:00:5e:00:53:21"
  "r2   2       eth-2/0/1  vsi-red    10.0.0.12  00:00:5e:00:53:12"
  "r3   3       eth-2/0/1  vsi-red    10.0.0.13  00:00:5e:00:53:13"
  "g3   3       eth-2/0/2  vsi-green  10.0.0.23  00:00:5e:00:53:23"
)
host_names() { local h; for h in "${hosts[@]}"; do set -- $h; echo "$1"; done; }
# A host's field: host_field NAME N (2 switch, 3 port, 4 VSI, 5 address, 6 MAC).
host_field() {
  local name=$1 n=$2 h
  for h in "${hosts[@]}"; do
    set -- $h
    if [ "$1" = "$name" ]; then echo "${!n}"; return; fi
  done
  die "no host $name"
}
bmac() { echo "02:00:00:b0:00:0$1"; }

ns_core() { echo "$prefix-core"; }
ns_sw() { echo "$prefix-sw$1"; }
ns_host() { echo "$prefix-$1"; }
all_ns() { local n h; ns_core; for n in "${switches[@]}"; do ns_sw "$n"; done; for h in $(host_names); do ns_host "$h"; done; }
swdir() { echo "$lab/sw$1"; }

binaries() {
  local b=${build:-$top/build}
  sim=$b/tools/pbb-sim/pbb-sim simctl_bin=$b/tools/pbb-simctl/pbb-simctl
  pbbd_bin=$b/daemon/pbbd pbbctl_bin=$b/tools/pbbctl/pbbctl
  local f
  for f in "$sim" "$simctl_bin" "$pbbd_bin" "$pbbctl_bin"; do
    [ -x "$f" ] || die "$f is missing: build the project (or give --build-dir)"
  done
}

# The platform settings of switch N's processes.
swenv() { echo "PBB_RUN_DIR=$(swdir "$1")/run PBB_STATE_DIR=$(swdir "$1")/state PBB_LOG_FILE=$(swdir "$1")/pbb.log PBB_PLATFORM=sim"; }
sw_simctl() { local n=$1; shift; env $(swenv "$n") "$simctl_bin" "$@"; }
sw_pbbctl() { local n=$1; shift; env $(swenv "$n") "$pbbctl_bin" "$@"; }
sw_num() { local n=${1#sw}; [[ $n =~ ^[123]$ ]] || die "no switch '$1' (1, 2 or 3)"; echo "$n"; }

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local secs=$1 what=$2; shift 2
  local end=$((SECONDS + secs))
  until "$@" >/dev/null 2>&1; do
    if [ $SECONDS -ge $end ]; then echo "lab: timed out after ${secs} s waiting for $what" >&2; return 1; fi
    sleep 0.05
  done
}

# A value from JSON on standard input: json_get 'expression over d'.
# Debian's python3 (the one the tests use) when there is one: a version
# manager's shim in front of it costs a second a call.
py=/usr/bin/python3; [ -x "$py" ] || py=python3
json_get() { "$py" -I -c 'import json,sys; d=json.load(sys.stdin); print(eval(sys.argv[1]))' "$1"; }

# --- processes -------------------------------------------------------------

# Is the pid in FILE a running process named NAME? (A zombie counts as gone.)
alive() {
  local file=$1 name=$2 pid
  [ -f "$file" ] || return 1
  pid=$(cat "$file")
  [[ $pid =~ ^[0-9]+$ ]] || return 1
  [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = "$name" ] || return 1
  ! grep -q '^State:.*Z' "/proc/$pid/status" 2>/dev/null
}

gone() { ! [ "$(cat "/proc/$1/comm" 2>/dev/null)" = "$2" ] || grep -q '^State:.*Z' "/proc/$1/status" 2>/dev/null; }

# Stops the processes named NAME of every switch (pid file NAME.pid) with
# SIGNAL, all at once; SIGKILL for those still there after 10 s.
stop_all() {
  local name=$1 sig=$2 n pid pids=()
  for n in "${switches[@]}"; do
    local file; file=$(swdir "$n")/$name.pid
    if alive "$file" "$name"; then
      pid=$(cat "$file"); kill -s "$sig" "$pid" 2>/dev/null || true; pids+=("$pid")
    fi
    rm -f "$file"
  done
  for pid in "${pids[@]}"; do
    wait_for 10 "$name (pid $pid) to stop" gone "$pid" "$name" || kill -s KILL "$pid" 2>/dev/null || true
    echo "stopped $name (pid $pid)"
  done
  [ ${#pids[@]} -gt 0 ]
}

sim_ready() { grep -q "pbb-sim ready" "$(swdir "$1")/pbb-sim.out"; }
# 0 ready, 1 not yet, 2 the process is gone.
daemon_ready() {
  local n=$1 pid; pid=$(cat "$(swdir "$n")/pbbd.pid")
  if ! kill -0 "$pid" 2>/dev/null || grep -q '^State:.*Z' "/proc/$pid/status" 2>/dev/null; then return 2; fi
  sw_pbbctl "$n" --json status 2>/dev/null | json_get 'd.get("ready") is True and d.get("pid") == '"$pid" | grep -qx True
}
window_closed() { sw_simctl "$1" --json show refresh | json_get 'd["refresh"]["open"]' | grep -qx False; }

spawn_daemon() {
  local n=$1 d; d=$(swdir "$n")
  if alive "$d/pbbd.pid" pbbd; then die "pbbd of sw$n runs already (pid $(cat "$d/pbbd.pid"))"; fi
  env $(swenv "$n") setsid "$pbbd_bin" </dev/null >>"$d/pbbd.out" 2>&1 &
  echo $! >"$d/pbbd.pid"
}

# Ready once start-up is complete and its first L2VPN batch has closed the
# refresh window: from then on the switch holds what pbbd holds.
await_daemon() {
  local n=$1 d; d=$(swdir "$n")
  local end=$((SECONDS + 30)) rc
  while :; do
    rc=0; daemon_ready "$n" || rc=$?
    [ $rc -eq 0 ] && break
    [ $rc -eq 2 ] && { tail -20 "$d/pbb.log" >&2 || true; die "pbbd of sw$n ended during start-up (its log: $d/pbb.log)"; }
    [ $SECONDS -ge $end ] && die "pbbd of sw$n not ready within 30 s (its log: $d/pbb.log)"
    sleep 0.05
  done
  wait_for 30 "sw$n's refresh window to close" window_closed "$n" || die "pbbd of sw$n did not complete its L2VPN batch"
}

# Both VSIs' multicast entries committed to the switch with the uplink.
mc_programmed() {
  sw_simctl "$1" --json show multicast | json_get 'sorted(e["vsi"] for e in d["multicast"] if e["portNames"] == ["eth-1/0/1"])' | grep -qx '\[1, 2\]'
}

start_daemon() { spawn_daemon "$1"; await_daemon "$1"; }

kill_daemon() {
  local n=$1 d; d=$(swdir "$n")
  alive "$d/pbbd.pid" pbbd || die "pbbd of sw$n is not running"
  local pid; pid=$(cat "$d/pbbd.pid")
  kill -s KILL "$pid"
  wait_for 10 "pbbd (pid $pid) to go" gone "$pid" pbbd
  # Until its parent reaps it, the process still answers a signal 0 and
  # pbbctl would call it running.
  wait_for 10 "pbbd (pid $pid) to be reaped" bash -c "! [ -e /proc/$pid ]" || true
  rm -f "$d/pbbd.pid"
}

# --- up --------------------------------------------------------------------

topology() { # switch number
  cat <<EOF
# Lab switch sw$1, written by scripts/lab.sh.
# Slot 1: a MAC-in-MAC capable board with the backbone port; slot 2: customer ports.
slot range 1 2
slot add 1 --minm
slot add 2
port add eth-1/0/1 1 --type xge
port add eth-2/0/1 2
port add eth-2/0/2 2
vlan trunk eth-1/0/1 $bvlan_red,$bvlan_green
vsi add 1 vsi-red 10010
vsi add 2 vsi-green 10020
bridge name lab-sw$1
bridge mac $(bmac "$1")
ac add eth-2/0/1 vsi-red
ac add eth-2/0/2 vsi-green
EOF
}

make_ns() {
  ip netns add "$1"
  ip netns exec "$1" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1
  ip -n "$1" link set lo up
}

make_host() { # host name
  local h=$1 n ip mac hns sns
  n=$(host_field "$h" 2) ip=$(host_field "$h" 5) mac=$(host_field "$h" 6)
  hns=$(ns_host "$h") sns=$(ns_sw "$n")
  make_ns "$hns"
  ip -n "$sns" link add "$h" type veth peer name eth0 netns "$hns"
  ip -n "$sns" link set "$h" up
  ip -n "$hns" link set eth0 address "$mac" up
  ip -n "$hns" addr add "$ip/24" dev eth0
  # pbb-sim reads and writes whole frames: no segmentation offload, and
  # checksums made before a frame leaves the host.
  ip netns exec "$hns" ethtool -K eth0 tx off tso off gso off >/dev/null
}

# Switch N once its pbbd is ready: both VSIs get their B-VLAN and the
# uplink, then the Linux interfaces are bound to the switch's ports.
configure_switch() {
  local n=$1 h
  await_daemon "$n"
  sw_pbbctl "$n" bvlan set vsi-red $bvlan_red >/dev/null
  sw_pbbctl "$n" bvlan set vsi-green $bvlan_green >/dev/null
  sw_pbbctl "$n" uplink add eth-1/0/1 vsi-red vsi-green >/dev/null
  wait_for 10 "sw$n's multicast entries on the uplink" mc_programmed "$n" \
    || die "sw$n: vsi-red and vsi-green have no multicast entries on the uplink"
  {
    echo "link bind bb eth-1/0/1 --netns $(ns_sw "$n")"
    for h in $(host_names); do
      if [ "$(host_field "$h" 2)" = "$n" ]; then echo "link bind $h $(host_field "$h" 3) --netns $(ns_sw "$n")"; fi
    done
  } | sw_simctl "$n" -f - >/dev/null
}

# Runs "$@" once per word of $1 at the same time; fails when one failed.
side_by_side() {
  local items=$1 i pids=() rc=0; shift
  for i in $items; do "$@" "$i" & pids+=($!); done
  for i in "${pids[@]}"; do wait "$i" || rc=1; done
  return $rc
}

cmd_up() {
  [ "$(id -u)" -eq 0 ] || die "the lab needs root (network namespaces, veth pairs, a bridge)"
  # A lab left up, or half made by an 'up' that was killed: removed first.
  local ns left=0
  [ -e "$lab" ] && left=1
  for ns in $(all_ns); do [ -e "/run/netns/$ns" ] && left=1; done
  if [ $left -eq 1 ]; then
    echo "removing what an earlier lab left in $lab and namespaces $prefix-*"
    cmd_down
  fi
  if [ -z "$build" ]; then
    "$top/scripts/install-deps.sh"
    echo "building pbbd, pbbctl, pbb-sim, pbb-simctl in $top/build"
    cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$top/build" -j "$(nproc)" --target pbbd pbbctl pbb-sim pbb-simctl >/dev/null
  fi
  binaries
  local t; for t in ping ethtool "$py"; do command -v $t >/dev/null || die "$t is missing: run scripts/install-deps.sh"; done
  trap 'if [ $? -ne 0 ]; then echo "lab: up failed; removing what it made" >&2; cmd_down >&2 || true; fi' EXIT
  mkdir -p -m 0755 "$lab"
  echo "$prefix" >"$lab/prefix"

  # The switches start first (they need no interface until a link is
  # bound), side by side; the namespaces are made while they come up.
  local n h
  for n in "${switches[@]}"; do
    local d; d=$(swdir "$n")
    mkdir -p -m 0755 "$d/run" "$d/state"
    topology "$n" >"$d/switch.topo"
    env $(swenv "$n") setsid "$sim" --topology "$d/switch.topo" </dev/null >"$d/pbb-sim.out" 2>&1 &
    echo $! >"$d/pbb-sim.pid"
  done
  for n in "${switches[@]}"; do
    wait_for 30 "pbb-sim of sw$n" sim_ready "$n" || { cat "$(swdir "$n")/pbb-sim.out" >&2; false; }
    spawn_daemon "$n"
  done

  echo "backbone core: bridge br0 in $(ns_core)"
  make_ns "$(ns_core)"
  ip -n "$(ns_core)" link add br0 type bridge
  ip -n "$(ns_core)" link set br0 up
  for n in "${switches[@]}"; do
    local sns; sns=$(ns_sw "$n")
    make_ns "$sns"
    # The backbone port: MTU 1600, 22 bytes of encapsulation above the hosts' 1500.
    ip -n "$sns" link add bb mtu 1600 type veth peer name "sw$n" netns "$(ns_core)"
    ip -n "$sns" link set bb up
    ip -n "$(ns_core)" link set "sw$n" mtu 1600 master br0 up
  done
  side_by_side "$(host_names)" make_host || die "could not make the hosts' namespaces"
  for h in $(host_names); do
    echo "host $h: $(host_field "$h" 4) on sw$(host_field "$h" 2) $(host_field "$h" 3), $(host_field "$h" 5), $(host_field "$h" 6), namespace $(ns_host "$h")"
  done

  side_by_side "${switches[*]}" configure_switch || die "could not configure the switches"
  for n in "${switches[@]}"; do
    echo "switch sw$n: pbb-sim pid $(cat "$(swdir "$n")/pbb-sim.pid"), pbbd pid $(cat "$(swdir "$n")/pbbd.pid"), backbone address $(bmac "$n")"
  done
  trap - EXIT
  echo "the lab is up in $lab: 'scripts/lab.sh ping' checks it, 'scripts/lab.sh demo' shows it"
}

# --- down ------------------------------------------------------------------

cmd_down() {
  [ "$(id -u)" -eq 0 ] || die "the lab needs root"
  # The namespaces of the prefix the lab was made with, and of this one.
  local prefixes=("$prefix") p
  [ -f "$lab/prefix" ] && prefixes+=("$(cat "$lab/prefix")")
  local removed=0
  # The daemons first, with their orderly stop signal; then the switches.
  if stop_all pbbd RTMIN+1; then removed=1; fi
  if stop_all pbb-sim TERM; then removed=1; fi
  local ns
  for p in "${prefixes[@]}"; do
    for ns in $(prefix=$p all_ns); do
      if [ -e "/run/netns/$ns" ]; then ip netns del "$ns"; echo "deleted network namespace $ns"; removed=1; fi
    done
  done
  if [ -e "$lab" ]; then rm -rf "$lab"; echo "removed $lab"; removed=1; fi
  [ $removed -eq 1 ] || echo "nothing to remove: the lab is down"
}

# --- status ----------------------------------------------------------------

require_up() {
  [ -f "$lab/prefix" ] || die "the lab is not up in $lab: run 'scripts/lab.sh up'"
  prefix=$(cat "$lab/prefix")
  binaries
}

cmd_status() {
  require_up
  local n h ns
  echo "lab in $lab, namespaces $prefix-*"
  for n in "${switches[@]}"; do
    local d s p; d=$(swdir "$n")
    if alive "$d/pbb-sim.pid" pbb-sim; then s="pbb-sim pid $(cat "$d/pbb-sim.pid")"; else s="pbb-sim NOT RUNNING"; fi
    if alive "$d/pbbd.pid" pbbd; then
      p="pbbd pid $(cat "$d/pbbd.pid")"
      daemon_ready "$n" || p="$p (start-up not complete)"
    else p="pbbd NOT RUNNING"; fi
    echo "sw$n: $s, $p, backbone address $(bmac "$n")"
    if alive "$d/pbbd.pid" pbbd; then
      sw_pbbctl "$n" --json show learned --all 2>/dev/null | json_get \
        '"  learned: " + (", ".join(sorted("%s %s on %s" % (e["vsi"], e["bmac"], e["interface"]) for e in d["learned"])) or "nothing")' || true
    fi
    if alive "$d/pbb-sim.pid" pbb-sim; then
      sw_simctl "$n" --json show stats | json_get '"  links bound (Linux interface: port, frames taken): " + ", ".join("%s: %d, %d" % (l["linux"], l["port"], l["frames"]) for l in d["links"])' || true
      sw_simctl "$n" --json show dataplane | json_get '"  data plane: " + "; ".join("%s received %d, encapsulated %d, decapsulated %d, unicast %d, flooded %d" % ((v["name"],) + tuple(v["counters"][k] for k in ("received", "encapsulated", "decapsulated", "unicast", "flooded"))) for v in d["vsis"]) if d["vsis"] else "  data plane: no frame yet"' || true
    fi
  done
  local missing=()
  for ns in $(all_ns); do [ -e "/run/netns/$ns" ] || missing+=("$ns"); done
  if [ ${#missing[@]} -eq 0 ]; then echo "network namespaces: all $(all_ns | wc -l) there"; else echo "network namespaces MISSING: ${missing[*]}"; fi
  for h in $(host_names); do
    echo "host $h: $(host_field "$h" 4) on sw$(host_field "$h" 2) $(host_field "$h" 3), $(host_field "$h" 5)"
  done
}

# --- ping ------------------------------------------------------------------

cmd_ping() {
  local json=0
  [ "${1:-}" = "--json" ] && json=1
  require_up
  local names=($(host_names)) a b
  local -A pid expect
  # Every ordered pair at once: a pair of one VSI must answer within 5 s,
  # a pair of two VSIs must stay silent for 1 s.
  for a in "${names[@]}"; do
    for b in "${names[@]}"; do
      [ "$a" = "$b" ] && continue
      if [ "$(host_field "$a" 4)" = "$(host_field "$b" 4)" ]; then expect[$a.$b]=1; w=5; else expect[$a.$b]=0; w=1; fi
      ip netns exec "$(ns_host "$a")" ping -n -q -c 1 -i 0.2 -w $w "$(host_field "$b" 5)" >/dev/null 2>&1 &
      pid[$a.$b]=$!
    done
  done
  local bad=0 rows=() got
  local -A reached
  for a in "${names[@]}"; do
    for b in "${names[@]}"; do
      [ "$a" = "$b" ] && continue
      if wait "${pid[$a.$b]}"; then got=1; else got=0; fi
      reached[$a.$b]=$got
      [ "$got" = "${expect[$a.$b]}" ] || bad=1
    done
  done
  if [ $json -eq 1 ]; then
    local items=()
    for a in "${names[@]}"; do for b in "${names[@]}"; do
      [ "$a" = "$b" ] && continue
      items+=("{\"from\":\"$a\",\"to\":\"$b\",\"expected\":$([ "${expect[$a.$b]}" = 1 ] && echo true || echo false),\"reached\":$([ "${reached[$a.$b]}" = 1 ] && echo true || echo false)}")
    done; done
    local IFS=,
    echo "{\"ok\":$([ $bad -eq 0 ] && echo true || echo false),\"pairs\":[${items[*]}]}"
  else
    echo "ping from (rows) to (columns): ok reached as it must, -- isolated as it must; FAIL unreachable, LEAK reached across VSIs"
    printf '%-14s' ""; for b in "${names[@]}"; do printf '%-6s' "$b"; done; echo
    for a in "${names[@]}"; do
      printf '%-14s' "$a $(host_field "$a" 4 | sed 's/vsi-//')"
      for b in "${names[@]}"; do
        if [ "$a" = "$b" ]; then printf '%-6s' "."; continue; fi
        case "${expect[$a.$b]}${reached[$a.$b]}" in
          11) printf '%-6s' ok ;; 00) printf '%-6s' -- ;; 10) printf '%-6s' FAIL ;; 01) printf '%-6s' LEAK ;;
        esac
      done
      echo
    done
    [ $bad -eq 0 ] && echo "every pair as expected" || echo "UNEXPECTED results above"
  fi
  return $bad
}

# --- demo ------------------------------------------------------------------

step() { printf '\n== %s\n' "$*"; }
show() { printf '$ %s\n' "$*"; "$@"; }
# The data plane's counters of a VSI on a switch, one line.
counters() {
  sw_simctl "$1" --json show dataplane | json_get \
    '"sw'"$1"' '"$2"': " + "  ".join("%s %d" % (k, next((v["counters"] for v in d["vsis"] if v["name"] == "'"$2"'"), {}).get(k, 0)) for k in ("received", "encapsulated", "decapsulated", "unicast", "flooded"))'
}
learned_has() { sw_pbbctl "$1" --json show learned "$2" | grep -q "\"$3\""; }
learned_empty() { sw_pbbctl "$1" --json show learned --all | json_get 'len(d["learned"]) == 0' | grep -qx True; }
hping() { local a=$1 b=$2; shift 2; ip netns exec "$(ns_host "$a")" ping -n "$@" "$(host_field "$b" 5)"; }
# A ping's summary lines only.
hping_summary() { hping "$@" | grep -E "packets transmitted|^rtt" || true; }

cmd_demo() {
  require_up
  demo_ping=""
  trap '[ -n "$demo_ping" ] && kill "$demo_ping" 2>/dev/null; true' EXIT
  step "The lab: three switches, two VSIs, five hosts"
  cmd_status | sed -n '/^host/p'
  show sw_pbbctl 1 show mc vsi-red

  step "A clean start: each pbbd withdraws what it learned, the hosts forget their neighbours"
  local n h
  for n in "${switches[@]}"; do show sw_pbbctl "$n" reset learned --bvlan $bvlan_red-$bvlan_green; done
  for h in $(host_names); do ip -n "$(ns_host "$h")" neigh flush dev eth0; done
  counters 1 vsi-red; counters 2 vsi-red

  step "r1 pings r2 once: the first frames are flooded on vsi-red's multicast pseudo-wire"
  show hping_summary r1 r2 -c 1 -w 5
  counters 1 vsi-red; counters 2 vsi-red
  wait_for 10 "sw1 to learn sw2" learned_has 1 vsi-red "$(bmac 2)"
  wait_for 10 "sw2 to learn sw1" learned_has 2 vsi-red "$(bmac 1)"
  echo "each pbbd learned the other switch's backbone address from the frames copied to it:"
  show sw_pbbctl 1 show learned vsi-red
  show sw_pbbctl 2 show learned vsi-red
  show sw_simctl 1 show unicast --vsi vsi-red

  step "r1 pings r2 five times: unicast now, nothing more flooded"
  show hping_summary r1 r2 -c 5 -i 0.2
  counters 1 vsi-red; counters 2 vsi-red

  step "sw2's backbone link goes down: sw2's pbbd withdraws the entries behind it"
  show sw_simctl 2 link down eth-1/0/1
  wait_for 10 "sw2's entries to go" learned_empty 2
  show sw_pbbctl 2 show learned vsi-red
  show sw_simctl 2 show unicast --vsi vsi-red
  echo "r1 cannot reach r2:"
  show hping_summary r1 r2 -c 1 -w 2

  step "and up again: traffic resumes, sw2 learns again"
  show sw_simctl 2 link up eth-1/0/1
  show hping_summary r1 r2 -c 1 -w 10
  wait_for 10 "sw2 to learn sw1 again" learned_has 2 vsi-red "$(bmac 1)"
  show sw_pbbctl 2 show learned vsi-red

  step "sw1's pbbd is killed (kill -9) while r1 pings r3 every 50 ms"
  ip netns exec "$(ns_host r1)" ping -n -q -i 0.05 "$(host_field r3 5)" >"$lab/demo-ping.out" 2>&1 &
  demo_ping=$!
  wait_for 10 "r1 to reach r3" learned_has 1 vsi-red "$(bmac 3)"
  show sw_pbbctl 1 show learned vsi-red
  echo "\$ kill -9 $(cat "$(swdir 1)/pbbd.pid")"
  kill_daemon 1
  show sw_pbbctl 1 status || true
  echo "the switch keeps what pbbd programmed and goes on forwarding:"
  show sw_simctl 1 show unicast --vsi vsi-red
  counters 1 vsi-red

  step "pbbd starts again: it recovers its entries, the refresh window closes, traffic goes on"
  start_daemon 1
  show sw_pbbctl 1 status
  show sw_pbbctl 1 show learned vsi-red
  show sw_simctl 1 show unicast --vsi vsi-red
  counters 1 vsi-red
  show hping_summary r1 r3 -c 5 -i 0.2
  counters 1 vsi-red
  kill -INT "$demo_ping"; wait "$demo_ping" || true; demo_ping=""
  echo "the background ping, across the kill and the restart:"
  grep -E "packets transmitted" "$lab/demo-ping.out" || true

  step "Every pair, both VSIs"
  show cmd_ping
}

# --- helpers for tests and operators -----------------------------------------

case $cmd in
  up) cmd_up ;;
  down) cmd_down ;;
  status) cmd_status ;;
  ping) cmd_ping "$@" ;;
  demo) cmd_demo ;;
  pbbctl) require_up; [ $# -ge 1 ] || usage; n=$(sw_num "$1"); shift; sw_pbbctl "$n" "$@" ;;
  simctl) require_up; [ $# -ge 1 ] || usage; n=$(sw_num "$1"); shift; sw_simctl "$n" "$@" ;;
  kill-daemon) require_up; [ $# -eq 1 ] || usage; kill_daemon "$(sw_num "$1")"; echo "pbbd of sw${1#sw} killed (SIGKILL)" ;;
  start-daemon) require_up; [ $# -eq 1 ] || usage; n=$(sw_num "$1"); start_daemon "$n"; echo "pbbd of sw$n ready (pid $(cat "$(swdir "$n")/pbbd.pid")), its L2VPN batch done" ;;
  *) echo "lab: unknown command $cmd" >&2; usage ;;
esac
