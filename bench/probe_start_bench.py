#!/usr/bin/env python3
"""How soon the MCP server answers after it is started.

Starts calorim-probe-sim ten times (by default) as a child process, as an MCP
client does, and for each start measures:
  - from the spawn to the answer to "initialize";
  - from asking for the first "power_snapshot" (at once after that answer) to
    its result, whose own interval is 1.0 s.
Prints every figure and the medians. The slow start-up work (the SMC key
probing and the hardware report) runs beside the session, so "initialize" is
answered at once and the first call that needs that work waits for what is
left of it. Linux or macOS, Python 3. Run by hand; the test suite does not use it:

  bench/probe_start_bench.py build/default/probe/calorim-probe-sim [--runs 10]

The exit status is 0 when the median time to "initialize" is under 50 ms.
"""

import argparse
import io
import json
import signal
import statistics
import subprocess
import sys
import time

TARGET_INITIALIZE_MS = 50.0


def line(message_id, method, params):
    message = {"jsonrpc": "2.0", "id": message_id, "method": method, "params": params}
    return (json.dumps(message, separators=(",", ":")) + "\n").encode()


def one_start(binary):
    started = time.perf_counter()
    proc = subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, bufsize=0)
    out = io.BufferedReader(proc.stdout, buffer_size=1 << 16)
    proc.stdin.write(line(0, "initialize", {"protocolVersion": "2024-11-05"}))
    reply = json.loads(out.readline())
    initialize = time.perf_counter() - started
    assert reply["result"]["protocolVersion"] == "2024-11-05", reply

    asked = time.perf_counter()
    proc.stdin.write(line(1, "tools/call", {"name": "power_snapshot", "arguments": {}}))
    reply = json.loads(out.readline())
    snapshot = time.perf_counter() - asked
    assert "result" in reply and not reply["result"].get("isError"), reply

    proc.stdin.close()
    proc.wait(timeout=10)
    return initialize, snapshot


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("binary", nargs="?", default="build/default/probe/calorim-probe-sim")
    parser.add_argument("--runs", type=int, default=10)
    args = parser.parse_args()
    signal.alarm(30 + 5 * args.runs)  # a hung server ends the run

    initialize, snapshot = [], []
    for _ in range(args.runs):
        i, s = one_start(args.binary)
        initialize.append(i * 1e3)
        snapshot.append(s * 1e3)
    print("initialize after spawn (ms):     " + " ".join(f"{v:.1f}" for v in initialize))
    print("first power_snapshot after ask (ms): " + " ".join(f"{v:.0f}" for v in snapshot))
    median = statistics.median(initialize)
    print(f"initialize median {median:.1f} ms (target < {TARGET_INITIALIZE_MS:.0f} ms); "
          f"first power_snapshot median {statistics.median(snapshot):.0f} ms after it was asked for")
    return 0 if median < TARGET_INITIALIZE_MS else 1


if __name__ == "__main__":
    sys.exit(main())
