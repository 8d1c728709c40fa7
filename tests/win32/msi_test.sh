#!/usr/bin/env bash
# The Windows Installer package as an administrator deploys it, in a Wine prefix of its own. Makes
# the package of this build and a second one of a higher version (the same programs, a README
# that says it is the newer one), checks their tables with msiinfo, then with msiexec, silently:
# installs per machine (files, start-menu entry, uninstall entry, no SDK), starts the control
# panel through its start-menu entry and lists the simulated selectors with q417ctl, repairs a
# deleted program, upgrades in place to the higher version with the SDK added (one product
# installed, the new files), refuses the older package, and uninstalls without a trace.
# Arguments: the windows build folder, q417probe.exe. Needs DISPLAY (tools/test provides it).
set -euo pipefail
source "$(dirname "$0")/package_lib.sh"
package_test_setup msi-test "$@"

# ---- the two packages -------------------------------------------------------------------------
make_msi() { # output, then -D options
  cmake -DOUTPUT="$1" "${@:2}" -P "$build/MsiPackage.cmake" >"$work/wixl.log" 2>&1 ||
    { cat "$work/wixl.log"; fail "the MSI was not made"; }
}
old_msi=$work/old.msi new_msi=$work/new.msi
make_msi "$old_msi" -DSTAGE="$work/old"
version=$(msiinfo export "$old_msi" Property | sed -n 's/^ProductVersion\t//p' | tr -d '\r')
IFS=. read -r major minor patch <<<"$version"
new_version=$major.$minor.$((patch + 1))
cp -r "$work/old" "$work/new"
echo "This is version $new_version." >>"$work/new/programs/README.txt"
make_msi "$new_msi" -DSTAGE="$work/new" -DKEEP_STAGE=ON -DVERSION="$new_version"
echo "made the package of $version and one of $new_version"

# ---- their tables -----------------------------------------------------------------------------
table() { msiinfo export "$1" "$2" | tail -n +4 | tr -d '\r'; } # rows without the header lines
property() { table "$1" Property | sed -n "s/^$2\t//p"; }
upgrade_code='{C0A122F6-996A-4D59-A675-C542A220E68B}'
product_name=$(property "$old_msi" ProductName) manufacturer=$(property "$old_msi" Manufacturer)
old_code=$(property "$old_msi" ProductCode) new_code=$(property "$new_msi" ProductCode)
for msi in "$old_msi" "$new_msi"; do
  [ "$(property "$msi" UpgradeCode)" = "$upgrade_code" ] || fail "$msi has the upgrade code $(property "$msi" UpgradeCode)"
  [ "$(property "$msi" ALLUSERS)" = 1 ] || fail "$msi does not install per machine"
  [[ $(msiinfo suminfo "$msi") == *"Template: x64;1033"* ]] || fail "$msi is not a package for x64"
done
[ "$product_name" = "$(property "$new_msi" ProductName)" ] && [ -n "$product_name" ] || fail "the product names differ"
[ "$(property "$new_msi" ProductVersion)" = "$new_version" ] || fail "the newer package has the version $(property "$new_msi" ProductVersion)"
[[ $old_code =~ ^\{[0-9A-F-]{36}\}$ && $new_code =~ ^\{[0-9A-F-]{36}\}$ && $old_code != "$new_code" ]] ||
  fail "each version needs a product code of its own: $old_code, $new_code"
# The major upgrade: older versions of the line are found and removed, a newer one refuses it.
upgrades=$(table "$old_msi" Upgrade | cut -f1-5 | sort)
[ "$upgrades" = "$(printf '%s\t\t%s\t\t1\n%s\t%s\t\t\t2' "$upgrade_code" "$version" "$upgrade_code" "$version" | sort)" ] ||
  fail "the Upgrade table holds: $upgrades"
[[ $(table "$old_msi" InstallExecuteSequence) == *RemoveExistingProducts* ]] || fail "nothing removes the older version"
[[ $(table "$old_msi" LaunchCondition) == *"A newer version of [ProductName] is already installed."* ]] ||
  fail "no message refuses a downgrade: $(table "$old_msi" LaunchCondition)"
# The programs by default, the SDK at level 2 under them; the start-menu entry; every file.
features=$(table "$old_msi" Feature | cut -f1,2,6 | sort | xargs)
[ "$features" = "Programs 1 SDK Programs 2" ] || fail "the features are: $features"
[ "$(table "$old_msi" Shortcut | cut -f1-5)" = "$(printf 'PanelShortcut\tMenuDir\tQ417 Control Panel\tStartMenuEntry\t[#Q417Panel.exe]')" ] ||
  fail "the start-menu entry is: $(table "$old_msi" Shortcut)"
files=$(table "$old_msi" File | cut -f3 | sort | xargs)
staged=$(find "$work/old" -type f -printf '%f\n' | sort | xargs)
[ "$files" = "$staged" ] || fail "the package holds $files; the build installs $staged"

# ---- installed per machine --------------------------------------------------------------------
q417_start_wine "$work/prefix"
drive_c=$WINEPREFIX/drive_c
installed="$drive_c/Program Files/Q417" bin='C:\Program Files\Q417\bin'
run_msiexec() { # msiexec's arguments, silent; the log of this call in $work/msiexec.log, its exit code returned
  local code=0
  rm -f "$drive_c/msiexec.log"
  wine msiexec "$@" /qn /l*v 'C:\msiexec.log' >/dev/null 2>&1 || code=$?
  tr -d '\r' <"$drive_c/msiexec.log" >"$work/msiexec.log" 2>/dev/null || true
  return $code
}
windows() { winepath -w "$1" 2>/dev/null; }

