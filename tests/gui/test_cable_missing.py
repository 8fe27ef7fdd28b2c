"""tern-curve on a machine without a converter: "Send curve" tells the
operator "Cable not found!" in an error box (echoed on stderr), and the
window and the curve are unharmed once the box is closed."""

import pyatspi

import ternui as ui
from ternui import check

programs = []


def test():
    _, real = ui.program_paths()
    check(real is not None, "the path of tern-curve was not given")
    p = ui.Program([real], "real")
    programs.append(p)
    p.window()

    p.click("Curve linear")
    ui.wait_for(lambda: ui.text_of(p.entry()) == "LINEAR", "the name entry to show LINEAR")
    p.click("Send curve")
    alert = p.wait_dialog(pyatspi.ROLE_ALERT, timeout=15)
    text = ui.wait_for(lambda: p.alert_text(alert), "the alert's text")
    ui.screenshot("alert", window=False)
    check("Cable not found!" in text, "the alert says %r, expected 'Cable not found!'" % text)
    p.wait_stderr(r"(?m)^ERROR: Cable not found!$", "'ERROR: Cable not found!' on stderr")
    check("Curve part" not in p.stdout(), "curve parts were reported sent without a cable")

    do_ok = ui.find(alert, pyatspi.ROLE_PUSH_BUTTON, "OK")
    ui.do_action(do_ok, "click")
    p.wait_no_dialogs()
    check(p.alive(), "the program ended with the error box")
    check(ui.text_of(p.entry()) == "LINEAR", "the name entry changed to %r" % ui.text_of(p.entry()))
    level, value, _, _ = p.pointer_to(128, 1000)
    check(value == level * 4095 // 255, "the curve changed: %d at level %d" % (value, level))
    check(p.stderr().count("ERROR:") == 1, "more than one error reported: %r" % p.stderr())

    check(p.terminate() == 0, "the program did not exit cleanly")


if __name__ == "__main__":
    ui.run(test, programs)
