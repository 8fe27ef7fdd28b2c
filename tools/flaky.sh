#!/usr/bin/env bash
# Finds tests that fail now and then: runs every non-GUI test N times and
# every GUI test G times, each run a process of its own as CTest runs it,
# while two busy loops load the machine's processors, and prints how often
# each test failed. Exits non-zero when any test failed at least once.
#
#   tools/flaky.sh [-n N] [-g G] [-R REGEX] [--no-load] [BUILD_DIR]
#     -n N        runs of each non-GUI test (default 100)
#     -g G        runs of each GUI test (default 3; 0 leaves them out)
#     -R REGEX    only the tests whose names match
#     --no-load   without the busy loops
#     BUILD_DIR   a configured and built tree (default build)
set -uo pipefail
cd "$(dirname "$0")/.."
runs=100 guiRuns=3 regex="" load=1 build=build
while [ $# -gt 0 ]; do
  case "$1" in
    -n) runs=$2; shift 2 ;;
    -g) guiRuns=$2; shift 2 ;;
    -R) regex=$2; shift 2 ;;
    --no-load) load=0; shift ;;
    -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
    -*) echo "flaky.sh: unknown option $1" >&2; exit 2 ;;
    *) build=$1; shift ;;
  esac
done
[ -f "$build/CTestTestfile.cmake" ] || { echo "flaky.sh: $build is not a built tree" >&2; exit 2; }

pids=()
stopLoad() { [ ${#pids[@]} -gt 0 ] && kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; }
trap stopLoad EXIT
if [ "$load" = 1 ]; then
  for _ in 1 2; do (while :; do :; done) & pids+=($!); done
fi

declare -A failed=()
# One pass of CTest over the selected tests; counts the ones that failed.
pass() {
  local log
  log=$(cd "$build" && ctest "$@" ${regex:+-R "$regex"} 2>&1)
  while read -r name; do
    failed[$name]=$(( ${failed[$name]:-0} + 1 ))
  done < <(printf '%s\n' "$log" | sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (.*)$/\1/p')
}
count() { (cd "$build" && ctest -N "$@" ${regex:+-R "$regex"} | sed -n 's/^Total Tests: //p'); }

echo "== $(count -LE gui) non-GUI tests, $runs runs each$([ "$load" = 1 ] && echo ', two busy loops beside')"
for ((i = 1; i <= runs; i++)); do
  pass -LE gui -j2
  [ $((i % 10)) -eq 0 ] && echo "   run $i: ${#failed[@]} tests failed so far"
done
if [ "$guiRuns" -gt 0 ]; then
  echo "== $(count -L gui) GUI tests, $guiRuns runs each"
  for ((i = 1; i <= guiRuns; i++)); do pass -L gui; done
fi

if [ ${#failed[@]} -eq 0 ]; then
  echo "== no test failed"
  exit 0
fi
echo "== failures (runs that failed, test)"
for name in "${!failed[@]}"; do printf '%6d  %s\n' "${failed[$name]}" "$name"; done | sort -rn
exit 1
