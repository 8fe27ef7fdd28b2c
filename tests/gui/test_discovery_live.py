"""Quick discovery and Find new devices in the window: rows appear as devices
are found, before the discovery ends, and the progress bar says how many;
the status line says "Quick discovery: 3 devices found." at the end; Find
new devices adds only what is new and says so there too; a device that never takes its mute stops a discovery
with a message that names it."""

import re

import pyatspi

import ternui as ui
from ternui import check

# On the simulated line in real time a quick search takes some 2-3 s per
# device.
TIMEOUT = 90

programs = []


def progress_text(p):
    return p.widget(pyatspi.ROLE_PROGRESS_BAR, "Progress").description


def rows(p):
    return ui.table_rows(p.table("Device list"))


def quick_then_new(sim):
    p = ui.Program([sim, "--devices", 3, "--seed", 5], "quick")
    programs.append(p)
    p.window()
    p.click("Quick discovery")
    quick = p.button("Quick discovery")
    # A row, and the count on the bar, while the discovery still runs.
    first = ui.wait_for(lambda: rows(p) if rows(p) and not ui.sensitive(quick) else None,
                        "a row while the quick discovery runs", timeout=TIMEOUT)
    check(re.fullmatch(r"\(1\) [0-9A-F]{8}", first[0]) is not None, "the first row reads %r" % first[0])
    ui.wait_for(lambda: re.fullmatch(r"[12] (of about \d+ )?devices found, 0:\d\d", progress_text(p) or "")
                and not ui.sensitive(quick), "the bar to count the devices while the discovery runs", timeout=TIMEOUT)
    ui.screenshot("running")
    p.wait_status("Quick discovery: 3 devices found.", timeout=TIMEOUT)
    check(not p.toplevels(), "a box besides the status line")
    found = rows(p)
    check(len(found) == 3, "the list shows %r after the quick discovery" % found)
    ui.wait_for(lambda: not progress_text(p), "the bar's count to go when the discovery has ended")

    p.discover("Find new devices", "0 new devices found.", timeout=TIMEOUT)
    check(rows(p) == found, "Find new devices changed the list to %r" % rows(p))
    check(p.terminate() == 0, "exit status not 0")


def rogue(sim):
    p = ui.Program([sim, "--devices", 2, "--seed", 5, "--rogue", 1], "rogue")
    programs.append(p)
    p.window()
    p.click("Quick discovery")
    alert = p.wait_dialog(pyatspi.ROLE_ALERT, timeout=TIMEOUT)
    text = p.alert_text(alert)
    ui.screenshot("rogue", window=False)  # the message box over the window
    check(re.fullmatch(r"Device [0-9A-F]{8} answers discovery but does not take its mute; devices "
                       r"with lower UIDs cannot be found while it is on the line\.", text) is not None,
          "the alert reads %r" % text)
    ui.do_action(ui.find(alert, pyatspi.ROLE_PUSH_BUTTON, "OK"), "click")
    check(p.terminate() == 0, "exit status not 0")


def test():
    sim, _ = ui.program_paths()
    quick_then_new(sim)
    rogue(sim)


if __name__ == "__main__":
    ui.run(test, programs)
