#!/usr/bin/env bash
# What kvr-loader-cli.exe refuses, with the same messages and exit codes in
# either architecture's build: files over 64 MiB (sparse ones of 2 GiB and
# of 4 GiB + 1, whose size a 32-bit size would wrap to 1 byte) and option
# values past 32 bits (a whole number, a decimal one, a fault item's).
# Nothing may be sent: --simulate would load otherwise.
#   cli_wine_refusals.sh KVR-LOADER-CLI.EXE   (run by ctest under Wine)
set -euo pipefail
cli=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$KVR_MAKEFILE" "$work/GOOD.KVR" >/dev/null
truncate -s $((64 * 1024 * 1024 + 1)) "$work/BIG.KVR"
truncate -s $((1 << 31)) "$work/SPARSE2G.KVR"
truncate -s $(((1 << 32) + 1)) "$work/SPARSE4G.KVR"

# arguments | exit code | the first line of standard error that is not the
# classic warning (FILE: the file's Windows path)
cases=(
  "BIG.KVR|1|error: FILE: refused: an update file is at most 64 MiB; nothing was sent"
  "SPARSE2G.KVR|1|error: FILE: refused: an update file is at most 64 MiB; nothing was sent"
  "SPARSE4G.KVR|1|error: FILE: refused: an update file is at most 64 MiB; nothing was sent"
  "--pause-ms 4294967296 GOOD.KVR|1|kvr-loader-cli: --pause-ms: \"4294967296\" is not a whole number from 0 to 60000"
  "--reply-timeout 1e300 GOOD.KVR|1|kvr-loader-cli: --reply-timeout: \"1e300\" is not a number from 0.01 to 3600"
  "--simulate-faults seed=4294967296 GOOD.KVR|1|kvr-loader-cli: --simulate-faults: \"seed=4294967296\" wants seed=N with N from 0 to 4294967295"
)
failed=0
for c in "${cases[@]}"; do
  IFS='|' read -r args want_code want_line <<<"$c"
  read -ra words <<<"$args"
  file=${words[-1]}
  words[-1]=$(winepath -w "$work/$file")
  code=0
  wine "$cli" load --simulate "${words[@]}" </dev/null >"$work/out" 2>"$work/err" || code=$?
  line=$(tr -d '\r' <"$work/err" | grep -v '^warning: ' | head -n 1)
  line=${line//"${words[-1]}"/FILE}
  if [[ $code != "$want_code" || $line != "$want_line" ]]; then
    echo "FAILED: $args: exit $code (not $want_code): $line"
    failed=1
  elif grep -q 'load complete' "$work/out"; then
    echo "FAILED: $args: loaded"
    failed=1
  fi
done
[[ $failed == 0 ]] || exit 1
echo "${#cases[@]} refusals: the same messages and exit codes"
