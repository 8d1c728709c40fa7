# Shared set-up for the tools and the test scripts: packages, builds, a private X display and
# Wine prefix, the probe of a running control panel, the demo's selectors. Source it; everything
# it starts is stopped by q417_stop_started (by process id).

Q417_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
Q417_STARTED_PIDS=()

# The demo's simulated selectors for NVSERIAL_SIMULATED (ID:VERSION:TYPE:MODE:SELECT:INDICATOR:DELAY):
# selector 3 in mode 2 on channel 2, selector 5 in mode 1 on channel 3 with its indicator on and
# 2.5 ms, selector 9 in mode 3 on channel 8. tools/demo and tools/bench run them, and the Wine
# tests of the whole chain read them from this line (tests/win32/CMakeLists.txt).
Q417_DEMO_SELECTORS="3:0x02010000:0x417:2:2:0:100, 5:0x01020304:0x417:1:4:1:25, 9:0x03000007:0x417:3:128:1:5000"

q417_as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

# Installs the Debian packages whose probe fails. Arguments: "package|probe command" pairs.
q417_install_missing() {
  local missing=() spec
  for spec in "$@"; do
    bash -c "${spec#*|}" >/dev/null 2>&1 || missing+=("${spec%%|*}")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing: ${missing[*]}"
  q417_as_root apt-get update -qq
  DEBIAN_FRONTEND=noninteractive q417_as_root apt-get install -y -qq "${missing[@]}" >/dev/null
}

# What building the windows preset needs.
q417_packages_build() {
  q417_install_missing \
    "cmake|command -v cmake" \
    "ninja-build|command -v ninja" \
    "g++-mingw-w64-x86-64-posix|command -v x86_64-w64-mingw32-g++-posix" \
    "googletest|test -f /usr/src/googletest/CMakeLists.txt" \
    "nlohmann-json3-dev|test -f /usr/include/nlohmann/json.hpp" \
    "$@"
}

# What building and running the windows preset needs; Wine only recommends its fonts-wine, whose
# Marlett draws the window frames' buttons (q417_wine_fonts).
q417_packages_windows() {
  q417_packages_build \
    "wine|command -v wine" \
    "wine64|test -x /usr/lib/wine/wine64" \
    "fonts-wine|test -f /usr/share/wine/fonts/marlett.ttf" \
    "xvfb|command -v Xvfb" \
    "$@"
}

# What the sanitizer and fuzz presets (native-asan, native-tsan, fuzz) need besides the native
# build: clang 14 with its sanitizer and libFuzzer runtimes. "package|probe" pairs for the above.
Q417_CLANG_PACKAGES=(
  "clang-14|command -v clang++-14"
  "libclang-rt-14-dev|compgen -G '/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a'"
)

# What making the packages needs (tools/package, and the package tests of tools/test): the NSIS
# installer compiler, and wixl with msiinfo for the Windows Installer package. "package|probe" pairs.
Q417_PACKAGING_PACKAGES=(
  "nsis|command -v makensis"
  "wixl|command -v wixl"
  "msitools|command -v msiinfo"
)

q417_build() { # preset
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1"
}

# Starts Xvfb and exports DISPLAY. Xvfb picks the display itself (-displayfd): it takes the
# first number that no other server holds, under the X server's own lock, and writes it to fd 3
# once it accepts clients, so two runs on the machine never share a display.
q417_start_xvfb() {
  local ready pid n i
  ready=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$ready" >/dev/null 2>&1 &
  pid=$!
  for i in $(seq 300); do
    # A whole line: the number is written at once, with its line end.
    if read -r n <"$ready" && [[ $n =~ ^[0-9]+$ ]]; then
      Q417_STARTED_PIDS+=($pid)
      rm -f "$ready"
      export DISPLAY=:$n
      return 0
    fi
    kill -0 $pid 2>/dev/null || break
    sleep 0.1
  done
  kill $pid 2>/dev/null
  wait $pid 2>/dev/null || true
  rm -f "$ready"
  echo "Xvfb did not start" >&2
  return 1
}

# Ends the Wine server of $WINEPREFIX, and with it every program of the prefix, and waits for it.
q417_end_wineserver() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
}

