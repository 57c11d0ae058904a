#!/usr/bin/env bash
# Sets everything up, builds and runs the main job: the loader's window on a
# standard-size sample image, with the simulated boot loader behind a
# pseudo-terminal preselected (press the start switch to load it). Without a
# display the command-line loader loads the same image into the simulated
# device with --pause-ms 0 and prints the device's verdict.
# The protocol's pauses run on a fast clock; leave out --fast in the command
# below for the real pace (about 35 minutes for a full image).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh release
# The sample image goes into a private folder made for this run.
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
sample="$folder/SAMPLE.KVR"
build/release/bin/kvr-makefile "$sample"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  build/release/bin/kvr-loader "$sample" --simulate --fast "$@"
else
  build/release/bin/kvr-loader-cli load --simulate --pause-ms 0 "$sample" "$@"
fi
