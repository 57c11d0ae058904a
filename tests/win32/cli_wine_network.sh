#!/usr/bin/env bash
# Network ports from kvr-loader-cli.exe under Wine (Winsock): the simulated
# boot loader runs natively behind a pseudo-terminal with a real network
# serial server (ser2net on the loopback address) in front of it. A whole
# load over raw TCP; two servers loaded at once, one over RFC 2217; the server
# stopped mid-load (the port lost, exit 4); a refused connection and a server
# that never answers (exit 2, each named). Run by ctest from
# scripts/wine-tests.sh (KVR_PTYHOST, KVR_MAKEFILE, the prefix).
set -euo pipefail
cli=$1
work=$(mktemp -d)
pids=()
trap 'for fd in 7 8 9; do eval "exec $fd>&-" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"' EXIT

image="$work/IMAGE.KVR"
"$KVR_MAKEFILE" "$image" >/dev/null
wimage=$(winepath -w "$image")

# start_device NAME FD: a device with its serial server, fed from a FIFO kept
# open on FD; RAW_NAME and RFC_NAME get its URLs.
start_device() {
  local name=$1 fd=$2
  mkfifo "$work/$name.in"
  "$KVR_PTYHOST" device "$work/$name.line" "$image" --serial-server <"$work/$name.in" >"$work/$name.out" 2>&1 &
  eval "exec $fd>\"$work/$name.in\""
  for _ in $(seq 200); do grep -q ready "$work/$name.out" && break; sleep 0.05; done
  grep -q ready "$work/$name.out" || { cat "$work/$name.out"; exit 1; }
  read -r _ raw rfc < <(grep '^server ' "$work/$name.out")
  printf -v "RAW_$name" %s "$raw"
  printf -v "RFC_$name" %s "$rfc"
}

# run NAME ARGS...: kvr-loader-cli.exe with ARGS, its exit code in NAME.rc and
# its time in NAME.s.
run() {
  local name=$1 status=0 start end
  shift
  start=$(date +%s.%N)
  wine "$cli" "$@" </dev/null >"$work/$name.stdout" 2>"$work/$name.stderr" || status=$?
  end=$(date +%s.%N)
  echo "$status" >"$work/$name.rc"
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.1f\n", e - s }' >"$work/$name.s"
  printf '%-8s exit %s after %s s\n' "$name" "$status" "$(cat "$work/$name.s")"
}

fail() {
  echo "FAILED: $*"
  for f in "$work"/*.stderr "$work"/*.out; do echo "--- $f"; tail -5 "$f"; done
  exit 1
}

# A run that never ends (a lost port unseen, a negotiation without its limit)
# runs into ctest's limit for this script; the times are only reported.
expect() {  # expect NAME CODE TEXT
  [[ $(cat "$work/$1.rc") -eq $2 ]] || fail "$1: exit $(cat "$work/$1.rc"), not $2"
  [[ -z "$3" ]] || grep -qF -- "$3" "$work/$1.stdout" "$work/$1.stderr" || fail "$1: no \"$3\""
}

start_device a 8
start_device b 9

run raw load --port "$RAW_a" --pause-ms 0 --quiet "$wimage"
expect raw 0 "load complete"
run gang load --port "$RFC_a" --port "$RAW_b" --pause-ms 0 "$wimage"
expect gang 0 ""  # 0 only when both loads completed; b's image is the gang's alone

# The server stops once the load is under way: the port is lost (exit 4).
(sleep 4; echo s >&8) &
run lost load --port "$RFC_a" --quiet "$wimage"
expect lost 4 "the port $RFC_a was lost"

# Nothing listens: refused at once. A listener that never answers the
# com-port option: named within the negotiation's limit.
mkfifo "$work/silent.in"
"$KVR_PTYHOST" silent <"$work/silent.in" >"$work/silent.out" 2>&1 &
exec 7>"$work/silent.in"
for _ in $(seq 100); do grep -q ready "$work/silent.out" && break; sleep 0.05; done
mute="rfc2217://127.0.0.1:$(awk '/ready/ { print $2 }' "$work/silent.out")"
run mute load --port "$mute" --quiet "$wimage"
expect mute 2 "$mute (the server does not answer the RFC 2217 com-port option"

exec 7>&- 8>&- 9>&-  # the devices report their images and end; so does the listener
wait
grep -q "image equal to the file" "$work/a.out" || fail "device a: image not equal"
grep -q "image equal to the file" "$work/b.out" || fail "device b: image not equal"
refused="rfc2217://127.0.0.1:$(awk '/ready/ { print $2 }' "$work/silent.out")"
run refused load --port "$refused" --quiet "$wimage"
expect refused 2 "Can't open specified device $refused (Error 10061"
sed -n 1,3p "$work/refused.stderr"
echo "network ports under Wine: raw, RFC 2217, a gang of two, lost, mute and refused servers as expected"
