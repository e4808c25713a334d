#!/usr/bin/python3
"""Walks a running program's window from outside, over the AT-SPI bus, as a screen reader does.

atspi_walk.py main|installer : waits for the program on the bus, checks that every element one can press or
focus has a role and a name, and on the main program presses the receiver tile and the back arrow through
their accessible actions.
"""
import sys
import time

import pyatspi

TITLE = "Sonella Desktop"


def find_frame(timeout):
    end = time.time() + timeout
    while time.time() < end:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            for i in range(app.childCount if app else 0):
                frame = app.getChildAtIndex(i)
                if frame is not None and frame.name == TITLE:
                    return frame
        time.sleep(0.2)
    return None


def nodes(node, depth=0):
    if node is None:
        return
    yield node, depth
    for i in range(node.childCount):
        yield from nodes(node.getChildAtIndex(i), depth + 1)


def actions(node):
    try:
        action = node.queryAction()
    except NotImplementedError:
        return []
    return [action.getName(i) for i in range(action.nActions)]


def walk(frame):
    """Shown elements as (role, name, actions); fails on an actionable one without a role or a name."""
    found, faults = [], []
    for node, depth in nodes(frame):
        state = node.getState()
        if not state.contains(pyatspi.STATE_SHOWING):
            continue
        entry = (node.getRoleName(), node.name, actions(node))
        found.append(entry)
        print("  " * depth + "%s %r %s" % entry)
        actionable = "Press" in entry[2] or state.contains(pyatspi.STATE_FOCUSABLE)
        if actionable and (entry[0] in ("unknown", "invalid", "") or not entry[1].strip()):
            faults.append(entry)
    if faults:
        sys.exit("unnamed: %r" % faults)
    return found


def press(frame, role, name):
    for node, _ in nodes(frame):
        if node.getRoleName() == role and node.name == name:
            action = node.queryAction()
            for i in range(action.nActions):
                if action.getName(i) == "Press":
                    action.doAction(i)
                    return
    sys.exit("no %s %r to press" % (role, name))


def expect(frame, wanted, timeout=5):
    end = time.time() + timeout
    while True:
        found = {(role, name) for role, name, _ in walk(frame)}
        missing = [w for w in wanted if w not in found]
        if not missing:
            return
        if time.time() > end:
            sys.exit("missing %r" % missing)
        time.sleep(0.3)


def main():
    frame = find_frame(20)
    if frame is None:
        sys.exit("the program never registered on the AT-SPI bus")
    if sys.argv[1] == "installer":
        expect(frame, [("link", "End User License Agreement."), ("push button", "INSTALL SONELLA")])
        return
    expect(frame, [("push button", "Receiver"), ("push button", "Headset")])
    press(frame, "push button", "Receiver")
    expect(frame, [("push button", "Back"), ("label", "Firmware Version: 1.45"), ("push button", "RECONNECT")])
    # The new page is announced: its title holds the focus.
    focused = [node.name for node, _ in nodes(frame) if node.getState().contains(pyatspi.STATE_FOCUSED)]
    if "Receiver" not in focused:
        sys.exit("focus on %r, not the title" % focused)
    press(frame, "push button", "Back")
    expect(frame, [("push button", "Receiver"), ("push button", "Headset")])


if __name__ == "__main__":
    main()
