"""The Devices table on a line of four simulated devices with settings of
their own, one of which never answers a settings read: a column for every
setting, the firmware version and the DALI count, with the values each
device holds, and "not responding" for the silent one; a click on a column
title sorts by it, numbers as numbers, again the other way, the row numbers
staying the order found; a double-click opens "Setup device", Return in its
field answers OK, and the written address moves the row while it stays
selected, the keyboard's row with it (Down goes on from there); after a UID
change the device stays selected under its new UID, Return sets it up, and
Tab leads from the settings to OK before the DALI panel."""

import json
import os
import re

import pyatspi

import ternui as ui
from ternui import check

TITLES = ["Devices", "Address", "Loss of DMX", "Sleep", "Backlight", "Limits", "Firmware", "DALI"]
DISCOVERY_TIMEOUT = 200

# uid: (settings, DALI gear, faults), and the cells the table must show.
DEVICES = {
    "1A2B3C4D": ({"addr": 100, "lossOfDmx": 2, "sleep": 30, "backlight": 80, "limitUp": 200, "limitDown": 10,
                  "version": "2.7"}, 2, None),
    "0BADF00D": ({"addr": 9, "lossOfDmx": 1, "sleep": 0, "backlight": 5, "limitUp": 255, "limitDown": 0,
                  "version": "1.4"}, 0, None),
    "3DEADBE0": ({"addr": 300, "lossOfDmx": 0, "sleep": 100, "backlight": 100, "limitUp": 0, "limitDown": 0,
                  "version": "3.1"}, 1, None),
    "2C0FFEE0": ({"addr": 25}, 0, {"silentClasses": 2}),
}
CELLS = {
    "1A2B3C4D": ["100", "to 100%", "30 s", "80%", "10\u2013200", "2.7", "2"],
    "0BADF00D": ["9", "to 0%", "Off", "5%", "0\u2013255", "1.4", "0"],
    "3DEADBE0": ["300", "HOLD", "100 s", "100%", "0\u20130", "3.1", "1"],
    "2C0FFEE0": ["not responding", "", "", "", "", "", ""],
}

programs = []


def write_rig(path):
    devices = []
    for uid, (settings, gear, faults) in DEVICES.items():
        d = {"uid": uid, "settings": settings,
             "dali": [{"short": i, "random": "%06X" % (0x100000 + i)} for i in range(gear)]}
        if faults:
            d["faults"] = faults
        devices.append(d)
    with open(path, "w") as f:
        json.dump({"devices": devices}, f)


def rows(p):
    """{uid: (number, cells after the first)} and the UIDs in table order."""
    out, order = {}, []
    for cells in ui.table_cells(p.table("Device list")):
        m = re.fullmatch(r"\((\d+)\) ([0-9A-F]{8})", cells[0])
        check(m is not None, "a row reads %r" % cells)
        out[m.group(2)] = (int(m.group(1)), cells[1:len(TITLES)])
        order.append(m.group(2))
    return out, order


def order_after_click(p, column, expected, title):
    t = p.table("Device list")
    ui.click_column(t, column)
    ui.wait_for(lambda: rows(p)[1] == expected, "the rows in the order %r after a click on %r (they are %r)"
                % (expected, TITLES[column], rows(p)[1]))
    titles = ui.column_titles(t)
    check(titles[column] == title, "the sorted column is titled %r, expected %r" % (titles[column], title))


def selected_uids(p):
    t = p.table("Device list")
    _, order = rows(p)
    return [order[r] for r in ui.selected_rows(t)]


