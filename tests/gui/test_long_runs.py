"""Long runs in the window on the simulated line: Stop ends a commissioning
run and a Quick discovery between two exchanges, keeps what was done and
found, reports it as stopped and gives the buttons back; the progress bar
counts a Quick discovery against its estimate; and a converter pulled
during Address in sequence leaves the devices it did not get to with the
values read before and a note, never as "not responding"."""

import re

import ternui as ui
from ternui import check

programs = []
TIMEOUT = 120

# Seed 21's five devices: a Quick discovery with their reads sends 174
# frames; the address run then reads, writes and reads back each device.
# Pulled after 174 + 2 x 3 + 2 frames, the third device's write fails.
QUICK_FRAMES_5 = 174


def buttons_back(p):
    ui.wait_for(lambda: ui.sensitive(p.button("Discovery")) and not ui.sensitive(p.button("Stop")),
                "the buttons back and Stop insensitive")


def stop_address_run(sim):
    p = ui.Program([sim, "--devices", 12, "--seed", 21], "stop")
    programs.append(p)
    p.widen(1100, 800)
    check(not ui.sensitive(p.button("Stop")), "Stop is sensitive with nothing running")
    p.click("Quick discovery")
    ui.wait_for(lambda: ui.sensitive(p.button("Stop")), "Stop to turn sensitive for the discovery")
    # The whole run against the estimate, with its time.
    ui.wait_for(lambda: re.fullmatch(r"\d+ of about \d+ devices found, 0:\d\d", p.progress_text() or ""),
                "the bar to count the devices against an estimate", timeout=TIMEOUT)
    p.wait_status("Quick discovery: 12 devices found.", timeout=TIMEOUT)
    before = dict(p.device_rows())

    p.address_all(100)
    p.click("Stop")
    summary, lines = p.close_report("Address in sequence: report", shot="stopped-report")
    m = re.search(r"\nStopped after (\d+) of 12 devices; the rest were not tried\.$", summary)
    check(m is not None, "the report says %r" % summary)
    done = int(m.group(1))
    check(done < 12, "the run was not stopped")
    check(len(lines) == 12 and all(" changed " in l for l in lines[:done])
          and all(l.endswith("not reached") for l in lines[done:]), "the report lists %r" % lines)
    buttons_back(p)
    rows = ui.wait_for(lambda: [r for r in p.device_rows() if r[1][0] == str(100 + p.device_rows().index(r))],
                       "the devices done to show their new addresses") if done else []
    check(len(rows) == done, "%d devices show new addresses, %d were done" % (len(rows), done))
    for uid, cells in p.device_rows()[done:]:
        check(cells == before[uid], "%s changed to %r, not reached" % (uid, cells))

    # Escape stops a Quick discovery; the devices found stay listed.
    p.click("Quick discovery")
    ui.wait_for(lambda: p.device_rows(), "a device found", timeout=TIMEOUT)
    ui.key("Escape")
    ui.wait_for(lambda: re.fullmatch(r"Quick discovery: Stopped: \d+ devices? found\.", p.status()),
                "the status line to say the discovery stopped (it reads %r)" % p.status(), timeout=TIMEOUT)
    found = int(re.search(r"(\d+) device", p.status()).group(1))
    check(0 < found < 12, "the stopped discovery found %d" % found)
    buttons_back(p)
    check(len(p.device_rows()) == found, "the table lists %r" % p.device_rows())
    check(not p.toplevels(), "a box beside the status line")
    ui.screenshot("stopped")
    check(p.terminate() == 0, "exit status not 0")


def cable_pulled(sim):
    p = ui.Program([sim, "--devices", 5, "--seed", 21, "--fail-after", QUICK_FRAMES_5 + 8], "pulled")
    programs.append(p)
    p.widen(1280, 800)
    p.quick_discovery(5)
    before = p.device_rows()
    p.address_all(100)
    summary, lines = p.close_report("Address in sequence: report", shot="pulled-report")
    check(summary == "5 devices: 2 changed, 1 cable lost, 2 not reached.\n"
          "The cable failed after 2 of 5 devices; the rest were not tried.",
          "the report says %r (not pulled at the third device's write?)" % summary)
    check("may have reached it" in lines[2], "the third device's line reads %r" % lines[2])
    buttons_back(p)
    rows = ui.wait_for(lambda: p.device_rows() if p.device_rows()[2][1][-1] else None, "the notes in the table")
    ui.screenshot("pulled")
    notes = [cells[-1] for _, cells in rows]
    check(notes == ["", "", "write may have reached it", "not read since the cable failed",
                    "not read since the cable failed"], "the table's notes are %r" % notes)
    check([cells[0] for _, cells in rows[:2]] == ["100", "101"], "the devices done read %r" % rows[:2])
    for (uid, cells), (_, old) in zip(rows[2:], before[2:]):
        check(cells == old[:-1] + [cells[-1]], "%s shows %r, it held %r" % (uid, cells, old))
    check(p.terminate() == 0, "exit status not 0")


def test():
    sim, _ = ui.program_paths()
    cable_pulled(sim)
    stop_address_run(sim)


if __name__ == "__main__":
    ui.run(test, programs)
