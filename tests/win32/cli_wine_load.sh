#!/usr/bin/env bash
# A full load by kvr-loader-cli.exe under Wine into the simulated boot loader,
# which runs natively behind a pseudo-terminal mapped to COM6; the device's
# image must equal the file; before it, `ports` and `ports --json` must list
# COM6. The file lies in a Cyrillic-named folder, which the ANSI code page
# cannot spell. A short run, its port read from a list in that folder
# (--ports-from), first starts the record file there; the full load's run
# must be appended to it, its log written there too, and `records` must read
# both runs back. Run by ctest from scripts/wine-tests.sh (which sets up the
# prefix, the wine server and KVR_PTYHOST / KVR_MAKEFILE).
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

# The port list as the Linux build gives it: Wine keeps no device records of
# the ports it maps, so COM6 is listed by its name, as a serial port without
# USB ids; the table and the JSON come promptly, the JSON with every field.
ports_start=$(date +%s.%N)
wine "$cli" ports </dev/null >"$work/ports.txt" 2>"$work/ports.err" || { cat "$work/ports.err"; exit 1; }
ports_end=$(date +%s.%N)
tr -d '\r' <"$work/ports.txt" | grep -Eq '^COM6 +ready +serial port +- +- +-$' ||
  { echo "ports:"; cat "$work/ports.txt" "$work/ports.err"; exit 1; }
wine "$cli" ports --json </dev/null >"$work/ports.json" 2>"$work/ports.err" || { cat "$work/ports.err"; exit 1; }
jq -e --arg port COM6 'type == "array" and
    all(.[]; keys_unsorted == ["port", "device", "access", "description", "by_id", "usb"]) and
    ([.[] | select(.port == $port)] == [{port: $port, device: $port, access: "ready", description: "serial port",
                                          by_id: null, usb: null}])' "$work/ports.json" >/dev/null ||
  { echo "ports --json:"; cat "$work/ports.json"; exit 1; }
awk -v s="$ports_start" -v e="$ports_end" 'BEGIN { printf "ports under Wine took %.1f s\n", e - s }'
tr -d '\r' <"$work/ports.txt"

folder="$(winepath -w "$(dirname "$image")")"
record="$folder\\runs.jsonl"
printf "COM6  # the bench's only port\n" >"$(dirname "$image")/порты.txt"
wine "$cli" load --ports-from "$folder\\порты.txt" --pause-ms 0 --stop-after 5 --quiet --record "$record" \
  "$(winepath -w "$image")" \
  </dev/null >/dev/null 2>"$work/first.err" || { cat "$work/first.err"; exit 1; }
start=$(date +%s.%N)
status=0
wine "$cli" load --port COM6 --pause-ms 0 --reply-timeout 5 --record "$record" --log "$folder\\журнал.log" \
  "$(winepath -w "$image")" \
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
log="$(dirname "$image")/журнал.log"
[[ -s "$log" ]] || { echo "no log written to $log"; exit 1; }
echo "log: $(wc -l <"$log") lines in the Cyrillic folder"
grep -q "image equal to the file" "$work/device.out"
# The record: two lines, the first run stopped, the second complete, each
# with the image's size and SHA-256; `records` reads them back.
runs="$(dirname "$image")/runs.jsonl"
[[ $(wc -l <"$runs") -eq 2 ]] || { echo "record file:"; cat "$runs"; exit 1; }
results=$(grep -o '"result":"[a-z ]*"' "$runs" | tr '\n' ' ')
[[ "$results" == '"result":"stopped" "result":"complete" ' ]] || { echo "record results: $results"; exit 1; }
[[ $(grep -c '"size":1253378' "$runs") -eq 2 && $(grep -Ec '"sha256":"[0-9a-f]{64}"' "$runs") -eq 2 ]] ||
  { echo "record image fields wrong:"; cat "$runs"; exit 1; }
wine "$cli" records "$record" --csv </dev/null >"$work/records.csv" 2>"$work/records.err" ||
  { cat "$work/records.err"; exit 1; }
[[ $(grep -c ',COM6,' "$work/records.csv") -eq 2 ]] || { echo "records --csv:"; cat "$work/records.csv"; exit 1; }
# The record's port identity: the name Windows opens, no USB adapter behind it.
jq -e -s 'length == 2 and all(.[]; .loads[0] | .port == "COM6" and .device == "\\\\.\\COM6" and .by_id == null and
    .usb == null)' "$runs" >/dev/null || { echo "record port fields wrong:"; cat "$runs"; exit 1; }
echo "record: two runs, the second complete, read back by records"
