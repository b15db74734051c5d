#!/usr/bin/env python3
"""Idle cost of the tray application on the simulated machine.

Starts `calorim --simulate` under the offscreen platform (no tray there, so
its panel stands in a window and is redrawn with every sample, as is the
tray icon), with fresh preferences, and leaves it alone. After a warm-up it
reports, over the measured span (60 s by default):
  - CPU time used (user + system, from /proc/<pid>/stat) as a share of one core;
  - the peak resident memory (VmHWM from /proc/<pid>/status) at the end;
then ends the program with SIGTERM, as the end of a session does, and checks
that it exits with status 0. The simulated machine runs on the real clock, so
the monitor takes one sample every 2.5 s as on real hardware. Linux only.
Run by hand; the test suite does not use it:

  bench/app_idle_bench.py build/default/app/calorim
"""

import argparse
import os
import signal
import subprocess
import sys
import tempfile
import time

from proc_status import status_kib

TARGET_CPU_PERCENT = 0.5
TARGET_RSS_MB = 80.0
TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        # The command name may hold spaces; the fields after it are fixed.
        fields = stat.read().rsplit(")", 1)[1].split()
    utime, stime = int(fields[11]), int(fields[12])
    return (utime + stime) / TICKS


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("binary", nargs="?", default="build/default/app/calorim")
    parser.add_argument("--seconds", type=float, default=60.0, help="length of the measured span")
    parser.add_argument("--warmup", type=float, default=5.0, help="seconds left out after the start")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as home:
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=os.path.join(home, "config"),
                   XDG_RUNTIME_DIR=home)
        started = time.monotonic()
        proc = subprocess.Popen([args.binary, "--simulate"], env=env, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT)
        try:
            time.sleep(args.warmup)
            if proc.poll() is not None:
                raise RuntimeError(f"calorim ended early: {proc.stdout.read().decode(errors='replace')}")
            startup_cpu = cpu_seconds(proc.pid)
            t0 = time.monotonic()
            time.sleep(args.seconds)
            span = time.monotonic() - t0
            used = cpu_seconds(proc.pid) - startup_cpu
            peak_kib = status_kib(proc.pid, "VmHWM")
            rss_kib = status_kib(proc.pid, "VmRSS")
            proc.send_signal(signal.SIGTERM)
            status = proc.wait(timeout=10)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        total = time.monotonic() - started

    cpu_percent = used / span * 100
    peak_mb = peak_kib * 1024 / 1e6
    print(f"binary                 {os.path.abspath(args.binary)}")
    print(f"start-up CPU           {startup_cpu * 1e3:.0f} ms in the first {args.warmup:.0f} s")
    print(f"idle CPU               {cpu_percent:.3f} % of one core ({used * 1e3:.0f} ms over {span:.1f} s; "
          f"target < {TARGET_CPU_PERCENT} %)")
    print(f"peak RSS (VmHWM)       {peak_mb:.1f} MB = {peak_kib} KiB (now {rss_kib} KiB; target < {TARGET_RSS_MB} MB)")
    print(f"exit on SIGTERM        status {status} after {total:.1f} s")
    met = cpu_percent < TARGET_CPU_PERCENT and peak_mb < TARGET_RSS_MB and status == 0
    return 0 if met else 1


if __name__ == "__main__":
    sys.exit(main())