def keys_in(field, *keys):
    """Types keys into a dialog's field: the pointer over it (without a
    window manager the window under the pointer has the keyboard), the field
    focused."""
    x, y, w, h = ui.extents(field)
    ui.xdotool("mousemove", x + w // 2, y + h // 2)
    field.queryComponent().grabFocus()
    ui.wait_for(lambda: field.getState().contains(pyatspi.STATE_FOCUSED), "the focus in %r" % field.name)
    ui.key(*keys)


def arrow_keys(p, t, steps):
    """Up and Down in the table (the pointer over it, the keyboard given to
    it without a click, which would move its row), each with the device it
    must select."""
    x, y, w, h = ui.extents(t)
    ui.xdotool("mousemove", x + w // 2, y + h // 2)
    t.queryComponent().grabFocus()
    ui.wait_for(lambda: t.getState().contains(pyatspi.STATE_FOCUSED), "the keyboard in the table")
    for key, uid in steps:
        ui.key(key)
        ui.wait_for(lambda: selected_uids(p) == [uid], "%s to select %s" % (key, uid))


def test():
    sim, _ = ui.program_paths()
    rig = os.path.join(ui.WORK, "rig.json")
    write_rig(rig)
    p = ui.Program([sim, "--sim-state", rig], "sim")
    programs.append(p)
    p.widen(1100, 800)

    p.quick_discovery(4, timeout=DISCOVERY_TIMEOUT)
    t = p.table("Device list")
    # The notes' column last takes the width the others leave.
    check(ui.column_titles(t) == TITLES + ["Note"], "the columns are %r" % ui.column_titles(t))
    found, order = ui.wait_for(lambda: rows(p) if len(rows(p)[0]) == 4 else None, "four rows")
    check(sorted(found) == sorted(DEVICES), "the table lists %r" % sorted(found))
    check([found[u][0] for u in order] == [1, 2, 3, 4], "unsorted, the rows are not in the order found: %r"
          % [found[u][0] for u in order])
    for uid, cells in CELLS.items():
        check(found[uid][1] == cells, "%s shows %r, expected %r" % (uid, found[uid][1], cells))
    numbers = {u: found[u][0] for u in found}
    ui.screenshot("values")

    # Numbers as numbers, the silent device last both ways; the row numbers stay.
    order_after_click(p, 1, ["0BADF00D", "1A2B3C4D", "3DEADBE0", "2C0FFEE0"], "Address \u25B2")
    order_after_click(p, 1, ["3DEADBE0", "1A2B3C4D", "0BADF00D", "2C0FFEE0"], "Address \u25BC")
    check(ui.column_titles(t)[7] == "DALI", "an unsorted column's title changed")
    order_after_click(p, 7, ["0BADF00D", "3DEADBE0", "1A2B3C4D", "2C0FFEE0"], "DALI \u25B2")
    check(ui.column_titles(t)[1] == "Address", "the title of the column sorted before keeps its mark")
    check({u: n for u, (n, _) in rows(p)[0].items()} == numbers, "sorting renumbered the rows")
    order_after_click(p, 1, ["0BADF00D", "1A2B3C4D", "3DEADBE0", "2C0FFEE0"], "Address \u25B2")

    # A double-click opens the setup dialog of its row; Return in a field
    # writes the address, which moves the row; it stays selected, and the
    # keyboard's row with it.
    ui.click_row(t, 1, clicks=2)
    dialog = p.wait_dialog(pyatspi.ROLE_DIALOG, "Setup 1A2B3C4D", timeout=30)
    address = ui.find(dialog, pyatspi.ROLE_TEXT, "Start address")
    ui.set_text(address, "400")
    keys_in(address, "Return")
    p.wait_no_dialogs(timeout=30)
    ui.wait_for(lambda: rows(p)[1] == ["0BADF00D", "3DEADBE0", "1A2B3C4D", "2C0FFEE0"],
                "the row of 1A2B3C4D to move after its new address 400 (rows %r)" % (rows(p)[1],))
    check(rows(p)[0]["1A2B3C4D"][1][0] == "400", "the table shows %r" % (rows(p)[0]["1A2B3C4D"],))
    check(selected_uids(p) == ["1A2B3C4D"], "after the refresh %r are selected" % selected_uids(p))
    check(ui.sensitive(p.button("Generate UID")), "the device buttons lost the selection")
    arrow_keys(p, t, [("Down", "2C0FFEE0"), ("Up", "1A2B3C4D")])

    # A new UID: the device stays selected under it after the discovery.
    p.click("Generate UID")
    alert = p.wait_dialog(pyatspi.ROLE_ALERT, timeout=30)
    text = ui.wait_for(lambda: p.alert_text(alert), "the UID question")
    new_uid = re.search(r"NEW UID=([0-9A-F]{8})", text).group(1)
    ui.do_action(ui.find(alert, pyatspi.ROLE_PUSH_BUTTON, "Yes"), "click")
    p.close_alert("UID 1A2B3C4D -> %s\n changed." % new_uid, timeout=30)
    ui.wait_for(lambda: not ui.sensitive(p.button("Discovery")), "the discovery after the change", timeout=10)
    ui.wait_for(lambda: ui.sensitive(p.button("Discovery")), "the discovery to end", timeout=DISCOVERY_TIMEOUT)
    after = ui.wait_for(lambda: rows(p)[0] if len(rows(p)[0]) == 4 else None, "four rows after the discovery")
    check(new_uid in after and "1A2B3C4D" not in after, "the table lists %r" % sorted(after))
    check(after[new_uid][1][0] == "400", "the device under its new UID shows %r" % (after[new_uid],))
    ui.wait_for(lambda: selected_uids(p) == [new_uid], "%s to be selected (selected: %r)"
                % (new_uid, selected_uids(p)))
    check(ui.sensitive(p.button("Setup device")), "no device is selected for the device buttons")
    check(rows(p)[1][-1] == "2C0FFEE0", "the table is no longer sorted by address: %r" % rows(p)[1])
    ui.screenshot("new-uid")
    # The rows came anew: the keyboard's row is the selected device's.
    arrow_keys(p, t, [("Down", "2C0FFEE0"), ("Up", new_uid)])
    # Return in the table (clicked) sets up the selected device; from
    # Backlight, Tab reaches OK after the two limits.
    ui.click_row(t, rows(p)[1].index(new_uid))
    ui.key("Return")
    dialog = p.wait_dialog(pyatspi.ROLE_DIALOG, "Setup %s" % new_uid, timeout=30)
    keys_in(ui.find(dialog, pyatspi.ROLE_TEXT, "Backlight"), "Tab", "Tab", "Tab")
    ok = ui.find(dialog, pyatspi.ROLE_PUSH_BUTTON, "OK")
    ui.wait_for(lambda: ok.getState().contains(pyatspi.STATE_FOCUSED), "OK to have the focus")
    ui.key("shift+Tab")
    down = ui.find(dialog, pyatspi.ROLE_TEXT, "Limit down")
    ui.wait_for(lambda: down.getState().contains(pyatspi.STATE_FOCUSED), "Shift+Tab back to Limit down")
    ui.do_action(ui.find(dialog, pyatspi.ROLE_PUSH_BUTTON, "Cancel"), "click")
    p.wait_no_dialogs()
    check(p.terminate() == 0, "exit status not 0")


if __name__ == "__main__":
    ui.run(test, programs)
