#!/usr/bin/env bash
# Builds pbbd and shows it working: starts the daemon in a private run and
# state directory, waits until it reports start-up complete, shows its log
# and status, and stops it cleanly. Everything it made is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target pbbd pbbctl

work=$(mktemp -d /tmp/pbb-demo.XXXXXX)
pid=""
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

export PBB_RUN_DIR=$work/run PBB_STATE_DIR=$work/state PBB_LOG_FILE=$work/pbb.log
pbbctl() { "$top/build/tools/pbbctl" "$@"; }

echo "== starting pbbd (run directory $PBB_RUN_DIR)"
"$top/build/daemon/pbbd" &
pid=$!

# Wait for readiness: the service manager's status file names our pid.
for _ in $(seq 1 100); do
  if pbbctl status --json 2>/dev/null | grep -q "\"pid\":$pid"; then break; fi
  if ! kill -0 "$pid" 2>/dev/null; then
    wait "$pid" || true
    echo "pbbd ended during start-up; its log:"; cat "$PBB_LOG_FILE" 2>/dev/null || true; exit 1
  fi
  sleep 0.1
done
pbbctl status

echo "== pbbd log"
cat "$PBB_LOG_FILE" 2>/dev/null || echo "(nothing logged yet)"

echo "== stopping pbbd"
pbbctl stop
wait "$pid" && echo "pbbd exited with status 0"
pid=""
