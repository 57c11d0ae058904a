#!/usr/bin/env bash
# The Windows build, cross-compiled with mingw-w64 and tested under Wine:
# installs what is missing (wine64, wine, the mingw compiler, NSIS), builds the
# Qt-free libraries, their Windows tests, kvr-loader.exe, kvr-loader-cli.exe and
# the installer (kvr-loader-VERSION-setup.exe) into build/win, makes a Wine
# prefix there, maps COM ports to pseudo-terminals served by the native
# kvr-ptyhost, and runs ctest in build/win.
#
#   scripts/wine-tests.sh          build and test
#   scripts/wine-tests.sh build    build only
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-missing.sh wine64 wine g++-mingw-w64-x86-64-posix nsis googletest libcli11-dev nlohmann-json3-dev \
  ser2net xvfb xdotool x11-xkb-utils imagemagick fonts-wine jq

echo "== native helpers (build/release)"
scripts/setup.sh release >/dev/null

echo "== Windows build (build/win)"
cmake -S . -B build/win -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DKVR_WITH_QT=OFF -DKVR_BUILD_BENCH=OFF -DKVR_GTEST_SOURCE=/usr/src/googletest >/dev/null
cmake --build build/win
echo "== imports: nothing later than Windows 7 SP1"
scripts/check-windows-imports.sh build/win/bin/kvr-loader.exe build/win/bin/kvr-loader-cli.exe
[[ "${1:-}" == build ]] && exit 0

export WINEPREFIX="$root/build/win/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
log="$root/build/win/wine.log"
: >"$log"
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  echo "== Wine prefix"
  # (a 64-bit-only Wine complains about the 32-bit part; the prefix is usable)
  wineboot -i >>"$log" 2>&1 </dev/null || true
  wineserver -w >>"$log" 2>&1 </dev/null || true  # the registry files are written when it ends
  [[ -f "$WINEPREFIX/system.reg" ]] || { cat "$log" >&2; exit 1; }
fi
# An X server for the window: the first free display from :61, a Russian
# layout beside the US one before Wine starts (xdotool then types Cyrillic
# exactly), Wine drawing its own frames (without a window manager, managed
# windows lose keys and each dialog's close waits 2 s), and the Linux
# window's colour scheme (Qt's Fusion) as the system's, so that the painted
# controls can be compared pixel for pixel.
display=61
while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp -noreset >>"$log" 2>&1 </dev/null &
xvfb=$!
export DISPLAY=":$display"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; [[ -e /tmp/.X11-unix/X$display ]] && break; sleep 0.05; done
setxkbmap -layout us,ru
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >>"$log" 2>&1 </dev/null
for colour in "ButtonFace:239 239 239" "ButtonShadow:159 159 159" "ButtonHilight:255 255 255" \
  "WindowFrame:118 118 118"; do
  wine reg add 'HKCU\Control Panel\Colors' /v "${colour%%:*}" /d "${colour#*:}" /f >>"$log" 2>&1 </dev/null
done
wineserver -k >>"$log" 2>&1 </dev/null || true  # the settings take effect with the next server
export KVR_LINUX_WINDOW="$root/build/release/bin/kvr-loader" KVR_RENDER="$root/build/release/bin/kvr-render"

# Wine's own modem-line queries on a pseudo-terminal must not fail.
export LD_PRELOAD="$root/build/release/lib/libkvr-modem-lines.so"

hosts=()
fifos=()
cleanup() {
  for fd in "${fifos[@]}"; do eval "exec ${fd}>&-" 2>/dev/null || true; done
  for pid in "${hosts[@]}"; do kill "$pid" 2>/dev/null || true; done
  wineserver -k >>"$log" 2>&1 </dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$root/build/win/hosts"
}
trap cleanup EXIT

# The wine server runs before ctest with its streams away from ctest's pipes
# (a server that inherits them keeps ctest waiting); it also becomes the
# terminals' session and prints at each hang-up.
wineserver -p >>"$log" 2>&1 </dev/null
wine cmd /c exit >>"$log" 2>&1 </dev/null

# start_host NAME FD ARGS...: a kvr-ptyhost whose standard input is the FIFO
# kept open on FD (closing FD ends it); waits for its "ready".
mkdir -p "$root/build/win/hosts"
start_host() {
  local name=$1 fd=$2
  shift 2
  local fifo="$root/build/win/hosts/$name.in" out="$root/build/win/hosts/$name.out"
  mkfifo "$fifo"
  "$root/build/release/bin/kvr-ptyhost" "$@" <"$fifo" >"$out" 2>&1 &
  hosts+=($!)
  eval "exec ${fd}>\"$fifo\""
  fifos+=("$fd")
  for _ in $(seq 100); do
    grep -q ready "$out" 2>/dev/null && return 0
    sleep 0.05
  done
  echo "kvr-ptyhost $name did not start" >&2
  cat "$out" >&2
  return 1
}
start_host echo 7 echo "$WINEPREFIX/dosdevices/com5"
export KVR_ECHO_PORT=COM5
export KVR_PTYHOST="$root/build/release/bin/kvr-ptyhost" KVR_MAKEFILE="$root/build/release/bin/kvr-makefile"

echo "== ctest under Wine"
start=$(date +%s)
ctest --test-dir build/win --output-on-failure ${KVR_CTEST_ARGS:-}
echo "== Wine tests took $(($(date +%s) - start)) s"
