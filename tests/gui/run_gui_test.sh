#!/bin/bash
# Runs one GUI test in a world of its own: a fresh Xvfb display, HOME and
# XDG_RUNTIME_DIR, and a private D-Bus session (which carries the
# accessibility bus). Everything started here is stopped again on the way
# out, whether the test passed, failed or was interrupted.
#
# usage: run_gui_test.sh NAME ARTIFACT_DIR COMMAND [ARGS...]
#
# TERN_GUI_SCREEN, when set, is the screen's size (default 1280x1024x24).
# The command sees TERN_GUI_NAME, TERN_GUI_WORK (a scratch folder that is
# removed afterwards) and TERN_GUI_ARTIFACTS (kept: screenshots and logs).
# Programs the command starts should have their process ids appended, one a
# line, to $TERN_GUI_WORK/pids so that they are ended here if still running.
set -u

if [ $# -lt 3 ]; then
  echo "usage: $0 NAME ARTIFACT_DIR COMMAND [ARGS...]" >&2
  exit 2
fi
name=$1
artifacts=$2
shift 2

mkdir -p "$artifacts"
# Pictures and logs of an earlier run of this test would mislead.
rm -f "$artifacts/$name"-*.png "$artifacts/$name".*.log
work=$(mktemp -d "/tmp/tern-gui-$name.XXXXXX") || exit 2
xvfb_pid=""
session_pid=""

# True while a process runs (a zombie no longer does: it only waits for its
# parent to collect it).
running() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  [ "${stat%% *}" != Z ] && [ "${stat%% *}" != X ]
}

# Ends processes that we started, by id: politely first, then for good.
stop_pids() {
  local pid left
  for pid in "$@"; do running "$pid" && kill -TERM "$pid" 2>/dev/null; done
  for _ in $(seq 1 30); do
    left=""
    for pid in "$@"; do running "$pid" && left="$left $pid"; done
    [ -z "$left" ] && return 0
    sleep 0.1
  done
  for pid in $left; do kill -KILL "$pid" 2>/dev/null; done
}

# The session bus starts the accessibility bus launcher and registry on
# demand; they are our children's children and carry our XDG_RUNTIME_DIR in
# their environment, which is how we find them again (by id) should they
# outlive the session. So does the test driver itself.
session_pids() {
  local p
  for p in /proc/[0-9]*; do
    [ "${p#/proc/}" = "$$" ] && continue
    if grep -qzxF "XDG_RUNTIME_DIR=$work/runtime" "$p/environ" 2>/dev/null; then
      echo "${p#/proc/}"
    fi
  done
}

cleanup() {
  local rc=$?
  trap - EXIT INT TERM HUP
  local pids=""
  [ -f "$work/pids" ] && pids=$(cat "$work/pids")
  # The programs first (they write their files on a clean exit), then the
  # session with everything it started, then the display.
  stop_pids $pids
  stop_pids $session_pid $(session_pids)
  stop_pids $xvfb_pid
  [ -n "$xvfb_pid" ] && wait "$xvfb_pid" 2>/dev/null
  if [ -s "$work/xvfb.log" ] && [ "$rc" -ne 0 ]; then
    cp "$work/xvfb.log" "$artifacts/$name.xvfb.log" 2>/dev/null
  fi
  rm -rf "$work"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

mkdir -p "$work/home/.local/share" "$work/runtime"
chmod 0700 "$work/runtime"

# Xvfb picks a free display itself and writes its number to descriptor 3.
# It runs outside the bus session, and never resets: a reset when the last
# client leaves (the accessibility bus launcher connects briefly) would drop
# a program connecting at that moment.
: >"$work/display"
Xvfb -displayfd 3 -screen 0 "${TERN_GUI_SCREEN:-1280x1024x24}" -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
display=""
for _ in $(seq 1 100); do
  # The number is complete once its line end is there.
  if IFS= read -r display <"$work/display" && [[ "$display" =~ ^[0-9]+$ ]]; then break; fi
  display=""
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$display" ]; then
  echo "run_gui_test: Xvfb did not start" >&2
  cat "$work/xvfb.log" >&2
  exit 2
fi

export DISPLAY=":$display"
export HOME="$work/home"
export XDG_RUNTIME_DIR="$work/runtime"
export XDG_DATA_HOME="$HOME/.local/share"
export XDG_CONFIG_HOME="$HOME/.config"
export XDG_CACHE_HOME="$HOME/.cache"
export TERN_GUI_NAME="$name"
export TERN_GUI_WORK="$work"
export TERN_GUI_ARTIFACTS="$artifacts"
# A bus of our own: never the caller's.
unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS NO_AT_BRIDGE
export LANG=C.UTF-8 LC_ALL=C.UTF-8

echo "run_gui_test: $name on display $DISPLAY, scratch $work"
dbus-run-session -- "$@" &
session_pid=$!
wait "$session_pid"
rc=$?
session_pid=""
exit "$rc"
