#!/usr/bin/env bash
# Retakes docs/window.png: the real window under Xvfb during a simulated load
# at the real pace (grid filled, status line showing a page, elapsed and
# remaining time beside the tabs), about 40 s into the load.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh release
scripts/install-missing.sh xvfb
folder=$(mktemp -d)
xvfb=""
trap 'kill $xvfb 2>/dev/null || true; rm -rf "$folder"' EXIT
sample=$folder/SAMPLE.KVR
build/release/bin/kvr-makefile "$sample"
display=:97
Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
sleep 1
out=$folder/loader.out
DISPLAY=$display build/release/bin/kvr-loader "$sample" --simulate --autostart \
  --screenshot docs/window.png --screenshot-page 48 >"$out" 2>&1 &
loader=$!
for _ in $(seq 240); do grep -q '^screenshot:' "$out" && break; sleep 0.5; done
kill $loader 2>/dev/null || true
cat "$out"
