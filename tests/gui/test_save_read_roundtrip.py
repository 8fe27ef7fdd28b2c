"""A straight line drawn with the right button, saved, replaced by "Curve 2",
read back and saved again: both files hold the same name and numbers, and
the window shows the name and the curve read from the file."""

import os
import re

import ternui as ui
from ternui import check

NAME = "RT-line"
CURVE2 = [(255 - i) * 4095 // 255 for i in range(256)]

programs = []


def test():
    sim, _ = ui.program_paths()
    p = ui.Program([sim, "--devices", 1], "sim")
    programs.append(p)
    p.window()
    ext = ui.extents(p.view())

    # Right-button drag: anchor near level 40, then wander and end near
    # level 200 at about 3000. Only the last position counts: the line is
    # redrawn from the curve as it was at the press.
    p.pointer_to(40, 1500, ext)
    ui.xdotool("mousedown", 3)
    try:
        anchor = p.pointer_to(40, 1400, ext)[0]
        p.pointer_to(230, 3600, ext, expect_curve=None)
        p.pointer_to(120, 1000, ext)
        end, end_value, _, cursor = p.pointer_to(200, 3000, ext)
        check(end_value == cursor, "the straight line does not reach the pointer: curve %d, pointer %d at level %d"
              % (end_value, cursor, end))
    finally:
        ui.xdotool("mouseup", 3)
    ui.screenshot("line")

    ui.set_text(p.entry(), NAME)
    # A is typed into a folder other than the one the dialog shows: the next
    # dialogs must open in A's folder.
    a_dir = os.path.join(ui.WORK, "other")
    os.makedirs(a_dir, exist_ok=True)
    a_path = os.path.join(a_dir, "A.crv")
    p.click("Save curve")
    p.choose_file("Save File", a_path)
    ui.wait_for(lambda: os.path.exists(a_path), "A.crv to be written")
    p.wait_stdout(re.escape("FileChooser path = %s\n" % a_dir), "the dialog to remember A's folder")
    a_name, a_values = ui.read_crv(a_path)
    check(a_name == NAME, "A.crv names the curve %r, expected %r" % (a_name, NAME))
    check(all(v == 0 for v in a_values[:anchor + 1]), "levels up to the anchor %d changed: %r"
          % (anchor, a_values[:anchor + 1]))
    check(all(v == 0 for v in a_values[end + 1:]),
          "levels past the line's end %d are not 0 (earlier pointer positions left a trace?): %r"
          % (end, [(i, v) for i, v in enumerate(a_values) if i > end and v][:8]))
    for i in range(anchor, end + 1):
        exact = end_value * (i - anchor) / (end - anchor)
        check(0 <= exact - a_values[i] < 2, "level %d holds %d, the straight line gives %.1f"
              % (i, a_values[i], exact))

    # "Curve 2" replaces curve and name.
    p.click("Curve 2")
    ui.wait_for(lambda: ui.text_of(p.entry()) == "Curve2", "the name entry to show Curve2")
    level, value, _, _ = p.pointer_to(128, 500, ext)
    check(value == CURVE2[level], "after 'Curve 2' the label shows %d at level %d, expected %d"
          % (value, level, CURVE2[level]))

    # Reading A brings back its name and its curve.
    p.click("Read curve")
    p.choose_file("Open File", a_path)
    ui.wait_for(lambda: ui.text_of(p.entry()) == NAME, "the name entry to show %r from A.crv" % NAME)
    level, value, _, _ = p.pointer_to(end, 2000, ext)
    check(value == a_values[level], "after reading A the label shows %d at level %d, expected %d"
          % (value, level, a_values[level]))
    ui.screenshot("read-back")

    b_path = os.path.join(ui.WORK, "B.crv")
    p.click("Save curve")
    p.choose_file("Save File", b_path)
    ui.wait_for(lambda: os.path.exists(b_path), "B.crv to be written")
    b_name, b_values = ui.read_crv(b_path)
    check(b_name == NAME, "B.crv names the curve %r, expected %r" % (b_name, NAME))
    diff = [(i, a, b) for i, (a, b) in enumerate(zip(a_values, b_values)) if a != b]
    check(not diff, "B.crv differs from A.crv at (level, A, B) %r" % diff[:10])

    check(p.terminate() == 0, "the program did not exit cleanly")


if __name__ == "__main__":
    ui.run(test, programs)
