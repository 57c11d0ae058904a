#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UBSan) and runs each
# for the given number of seconds (default 60), two at a time, starting from
# the starting inputs in fuzz/corpus (copied; new inputs stay in build/fuzz).
#   scripts/fuzz.sh [SECONDS [TARGET...]]   (TARGET: update_file, records, ...)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
scripts/setup.sh >/dev/null
scripts/install-missing.sh clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVR_SANITIZE=address \
  -DKVR_FUZZ=ON -DKVR_BUILD_TESTS=OFF -DKVR_BUILD_BENCH=OFF >/dev/null
targets=(update_file exchange frame settings_int network_stream records ports_from port_identity)
[ $# -gt 1 ] && targets=("${@:2}")
# Inputs as long as each target needs: a subnegotiation past its 4 KiB
# limit, a port list past its 64 KiB, attribute files past a sysfs page.
declare -A max_len=([network_stream]=12000 [ports_from]=70000 [port_identity]=16000)
cmake --build build/fuzz --target "${targets[@]/#/fuzz_}"

run() {
  local t=$1 dir=build/fuzz/corpus/$1
  mkdir -p "$dir"
  cp -n fuzz/corpus/"$t"/* "$dir"/ 2>/dev/null || true
  local len=()
  [ -n "${max_len[$t]:-}" ] && len=(-max_len="${max_len[$t]}")
  if build/fuzz/bin/fuzz_"$t" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix=build/fuzz/crash- \
      "${len[@]}" "$dir" >build/fuzz/"$t".log 2>&1; then
    local runs
    runs=$(grep -ao 'number_of_executed_units: [0-9]*' build/fuzz/"$t".log | cut -d' ' -f2)
    echo "fuzz_$t: $runs runs in ${seconds} s ($((runs / seconds)) per second), no finding"
  else
    echo "fuzz_$t: FINDING (see build/fuzz/$t.log)"
    tail -n 30 build/fuzz/"$t".log
    return 1
  fi
}

status=0
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  run "${targets[i]}" & a=$!
  pids=("$a")
  if ((i + 1 < ${#targets[@]})); then run "${targets[i + 1]}" & pids+=("$!"); fi
  for p in "${pids[@]}"; do wait "$p" || status=1; done
done
exit $status
