# Shared by the package tests (package_test.sh, msi_test.sh): their set-up, what a package must
# hold, and the installed programs run as a user runs them. Source it, call package_test_setup,
# then q417_start_wine with the test's own prefix.
source "$(dirname "${BASH_SOURCE[0]}")/../../tools/lib/env.sh"

# Arguments: the name of the test's folder in the build, then the test's own arguments: the
# windows build folder and q417probe.exe. Sets build and work (emptied now, removed at the end,
# with whatever the test started).
package_test_setup() {
  build=$2 Q417_PROBE=$3
  : "${DISPLAY:?runs inside tools/test, which provides the X display}"
  work=$build/$1
  rm -rf "$work" && mkdir -p "$work"
  trap 'q417_stop_started; rm -rf "$work"' EXIT
}

fail() { echo "FAIL: $*" >&2; exit 1; }
wait_until() { # deadline in seconds, then a command
  local deadline=$((SECONDS + $1)); shift
  until "$@"; do [ $SECONDS -lt $deadline ] || return 1; sleep 0.2; done
}

# What a package holds: the programs and libraries in bin/, the SDK's headers and README, and no
# other program or library (nothing of the tests).
shipped="bin/NVQ417API.dll bin/NVSerial.dll bin/Pellix.exe bin/Q417Client.dll bin/Q417Panel.exe bin/q417ctl.exe"
headers="NVErrorsU.h NVQ417Hdr.h NVSerialHdr.h PellixHdr.h Q417Records.h"
check_programs() { # package or install root, then the programs besides the shipped ones
  local binaries expected
  binaries=$(cd "$1" && find . -type f \( -iname '*.exe' -o -iname '*.dll' \) -printf '%P\n' | sort | xargs)
  expected=$(printf '%s\n' $shipped "${@:2}" | sort | xargs)
  [ "$binaries" = "$expected" ] || fail "$1 holds the programs and libraries: $binaries; expected: $expected"
  [ -f "$1/README.txt" ] || fail "$1 has no README.txt"
}
check_sdk() { # package or install root
  [ "$(ls "$1/include" 2>/dev/null | xargs)" = "$headers" ] || fail "$1/include holds $(ls "$1/include" 2>/dev/null | xargs); expected $headers"
  [ -f "$1/lib/NVSerial.def" ] || fail "$1 has no lib/NVSerial.def"
  [ -f "$1/share/q417-sdk/README.md" ] || fail "$1 has no SDK README"
}

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
  (cd "$WINEPREFIX/drive_c" && env -u NVQ417API_HOST -u NVQ417API_CLIENT WINEPATH= NVSERIAL_SIMULATED=3,5 wine "$@" >/dev/null 2>&1) &
  Q417_STARTED_PIDS+=($!)
  q417_probe wait-status "API library Initialised." 30000 || fail "the control panel did not initialise its API library"
  q417_probe wait-panels 2 30000 || fail "the control panel did not show the two simulated selectors"
  host_runs_from "$folder" || fail "no device host runs from $folder: $(hosts)"
  q417_probe close || fail "the control panel did not close"
  wait_until 20 eval '! host_runs_from "$folder"' || fail "the device host did not end after the panel closed: $(hosts)"
}

# The q417ctl.exe of a Windows folder lists the two simulated selectors through a device host
# that its library starts from the same folder, which ends after it.
ctl_lists_selectors() { # Windows folder
  local listed
  listed=$(cd "$WINEPREFIX/drive_c" && env -u NVQ417API_HOST -u NVQ417API_CLIENT WINEPATH= NVSERIAL_SIMULATED=3,5 \
    wine "$1\\q417ctl.exe" list --json 2>&1 | tr -d '\r') || fail "q417ctl list failed: $listed"
  [[ $listed == '[{"id":3,'*'},{"id":5,'*'}]' ]] || fail "q417ctl list --json printed: $listed"
  wait_until 20 eval '! host_runs_from "$1"' || fail "the device host did not end after q417ctl"
}
