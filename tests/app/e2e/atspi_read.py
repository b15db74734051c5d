"""Reads the running calorim's figures as a screen reader does, through AT-SPI.

    atspi_read.py SECONDS

Finds the application "calorim" on the accessibility bus, waits for the
panel's figures to name themselves ("CPU power 3.62 watts"), presses the
panel's "Open Detail Window" button through its accessible action, and
waits for the detail window's figures. Prints what it read; exit status 0
when every figure was found, 1 when one was not within SECONDS, 77 when
pyatspi is missing.
"""

import re
import sys
import time

try:
    import pyatspi
except ImportError:
    print("skipped: pyatspi is not installed")
    sys.exit(77)

WATTS = r"\d+\.\d+ watts"
PANEL = {
    "CPU power": rf"^CPU power {WATTS}$",
    "GPU power": rf"^GPU power {WATTS}$",
    "CPU load": r"^CPU load \d+ percent$",
    "CPU temperature": r"^CPU temperature \d+ degrees Celsius$",
    "Total power": rf"^Total power {WATTS}$",
}
DETAIL = {
    "SoC total": rf"^SoC Total {WATTS}$",
    "CPU power": rf"^CPU power {WATTS}$",
    "GPU load": r"^GPU load \d+ percent$",
    "power history": r"^Power history (between .* watts|not measured)$",
}
MAX_NODES = 4000  # a bound on the walk of one tree


def walk(root):
    """(name, role, node) of `root` and everything under it, breadth first."""
    found, queue = [], [root]
    while queue and len(found) < MAX_NODES:
        node = queue.pop(0)
        try:
            found.append((node.name or "", node.getRoleName(), node))
            queue.extend(node[i] for i in range(node.childCount))
        except Exception:  # a node that went away while read
            continue
    return found


def application(deadline):
    while time.monotonic() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop[i]
            if app is not None and app.name == "calorim":
                return app
        time.sleep(0.2)
    return None


def window(app, title, deadline):
    while time.monotonic() < deadline:
        for i in range(app.childCount):
            child = app[i]
            if child is not None and child.name == title:
                return child
        time.sleep(0.2)
    return None


def read(root, wanted, deadline, measured):
    """The name of each wanted figure under `root`; with `measured`, only
    figures above zero count for power (the first sample is in)."""
    names = {}
    while time.monotonic() < deadline:
        names = {}
        for name, _, _ in walk(root):
            for figure, pattern in wanted.items():
                if figure not in names and re.match(pattern, name):
                    if measured and "watts" in name and float(name.split()[-2]) == 0:
                        continue
                    names[figure] = name
        if len(names) == len(wanted):
            break
        time.sleep(0.3)
    return names


def report(where, wanted, names):
    ok = True
    for figure in wanted:
        if figure in names:
            print(f"{where}: {names[figure]}")
        else:
            print(f"{where}: no accessible figure for {figure}")
            ok = False
    return ok


def main():
    seconds = float(sys.argv[1]) if len(sys.argv) > 1 else 30
    deadline = time.monotonic() + seconds
    app = application(deadline)
    if app is None:
        print("calorim is not on the accessibility bus")
        return 1
    panel = window(app, "Calorim", deadline)
    if panel is None:
        print("no panel window among:", [app[i].name for i in range(app.childCount)])
        return 1
    panel_names = read(panel, PANEL, deadline, measured=True)
    ok = report("panel", PANEL, panel_names)

    buttons = [node for name, role, node in walk(panel) if name == "Open Detail Window" and role == "push button"]
    if not buttons:
        print("no button named 'Open Detail Window' in the panel")
        return 1
    action = buttons[0].queryAction()
    action.doAction(0)
    detail = window(app, "Calorim \u2014 Simulated", deadline)
    if detail is None:
        print("the detail window did not open")
        return 1
    ok = report("detail", DETAIL, read(detail, DETAIL, deadline, measured=False)) and ok
    return 0 if ok else 1


sys.exit(main())
