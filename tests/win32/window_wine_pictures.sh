#!/usr/bin/env bash
# kvr-loader.exe under Wine beside the Linux window, in the same X server, the
# same file open and the same (idle) state: every control's rectangle in the
# same place, and the start switch and the gauge pixel for pixel as
# kvr-render paints them, their text excepted (the fonts differ). Screenshots
# of both windows stay in $KVR_PICTURES when it is set.
#   window_wine_pictures.sh KVR-LOADER.EXE [LINUX-KVR-LOADER KVR-RENDER]  (else $KVR_LINUX_WINDOW, $KVR_RENDER)
source "$(dirname "$0")/window_wine_lib.sh"
linux_window=${2:-$KVR_LINUX_WINDOW}
render=${3:-$KVR_RENDER}
out=${KVR_PICTURES:-$work}
mkdir -p "$out"

# shot NAME TRACE: the client area from a screenshot of the screen, once the
# first paint is on it: not one colour, and as the screenshot before.
shot() {
  local cx cy w h deadline=$((SECONDS + 10))
  read -r cx cy w h < <(awk '$2 == "client" { print $3, $4, $5, $6 }' "$2")
  rm -f "$work/shot-before.png"
  while :; do
    import -window root "$work/screen.png"
    convert "$work/screen.png" -crop "${w}x${h}+${cx}+${cy}" +repage "$out/$1.png"
    if [[ -f $work/shot-before.png && $(convert "$out/$1.png" -format %k info:) -gt 1 &&
      $(compare -metric AE "$out/$1.png" "$work/shot-before.png" null: 2>&1 || true) == 0 ]]; then
      return 0
    fi
    ((SECONDS < deadline)) || fail "the $1 window's picture did not settle"
    cp "$out/$1.png" "$work/shot-before.png"
    sleep 0.1
  done
}

# The Linux window.
: >"$work/linux.trace"
QT_QPA_PLATFORM=xcb "$linux_window" "$image" --port /dev/null --trace "$work/linux.trace" >"$work/linux.out" 2>&1 7>&- 8>&- 9>&- &
linux_pid=$!
windows+=("$linux_pid")
trace=$work/linux.trace
wait_trace '^layout gauge ' 30 || fail "the Linux window did not come up"
shot linux "$work/linux.trace"
kill "$linux_pid"
wait "$linux_pid" 2>/dev/null || true

start_window windows "$winimage"
windows_trace=$trace
shot windows "$trace"
focus_window
xdotool key alt+F4
wait_exit 10 || fail "the window did not close"

# Rectangles: as placed (the labels' sizes and the times' width follow their text and font).
status=0
while read -r _ name x y w h; do
  read -r wx wy ww wh < <(awk -v n="$name" '$2 == n { print $3, $4, $5, $6 }' "$windows_trace")
  case $name in
    client) [[ "$w $h" == "$ww $wh" ]] ;;
    file-label | port-label) [[ "$x $y" == "$wx $wy" ]] ;;
    load-times | debug-log) true ;;  # a text's width; a hidden page the Linux window never laid out
    *) [[ "$x $y $w $h" == "$wx $wy $ww $wh" ]] ;;
  esac || { echo "rectangle $name: Linux $x $y $w $h, Windows $wx $wy $ww $wh"; status=1; }
done < <(grep '^layout ' "$work/linux.trace")
[[ $status -eq 0 ]] || fail "the windows' rectangles differ"
echo "rectangles: all $(grep -c '^layout ' "$work/linux.trace") in the same places"

# The painted controls against kvr-render's pictures; the text's box (where
# the picture with a caption differs from the one without, 3 pixels more
# around) is masked in both.
# compare_control NAME X Y W H RENDER-ARGS... -- RENDER-ARGS-WITHOUT-TEXT...
compare_control() {
  local name=$1 x=$2 y=$3 w=$4 h=$5
  shift 5
  local with=() without=()
  while [[ $1 != -- ]]; do with+=("$1"); shift; done
  shift
  without=("$@")
  "$render" "${with[@]}" -o "$work/$name.render.png" >/dev/null
  "$render" "${without[@]}" -o "$work/$name.bare.png" >/dev/null
  local box
  box=$(compare -metric AE "$work/$name.render.png" "$work/$name.bare.png" -compose src -highlight-color white \
    -lowlight-color black "$work/$name.diff.png" 2>/dev/null; convert "$work/$name.diff.png" -format '%@' info:)
  local bw bh bx by
  IFS='x+' read -r bw bh bx by <<<"$box"
  local mask="rectangle $((bx - 3)),$((by - 3)) $((bx + bw + 2)),$((by + bh + 2))"
  for side in windows linux; do
    convert "$out/$side.png" -crop "${w}x${h}+${x}+${y}" +repage -fill black -draw "$mask" "$work/$name.$side.png"
  done
  convert "$work/$name.render.png" -fill black -draw "$mask" "$work/$name.masked.png"
  for side in windows linux; do
    local differ
    differ=$(compare -metric AE "$work/$name.$side.png" "$work/$name.masked.png" null: 2>&1 || true)
    echo "$name ($side window): $differ of $((w * h)) pixels differ from kvr-render's outside the text ${bw}x${bh}+${bx}+${by}"
    [[ $differ == 0 ]] || status=1
  done
}
read -r _ _ sx sy sw sh < <(grep '^layout start-switch ' "$windows_trace")
read -r _ _ gx gy gw gh < <(grep '^layout gauge ' "$windows_trace")
compare_control switch "$sx" "$sy" "$sw" "$sh" button --size "${sw}x${sh}" -- button --size "${sw}x${sh}" --textoff ""
compare_control gauge "$gx" "$gy" "$gw" "$gh" gauge --size "${gw}x${gh}" -- gauge --size "${gw}x${gh}" --showtext 0
[[ $status -eq 0 ]] || fail "the painted controls differ from kvr-render's pictures"
echo "pictures: the switch and the gauge as kvr-render paints them"
