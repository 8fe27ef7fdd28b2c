"""Freehand drawing with the left button, the wheel, the pointer label, and
"Save curve" through the file chooser: a stroke along the top edge over the
middle of the plot saves as 4095 there and 0 far away, under the entry's
name, in path.crv."""

import os

import pyatspi

import ternui as ui
from ternui import check

programs = []

START, END, STEP = 100, 156, 7  # the stroke's levels
NUDGE = 30  # the level the wheel raises


def test():
    sim, _ = ui.program_paths()
    p = ui.Program([sim, "--devices", 1], "sim")
    programs.append(p)
    p.window()
    view = p.view()
    ext = ui.extents(view)
    x0, y0, w, h = ext

    # Hovering: the label shows the level under the pointer with the curve's
    # value there (0 at start-up) and the pointer's output level.
    level, curve, _, cursor = p.pointer_to(64, 2048, ext)
    check(curve == 0, "the start-up curve is %d at level %d, expected 0" % (curve, level))
    level, curve, _, cursor = p.pointer_to(200, 1000, ext)
    check(curve == 0, "the start-up curve is %d at level %d, expected 0" % (curve, level))
    # Left of the edit area the label empties.
    ui.xdotool("mousemove", x0 + 5, y0 + h // 2)
    ui.wait_for(lambda: p.label_text() == "", "the label to empty with the pointer left of the plot")

    # A stroke along the top edge from level 100 to 156.
    p.pointer_to(START, 4095, ext)
    ui.xdotool("mousedown", 1)
    try:
        def pressed():
            got = p.curve_label()
            return got if got is not None and got[1] == 4095 else None

        got = ui.wait_for(pressed, "the point under the pointer to jump to 4095 on the press")
        check(abs(got[0] - START) <= 1, "the press set level %d, expected about %d" % (got[0], START))
        for lv in list(range(START + STEP, END, STEP)) + [END]:
            p.pointer_to(lv, 4095, ext, expect_curve=4095)
    finally:
        ui.xdotool("mouseup", 1)
    ui.screenshot("drawn")

    # Released: moving on over the plot no longer draws.
    level, curve, _, _ = p.pointer_to(200, 2000, ext)
    check(curve == 0, "after the release the curve at level %d is %d: the drag went on" % (level, curve))
    level, curve, _, _ = p.pointer_to(128, 1000, ext)
    check(curve == 4095, "the label shows %d at level %d, expected the drawn 4095" % (curve, level))

    # The wheel nudges the point under the pointer by 5; with approximation
    # 0 picked in the selector, its neighbours stay.
    combo = p.widget(pyatspi.ROLE_COMBO_BOX, "Aproximation")
    combo.querySelection().selectChild(0)
    ui.wait_for(lambda: combo.querySelection().getSelectedChild(0).name == "0",
                "the approximation selector to show 0")
    nudged, curve, _, _ = p.pointer_to(NUDGE, 600, ext)
    check(curve == 0, "level %d holds %d before the wheel, expected 0" % (nudged, curve))
    for expected in (5, 10):
        ui.xdotool("click", 4)
        ui.wait_for(lambda: p.curve_label()[1] == expected,
                    "the wheel to raise level %d to %d" % (nudged, expected))

    # Save under a name with a blank, to a path without extension.
    entry = p.entry()
    ui.set_text(entry, "drag top")
    target = os.path.join(ui.WORK, "drawn")
    p.click("Save curve")
    p.choose_file("Save File", target)
    ui.wait_for(lambda: os.path.exists(target + ".crv"), "%s.crv to be written" % target)
    check(not os.path.exists(target), "the curve was saved to %s without its extension too" % target)
    name, values = ui.read_crv(target + ".crv")
    ui.log("saved values 90..170:", values[90:170])
    check(name == "drag top", "line 1 of the file is %r, expected the entry's 'drag top'" % name)
    check(any(values), "the saved curve is all zero")
    check(all(v == 4095 for v in values[START + 2:END - 1]),
          "the stroke's levels %d..%d are not all 4095: %r" % (START + 2, END - 2, values[START + 2:END - 1]))
    check(values[128] == 4095, "level 128 holds %d, expected 4095" % values[128])
    check(values[nudged] == 10, "the nudged level %d holds %d, expected 10" % (nudged, values[nudged]))
    check(all(v == 0 for i, v in enumerate(values[:START - 8]) if i != nudged),
          "levels below %d changed: %r" % (START - 8, [(i, v) for i, v in enumerate(values[:START - 8]) if v]))
    check(all(v == 0 for v in values[END + 8:]), "levels above %d changed: %r" % (END + 8, values[END + 8:]))
    # The edges of the stroke blend into the rest over the approximation
    # width (5): rising on the left, falling on the right.
    left = values[START - 8:START + 2]
    right = values[END - 1:END + 9]
    check(left == sorted(left), "the stroke's left edge does not rise: %r" % left)
    check(right == sorted(right, reverse=True), "the stroke's right edge does not fall: %r" % right)

    check(p.terminate() == 0, "the program did not exit cleanly")


if __name__ == "__main__":
    ui.run(test, programs)
