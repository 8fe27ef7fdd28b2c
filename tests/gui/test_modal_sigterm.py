"""SIGTERM while a modal dialog runs: the window goes, and every dialog
transient for it with it; the program must not touch a dialog or widget that
is gone, and must not be left running a dialog nobody can answer. For each
of the setup dialog (with its DALI list refreshing), a message box, the
replace question, the question about unsaved changes, the file chooser, the
keyboard shortcuts, the About box and the address sequence: the program exits at once with status
0 after "EXIT", and says nothing on stderr of GTK or GLib criticals or
warnings. (The DALI window has no control that opens it.)"""

import os
import re

import pyatspi

import ternui as ui
from ternui import check

DISCOVERY_TIMEOUT = 60

programs = []


def ends_cleanly(p, what):
    status = p.terminate()
    out, err = p.stdout(), p.stderr()
    check(status == 0, "%s: exit status %s after SIGTERM" % (what, status))
    check("\n\nEXIT\n" in out, "%s: no EXIT on stdout" % what)
    noise = [l for l in err.splitlines() if re.search(r"CRITICAL|WARNING|invalid .*pointer", l)]
    check(not noise, "%s: stderr says %r" % (what, noise))


def start(argv, tag):
    p = ui.Program(argv, tag)
    programs.append(p)
    p.window()
    return p


def setup_dialog(sim):
    p = start([sim, "--devices", 1, "--dali", 2, "--seed", 4], "setup")
    p.quick_discovery(1, timeout=DISCOVERY_TIMEOUT)
    rows = ui.table_rows(p.table("Device list"))
    check(len(rows) == 1, "the list shows %r" % rows)
    uid = rows[0].split()[1]
    ui.click_row(p.table("Device list"), 0)
    ui.wait_for(lambda: ui.sensitive(p.button("Setup device")), "Setup device to become sensitive")
    p.click("Setup device")
    dialog = p.wait_dialog(pyatspi.ROLE_DIALOG, "Setup %s" % uid, timeout=30)
    # The DALI list's timer has run: it is what must not outlive the dialog.
    ui.wait_for(lambda: len(ui.table_rows(ui.find(dialog, pyatspi.ROLE_TABLE, "DALI list"))) == 2,
                "the DALI list to show two gear")
    ends_cleanly(p, "setup dialog")


def message_box(real):
    p = start([real], "message")
    p.click("Send curve")
    p.wait_dialog(pyatspi.ROLE_ALERT, timeout=15)
    p.wait_stderr(r"(?m)^ERROR: Cable not found!$")
    ends_cleanly(p, "message box")


def replace_question(sim):
    path = os.path.join(ui.WORK, "there.crv")
    with open(path, "w") as f:
        f.write("x\n")
    p = start([sim, "--devices", 0], "replace")
    p.click("Save curve")
    p.choose_file("Save File", path)
    alert = p.wait_dialog(pyatspi.ROLE_ALERT)
    ui.wait_for(lambda: "already exists" in p.alert_text(alert), "the replace question")
    ends_cleanly(p, "replace question")


def unsaved_question(sim):
    p = start([sim, "--devices", 0], "unsaved")
    p.click("Curve linear")
    ui.wait_for(lambda: ui.text_of(p.entry()) == "LINEAR", "the preset")
    p.close()
    alert = p.wait_dialog(pyatspi.ROLE_ALERT)
    ui.wait_for(lambda: "not saved" in p.alert_text(alert), "the question about unsaved changes")
    ends_cleanly(p, "unsaved-changes question")


def file_chooser(sim):
    p = start([sim, "--devices", 0], "chooser")
    p.click("Read curve")
    p.wait_dialog(pyatspi.ROLE_DIALOG, "Open File")
    ends_cleanly(p, "file chooser")


def address_dialog(sim):
    p = start([sim, "--devices", 1, "--seed", 4], "address")
    p.quick_discovery(1, timeout=DISCOVERY_TIMEOUT)
    p.menu("Devices", "Address in sequence\u2026")
    dialog = p.wait_dialog(pyatspi.ROLE_DIALOG, "Address in sequence")
    # Its preview follows every change of the fields: what must not outlive it.
    ui.set_text(ui.find(dialog, pyatspi.ROLE_TEXT, "Start address"), "12")
    ui.wait_for(lambda: ui.table_cells(ui.find(dialog, pyatspi.ROLE_TABLE, "Address preview"))[0][1] == "12",
                "the preview of address 12")
    ends_cleanly(p, "address dialog")


def help_dialog(sim, item, role, name):
    p = start([sim, "--devices", 0], item.split()[0].lower())
    p.menu("Help", item)
    p.wait_dialog(role, name)
    ends_cleanly(p, item)


def test():
    sim, real = ui.program_paths()
    check(real is not None, "the path of tern-curve was not given")
    cases = [
        lambda: file_chooser(sim),
        lambda: message_box(real),
        lambda: replace_question(sim),
        lambda: unsaved_question(sim),
        lambda: help_dialog(sim, "Keyboard shortcuts", pyatspi.ROLE_DIALOG, "Keyboard shortcuts"),
        lambda: help_dialog(sim, "About", pyatspi.ROLE_DIALOG, None),
        lambda: setup_dialog(sim),
        lambda: address_dialog(sim),
    ]
    # Every case runs, each in a program of its own that is gone before the
    # next starts; the failures are reported together.
    failures = []
    for case in cases:
        try:
            case()
        except ui.Failure as e:
            ui.log("FAILED:", e)
            failures.append(str(e))
        finally:
            programs[-1].kill()
    check(not failures, "; ".join(failures))


if __name__ == "__main__":
    ui.run(test, programs)
