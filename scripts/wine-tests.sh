#!/usr/bin/env bash
# The Windows builds, cross-compiled with mingw-w64 and tested under Wine:
# installs what is missing (Wine with its 32-bit part, the mingw compilers
# of both architectures, NSIS), builds the 32-bit programs and their stage's
# tests into build/win32 (i686), then the Qt-free libraries, their Windows
# tests, kvr-loader.exe, kvr-loader-cli.exe and the installer that carries
# both builds (kvr-loader-VERSION-setup.exe) into build/win (x86_64), both with
# warnings as errors; checks that no program imports anything later than
# Windows 7 SP1; then runs ctest in build/win in a 64-bit Wine prefix and in
# build/win32 in a 32-bit one, each with COM ports mapped to pseudo-terminals
# served by the native kvr-ptyhost.
#
#   scripts/wine-tests.sh          build and test
#   scripts/wine-tests.sh build    build only
# KVR_CTEST_ARGS (ctest's options, e.g. "-R window_wine_load") applies to
# both stages; KVR_WINE_STAGES ("64 32", the default) picks the stages.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-missing.sh wine64 wine g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix nsis googletest \
  libcli11-dev nlohmann-json3-dev ser2net xvfb xdotool x11-xkb-utils imagemagick fonts-wine jq g++-multilib
# The 32-bit Wine runs the 32-bit programs and the installer (a 32-bit
# program on every Windows). Debian's i386 packages; a machine that cannot
# have them fails here, saying so.
mkdir -p build
if ! scripts/install-missing.sh wine32:i386 >"$root/build/wine32-install.log" 2>&1; then
  echo "Debian's 32-bit Wine (wine32:i386) could not be installed (build/wine32-install.log): no Windows tests" >&2
  exit 1
fi

echo "== native helpers (build/release)"
scripts/setup.sh release >/dev/null

# windows_build DIR TOOLCHAIN ARGS...: configures and builds one architecture.
windows_build() {
  local dir=$1 toolchain=$2
  shift 2
  cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DKVR_WITH_QT=OFF -DKVR_BUILD_BENCH=OFF -DKVR_GTEST_SOURCE=/usr/src/googletest -DKVR_WARNINGS_AS_ERRORS=ON \
    "$@" >/dev/null
  cmake --build "$dir"
}
echo "== Windows build, 32-bit (build/win32)"
windows_build build/win32 mingw-w64-i686.cmake -DKVR_WINDOWS_64BIT_BUILD="$root/build/win"
echo "== Windows build, 64-bit, and the installer (build/win)"
windows_build build/win mingw-w64.cmake -DKVR_WINDOWS_32BIT_BUILD="$root/build/win32"
echo "== imports: nothing later than Windows 7 SP1"
scripts/check-windows-imports.sh build/win/bin/kvr-loader.exe build/win/bin/kvr-loader-cli.exe \
  build/win32/bin/kvr-loader.exe build/win32/bin/kvr-loader-cli.exe
[[ "${1:-}" == build ]] && exit 0

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
log="$root/build/wine.log"
: >"$log"
# An X server for the windows of both stages: the first free display from
# :61, a Russian layout beside the US one before Wine starts (xdotool then
# types Cyrillic exactly).
display=61
while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp -noreset >>"$log" 2>&1 </dev/null &
xvfb=$!
export DISPLAY=":$display"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; [[ -e /tmp/.X11-unix/X$display ]] && break; sleep 0.05; done
setxkbmap -layout us,ru
export KVR_LINUX_WINDOW="$root/build/release/bin/kvr-loader" KVR_RENDER="$root/build/release/bin/kvr-render"
export KVR_PTYHOST="$root/build/release/bin/kvr-ptyhost" KVR_MAKEFILE="$root/build/release/bin/kvr-makefile"
# Wine's own modem-line queries on a pseudo-terminal must not fail (the
# loader's $LIB picks the library of the process's architecture).
export LD_PRELOAD="$root/build/release/\$LIB/libkvr-modem-lines.so"

hosts=()
fifos=()
# stop_hosts: ends the stage's terminal hosts and its wine server.
stop_hosts() {
  for fd in "${fifos[@]}"; do eval "exec ${fd}>&-" 2>/dev/null || true; done
  for pid in "${hosts[@]}"; do kill "$pid" 2>/dev/null || true; done
  hosts=() fifos=()
  wineserver -k >>"$log" 2>&1 </dev/null || true
}
cleanup() {
  stop_hosts
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$root"/build/win*/hosts
}
trap cleanup EXIT

# start_host DIR NAME FD ARGS...: a kvr-ptyhost whose standard input is the
# FIFO kept open on FD (closing FD ends it); waits for its "ready".
start_host() {
  local dir=$1 name=$2 fd=$3
  shift 3
  local fifo="$dir/hosts/$name.in" out="$dir/hosts/$name.out"
  mkdir -p "$dir/hosts"
  rm -f "$fifo"
  mkfifo "$fifo"
  "$KVR_PTYHOST" "$@" <"$fifo" >"$out" 2>&1 &
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

# stage DIR WINEARCH: ctest in DIR, in a Wine prefix of that architecture
# made in DIR/wineprefix.
stage() {
  local dir=$root/$1
  export WINEPREFIX=$dir/wineprefix WINEARCH=$2
  if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    echo "== Wine prefix ($2)"
    wineboot -i >>"$log" 2>&1 </dev/null || true
    wineserver -w >>"$log" 2>&1 </dev/null || true  # the registry files are written when it ends
    [[ -f "$WINEPREFIX/system.reg" ]] || { tail -n 20 "$log" >&2; return 1; }
  fi
  # Wine drawing its own frames (without a window manager, managed windows
  # lose keys and each dialog's close waits 2 s), and the Linux window's
  # colour scheme (Qt's Fusion) as the system's, so that the painted
  # controls can be compared pixel for pixel.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >>"$log" 2>&1 </dev/null
  for colour in "ButtonFace:239 239 239" "ButtonShadow:159 159 159" "ButtonHilight:255 255 255" \
    "WindowFrame:118 118 118"; do
    wine reg add 'HKCU\Control Panel\Colors' /v "${colour%%:*}" /d "${colour#*:}" /f >>"$log" 2>&1 </dev/null
  done
  wineserver -k >>"$log" 2>&1 </dev/null || true  # the settings take effect with the next server

  # The wine server runs before ctest with its streams away from ctest's
  # pipes (a server that inherits them keeps ctest waiting); it also becomes
  # the terminals' session and prints at each hang-up.
  wineserver -p >>"$log" 2>&1 </dev/null
  wine cmd /c exit >>"$log" 2>&1 </dev/null
  start_host "$dir" echo 7 echo "$WINEPREFIX/dosdevices/com5"
  export KVR_ECHO_PORT=COM5

  echo "== ctest under Wine ($2, $1)"
  local start=$SECONDS code=0
  ctest --test-dir "$dir" --output-on-failure ${KVR_CTEST_ARGS:-} || code=$?
  echo "== Wine tests ($2) took $((SECONDS - start)) s"
  stop_hosts
  return $code
}

status=0
for s in ${KVR_WINE_STAGES:-64 32}; do
  case $s in
    64) stage build/win win64 || status=1 ;;
    32) stage build/win32 win32 || status=1 ;;
    *) echo "unknown stage $s (64 or 32)" >&2; status=2 ;;
  esac
done
exit $status
