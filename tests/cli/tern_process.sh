#!/bin/bash
# tern as real processes meet it: a SIGINT in the middle of a run (the
# report of what was done, the state kept, status 130), two commands on one
# rig at once (the second refused, nothing lost), results that cannot be
# written (/dev/full), and a usage error in --json mode. The simulated line
# runs in real time here (--real-time), so that a run lasts long enough to
# be interrupted; the test waits for what tern prints, never for a time.
# Usage: tern_process.sh PATH-TO-TERN
set -u
tern=$1
dir=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done; rm -rf "$dir"' EXIT
fail() { echo "tern_process.sh: $*" >&2; exit 1; }
py=/usr/bin/python3

# Waits (up to a minute) until FILE has at least N lines. Each waited-for
# file is a new one: an old file's lines would end the wait before the
# program that writes it has started.
waitLines() {
  for _ in $(seq 1 600); do
    [ -f "$1" ] && [ "$(wc -l <"$1")" -ge "$2" ] && return 0
    sleep 0.1
  done
  fail "no $2 lines in $1 within a minute: $(cat "$1" 2>/dev/null)"
}

rig="$dir/rig.json"
"$tern" --sim --sim-state "$rig" --devices 20 --seed 5 discover --quick --uids >"$dir/uids" 2>"$dir/err" ||
  fail "discover exited $?: $(cat "$dir/err")"
[ "$(wc -l <"$dir/uids")" -eq 20 ] || fail "discover --uids printed $(cat "$dir/uids")"

# --- SIGINT mid-run: the devices done are reported, the rest not reached,
# the state file holds what was written.
# shellcheck disable=SC2046
"$tern" --sim --sim-state "$rig" --real-time address --start 1 --step 4 $(cat "$dir/uids") \
  >"$dir/out" 2>"$dir/err" &
pid=$!
pids+=("$pid")
waitLines "$dir/out" 3
kill -INT "$pid"
wait "$pid"
status=$?
[ "$status" -eq 130 ] || fail "an interrupted address exited $status: $(cat "$dir/err")"
done=$(grep -c ' changed ' "$dir/out")
notReached=$(grep -c ' not reached$' "$dir/out")
[ "$done" -ge 3 ] && [ "$done" -lt 20 ] || fail "interrupted after $done devices: $(cat "$dir/out")"
[ $((done + notReached)) -eq 20 ] || fail "every device is in the report: $(cat "$dir/out")"
tail -n 1 "$dir/out" | grep -q "^20 devices: $done changed, $notReached not reached\.$" ||
  fail "totals: $(tail -n 1 "$dir/out")"
grep -q "^tern: interrupted: Stopped after $done of 20 devices; the rest were not tried\.$" "$dir/err" ||
  fail "the interruption: $(cat "$dir/err")"
# The state file: the devices reported changed hold their new address.
$py - "$rig" "$dir/out" <<'EOF' || fail "the state file lost what was written"
import json, sys
state = {d["uid"]: d["settings"]["addr"] for d in json.load(open(sys.argv[1]))["devices"]}
for line in open(sys.argv[2]):
    if " changed " in line:
        uid, new = line.split()[0], int(line.split("-> ")[1])
        if state[uid] != new:
            sys.exit(1)
EOF

# --- Two commands on one rig: the second is refused while the first runs,
# and the first's writes all land.
first=$(head -n 1 "$dir/uids")
# shellcheck disable=SC2046
"$tern" --sim --sim-state "$rig" --real-time address --start 101 --step 2 $(cat "$dir/uids") \
  >"$dir/first" 2>"$dir/err" &
pid=$!
pids+=("$pid")
waitLines "$dir/first" 1
"$tern" --sim --sim-state "$rig" set "$first" --backlight 7 >"$dir/out2" 2>"$dir/err2"
status=$?
[ "$status" -eq 2 ] || fail "a second command on a rig in use exited $status"
grep -q "rig.json is in use by another tern" "$dir/err2" || fail "the second command: $(cat "$dir/err2")"
wait "$pid" || fail "the first command exited $?: $(cat "$dir/err")"
$py -c 'import json,sys; d=json.load(open(sys.argv[1]))["devices"]; sys.exit(0 if sorted(x["settings"]["addr"] for x in d) == list(range(101, 141, 2)) and all(x["settings"]["backlight"] != 7 for x in d) else 1)' \
  "$rig" || fail "the first command's addresses did not all land"

# --- Results that cannot be written are a failure, said with the reason.
"$tern" --sim --sim-state "$rig" discover >/dev/full 2>"$dir/err"
status=$?
[ "$status" -eq 1 ] || fail "discover into /dev/full exited $status"
grep -q "^tern: cannot write the results: No space left on device$" "$dir/err" || fail "/dev/full: $(cat "$dir/err")"

# --- A usage error in --json mode is one JSON document too.
"$tern" --json frob >"$dir/out" 2>"$dir/err"
status=$?
[ "$status" -eq 2 ] || fail "an unknown command exited $status"
$py -c 'import json,sys; d=json.load(open(sys.argv[1])); sys.exit(0 if d["status"] == 2 and not d["ok"] and d["errors"][0]["message"] == "unknown command \"frob\"" else 1)' \
  "$dir/out" || fail "usage error in --json: $(cat "$dir/out")"
exit 0
