"""Closing the window during a run asks once, and holds the run meanwhile:
a question about a run that ends first goes away and the run's report
follows, after which the window closes without asking; No lets the run go
on to its end; Yes stops it and the window closes. The Cable menu lists the
simulated converter, checked, and switches only while no job runs; the
status area names the cable in use; a choice kept from the last start is
taken."""

import os
import re

import pyatspi

import ternui as ui
from ternui import check

programs = []
TIMEOUT = 60
DISCOVERY_QUESTION = "A discovery is running. Closing the window now stops it.\n\nClose anyway?"


def question(p):
    """Closes the window as its close button does and waits for the question."""
    p.close()
    box = p.wait_dialog(pyatspi.ROLE_ALERT)
    text = ui.wait_for(lambda: p.alert_text(box), "the question's text")
    check(text == DISCOVERY_QUESTION, "the question reads %r" % text)
    return box


def exits(p, what):
    try:
        status = p.proc.wait(ui.TIMEOUT)
    except Exception:
        raise ui.Failure("%s: the window did not close (%r)" % (
            what, [p.alert_text(a) for a in p.toplevels(pyatspi.ROLE_ALERT)]))
    check(status == 0, "%s: exit status %s" % (what, status))


def withdrawn(sim):
    # Discovery on an empty line: some 15 s of probes, never a device found.
    p = ui.Program([sim, "--devices", 0], "empty")
    programs.append(p)
    p.window()
    p.click("Discovery")
    box = question(p)
    ui.wait_for(lambda: not ui.showing(box) or box not in p.toplevels(), "the question to go when the run ends",
                timeout=TIMEOUT)
    p.close_alert("0 devices found.", timeout=TIMEOUT)
    check(p.alive(), "the window closed without an answer")
    p.close()
    exits(p, "closing after the run")


def cable_and_answers(sim):
    config = os.path.join(os.environ["XDG_CONFIG_HOME"], "tern")
    os.makedirs(config, exist_ok=True)
    with open(os.path.join(config, "tern-curve.conf"), "w") as f:
        f.write("cable=TSIM0001\n")
    p = ui.Program([sim, "--devices", 5, "--seed", 5], "answers")
    programs.append(p)
    p.window()
    check("Cable TSIM0001, as chosen last time" in p.stdout(), "the kept choice was not taken")
    check(ui.text_of(p.widget(pyatspi.ROLE_LABEL, "Cable")) == "Cable TSIM0001",
          "the status area reads %r" % ui.text_of(p.widget(pyatspi.ROLE_LABEL, "Cable")))
    menu = ui.find(p.window(), pyatspi.ROLE_MENU, "Cable", only_showing=False)
    items = [i for i in menu if i is not None]
    check(len(items) == 1 and re.fullmatch(r"TSIM0001  Tern simulated DMX cable \(.+\)", items[0].name),
          "the Cable menu lists %r" % [i.name for i in items])
    item = items[0]
    check(item.getState().contains(pyatspi.STATE_CHECKED) and ui.sensitive(item), "the converter is not offered")

    p.click("Quick discovery")
    ui.wait_for(lambda: p.device_rows(), "a device found", timeout=TIMEOUT)
    check(not ui.sensitive(item), "another cable can be chosen while the discovery runs")
    box = question(p)
    ui.screenshot("question", window=False)
    ui.do_action(ui.find(box, pyatspi.ROLE_PUSH_BUTTON, "No"), "click")
    p.wait_status("Quick discovery: 5 devices found.", timeout=TIMEOUT)
    ui.wait_for(lambda: ui.sensitive(item), "the cable to be offered again")
    # The one converter chosen again: nothing changes (the table stays).
    ui.do_action(item, "click")

    check(len(p.device_rows()) == 5, "choosing the cable in use emptied the table")
    p.click("Quick discovery")
    ui.wait_for(lambda: re.search(r"devices found", p.progress_text() or ""), "the discovery to run")
    box = question(p)
    ui.do_action(ui.find(box, pyatspi.ROLE_PUSH_BUTTON, "Yes"), "click")
    exits(p, "Yes")
    check(re.search(r"(?m)^INFO: Stopped: \d+ devices? found\.$", p.stdout()), "the run was not stopped first")
    check("Cable TSIM0001 chosen" not in p.stdout(), "the cable in use was chosen anew")


def test():
    sim, _ = ui.program_paths()
    withdrawn(sim)
    cable_and_answers(sim)


if __name__ == "__main__":
    ui.run(test, programs)
