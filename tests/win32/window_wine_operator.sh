#!/usr/bin/env bash
# kvr-loader.exe under Wine used as an operator would, with the mouse and the
# keyboard through xdotool, each step checked in the window's trace and in
# what the simulated device took:
#  - the registry's stored index preselects its port;
#  - the file opened through the "..." dialog from a folder named in Cyrillic;
#  - a cell edited with the keyboard, saved with Ctrl+S through the save
#    dialog (the saved file the image but for that cell), a file over 64 MiB
#    refused after it, and the edited line going out to the device;
#  - a press dragged off the switch starts nothing;
#  - a double click on the switch is one press (one load, still running);
#  - closing mid-load asks, and "Нет" keeps the load going;
#  - one click stops the running load;
#  - the keyboard: Tab from the file's field reaches the switch, Space starts
#    a load, Tab and Shift+Tab over the locked inputs come back to it, Space
#    stops it, and a Space held down (auto-repeat) is one press;
#  - a port that vanishes mid-load gives "Потеряна связь с портом COM8".
source "$(dirname "$0")/window_wine_lib.sh"
key='HKCU\SOFTWARE\ZENOVA\KVR_LORVENT_LOADER'
start_device main COM7 7 --line-baud 38400
start_device spare COM8 8 --line-baud 38400

