""""Read curve" of a file that cannot be opened shows an error box naming
the file instead of doing nothing, and leaves the curve and its name as they
were. The tests run as root, for whom no permission bit stops a read, so the
file is a dangling symbolic link named x.crv (the file chooser accepts it,
opening it fails)."""

import os

import pyatspi

import ternui as ui
from ternui import check

LINEAR = [i * 4095 // 255 for i in range(256)]

programs = []


def test():
    sim, _ = ui.program_paths()
    p = ui.Program([sim, "--devices", 1], "sim")
    programs.append(p)
    p.window()

    p.click("Curve linear")
    ui.wait_for(lambda: ui.text_of(p.entry()) == "LINEAR", "the name entry to show LINEAR")

    broken = os.path.join(ui.WORK, "x.crv")
    os.symlink(os.path.join(ui.WORK, "no-such-file.crv"), broken)
    p.click("Read curve")
    try:
        p.choose_file("Open File", broken)
    except ui.Failure:
        # If the chooser kept the path for itself (still open, perhaps with
        # its own complaint on top), the program never got to read it.
        chooser = p.toplevels(pyatspi.ROLE_DIALOG, "Open File")
        if not chooser:
            raise
        ui.screenshot("refused", window=False)
        raise ui.Skip("the file chooser does not accept a dangling link named x.crv; the read was not tried")
    alert = p.wait_dialog(pyatspi.ROLE_ALERT)
    text = ui.wait_for(lambda: p.alert_text(alert), "the alert's text")
    ui.screenshot("alert", window=False)
    check(broken in text, "the error box does not name the file: %r" % text)
    p.wait_stderr(r"(?m)^ERROR: ", "the error echoed on stderr")

    ui.do_action(ui.find(alert, pyatspi.ROLE_PUSH_BUTTON, "OK"), "click")
    p.wait_no_dialogs()
    check(ui.text_of(p.entry()) == "LINEAR", "the failed read changed the name to %r" % ui.text_of(p.entry()))

    # The curve is still the linear one: save it and look.
    saved = os.path.join(ui.WORK, "after.crv")
    p.click("Save curve")
    p.choose_file("Save File", saved)
    ui.wait_for(lambda: os.path.exists(saved), "after.crv to be written")
    name, values = ui.read_crv(saved)
    check(name == "LINEAR" and values == LINEAR, "after the failed read the curve saves as %r %r" % (name, values[:8]))

    check(p.terminate() == 0, "the program did not exit cleanly")


if __name__ == "__main__":
    ui.run(test, programs)
