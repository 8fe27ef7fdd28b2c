"""The installed programs open their window: each is started once from a
working folder without "zul.png", shows its main window titled with the
package's version, carries the window icon it found in the installed data
folder, and ends cleanly on SIGTERM. A screenshot of each window is kept.

usage (inside run_gui_test.sh): smoke_installed.py VERSION PROGRAM...
e.g.  smoke_installed.py 1.1 /usr/bin/tern-curve-sim /usr/bin/tern-curve
"""

import os
import re
import subprocess
import sys

import ternui as ui
from ternui import check

programs = []


def window_icon_size(wid):
    """Width and height of the window's _NET_WM_ICON, or None without one
    (xprop draws the icon after a line "Icon (W x H):")."""
    r = subprocess.run(["xprop", "-id", wid, "_NET_WM_ICON"], capture_output=True, text=True)
    m = re.search(r"_NET_WM_ICON\(CARDINAL\) =\s+Icon \((\d+) x (\d+)\)", r.stdout)
    return (int(m.group(1)), int(m.group(2))) if m else None


def smoke(version, program):
    name = os.path.basename(program)
    check(os.path.isabs(program) and os.access(program, os.X_OK), "%s is not an installed program" % program)
    check(not os.path.exists(os.path.join(os.path.dirname(program), "zul.png")),
          "an image lies in the programs' folder %s" % os.path.dirname(program))
    check(ui.TITLE == "Tern Curve creator %s." % version,
          "the package is version %s but the window is titled %r" % (version, ui.TITLE))
    p = ui.Program([program], name)
    programs.append(p)
    p.window()
    wid = ui.wait_for(ui.window_id, "an X window titled %r" % ui.TITLE)
    # The working folder has no zul.png, so this icon came from the data
    # folder of the installation.
    size = ui.wait_for(lambda: window_icon_size(wid), "the window icon of %s" % name)
    check(size == (64, 64), "%s: window icon of %dx%d, expected zul.png's 64x64" % ((name,) + size))
    ui.screenshot(name)
    status = p.terminate()
    check(status == 0, "%s: exit status %s after SIGTERM, expected 0" % (name, status))
    check(p.stdout().startswith("Tarn configurator\n"), "%s: no banner on stdout" % name)
    check(p.stdout().endswith("\n\nEXIT\n\n"), "%s: stdout does not end with EXIT" % name)
    ui.log("%s: window up with icon %dx%d, closed with status 0" % ((name,) + size))


def test():
    check(len(sys.argv) >= 3, "usage: %s VERSION PROGRAM..." % sys.argv[0])
    for program in sys.argv[2:]:
        smoke(sys.argv[1], program)


if __name__ == "__main__":
    ui.run(test, programs)
