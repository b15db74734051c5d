#!/usr/bin/env python3
"""Process-level benchmark of the MCP server on the simulated machine.

Starts calorim-probe-sim as a child process and talks to it over pipes, as an
MCP client does, then reports:
  - "tools/list" round trips per second (requests sent one after another, each
    answered before the next is written);
  - the overhead of "power_snapshot" beyond its 1.0 s interval: wall time of
    each call minus 1.0 s, median and worst over the calls;
  - the server's peak resident memory (VmHWM from /proc/<pid>/status, read just
    before its input is closed).
It also prints how late this machine wakes a sleeping client at the same
moments: the snapshot's own sleep wakes as late, so on a busy or virtual
machine that lateness, not the server's work, dominates the worst overhead.
The simulated machine runs on the real clock, so each snapshot really takes its
second. Linux only (reads /proc). Run by hand; the test suite does not use it:

  bench/probe_process_bench.py build/default/probe/calorim-probe-sim [--verbose]

The exit status is 0 when the worst overhead and the peak memory meet their
targets, 1 otherwise.
"""

import argparse
import io
import json
import os
import signal
import statistics
import subprocess
import sys
import time

SNAPSHOT_INTERVAL = 1.0
CLIENT_SLEEP = 0.1
TARGET_OVERHEAD_MS = 2.0
TARGET_RSS_MB = 10.0


class Server:
    def __init__(self, binary):
        self.proc = subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, bufsize=0)
        # A raw pipe's readline reads one byte per system call; buffer it.
        self.out = io.BufferedReader(self.proc.stdout, buffer_size=1 << 16)
        self.next_id = 0

    def request_line(self, method, params=None):
        message = {"jsonrpc": "2.0", "id": self.next_id, "method": method}
        if params is not None:
            message["params"] = params
        self.next_id += 1
        return (json.dumps(message, separators=(",", ":")) + "\n").encode()

    def exchange(self, line):
        self.proc.stdin.write(line)
        reply = self.out.readline()
        if not reply.endswith(b"\n"):
            raise RuntimeError("server ended: " + self.proc.stderr.read().decode(errors="replace"))
        return reply

    def peak_rss_kib(self):
        with open(f"/proc/{self.proc.pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
        raise RuntimeError("no VmHWM in /proc status")

    def close(self):
        self.proc.stdin.close()
        rest = self.out.read()
        status = self.proc.wait(timeout=10)
        if rest or status != 0:
            raise RuntimeError(f"unexpected end: status {status}, output {rest!r}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("binary", nargs="?", default="build/default/probe/calorim-probe-sim")
    parser.add_argument("--list-requests", type=int, default=2000)
    parser.add_argument("--snapshots", type=int, default=20)
    parser.add_argument("--verbose", action="store_true", help="print every snapshot's overhead")
    args = parser.parse_args()

    signal.alarm(60 + 2 * args.snapshots + args.list_requests // 100)  # a hung server ends the run

    started = time.perf_counter()
    server = Server(args.binary)
    reply = json.loads(server.exchange(server.request_line("initialize", {"protocolVersion": "2025-06-18"})))
    assert reply["result"]["protocolVersion"] == "2024-11-05", reply
    startup = time.perf_counter() - started

    lines = [server.request_line("tools/list") for _ in range(args.list_requests)]
    trips = []
    for line in lines:
        t0 = time.perf_counter()
        server.exchange(line)
        trips.append(time.perf_counter() - t0)
    total = sum(trips)

    # Between snapshots the client times a short sleep of its own: how late this
    # machine wakes a sleeper, at the same moments. The server's snapshot sleeps
    # once, so this lateness is part of every overhead figure.
    overheads = []
    oversleeps = []
    for _ in range(args.snapshots):
        t0 = time.perf_counter()
        time.sleep(CLIENT_SLEEP)
        oversleeps.append(time.perf_counter() - t0 - CLIENT_SLEEP)
        line = server.request_line("tools/call", {"name": "power_snapshot", "arguments": {}})
        t0 = time.perf_counter()
        reply = server.exchange(line)
        overheads.append(time.perf_counter() - t0 - SNAPSHOT_INTERVAL)
        text = json.loads(reply)["result"]["content"][0]["text"]
        assert json.loads(text)["duration"] == SNAPSHOT_INTERVAL, text

    if args.verbose:
        print("snapshot overheads (ms): " + " ".join(f"{o * 1e3:.3f}" for o in overheads))
        print("client oversleeps (ms):  " + " ".join(f"{o * 1e3:.3f}" for o in oversleeps))

    peak_kib = server.peak_rss_kib()
    server.close()

    median_ms = statistics.median(overheads) * 1e3
    worst_ms = max(overheads) * 1e3
    peak_mb = peak_kib * 1024 / 1e6
    trips.sort()
    print(f"binary                   {os.path.abspath(args.binary)}")
    print(f"start to first answer    {startup * 1e3:.1f} ms")
    print(f"tools/list round trips   {len(trips) / total:.0f} /s over {len(trips)} "
          f"(median {statistics.median(trips) * 1e6:.1f} us, p99 {trips[int(len(trips) * 0.99) - 1] * 1e6:.1f} us)")
    print(f"snapshot overhead        median {median_ms:.3f} ms, worst {worst_ms:.3f} ms over {len(overheads)} calls "
          f"(target < {TARGET_OVERHEAD_MS} ms)")
    print(f"timer wake-up (client)   median {statistics.median(oversleeps) * 1e3:.3f} ms, "
          f"worst {max(oversleeps) * 1e3:.3f} ms over {len(oversleeps)} sleeps of {CLIENT_SLEEP} s")
    print(f"peak RSS (VmHWM)         {peak_mb:.2f} MB = {peak_kib} KiB (target < {TARGET_RSS_MB} MB)")
    met = worst_ms < TARGET_OVERHEAD_MS and peak_mb < TARGET_RSS_MB
    return 0 if met else 1


if __name__ == "__main__":
    sys.exit(main())
