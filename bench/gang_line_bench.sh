#!/usr/bin/env bash
# A gang load at a real line's pace, as the tool sees it in use: PORTS devices
# (default 1, 8 and 64), each a kvr-ptyhost process of its own at 38400 baud
# (a frame takes its wire time, a reply comes a byte at a time), one command
# line loading them all at the real pause for a fixed number of commands.
# For each gang size: the command line's own processor time (user + system,
# from wait4: the devices are not its children) as a share of one core over
# the run's wall time, the same over the middle half of the run (/proc: the
# steady load, without the start's opening of every port), its peak thread
# count (/proc, sampled every 20 ms), and each load's time per command (min
# and max) beside the single load's of the same run.
#   bench/gang_line_bench.sh [PORTS...]        (COMMANDS=300 by default)
# CLI=PATH measures another build of the command line (an earlier one, say).
set -euo pipefail
cd "$(dirname "$0")/.."
cli=${CLI:-build/release/bin/kvr-loader-cli}
host=build/release/bin/kvr-ptyhost
[ -x "$cli" ] && [ -x "$host" ] || scripts/setup.sh release
[ $# -gt 0 ] || set -- 1 8 64
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$cli" make-image "$work/BENCH.KVR" >/dev/null
python3 - "$cli" "$host" "$work" "${COMMANDS:-300}" "$@" <<'PY'
import os, re, select, signal, subprocess, sys, time

cli, host, work, commands = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
sizes = [int(s) for s in sys.argv[5:]]
image = os.path.join(work, "BENCH.KVR")


def start_devices(count):
    """count devices, each in its own process group; their links once all say "ready"."""
    devices, links = [], []
    for i in range(count):
        link = os.path.join(work, f"dev{len(devices)}-{i}")
        p = subprocess.Popen([host, "device", link, image, "--line-baud", "38400"], stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, start_new_session=True)
        devices.append(p)
        links.append(link)
    deadline = time.monotonic() + 30
    for p in devices:
        ready = b""
        while not ready.startswith(b"ready"):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([p.stdout], [], [], left)[0]:
                raise RuntimeError("a device did not say ready within 30 s")
            line = p.stdout.readline()
            if not line:
                raise RuntimeError("a device ended before it was ready")
            ready = line
    return devices, links


def stop_devices(devices):
    for p in devices:
        try:
            p.stdin.close()  # its end
        except OSError:
            pass
    deadline = time.monotonic() + 5
    for p in devices:
        try:
            p.wait(max(0.1, deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            os.killpg(p.pid, signal.SIGKILL)
            p.wait()


TICK = os.sysconf("SC_CLK_TCK")


def threads_of(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("Threads:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def cpu_of(pid):
    """user + system seconds of the process so far (None once it has gone)"""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / TICK
    except (OSError, IndexError, ValueError):
        return None


def middle_share(samples, wall):
    """the share of a core over the middle half of the run, from (time, cpu) samples"""
    inside = [(t, c) for t, c in samples if wall / 4 <= t <= 3 * wall / 4 and c is not None]
    if len(inside) < 2 or inside[-1][0] <= inside[0][0]:
        return float("nan")
    return (inside[-1][1] - inside[0][1]) / (inside[-1][0] - inside[0][0])


def run(count):
    devices, links = start_devices(count)
    try:
        args = [cli, "load", "--stop-after", str(commands), "--quiet"]
        for link in links:
            args += ["--port", link]
        out_path = os.path.join(work, "out.txt")
        with open(out_path, "w") as out:
            t0 = time.monotonic()
            p = subprocess.Popen(args + [image], stdout=out, stderr=subprocess.STDOUT)
            peak, status, usage, samples = 0, None, None, []
            limit = t0 + 60 + commands * 0.2
            interrupted = False
            while status is None:
                pid, status_, usage_ = os.wait4(p.pid, os.WNOHANG)
                if pid == p.pid:
                    status, usage = status_, usage_
                    break
                peak = max(peak, threads_of(p.pid))
                samples.append((time.monotonic() - t0, cpu_of(p.pid)))
                if time.monotonic() > limit:  # bounded: Ctrl-C, then the end
                    os.kill(p.pid, signal.SIGKILL if interrupted else signal.SIGINT)
                    interrupted, limit = True, time.monotonic() + 10
                time.sleep(0.02)
            wall = time.monotonic() - t0
            p.returncode = os.waitstatus_to_exitcode(status)
        text = open(out_path).read()
    finally:
        stop_devices(devices)
    ms = [float(m) for m in re.findall(r"([0-9.]+) ms per command", text)]
    if p.returncode != 0 or len(ms) != count:
        sys.stdout.write(text)
        raise RuntimeError(f"{count} ports: exit code {p.returncode}, {len(ms)} of {count} loads with a figure")
    return ms, usage.ru_utime, usage.ru_stime, wall, peak, middle_share(samples, wall)


print(f"{commands} commands a load at the real pause, devices at 38400 baud in processes of their own")
print(f"{'ports':>5}  {'CPU s (user+sys)':>17}  {'wall s':>6}  {'% of a core':>11}  {'middle half':>11}  "
      f"{'threads':>7}  {'ms per command min..max':>23}  {'x single':>8}")
single = None
for count in sizes:
    ms, user, system, wall, peak, middle = run(count)
    if count == 1 and single is None:
        single = ms[0]
    ratio = f"{max(ms) / single:8.4f}" if single else f"{'-':>8}"
    print(f"{count:5d}  {user + system:6.2f} ({user:.2f}+{system:.2f})  {wall:6.1f}  {100 * (user + system) / wall:10.1f}%"
          f"  {100 * middle:10.1f}%  {peak:7d}  {min(ms):10.3f}..{max(ms):<10.3f}  {ratio}", flush=True)
PY
