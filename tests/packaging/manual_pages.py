#!/usr/bin/env python3
"""The manual pages against the programs they describe: every example command
of each page's EXAMPLES section is run as written (the exporter on a free
port), and every status of its EXIT STATUS section is produced by the case it
names, with nothing left out on either side. Pages are read as man renders
them.

    manual_pages.py BUILD_DIR SOURCE_DIR HAS_APP HAS_EXPORTER
"""
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

build, source = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
has_app, has_exporter = sys.argv[3] == "1", sys.argv[4] == "1"
if shutil.which("man") is None:
    print("SKIP: man is missing (scripts/setup.sh installs it)")
    sys.exit(77)

work = tempfile.mkdtemp()
bin_dir = os.path.join(work, "bin")
os.makedirs(bin_dir)
programs = {"calorim-probe": "probe", "calorim-probe-sim": "probe", "calorim-run": "run", "calorim-top": "top"}
if has_exporter:
    programs["calorim-exporter"] = "exporter"
if has_app:
    programs["calorim"] = "app"
for name, folder in programs.items():
    os.symlink(os.path.join(build, folder, name), os.path.join(bin_dir, name))
env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
env.update(PATH=bin_dir + ":" + env["PATH"], HOME=os.path.join(work, "home"), XDG_RUNTIME_DIR=os.path.join(work, "run"),
           XDG_CONFIG_HOME=os.path.join(work, "home", ".config"), QT_QPA_PLATFORM="offscreen", LC_ALL="C.UTF-8")
os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
os.makedirs(env["HOME"])

failures = []


def fail(message):
    print("FAIL:", message)
    failures.append(message)


def sections(page):
    """The rendered page's sections: heading -> its lines, indentation kept."""
    text = subprocess.run(["man", "-E", "ascii", "-l", os.path.join(source, "packaging", "man", page + ".1.in")],
                          env=dict(env, MANWIDTH="400"), capture_output=True, text=True, check=True).stdout
    result, current = {}, None
    for line in text.splitlines():
        if line and not line[0].isspace():
            current = line.strip()
            result[current] = []
        elif current:
            result[current].append(line)
    return result


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Run:
    """One command line in bash, in a process group of its own."""

    def __init__(self, command, stdin=subprocess.DEVNULL):
        self.out = open(os.path.join(work, "out"), "w+")
        self.err = open(os.path.join(work, "err"), "w+")
        self.process = subprocess.Popen(["bash", "-c", command], stdin=stdin, stdout=self.out, stderr=self.err,
                                        env=env, start_new_session=True)

    def ended(self, seconds):
        try:
            self.process.wait(seconds)
            return True
        except subprocess.TimeoutExpired:
            return False

    def stop(self):
        if self.process.poll() is not None:
            return f"ended by itself with {self.process.returncode}"
        os.killpg(self.process.pid, signal.SIGTERM)
        if not self.ended(15):
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
            return "still running 15 s after SIGTERM"
        return self.process.returncode

    def output(self):
        self.out.seek(0)
        self.err.seek(0)
        return self.out.read(), self.err.read()


