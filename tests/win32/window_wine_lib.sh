# What the window tests under Wine share (sourced): the simulated device on a
# pseudo-terminal mapped to a COM port, the window started with a trace, and
# the mouse and keys through xdotool at the places the trace names. Run from
# scripts/wine-tests.sh, which sets up the prefix, the X server (DISPLAY) and
# KVR_PTYHOST, KVR_MAKEFILE.
set -euo pipefail
window_exe=$1
work=$(mktemp -d)
devices=()
declare -A device_pid
windows=()
mark=0
main_window=
cleanup() {
  for fd in 7 8 9; do eval "exec ${fd}>&-" 2>/dev/null || true; done
  for pid in "${windows[@]}" "${devices[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*"
  for t in "$work"/*.trace "$work"/Обновление/*.trace; do [[ -f $t ]] && { echo "--- $t"; tail -n 15 "$t"; }; done
  for o in "$work"/*.device.out; do [[ -f $o ]] && { echo "--- $o"; cat "$o"; }; done
  exit 1
}

# start_device NAME COMn FD [--line-baud N]: the simulated boot loader on COMn,
# its standard input the FIFO kept open on FD ("h" hangs it up, closing ends it).
start_device() {
  local name=$1 com=$2 fd=$3
  shift 3
  mkfifo "$work/$name.in"
  # (no process but this shell may hold a device's FIFO open: its end is the shell's to give)
  "$KVR_PTYHOST" device "$WINEPREFIX/dosdevices/${com,,}" "$image" "$@" <"$work/$name.in" >"$work/$name.device.out" \
    2>&1 7>&- 8>&- 9>&- &
  devices+=($!)
  device_pid[$name]=$!
  eval "exec ${fd}>\"$work/$name.in\""
  for _ in $(seq 100); do grep -q ready "$work/$name.device.out" && return 0; sleep 0.05; done
  fail "the device $name did not start"
}

# stop_device NAME FD: ends it and waits for its whole report (its last
# line written, it ends).
stop_device() {
  eval "exec ${2}>&-"
  for _ in $(seq 100); do kill -0 "${device_pid[$1]}" 2>/dev/null || break; sleep 0.05; done
  grep -q '^device:' "$work/$1.device.out" || fail "the device $1 did not report"
}


# start_window NAME ARGS...: kvr-loader.exe with its trace in the Cyrillic
# folder of the image, NAME.trace; waits until it is up (its layout traced).
# Sets window_pid.
start_window() {
  local name=$1
  shift
  trace=$work/Обновление/$name.trace
  : >"$trace"
  wine "$window_exe" --trace "$(winepath -w "$trace")" "$@" </dev/null >"$work/$name.out" 2>&1 7>&- 8>&- 9>&- &
  window_pid=$!
  windows+=("$window_pid")
  mark=0
  wait_trace '^layout gauge ' 30 || fail "the window $name did not come up"
  main_window=$(timeout 10 xdotool search --sync --onlyvisible --name "$caption" | head -n 1)
  [[ -n $main_window ]] || fail "the window $name is not on the screen"
}

# mark_trace: what the trace holds now is old; wait_trace looks only after it.
mark_trace() { mark=$(wc -l <"$trace"); }

# wait_until SECONDS COMMAND...: until COMMAND succeeds, looked at every
# 50 ms; fails after SECONDS.
wait_until() {
  local deadline=$((SECONDS + $1))
  shift
  while ((SECONDS < deadline)); do
    "$@" && return 0
    sleep 0.05
  done
  return 1
}

# trace_has PATTERN: the trace has, after the mark, a line matching PATTERN.
trace_has() { tail -n +$((mark + 1)) "$trace" 2>/dev/null | grep -qE "$1"; }

# wait_trace PATTERN SECONDS: until the trace has, after the mark, a line matching PATTERN.
wait_trace() { wait_until "$2" trace_has "$1"; }

count_trace() { grep -cE "$1" "$trace" || true; }

# wait_pages N SECONDS: until the trace has shown N pages' loads in all.
wait_pages() {
  local deadline=$((SECONDS + $2))
  until (($(count_trace '^status Загрузка страницы') >= $1)); do
    ((SECONDS < deadline)) || return 1
    sleep 0.05
  done
}

# at NAME DX DY: the screen point DX, DY into control NAME (from the trace).
at() {
  local cx cy x y
  read -r cx cy < <(awk '$2 == "client" { print $3, $4 }' "$trace")
  read -r x y < <(awk -v n="$1" '$2 == n { print $3, $4 }' "$trace")
  echo $((cx + x + $2)) $((cy + y + $3))
}

click() {
  read -r x y < <(at "$@")
  xdotool mousemove "$x" "$y" click 1
}

# The window's caption; its message boxes and questions bear it too.
caption='Загрузчик DATAFLASH'

# boxes: the X windows on the screen bearing the caption but for the
# window's own (its message boxes and questions), one a line.
boxes() {
  local ids id
  ids=$(xdotool search --onlyvisible --name "$caption" 2>/dev/null) || return 0
  (($(wc -l <<<"$ids") > 1)) || return 0
  for id in $ids; do
    [[ $id == "$main_window" ]] || echo "$id"
  done
}

# wait_box SECONDS: until a message box or question is on the screen (its
# keys then reach it: Wine gives a thread's keys to the window that has its
# focus when it takes them, whichever of its X windows the X server gave
# them to); prints its X window.
box_up() { [[ -n $(boxes) ]]; }
no_box() { [[ -z $(boxes) ]]; }
wait_box() { wait_until "$1" box_up && boxes | head -n 1; }

# wait_no_box SECONDS: until no message box or question is on the screen.
wait_no_box() { wait_until "$1" no_box; }

# wait_keyboard ID SECONDS: until the X window ID has the X keyboard focus (Wine
# moves it to the file dialogs it shows once they are active).
has_keyboard() { [[ $(xdotool getwindowfocus 2>/dev/null) == "$1" ]]; }
wait_keyboard() { wait_until "$2" has_keyboard "$1"; }

# drop_down: the port list's drop-down (an X window of the program's right
# under the list) while it is on the screen.
drop_down() {
  local cx cy x y h id geometry X Y WIDTH HEIGHT SCREEN WINDOW
  read -r cx cy < <(awk '$2 == "client" { print $3, $4 }' "$trace")
  read -r x y h < <(awk '$2 == "port-list" { print $3, $4, $6 }' "$trace")
  for id in $(xdotool search --onlyvisible --classname kvr-loader.exe 2>/dev/null); do
    geometry=$(xdotool getwindowgeometry --shell "$id" 2>/dev/null) || continue
    eval "$geometry"
    if ((X == cx + x && Y == cy + y + h)); then echo "$id"; fi
  done
}

# wait_drop_down SECONDS / wait_drop_down_gone SECONDS: until the port
# list's drop-down is on the screen / closed.
drop_down_up() { [[ -n $(drop_down) ]]; }
drop_down_gone() { [[ -z $(drop_down) ]]; }
wait_drop_down() { wait_until "$1" drop_down_up; }
wait_drop_down_gone() { wait_until "$1" drop_down_gone; }

# The window's own X window, for keys.
focus_window() {
  local id
  id=$(timeout 10 xdotool search --sync --name 'Загрузчик DATAFLASH' | head -n 1)
  [[ -n $id ]] || fail "the window is not on the screen"
  xdotool windowactivate --sync "$id" 2>/dev/null || xdotool windowfocus --sync "$id"
}

# wait_exit SECONDS: the window's exit code (fails after SECONDS).
wait_exit() {
  local deadline=$((SECONDS + $1))
  while kill -0 "$window_pid" 2>/dev/null; do
    ((SECONDS < deadline)) || fail "the window did not end within $1 s"
    sleep 0.1
  done
  wait "$window_pid"
}

image="$work/Обновление/IMAGE.KVR"
mkdir -p "$(dirname "$image")"
"$KVR_MAKEFILE" "$image" >/dev/null
winimage=$(winepath -w "$image")
