# SPDX-License-Identifier: GPL-3.0-or-later
"""What a screen reader finds in torvak-ptt's window, through AT-SPI.

Run by atspi_test.sh, which starts the accessibility bus and the program;
argv: the simulated radio's pid, then the torvakfunc command. Prints each
check and exits 1 if one fails."""
import os
import signal
import subprocess
import sys
import time

import pyatspi

failed = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failed.append(what)


def wait(condition, seconds=5.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return condition()


def nodes(acc):
    yield acc
    for i in range(acc.childCount):
        yield from nodes(acc.getChildAtIndex(i))


def app():
    desktop = pyatspi.Registry.getDesktop(0)
    found = [desktop.getChildAtIndex(i) for i in range(desktop.childCount)]
    return next((a for a in found if a and a.name == "torvak-ptt"), None)


def named(name, role=None):
    return next((n for n in nodes(app()) if n.name == name and (role is None or n.getRoleName() == role)), None)


def showing(acc):
    return acc.getState().contains(pyatspi.STATE_SHOWING)


check(wait(lambda: app() is not None), "torvak-ptt is on the accessibility bus")
lamp = named("PTT lamp")
check(lamp is not None, "the lamp has an accessible name")
check(lamp is not None and lamp.description.startswith("Receive"), "the lamp says receive at start")
options = ["Com Port:", "Run Minimized", "Top"]
check(all(named(o) is not None and not showing(named(o)) for o in options),
      "the options are hidden while the window is collapsed")

subprocess.run(sys.argv[2:] + ["tx"], check=True)
check(wait(lambda: named("PTT lamp").description.startswith("Transmit")), "the lamp says transmit after tx")

more = named("More>>", "push button")
action = more.queryAction()
action.doAction(next(i for i in range(action.nActions) if action.getName(i).lower() in ("press", "click")))
check(wait(lambda: all(showing(named(o)) for o in options)), "the options are there once expanded")

os.kill(int(sys.argv[1]), signal.SIGTERM)  # the radio unplugged
check(wait(lambda: "went away" in named("PTT lamp").description), "the lamp tells of the fault")

print(f"{7 - len(failed)} passed, {len(failed)} failed")
sys.exit(1 if failed else 0)
