"""Coming back to a rig: its record made by `tern export`, every device's
backlight changed since by `tern set`, then the window on the same rig with
one device replaced by a new one. Devices > "Check against record…" reports
the two that differ, the one missing and the new one; Fix writes the record's
backlight back to the two and reports; the question names the pair, Yes
gives the new device the missing one's settings, the table lists every
device with its record's values, and the record file names the new device
in the old row."""

import csv
import os
import re
import subprocess

import pyatspi

import ternui as ui
from ternui import check

DEVICES = 3
SEED = 5

programs = []


def report(p, title):
    """The report titled `title`: its summary, its lines and its dialog."""
    dialog = p.wait_dialog(pyatspi.ROLE_DIALOG, title, timeout=60)
    summary = ui.wait_for(lambda: ui.text_of(ui.find(dialog, pyatspi.ROLE_LABEL, "Summary")), "the summary")
    lines = [l for l in ui.text_of(ui.find(dialog, pyatspi.ROLE_TEXT, "Results")).split("\n") if l]
    return dialog, summary, lines


def close(p, dialog):
    title = dialog.name
    ui.do_action(ui.find(dialog, pyatspi.ROLE_PUSH_BUTTON, "Close"), "click")
    ui.wait_for(lambda: not p.toplevels(pyatspi.ROLE_DIALOG, title), "%r to close" % title)


def record_rows(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def uid_of(row):
    return row["uid"][2:] if row["uid"].startswith("0x") else row["uid"]


def test():
    sim, _ = ui.program_paths()
    tern = os.path.join(os.path.dirname(sim), "tern")
    state = os.path.join(ui.WORK, "rig.json")
    record = os.path.join(ui.WORK, "rec.csv")
    subprocess.run([tern, "--sim", "--sim-state", state, "--devices", str(DEVICES), "--seed", str(SEED),
                    "export", record], check=True, stdout=subprocess.DEVNULL)
    before = record_rows(record)
    backlight = min(set(range(101)) - {int(r["backlight"]) for r in before})
    subprocess.run([tern, "--sim", "--sim-state", state, "set", "--all", "--backlight", str(backlight)],
                   check=True, stdout=subprocess.DEVNULL)
    p = ui.Program([sim, "--sim-state", state, "--swap", 1, "--seed", SEED], "sim")
    programs.append(p)
    p.widen(1100, 800)

    p.menu("Devices", "Check against record\u2026")
    p.choose_file("Check against a record", record)
    dialog, summary, lines = report(p, "Check against record: report")
    check(summary == "%s\n3 devices in the record: 2 differ, 1 missing; 1 new device." % record,
          "the report says %r" % summary)
    differ = [l for l in lines if re.fullmatch(r"[0-9A-F]{8} \(line \d\) +differs +backlight \d+ -> %d" % backlight, l)]
    missing = [l for l in lines if re.fullmatch(r"[0-9A-F]{8} \(line \d\) +missing", l)]
    new = [l for l in lines if re.fullmatch(r"[0-9A-F]{8} +new", l)]
    check(len(lines) == 4 and len(differ) == 2 and len(missing) == 1 and len(new) == 1,
          "the report lists %r" % lines)
    old_uid, line = re.match(r"(\S+) \(line (\d)\)", missing[0]).groups()
    new_uid = new[0].split()[0]
    ui.screenshot("report", window=False)
    fix = ui.find(dialog, pyatspi.ROLE_PUSH_BUTTON, "Fix")
    check(ui.sensitive(fix), "Fix is not sensitive with two rows that differ")
    ui.do_action(fix, "click")
    dialog, summary, lines = report(p, "Fix: report")
    check(summary == "2 devices: 2 changed.", "the fix's report says %r" % summary)
    check(all(re.fullmatch(r"[0-9A-F]{8} \(line \d\) +changed +backlight %d -> \d+" % backlight, l) for l in lines)
          and len(lines) == 2, "the fix's report lists %r" % lines)
    close(p, dialog)

    question = p.wait_dialog(pyatspi.ROLE_ALERT)
    text = ui.wait_for(lambda: p.alert_text(question), "the question's text")
    ask = "Give %s the settings of %s (line %s)?" % (new_uid, old_uid, line)
    check(ask in text, "the question reads %r, expected %r in it" % (text, ask))
    ui.do_action(ui.find(question, pyatspi.ROLE_PUSH_BUTTON, "Yes"), "click")
    dialog, summary, lines = report(p, "Replace: report")
    check(summary == "%s\n1 of 1 device replaced." % record, "the replacement's report says %r" % summary)
    check(len(lines) == 1 and lines[0].startswith("%s takes the place of %s (line %s)" % (new_uid, old_uid, line)),
          "the replacement's report lists %r" % lines)
    close(p, dialog)

    # The table: every device with its row's address and backlight, the new
    # one with the old one's.
    table = p.table("Device list")
    wanted = {(new_uid if uid_of(r) == old_uid else uid_of(r)): [r["address"], "%s%%" % r["backlight"]]
              for r in before}

    def listed():
        return {c[0].split()[1]: [c[1], c[4]] for c in ui.table_cells(table)}

    ui.wait_for(lambda: listed() == wanted, "the table to list %r" % wanted)
    ui.screenshot("replaced")

    after = record_rows(record)
    check([uid_of(r) for r in after] == [new_uid if uid_of(r) == old_uid else uid_of(r) for r in before],
          "the record's rows name %r" % [r["uid"] for r in after])
    check(p.terminate() == 0, "exit status not 0")


if __name__ == "__main__":
    ui.run(test, programs)
