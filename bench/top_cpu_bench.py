#!/usr/bin/env python3
"""CPU per refresh of calorim-top beside htop's, on the same machine in one run.

Runs `calorim-top --interval 1` and `htop --delay 10` (a refresh a second) at
once, each in a 100x30 window of a tmux server of its own, leaves both alone
for a warm-up, then reads each program's CPU time (user + system, from
/proc/PID/stat) over the same wall time (30 s by default) and prints the CPU
time per refresh of each and their ratio. Target: calorim-top at most htop's
(a ratio of at most 1); the exit status is 1 when it is missed. Both share
the machine and its noise, which is why only the ratio of one run is judged.
Linux only; tmux and htop installed (scripts/setup.sh). Run by hand; the test
suite does not use it:

  bench/top_cpu_bench.py build/default/top/calorim-top [--simulate] [--seconds 30]
"""

import argparse
import os
import subprocess
import sys
import time

TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """utime + stime of the process (all its threads), from /proc/PID/stat."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("top", help="the calorim-top binary")
    parser.add_argument("--simulate", action="store_true", help="show the simulated laptop instead of this machine")
    parser.add_argument("--seconds", type=float, default=30, help="measured wall time (default 30)")
    parser.add_argument("--warmup", type=float, default=3, help="seconds before measuring (default 3)")
    args = parser.parse_args()

    socket = f"calorim-top-bench-{os.getpid()}"
    tmux = ["tmux", "-u", "-f", "/dev/null", "-L", socket]
    top = [os.path.abspath(args.top), "--interval", "1"] + (["--simulate"] if args.simulate else [])
    commands = {"calorim-top": "exec " + " ".join(top), "htop": "exec htop --delay 10"}
    env = dict(os.environ, LC_ALL="C.UTF-8")
    pids = {}
    try:
        for name, command in commands.items():
            subprocess.run(tmux + ["new-session", "-d", "-s", name, "-x", "100", "-y", "30", command], check=True,
                           env=env)
            pids[name] = int(subprocess.run(tmux + ["display-message", "-p", "-t", name, "#{pane_pid}"], check=True,
                                            capture_output=True, text=True).stdout)
        time.sleep(args.warmup)
        before = {name: cpu_seconds(pid) for name, pid in pids.items()}
        started = time.monotonic()
        time.sleep(args.seconds)
        after = {name: cpu_seconds(pid) for name, pid in pids.items()}
        wall = time.monotonic() - started
    finally:
        subprocess.run(tmux + ["kill-server"], stderr=subprocess.DEVNULL)

    refreshes = wall / 1.0
    per_refresh = {name: (after[name] - before[name]) / refreshes for name in pids}
    for name, cpu in per_refresh.items():
        print(f"{name:12} {cpu * 1000:8.2f} ms CPU per refresh ({cpu * 100:.2f} % of one core) over {wall:.1f} s")
    if per_refresh["htop"] <= 0:
        print("htop used no measurable CPU time: measure longer (--seconds)")
        return 1
    ratio = per_refresh["calorim-top"] / per_refresh["htop"]
    print(f"ratio        {ratio:8.2f} (calorim-top / htop; target at most 1)")
    return 0 if ratio <= 1 else 1


if __name__ == "__main__":
    sys.exit(main())
