#!/usr/bin/env bash
# How fast each window answers while it loads, seen from outside its process:
# bench_window_ping pings the window with _NET_WM_PING under an Xvfb display
# of this script's own and times the answers, in three states:
#   idle       the window up, no load;
#   real pace  a load into the simulated device at the protocol's pause
#              (more than 50 ms before each command);
#   pause 0    the same with --fast (no pauses), over several loads pinged
#              2.5 s each, as a whole image then takes only seconds.
# First the Linux window (build/release/bin/kvr-loader), then, when the
# Windows build is there (build/win/bin/kvr-loader.exe, made by
# scripts/wine-tests.sh build) and Wine is installed, the Windows window under
# Wine. Prints a table: pings, lost ones, median, p99 and worst round trip,
# each beside its ratio to the same window's idle figure.
#
#   bench/window_latency.sh [SECONDS] [PINGS_PER_SECOND]   (default 20 s, 20 a second)
#
# Bounded in time: each measurement stops after SECONDS (the window's start-up
# and a few seconds' grace aside); the programs, the Wine server and the Xvfb
# this script started are ended when it ends.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:-20}
rate=${2:-20}
title=DATAFLASH  # in both windows' caption

bin=build/release/bin
if [[ ! -x $bin/kvr-loader || ! -x $bin/kvr-loader-cli || ! -x $bin/bench_window_ping ]]; then
  if [[ -f build/release/build.ninja ]]; then
    cmake --build build/release --target kvr-loader kvr-loader-cli bench_window_ping -j2 || exit 1
  else
    scripts/setup.sh release || exit 1
  fi
fi
scripts/install-missing.sh xvfb || exit 1
[[ -x $bin/bench_window_ping ]] || { echo "bench_window_ping was not built (no Xlib: libx11-dev)" >&2; exit 1; }

work=$(mktemp -d /tmp/window-latency.XXXXXX)
"$bin/kvr-loader-cli" make-image "$work/T.KVR" >/dev/null || exit 1

xvfb=""
program=""
wine_started=""
# Ends the window started last: TERM, and KILL after 5 s.
stop_program() {
  [[ -n $program ]] || return 0
  kill "$program" 2>/dev/null
  for _ in $(seq 50); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$program" 2>/dev/null
  wait "$program" 2>/dev/null
  program=""
}
cleanup() {
  stop_program
  [[ -n $wine_started ]] && wineserver -k >/dev/null 2>&1 </dev/null
  if [[ -n $xvfb ]]; then kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# An X server of this script's own: the first free display from :81.
display=81
while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 </dev/null &
xvfb=$!
export DISPLAY=":$display"
for _ in $(seq 100); do [[ -e /tmp/.X11-unix/X$display ]] && break; sleep 0.05; done
[[ -e /tmp/.X11-unix/X$display ]] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }

rows=()  # "window|state|pings|lost|median|p99|worst|note"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# measure WINDOW STATE RUNS SETTLE COMMAND...: starts the window, waits
# SETTLE seconds once it is up (its start-up, the load's first commands),
# pings it for SECONDS / RUNS and ends it; RUNS times over. Keeps the figures
# of all the runs together as a row of the table.
measure() {
  local window=$1 state=$2 runs=$3 settle=$4
  shift 4
  local samples="$work/samples" pings=0 lost=0 note="" run out result share
  share=$(awk -v s="$seconds" -v n="$runs" 'BEGIN { printf "%g", s / n }')
  : >"$samples"
  echo "== $window, $state" >&2
  for ((run = 1; run <= runs; run++)); do
    "$@" >"$work/program.log" 2>&1 </dev/null &
    program=$!
    out=$(timeout "$(awk -v s="$share" -v t="$settle" 'BEGIN { printf "%d", s + t + 60 }')" "$bin/bench_window_ping" \
      --title "$title" --rate "$rate" --seconds "$share" --find-seconds 30 --settle "$settle" --samples "$samples" 2>&1)
    echo "$out" | grep -v '^result' | sed 's/^/   /' >&2
    kill -0 "$program" 2>/dev/null || note="the program ended during the measurement"
    if grep -q "went away" <<<"$out"; then
      note="the window went away during the measurement"
      tail -n 2 "$work/program.log" | sed 's/^/   the program: /' >&2
    fi
    stop_program
    result=$(grep '^result' <<<"$out")
    if [[ -z $result ]]; then
      note="no figures: $(tail -n 1 <<<"$out")"
      continue
    fi
    pings=$((pings + $(sed -n 's/.* pings=\([0-9]*\).*/\1/p' <<<"$result")))
    lost=$((lost + $(sed -n 's/.* lost=\([0-9]*\).*/\1/p' <<<"$result")))
  done
  # The median, the 99th percentile (nearest rank) and the worst of all the runs' round trips.
  local figures
  figures=$(sort -g "$samples" | awk '{ v[NR] = $1 } END {
    if (NR == 0) { print "- - -"; exit }
    m = int(NR * 0.5); if (m < NR * 0.5) m++; if (m < 1) m = 1
    p = int(NR * 0.99); if (p < NR * 0.99) p++; if (p < 1) p = 1
    print v[m], v[p], v[NR] }')
  local median p99 worst
  read -r median p99 worst <<<"$figures"
  rows+=("$window|$state|$pings|$lost|$median|$p99|$worst|$note")
}

