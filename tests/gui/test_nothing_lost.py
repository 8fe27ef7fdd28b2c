"""Nothing is lost without a question.

Saving over an existing file asks first: No leaves the file as it was, Yes
replaces it. Closing the window with unsaved changes asks: Cancel keeps
the window, Save saves (through the file dialog, and its replace question)
and then closes. Without unsaved changes, after a read or a save, the
window closes at once."""

import os
import time

import pyatspi

import ternui as ui
from ternui import check

programs = []

LINEAR = [i * 4095 // 255 for i in range(256)]
CURVE2 = [(255 - i) * 4095 // 255 for i in range(256)]


def answer(p, expected, button):
    """Waits for the question holding `expected` and presses `button`."""
    box = p.wait_dialog(pyatspi.ROLE_ALERT)
    text = ui.wait_for(lambda: p.alert_text(box), "the question's text")
    check(expected in text, "the box says %r, expected %r in it" % (text, expected))
    ui.do_action(ui.find(box, pyatspi.ROLE_PUSH_BUTTON, button), "click")


def preset(p, button, name):
    p.click(button)
    ui.wait_for(lambda: ui.text_of(p.entry()) == name, "the name entry to show %s" % name)


def closes_at_once(p, what):
    p.close()
    try:
        status = p.proc.wait(ui.TIMEOUT)
    except Exception:
        raise ui.Failure("%s: the window did not close (a question? %r)" % (
            what, [p.alert_text(a) for a in p.toplevels(pyatspi.ROLE_ALERT)]))
    check(status == 0 and "Destroy mainWin" in p.stdout(), "%s: exit status %s" % (what, status))


def test():
    sim, _ = ui.program_paths()
    target = os.path.join(ui.WORK, "X.crv")

    p = ui.Program([sim, "--devices", 1], "first")
    programs.append(p)
    p.window()
    preset(p, "Curve linear", "LINEAR")
    p.click("Save curve")
    p.choose_file("Save File", target)
    ui.wait_for(lambda: os.path.exists(target), "X.crv to be written")
    check(p.toplevels(pyatspi.ROLE_ALERT) == [], "a new file asked before it was written")

    preset(p, "Curve 2", "Curve2")
    p.click("Save curve")
    p.choose_file("Save File", target)
    answer(p, "already exists", "No")
    p.wait_no_dialogs()
    check(ui.read_crv(target) == ("LINEAR", LINEAR), "No to the replace question still replaced X.crv")

    p.close()
    answer(p, "not saved", "Cancel")
    p.wait_no_dialogs()
    time.sleep(0.3)
    check(p.alive() and ui.window_id() is not None, "Cancel did not keep the window")

    p.close()
    answer(p, "not saved", "Save")
    p.choose_file("Save File", target)
    answer(p, "already exists", "Yes")
    try:
        status = p.proc.wait(ui.TIMEOUT)
    except Exception:
        raise ui.Failure("the window did not close after saving")
    check(status == 0, "exit status %s" % status)
    check(ui.read_crv(target) == ("Curve2", CURVE2), "the save on closing did not replace X.crv")

    # A curve just read has nothing unsaved.
    p = ui.Program([sim, "--devices", 1], "read")
    programs.append(p)
    p.window()
    p.click("Read curve")
    p.choose_file("Open File", target)
    ui.wait_for(lambda: ui.text_of(p.entry()) == "Curve2", "the name entry to show Curve2")
    closes_at_once(p, "after a read")

    # Nor has a curve just saved.
    p = ui.Program([sim, "--devices", 1], "saved")
    programs.append(p)
    p.window()
    preset(p, "Curve linear", "LINEAR")
    other = os.path.join(ui.WORK, "Y.crv")
    p.click("Save curve")
    p.choose_file("Save File", other)
    ui.wait_for(lambda: os.path.exists(other), "Y.crv to be written")
    closes_at_once(p, "after a save")


if __name__ == "__main__":
    ui.run(test, programs)
