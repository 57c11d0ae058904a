#!/usr/bin/env bash
# Retakes docs/window.png: the real window under Xvfb during a simulated load
# (grid filled, gauge part way, status line showing a page).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh release
sample=$(mktemp -d)/SAMPLE.KVR
build/release/bin/kvr-makefile "$sample"
display=:97
Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
sleep 1
DISPLAY=$display build/release/bin/kvr-loader --simulate "$sample" --fast --autostart --exit-at-end \
  --screenshot docs/window.png --screenshot-page 900
