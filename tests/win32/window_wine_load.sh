#!/usr/bin/env bash
# A whole load by kvr-loader.exe under Wine, as an operator's script would
# run it: --fast --autostart --exit-at-end into the simulated boot loader on a
# pseudo-terminal mapped to COM7; exit 0 and the device's image equal to the
# file. Reports the start-up time (start to the window's controls placed),
# the load's time and the processor time of the Wine process.
source "$(dirname "$0")/window_wine_lib.sh"
start_device load COM7 7
start=$(date +%s.%N)
record="$work/Обновление/загрузки.jsonl"  # the record beside the image, in the Cyrillic folder
start_window load "$winimage" --port COM7 --fast --autostart --exit-at-end --record "$(winepath -w "$record")"
up=$(date +%s.%N)
cpu=0  # `wine` becomes the program's process: its user and system time, read until it ends
deadline=$((SECONDS + 400))
while kill -0 "$window_pid" 2>/dev/null; do
  ((SECONDS < deadline)) || fail "the load did not end within 400 s"
  cpu=$(awk '{ print $14 + $15 }' "/proc/$window_pid/stat" 2>/dev/null || echo "$cpu")
  sleep 0.2
done
status=0
wait "$window_pid" || status=$?
end=$(date +%s.%N)
stop_device load 7
cat "$work/load.out"
cat "$work/load.device.out"
awk -v s="$start" -v u="$up" -v e="$end" -v c="$cpu" -v hz="$(getconf CLK_TCK)" 'BEGIN {
  printf "kvr-loader.exe under Wine: up in %.2f s, load and exit in %.1f s, processor time %.1f s\n", u - s, e - u, c / hz }'
[[ $status -eq 0 ]] || fail "kvr-loader.exe exited with $status"
grep -q 'image equal to the file' "$work/load.device.out" || fail "the device's image differs"
grep -q '^switch on' "$trace" && grep -q '^switch off' "$trace" || fail "the switch was not shown on and off"
grep -q '"result":"complete"' "$record" || fail "no complete load in the record $record"
echo "window load: complete, image equal, recorded in a Cyrillic folder"

# The command line's other documented uses: the version on the console, and
# --simulate with the simulated boot loader inside the program (port SIM,
# preselected), stopped by closing the window and answering "Да".
version=$(wine "$window_exe" --version </dev/null 2>/dev/null 7>&- 8>&- 9>&-)
[[ $version == "kvr-loader 1.0.0"* ]] || fail "--version printed \"$version\""
start_window simulate --simulate "$winimage" --fast --autostart
grep -qE '^ports SIM( .*)? chosen 0$' "$trace" || fail "the simulated port is not listed first and chosen"
pages=0
deadline=$((SECONDS + 20))
until ((pages >= 3)); do
  ((SECONDS < deadline)) || fail "the simulated device took no pages"
  pages=$(count_trace '^status Загрузка страницы')
  sleep 0.2
done
focus_window
xdotool key alt+F4
wait_trace '^question Загрузка не завершена' 5 || fail "closing mid-load did not ask"
wait_box 5 >/dev/null || fail "the question on closing is not on the screen"
xdotool key Tab Return
wait_trace '^answer yes' 5 || fail "the question was not answered \"Да\""
code=0
wait_exit 15 || code=$?
[[ $code -eq 0 ]] || fail "closing with \"Да\" exited with $code"
echo "--simulate: $pages pages into the in-process device, closed mid-load with \"Да\""
