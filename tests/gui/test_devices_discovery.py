""""Discovery" on a simulated line of three devices lists them, numbered from
1, highest UID first, and reports "3 devices found."; the device buttons are
insensitive while it runs; selecting a row prints the selection lines. On an
empty line it reports "0 devices found." and leaves the list empty."""

import os
import re
import time

import pyatspi

import ternui as ui
from ternui import check

# A discovery on a real line takes some 8 s per device and 14 s for the
# search that finds nothing more.
DISCOVERY_TIMEOUT = 120

programs = []


def discover(p, expected_count):
    """Clicks "Discovery", checks the buttons while it runs, and returns the
    list's rows once the report has been closed."""
    button = p.button("Discovery")
    p.click("Discovery")
    ui.wait_for(lambda: not ui.sensitive(button), "Discovery to become insensitive while it runs")
    # Every button that uses the cable waits for the discovery to end.
    for other in ("Send curve", "Update FW"):
        check(not ui.sensitive(p.button(other)), "%s is sensitive while the discovery runs" % other)
    rows_while = ui.table_rows(p.table("Device list"))
    check(rows_while == [], "the list shows %r while the discovery runs" % rows_while)
    ui.screenshot("running-%d" % expected_count)
    started = time.monotonic()
    p.close_alert("%d devices found." % expected_count, timeout=DISCOVERY_TIMEOUT)
    ui.log("discovery of %d devices: %.1f s" % (expected_count, time.monotonic() - started))
    ui.wait_for(lambda: ui.sensitive(button), "Discovery to become sensitive again")
    return ui.table_rows(p.table("Device list"))


def three_devices(sim):
    state = os.path.join(ui.WORK, "devices3.json")
    p = ui.Program([sim, "--devices", 3, "--seed", 5, "--state", state], "sim3")
    programs.append(p)
    p.window()
    check(ui.table_rows(p.table("Device list")) == [], "the list is not empty at start")

    rows = discover(p, 3)
    ui.screenshot("found-3")
    check(len(rows) == 3, "the list shows %r, expected three rows" % rows)
    uids = []
    for number, row in enumerate(rows, start=1):
        m = re.fullmatch(r"\((\d+)\) ([0-9A-F]{8})", row)
        check(m is not None and int(m.group(1)) == number, "row %d reads %r" % (number, row))
        uids.append(m.group(2))
    check(uids == sorted(uids, reverse=True), "rows not in the order found (highest first): %r" % uids)

    # Selecting the second row sets the selected device and prints it.
    ui.click_row(p.table("Device list"), 1)
    p.wait_stdout(r"mainWin: selected = %s 2\n" % uids[1], "the selection line of row 2")
    out = p.stdout()
    check("You selected row 1. More specifically you clicked in column 0, and the text in this "
          "cell is (2) %s\n\n" % uids[1] in out, "the first selection line is missing: %r" % out[-600:])
    ui.screenshot("selected")

    status = p.terminate()
    check(status == 0, "exit status %s" % status)
    devices = ui.read_state(state)["devices"]
    check(sorted(d["uid"] for d in devices) == sorted(uids), "the state lists %r, the window %r"
          % ([d["uid"] for d in devices], uids))
    for d in devices:
        check(d["muted"] and d["setupReads"] == 1,
              "device %s: muted %s, settings read %s times" % (d["uid"], d["muted"], d["setupReads"]))


def empty_line(sim):
    p = ui.Program([sim, "--devices", 0], "sim0")
    programs.append(p)
    p.window()
    rows = discover(p, 0)
    check(rows == [], "the list shows %r on an empty line" % rows)
    check("No device." in p.stdout(), "the console does not say No device.")
    ui.screenshot("found-0")
    check(p.terminate() == 0, "exit status not 0")


def test():
    sim, _ = ui.program_paths()
    three_devices(sim)
    empty_line(sim)


if __name__ == "__main__":
    ui.run(test, programs)
