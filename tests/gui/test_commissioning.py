"""The commissioning actions of the Devices menu on five simulated devices:
"Address in sequence…" previews the new addresses in the table's order (and
nothing while the start is no address), refuses a sequence past 512 (OK
insensitive), writes the sequence and reports every device; Return answers
OK for the selected devices but Cancel for all of them; "Export…" writes the devices to a CSV file in the
format of `tern export`; "Apply…" refuses a malformed file before touching
anything, shows what a file with one changed row would change (Return applies it),
and writes only that device. The simulated devices end holding what was applied."""

import csv
import os
import re

import pyatspi

import ternui as ui
from ternui import check

DEVICES = 5
HEADER = "uid,address,loss,sleep,backlight,limit_up,limit_down,version,dali_count"

programs = []


def rows(p):
    """(uid, address text) of each row, in the table's order."""
    out = []
    for cells in ui.table_cells(p.table("Device list")):
        m = re.fullmatch(r"\(\d+\) ([0-9A-F]{8})", cells[0])
        check(m is not None, "a row reads %r" % cells)
        out.append((m.group(1), cells[1]))
    return out


def text_view(dialog, name):
    return ui.text_of(ui.find(dialog, pyatspi.ROLE_TEXT, name))


def label(dialog, name):
    lab = ui.find(dialog, pyatspi.ROLE_LABEL, name)
    return ui.text_of(lab) or lab.name


def ok_sensitive(dialog):
    return ui.sensitive(ui.find(dialog, pyatspi.ROLE_PUSH_BUTTON, "OK"))


def default_button(dialog):
    hits = [b.name for b in ui.descendants(dialog, pyatspi.ROLE_PUSH_BUTTON, only_showing=True)
            if b.getState().contains(pyatspi.STATE_IS_DEFAULT)]
    return hits[0] if len(hits) == 1 else None


def result_lines(dialog):
    return [l for l in text_view(dialog, "Results").split("\n") if l]


def close_report(p, title):
    report = p.wait_dialog(pyatspi.ROLE_DIALOG, title, timeout=60)
    summary = ui.wait_for(lambda: label(report, "Summary"), "the report's summary")
    lines = result_lines(report)
    ui.screenshot(title.lower().replace(":", "").replace(" ", "-"), window=False)
    ui.do_action(ui.find(report, pyatspi.ROLE_PUSH_BUTTON, "Close"), "click")
    p.wait_no_dialogs()
    return summary, lines


def address_in_sequence(p, order):
    # Two rows selected: the dialog offers them first.
    t = p.table("Device list")
    ui.click_row(t, 0)
    ui.click_row(t, 2, modifier="ctrl")
    ui.wait_for(lambda: ui.selected_rows(t) == [0, 2], "rows 1 and 3 to be selected")
    p.menu("Devices", "Address in sequence\u2026")
    dialog = p.wait_dialog(pyatspi.ROLE_DIALOG, "Address in sequence")
    preview = ui.find(dialog, pyatspi.ROLE_TABLE, "Address preview")
    selected = ui.find(dialog, pyatspi.ROLE_RADIO_BUTTON, "Selected devices")
    check(selected.getState().contains(pyatspi.STATE_CHECKED), "the selected devices are not offered first")
    ui.set_text(ui.find(dialog, pyatspi.ROLE_TEXT, "Start address"), "20")
    ui.set_text(ui.find(dialog, pyatspi.ROLE_TEXT, "Step"), "7")
    ui.wait_for(lambda: [c[1] for c in ui.table_cells(preview)] == ["20", "27"], "the preview of the two selected")
    check([c[0].split()[1] for c in ui.table_cells(preview)] == [order[0], order[2]],
          "the preview lists %r" % ui.table_cells(preview))
    check(default_button(dialog) == "OK", "for two devices the default is %r" % default_button(dialog))
    ui.set_text(ui.find(dialog, pyatspi.ROLE_TEXT, "Start address"), "0")
    ui.wait_for(lambda: not ui.table_cells(preview), "the preview to go for the start 0")
    check(label(dialog, "Plan check").startswith("Start address"), "the dialog says %r" % label(dialog, "Plan check"))

    # All devices, in the table's order; past 512 is refused before anything.
    ui.do_action(ui.find(dialog, pyatspi.ROLE_RADIO_BUTTON, "All devices"), "click")
    ui.set_text(ui.find(dialog, pyatspi.ROLE_TEXT, "Start address"), "500")
    ui.wait_for(lambda: ui.table_cells(preview)[-1][1] == "528 (past 512)", "the preview to reach 528")
    ui.wait_for(lambda: not ok_sensitive(dialog), "OK to turn insensitive for a sequence past 512")
    check(label(dialog, "Plan check") == "Would end at 528, past 512.", "the dialog says %r" % label(dialog, "Plan check"))
    check(default_button(dialog) == "Cancel", "for every device the default is %r" % default_button(dialog))
    ui.set_text(ui.find(dialog, pyatspi.ROLE_TEXT, "Start address"), "100")
    expected = ["100", "107", "114", "121", "128"]
    ui.wait_for(lambda: [c[1] for c in ui.table_cells(preview)] == expected, "the preview 100, 107...")
    check([c[0].split()[1] for c in ui.table_cells(preview)] == order, "the preview is not in the table's order")
    ui.wait_for(lambda: ok_sensitive(dialog), "OK to turn sensitive")
    ui.screenshot("address-dialog", window=False)
    ui.do_action(ui.find(dialog, pyatspi.ROLE_PUSH_BUTTON, "OK"), "click")

    summary, lines = close_report(p, "Address in sequence: report")
    check(summary == "5 devices: 5 changed.", "the report says %r" % summary)
    for uid, line, address in zip(order, lines, expected):
        check(re.fullmatch(r"%s +changed +address \d+ -> %s" % (uid, address), line) is not None,
              "the report's line for %s reads %r" % (uid, line))
    return dict(zip(order, (int(a) for a in expected)))


