"""The menu bar offers what the buttons offer: "Send curve" in the Curve
menu; Discovery, Setup device, Identify, Generate UID and Update FW in the
Devices menu, and its commissioning items (Address in sequence and Export
only with devices listed). Each item is sensitive exactly when its button is (at start,
while a discovery runs, with and without a selected device), an insensitive
item does nothing, and each item and accelerator runs its button's action.
The buttons are made in their state: right after the window appears the
device buttons are insensitive (no device selected). Every menu item has a
letter of its own, Ctrl+Shift+A opens Address in sequence, and Help,
Keyboard shortcuts lists the accelerators in two aligned columns."""

import re
import time

import pyatspi

import ternui as ui
from ternui import check

DISCOVERY_TIMEOUT = 60

# (menu, item, button)
ITEMS = [
    ("Curve", "Send curve", "Send curve"),
    ("Devices", "Discovery", "Discovery"),
    ("Devices", "Setup device\u2026", "Setup device"),
    ("Devices", "Identify", "Identify"),
    ("Devices", "Generate UID\u2026", "Generate UID"),
    ("Devices", "Update FW\u2026", "Update FW"),
]
DEVICE_BUTTONS = ("Setup device", "Identify", "Generate UID")

# Rows the shortcuts dialog must hold: keys, what they do.
SHORTCUTS = [("Ctrl+Return", "Send curve"), ("F5", "Discovery"), ("Ctrl+E", "Setup device"),
             ("Ctrl+I", "Identify"), ("Ctrl+O", "Read curve"), ("Ctrl+Z", "Undo"),
             ("Ctrl+Shift+A", "Address in sequence"), ("Ctrl+Shift+E", "Export"), ("Ctrl+Shift+P", "Apply"),
             ("F1", "Keyboard shortcuts")]

programs = []


def states(p):
    """{button: (button sensitive, item sensitive)}"""
    return {b: (ui.sensitive(p.button(b)), ui.sensitive(p.menu_item(m, i))) for m, i, b in ITEMS}


def check_states(p, expected, when):
    got = states(p)
    for b, (button, item) in got.items():
        check(button == item, "%s: the button %r is %ssensitive, its menu item %ssensitive"
              % (when, b, "" if button else "in", "" if item else "in"))
    buttons = {b: s[0] for b, s in got.items()}
    check(buttons == expected, "%s: the buttons' sensitivity is %r, expected %r" % (when, buttons, expected))


# The commissioning items, which have no button: sensitive when they can run.
COMMISSION_ITEMS = ("Address in sequence\u2026", "Export\u2026", "Apply\u2026")


def check_commission_items(p, expected, when):
    got = [ui.sensitive(p.menu_item("Devices", i)) for i in COMMISSION_ITEMS]
    check(got == expected, "%s: %r are sensitive %r, expected %r" % (when, COMMISSION_ITEMS, got, expected))


def all_but_devices(on_devices):
    return {b: (on_devices if b in DEVICE_BUTTONS else True) for _, _, b in ITEMS}


def count(p, pattern):
    return len(re.findall(pattern, p.stdout()))


def mnemonics(p):
    """Every item of every menu has a letter of its own in its menu."""
    for menu in ("File", "Edit", "Curve", "Devices", "Help"):
        top = ui.find(p.window(), pyatspi.ROLE_MENU, menu, only_showing=False)
        items = [i for i in top if i is not None and i.getRole() == pyatspi.ROLE_MENU_ITEM]
        letters = [i.queryAction().getKeyBinding(0).split(";")[0] for i in items]
        check(all(letters) and len(set(letters)) == len(letters),
              "the %s menu's items have the letters %r" % (menu, list(zip([i.name for i in items], letters))))


def shortcuts_dialog(p):
    ui.key("F1")
    dialog = p.wait_dialog(pyatspi.ROLE_DIALOG, "Keyboard shortcuts")
    labels = ui.wait_for(lambda: ui.descendants(dialog, pyatspi.ROLE_LABEL, only_showing=True),
                         "the shortcuts' labels")
    at = {}
    for lab in labels:
        at.setdefault(lab.name, ui.extents(lab))
    key_x, what_x = set(), set()
    for keys, what in SHORTCUTS:
        check(keys in at and what in at, "the shortcuts do not list %r for %r: %r" % (keys, what, sorted(at)))
        (kx, ky, _, kh), (wx, wy, _, _) = at[keys], at[what]
        check(abs(ky - wy) <= 2 and kx < wx,
              "%r and %r are not side by side: %r %r" % (keys, what, at[keys], at[what]))
        key_x.add(kx)
        what_x.add(wx)
    check(len(key_x) == 1 and len(what_x) == 1,
          "the shortcuts' columns are not aligned: keys at x %r, descriptions at x %r" % (key_x, what_x))
    ui.screenshot("shortcuts", window=False)
    ui.do_action(ui.find(dialog, pyatspi.ROLE_PUSH_BUTTON, "Close"), "click")
    p.wait_no_dialogs()


