#!/bin/sh
# The rig record through a real spreadsheet: `tern export` of a rig whose
# UIDs a spreadsheet likes to take for numbers (0000E000 reads as 0,
# 12345E67 as 1.2345E+71, 0001E005 as 100000, leading zeros dropped),
# opened in LibreOffice Calc with its default import and saved again, once
# as it saves by default and once with ';' as a European locale does; each
# saved file must apply to the same rig with nothing to change.
# Usage: spreadsheet_roundtrip.sh PATH-TO-TERN   (exit 77: no LibreOffice)
set -u
tern=$1
soffice=$(command -v soffice || command -v libreoffice) || {
  echo "spreadsheet_roundtrip.sh: LibreOffice (soffice) is not installed; skipped"
  exit 77
}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "spreadsheet_roundtrip.sh: $*" >&2; exit 1; }

# Every awkward form of UID: digits-E-digits, leading zeros, digits only,
# letters only after the zeros, the largest; settings of every kind.
cat >"$dir/rig.json" <<'EOF'
{"devices": [
  {"uid": "0000E000", "settings": {"addr": 1, "lossOfDmx": 0, "sleep": 0, "backlight": 80, "limitUp": 255, "limitDown": 0}},
  {"uid": "12345E67", "settings": {"addr": 5, "lossOfDmx": 1, "sleep": 30, "backlight": 0, "limitUp": 200, "limitDown": 10}},
  {"uid": "0001E005", "settings": {"addr": 9, "lossOfDmx": 2, "sleep": 3, "backlight": 100, "limitUp": 128, "limitDown": 128}},
  {"uid": "00001234", "settings": {"addr": 13, "lossOfDmx": 0, "sleep": 60, "backlight": 5, "limitUp": 7, "limitDown": 0}},
  {"uid": "12345678", "settings": {"addr": 512, "lossOfDmx": 1, "sleep": 0, "backlight": 50, "limitUp": 255, "limitDown": 255}},
  {"uid": "00ABCDEF", "settings": {"addr": 17, "lossOfDmx": 2, "sleep": 10, "backlight": 1, "limitUp": 100, "limitDown": 1}},
  {"uid": "7FFFFFFF", "settings": {"addr": 21, "lossOfDmx": 0, "sleep": 0, "backlight": 99, "limitUp": 255, "limitDown": 0}},
  {"uid": "00000001", "settings": {"addr": 2, "lossOfDmx": 1, "sleep": 0, "backlight": 100, "limitUp": 255, "limitDown": 0}}
]}
EOF
sim="--sim --sim-state $dir/rig.json"
# shellcheck disable=SC2086
"$tern" $sim export "$dir/rig.csv" >"$dir/out" 2>&1 || fail "export exited $?: $(cat "$dir/out")"
[ "$(wc -l <"$dir/rig.csv")" -eq 9 ] || fail "export wrote: $(cat "$dir/rig.csv")"

# Its own profile and HOME, so that it neither waits for nor changes
# another LibreOffice; headless, and stopped if it hangs.
export HOME="$dir/home"
mkdir -p "$HOME"
calc() {  # calc OUTDIR FILTER
  timeout 120 "$soffice" "-env:UserInstallation=file://$dir/profile" --headless --norestore \
    --convert-to "$2" --outdir "$dir/$1" "$dir/rig.csv" >"$dir/calc.out" 2>&1 ||
    fail "soffice --convert-to $2 exited $?: $(cat "$dir/calc.out")"
  [ -s "$dir/$1/rig.csv" ] || fail "soffice wrote no $1/rig.csv: $(cat "$dir/calc.out")"
}
calc default csv
# Separator ';', text delimiter '"', UTF-8, from line 1.
calc semicolon 'csv:Text - txt - csv (StarCalc):59,34,76,1'
grep -q '^"*uid"*;"*address"*;' "$dir/semicolon/rig.csv" || fail "not saved with ';': $(cat "$dir/semicolon/rig.csv")"

for saved in default semicolon; do
  # shellcheck disable=SC2086
  "$tern" $sim apply --check "$dir/$saved/rig.csv" >"$dir/out" 2>"$dir/err" ||
    fail "apply --check of the $saved save exited $?: $(cat "$dir/err")
the file:
$(cat "$dir/$saved/rig.csv")"
  [ "$(tail -n 1 "$dir/out")" = "8 devices: 8 unchanged." ] ||
    fail "apply --check of the $saved save: $(cat "$dir/out")
the file:
$(cat "$dir/$saved/rig.csv")"
done
exit 0
