#!/usr/bin/env bash
# Runs a test program under Wine with native selector simulators on ptys, each linked as a COM
# port of the running Wine prefix; the program finds the port names in PELLIX_PTY_PORTS.
# Arguments: the native selector-sim program, the test program, then one PORT=SIM-OPTIONS per
# simulator (for example "COM21=--id 21 --ignore-hellos 3"). Needs WINEPREFIX with a running
# wineserver (tools/test sets it up).
set -euo pipefail
sim=$1 tests=$2
shift 2
[ -x "$sim" ] || { echo "native selector-sim not found at $sim (build the native preset first)" >&2; exit 1; }
[ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX/dosdevices" ] || { echo "WINEPREFIX with dosdevices required" >&2; exit 1; }

pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

ports=()
for spec in "$@"; do
  port=${spec%%=*}
  link="$WINEPREFIX/dosdevices/${port,,}"
  # A link left by a run that was cut short would pass the wait below before this simulator
  # has made its own.
  rm -f "$link"
  # shellcheck disable=SC2086 # the options are words
  "$sim" ${spec#*=} --link "$link" >/dev/null &
  pids+=($!)
  ports+=("$port")
done
for port in "${ports[@]}"; do
  link="$WINEPREFIX/dosdevices/${port,,}"
  for _ in $(seq 300); do [ -L "$link" ] && break; sleep 0.1; done
  [ -L "$link" ] || { echo "simulator for $port did not start" >&2; exit 1; }
done

PELLIX_PTY_PORTS=$(IFS=,; echo "${ports[*]}") wine "$tests"
