#!/usr/bin/env bash
# The packages as a user gets them. Makes the zip and the installer with CPack (as tools/package
# does) and checks what they hold; unpacks the zip into an empty Wine prefix of its own and starts
# the control panel from there with two simulated selectors: it must start the device host from
# its own folder and show both selectors. Then installs with the installer, silently, into the
# same prefix, starts the control panel through its start-menu entry in the same way, lists the
# simulated selectors with the installed q417ctl.exe, and uninstalls. The prefix is removed afterwards.
# Arguments: the windows build folder, q417probe.exe. Needs DISPLAY (tools/test provides it).
set -euo pipefail
build=$1
: "${DISPLAY:?runs inside tools/test, which provides the X display}"
source "$(dirname "$0")/../../tools/lib/env.sh"
Q417_PROBE=$2

work=$build/package-test
rm -rf "$work" && mkdir -p "$work"
trap 'q417_stop_started; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
wait_until() { # deadline in seconds, then a command
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do [ $SECONDS -lt $deadline ] || return 1; sleep 0.2; done
}

cpack --config "$build/CPackConfig.cmake" -B "$work/packages" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack did not make the packages"; }
zip=$(echo "$work"/packages/*.zip) installer=$(echo "$work"/packages/*.exe)
[ -f "$zip" ] && [ -f "$installer" ] || fail "expected one zip and one installer: $(ls "$work/packages")"
echo "made $(basename "$zip") and $(basename "$installer")"

# The installer is a PE file for x86-64: "MZ", and at the offset stored at 0x3c "PE\0\0" and the
# machine 0x8664.
pe_offset=$(od -An -tu4 -j60 -N4 "$installer" | tr -d ' ')
[ "$(head -c2 "$installer")" = MZ ] && [ "$(od -An -tx1 -j"$pe_offset" -N6 "$installer" | xargs)" = "50 45 00 00 64 86" ] ||
  fail "the installer is not an x86-64 PE program"

# What a package holds: the programs and libraries in bin/, the SDK's headers, and no other
# program or library (nothing of the tests).
shipped="bin/NVQ417API.dll bin/NVSerial.dll bin/Pellix.exe bin/Q417Client.dll bin/Q417Panel.exe bin/q417ctl.exe"
headers="NVErrorsU.h NVQ417Hdr.h NVSerialHdr.h PellixHdr.h Q417Records.h"
check_content() { # package root, then the programs besides the shipped ones
  local binaries expected
  binaries=$(cd "$1" && find . -type f \( -iname '*.exe' -o -iname '*.dll' \) -printf '%P\n' | sort | xargs)
  expected=$(printf '%s\n' $shipped "${@:2}" | sort | xargs)
  [ "$binaries" = "$expected" ] || fail "$1 holds the programs and libraries: $binaries; expected: $expected"
  [ "$(ls "$1/include" | xargs)" = "$headers" ] || fail "$1/include holds $(ls "$1/include" | xargs); expected $headers"
  [ -f "$1/share/q417-sdk/README.md" ] || fail "$1 has no SDK README"
}

q417_start_wine "$work/prefix"
drive_c=$WINEPREFIX/drive_c

# Wine shows a program's Windows command line as its process's command line. Only the hosts of
# this prefix count: another run's package test uses the same Windows paths in a prefix of its own.
hosts() { # the command lines of this prefix's device hosts, one a line
  local pid
  for pid in $(q417_prefix_pids Pellix.exe); do
    # A process may end between the listing and the reading.
    { tr '\0' ' ' <"/proc/$pid/cmdline" && echo; } 2>/dev/null || true
  done
}
host_runs_from() { grep -qiF "$1\\Pellix.exe" <<<"$(hosts)"; }
# Starts the control panel (a Windows command line after "wine") with two simulated selectors,
# nothing of ours on the path and no other host named to its library, waits for the selectors
# through the device host of the Windows folder given, and closes the panel; the host then ends.
run_panel() { # host folder, then the command
  local folder=$1; shift
  (cd "$drive_c" && env -u NVQ417API_HOST -u NVQ417API_CLIENT WINEPATH= NVSERIAL_SIMULATED=3,5 wine "$@" >/dev/null 2>&1) &
  Q417_STARTED_PIDS+=($!)
  q417_probe wait-status "API library Initialised." 30000 || fail "the control panel did not initialise its API library"
  q417_probe wait-panels 2 30000 || fail "the control panel did not show the two simulated selectors"
  host_runs_from "$folder" || fail "no device host runs from $folder: $(hosts)"
  q417_probe close || fail "the control panel did not close"
  wait_until 20 eval '! host_runs_from "$folder"' || fail "the device host did not end after the panel closed: $(hosts)"
}

# The zip, unpacked into C:\unzipped (its top folder is the package's name).
mkdir "$drive_c/unzipped"
(cd "$drive_c/unzipped" && cmake -E tar xf "$zip")
root=$(echo "$drive_c"/unzipped/*)
check_content "$root"
folder="C:\\unzipped\\$(basename "$root")\\bin"
run_panel "$folder" "$folder\\Q417Panel.exe"
echo "zip: the control panel runs from $folder"

# The installer, silent, into its default folder under the 64-bit program files.
wine "$installer" /S
installed="$drive_c/Program Files/Q417"
check_content "$installed" Uninstall.exe
shortcut='C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Q417 selector control\Q417 Control Panel.lnk'
[ -f "$(winepath -u "$shortcut")" ] || fail "no start-menu entry $shortcut"
run_panel 'C:\Program Files\Q417\bin' start /wait "$shortcut"
echo "installer: the start-menu entry starts the control panel from C:\\Program Files\\Q417\\bin"

# The installed q417ctl lists the simulated selectors through a device host that its library
# starts from the same folder.
listed=$(cd "$drive_c" && env -u NVQ417API_HOST -u NVQ417API_CLIENT WINEPATH= NVSERIAL_SIMULATED=3,5 \
  wine 'C:\Program Files\Q417\bin\q417ctl.exe' list --json 2>&1 | tr -d '\r') || fail "q417ctl list failed: $listed"
[[ $listed == '[{"id":3,'*'},{"id":5,'*'}]' ]] || fail "q417ctl list --json printed: $listed"
wait_until 20 eval '! host_runs_from "C:\Program Files\Q417\bin"' || fail "the device host did not end after q417ctl"
echo "installer: q417ctl.exe lists the selectors"

# The uninstaller removes the programs and the start-menu entry. It runs from a copy of itself.
# Its copy goes on after this returns, and removes the start-menu entry after the programs.
wine "$installed/Uninstall.exe" /S
shortcut_file=$(winepath -u "$shortcut")
wait_until 30 eval '[ ! -e "$installed/bin" ] && [ ! -e "$shortcut_file" ]' || true
[ ! -e "$installed/bin" ] || fail "the uninstaller left $installed/bin"
[ ! -e "$shortcut_file" ] || fail "the uninstaller left $shortcut"
echo "uninstaller: programs and start-menu entry removed"