def export(p, path):
    p.menu("Devices", "Export\u2026")
    p.choose_file("Export devices to CSV", path)
    p.close_alert("5 devices written to\n%s" % path, timeout=60)
    with open(path, newline="") as f:
        text = f.read()
    check(text.split("\n")[0] == HEADER, "the file starts with %r" % text.split("\n")[0])
    return list(csv.DictReader(text.splitlines()))


def uid_of(row):
    """The row's UID as the table shows it: the file writes it after 0x."""
    return row["uid"][2:] if row["uid"].startswith("0x") else row["uid"]


def apply_refused(p, path):
    p.menu("Devices", "Apply\u2026")
    p.choose_file("Apply a CSV file", path)
    text = p.expect_error_box("nothing was written")
    check(re.search(r"line 3, column 2 \(address\)", text) is not None, "the refusal reads %r" % text)


def apply_one_row(p, path, uid, backlight):
    p.menu("Devices", "Apply\u2026")
    p.choose_file("Apply a CSV file", path)
    question = p.wait_dialog(pyatspi.ROLE_DIALOG, "Apply: check", timeout=60)
    summary = ui.wait_for(lambda: label(question, "Summary"), "the check's summary")
    check("5 devices: 4 unchanged, 1 would change." in summary, "the check says %r" % summary)
    lines = result_lines(question)
    changing = [l for l in lines if "would change" in l]
    check(len(lines) == 5 and len(changing) == 1 and
          re.fullmatch(r"%s \(line \d\) +would change +backlight \d+ -> %d" % (uid, backlight), changing[0]),
          "the check lists %r" % lines)
    check(default_button(question) == "Apply", "for one device of five the default is %r" % default_button(question))
    ui.screenshot("apply-question", window=False)
    ui.do_action(ui.find(question, pyatspi.ROLE_PUSH_BUTTON, "Apply"), "click")
    summary, lines = close_report(p, "Apply: report")
    check(summary == "5 devices: 4 unchanged, 1 changed.", "the report says %r" % summary)


def test():
    sim, _ = ui.program_paths()
    state = os.path.join(ui.WORK, "state.json")
    p = ui.Program([sim, "--devices", DEVICES, "--seed", 21, "--state", state], "sim")
    programs.append(p)
    p.widen(1100, 800)
    for item in ("Address in sequence\u2026", "Export\u2026"):
        check(not ui.sensitive(p.menu_item("Devices", item)), "%s is sensitive with no device listed" % item)

    p.quick_discovery(DEVICES)
    # The table's order: by address, highest first.
    t = p.table("Device list")
    ui.click_column(t, 1)
    ui.click_column(t, 1)
    ui.wait_for(lambda: ui.column_titles(t)[1] == "Address \u25BC", "the table sorted by address, highest first")
    order = [u for u, _ in rows(p)]
    check(len(order) == DEVICES, "the table lists %r" % order)
    olds = [int(a) for _, a in rows(p)]
    check(olds == sorted(olds, reverse=True), "the table is not sorted by address: %r" % olds)

    addresses = address_in_sequence(p, order)
    ui.wait_for(lambda: sorted(rows(p)) == sorted((u, str(a)) for u, a in addresses.items()),
                "the table to show the new addresses (it shows %r)" % rows(p))

    exported = export(p, os.path.join(ui.WORK, "rig.csv"))
    check({uid_of(r): int(r["address"]) for r in exported} == addresses,
          "the file holds %r" % [(r["uid"], r["address"]) for r in exported])

    # One row changed by hand; the same file broken on its third line.
    target = uid_of(exported[1])
    backlight = 42 if int(exported[1]["backlight"]) != 42 else 43
    exported[1]["backlight"] = str(backlight)
    edited = os.path.join(ui.WORK, "edited.csv")
    with open(edited, "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=HEADER.split(","), lineterminator="\n")
        w.writeheader()
        w.writerows(exported)
    with open(edited) as f:
        lines = f.read().split("\n")
    lines[2] = re.sub(r"^((?:0x)?[0-9A-F]{8}),\d+,", r"\1,abc,", lines[2])
    broken = os.path.join(ui.WORK, "broken.csv")
    with open(broken, "w") as f:
        f.write("\n".join(lines))

    apply_refused(p, broken)
    apply_one_row(p, edited, target, backlight)
    ui.wait_for(lambda: dict(ui.table_cells(t)[r][0].split()[1:2] + [ui.table_cells(t)[r][4]]
                             for r in range(DEVICES)).get(target) == "%d%%" % backlight,
                "the table to show the applied backlight")
    ui.screenshot("applied")

    check(p.terminate() == 0, "exit status not 0")
    devices = {d["uid"]: d for d in ui.read_state(state)["devices"]}
    for uid, address in addresses.items():
        s = devices[uid]["settings"]
        check(s["addr"] == address, "%s holds address %d, expected %d" % (uid, s["addr"], address))
        writes = 2 if uid == target else 1
        check(devices[uid]["setupWrites"] == writes, "%s was written %d times, expected %d"
              % (uid, devices[uid]["setupWrites"], writes))
    check(devices[target]["settings"]["backlight"] == backlight, "the applied backlight is not on the device")


if __name__ == "__main__":
    ui.run(test, programs)
