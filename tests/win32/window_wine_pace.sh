#!/usr/bin/env bash
# The pace of a load at the protocol's real pauses, kvr-loader.exe under Wine
# against the Linux window, in the same run: each loads for 10 s into the
# simulated boot loader at a real 38400-baud line's timing; the time per
# command (the device's first to last frame over the frames) must agree
# within 25 %. Wine tells of received bytes and of a multimedia timer's end
# later than the Linux window's loop learns of them: +2 to +10 % a command
# in runs here, varying with the machine. A pause kept twice (+80 %) or a
# command left to the window's 50 ms supervising look (about +40 %) still
# fails it. Reports the processor time of the Wine process. The pace is
# what is tested: only timing over seconds tells a pause kept twice.
#   window_wine_pace.sh KVR-LOADER.EXE [LINUX-KVR-LOADER]  (else $KVR_LINUX_WINDOW)
source "$(dirname "$0")/window_wine_lib.sh"
linux_window=${2:-$KVR_LINUX_WINDOW}
seconds=10

# per_command NAME: milliseconds per command from the device's report.
per_command() {
  awk '/^device:/ { if ($2 > 1) printf "%.4f", $4 * 1000 / ($2 - 1) }' "$work/$1.device.out"
}

start_device linux COM7 7 --line-baud 38400
pty=$(awk '/^ready/ { print $2 }' "$work/linux.device.out")
: >"$work/linux.trace"
QT_QPA_PLATFORM=xcb "$linux_window" "$image" --port "$pty" --autostart --trace "$work/linux.trace" \
  >"$work/linux.out" 2>&1 7>&- 8>&- 9>&- &
linux_pid=$!
windows+=("$linux_pid")
sleep "$seconds"
kill "$linux_pid"
wait "$linux_pid" 2>/dev/null || true
stop_device linux 7

start_device windows COM8 8 --line-baud 38400
start_window windows "$winimage" --port COM8 --autostart
sleep "$seconds"
cpu=$(awk '{ print $14 + $15 }' "/proc/$window_pid/stat")
kill "$window_pid"
wait "$window_pid" 2>/dev/null || true
stop_device windows 8

linux_ms=$(per_command linux)
windows_ms=$(per_command windows)
[[ -n $linux_ms && -n $windows_ms ]] || fail "a window sent no commands"
grep -h '^device:' "$work/linux.device.out" "$work/windows.device.out"
awk -v l="$linux_ms" -v w="$windows_ms" -v c="$cpu" -v hz="$(getconf CLK_TCK)" -v s="$seconds" 'BEGIN {
  d = (w - l) / l * 100
  printf "time per command: Linux window %.3f ms, Windows window under Wine %.3f ms (%+.2f %%)\n", l, w, d
  printf "processor time of the Wine process over %d s of loading and its start: %.2f s\n", s, c / hz
  exit (d < -25 || d > 25) }' || fail "the windows' pace differs by more than 25 %"
