#!/usr/bin/env bash
# A full load by kvr-loader-cli.exe under Wine into the simulated boot loader,
# which runs natively behind a pseudo-terminal mapped to COM6; the device's
# image must equal the file. The file lies in a Cyrillic-named folder, which
# the ANSI code page cannot spell. Run by ctest from scripts/wine-tests.sh (which
# sets up the prefix, the wine server and KVR_PTYHOST / KVR_MAKEFILE).
set -euo pipefail
cli=$1
work=$(mktemp -d)
trap 'exec 9>&- 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

image="$work/Обновление/IMAGE.KVR"
mkdir -p "$(dirname "$image")"
"$KVR_MAKEFILE" "$image" >/dev/null
mkfifo "$work/device.in"
"$KVR_PTYHOST" device "$WINEPREFIX/dosdevices/com6" "$image" <"$work/device.in" >"$work/device.out" 2>&1 &
host=$!
exec 9>"$work/device.in"
for _ in $(seq 100); do grep -q ready "$work/device.out" && break; sleep 0.05; done

start=$(date +%s.%N)
status=0
wine "$cli" load --port COM6 --pause-ms 0 --reply-timeout 5 "$(winepath -w "$image")" \
  </dev/null >"$work/cli.out" 2>"$work/cli.err" || status=$?
end=$(date +%s.%N)
cat "$work/cli.out"
tail -5 "$work/cli.err"
exec 9>&-
wait "$host" || true
cat "$work/device.out"
awk -v s="$start" -v e="$end" 'BEGIN { printf "load under Wine took %.1f s\n", e - s }'
[[ $status -eq 0 ]] || { echo "kvr-loader-cli.exe exited with $status"; exit 1; }
grep -q "load complete" "$work/cli.out"
grep -q "image equal to the file" "$work/device.out"
