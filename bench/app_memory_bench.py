#!/usr/bin/env python3
"""The application's resident memory beside the floor of a bare Qt program.

Starts `calorim --simulate` and `bare_qt_panel` (a bare Qt Widgets program
drawing the same panel and tray icon, bench/bare_qt_panel.cpp) side by side
under the offscreen platform, each with fresh preferences and no session bus,
lets both run (20 s by default, eight samples), and prints for each the
resident memory (VmRSS), its peak (VmHWM), and the private and shared parts
(from /proc/PID/smaps_rollup), then the difference. Target: calorim within
8 MB of the bare program's resident memory; the exit status is 1 when it is
not. Linux only. Run by hand:

  bench/app_memory_bench.py build/default/app/calorim build/default/bench/bare_qt_panel
"""

import argparse
import os
import signal
import subprocess
import sys
import tempfile
import time

from proc_status import status_kib

TARGET_DIFFERENCE_MB = 8.0


def rollup_kib(pid):
    """Private and shared resident kiB of the process (smaps_rollup)."""
    private = shared = 0
    with open(f"/proc/{pid}/smaps_rollup") as rollup:
        for line in rollup:
            key, _, rest = line.partition(":")
            if key in ("Private_Clean", "Private_Dirty"):
                private += int(rest.split()[0])
            elif key in ("Shared_Clean", "Shared_Dirty"):
                shared += int(rest.split()[0])
    return private, shared


def start(command, home):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=os.path.join(home, "config"),
               XDG_RUNTIME_DIR=home, DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent/calorim-bench")
    return subprocess.Popen(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("calorim", nargs="?", default="build/default/app/calorim")
    parser.add_argument("bare", nargs="?", default="build/default/bench/bare_qt_panel")
    parser.add_argument("--seconds", type=float, default=20.0)
    args = parser.parse_args()

    readings = {}
    with tempfile.TemporaryDirectory() as app_home, tempfile.TemporaryDirectory() as bare_home:
        procs = {"calorim": start([args.calorim, "--simulate"], app_home), "bare Qt": start([args.bare], bare_home)}
        try:
            time.sleep(args.seconds)
            for name, proc in procs.items():
                if proc.poll() is not None:
                    raise RuntimeError(f"{name} ended early: {proc.stdout.read().decode(errors='replace')}")
                private, shared = rollup_kib(proc.pid)
                readings[name] = (status_kib(proc.pid, "VmRSS"), status_kib(proc.pid, "VmHWM"), private, shared)
        finally:
            for proc in procs.values():
                if proc.poll() is None:
                    proc.send_signal(signal.SIGTERM)
                    try:
                        proc.wait(timeout=10)
                    except subprocess.TimeoutExpired:
                        proc.kill()
                        proc.wait()

    print(f"{'':10} {'RSS':>9} {'peak':>9} {'private':>9} {'shared':>9}   (MB)")
    for name, (rss, peak, private, shared) in readings.items():
        print(f"{name:10} {rss / 1024:9.1f} {peak / 1024:9.1f} {private / 1024:9.1f} {shared / 1024:9.1f}")
    difference = (readings["calorim"][0] - readings["bare Qt"][0]) / 1024
    print(f"calorim holds {difference:.1f} MB more than the bare program (target within {TARGET_DIFFERENCE_MB} MB)")
    return 0 if difference <= TARGET_DIFFERENCE_MB else 1


if __name__ == "__main__":
    sys.exit(main())
