"""The main window: title, the control column and its order, the curve
name's label and the notice of a cut name, the curve view at its requested
size, the device table taking the height of a taller window, the handle
between them, the graph re-rendered when enlarged, and a clean exit on
SIGTERM."""

import pyatspi

import ternui as ui
from ternui import check

PANEL = [
    (pyatspi.ROLE_TEXT, "Curve name"),
    (pyatspi.ROLE_PUSH_BUTTON, "Curve linear"),
    (pyatspi.ROLE_PUSH_BUTTON, "Curve 2"),
    (pyatspi.ROLE_PUSH_BUTTON, "Read curve"),
    (pyatspi.ROLE_PUSH_BUTTON, "Save curve"),
    (pyatspi.ROLE_PUSH_BUTTON, "Send curve"),
    (pyatspi.ROLE_PUSH_BUTTON, "Update FW"),
    (pyatspi.ROLE_LABEL, "Aproximation:"),
    (pyatspi.ROLE_COMBO_BOX, "Aproximation"),
    (pyatspi.ROLE_LABEL, "Curve label"),
]

programs = []


def is_black(px):
    return max(px) < 90


def is_green(px):
    r, g, b = px
    return g > 180 and r < 120 and b < 120


def check_axes(image, view, win, what):
    """The axes of the plot are drawn where the geometry puts them: the
    horizontal one along y = h-30 from x = 40 to w-20 (black, or under the
    green curve where the curve is at 0), the vertical one black along x = 50
    from y = 20 to h-20. Image coordinates are window-relative."""
    vx, vy, w, h = view
    ox, oy = vx - win[0], vy - win[1]
    axis_y = oy + h - 30
    for x in list(range(ox + 41, ox + 48)) + list(range(ox + 52, ox + w - 22, 7)):
        check(any(is_black(image.at(x, axis_y + d)) or (x > ox + 50 and is_green(image.at(x, axis_y + d)))
                  for d in (-1, 0, 1)),
              "%s: no horizontal axis at x=%d, y=%d (view %r)" % (what, x - ox, h - 30, view))
    for y in range(oy + 22, oy + h - 33, 7):
        check(any(is_black(image.at(ox + 50 + d, y)) for d in (-1, 0, 1)),
              "%s: no black vertical axis at x=50, y=%d (view %r)" % (what, y - oy, view))
    # Left of the axis, a grey background and no stray drawing at mid-height.
    px = image.at(ox + 25, oy + h // 2 + 3)
    check(not is_black(px) and not is_green(px), "%s: unexpected ink left of the plot: %r" % (what, px))


def check_linear_curve(image, view, win, what):
    """The green linear curve passes where level i maps to value i*4095/255."""
    vx, vy, w, h = view
    ox, oy = vx - win[0], vy - win[1]
    for level in (16, 64, 128, 192, 240):
        value = level * 4095 // 255
        x = ox + 50 + level * (w - 70) / 255.0
        y = oy + (h - 30) - value * (h - 50) / 4095.0
        near = [image.at(int(round(x)) + dx, int(round(y)) + dy) for dx in (-2, -1, 0, 1, 2) for dy in (-2, -1, 0, 1, 2)]
        check(any(is_green(p) for p in near),
              "%s: the curve is not drawn green at level %d (x=%.0f, y=%.0f in the view %r)"
              % (what, level, x - ox, y - oy, view))


def test():
    sim, _ = ui.program_paths()
    p = ui.Program([sim, "--devices", "1"], "sim")
    programs.append(p)
    win = p.window()

    # The title is on the X window itself, not only in the accessible tree.
    check(ui.window_id() is not None, "no X window is titled %r" % ui.TITLE)

    # The control column: the entry, the six buttons, the approximation
    # selector and the curve label, top to bottom, in one column right of the
    # curve view.
    view = p.view()
    panel_items = []
    for role, name in PANEL:
        panel_items.append(ui.find(win, role, name))
    tree_order = [(a.getRole(), a.name) for a in ui.descendants(win, only_showing=True)
                  if (a.getRole(), a.name) in PANEL]
    check(tree_order == PANEL, "controls in the tree in the order %r, expected %r"
          % ([n for _, n in tree_order], [n for _, n in PANEL]))
    boxes = [ui.extents(a) for a in panel_items]
    vx, vy, vw, vh = ui.extents(view)
    check((vw, vh) == (440, 350), "the curve view is %dx%d, expected its requested 440x350" % (vw, vh))
    column = [b for (role, _), b in zip(PANEL, boxes) if role != pyatspi.ROLE_COMBO_BOX]
    for (role, name), box in zip(PANEL, boxes):
        check(box[0] >= vx + vw, "%r (at x=%d) is not right of the curve view (ends at x=%d)" % (name, box[0], vx + vw))
    tops = [b[1] for b in column]
    check(tops == sorted(tops) and len(set(tops)) == len(tops),
          "the controls are not stacked top to bottom: tops %r" % tops)
    lefts = [boxes[i][0] for i in range(7)]
    check(max(lefts) - min(lefts) <= 1, "the entry and the buttons are not left-aligned: %r" % lefts)
    widths = [boxes[i][2] for i in range(7)]
    check(max(widths) - min(widths) <= 1, "the entry and the buttons differ in width: %r" % widths)
    label_box, combo_box = boxes[7], boxes[8]
    check(label_box[0] + label_box[2] <= combo_box[0] and abs(label_box[1] - combo_box[1]) <= 3,
          "'Aproximation:' %r is not just left of its combo box %r" % (label_box, combo_box))
    check(boxes[6][1] < combo_box[1] < boxes[9][1],
          "the approximation selector is not between 'Update FW' and the curve label")

    # Start-up state: empty name, approximation 5 of 0..20, empty label.
    entry, combo, label = panel_items[0], panel_items[8], panel_items[9]
    check(ui.text_of(entry) == "", "the name entry starts with %r" % ui.text_of(entry))
    check(ui.text_of(label) == "", "the curve label starts with %r" % ui.text_of(label))
    items = ui.descendants(combo, pyatspi.ROLE_MENU_ITEM)
    check([i.name for i in items] == [str(n) for n in range(21)],
          "the approximation entries are %r, expected 0..20" % [i.name for i in items])
    selection = combo.querySelection()
    selected = selection.getSelectedChild(0) if selection.nSelectedChildren == 1 else None
    check(selected is not None and selected.name == "5",
          "the approximation selector does not start at 5 (selected: %r)"
          % (selected.name if selected is not None else None))

    # The name entry has its label just above it, and takes at most 11
    # characters; a longer name is cut, and a notice under the entry says so
    # until the name is changed again.
    name_label = ui.find(win, pyatspi.ROLE_LABEL, "Curve name:")
    lx, ly, lw, lh = ui.extents(name_label)
    ex, ey, ew, eh = ui.extents(entry)
    check(abs(lx - ex) <= 2 and ly + lh <= ey <= ly + lh + 6, "the label %r is not just above the entry %r"
          % (ui.extents(name_label), ui.extents(entry)))
    check(not ui.descendants(win, pyatspi.ROLE_LABEL, "Curve name notice", only_showing=True),
          "the notice about a cut name shows at start")
    entry.queryEditableText().setTextContents("ABCDEFGHIJKLMN")
    ui.wait_for(lambda: ui.text_of(entry).startswith("ABCDEFGHIJK"), "the typed name in the entry")
    check(ui.text_of(entry) == "ABCDEFGHIJK", "the entry holds %r, expected the first 11 characters"
          % ui.text_of(entry))
    notice = ui.find(win, pyatspi.ROLE_LABEL, "Curve name notice")
    check(ui.text_of(notice) == "Cut to 11 characters", "the notice reads %r" % ui.text_of(notice))
    check(ui.extents(notice)[1] >= ey + eh, "the notice is not under the entry")
    ui.set_text(entry, "SHORT")
    ui.wait_for(lambda: not ui.descendants(win, pyatspi.ROLE_LABEL, "Curve name notice", only_showing=True),
                "the notice to go with a name that fits")

    # Default size: at start-up the (all-zero) curve lies on the axis.
    win_box = ui.extents(win)
    check_axes(ui.Image(ui.screenshot("default")), ui.extents(view), win_box, "default size")
    p.click("Curve linear")
    ui.wait_for(lambda: ui.text_of(entry) == "LINEAR", "the entry to show LINEAR")
    # The picture follows a repaint later: look until it is there.
    ui.eventually(lambda: check_linear_curve(ui.Image(ui.screenshot("default-linear")), ui.extents(view),
                                             win_box, "default size"),
                  "the linear curve at default size", timeout=5)

    # Enlarged: the view takes the extra room and the graph is drawn anew at
    # the new size; the panel stays at the right, top-aligned.
    # Without a window manager nothing keeps the window on the screen: bring
    # it to the corner first so that all of it can be seen.
    table = p.table("Device list")
    table_height = ui.extents(table)[3]
    wid = ui.window_id()
    ui.xdotool("windowmove", wid, 0, 0)
    ui.wait_for(lambda: ui.extents(win)[:2] == (0, 0), "the window to move to the screen's corner")
    ui.xdotool("windowsize", wid, 1100, 960)
    # The view grows in width; the height goes to the devices' table, and
    # the view keeps its own.
    ui.wait_for(lambda: ui.extents(view)[2] > 600 and ui.extents(table)[3] > table_height + 250,
                "the curve view to widen and the device table to take the height")
    check(ui.extents(view)[3] == 350, "the curve view is %d high in the tall window" % ui.extents(view)[3])
    # The handle between them gives the curve more.
    paned = ui.find(win, pyatspi.ROLE_SPLIT_PANE, "Curve and devices")
    value = paned.queryValue()
    value.currentValue = value.currentValue + 300
    ui.wait_for(lambda: ui.extents(view)[3] > 600, "the curve view to grow when the handle moves down")
    big = ui.extents(view)
    win_box = ui.extents(win)

    def enlarged_ok():
        image = ui.Image(ui.screenshot("enlarged"))
        check_axes(image, big, win_box, "enlarged")
        check_linear_curve(image, big, win_box, "enlarged")

    ui.eventually(enlarged_ok, "the graph re-rendered at the enlarged size", timeout=5)
    buttons = [ui.extents(b) for b in panel_items[1:7]]
    check(all(b[0] >= big[0] + big[2] for b in buttons), "the buttons are not right of the enlarged view")
    check(ui.extents(entry)[1] - big[1] == boxes[0][1] - vy,
          "the panel moved down relative to the view when enlarged: entry at %d, view at %d (was %d, %d)"
          % (ui.extents(entry)[1], big[1], boxes[0][1], vy))

    # SIGTERM closes the window as the close button would.
    status = p.terminate()
    out = p.stdout()
    check(status == 0, "exit status %s after SIGTERM, expected 0" % status)
    check(out.startswith("Tarn configurator\n"), "stdout does not start with the banner: %r" % out[:40])
    # Each console line ends with a line end; the farewell is a blank line,
    # "Destroy mainWin", two blank lines, "EXIT" and a blank line, and
    # nothing after it.
    check(out.endswith("\n\nDestroy mainWin\n\n\nEXIT\n\n"),
          "stdout does not end with '\\nDestroy mainWin' then '\\n\\nEXIT\\n': ...%r" % out[-60:])


if __name__ == "__main__":
    ui.run(test, programs)
