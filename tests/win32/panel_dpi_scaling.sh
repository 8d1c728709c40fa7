#!/usr/bin/env bash
# The control panel at 144 DPI: in a copy of the test prefix whose desktop is set to 144 DPI,
# three panels are shown, their layout is checked (every panel and the status line scaled by 1.5,
# nothing outside its panel) and a screenshot is taken for a person to look at. Whatever it
# started, the copy of the prefix and its script are gone when it ends, passed or failed.
# Arguments: the folder of Q417Panel.exe with the test double, the screenshot to write.
set -euo pipefail
testbin=$1
screenshot=$2
: "${WINEPREFIX:?runs inside tools/test, which provides the Wine prefix}"

source "$(dirname "$0")/../../tools/lib/env.sh"
Q417_PROBE=$testbin/q417probe.exe

prefix="$(dirname "$WINEPREFIX")/wineprefix-144dpi"
script=$(mktemp)
# Only the copy's server is ended, also when the run ends before it has switched to the copy.
cleanup() { export WINEPREFIX=$prefix; q417_stop_started; q417_end_wineserver; rm -rf "$prefix" "$script"; }
trap cleanup EXIT
rm -rf "$prefix" && mkdir -p "$prefix"
# A copy of the running prefix without what the run's server and the tests beside this one change
# while it is made: the registry's save files (reg*.tmp, renamed over *.reg when written), the COM
# ports of the serial tests and the temporary folder. None of them is needed here. A folder whose
# entries came or went while it was read makes tar end with 1 (some files differ), not 2 (failed).
{ tar -C "$WINEPREFIX" --anchored --exclude='./reg*.tmp' --exclude='./dosdevices/com*' \
    --exclude='./drive_c/users/*/Temp/*' --warning=no-file-changed -cf - . || [ $? = 1 ]; } |
  tar -C "$prefix" -xpf -
rm -f "$prefix"/.update-timestamp
export WINEPREFIX=$prefix
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
# Read when the server and its desktop start: this one ends, and the run's own server and
# desktop start with the new value (before any program that would start a desktop itself).
q417_end_wineserver
q417_start_wine "$prefix"

# Ids 3, 5, 9 in modes 2, 1 and 3, lamps lit.
cat > "$script" <<'SCRIPT'
init 997 now 0
state 03000000030000000000010200000000020200640005000000040302010000000001040119000900000007000003000000000380018813
poll 997 after:100 state
SCRIPT
export NVQ417_DOUBLE_SCRIPT="Z:${script//\//\\}"
wine "$testbin/Q417Panel.exe" >/dev/null 2>&1 &
Q417_STARTED_PIDS+=($!)
q417_probe wait-panels 3 30000
q417_probe click FDeviceFrame3 channel:1 # select one panel, so that its selection bar shows too
q417_probe wait-selected FDeviceFrame3 30000 # and drawn before the picture is taken
result=$(q417_probe check-layout 144) && status=0 || status=$?
echo "$result"
rect=$(q417_probe rect)
import -window root -crop "$rect" +repage "$screenshot"
echo "screenshot: $screenshot ($rect)"
q417_probe close >/dev/null || true
exit $status