# The stored index 1 preselects the second port of the list.
wine reg add "$key" /v COM /d 1 /f >/dev/null 2>&1
start_window main
wine reg delete "$key" /v COM /f >/dev/null 2>&1 || true
ports=$(grep '^ports ' "$trace" | tail -n 1)
read -r -a listed <<<"${ports#ports }"
[[ ${listed[-1]} == 1 && ${#listed[@]} -ge 4 ]] || fail "the stored index 1 is not the chosen port: $ports"
chosen=${listed[1]}
echo "registry: COM=1 preselects $chosen ($ports)"

# The "..." dialog: the name typed into its name box, from a Cyrillic folder.
mark_trace
click open-file 16 12
dialog=$(timeout 10 xdotool search --sync --name 'Файл для загрузки' | head -n 1)
[[ -n $dialog ]] || fail "the open dialog did not come up"
xdotool windowactivate --sync "$dialog" 2>/dev/null || true
wait_keyboard "$dialog" 10 || fail "the open dialog did not take the keyboard"
xdotool type --delay 20 "$winimage"
xdotool key Return
wait_trace "^file .*Обновление.IMAGE.KVR$" 10 || fail "the file chosen in the dialog was not opened"
wait_trace '^status Загрузка данных' 10 || fail "the opened file did not give its page count"
echo "dialog: $(grep '^file ' "$trace" | tail -n 1)"

# A cell clicked (the second line's fifth byte: 64 pixels of headings, 44 a
# cell, 24 a row below the headings), the current cell moved with the
# keyboard to its seventh and typed over.
click data-grid $((64 + 4 * 44 + 20)) $((24 + 24 + 12))
xdotool key Right Right
xdotool type AB
xdotool key Return
# (the editor's Return is taken before the keys below: the window takes its
# keys in order, and the edit shows in the saved file and in the load)

# Go to: Ctrl+G, a line of the file typed, and the grid's current cell is there;
# an address past the image is refused and nothing moves.
mark_trace
focus_window
xdotool key ctrl+g
wait_trace '^text question Перейти' 5 || fail "Ctrl+G did not ask where to go"
wait_box 5 >/dev/null || fail "the question where to go is not on the screen"
xdotool type --delay 20 '#100'
xdotool key Return
wait_trace '^cell 99 0$' 5 || fail "going to line 100 did not show row 99"
mark_trace
xdotool key ctrl+g
wait_trace '^text question Перейти' 5 || fail "Ctrl+G did not ask again"
wait_box 5 >/dev/null || fail "the question where to go is not on the screen again"
xdotool type --delay 20 '90000'
xdotool key Return
wait_trace '^message Адреса 90000 нет' 5 || fail "an address past the image was not refused"
wait_box 5 >/dev/null || fail "the refusal of address 90000 is not on the screen"
xdotool key Return
wait_no_box 5 || fail "the refusal of address 90000 stayed on the screen after Return"
[[ $(tail -n +$((mark + 1)) "$trace" | grep -c '^cell ') -eq 0 ]] || fail "a refused place moved the grid"
echo "go to: line 100 shown, address 90000 refused"

# Save as: Ctrl+S and a name typed into the save dialog (".KVR" added); the
# saved file is the image but for the edited cell (the second line's seventh
# byte: characters 47 and 48), and the window works on it from then on.
mark_trace
focus_window
xdotool key ctrl+s
dialog=$(timeout 10 xdotool search --sync --name 'Сохранить файл обновления как' | head -n 1)
[[ -n $dialog ]] || fail "Ctrl+S brought up no save dialog"
xdotool windowactivate --sync "$dialog" 2>/dev/null || true
wait_keyboard "$dialog" 10 || fail "the save dialog did not take the keyboard"
# Into the name box by its key (Alt+N), which selects the name offered there
# (taken before the name typed: the dialog takes its keys in order).
xdotool key alt+n
xdotool type --delay 20 "$(winepath -w "$(dirname "$image")")\\SAVED"
xdotool key Return
# (Wine's dialog adds the filter's extension in lower case)
wait_trace '^file .*SAVED\.(KVR|kvr)$' 10 || fail "the image was not saved as SAVED.KVR"
saved=$(grep '^file ' "$trace" | tail -n 1)
saved=$(dirname "$image")/${saved##*\\}
[[ $(stat -c %s "$saved") -eq $(stat -c %s "$image") && $(head -c 48 "$saved" | tail -c 2) == AB ]] ||
  fail "the saved file is not the image with the edited cell"
{ cmp -l "$image" "$saved" || true; } | awk '$1 != 47 && $1 != 48 { bad = 1 } END { exit bad }' ||
  fail "the saved file differs from the image beyond the edited cell: $(cmp -l "$image" "$saved" | head -n 5)"
echo "save as: SAVED.KVR is the image but for the edited cell"

# A file over 64 MiB chosen after it is refused with a message, and the
# window keeps the saved file (the load below sends its image).
big=$(dirname "$image")/BIG.KVR
truncate -s $((64 * 1024 * 1024 + 1)) "$big"
mark_trace
click open-file 16 12
dialog=$(timeout 10 xdotool search --sync --name 'Файл для загрузки' | head -n 1)
[[ -n $dialog ]] || fail "the open dialog did not come up again"
xdotool windowactivate --sync "$dialog" 2>/dev/null || true
wait_keyboard "$dialog" 10 || fail "the open dialog did not take the keyboard again"
xdotool type --delay 20 "$(winepath -w "$big")"
xdotool key Return
wait_trace '^message Неправильный файл обновления.*' 10 || fail "the file over 64 MiB was not refused"
wait_box 5 >/dev/null || fail "the refusal of the file over 64 MiB is not on the screen"
xdotool key Return
wait_no_box 5 || fail "the refusal of the file over 64 MiB stayed on the screen after Return"
[[ $(grep '^file ' "$trace" | tail -n 1) == *SAVED.[Kk][Vv][Rr] ]] || fail "the refused file replaced the one open"
echo "refused: BIG.KVR, the window kept SAVED.KVR"

# A press on the switch released outside it: no load.
mark_trace
read -r x y < <(at start-switch 100 16)
xdotool mousemove "$x" "$y" mousedown 1 mousemove $((x + 450)) $((y + 200)) mouseup 1
# The release shows the switch as the load's state is (after any click it made).
wait_trace '^switch (on|off)' 5 || fail "the release off the switch was not taken"
sleep 0.5  # (deliberately: no load may start a while after the release either)
[[ $(count_trace '^inputs locked') -eq 0 ]] || fail "a press dragged off the switch started a load"
[[ $(tail -n +$((mark + 1)) "$trace" | grep -E '^switch (on|off)' | tail -n 1) == 'switch off' ]] ||
  fail "the switch was not shown off again after the press"
echo "drag off the switch: nothing started"

# The port chosen on COM7: the list opened, the first COM7 entry taken.
# (The registry chose the second entry; the load must go to COM7's device.)
index=-1
for i in "${!listed[@]}"; do [[ ${listed[$i]} == COM7 ]] && { index=$((i - 0)); break; }; done
[[ $index -ge 0 ]] || fail "COM7 is not listed: $ports"
focus_window
mark_trace
click port-list 60 10
wait_trace '^ports ' 5 || fail "the port list did not open"  # (listed anew as it opens)
wait_drop_down 5 || fail "the port list's drop-down is not on the screen"
xdotool key Home
for ((i = 0; i < index; i++)); do xdotool key Down; done
xdotool key Return
wait_drop_down_gone 5 || fail "the port list stayed open after Return"

# A double click: one press, one load that goes on.
mark_trace
read -r x y < <(at start-switch 100 16)
xdotool mousemove "$x" "$y" click --repeat 2 --delay 120 1
wait_trace '^inputs locked' 5 || fail "a double click on the switch started no load"
# The load goes on: two pages more after both clicks were made.
wait_pages $(($(count_trace '^status Загрузка страницы') + 2)) 20 || fail "the load after a double click did not go on"
[[ $(count_trace '^inputs locked') -eq 1 && $(count_trace '^inputs unlocked') -eq 0 ]] ||
  fail "a double click was not one press"
echo "double click: one load, still running"

# Closing mid-load asks; the default answer, "Нет", keeps the load.
focus_window
mark_trace
xdotool key alt+F4
wait_trace '^question Загрузка не завершена' 5 || fail "closing mid-load did not ask"
wait_box 5 >/dev/null || fail "the question on closing is not on the screen"
xdotool key Return
wait_trace '^answer no' 5 || fail "the question was not answered no"
before=$(count_trace '^status Загрузка страницы')
wait_pages $((before + 2)) 20 || fail "the load did not go on after \"Нет\""
[[ $(count_trace '^status Загрузка страницы') -gt $before && $(count_trace '^inputs unlocked') -eq 0 ]] ||
  fail "the load did not go on after \"Нет\""
echo "close mid-load: asked, \"Нет\" kept the load"

# One click stops it.
mark_trace
click start-switch 100 16
wait_trace '^inputs unlocked' 5 || fail "one click did not stop the load"
wait_trace '^switch off' 5 || fail "the switch was not shown off"
kill -0 "$window_pid" || fail "the window ended"
echo "one click: the load stopped"

# The keyboard: from the file's field, Tab past its button and the port list
# to the switch; Space starts a load and stops it.
mark_trace
click file-path 40 10
wait_trace '^switch unfocused' 5 || fail "the switch kept the focus after a click elsewhere (or never had it)"
mark_trace
xdotool key Tab Tab
sleep 0.3  # (deliberately: the two Tabs taken, the switch must not show focused meanwhile)
[[ $(tail -n +$((mark + 1)) "$trace" | grep -c '^switch focused') -eq 0 ]] || fail "two Tabs from the file's field reached the switch"
xdotool key Tab
wait_trace '^switch focused' 5 || fail "the third Tab from the file's field did not reach the switch"
mark_trace
xdotool key space
wait_trace '^inputs locked' 5 || fail "Space on the switch started no load"
wait_trace '^switch on' 5 || fail "the switch was not shown on"
# While the load runs, away over the pages' tabs and back.
mark_trace
xdotool key Tab
wait_trace '^switch unfocused' 5 || fail "Tab did not leave the switch during the load"
xdotool key shift+Tab
wait_trace '^switch focused' 5 || fail "Shift+Tab did not come back to the switch during the load"
(($(count_trace '^inputs locked') == $(count_trace '^inputs unlocked') + 1)) || fail "the load ended on its own"
mark_trace
xdotool key space
wait_trace '^inputs unlocked' 5 || fail "Space on the switch did not stop the load"
wait_trace '^switch off' 5 || fail "the switch was not shown off after Space"
echo "keyboard: Tab reached the switch, Space started the load and stopped it"
# Space held down for a second: the window system repeats it, and it is one press.
mark_trace
xdotool keydown space
sleep 1  # (deliberately: held down, the key repeats)
xdotool keyup space
wait_trace '^inputs locked' 5 || fail "a held Space started no load"
sleep 1  # (deliberately: no second press from the repeats may come meanwhile)
[[ $(tail -n +$((mark + 1)) "$trace" | grep -c '^inputs locked') -eq 1 &&
  $(tail -n +$((mark + 1)) "$trace" | grep -c '^inputs unlocked') -eq 0 ]] || fail "a held Space was not one press"
mark_trace
xdotool key Return
wait_trace '^inputs unlocked' 5 || fail "Enter on the switch did not stop the load"
echo "keyboard: a held Space was one press, Enter stopped the load"

# The edited line went out: the device's first line that differs from the file.
stop_device main 7
grep -qE '^first difference: line 1: [0-9A-F]{12}AB' "$work/main.device.out" ||
  fail "the edited cell did not go out to the device"
echo "cell edit: $(grep '^first difference' "$work/main.device.out")"

# A port that vanishes mid-load (COM8's device hangs up).
index8=-1
for i in "${!listed[@]}"; do [[ ${listed[$i]} == COM8 ]] && index8=$i; done
focus_window
mark_trace
click port-list 60 10
wait_trace '^ports ' 5 || fail "the port list did not open again"
wait_drop_down 5 || fail "the port list's drop-down is not on the screen"
xdotool key Home
for ((i = 0; i < index8; i++)); do xdotool key Down; done
xdotool key Return
wait_drop_down_gone 5 || fail "the port list stayed open after Return again"
pages=$(count_trace '^status Загрузка страницы')
mark_trace
click start-switch 100 16
wait_pages $((pages + 2)) 30 || fail "no load on COM8"
echo h >&8
wait_trace '^message Потеряна связь с портом COM8' 10 || fail "the lost port was not told"
wait_box 5 >/dev/null || fail "the lost port's message is not on the screen"
xdotool key Return
wait_trace '^inputs unlocked' 5 || fail "the window did not end the lost load"
echo "vanishing port: $(grep '^message Потеряна' "$trace")"

focus_window
xdotool key alt+F4
code=0
wait_exit 10 || code=$?
[[ $code -eq 0 ]] || fail "closing the idle window exited with $code"
echo "operator checks: all passed"
