#!/usr/bin/python3
"""Every exit path of tern --json against the documented schema: each
command done, failed on the line, and refused for its usage, prints one
JSON document on standard output that the schema accepts, and its status
is the exit status.

Usage: tern_json.py PATH-TO-TERN PATH-TO-SCHEMA
"""
import json
import os
import subprocess
import sys
import tempfile

import jsonschema

tern, schema_path = sys.argv[1], sys.argv[2]
schema = json.load(open(schema_path))
jsonschema.Draft7Validator.check_schema(schema)
validator = jsonschema.Draft7Validator(schema)

work = tempfile.mkdtemp(prefix="tern_json_")
rig = os.path.join(work, "rig.json")
json.dump({"devices": [
    {"uid": "00000010", "settings": {"addr": 1}},
    {"uid": "0000E000", "settings": {"addr": 2}, "faults": {"silentClasses": 8}},
]}, open(rig, "w"))
csv = os.path.join(work, "rig.csv")
open(csv, "w").write("uid,address,backlight\n00000010,5,\n0000E000,,80\n00000099,7,\n")
bad = os.path.join(work, "bad.csv")
open(bad, "w").write("uid,address\n00000010,513\n")
curve = os.path.join(work, "c.crv")
open(curve, "w").write("LIN\n" + "".join(f"{i * 16}\n" for i in range(256)))
fw = os.path.join(work, "f.fw")
open(fw, "wb").write(b"\x5a" * 300)
sim = ["--sim", "--sim-state", rig]

runs = [
    # Done, failed on the line, refused: each command. Apply with the cable
    # failing at once reports its devices cable lost and not reached.
    sim + ["discover"], sim + ["discover", "--quick", "--uids"], sim + ["--fail-after", "0", "discover"],
    sim + ["get", "10", "e000"], sim + ["get", "--all", "--dali"], sim + ["get", "99"], sim + ["get"],
    sim + ["set", "10", "--sleep", "30"], sim + ["set", "--all", "--check", "--backlight", "5"],
    sim + ["set", "10", "--sleep", "3"], sim + ["set", "10", "--backlight", "101"],
    sim + ["address", "--start", "1", "--step", "0", "--all"], sim + ["address", "--start", "1", "10", "99"],
    sim + ["address", "--start", "600", "10"],
    sim + ["identify", "10"], sim + ["identify", "e000"], sim + ["new-uid", "99", "--yes"], sim + ["new-uid", "10"],
    sim + ["dali", "10"], sim + ["dali", "10", "--search", "--randomize"],
    sim + ["send-curve", curve], sim + ["send-curve", os.path.join(work, "none.crv")],
    sim + ["firmware", "--yes", fw], sim + ["firmware", "--yes", curve], sim + ["--fail-after", "3", "firmware", "--yes", fw],
    sim + ["export", os.path.join(work, "out.csv")], sim + ["export", "/nonexistent/out.csv"],
    sim + ["apply", "--check", csv], sim + ["apply", csv], sim + ["apply", bad], sim + ["--fail-after", "1", "apply", csv],
    sim + ["check", csv], sim + ["check", "--fix", csv], sim + ["check", "--adopt", csv], sim + ["check", bad],
    sim + ["replace", csv, "99", "e000"], sim + ["replace", csv, "10", "98"], sim + ["cables"],
    # Usage errors of the command line itself.
    ["frob"], ["--devices", "3", "discover"], ["discover", "--bogus"], [],
]
failures = 0
for args in runs:
    p = subprocess.run([tern, "--json"] + args, capture_output=True, text=True, timeout=120)
    shown = " ".join(args)
    try:
        doc = json.loads(p.stdout)
    except ValueError as e:
        print(f"tern_json.py: {shown}: not one JSON document ({e}): {p.stdout!r}", file=sys.stderr)
        failures += 1
        continue
    for e in validator.iter_errors(doc):
        print(f"tern_json.py: {shown}: {e.message} at {list(e.absolute_path)}", file=sys.stderr)
        failures += 1
    if doc.get("status") != p.returncode:
        print(f"tern_json.py: {shown}: status {doc.get('status')} but exit {p.returncode}", file=sys.stderr)
        failures += 1
sys.exit(1 if failures else 0)
