#!/usr/bin/python3
"""Several lines from the shell, each tern a program of its own on the
simulated line: two lines addressed at once to the end, each rig in its own
state file; and two programs on one line, where the second is told the
cable is in use while the first holds it (waiting at its question) and gets
it once the first has ended.

Usage: several_lines.py PATH-TO-TERN
"""
import json
import os
import pty
import re
import select
import shutil
import subprocess
import sys
import tempfile

TERN = sys.argv[1]
DIR = tempfile.mkdtemp(prefix="tern_lines_")
# The claims of the simulated cables live in a folder of the test's own.
ENV = dict(os.environ, XDG_RUNTIME_DIR=DIR)
ENV.pop("TERN_CABLE", None)


def fail(text):
    print("several_lines.py: " + text, file=sys.stderr)
    sys.exit(1)


def tern(serial, *args, state=None):
    state = os.path.join(DIR, (state or serial) + ".json")
    return [TERN, "--sim", "--sim-state", state, "--cable", serial] + list(args)


def run(serial, *args, state=None):
    p = subprocess.run(tern(serial, *args, state=state), capture_output=True, env=ENV, timeout=120)
    return p.returncode, p.stdout.decode(), p.stderr.decode()


def addresses(serial):
    status, out, err = run(serial, "--json", "discover")
    if status != 0:
        fail("discover on %s exited %d: %s" % (serial, status, err))
    return {d["uid"]: d["address"] for d in json.loads(out)["devices"]}


def two_lines_at_once():
    runs = [subprocess.Popen(tern(serial, "--devices", str(n), "--seed", str(n), "--json", "address",
                                  "--start", "1", "--all"),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=ENV)
            for serial, n in (("LINE1", 4), ("LINE2", 5))]
    for p, n in zip(runs, (4, 5)):
        out, err = p.communicate(timeout=120)
        if p.returncode != 0 or len(json.loads(out)["devices"]) != n:
            fail("address on one of two lines exited %d: %s%s" % (p.returncode, out.decode(), err.decode()))
    one, two = addresses("LINE1"), addresses("LINE2")
    if sorted(one.values()) != [1, 2, 3, 4] or sorted(two.values()) != [1, 2, 3, 4, 5]:
        fail("each line addressed in sequence: %s %s" % (one, two))
    if set(one) & set(two):
        fail("the two rigs share devices: %s %s" % (one, two))
    return sorted(one)[0]


def read_until(fd, text, seconds=60):
    seen = b""
    while text not in seen:
        ready, _, _ = select.select([fd], [], [], seconds)
        chunk = os.read(fd, 4096) if ready else b""
        if not chunk:
            fail("waited for %r, got %r" % (text, seen))
        seen += chunk
    return seen.decode()


def two_programs_on_one_line(uid):
    # The first holds LINE1 while it asks its question on a terminal.
    master, slave = pty.openpty()
    first = subprocess.Popen(tern("LINE1", "new-uid", uid), stdin=slave, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, env=ENV)
    os.close(slave)
    read_until(first.stderr.fileno(), b"[y/N] ")

    # (A rig of its own: the same rig's state would be refused as in use first.)
    status, out, err = run("LINE1", "discover", state="other")
    if status != 1 or "The cable LINE1 is in use by another program" not in err:
        fail("a second program on LINE1 exited %d: %s%s" % (status, out, err))
    status, out, err = run("LINE2", "discover")
    if status != 0:
        fail("LINE2 while LINE1 is held exited %d: %s" % (status, err))
    # The listing says so too, once tern has the cables command.
    if re.search(r"^ +cables ", subprocess.run([TERN, "--help"], capture_output=True).stdout.decode(), re.M):
        status, out, err = run("LINE1", "--json", "cables", state="other")
        if status != 0 or [c["state"] for c in json.loads(out)["cables"]] != ["in-use"]:
            fail("cables while LINE1 is held exited %d: %s%s" % (status, out, err))

    os.write(master, b"n\n")
    first.communicate(timeout=60)
    os.close(master)
    if first.returncode != 1:
        fail("the first program, not confirmed, exited %d" % first.returncode)
    status, out, err = run("LINE1", "discover")
    if status != 0 or not out.endswith("4 devices found.\n"):
        fail("LINE1 once given back exited %d: %s%s" % (status, out, err))


try:
    two_programs_on_one_line(two_lines_at_once())
finally:
    shutil.rmtree(DIR, ignore_errors=True)
