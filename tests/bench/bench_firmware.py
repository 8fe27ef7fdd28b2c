"""Measures a firmware update on tern-curve-sim in real time: how long the
stream takes against the time its pauses and sends add up to, and how much
processor the program uses meanwhile.

Run by hand inside the GUI test runner (a display and a bus of its own):

  tests/gui/run_gui_test.sh bench_firmware /tmp/bench \\
      /usr/bin/python3 tests/bench/bench_firmware.py build/tern-curve-sim [SIZE]

The stream runs from the first "Send reboot" line to the "Send DONE." line:
5 x (102 ms + send) + 1002 ms + blocks x 5 x (7 ms + send), where a send is
the break's 5 ms drain and the frame's 4.4 ms drain. The program's
processor time (user + system, all threads, from /proc) over the same span
gives its share of one core. Exits 1 when the stream takes more than 5 %
longer than computed or the share is above 20 %.
"""

import os
import random
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "gui"))

import ternui as ui  # noqa: E402
from ternui import check  # noqa: E402

SEND_MS = 5.0 + 4.4
MAX_RATIO = 1.05
MAX_SHARE = 0.20

programs = []


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # Fields 14 and 15 of the line (utime, stime), counted after the name.
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def watch(p, pattern, timeout):
    """Waits for `pattern` on the program's stdout, looking every
    millisecond; returns the wall-clock and processor time of the moment it
    was first seen."""
    deadline = time.monotonic() + timeout
    with open(p.out_path, errors="replace") as f:
        text = ""
        while True:
            chunk = f.read()
            if chunk:
                text += chunk
                if pattern in text:
                    return time.monotonic(), cpu_seconds(p.proc.pid)
            check(time.monotonic() < deadline, "no %r within %.0f s" % (pattern, timeout))
            time.sleep(0.001)


def test():
    sim = os.path.abspath(sys.argv[1])
    size = int(sys.argv[2]) if len(sys.argv) > 2 else 16384
    blocks = (size + 63) // 64
    fw_path = os.path.join(ui.WORK, "bench.fw")
    with open(fw_path, "wb") as f:
        f.write(bytes(random.Random(1).randrange(256) for _ in range(size)))

    p = ui.Program([sim, "--devices", 3], "sim")
    programs.append(p)
    p.window()
    p.click("Update FW")
    p.choose_file("Open File", fw_path)
    t0, c0 = watch(p, "Send reboot", 20)
    computed = (5 * (102 + SEND_MS) + 1002 + blocks * 5 * (7 + SEND_MS)) / 1000.0
    t1, c1 = watch(p, "Send DONE.", computed * 2 + 10)
    wall, cpu = t1 - t0, c1 - c0
    ratio, share = wall / computed, cpu / wall
    print("image %d bytes, %d blocks" % (size, blocks))
    print("stream: measured %.3f s, computed %.3f s, ratio %.4f" % (wall, computed, ratio))
    print("processor: %.2f s over %.3f s, %.1f %% of one core" % (cpu, wall, share * 100))
    sys.stdout.flush()
    p.terminate()
    check(ratio <= MAX_RATIO, "the stream took %.1f %% longer than computed" % ((ratio - 1) * 100))
    check(share <= MAX_SHARE, "the program used %.1f %% of a core" % (share * 100))


if __name__ == "__main__":
    ui.run(test, programs)
