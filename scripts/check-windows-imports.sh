#!/usr/bin/env bash
# Checks that Windows programs run on Windows 7 SP1: lists each program's
# imported DLLs and functions (its PE import table, through objdump) and fails
# on a function in packaging/windows/after-windows7.txt or a DLL that Windows 7
# does not carry (the api-ms-win-* sets, the universal C run-time).
#   scripts/check-windows-imports.sh PROGRAM.exe ...
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
later="$root/packaging/windows/after-windows7.txt"
(($# > 0)) || { echo "usage: $0 PROGRAM.exe ..." >&2; exit 2; }
status=0
for program in "$@"; do
  # objdump of either architecture reads both PE formats.
  imports=$(x86_64-w64-mingw32-objdump -p "$program" | awk '
    /DLL Name:/ { dll = $3; print dll, "-"; next }
    dll != "" && /^\t[0-9a-f]+\t +[0-9]+ +[A-Za-z_]/ { print dll, $3 }' | sort -u)
  [[ -n $imports ]] || { echo "$program: no import table read" >&2; status=1; continue; }
  found=$(awk 'NR == FNR { if ($1 !~ /^#/ && NF) later[$1] = 1; next }
    tolower($1) ~ /^(api-ms-win-|ext-ms-win-|ucrtbase|vcruntime)/ && $2 == "-" { print $1 " (a DLL Windows 7 does not carry)" }
    $2 in later { print $1 " " $2 }' "$later" - <<<"$imports")
  count=$(grep -vc ' -$' <<<"$imports" || true)
  if [[ -n $found ]]; then
    echo "$program: imports what Windows 7 SP1 does not have:" >&2
    sed 's/^/  /' <<<"$found" >&2
    status=1
  else
    echo "$program: $count imported functions, none later than Windows 7 SP1"
  fi
done
exit $status
