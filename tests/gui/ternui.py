"""Drives the Tern curve editor as a person would, through the accessibility
tree (AT-SPI) and the X pointer (xdotool), for the GUI tests.

Run by /usr/bin/python3 inside run_gui_test.sh, which provides the display,
the D-Bus session, HOME and the scratch and artefact folders.

AT-SPI actions return at once and take effect later on the program's GUI
thread: every helper that acts waits for the effect it expects, with a
timeout, instead of sleeping.
"""

import json
import os
import re
import signal
import subprocess
import sys
import time
import traceback

import pyatspi
from gi.repository import Atspi

TITLE = "Tern Curve creator 1.1."
SKIP = 77  # exit status CTest is told means "skipped"

# Default timeout for anything a person would see happen "at once".
TIMEOUT = 10.0

WORK = os.environ.get("TERN_GUI_WORK") or "/tmp"
ARTIFACTS = os.environ.get("TERN_GUI_ARTIFACTS") or WORK
NAME = os.environ.get("TERN_GUI_NAME") or "gui"


class Failure(AssertionError):
    pass


class Skip(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def log(*args):
    print("[%s]" % NAME, *args, flush=True)


def wait_for(probe, what, timeout=TIMEOUT, interval=0.05):
    """Polls probe() until it returns something true, and returns that.

    Exceptions from probe count as "not yet" (the accessible tree changes
    under our feet while windows open and close); the last one is reported
    if the time runs out."""
    deadline = time.monotonic() + timeout
    last_error = None
    while True:
        try:
            value = probe()
            if value:
                return value
        except Exception as e:  # noqa: BLE001 - reported below on timeout
            last_error = e
        if time.monotonic() > deadline:
            detail = " (last error: %r)" % (last_error,) if last_error else ""
            raise Failure("timed out after %.1f s waiting for %s%s" % (timeout, what, detail))
        time.sleep(interval)


def eventually(fn, what, timeout=TIMEOUT, interval=0.1):
    """Calls fn until it returns without a Failure, and returns its result;
    on timeout the last Failure is reported."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            return fn()
        except Failure as e:
            if time.monotonic() > deadline:
                raise Failure("%s: %s" % (what, e))
        time.sleep(interval)


# --------------------------------------------------------------------------
# Accessible tree


def role_label(role):
    return Atspi.role_get_name(role) if role is not None else "widget"


def role_name(acc):
    try:
        return acc.getRoleName()
    except Exception:
        return "?"


def showing(acc):
    try:
        return acc.getState().contains(pyatspi.STATE_SHOWING)
    except Exception:
        return False


def descendants(root, role=None, name=None, only_showing=False, prune_tables=True):
    """All descendants of root (depth first, in tree order) with the given
    role and name. Tables (the file chooser's lists) are not entered."""
    found = []

    def walk(acc):
        for child in acc:
            if child is None:
                continue
            try:
                r = child.getRole()
                n = child.name
            except Exception:
                continue
            if (role is None or r == role) and (name is None or n == name):
                if not only_showing or showing(child):
                    found.append(child)
            if prune_tables and r == pyatspi.ROLE_TABLE:
                continue
            walk(child)

    walk(root)
    return found


def find(root, role, name=None, timeout=TIMEOUT, only_showing=True):
    """Waits for exactly one showing descendant of that role and name."""
    def probe():
        hits = descendants(root, role, name, only_showing)
        return hits[0] if len(hits) == 1 else None

    return wait_for(probe, "one %s named %r" % (role_label(role), name), timeout)


def text_of(acc):
    t = acc.queryText()
    return t.getText(0, t.characterCount)


def extents(acc):
    """Screen rectangle (x, y, width, height) of a widget."""
    e = acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return (e.x, e.y, e.width, e.height)


def do_action(acc, action="click"):
    a = acc.queryAction()
    names = [a.getName(i) for i in range(a.nActions)]
    check(action in names, "%s %r has no action %r (has %r)" % (role_name(acc), acc.name, action, names))
    a.doAction(names.index(action))


def set_text(acc, text):
    acc.queryEditableText().setTextContents(text)
    wait_for(lambda: text_of(acc) == text, "the text %r in %s %r" % (text, role_name(acc), acc.name))


def sensitive(acc):
    return acc.getState().contains(pyatspi.STATE_SENSITIVE)


def table_rows(acc):
    """The texts of a one-column list's rows, top to bottom."""
    t = acc.queryTable()
    return [t.getAccessibleAt(r, 0).name for r in range(t.nRows)]


def table_cells(acc):
    """The texts of every cell of a list, row by row."""
    t = acc.queryTable()
    return [[t.getAccessibleAt(r, c).name for c in range(t.nColumns)] for r in range(t.nRows)]


def column_titles(acc):
    t = acc.queryTable()
    return [t.getColumnDescription(c) for c in range(t.nColumns)]


def selected_rows(acc):
    t = acc.queryTable()
    return [r for r in range(t.nRows) if t.isRowSelected(r)]


def click_row(acc, row, modifier=None, clicks=1):
    """Clicks the middle of a list's row with the X pointer (with a modifier
    key held, or twice). GAIL places the cells of a GtkCList as if it had no
    title row: the rows really lie one title lower, and the title is about as
    high as a row."""
    cell = acc.queryTable().getAccessibleAt(row, 0)
    x, y, w, h = extents(cell)
    check(w > 0 and h > 0, "row %d of %r has no extents on the screen" % (row, acc.name))
    xdotool("mousemove", x + w // 2, y + h + h // 2)
    if modifier:
        xdotool("keydown", modifier)
    try:
        xdotool("click", "--repeat", clicks, "--delay", 80, 1)
    finally:
        if modifier:
            xdotool("keyup", modifier)


def click_column(acc, column):
    """Clicks the title of a list's column with the X pointer."""
    header = acc.queryTable().getColumnHeader(column)
    check(header is not None, "column %d of %r has no title" % (column, acc.name))
    x, y, w, h = extents(header)
    xdotool("mousemove", x + w // 2, y + h // 2)
    xdotool("click", 1)


def dump_tree(acc, depth=0, out=None, limit=400):
    """Prints the accessible tree below acc: role, name, extents."""
    out = out if out is not None else []
    if len(out) > limit:
        return out
    try:
        ext = extents(acc)
    except Exception:
        ext = None
    out.append("%s%s %r %s%s" % ("  " * depth, role_name(acc), getattr(acc, "name", "?"), ext,
                                 "" if showing(acc) else " (hidden)"))
    try:
        if acc.getRole() == pyatspi.ROLE_TABLE:
            return out
        for c in acc:
            if c is not None:
                dump_tree(c, depth + 1, out, limit)
    except Exception as e:
        out.append("%s<%r>" % ("  " * (depth + 1), e))
    return out


# --------------------------------------------------------------------------
# X pointer and screenshots


def xdotool(*args):
    subprocess.run(["xdotool"] + [str(a) for a in args], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def key(*combos):
    """Types key combinations (xdotool names, e.g. "ctrl+shift+z") into the
    window under the pointer, which has the keyboard without a window
    manager."""
    xdotool("key", *combos)


def send_delete(wid):
    """Asks the window to close as a window manager's close button does: a
    WM_DELETE_WINDOW client message."""
    import ctypes
    import ctypes.util

    x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]

    dpy = x11.XOpenDisplay(None)
    check(dpy, "cannot open the display")
    try:
        ev = ClientMessage()
        ev.type = 33  # ClientMessage
        ev.window = int(wid)
        ev.message_type = x11.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
        ev.format = 32
        ev.data[0] = x11.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
        ev.data[1] = 0  # CurrentTime
        check(x11.XSendEvent(dpy, int(wid), 0, 0, ctypes.byref(ev)) != 0, "XSendEvent failed")
        x11.XFlush(dpy)
    finally:
        x11.XCloseDisplay(dpy)


def window_id(title=TITLE):
    r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % re.escape(title)],
                       capture_output=True, text=True)
    ids = r.stdout.split()
    return ids[0] if ids else None


def screenshot(name, window=True):
    """Saves the main window (or the whole screen, with dialogs on it) as
    ARTIFACTS/<test>-<name>.png and returns the path."""
    os.makedirs(ARTIFACTS, exist_ok=True)
    path = os.path.join(ARTIFACTS, "%s-%s.png" % (NAME, name))
    wid = window_id() if window else None
    subprocess.run(["import", "-window", wid or "root", path], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    log("screenshot", path)
    return path


class Image:
    """An RGB picture read through ImageMagick, for pixel checks."""

    def __init__(self, path):
        data = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], check=True,
                              capture_output=True).stdout
        m = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
        check(m is not None, "cannot read %s as a picture" % path)
        self.width, self.height = int(m.group(1)), int(m.group(2))
        self.pixels = data[m.end():]

    def at(self, x, y):
        check(0 <= x < self.width and 0 <= y < self.height,
              "pixel %d,%d is outside the %dx%d picture" % (x, y, self.width, self.height))
        i = (y * self.width + x) * 3
        return tuple(self.pixels[i:i + 3])


# --------------------------------------------------------------------------
# The program


class Program:
    """One run of tern-curve or tern-curve-sim in the test's display."""

    def __init__(self, argv, tag="app"):
        self.argv = [str(a) for a in argv]
        self.tag = tag
        self.out_path = os.path.join(WORK, "%s.stdout" % tag)
        self.err_path = os.path.join(WORK, "%s.stderr" % tag)
        env = dict(os.environ)
        env["GTK2_MODULES"] = "gail:atk-bridge"
        env.pop("NO_AT_BRIDGE", None)
        # The pointer waits in the screen's corner, off the window, so that
        # no pointer event reaches the curve view before the test moves it.
        xdotool("mousemove", 0, 0)
        self._out = open(self.out_path, "w")
        self._err = open(self.err_path, "w")
        # It runs in a scratch folder of its own (the file chooser opens
        # there), with the window icon it looks for in its working folder.
        self.cwd = os.path.join(WORK, "cwd-%s" % tag)
        os.makedirs(self.cwd, exist_ok=True)
        icon = os.path.join(os.path.dirname(os.path.abspath(self.argv[0])), "zul.png")
        if os.path.exists(icon) and not os.path.exists(os.path.join(self.cwd, "zul.png")):
            os.symlink(icon, os.path.join(self.cwd, "zul.png"))
        self.proc = subprocess.Popen(self.argv, env=env, stdin=subprocess.DEVNULL, stdout=self._out,
                                     stderr=self._err, cwd=self.cwd)
        with open(os.path.join(WORK, "pids"), "a") as f:
            f.write("%d\n" % self.proc.pid)
        log("started", " ".join(self.argv), "pid", self.proc.pid)
        self._app = None
        self._frame = None

    # Console

    def stdout(self):
        with open(self.out_path, errors="replace") as f:
            return f.read()

    def stderr(self):
        with open(self.err_path, errors="replace") as f:
            return f.read()

    def wait_stdout(self, pattern, what=None, timeout=TIMEOUT):
        return wait_for(lambda: re.search(pattern, self.stdout()), what or "%r on stdout" % pattern, timeout)

    def wait_stderr(self, pattern, what=None, timeout=TIMEOUT):
        return wait_for(lambda: re.search(pattern, self.stderr()), what or "%r on stderr" % pattern, timeout)

    def alive(self):
        return self.proc.poll() is None

    # Accessibility

    def app(self, timeout=20.0):
        """The program's accessible application, matched by process id."""
        deadline = time.monotonic() + timeout
        while self._app is None:
            check(self.alive(), "the program exited early with status %s" % self.proc.returncode)
            try:
                self._app = next((a for a in pyatspi.Registry.getDesktop(0)
                                  if a is not None and a.get_process_id() == self.proc.pid), None)
            except Exception:  # noqa: BLE001 - the bus is still coming up
                self._app = None
            if self._app is None:
                check(time.monotonic() < deadline,
                      "the program did not appear on the accessibility bus within %.0f s" % timeout)
                time.sleep(0.1)
        return self._app

    def window(self, timeout=20.0):
        """The main window, once it shows with its title."""
        if self._frame is None:
            app = self.app(timeout)
            self._frame = wait_for(
                lambda: next((c for c in app if c is not None and c.getRole() == pyatspi.ROLE_FRAME
                              and c.name == TITLE and showing(c)), None),
                "the main window titled %r" % TITLE, timeout)
        return self._frame

    def widen(self, width, height):
        """Moves the main window to the screen's corner and sizes it, wide
        enough for every column of the device table; returns the window once
        it has (about) that width."""
        win = self.window()
        wid = window_id()
        xdotool("windowmove", wid, 0, 0)
        xdotool("windowsize", wid, width, height)
        wait_for(lambda: extents(win)[2] >= width - 10, "the window to widen")
        return win

    def widget(self, role, name, timeout=TIMEOUT):
        return find(self.window(), role, name, timeout)

    def button(self, label):
        return self.widget(pyatspi.ROLE_PUSH_BUTTON, label)

    def click(self, label):
        b = self.button(label)
        check(sensitive(b), "button %r is not sensitive" % label)
        do_action(b, "click")

    def table(self, name):
        """A list (GtkCList) of the main window, by its accessible name."""
        def probe():
            hits = descendants(self.window(), pyatspi.ROLE_TABLE, name, only_showing=True, prune_tables=False)
            return hits[0] if len(hits) == 1 else None

        return wait_for(probe, "the list %r" % name)

    def status(self):
        """The text of the status line at the bottom of the window."""
        return text_of(self.widget(pyatspi.ROLE_STATUS_BAR, "Status"))

    def wait_status(self, line, timeout=TIMEOUT):
        """Waits until the status line reads `line` and the discovery that
        reported it has given the buttons back."""
        try:
            wait_for(lambda: self.status() == line and sensitive(self.button("Discovery")),
                     "the status line %r" % line, timeout)
        except Failure as e:
            raise Failure("%s; it reads %r" % (e, self.status()))

    def discover(self, button, report, timeout=120):
        """Runs "Quick discovery" or "Find new devices" with its button and
        waits for its report, say "3 devices found.", on the status line."""
        self.click(button)
        self.wait_status("%s: %s" % (button, report), timeout)

    def quick_discovery(self, count, timeout=120):
        self.discover("Quick discovery", "%d devices found." % count, timeout)

    def close_alert(self, text, timeout=TIMEOUT):
        """Waits for an alert that reads `text`, presses its OK button and
        waits for it to close."""
        alert = self.wait_dialog(pyatspi.ROLE_ALERT, timeout=timeout)
        got = self.alert_text(alert)
        check(got == text, "the alert reads %r, expected %r" % (got, text))
        do_action(find(alert, pyatspi.ROLE_PUSH_BUTTON, "OK"), "click")
        wait_for(lambda: not self.toplevels(pyatspi.ROLE_ALERT), "the alert to close")
        return got

    def progress_text(self):
        """What the progress bar says (its accessible description)."""
        return self.widget(pyatspi.ROLE_PROGRESS_BAR, "Progress").description

    def device_rows(self):
        """The device table's rows as (uid, [cells after the row text])."""
        out = []
        for cells in table_cells(self.table("Device list")):
            m = re.fullmatch(r"\(\d+\) ([0-9A-F]{8})", cells[0])
            check(m is not None, "a row reads %r" % cells)
            out.append((m.group(1), cells[1:]))
        return out

    def close_report(self, title, timeout=60, shot=None):
        """Waits for the commissioning report titled `title`, takes its
        picture (named `shot`, else after the title), closes it and returns
        its summary and its result lines."""
        report = self.wait_dialog(pyatspi.ROLE_DIALOG, title, timeout=timeout)
        label = find(report, pyatspi.ROLE_LABEL, "Summary")
        summary = wait_for(lambda: text_of(label) or label.name, "the report's summary")
        results = text_of(find(report, pyatspi.ROLE_TEXT, "Results"))
        screenshot(shot or title.lower().replace(":", "").replace(" ", "-"), window=False)
        do_action(find(report, pyatspi.ROLE_PUSH_BUTTON, "Close"), "click")
        self.wait_no_dialogs()
        return summary, [l for l in results.split("\n") if l]

    def address_all(self, start, step="1"):
        """Address in sequence for every device listed, from `start`; returns
        once the dialog has gone and the run has started."""
        self.menu("Devices", "Address in sequence\u2026")
        dialog = self.wait_dialog(pyatspi.ROLE_DIALOG, "Address in sequence")
        do_action(find(dialog, pyatspi.ROLE_RADIO_BUTTON, "All devices"), "click")
        set_text(find(dialog, pyatspi.ROLE_TEXT, "Start address"), str(start))
        set_text(find(dialog, pyatspi.ROLE_TEXT, "Step"), str(step))
        ok = find(dialog, pyatspi.ROLE_PUSH_BUTTON, "OK")
        wait_for(lambda: sensitive(ok), "OK to turn sensitive")
        do_action(ok, "click")
        wait_for(lambda: not self.toplevels(pyatspi.ROLE_DIALOG, "Address in sequence"), "the dialog to close")

    def entry(self):
        return self.widget(pyatspi.ROLE_TEXT, "Curve name")

    def view(self):
        return self.widget(pyatspi.ROLE_UNKNOWN, "Curve view")

    def label_text(self):
        return text_of(self.widget(pyatspi.ROLE_LABEL, "Curve label"))

    def toplevels(self, role=None, name=None):
        """Showing top-level windows of the program other than the main one."""
        app = self.app()
        out = []
        for c in app:
            if c is None or not showing(c):
                continue
            if c.getRole() == pyatspi.ROLE_FRAME and c.name == TITLE:
                continue
            if (role is None or c.getRole() == role) and (name is None or c.name == name):
                out.append(c)
        return out

    def wait_dialog(self, role, name=None, timeout=TIMEOUT):
        return wait_for(lambda: (self.toplevels(role, name) or [None])[0],
                        "a %s window%s" % (role_label(role), " named %r" % name if name else ""), timeout)

    def wait_no_dialogs(self, timeout=TIMEOUT):
        wait_for(lambda: not self.toplevels(), "every dialog to close", timeout)

    def choose_file(self, title, path, timeout=TIMEOUT):
        """Answers the file chooser titled `title` ("Open File", "Save File",
        "Choose firmware"...) with an absolute path typed into its name field
        and its Open or Save button."""
        dialog = self.wait_dialog(pyatspi.ROLE_DIALOG, title, timeout)

        def name_field():
            fields = descendants(dialog, pyatspi.ROLE_TEXT, only_showing=True)
            return fields[0] if len(fields) == 1 else None

        if name_field() is None:
            # The open dialog shows its path bar first; the toggle brings the
            # name field.
            do_action(find(dialog, pyatspi.ROLE_TOGGLE_BUTTON, "Type a file name"), "click")
        field = wait_for(name_field, "the name field of %r" % title, timeout)
        set_text(field, path)
        buttons = [b.name for b in descendants(dialog, pyatspi.ROLE_PUSH_BUTTON, only_showing=True)]
        accept = "Save" if "Save" in buttons else "Open"
        do_action(find(dialog, pyatspi.ROLE_PUSH_BUTTON, accept), "click")
        wait_for(lambda: not self.toplevels(pyatspi.ROLE_DIALOG, title), "%r to close" % title, timeout)

    def menu_item(self, menu, item):
        """The item of the menu bar's menu `menu` (say "Edit", "Undo")."""
        def probe():
            tops = descendants(self.window(), pyatspi.ROLE_MENU, menu)
            if len(tops) != 1:
                return None
            hits = [i for i in tops[0] if i is not None and i.name == item]
            return hits[0] if len(hits) == 1 else None

        return wait_for(probe, "the menu item %s > %s" % (menu, item))

    def menu(self, menu, item):
        """Chooses a menu item, which must be sensitive."""
        it = self.menu_item(menu, item)
        check(sensitive(it), "the menu item %s > %s is not sensitive" % (menu, item))
        do_action(it, "click")

    def close(self):
        """The window's close button, as a window manager would press it."""
        wid = window_id()
        check(wid is not None, "no window to close")
        send_delete(wid)

    def chooser_filters(self, title, timeout=TIMEOUT):
        """The open file chooser titled `title`: (the filter in effect, the
        filters in their order)."""
        dialog = self.wait_dialog(pyatspi.ROLE_DIALOG, title, timeout)

        def filters():
            combos = descendants(dialog, pyatspi.ROLE_COMBO_BOX, only_showing=True)
            if len(combos) != 1:
                return None
            items = descendants(combos[0], pyatspi.ROLE_MENU_ITEM)
            return combos[0].name, [i.name for i in items]

        return wait_for(filters, "the filter selector of %r" % title, timeout)

    def chooser_folder(self, title, timeout=TIMEOUT):
        """The name of the folder the file chooser titled `title` shows: the
        pressed button of its path bar."""
        dialog = self.wait_dialog(pyatspi.ROLE_DIALOG, title, timeout)

        def pressed():
            hits = [t.name for t in descendants(dialog, pyatspi.ROLE_TOGGLE_BUTTON, only_showing=True)
                    if t.name != "Type a file name" and t.getState().contains(pyatspi.STATE_CHECKED)]
            return hits[0] if len(hits) == 1 else None

        return wait_for(pressed, "the current folder of %r" % title, timeout)

    def cancel_chooser(self, title, timeout=TIMEOUT):
        dialog = self.wait_dialog(pyatspi.ROLE_DIALOG, title, timeout)
        do_action(find(dialog, pyatspi.ROLE_PUSH_BUTTON, "Cancel"), "click")
        wait_for(lambda: not self.toplevels(pyatspi.ROLE_DIALOG, title), "%r to close" % title, timeout)

    def expect_error_box(self, expected, shot=None, timeout=TIMEOUT):
        """Waits for an error box whose text holds `expected`, checks that
        the same text went to standard error as an "ERROR: " line, closes
        it with OK and returns its text."""
        alert = self.wait_dialog(pyatspi.ROLE_ALERT, timeout=timeout)
        text = wait_for(lambda: self.alert_text(alert), "the error box's text")
        if shot:
            screenshot(shot, window=False)
        check(expected in text, "the error box says %r, expected %r in it" % (text, expected))
        self.wait_stderr(r"(?m)^ERROR: " + re.escape(text.split("\n")[0]) + "$",
                         "the error box's 'ERROR: ' line on stderr")
        do_action(find(alert, pyatspi.ROLE_PUSH_BUTTON, "OK"), "click")
        self.wait_no_dialogs()
        return text

    def alert_text(self, alert):
        """The texts of an alert's labels, joined by new lines."""
        parts = []
        for lab in descendants(alert, pyatspi.ROLE_LABEL, only_showing=True):
            t = text_of(lab) or lab.name
            if t:
                parts.append(t)
        return "\n".join(parts)

    # Pointer on the curve view

    def plot_point(self, level, value, ext=None):
        """Screen position of input level 0..255 and output value 0..4095
        in the curve view: the plot spans x = 50..w-20 and y = 20..h-30."""
        x0, y0, w, h = ext or extents(self.view())
        x = x0 + 50 + level * (w - 70) / 255.0
        y = y0 + (h - 30) - value * (h - 50) / 4095.0
        return int(round(x)), int(round(y))

    def curve_label(self):
        """The curve label as (level, curve value, cursor level, cursor
        value), or None when it is empty. Its format is checked exactly."""
        text = self.label_text()
        if text == "":
            return None
        m = re.fullmatch(r"Curve  ([ \d]{3,}):([ \d]{4,})\nCursor ([ \d]{3,}):([ \d]{4,})", text)
        check(m is not None, "the curve label reads %r" % text)
        values = tuple(int(g) for g in m.groups())
        check(text == "Curve  %3d:%4d\nCursor %3d:%4d" % values, "the curve label is misformatted: %r" % text)
        check(values[0] == values[2], "the label's two levels differ: %r" % text)
        return values

    def pointer_to(self, level, value, ext=None, expect_curve=None):
        """Moves the pointer over (level, value) of the plot and waits until
        the label shows it (level within 1, value within two pixel rows);
        with expect_curve, also until the curve's value there is that.
        Returns the label's numbers."""
        ext = ext or extents(self.view())
        x, y = self.plot_point(level, value, ext)
        xdotool("mousemove", x, y)
        row = 4095.0 / (ext[3] - 50)

        def shown():
            got = self.curve_label()
            if got is None or abs(got[2] - level) > 1 or abs(got[3] - value) > 2 * row + 1:
                return None
            if expect_curve is not None and got[1] != expect_curve:
                return None
            return got

        try:
            return wait_for(shown, "the label to show level %d at %d%s" % (
                level, value, "" if expect_curve is None else " with the curve at %d" % expect_curve))
        except Failure as e:
            raise Failure("%s; it reads %r" % (e, self.label_text()))

    # Ending

    def terminate(self, timeout=TIMEOUT):
        """Closes the window with SIGTERM and returns the exit status."""
        if self.alive():
            self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not exit within %.0f s of SIGTERM" % timeout)
        finally:
            self._out.flush()
            self._err.flush()
        return self.proc.returncode

    def kill(self):
        if self.alive():
            self.proc.kill()
            self.proc.wait()

    def diagnostics(self):
        lines = ["----- %s: %s" % (self.tag, " ".join(self.argv)),
                 "exit status: %s" % self.proc.poll()]
        for label, path in (("stdout", self.out_path), ("stderr", self.err_path)):
            try:
                with open(path, errors="replace") as f:
                    text = f.read()
            except OSError:
                text = "<unreadable>"
            if len(text) > 6000:
                text = "...\n" + text[-6000:]
            lines.append("----- %s:\n%s" % (label, text))
        if self._app is not None and self.alive():
            try:
                lines.append("----- accessible tree:")
                lines.extend(dump_tree(self._app))
            except Exception as e:
                lines.append("<tree unavailable: %r>" % (e,))
        return "\n".join(lines)


# --------------------------------------------------------------------------
# Files the simulated line writes and the program saves


def read_crv(path):
    """A curve file: (name line, list of numbers on the following lines)."""
    with open(path, newline="") as f:
        text = f.read()
    lines = text.replace("\r\n", "\n").split("\n")
    check(text.endswith("\n"), "%s does not end with a line end" % path)
    check(len(lines) == 258, "%s has %d lines, expected 257" % (path, len(lines) - 1))
    values = []
    for i, line in enumerate(lines[1:257], start=2):
        check(re.fullmatch(r"0|[1-9][0-9]*", line) is not None, "%s line %d is %r, not a level" % (path, i, line))
        values.append(int(line))
    return lines[0], values


def read_state(path):
    with open(path) as f:
        return json.load(f)


def read_trace(path):
    """Transmissions of a trace file as (direction, count, garbled, bytes)."""
    rows = []
    with open(path) as f:
        header = f.readline()
        check(header.startswith("#"), "trace %s does not start with a header line: %r" % (path, header))
        for n, line in enumerate(f, start=2):
            line = line.rstrip("\n")
            if not line:
                continue
            head, _, data = line.partition(" :")
            fields = head.split()
            check(len(fields) >= 5 and fields[0] in ("T", "R"), "trace line %d malformed: %r" % (n, line))
            garbled = len(fields) > 5 and fields[5] == "garbled"
            payload = bytes(int(b, 16) for b in data.split())
            check(len(payload) == int(fields[4]), "trace line %d: count %s but %d bytes" % (n, fields[4], len(payload)))
            rows.append((fields[0], int(fields[4]), garbled, payload))
    return rows


# --------------------------------------------------------------------------
# Running a test


def program_paths():
    """The programs under test, as CTest passes them: SIM [REAL]."""
    check(len(sys.argv) >= 2, "usage: %s TERN_CURVE_SIM [TERN_CURVE]" % sys.argv[0])
    sim = os.path.abspath(sys.argv[1])
    real = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 else None
    return sim, real


def run(test, programs):
    """Runs test(); on failure prints the reason, the programs' console
    output and a screenshot path, and exits non-zero. `programs` is a list
    the test appends its Program objects to."""
    status = 0
    try:
        test()
        log("PASS")
    except Skip as e:
        log("SKIPPED:", e)
        status = SKIP
    except Exception as e:  # noqa: BLE001 - every failure is reported the same way
        status = 1
        log("FAIL:", e)
        traceback.print_exc()
        try:
            screenshot("failure", window=False)
        except Exception as shot_error:
            log("no failure screenshot:", shot_error)
        for p in programs:
            print(p.diagnostics(), flush=True)
    finally:
        for p in programs:
            p.kill()
    sys.stdout.flush()
    sys.exit(status)
