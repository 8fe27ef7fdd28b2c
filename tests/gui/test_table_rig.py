"""Twenty simulated devices in a window of 1600x1000 (a screen of that
size): the table fills as Quick discovery finds the devices, at least 15 of
its rows show at once, the curve view keeps its size, and the pictures of
the window (while the devices are found, then sorted with a selection) are
kept as artefacts to look at."""

import re

import ternui as ui
from ternui import check

DEVICES = 20
ROW_HEIGHT = 25

programs = []


def uids(p):
    out = []
    for cells in ui.table_cells(p.table("Device list")):
        m = re.fullmatch(r"\((\d+)\) ([0-9A-F]{8})", cells[0])
        check(m is not None, "a row reads %r" % cells)
        out.append((int(m.group(1)), m.group(2), cells[1]))
    return out


def test():
    sim, _ = ui.program_paths()
    p = ui.Program([sim, "--devices", DEVICES, "--dali", 3, "--seed", 17], "sim")
    programs.append(p)
    win = p.window()
    wid = ui.window_id()
    ui.xdotool("windowmove", wid, 0, 0)
    ui.xdotool("windowsize", wid, 1600, 1000)
    ui.wait_for(lambda: ui.extents(win)[2:] == (1600, 1000), "the window at 1600x1000")

    t = p.table("Device list")
    x, y, w, h = ui.extents(t)
    shown = (h - ROW_HEIGHT) // ROW_HEIGHT  # less the title row
    check(shown >= 15, "the table %r shows %d rows at once, expected at least 15" % (ui.extents(t), shown))
    vw, vh = ui.extents(p.view())[2:]
    check(vw >= 440 and vh >= 350, "the curve view is %dx%d, smaller than 440x350" % (vw, vh))

    p.click("Quick discovery")
    # Rows come as the devices are found, before the discovery ends.
    ui.wait_for(lambda: len(ui.table_cells(t)) >= 5, "five rows during the discovery", timeout=60)
    check(not ui.sensitive(p.button("Discovery")), "the discovery ended before five devices were listed")
    ui.screenshot("discovering")
    p.wait_status("Quick discovery: %d devices found." % DEVICES, timeout=200)
    rows = ui.wait_for(lambda: uids(p) if len(uids(p)) == DEVICES and all(a.isdigit() for _, _, a in uids(p))
                       else None, "twenty rows with their addresses")
    check(sorted(n for n, _, _ in rows) == list(range(1, DEVICES + 1)), "the rows are numbered %r" % rows)

    ui.click_column(t, 1)
    ui.wait_for(lambda: [int(a) for _, _, a in uids(p)] == sorted(int(a) for _, _, a in uids(p)),
                "the rows sorted by address")
    ui.click_row(t, 2)
    ui.click_row(t, 4, modifier="ctrl")
    ui.click_row(t, 5, modifier="ctrl")
    ui.wait_for(lambda: ui.selected_rows(t) == [2, 4, 5], "three rows selected")
    ui.screenshot("rig")
    check(p.terminate() == 0, "exit status not 0")


if __name__ == "__main__":
    ui.run(test, programs)
