#!/usr/bin/env bash
# Eight loads at once at the real pause (more than 50 ms before each command),
# 200 commands each, into eight simulated devices behind pseudo-terminals:
# each port's time per command against the 51 ms floor, and the processor
# time of the whole run (the devices' threads included). A single load in the
# same run is the reference.
set -euo pipefail
cd "$(dirname "$0")/.."
cli=build/release/bin/kvr-loader-cli
[ -x "$cli" ] || scripts/setup.sh release
ports=${1:-8}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$cli" make-image "$work/BENCH.KVR"
python3 - "$cli" "$work/BENCH.KVR" "$ports" <<'PY'
import re, resource, subprocess, sys, time
cli, image, ports = sys.argv[1], sys.argv[2], int(sys.argv[3])

def run(devices):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.monotonic()
    out = subprocess.run([cli, "load", "--simulate", "--simulate-devices", str(devices), "--stop-after", "200",
                          "--quiet", image], capture_output=True, text=True, check=True).stdout
    wall = time.monotonic() - t0
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    ms = [float(m) for m in re.findall(r"([0-9.]+) ms per command", out)]
    return ms, cpu, wall

single, single_cpu, single_wall = run(1)
gang, cpu, wall = run(ports)
print(f"single load: {single[0]:.3f} ms per command ({single[0] / 51:.4f} x the 51 ms floor), "
      f"{single_cpu:.2f} s CPU in {single_wall:.1f} s ({100 * single_cpu / single_wall:.1f} % of a core)")
print(f"{ports} loads at once: {min(gang):.3f} to {max(gang):.3f} ms per command "
      f"(worst {max(gang) / 51:.4f} x the floor, goal at most 1.02 x; {max(gang) / single[0]:.4f} x the single load)")
print(f"{ports} loads at once: {cpu:.2f} s CPU in {wall:.1f} s = {100 * cpu / wall:.1f} % of one core (goal at most 10 %)")
PY
