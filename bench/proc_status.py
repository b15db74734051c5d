"""Readings of a running process from /proc, shared by the process benchmarks."""


def status_kib(pid, key):
    """One kiB figure of /proc/PID/status, such as "VmHWM" (peak resident memory)."""
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    raise RuntimeError(f"no {key} in /proc status")