# At pause 0 the Linux window loads the whole image in under 6 s here (its
# start included): that state is measured over several loads, each pinged
# for 2.5 s from 1 s after its window is up, while the load still runs.
fast_runs=$(awk -v s="$seconds" 'BEGIN { n = int(s / 2.5); if (n < s / 2.5) n++; print n < 1 ? 1 : n }')

linux=(env QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$work/config" "$bin/kvr-loader" --simulate
  --record "$work/records.jsonl" "$work/T.KVR")
measure "Linux (Qt)" idle 1 2 "${linux[@]}"
measure "Linux (Qt)" "real pace" 1 2 "${linux[@]}" --autostart --exit-at-end
measure "Linux (Qt)" "pause 0" "$fast_runs" 1 "${linux[@]}" --autostart --exit-at-end --fast

exe=build/win/bin/kvr-loader.exe
if [[ -f $exe ]] && command -v wine >/dev/null; then
  # As scripts/wine-tests.sh runs the window: the prefix in the build folder,
  # Wine drawing its own frames (no window manager here), the server started
  # first with its output away from this script's streams.
  export WINEPREFIX="$root/build/win/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
  wine_started=1
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    echo "== Wine prefix (first run)" >&2
    wineboot -i >>"$work/wine.log" 2>&1 </dev/null
    wineserver -w >>"$work/wine.log" 2>&1 </dev/null
  fi
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >>"$work/wine.log" 2>&1 </dev/null
  wineserver -k >>"$work/wine.log" 2>&1 </dev/null
  wineserver -p >>"$work/wine.log" 2>&1 </dev/null
  wine cmd /c exit >>"$work/wine.log" 2>&1 </dev/null
  windows=(wine "$exe" --simulate --record "Z:$work/records-win.jsonl" "Z:$work/T.KVR")
  measure "Windows (Wine)" idle 1 2 "${windows[@]}"
  measure "Windows (Wine)" "real pace" 1 2 "${windows[@]}" --autostart --exit-at-end
  measure "Windows (Wine)" "pause 0" "$fast_runs" 1 "${windows[@]}" --autostart --exit-at-end --fast
else
  echo "== no Windows window measured: $exe is not built (scripts/wine-tests.sh build) or Wine is missing" >&2
fi

echo
echo "Round trips of _NET_WM_PING, $seconds s at $rate pings a second each; × idle: the ratio to the same window's idle figure"
echo "(load average at the start: $load_before; other work on the machine shows in the p99 and worst figures)"
printf '%-15s %-10s %6s %5s %20s %20s %20s\n' window state pings lost median p99 worst
idle_median="" idle_p99="" idle_worst=""
for row in "${rows[@]}"; do
  IFS='|' read -r window state pings lost median p99 worst note <<<"$row"
  if [[ $state == idle ]]; then idle_median=$median idle_p99=$p99 idle_worst=$worst; fi
  cell() {  # FIGURE IDLE: "12.34 ms (56.7 ×)"
    [[ $1 == - ]] && { echo -; return; }
    awk -v f="$1" -v i="$2" 'BEGIN { if (i + 0 > 0) printf "%.2f ms (%.1f ×)", f, f / i; else printf "%.2f ms", f }'
  }
  printf '%-15s %-10s %6s %5s %20s %20s %20s%s\n' "$window" "$state" "$pings" "$lost" \
    "$(cell "$median" "$idle_median")" "$(cell "$p99" "$idle_p99")" "$(cell "$worst" "$idle_worst")" \
    "${note:+  ($note)}"
done
