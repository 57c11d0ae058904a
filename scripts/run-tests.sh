#!/usr/bin/env bash
# Sets everything up, builds and runs the whole test suite: once as a release
# build, once under AddressSanitizer + UndefinedBehaviorSanitizer, and the
# threaded code's tests (serial component, window) and a gang load under
# ThreadSanitizer; the Debian package is built, installed with dpkg -i, used
# and removed; each fuzz target runs for half a minute; a short soak of whole
# loads into a device that misbehaves at random. Then the Windows build
# (mingw-w64) and its tests under Wine: the serial component on COM ports
# mapped to pseudo-terminals, the registry setting, a full load by
# kvr-loader-cli.exe, and the window kvr-loader.exe in an X server.
# Every step runs whatever an earlier one gave; the last lines name each
# step with its time and result, so that the end of a long log says what
# failed.
#   scripts/run-tests.sh           the whole run (CI)
#   scripts/run-tests.sh --quick   the release build and its tests only: a
#                                  developer's check, minutes from a built tree
#   scripts/run-tests.sh --unit    what changed built (release), then the
#                                  in-process unit tests only (ctest label
#                                  unit): the loop while changing code, under
#                                  30 s from a built tree
set -euo pipefail
cd "$(dirname "$0")/.."

steps=()
failed=0
# step NAME COMMAND...: runs one step and notes its time and result.
step() {
  local name=$1 start=$SECONDS code=0
  shift
  echo "== $name"
  "$@" || code=$?
  if [ "$code" = 0 ]; then
    steps+=("passed  $((SECONDS - start)) s  $name")
  else
    steps+=("FAILED  $((SECONDS - start)) s  $name (exit $code)")
    failed=$((failed + 1))
  fi
}

# summary: the steps with their times and results; fails when one failed.
summary() {
  echo "== the steps"
  printf '%s\n' "${steps[@]}"
  echo "steps: $((${#steps[@]} - failed)) passed, $failed failed"
  [ "$failed" = 0 ]
}

export QT_QPA_PLATFORM=offscreen
# The network serial server the command line's and the documents' tests put
# in front of a simulated line.
scripts/install-missing.sh ser2net
if [ "${1:-}" = --unit ]; then
  if [ -f build/release/build.ninja ]; then
    step "build: release, what changed" cmake --build build/release
  else
    step "set-up and build: release" scripts/setup.sh release
  fi
  [ "$failed" = 0 ] && step "tests: unit (release)" ctest --test-dir build/release --output-on-failure -j2 -L unit
  summary
  exit
fi
if [ "${1:-}" = --quick ]; then
  step "set-up and build: release" scripts/setup.sh release
  [ "$failed" = 0 ] && step "tests: release" ctest --test-dir build/release --output-on-failure -j2
  summary
  exit
fi
[ $# = 0 ] || { echo "usage: scripts/run-tests.sh [--quick | --unit]" >&2; exit 2; }

step "set-up and builds: release, asan, tsan" scripts/setup.sh release asan tsan
if [ "$failed" != 0 ]; then
  printf '%s\n' "${steps[@]}"
  exit 1
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan-qt.supp"

simload() { build/asan/bin/kvr-simload --pieces 2 | tail -n 3; }
step "main job under the sanitizers: a simulated load, replies in two pieces" simload

gang_load() {
  local gang code=0
  gang=$(mktemp -d)
  setarch "$(uname -m)" -R build/tsan/bin/kvr-loader-cli make-image "$gang/GANG.KVR"
  setarch "$(uname -m)" -R build/tsan/bin/kvr-loader-cli load --simulate --simulate-devices 4 \
    --simulate-faults 3:hangup=3000 --simulate-faults 4:drop=1 --pause-ms 0 --reply-timeout 0.05 --retries 5 \
    --quiet --record "$gang/runs.jsonl" "$gang/GANG.KVR" || code=$?
  rm -rf "$gang"
  [ "$code" = 4 ] || { echo "the gang load ended with $code, not 4"; return 1; }
}
step "a gang load under ThreadSanitizer: four simulated devices, one losing its port, one silent (exit 4)" gang_load

step "the Debian package: built, installed, used, validated, removed" scripts/package-check.sh
step "fuzzing: each target 30 s" scripts/fuzz.sh 30
step "soak: three whole loads into a device that misbehaves at random (release build)" \
  build/release/bin/bench_soak --loads 3 --rates 0.0002
step "the documented commands: README.md and the manual pages, as written (release build)" \
  build/release/bin/doc_commands_tests
step "tests: tsan (serial component and window)" ctest --test-dir build/tsan --output-on-failure -L 'serial|window'
for c in release asan; do
  step "tests: $c" ctest --test-dir "build/$c" --output-on-failure -j2
done
step "Windows build, tests under Wine" scripts/wine-tests.sh

summary
