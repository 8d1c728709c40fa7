#!/usr/bin/env bash
# The packages as a user gets them. Makes the zip and the installer with CPack (as tools/package
# does) and checks what they hold; unpacks the zip into an empty Wine prefix of its own and starts
# the control panel from there with two simulated selectors: it must start the device host from
# its own folder and show both selectors. Then installs with the installer, silently, into the
# same prefix, starts the control panel through its start-menu entry in the same way, lists the
# simulated selectors with the installed q417ctl.exe, and uninstalls. The prefix is removed afterwards.
# Arguments: the windows build folder, q417probe.exe. Needs DISPLAY (tools/test provides it).
set -euo pipefail
source "$(dirname "$0")/package_lib.sh"
package_test_setup package-test "$@"

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

q417_start_wine "$work/prefix"
drive_c=$WINEPREFIX/drive_c

# The zip, unpacked into C:\unzipped (its top folder is the package's name).
mkdir "$drive_c/unzipped"
(cd "$drive_c/unzipped" && cmake -E tar xf "$zip")
root=$(echo "$drive_c"/unzipped/*)
check_programs "$root"
check_sdk "$root"
folder="C:\\unzipped\\$(basename "$root")\\bin"
run_panel "$folder" "$folder\\Q417Panel.exe"
echo "zip: the control panel runs from $folder"

# The installer, silent, into its default folder under the 64-bit program files.
wine "$installer" /S
installed="$drive_c/Program Files/Q417"
check_programs "$installed" Uninstall.exe
check_sdk "$installed"
shortcut='C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Q417 selector control\Q417 Control Panel.lnk'
[ -f "$(winepath -u "$shortcut")" ] || fail "no start-menu entry $shortcut"
run_panel 'C:\Program Files\Q417\bin' start /wait "$shortcut"
echo "installer: the start-menu entry starts the control panel from C:\\Program Files\\Q417\\bin"

# The installed q417ctl lists the simulated selectors through a device host that its library
# starts from the same folder.
ctl_lists_selectors 'C:\Program Files\Q417\bin'
echo "installer: q417ctl.exe lists the selectors"

# The uninstaller removes the programs and the start-menu entry. It runs from a copy of itself.
# Its copy goes on after this returns, and removes the start-menu entry after the programs.
wine "$installed/Uninstall.exe" /S
shortcut_file=$(winepath -u "$shortcut")
wait_until 30 eval '[ ! -e "$installed/bin" ] && [ ! -e "$shortcut_file" ]' || true
[ ! -e "$installed/bin" ] || fail "the uninstaller left $installed/bin"
[ ! -e "$shortcut_file" ] || fail "the uninstaller left $shortcut"
echo "uninstaller: programs and start-menu entry removed"