# The entries under the installed programs of this product line: "key|name|version|publisher".
uninstall_entries() {
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
    awk -v name="$product_name" '
      /^HKEY_/ { flush(); key = $0; sub(/.*\\/, "", key); display = version = publisher = ""; next }
      $1 == "DisplayName" { sub(/^ *DisplayName *REG_SZ */, ""); display = $0 }
      $1 == "DisplayVersion" { sub(/^ *DisplayVersion *REG_SZ */, ""); version = $0 }
      $1 == "Publisher" { sub(/^ *Publisher *REG_SZ */, ""); publisher = $0 }
      function flush() { if (display == name) print key "|" display "|" version "|" publisher }
      END { flush() }'
}

run_msiexec /i "$(windows "$old_msi")" || fail "msiexec /i ended with $?: $(tail -5 "$work/msiexec.log")"
check_programs "$installed"
[ ! -e "$installed/include" ] && [ ! -e "$installed/share" ] || fail "the SDK was installed, which is not installed by default"
[ "$(uninstall_entries)" = "$old_code|$product_name|$version|$manufacturer" ] ||
  fail "the installed programs list: $(uninstall_entries)"
# Per machine, Windows resolves the start menu to the one of all users; Wine's installer resolves
# it to the user's. Where the entry must be is what the installer resolved.
menu=$(sed -n 's/^Property(S): ProgramMenuFolder = //p' "$work/msiexec.log")
[ -n "$menu" ] || fail "the installer's log names no start menu"
shortcut="${menu}Q417 selector control\\Q417 Control Panel.lnk"
[ -f "$(winepath -u "$shortcut")" ] || fail "no start-menu entry $shortcut"
echo "msi: installed $version per machine, without the SDK, with its start-menu entry and uninstall entry"

# What the programs' version resources say is what the package says.
for program in Q417Panel.exe q417ctl.exe Pellix.exe NVQ417API.dll Q417Client.dll; do
  described=$(wine "$Q417_PROBE" version-info "$bin\\$program" | tr -d '\r') || fail "$program has no version resource"
  [ "$described" = "$(printf 'CompanyName=%s\nProductName=%s\nProductVersion=%s\nFileVersion=%s.0' \
      "$manufacturer" "$product_name" "$version" "$version")" ] || fail "$program describes itself as: $described"
done

run_panel "$bin" start /wait "$shortcut"
echo "msi: the start-menu entry starts the control panel from $bin"
ctl_lists_selectors "$bin"
echo "msi: the installed q417ctl.exe lists the selectors"

# A repair puts back what was deleted.
rm "$installed/bin/Pellix.exe"
run_msiexec /i "$(windows "$old_msi")" REINSTALL=ALL REINSTALLMODE=omus || fail "the repair ended with $?"
[ -f "$installed/bin/Pellix.exe" ] || fail "the repair did not put Pellix.exe back"
echo "msi: a repair restores a deleted program"

# ---- upgraded in place, the SDK added ---------------------------------------------------------
run_msiexec /i "$(windows "$new_msi")" ADDLOCAL=SDK || fail "the upgrade ended with $?: $(tail -5 "$work/msiexec.log")"
[ "$(uninstall_entries)" = "$new_code|$product_name|$new_version|$manufacturer" ] ||
  fail "after the upgrade the installed programs list: $(uninstall_entries)"
grep -qF "This is version $new_version." "$installed/README.txt" || fail "the upgrade left the older files"
check_programs "$installed"
check_sdk "$installed"
[ -f "$(winepath -u "$shortcut")" ] || fail "the upgrade lost the start-menu entry"
echo "msi: $new_version replaced $version in place (one product installed), with the programs and the SDK"

# ---- the older package refused ----------------------------------------------------------------
if run_msiexec /i "$(windows "$old_msi")"; then fail "the older package installed over the newer one"; fi
grep -q "^Property(S): WIX_DOWNGRADE_DETECTED = $new_code" "$work/msiexec.log" ||
  fail "the refusal was not for the newer version installed: $(grep -i downgrade "$work/msiexec.log")"
[ "$(uninstall_entries)" = "$new_code|$product_name|$new_version|$manufacturer" ] ||
  fail "after the refused downgrade the installed programs list: $(uninstall_entries)"
grep -qF "This is version $new_version." "$installed/README.txt" || fail "the refused downgrade changed the files"
echo "msi: the older package is refused while $new_version is installed"

# ---- uninstalled ------------------------------------------------------------------------------
run_msiexec /x "$(windows "$new_msi")" || fail "msiexec /x ended with $?"
[ ! -e "$installed" ] || fail "the uninstall left $(find "$installed" | head -5 | xargs)"
[ ! -e "$(winepath -u "${menu}Q417 selector control")" ] || fail "the uninstall left the start-menu folder"
[ -z "$(uninstall_entries)" ] || fail "the uninstall left the entry: $(uninstall_entries)"
! wine reg query 'HKLM\Software\Q417' >/dev/null 2>&1 || fail "the uninstall left HKLM\\Software\\Q417"
echo "msi: uninstalled: no files, no start-menu entry, no uninstall entry"
