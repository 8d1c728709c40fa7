#!/usr/bin/env bash
# Runs host_pty_system_tests.exe under Wine with three native selector simulators on ptys,
# linked as COM21 to COM23 of the running Wine prefix. Arguments: the native selector-sim
# program, the test program. Needs WINEPREFIX with a running wineserver (tools/test sets it up).
set -euo pipefail
sim=$1 tests=$2
[ -x "$sim" ] || { echo "native selector-sim not found at $sim (build the native preset first)" >&2; exit 1; }
[ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX/dosdevices" ] || { echo "WINEPREFIX with dosdevices required" >&2; exit 1; }

pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

"$sim" --id 21 --link "$WINEPREFIX/dosdevices/com21" >/dev/null &
pids+=($!)
"$sim" --id 22 --link "$WINEPREFIX/dosdevices/com22" >/dev/null &
pids+=($!)
"$sim" --id 23 --ignore-hellos 3 --link "$WINEPREFIX/dosdevices/com23" >/dev/null &
pids+=($!)
for port in com21 com22 com23; do
  for _ in $(seq 100); do [ -L "$WINEPREFIX/dosdevices/$port" ] && break; sleep 0.1; done
  [ -L "$WINEPREFIX/dosdevices/$port" ] || { echo "simulator for $port did not start" >&2; exit 1; }
done

PELLIX_PTY_PORTS=COM21,COM22,COM23 wine "$tests"
