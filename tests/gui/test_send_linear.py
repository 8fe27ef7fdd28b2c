""""Curve linear" then "Send curve" on a simulated line: every virtual device
takes the linear curve named LINEAR, the console reports the three parts, and
the trace holds the six transmissions of the transfer, which carry the name
and the 256 values."""

import os
import re
import struct

import pyatspi

import ternui as ui
from ternui import check

DEVICES = 3
LINEAR = [i * 4095 // 255 for i in range(256)]

programs = []


def record_from_trace(rows):
    """Rebuilds the 524-byte curve record from the three curve parts, each
    sent twice. Frame: 19-byte header, then the payload; part 1 carries one
    byte ahead of its 170 record bytes."""
    sent = [payload for direction, _, _, payload in rows if direction == "T"]
    check(len(sent) == 6, "the converter sent %d transmissions, expected 6 (three parts, twice each)" % len(sent))
    check(sent[0] == sent[1] and sent[2] == sent[3] and sent[4] == sent[5],
          "the curve parts were not each sent twice in a row")
    check([len(f) for f in sent[::2]] == [19 + 176, 19 + 175, 19 + 189],
          "frame sizes %r, expected 195, 194, 208" % [len(f) for f in sent[::2]])
    p1, p2, p3 = (f[19:] for f in sent[::2])
    check(p1[:6] == bytes([0x01, 0x07, 173, 1, 171, 0x00]), "part 1 starts %s" % p1[:6].hex(" "))
    check(p2[:5] == bytes([0x01, 0x07, 172, 2, 170]), "part 2 starts %s" % p2[:5].hex(" "))
    check(p3[:5] == bytes([0x01, 0x07, 186, 3, 184]), "part 3 starts %s" % p3[:5].hex(" "))
    for f in sent:
        check(f[:4] == b"\x91\x29\xa9\xfd", "a curve frame starts %s, not with the magic" % f[:4].hex(" "))
        check(f[4:8] == b"\xff\xff\xff\xff", "a curve frame is addressed to %s, not to every device" % f[4:8].hex())
    return p1[6:] + p2[5:] + p3[5:]


def test():
    sim, _ = ui.program_paths()
    trace = os.path.join(ui.WORK, "line.trace")
    state = os.path.join(ui.WORK, "devices.json")
    p = ui.Program([sim, "--devices", DEVICES, "--seed", 7, "--trace", trace, "--state", state], "sim")
    programs.append(p)
    p.window()

    p.click("Curve linear")
    ui.wait_for(lambda: ui.text_of(p.entry()) == "LINEAR", "the name entry to show LINEAR")
    p.click("Send curve")
    out = p.wait_stdout(r"Curve part 3, size=184/524\n", "the transfer's third part on the console").string
    parts = re.findall(r"Curve part (\d), size=(\d+)/(\d+)", out)
    check(parts == [("1", "170", "170"), ("2", "170", "340"), ("3", "184", "524")],
          "console reports the parts %r" % parts)
    # The transfer runs on the GUI thread: once the window answers again it
    # has ended. It must not have raised an error.
    ui.wait_for(lambda: ui.text_of(p.entry()) == "LINEAR", "the window to answer after the transfer")
    check(not p.toplevels(pyatspi.ROLE_ALERT), "an alert is open after a successful send")
    check("ERROR" not in p.stderr(), "errors on stderr: %r" % p.stderr())
    ui.screenshot("sent")

    status = p.terminate()
    check(status == 0, "exit status %s, expected 0" % status)

    # Every device on the line took the curve.
    devices = ui.read_state(state)["devices"]
    check(len(devices) == DEVICES, "the state lists %d devices, expected %d" % (len(devices), DEVICES))
    uids = set()
    for d in devices:
        uids.add(d["uid"])
        check(d["curveName"] == "LINEAR", "device %s holds the curve %r, expected LINEAR" % (d["uid"], d["curveName"]))
        check(d["curvesTaken"] >= 1, "device %s took no curve" % d["uid"])
        check(d["badFrames"] == 0, "device %s saw %d bad frames" % (d["uid"], d["badFrames"]))
        wrong = [(i, v, LINEAR[i]) for i, v in enumerate(d["curve"]) if v != LINEAR[i]]
        check(len(d["curve"]) == 256 and not wrong,
              "device %s holds a different curve: (level, value, expected) %r" % (d["uid"], wrong[:8]))
    check(len(uids) == DEVICES, "device UIDs are not distinct: %r" % sorted(uids))

    # The trace: six transmissions from the converter, none garbled, which
    # carry the name and the linear values little-endian.
    rows = ui.read_trace(trace)
    check(not any(g for _, _, g, _ in rows), "a transmission on the line was garbled")
    check(all(d == "T" for d, _, _, _ in rows), "devices answered a curve transfer: %r"
          % [r[:2] for r in rows if r[0] != "T"])
    record = record_from_trace(rows)
    check(len(record) == 524, "the parts carry %d record bytes, expected 524" % len(record))
    name = record[:12].split(b"\0")[0]
    check(name == b"LINEAR", "the record's name is %r" % name)
    values = list(struct.unpack("<256H", record[12:]))
    check(values == LINEAR, "the record's values differ from the linear curve at levels %r"
          % [i for i in range(256) if values[i] != LINEAR[i]][:10])


if __name__ == "__main__":
    ui.run(test, programs)
