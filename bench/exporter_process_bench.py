#!/usr/bin/env python3
"""Idle cost, memory and scrape cost of calorim-exporter as a process.

Starts `calorim-exporter --simulate --interval 5` on a free loopback port (the
simulated laptop on the real clock, so it samples every 5 s as it would on a
machine) and leaves it alone. After a warm-up it reports, over the measured
span (60 s by default):
  - CPU time used by all its threads (from /proc/<pid>/task/*/schedstat) as a
    share of one core;
  - the peak resident memory (VmHWM from /proc/<pid>/status), and how much of
    what is resident is the program's own (anonymous) and how much is mapped
    shared libraries;
then scrapes /metrics 2000 times, one after another, and reports the
exporter's CPU time per scrape (HTTP included: accept, parse, format, send)
and the peak memory again. Ends the exporter with SIGTERM and checks that it
exits with status 0 within a second. Targets: idle CPU at most 0.05 % of one
core, peak memory at most 8 MB; the exit status is 1 when either is missed.
Linux only. Run by hand; the test suite does not use it:

  bench/exporter_process_bench.py build/default/exporter/calorim-exporter
"""

import argparse
import http.client
import os
import re
import signal
import subprocess
import sys
import time

from proc_status import status_kib

TARGET_CPU_PERCENT = 0.05
TARGET_RSS_MB = 8.0


def cpu_seconds(pid):
    """CPU time of all of the process's threads, in ns resolution from schedstat."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as stat:
                total += int(stat.read().split()[0])
        except FileNotFoundError:
            pass  # a thread that ended meanwhile
    return total / 1e9


def library_rss_kib(pid, names):
    """Resident KiB of the mappings of the shared libraries whose file names start with `names`."""
    total, counted = 0, False
    with open(f"/proc/{pid}/smaps") as smaps:
        for line in smaps:
            fields = line.split()
            if re.match(r"^[0-9a-f]+-[0-9a-f]+ ", line):
                counted = len(fields) >= 6 and os.path.basename(fields[5]).startswith(names)
            elif counted and fields[0] == "Rss:":
                total += int(fields[1])
    return total


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("binary", nargs="?", default="build/default/exporter/calorim-exporter")
    parser.add_argument("--seconds", type=float, default=60.0, help="length of the measured idle span")
    parser.add_argument("--warmup", type=float, default=7.0, help="seconds left out after the start")
    parser.add_argument("--scrapes", type=int, default=2000)
    args = parser.parse_args()

    proc = subprocess.Popen([args.binary, "--simulate", "--interval", "5", "--listen", "127.0.0.1:0"],
                            stdout=subprocess.PIPE, text=True)
    try:
        line = proc.stdout.readline()
        port = int(re.search(r":(\d+)/metrics", line).group(1))
        time.sleep(args.warmup)
        cpu0, t0 = cpu_seconds(proc.pid), time.monotonic()
        time.sleep(args.seconds)
        cpu1, t1 = cpu_seconds(proc.pid), time.monotonic()
        idle_percent = 100.0 * (cpu1 - cpu0) / (t1 - t0)
        idle_rss_mb = status_kib(proc.pid, "VmHWM") / 1024.0
        anon_mb = status_kib(proc.pid, "RssAnon") / 1024.0
        file_mb = status_kib(proc.pid, "RssFile") / 1024.0
        tls_mb = library_rss_kib(proc.pid, ("libssl.", "libcrypto.")) / 1024.0

        size = 0
        start = cpu_seconds(proc.pid)
        for _ in range(args.scrapes):
            connection = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
            connection.request("GET", "/metrics")
            response = connection.getresponse()
            size = len(response.read())
            connection.close()
            if response.status != 200:
                raise RuntimeError(f"scrape answered {response.status}")
        scrape_us = 1e6 * (cpu_seconds(proc.pid) - start) / args.scrapes
        rss_mb = status_kib(proc.pid, "VmHWM") / 1024.0

        stop = time.monotonic()
        proc.send_signal(signal.SIGTERM)
        status = proc.wait(timeout=10)
        stop_s = time.monotonic() - stop
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()

    print(f"idle CPU over {t1 - t0:.0f} s at a 5 s interval: {idle_percent:.4f} % of one core "
          f"({1000 * (cpu1 - cpu0):.0f} ms; target {TARGET_CPU_PERCENT} %)")
    print(f"peak memory: {idle_rss_mb:.1f} MB idle, {rss_mb:.1f} MB after {args.scrapes} scrapes "
          f"(target {TARGET_RSS_MB} MB)")
    print(f"  resident when idle: {anon_mb:.1f} MB anonymous, {file_mb:.1f} MB of mapped files "
          f"(shared libraries; OpenSSL's {tls_mb:.1f} MB among them)")
    print(f"CPU per scrape of {size} bytes, HTTP included: {scrape_us:.0f} us over {args.scrapes} scrapes")
    print(f"SIGTERM: exit status {status} after {stop_s * 1000:.0f} ms")
    ok = idle_percent <= TARGET_CPU_PERCENT and rss_mb <= TARGET_RSS_MB and status == 0 and stop_s < 1.0
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
