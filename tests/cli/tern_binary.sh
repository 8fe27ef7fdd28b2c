#!/bin/sh
# The tern program itself, as a script runs it: results alone on standard
# output (the device layer's console lines go elsewhere, or to standard
# error with -v), nothing on standard error when all goes well and it is
# not a terminal, JSON that parses, and the exit statuses.
# Usage: tern_binary.sh PATH-TO-TERN
set -u
tern=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "tern_binary.sh: $*" >&2; exit 1; }
sim="--sim --sim-state $dir/rig.json"

"$tern" --help >"$dir/out" 2>"$dir/err" || fail "--help exited $?"
grep -q '^Usage: tern ' "$dir/out" || fail "--help printed no usage"
"$tern" apply --help >"$dir/out" || fail "apply --help exited $?"
grep -q -- '--check' "$dir/out" || fail "apply --help does not name --check"

# shellcheck disable=SC2086
"$tern" $sim --devices 4 discover >"$dir/out" 2>"$dir/err" || fail "discover exited $?"
[ "$(wc -l <"$dir/out")" -eq 6 ] || fail "discover printed more than its table: $(cat "$dir/out")"
[ "$(tail -n 1 "$dir/out")" = "4 devices found." ] || fail "discover did not count 4: $(cat "$dir/out")"
[ ! -s "$dir/err" ] || fail "discover wrote to standard error: $(cat "$dir/err")"
uid=$(sed -n 2p "$dir/out" | cut -d' ' -f1)

# shellcheck disable=SC2086
"$tern" $sim --json address --start 1 --step 8 --all >"$dir/out" 2>"$dir/err" || fail "address exited $?"
/usr/bin/python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); sys.exit(0 if d["ok"] and len(d["devices"]) == 4 else 1)' \
  "$dir/out" || fail "address --json: $(cat "$dir/out")"

# shellcheck disable=SC2086
"$tern" $sim export "$dir/rig.csv" >"$dir/out" 2>"$dir/err" || fail "export exited $?"
[ "$(head -n 1 "$dir/rig.csv")" = "uid,address,loss,sleep,backlight,limit_up,limit_down,version,dali_count" ] ||
  fail "export wrote no header: $(cat "$dir/rig.csv")"
# shellcheck disable=SC2086
"$tern" $sim apply --check "$dir/rig.csv" >"$dir/out" 2>"$dir/err" || fail "apply --check exited $?"
[ "$(tail -n 1 "$dir/out")" = "4 devices: 4 unchanged." ] || fail "apply --check: $(cat "$dir/out")"

# shellcheck disable=SC2086
"$tern" $sim -v get "$uid" >"$dir/out" 2>"$dir/err" || fail "get -v exited $?"
[ "$(wc -l <"$dir/out")" -eq 2 ] || fail "get printed more than its two lines: $(cat "$dir/out")"
grep -q '^app_setup_parse$' "$dir/err" || fail "-v did not show the console lines on standard error"

"$tern" frob >"$dir/out" 2>"$dir/err"
[ $? -eq 2 ] || fail "an unknown command did not exit 2"
grep -q 'unknown command "frob"' "$dir/err" || fail "an unknown command: $(cat "$dir/err")"
# shellcheck disable=SC2086
"$tern" $sim get 12345678 >"$dir/out" 2>"$dir/err"
[ $? -eq 1 ] || fail "a device not on the line did not exit 1"
[ "$(cat "$dir/err")" = "tern: Device 12345678 not responding." ] || fail "get of a missing device: $(cat "$dir/err")"
exit 0
