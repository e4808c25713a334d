#!/usr/bin/python3
"""Walks a running program's window from outside, over the AT-SPI bus, as a screen reader does.

atspi_walk.py main|installer : waits for the program on the bus, checks that every element one can press or
focus has a role and a name, that a disabled one offers neither (the missing receiver's tile is one), that no page reads as a tab, and on the main program presses the headset tile and the back arrow through their accessible
actions, following where the focus goes.
"""
import sys
import time

import pyatspi
from gi.repository import GLib

TITLE = "Sonella Desktop"
focus_trail = []


def on_focus(event):
    if event.detail1:
        focus_trail.append((event.source.getRoleName(), event.source.name))


def pump(seconds):
    end = time.time() + seconds
    context = GLib.MainContext.default()
    while time.time() < end:
        while context.iteration(False):
            pass
        time.sleep(0.02)


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
    """Shown elements as (role, name, actions); fails on an actionable one without a role or a name, on a
    disabled one that can be pressed or focused, on an action offered twice, on a page tab."""
    found, faults = [], []
    for node, depth in nodes(frame):
        state = node.getState()
        if not state.contains(pyatspi.STATE_SHOWING):
            continue
        entry = (node.getRoleName(), node.name, actions(node))
        enabled = state.contains(pyatspi.STATE_ENABLED) and state.contains(pyatspi.STATE_SENSITIVE)
        focusable = state.contains(pyatspi.STATE_FOCUSABLE)
        found.append(entry)
        print("  " * depth + "%s %r %s%s" % (entry + ("" if enabled else " disabled",)))
        actionable = "Press" in entry[2] or focusable
        if actionable and (entry[0] in ("unknown", "invalid", "") or not entry[1].strip()):
            faults.append(("unnamed",) + entry)
        if not enabled and actionable:
            faults.append(("disabled but actionable",) + entry)
        if enabled and entry[1] == "No receiver connected":
            faults.append(("a missing device's tile reads as enabled",) + entry)
        if len(set(entry[2])) != len(entry[2]) or entry[0] == "page tab":
            faults.append(("read oddly",) + entry)
    if faults:
        sys.exit("faults: %r" % faults)
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


def page_change(frame, role, name, title, wanted):
    """Presses, then the new page's title must be the first and only element the focus went to."""
    pump(0.5)
    del focus_trail[:]
    press(frame, role, name)
    expect(frame, wanted)
    pump(1)
    if focus_trail != [("heading", title)]:
        sys.exit("focus went to %r, not straight to the title %r" % (focus_trail, title))


def main():
    frame = find_frame(20)
    if frame is None:
        sys.exit("the program never registered on the AT-SPI bus")
    pyatspi.Registry.registerEventListener(on_focus, "object:state-changed:focused")
    if sys.argv[1] == "installer":
        expect(frame, [("link", "End User License Agreement."), ("push button", "INSTALL SONELLA"),
                       ("heading", "WELCOME TO\nSONELLA")])
        return
    expect(frame, [("push button", "No receiver connected"), ("push button", "Headset"),
                   ("heading", "The latest and greatest.")])
    page_change(frame, "push button", "Headset", "Headset",
                [("push button", "Back"), ("label", "Firmware Version: 1.44"), ("heading", "Headset")])
    page_change(frame, "push button", "Back", "The latest and greatest.",
                [("push button", "Headset"), ("heading", "The latest and greatest.")])


if __name__ == "__main__":
    main()
