""""Update FW" with a small firmware file on a simulated line: the chooser
is titled for firmware, and a question names the file, its size and blocks
and that every device on the line receives it (No sends nothing); the progress
bar at the bottom of the window rises while the blocks go out, the buttons
that use the cable are insensitive meanwhile while the curve can still be
changed and saved, closing the window asks first, the result is told and the
bar empties again, and every virtual device ends with the file's image (its
last block filled up with 0xFF)."""

import os
import random

import pyatspi

import ternui as ui
from ternui import check

DEVICES = 3
SIZE = 6000  # 94 blocks, about 9 s on the line
CABLE_BUTTONS = ("Send curve", "Update FW")

programs = []


def value(bar):
    return bar.queryValue().currentValue


def bar_pixels(path, bar_box, window_box):
    """The pixels of the progress bar in a window screenshot."""
    img = ui.Image(path)
    x0, y0 = bar_box[0] - window_box[0], bar_box[1] - window_box[1]
    return [img.at(x0 + dx, y0 + dy) for dy in range(2, bar_box[3] - 2, 3) for dx in range(2, bar_box[2] - 2)]


def cable_buttons_sensitive(p):
    return [ui.sensitive(p.button(label)) for label in CABLE_BUTTONS]


def test():
    sim, _ = ui.program_paths()
    state = os.path.join(ui.WORK, "devices.json")
    fw_path = os.path.join(ui.WORK, "small.fw")
    crv_path = os.path.join(ui.WORK, "during.crv")
    image = bytes(random.Random(4).randrange(256) for _ in range(SIZE))
    with open(fw_path, "wb") as f:
        f.write(image)

    p = ui.Program([sim, "--devices", DEVICES, "--seed", 11, "--state", state], "sim")
    programs.append(p)
    window = p.window()
    bar = p.widget(pyatspi.ROLE_PROGRESS_BAR, "Progress")
    win_box, bar_box = ui.extents(window), ui.extents(bar)
    # At the bottom, across the window: under the curve view and the panel.
    view_box = ui.extents(p.view())
    check(bar_box[1] >= view_box[1] + view_box[3], "the progress bar %r is not under the curve view %r"
          % (bar_box, view_box))
    # Across the window, but for the Stop button at its right end.
    stop_box = ui.extents(p.button("Stop"))
    check(bar_box[2] + stop_box[2] >= win_box[2] - 40 and stop_box[0] >= bar_box[0] + bar_box[2]
          and stop_box[1] == bar_box[1], "the progress bar %r and Stop %r do not span the window %r"
          % (bar_box, stop_box, win_box))
    check(value(bar) == 0, "the bar starts at %r" % value(bar))
    check(cable_buttons_sensitive(p) == [True, True], "the cable buttons are not sensitive at the start")

    # Every device on the line would get it: the operator is asked first,
    # and No sends nothing.
    question = ("Send the firmware\n%s\n(6000 bytes, 94 blocks of 64 bytes) to every device on the line?\n\n"
                "Every device on the line receives it, not only the selected one: each is restarted and then "
                "takes the new image. This takes about 6 s." % fw_path)
    p.click("Update FW")
    p.choose_file("Choose firmware", fw_path)
    box = p.wait_dialog(pyatspi.ROLE_ALERT)
    text = ui.wait_for(lambda: p.alert_text(box), "the question's text")
    check(text == question, "the question reads %r" % text)
    ui.screenshot("question", window=False)
    ui.do_action(ui.find(box, pyatspi.ROLE_PUSH_BUTTON, "No"), "click")
    p.wait_no_dialogs()
    p.wait_stdout(r"Update FW cancelled: nothing sent\n", "the cancel on the console")
    ui.wait_for(lambda: value(bar) == 0 and cable_buttons_sensitive(p) == [True, True], "the window as before")
    check("Send reboot" not in p.stdout() and "Data size" not in p.stdout(), "No sent the firmware all the same")

    p.click("Update FW")
    p.choose_file("Choose firmware", fw_path)
    box = p.wait_dialog(pyatspi.ROLE_ALERT)
    ui.wait_for(lambda: p.alert_text(box) == question, "the question again")
    ui.do_action(ui.find(box, pyatspi.ROLE_PUSH_BUTTON, "Yes"), "click")
    p.wait_stdout(r"Send reboot ffffffff\n", "the first reboot packet")
    ui.wait_for(lambda: cable_buttons_sensitive(p) == [False, False],
                "\"Send curve\" and \"Update FW\" to turn insensitive", timeout=2)

    early = ui.wait_for(lambda: value(bar) > 0 and value(bar), "the bar to move", timeout=15)
    first_shot = ui.screenshot("early")

    # The window stays live: the curve changes and is saved while blocks go out.
    p.click("Curve 2")
    ui.wait_for(lambda: ui.text_of(p.entry()) == "Curve2", "the name entry to show Curve2")
    p.click("Save curve")
    p.choose_file("Save File", crv_path)
    name, values = ui.wait_for(lambda: os.path.exists(crv_path) and ui.read_crv(crv_path), "the saved curve")
    check(name == "Curve2" and values[0] == 4095 and values[255] == 0, "the saved curve is %r %r..." % (name, values[:3]))
    check("Send DONE" not in p.stdout(), "the update ended before the curve was saved; make the image larger")

    later = ui.wait_for(lambda: value(bar) >= early + 20 and value(bar), "the bar to move on", timeout=15)
    check(cable_buttons_sensitive(p) == [False, False] and "Send DONE" not in p.stdout(),
          "the cable buttons turned sensitive while blocks go out")
    second_shot = ui.screenshot("later")
    a, b = bar_pixels(first_shot, bar_box, win_box), bar_pixels(second_shot, bar_box, win_box)
    changed = sum(1 for x, y in zip(a, b) if x != y)
    check(changed > len(a) // 20, "the bar looks the same at %.0f and at %.0f (%d pixels changed)"
          % (early, later, changed))

    # Closing the window now would cut the devices' image short: it asks, and
    # No leaves the update running.
    p.close()
    box = p.wait_dialog(pyatspi.ROLE_ALERT)
    text = ui.wait_for(lambda: p.alert_text(box), "the question's text")
    check("firmware update is running" in text, "closing during the update shows %r" % text)
    ui.do_action(ui.find(box, pyatspi.ROLE_PUSH_BUTTON, "No"), "click")
    ui.wait_for(lambda: not p.toplevels(pyatspi.ROLE_ALERT), "the question to close")
    check(p.alive(), "the program ended although the operator said No")

    p.wait_stdout(r"Send DONE\. 6016/6000\n", "the end of the stream", timeout=30)
    # The operator is told the result over a full bar; then the bar empties.
    box = p.wait_dialog(pyatspi.ROLE_ALERT, timeout=10)
    check(value(bar) == 100, "the bar reads %r while the result is shown" % value(bar))
    ui.screenshot("done")
    p.close_alert("Firmware update done: 94 blocks (6016 bytes) of\n%s\nwent to every device on the line."
                  % fw_path)
    ui.wait_for(lambda: cable_buttons_sensitive(p) == [True, True],
                "\"Send curve\" and \"Update FW\" to turn sensitive again", timeout=5)
    ui.wait_for(lambda: value(bar) == 0, "the bar to empty when the update has ended", timeout=5)
    check("ERROR" not in p.stderr(), "errors on stderr: %r" % p.stderr())
    check(p.stdout().count("Send fw ") == 94, "the console shows %d blocks" % p.stdout().count("Send fw "))

    status = p.terminate()
    check(status == 0, "exit status %s, expected 0" % status)
    expected = (image + b"\xff" * (-len(image) % 64)).hex()
    devices = ui.read_state(state)["devices"]
    check(len(devices) == DEVICES, "the state lists %d devices" % len(devices))
    for d in devices:
        fw = d["firmware"]
        check(fw["mode"] == "receiving" and fw["reboots"] == 5, "device %s: %r" % (d["uid"], {
            k: fw[k] for k in ("mode", "reboots", "blocks", "rejected")}))
        check(fw["blocks"] == 94 and fw["rejected"] == 0,
              "device %s took %d blocks and rejected %d" % (d["uid"], fw["blocks"], fw["rejected"]))
        check(fw["image"] == expected, "device %s holds a different image" % d["uid"])


if __name__ == "__main__":
    ui.run(test, programs)