def test():
    sim, _ = ui.program_paths()
    p = ui.Program([sim, "--devices", 1, "--seed", 3], "sim")
    programs.append(p)
    p.window()
    mnemonics(p)
    check_states(p, all_but_devices(False), "at start")
    check_commission_items(p, [False, False, True], "at start, with no device listed")

    # An insensitive item does nothing.
    ui.do_action(p.menu_item("Devices", "Identify"), "click")
    time.sleep(0.5)
    check("app_identify" not in p.stdout() and not p.toplevels(), "the insensitive Identify item acted")

    # The Quick discovery item here; F5 below runs Discovery itself.
    p.menu("Devices", "Quick discovery")
    ui.wait_for(lambda: not ui.sensitive(p.button("Discovery")), "the discovery to start")
    check_states(p, {b: False for _, _, b in ITEMS}, "while the discovery runs")
    check_commission_items(p, [False, False, False], "while the discovery runs")
    p.wait_status("Quick discovery: 1 devices found.", timeout=DISCOVERY_TIMEOUT)
    check_states(p, all_but_devices(False), "after the discovery")
    check_commission_items(p, [True, True, True], "with a device listed")

    rows = ui.table_rows(p.table("Device list"))
    check(len(rows) == 1, "the list shows %r" % rows)
    uid = rows[0].split()[1]
    ui.click_row(p.table("Device list"), 0)
    ui.wait_for(lambda: ui.sensitive(p.button("Identify")), "Identify to become sensitive")
    check_states(p, all_but_devices(True), "with a device selected")

    # Each item runs its button's action.
    p.menu("Devices", "Identify")
    p.wait_stdout(r"app_identify_parse\n", "the identify through the menu", timeout=30)
    p.menu("Devices", "Setup device\u2026")
    dialog = p.wait_dialog(pyatspi.ROLE_DIALOG, "Setup %s" % uid, timeout=30)
    ui.do_action(ui.find(dialog, pyatspi.ROLE_PUSH_BUTTON, "Cancel"), "click")
    p.wait_no_dialogs()
    p.menu("Devices", "Generate UID\u2026")
    question = p.wait_dialog(pyatspi.ROLE_ALERT, timeout=30)
    ui.wait_for(lambda: p.alert_text(question).startswith("Change UID %s to:" % uid), "the UID question")
    ui.do_action(ui.find(question, pyatspi.ROLE_PUSH_BUTTON, "No"), "click")
    p.wait_no_dialogs()
    p.menu("Curve", "Send curve")
    p.wait_stdout(r"Curve part 3, size=184/524\n", "the curve sent through the menu", timeout=30)
    p.menu("Devices", "Update FW\u2026")
    p.cancel_chooser("Choose firmware")

    # The accelerators, typed into the window under the pointer.
    vx, vy, vw, vh = ui.extents(p.view())
    ui.xdotool("mousemove", vx + 5, vy + 5)
    identified, sent = count(p, r"app_identify_parse\n"), count(p, r"Curve part 3")
    ui.key("ctrl+i")
    ui.wait_for(lambda: count(p, r"app_identify_parse\n") > identified, "Ctrl+I to identify", timeout=30)
    ui.key("ctrl+Return")
    ui.wait_for(lambda: count(p, r"Curve part 3") > sent, "Ctrl+Return to send the curve", timeout=30)
    ui.key("ctrl+e")
    dialog = p.wait_dialog(pyatspi.ROLE_DIALOG, "Setup %s" % uid, timeout=30)
    ui.do_action(ui.find(dialog, pyatspi.ROLE_PUSH_BUTTON, "Cancel"), "click")
    p.wait_no_dialogs()
    ui.key("ctrl+shift+a")
    dialog = p.wait_dialog(pyatspi.ROLE_DIALOG, "Address in sequence")
    ui.do_action(ui.find(dialog, pyatspi.ROLE_PUSH_BUTTON, "Cancel"), "click")
    p.wait_no_dialogs()
    ui.key("F5")
    ui.wait_for(lambda: not ui.sensitive(p.button("Discovery")), "F5 to start a discovery")
    check_states(p, {b: False for _, _, b in ITEMS}, "while the F5 discovery runs")
    p.close_alert("1 devices found.", timeout=DISCOVERY_TIMEOUT)

    shortcuts_dialog(p)
    check(p.terminate() == 0, "exit status not 0")


if __name__ == "__main__":
    ui.run(test, programs)