def serving(run, program, seconds=20):
    """Whether `program`, still running, serves: the exporter answers /metrics,
    the application stays up."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if run.process.poll() is not None:
            return False
        out, _ = run.output()
        match = re.search(r"serving (http://\S+)", out)
        if program == "calorim-exporter" and match:
            url = match.group(1).replace("0.0.0.0", "127.0.0.1")
            with urllib.request.urlopen(url, timeout=5) as answer:
                return b"calorim_energy_available" in answer.read()
        if program == "calorim" and time.monotonic() > deadline - seconds + 3:
            return True
        time.sleep(0.2)
    return False


def run_example(page, command):
    program = command.split("|")[-1].split()[0]
    if program == "calorim-exporter":
        # Any free port instead of the conventional one, which may be taken here.
        port = free_port()
        if "--listen" in command:
            command = re.sub(r"(--listen[ =]\S*):\d+", rf"\g<1>:{port}", command)
        else:
            command += f" --listen 127.0.0.1:{port}"
    run = Run(command)
    if program in ("calorim-exporter", "calorim") and "--help" not in command and "--version" not in command:
        if not serving(run, program):
            fail(f"{page}: example '{command}' did not serve: {run.output()}")
        status = run.stop()
        if status != 0:
            fail(f"{page}: example '{command}' ended with {status} after SIGTERM: {run.output()}")
        return
    if not run.ended(30):
        run.stop()
        fail(f"{page}: example '{command}' did not end")
        return
    out, err = run.output()
    if run.process.returncode != 0 or not out:
        fail(f"{page}: example '{command}' ended with {run.process.returncode}: {out!r} {err!r}")


# Per page, each status of EXIT STATUS and command lines that must end with it.
# "serve" commands run until they serve, then get SIGTERM.
exit_cases = {
    "calorim-probe": {
        0: [("calorim-probe-sim", "end of input"), ("calorim-probe --version", "open input"),
            ("calorim-probe --help", "open input"), ("calorim-probe-sim --help", "open input")],
        1: [("calorim-probe-sim /nonexistent/profile.json", "end of input")],
        2: [("calorim-probe --bogus", "open input"), ("calorim-probe-sim a.json b.json", "open input"),
            ("calorim-probe stray", "open input")],
    },
    "calorim-exporter": {
        0: [("calorim-exporter --simulate --listen 127.0.0.1:0", "serve"), ("calorim-exporter --version", "")],
        1: [("calorim-exporter --simulate --listen 192.0.2.1:9847", ""),
            ("calorim-exporter --simulate=/nonexistent/profile.json --listen 127.0.0.1:0", "")],
        2: [("calorim-exporter --bogus", ""), ("calorim-exporter --interval", ""),
            ("calorim-exporter --listen 9847", ""), ("calorim-exporter --simulate a.json b.json", "")],
    },
    "calorim-run": {
        0: [("calorim-run --simulate -- true", ""), ("calorim-run --version", ""), ("calorim-run --help", "")],
        2: [("calorim-run --bogus true", ""), ("calorim-run", ""), ("calorim-run --interval 0 true", "")],
        125: [("calorim-run --simulate=/nonexistent/profile.json true", ""),
              ("calorim-run --output /nonexistent/folder/report.txt true", "")],
        126: [("calorim-run /etc", "")],
        127: [("calorim-run calorim-no-such-command", "")],
    },
    "calorim-top": {
        0: [("calorim-top --simulate --json --count 1", ""), ("calorim-top --version", ""),
            ("calorim-top --simulate --diagnose", "")],
        1: [("calorim-top --simulate=/nonexistent/profile.json --json", "")],
        2: [("calorim-top --bogus", ""), ("calorim-top --interval 0.1", ""), ("calorim-top --simulate", ""),
            ("calorim-top --simulate a.json b.json", "")],
    },
    "calorim": {
        0: [("calorim --simulate", "serve"), ("calorim --version", "")],
        1: [("calorim --simulate /nonexistent/profile.json", "")],
        2: [("calorim --bogus", ""), ("calorim --simulate a.json b.json", ""), ("calorim profile.json", "")],
    },
}

pages = ["calorim-probe", "calorim-run", "calorim-top"] + (["calorim-exporter"] if has_exporter else []) + (["calorim"] if has_app else [])
for page in pages:
    text = sections(page)
    examples = [line.strip()[2:] for line in text.get("EXAMPLES", []) if line.strip().startswith("$ ")]
    if not examples:
        fail(f"{page}: no examples")
    for command in examples:
        run_example(page, command)

    stated = {int(m.group(1)) for line in text.get("EXIT STATUS", []) if (m := re.match(r"^ {7}(\d+)\s", line))}
    if stated != set(exit_cases[page]):
        fail(f"{page}: EXIT STATUS states {sorted(stated)}, the test knows {sorted(exit_cases[page])}")
    for status, cases in exit_cases[page].items():
        for command, how in cases:
            program = command.split()[0]
            if how == "serve":
                run = Run(command)
                ok = serving(run, program)
                got = run.stop() if ok else "not serving"
            else:
                # An input left open: a program that waited for it would not end.
                run = Run(command, stdin=subprocess.PIPE if how == "open input" else subprocess.DEVNULL)
                if not run.ended(30):
                    run.stop()
                    got = "still running after 30 s"
                else:
                    got = run.process.returncode
                if run.process.stdin:
                    run.process.stdin.close()
            out, err = run.output()
            if got != status:
                fail(f"{page}: '{command}' ended with {got}, the page states {status}: {out!r} {err!r}")
            if status == 2 and not re.fullmatch(rf"{re.escape(program)}: .+ \(see {re.escape(program)} --help\)\n", err):
                fail(f"{page}: '{command}' wrote {err!r}, not one line pointing to --help")
            if ("--help" in command or "--version" in command) and (err or not out.startswith(("usage: " + program,
                                                                                             program + " "))):
                fail(f"{page}: '{command}' printed {out!r} {err!r}")
    print(f"{page}: {len(examples)} examples, exit statuses {sorted(stated)} checked")

shutil.rmtree(work, ignore_errors=True)
sys.exit(1 if failures else 0)
