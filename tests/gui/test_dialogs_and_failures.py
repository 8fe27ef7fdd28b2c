"""The file dialogs and the three failure boxes.

Filters: "Update FW" ("Choose firmware") lists "Firmware files", "Curve files", "Any files" with
the first in effect; "Read curve" and "Save curve" put "Curve files" first.
Folders: the first dialog opens in the working folder, a cancelled one
changes nothing, and after an accepted file every dialog opens in that
file's folder. A line break pasted into the name entry is left out; a name read in an
8-bit code page saves with its bytes; a name longer than 11 characters read
from a file is cut, with a notice that says so. Failures, each in an error box that is echoed on stderr: a
file too large to be a curve file, a save into a folder where no file can be
made (/proc, which refuses root too), and a send over a cable that stops
answering after its first frame (tern-curve-sim --fail-after 1)."""

import os

import pyatspi

import ternui as ui
from ternui import check

programs = []

FIRMWARE_FIRST = ["Firmware files", "Curve files", "Any files"]
CURVE_FIRST = ["Curve files", "Firmware files", "Any files"]
LINEAR = [i * 4095 // 255 for i in range(256)]


def dialog_shows(p, title, filters, folder):
    active, listed = p.chooser_filters(title)
    check(listed == filters, "%r lists the filters %r, expected %r" % (title, listed, filters))
    check(active == filters[0], "%r opens with %r in effect, expected %r" % (title, active, filters[0]))
    shown = p.chooser_folder(title)
    check(shown == folder, "%r opens in the folder %r, expected %r" % (title, shown, folder))


def test():
    sim, _ = ui.program_paths()
    p = ui.Program([sim, "--devices", 1, "--fail-after", 1], "sim")
    programs.append(p)
    p.window()
    start = os.path.basename(p.cwd)

    p.click("Update FW")
    dialog_shows(p, "Choose firmware", FIRMWARE_FIRST, start)
    p.cancel_chooser("Choose firmware")
    p.wait_stdout(r"FileChooser Canceled\n")

    # A file one byte larger than a curve file may be, in a folder of its own.
    big_dir = os.path.join(ui.WORK, "dlg-big")
    os.makedirs(big_dir)
    huge = os.path.join(big_dir, "huge.crv")
    with open(huge, "w") as f:
        f.write("HUGE\n" + "1\n" * 2504)
    check(os.path.getsize(huge) == 5013, "huge.crv has %d bytes" % os.path.getsize(huge))
    p.click("Curve linear")
    ui.wait_for(lambda: ui.text_of(p.entry()) == "LINEAR", "the name entry to show LINEAR")
    p.click("Read curve")
    dialog_shows(p, "Open File", CURVE_FIRST, start)
    p.choose_file("Open File", huge)
    text = p.expect_error_box("This file is too large to be a curve file:", "too-large")
    check(huge in text, "the error box does not name the file: %r" % text)
    check(ui.text_of(p.entry()) == "LINEAR", "the refused file changed the name to %r" % ui.text_of(p.entry()))

    p.click("Save curve")
    dialog_shows(p, "Save File", CURVE_FIRST, "dlg-big")
    p.choose_file("Save File", "/proc/tern.crv")
    text = p.expect_error_box("The curve could not be saved to", "save-failed")
    check("/proc/tern.crv" in text, "the error box does not name the file: %r" % text)

    # A pasted line break never reaches the name: the entry leaves it out,
    # and the file keeps its 257 lines.
    p.entry().queryEditableText().setTextContents("two\nlines")
    ui.wait_for(lambda: ui.text_of(p.entry()) == "twolines", "the entry to show 'twolines'")
    saved = os.path.join(big_dir, "ok.crv")
    p.click("Save curve")
    p.choose_file("Save File", saved)
    ui.wait_for(lambda: os.path.exists(saved), "ok.crv to be written")
    name, values = ui.read_crv(saved)
    check(name == "twolines" and values == LINEAR, "ok.crv holds %r %r" % (name, values[:4]))

    # A name in an 8-bit code page shows as text and saves as the file's bytes.
    latin = os.path.join(big_dir, "latin.crv")
    with open(latin, "wb") as f:
        f.write(b"Caf\xe9\n" + b"".join(b"%d\n" % v for v in LINEAR))
    p.click("Read curve")
    p.choose_file("Open File", latin)
    ui.wait_for(lambda: ui.text_of(p.entry()) == "Caf\u00e9", "the entry to show 'Caf\u00e9'")
    again = os.path.join(big_dir, "again.crv")
    p.click("Save curve")
    p.choose_file("Save File", again)
    ui.wait_for(lambda: os.path.exists(again), "again.crv to be written")
    with open(latin, "rb") as a, open(again, "rb") as b:
        check(a.read() == b.read(), "the curve read from latin.crv saves differently")

    # A name longer than a curve's 11 characters is cut, and the window says so.
    long_name = os.path.join(big_dir, "long.crv")
    with open(long_name, "w") as f:
        f.write("Office-3F-warm-dim\n" + "".join("%d\n" % v for v in LINEAR))
    win = p.window()
    check(not ui.descendants(win, pyatspi.ROLE_LABEL, "Curve name notice", only_showing=True),
          "the notice of a cut name shows for a name that fitted")
    p.click("Read curve")
    p.choose_file("Open File", long_name)
    ui.wait_for(lambda: ui.text_of(p.entry()) == "Office-3F-w", "the entry to show 'Office-3F-w'")
    notice = ui.find(win, pyatspi.ROLE_LABEL, "Curve name notice")
    check(ui.text_of(notice) == "Cut to 11 characters", "the notice reads %r" % ui.text_of(notice))

    p.click("Send curve")
    p.expect_error_box("Sending the curve failed", "send-failed", timeout=20)

    errors = [l for l in p.stderr().splitlines() if l.startswith("ERROR: ")]
    check(len(errors) == 3, "expected one 'ERROR: ' line per error box, got %r" % errors)
    check(p.terminate() == 0, "the program did not exit cleanly")


if __name__ == "__main__":
    ui.run(test, programs)
