"""The device actions on a simulated line of three devices with four DALI
gear each: "Setup device" shows the selected device's settings and DALI
list, writes a changed address and sleep time to it, refuses bad input
with every message and then holds what was typed until it is mended; the
DALI panel reads and randomizes, drawn and saying so while it runs; "Identify" reaches
the device; "Generate UID" answered No changes nothing, answered Yes gives
the device a new UID that the list shows after the discovery that follows."""

import os
import re
import time

import pyatspi

import ternui as ui
from ternui import check

DISCOVERY_TIMEOUT = 120
DALI_ROW = re.compile(r"\(\s*(\d+)\) ([0-9A-F]{2}) - ([0-9A-F]{6})")

programs = []


def rows_of(p):
    return ui.table_rows(p.table("Device list"))


def uid_of(row):
    m = re.fullmatch(r"\((\d+)\) ([0-9A-F]{8})", row)
    check(m is not None, "device row reads %r" % row)
    return m.group(2)


def selected_name(combo):
    sel = combo.querySelection()
    return sel.getSelectedChild(0).name if sel.nSelectedChildren == 1 else None


def device_buttons(p):
    return [p.button(n) for n in ("Setup device", "Identify", "Generate UID")]


def open_setup(p, uid):
    p.click("Setup device")
    dialog = p.wait_dialog(pyatspi.ROLE_DIALOG, "Setup %s" % uid, timeout=30)
    return dialog


def field(dialog, name):
    return ui.find(dialog, pyatspi.ROLE_TEXT, name)


def dali_rows(dialog):
    lists = ui.descendants(dialog, pyatspi.ROLE_TABLE, "DALI list", only_showing=True, prune_tables=False)
    check(len(lists) == 1, "the dialog has %d DALI lists" % len(lists))
    return ui.table_rows(lists[0])


def check_dali_rows(rows, count):
    check(len(rows) == count, "the DALI list shows %r, expected %d rows" % (rows, count))
    for i, row in enumerate(rows, start=1):
        m = DALI_ROW.fullmatch(row)
        check(m is not None and int(m.group(1)) == i and row.startswith("(%3d)" % i),
              "DALI row %d reads %r" % (i, row))
    return [DALI_ROW.fullmatch(r).group(3) for r in rows]


