#!/usr/bin/env bash
# The command-line loader's pace into the simulated device:
#  (a) at the real pause (more than 50 ms before each command), 200 commands:
#      time per command against the 51 ms floor;
#  (b) with --pause-ms 0, a whole standard image: commands per second.
set -euo pipefail
cd "$(dirname "$0")/.."
cli=build/release/bin/kvr-loader-cli
[ -x "$cli" ] || scripts/setup.sh release
image=$(mktemp -d)/BENCH.KVR
"$cli" make-image "$image"
a=$("$cli" load --simulate --quiet --stop-after 200 "$image" | grep -o '[0-9.]* ms per command' | cut -d' ' -f1)
python3 - "$a" <<'PY'
import sys
ms = float(sys.argv[1])
print(f"(a) real pause, 200 commands: {ms:.3f} ms per command, {100 * (ms / 51 - 1):.2f} % above the 51 ms floor (goal: at most 2 %)")
PY
b=$("$cli" load --simulate --quiet --pause-ms 0 "$image" | head -n 1)
echo "(b) --pause-ms 0, whole image: $b"
rm -rf "$(dirname "$image")"
