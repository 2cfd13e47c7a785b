#!/usr/bin/python3
"""What a screen reader is told of one program's windows, through AT-SPI.

  /usr/bin/python3 atspi_info.py --pid PID [--until ROLE,...] [--seconds S]

Run by Debian's own python3, whose pyatspi it needs, on the session bus that
DBUS_SESSION_BUS_ADDRESS names. Finds the application of process PID and
prints, one line each:
  frame|NAME     a top-level window, by the name it is read out by (its title)
  text|TEXT      a label shown in that window
  alert|NAME     a message box (an alert or dialog), by its title
  message|TEXT   a label shown in the message box
  button|NAME    a button of the message box
Looks again until each role of --until (frame, text, alert, message) has been
seen, the deadline passes or the process ends; then prints what it saw, and
exits 1 if something was missing.
"""
import argparse
import os
import sys
import time

import pyatspi
from gi.repository import Atspi

BOXES = {pyatspi.ROLE_ALERT: "alert", pyatspi.ROLE_DIALOG: "alert", pyatspi.ROLE_FRAME: "frame"}


def shown(node):
    states = node.getState()
    return states.contains(pyatspi.STATE_VISIBLE) and states.contains(pyatspi.STATE_SHOWING)


def inside(node, box, lines):
    """The labels and buttons under node, in tree order."""
    for child in node:
        if child is None:
            continue
        role = child.getRole()
        if role == pyatspi.ROLE_LABEL and child.name and shown(child):
            lines.append(("text|" if box == "frame" else "message|") + child.name)
        elif role == pyatspi.ROLE_PUSH_BUTTON and box == "alert":
            lines.append("button|" + child.name)
        inside(child, box, lines)


def look(pid):
    lines = []
    for app in pyatspi.Registry.getDesktop(0):
        try:
            if app is None or app.get_process_id() != pid:
                continue
            for window in app:
                box = BOXES.get(window.getRole()) if window is not None else None
                if box is not None and shown(window):
                    lines.append("%s|%s" % (box, window.name))
                    inside(window, box, lines)
        except Exception:  # an application or window that went meanwhile
            continue
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--pid", type=int, required=True)
    parser.add_argument("--until", default="frame")
    parser.add_argument("--seconds", type=float, default=20)
    args = parser.parse_args()
    wanted = {role for role in args.until.split(",") if role}
    deadline = time.monotonic() + args.seconds
    # A program that stops answering costs a second or two, not D-Bus's 25.
    Atspi.set_timeout(2000, 5000)
    while True:
        try:
            lines = look(args.pid)
        except Exception as error:  # the bus not yet there, or a call timed out
            lines = ["error|%s" % error]
        missing = wanted - {line.split("|", 1)[0] for line in lines}
        try:
            with open("/proc/%d/stat" % args.pid) as stat:
                gone = stat.read().rsplit(")", 1)[-1].split()[0] == "Z"
        except OSError:
            gone = True
        if not missing or gone or time.monotonic() > deadline:
            break
        time.sleep(0.2)
    for line in lines:
        print(line)
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
