#!/usr/bin/env bash
# Sets everything up, builds and runs the main job: a complete load of a
# standard-size update file into the simulated boot loader, in the terminal.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh release
exec build/release/bin/kvr-simload "$@"