# A persistent Wine server for $WINEPREFIX, listening before any program starts: a program that
# finds no server starts one of its own, which ends a few seconds after its last program and
# takes the desktop with it. A server that already runs for the prefix is used as it is.
q417_start_wineserver() {
  local pid i rc=0
  wineserver -f -p >/dev/null 2>&1 &
  pid=$!
  Q417_STARTED_PIDS+=($pid)
  for i in $(seq 300); do
    # It works in its own folder, and listens once its socket is there.
    [[ $(readlink /proc/$pid/cwd 2>/dev/null) == */server-* ]] && [ -S /proc/$pid/cwd/socket ] && return 0
    kill -0 $pid 2>/dev/null || break
    sleep 0.05
  done
  wait $pid 2>/dev/null || rc=$?
  [ $rc = 2 ] && return 0 # another server holds the prefix's lock
  echo "the Wine server did not start" >&2
  return 1
}

# Marlett in the Fonts folder of $WINEPREFIX, read by every program started after it. Its glyphs
# '0', '1' and 'r' draw the minimise, maximise and close buttons of window frames (others draw
# DrawFrameControl's arrows and check marks); without it those letters are drawn instead.
# Debian's Wine 8 ships its own fonts (fonts-wine, /usr/share/wine/fonts) but never loads them:
# it asks for that folder as "\??\Z:\usr\share\wine\../fonts\", a name that Wine's file calls
# refuse (STATUS_OBJECT_NAME_INVALID), and wineboot copies none of them into a new prefix.
# Only Marlett: the other faces (Tahoma among them) would change the panel's text and its sizes.
q417_wine_fonts() {
  local fonts=$WINEPREFIX/drive_c/windows/Fonts source=/usr/share/wine/fonts/marlett.ttf
  [ -f "$fonts/marlett.ttf" ] && return 0
  if [ ! -f "$source" ]; then
    echo "warning: no $source (package fonts-wine): window frames show letters for their buttons" >&2
    return 0
  fi
  mkdir -p "$fonts" && cp "$source" "$fonts/"
}

# A private Wine prefix (build/wineprefix, or the folder given) with a persistent server and its
# desktop for the whole run.
q417_start_wine() {
  export WINEPREFIX=${1:-$Q417_ROOT/build/wineprefix} WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
  q417_start_wineserver || return 1
  if [ ! -f "$WINEPREFIX/.q417-ready" ]; then
    echo "== creating the Wine prefix (once)"
    wineboot -i >/dev/null 2>&1
    # One virtual desktop for every program: windows get Wine's own frames, as on Windows,
    # and programs that look for each other's windows share one desktop.
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null 2>&1
    # A program that crashes ends with its backtrace on stderr, not in a dialog nobody answers.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    touch "$WINEPREFIX/.q417-ready"
    # Making the prefix started a desktop before it was set up as above: it ends with the server.
    q417_end_wineserver
    q417_start_wineserver || return 1
  fi
  q417_wine_fonts || return 1
  # The desktop process is started by the first program that makes a window, holds that
  # program's output handles (a test runner would wait on them) and lives as long as the server.
  # Started here by a program that writes nowhere, which returns once the desktop is ready.
  wine rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1 || {
    echo "the Wine desktop did not start" >&2
    return 1
  }
}

# q417probe (tests/win32/probe) on the control panel of the prefix, its output without the CRs.
# Q417_PROBE names the program, the windows build's by default.
q417_probe() {
  wine "${Q417_PROBE:-$Q417_ROOT/build/windows/testbin/q417probe.exe}" "$@" | tr -d '\r'
}

# The processes of $WINEPREFIX whose command line matches the pattern (as pgrep -f takes it), one
# id a line. Other runs on the machine run the same programs in prefixes of their own.
q417_prefix_pids() {
  local pid
  for pid in $(pgrep -f "$1" || true); do
    # A process may end between the listing and the reading.
    { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
  return 0
}

q417_stop_started() {
  local i pid
  # Wine's own processes of the private prefix end with its server; ask them first.
  [ -n "${WINEPREFIX:-}" ] && timeout 20 wineserver -k >/dev/null 2>&1
  for ((i = ${#Q417_STARTED_PIDS[@]} - 1; i >= 0; i--)); do
    pid=${Q417_STARTED_PIDS[$i]}
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  Q417_STARTED_PIDS=()
  return 0
}
