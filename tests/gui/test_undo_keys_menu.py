"""Undo, redo, the Curve menu and keyboard editing, end to end.

The "DALI logarithmic" menu preset loads its curve and name; a freehand
stroke is undone with Ctrl+Z and redone with Ctrl+Shift+Z (the saved files
before the stroke, after it, after the undo and after the redo compare);
Undo and Redo are sensitive exactly when there is something to undo or
redo. The keyboard then edits the point selected in the view: Right moves
the selection, Up, Shift+Up and Page Up raise the point by 1, 16 and 256,
and the label follows; Ctrl+Z takes the whole run back as one step, Ctrl+Y
brings it again, and the label reads the curve as they leave it, as it does
after a preset. A signal still closes the window at once, unsaved
changes and all."""

import os

import ternui as ui
from ternui import check

programs = []

DALI = [0] + [round(4095 * 10 ** (3 * (i - 255) / 254)) for i in range(1, 256)]
START, END, STEP = 110, 150, 8  # the stroke's levels


def save(p, name):
    path = os.path.join(ui.WORK, name)
    p.menu("File", "Save curve\u2026")
    p.choose_file("Save File", path)
    ui.wait_for(lambda: os.path.exists(path), "%s to be written" % name)
    return ui.read_crv(path)


def undo_redo_sensitive(p):
    return (ui.sensitive(p.menu_item("Edit", "Undo")), ui.sensitive(p.menu_item("Edit", "Redo")))


def test():
    sim, _ = ui.program_paths()
    p = ui.Program([sim, "--devices", 1], "sim")
    programs.append(p)
    p.window()
    ext = ui.extents(p.view())
    check(undo_redo_sensitive(p) == (False, False), "Undo or Redo is sensitive at start")

    p.menu("Curve", "DALI logarithmic")
    ui.wait_for(lambda: ui.text_of(p.entry()) == "DALI LOG", "the name entry to show DALI LOG")
    ui.wait_for(lambda: undo_redo_sensitive(p) == (True, False), "Undo to become sensitive")
    before = save(p, "before.crv")
    check(before == ("DALI LOG", DALI), "the menu preset saves as %r %r" % (before[0], before[1][:8]))

    # A freehand stroke along the top edge.
    p.pointer_to(START, 4095, ext)
    ui.xdotool("mousedown", 1)
    try:
        for lv in list(range(START + STEP, END, STEP)) + [END]:
            p.pointer_to(lv, 4095, ext, expect_curve=4095)
    finally:
        ui.xdotool("mouseup", 1)
    drawn = save(p, "drawn.crv")
    check(drawn[1][130] == 4095 and drawn[1] != before[1], "the stroke did not change the curve")

    # The pointer rests on the window, which then has the keyboard.
    ui.key("ctrl+z")
    ui.wait_for(lambda: undo_redo_sensitive(p)[1], "Redo to become sensitive after Ctrl+Z")
    undone = save(p, "undone.crv")
    check(undone == before, "Ctrl+Z did not bring back the curve from before the stroke: %r"
          % [(i, a, b) for i, (a, b) in enumerate(zip(before[1], undone[1])) if a != b][:6])
    ui.key("ctrl+shift+z")
    ui.wait_for(lambda: not undo_redo_sensitive(p)[1], "Redo to become insensitive after Ctrl+Shift+Z")
    redone = save(p, "redone.crv")
    check(redone == drawn, "Ctrl+Shift+Z did not bring the stroke back")

    # Keyboard editing: a middle click gives the view the focus and changes
    # nothing; the pointer selects level 100.
    level, value, _, _ = p.pointer_to(100, 2000, ext)
    ui.xdotool("click", 2)
    ui.key("Right")
    sel = level + 1
    start = DALI[sel]

    def label_is(lv, v):
        return lambda: p.curve_label() == (lv, v, lv, v)

    ui.wait_for(label_is(sel, start), "the label to show level %d at %d after Right" % (sel, start))
    ui.key("Up")
    ui.wait_for(label_is(sel, start + 1), "Up to raise level %d by 1" % sel)
    ui.key("shift+Up")
    ui.wait_for(label_is(sel, start + 17), "Shift+Up to raise it by 16")
    ui.key("Page_Up")
    ui.wait_for(label_is(sel, start + 273), "Page Up to raise it by 256")
    # The label reads the curve as undo and redo leave it; the keyboard's
    # cursor is the selected point and follows it.
    ui.key("ctrl+z")
    ui.wait_for(label_is(sel, start), "Ctrl+Z to take the three key nudges back at once")
    ui.key("ctrl+y")
    ui.wait_for(label_is(sel, start + 273), "Ctrl+Y to redo them")
    keyed = save(p, "keyed.crv")[1]
    changed = [i for i in range(256) if keyed[i] != redone[1][i]]
    check(changed and min(changed) >= sel - 5 and max(changed) <= sel + 5,
          "the key nudges changed levels %r, not only those within the width 5 of %d" % (changed, sel))

    # A preset rewrites the label at once: under the keyboard's cursor both
    # lines, under the pointer's the curve line (the pointer has not moved).
    ui.key("ctrl+1")
    ui.wait_for(label_is(sel, sel * 4095 // 255), "the label to read the linear preset at level %d" % sel)
    level, _, _, cursor = p.pointer_to(60, 1000, ext)
    ui.key("ctrl+2")
    ui.wait_for(lambda: p.curve_label() == (level, (255 - level) * 4095 // 255, level, cursor),
                "the label to read Curve 2 at level %d, the cursor still at %d" % (level, cursor))
    ui.key("ctrl+z")
    ui.wait_for(lambda: p.curve_label() == (level, level * 4095 // 255, level, cursor),
                "the label to read the linear curve again after Ctrl+Z")

    check(p.terminate() == 0, "SIGTERM did not close the window at once")


if __name__ == "__main__":
    ui.run(test, programs)