def setup_dialog(p, uid):
    """The dialog shows the device's values and DALI list; the DALI panel
    reads and randomizes; a new address and sleep time are written."""
    dialog = open_setup(p, uid)
    value = int(uid, 16)
    check(ui.text_of(field(dialog, "Start address")) == str(1 + value % 512),
          "the address field reads %r" % ui.text_of(field(dialog, "Start address")))
    check(ui.text_of(field(dialog, "Backlight")) == str(value // 512 % 101), "the backlight field is wrong")
    check(ui.text_of(field(dialog, "Limit up")) == "255", "the up field is wrong")
    check(ui.text_of(field(dialog, "Limit down")) == "0", "the down field is wrong")
    check(selected_name(ui.find(dialog, pyatspi.ROLE_COMBO_BOX, "Sleep")) == "Off", "sleep is not Off")
    check(selected_name(ui.find(dialog, pyatspi.ROLE_COMBO_BOX, "Loss of DMX")) == "HOLD", "loss is not HOLD")
    before = ui.wait_for(lambda: dali_rows(dialog) if len(dali_rows(dialog)) == 4 else None,
                         "the DALI list to show four gear")
    first = check_dali_rows(before, 4)
    ui.screenshot("setup-dialog", window=False)

    status = ui.find(dialog, pyatspi.ROLE_LABEL, "DALI status")
    do_click(dialog, "Read DALI")
    ui.wait_for(lambda: ui.text_of(status) == "Read DALI done: 4 DALI gear.", "Read DALI to say it is done",
                timeout=30)
    ui.wait_for(lambda: len(dali_rows(dialog)) == 4 and dali_rows(dialog) == before,
                "the DALI list to show the same four gear after Read DALI", timeout=30)
    do_click(dialog, "Randomize")
    # The search takes seconds: meanwhile the dialog answers, says what runs
    # and offers no second search.
    running = ui.wait_for(lambda: ui.text_of(status) if ui.text_of(status).startswith("Random") else None,
                          "the DALI status", timeout=2)
    check(running == "Randomizing\u2026", "while it runs, the DALI status reads %r" % running)
    check(not ui.sensitive(ui.find(dialog, pyatspi.ROLE_PUSH_BUTTON, "Search")), "Search is sensitive during Randomize")
    ui.screenshot("dali-randomizing", window=False)
    ui.wait_for(lambda: ui.text_of(status) == "Randomize done: 4 DALI gear.", "Randomize to say it is done",
                timeout=60)
    after = ui.wait_for(lambda: dali_rows(dialog) if len(dali_rows(dialog)) == 4 and dali_rows(dialog) != before
                        else None, "new random addresses after Randomize", timeout=60)
    check(check_dali_rows(after, 4) != first, "Randomize left the random addresses as they were")
    ui.screenshot("dali-panel", window=False)

    ui.set_text(field(dialog, "Start address"), "77")
    sleep = ui.find(dialog, pyatspi.ROLE_COMBO_BOX, "Sleep")
    sleep.querySelection().selectChild(26)
    ui.wait_for(lambda: selected_name(sleep) == "30", "the sleep combo to show 30")
    do_click(dialog, "OK")
    ui.wait_for(lambda: not p.toplevels(pyatspi.ROLE_DIALOG), "the setup dialog to close", timeout=30)
    return after


def do_click(dialog, label):
    ui.do_action(ui.find(dialog, pyatspi.ROLE_PUSH_BUTTON, label), "click")


def refused_input(p, uid):
    dialog = open_setup(p, uid)
    check(ui.text_of(field(dialog, "Start address")) == "77", "the written address did not come back")
    ui.set_text(field(dialog, "Start address"), "0")
    ui.set_text(field(dialog, "Backlight"), "abc")
    ui.set_text(field(dialog, "Limit up"), "10")
    ui.set_text(field(dialog, "Limit down"), "20")
    do_click(dialog, "OK")
    alert = p.wait_dialog(pyatspi.ROLE_ALERT, timeout=30)
    text = ui.wait_for(lambda: p.alert_text(alert), "the error text")
    expected = ('Start address:\n "0"\n\nis not valid.\n\nBacklight:\n "abc"\n\nis not valid.\n'
                'Limit:\n  UP "10" < DOWN "20"')
    check(text.strip() == expected.strip(), "the error reads %r" % text)
    ui.screenshot("refused", window=False)
    ui.do_action(ui.find(alert, pyatspi.ROLE_PUSH_BUTTON, "OK"), "click")
    ui.wait_for(lambda: not p.toplevels(pyatspi.ROLE_ALERT), "the error box to close")
    # The dialog stays, holding everything that was typed, until OK with
    # valid values.
    check(p.toplevels(pyatspi.ROLE_DIALOG, "Setup %s" % uid), "the setup dialog closed after a bad field")
    typed = [ui.text_of(field(dialog, n)) for n in ("Start address", "Backlight", "Limit up", "Limit down")]
    check(typed == ["0", "abc", "10", "20"], "after the error the dialog holds %r" % typed)
    ui.set_text(field(dialog, "Start address"), "12")
    ui.set_text(field(dialog, "Backlight"), "40")
    ui.set_text(field(dialog, "Limit up"), "200")
    ui.set_text(field(dialog, "Limit down"), "5")
    do_click(dialog, "OK")
    p.wait_no_dialogs(timeout=30)


def answer_question(p, uid, answer):
    alert = p.wait_dialog(pyatspi.ROLE_ALERT, timeout=30)
    text = ui.wait_for(lambda: p.alert_text(alert), "the question's text")
    m = re.match(r"Change UID %s to:\nNEW UID=([0-9A-F]{8})\n Y=\d+\n M=\d+\n D=\d+\n h=\d+\n m=\d+\n s=\d+" % uid, text)
    check(m is not None, "the question reads %r" % text)
    ui.do_action(ui.find(alert, pyatspi.ROLE_PUSH_BUTTON, answer), "click")
    ui.wait_for(lambda: not any(p.alert_text(a).startswith("Change UID") for a in p.toplevels(pyatspi.ROLE_ALERT)),
                "the question to close")
    return m.group(1)


def test():
    sim, _ = ui.program_paths()
    state = os.path.join(ui.WORK, "devices.json")
    p = ui.Program([sim, "--devices", 3, "--dali", 4, "--seed", 9, "--state", state], "sim")
    programs.append(p)
    p.window()
    check(not any(ui.sensitive(b) for b in device_buttons(p)), "device buttons sensitive with no device selected")

    # Quick discovery finds what Discovery finds, in a fifth of the time; the
    # Discovery button itself runs in the discovery test and after the UID change.
    p.quick_discovery(3, timeout=DISCOVERY_TIMEOUT)
    rows = rows_of(p)
    check(len(rows) == 3, "the list shows %r" % rows)
    uid = uid_of(rows[0])
    ui.click_row(p.table("Device list"), 0)
    p.wait_stdout(r"mainWin: selected = %s 1\n" % uid, "the selection of row 1")
    ui.wait_for(lambda: all(ui.sensitive(b) for b in device_buttons(p)), "the device buttons to become sensitive")

    setup_dialog(p, uid)
    refused_input(p, uid)

    p.click("Identify")
    p.wait_stdout(r"app_identify_parse\n", "the identify acknowledgement", timeout=30)
    time.sleep(0.5)
    check(not p.toplevels(pyatspi.ROLE_ALERT), "an alert after a successful identify")

    discoveries = p.stdout().count("\ndiscovery:\n")
    p.click("Generate UID")
    answer_question(p, uid, "No")
    time.sleep(1.0)
    check(ui.sensitive(p.button("Discovery")) and p.stdout().count("\ndiscovery:\n") == discoveries,
          "answering No started a discovery")
    check(rows_of(p) == rows, "answering No changed the list")

    p.click("Generate UID")
    new_uid = answer_question(p, uid, "Yes")
    p.close_alert("UID %s -> %s\n changed." % (uid, new_uid), timeout=30)
    ui.wait_for(lambda: p.stdout().count("\ndiscovery:\n") > discoveries, "the discovery after the change")
    ui.wait_for(lambda: ui.sensitive(p.button("Discovery")), "the discovery to end", timeout=DISCOVERY_TIMEOUT)
    after = [uid_of(r) for r in ui.wait_for(lambda: rows_of(p) if len(rows_of(p)) == 3 else None,
                                            "three rows after the discovery")]
    check(new_uid in after and uid not in after, "the list shows %r after the change %s -> %s" % (after, uid, new_uid))
    check(not p.toplevels(pyatspi.ROLE_ALERT), "the discovery after a UID change reported a count")
    check("devices found." not in p.stdout().split("UID %s -> %s" % (uid, new_uid))[-1],
          "the discovery after a UID change reported a count")
    ui.screenshot("new-uid")

    check(p.terminate() == 0, "exit status not 0")
    devices = {d["uid"]: d for d in ui.read_state(state)["devices"]}
    check(new_uid in devices, "the state has no device %s: %r" % (new_uid, sorted(devices)))
    d = devices[new_uid]
    check(d["formerUid"] == uid and d["uidChanges"] == 1, "the device's former UID is %s" % d["formerUid"])
    settings = {k: d["settings"][k] for k in ("addr", "sleep", "backlight", "limitUp", "limitDown")}
    check(settings == {"addr": 12, "sleep": 30, "backlight": 40, "limitUp": 200, "limitDown": 5},
          "the device holds %r" % settings)
    check(d["identified"] == 1, "the device was identified %s times" % d["identified"])
    check(d["daliRandomizes"] == 1, "the device's gear was randomized %s times" % d["daliRandomizes"])


if __name__ == "__main__":
    ui.run(test, programs)
