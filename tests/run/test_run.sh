#!/usr/bin/env bash
# The README's run command, headless: the grid and the CSV change, "GGO" reaches the plant
# server, a screenshot is saved, and on exit or Ctrl-C nothing it started is left behind.
set -uo pipefail
root=$1
build=$2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*"; cat "$out"/*.log 2>/dev/null; exit 1; }

# A process of the run still holding a file of its work directory (Xvfb logs into it); other
# programs' displays on this machine are none of the run's business.
holders() { find /proc/[0-9]*/fd -lname "$1/*" 2>/dev/null | cut -d/ -f3 | sort -u; }

# A bounded run to its end.
timeout 120 env -u DISPLAY RUN_NO_BUILD=1 RUN_BUILD_DIR="$build" RUN_SECONDS=8 \
    RUN_SCREENSHOT="$out/shot.png" "$root/scripts/run.sh" >"$out/run.log" 2>&1 ||
    fail "run command exited with $?"
work=$(sed -n 's/^plant simulator: \(.*\)\/COM5,.*/\1/p' "$out/run.log")
[[ -n "$work" ]] || fail "no plant simulator line"
lines=$(grep -c '^csv: 1142, [0-9]*,' "$out/run.log")
((lines >= 2)) || fail "the CSV line did not change ($lines value lines)"
grep -q '^plant server received: .* 1142, [0-9]*,' "$out/run.log" || fail "GGO did not reach the server"
[[ -s "$out/shot.png" ]] || fail "no screenshot"
[[ ! -e "$work" ]] || fail "work directory $work left behind"
pgrep -f "$work" >/dev/null && fail "processes of $work left behind"
[[ -z "$(holders "$work")" ]] || fail "processes holding files of $work left behind"

# Ctrl-C in the middle of a long run (timeout delivers it after a few cycles).
timeout -s INT 8 env -u DISPLAY RUN_NO_BUILD=1 RUN_BUILD_DIR="$build" RUN_SECONDS=120 \
    RUN_SCREENSHOT="$out/shot2.png" "$root/scripts/run.sh" >"$out/int.log" 2>&1
status=$?
((status == 124)) || fail "the interrupted run ended with $status"
grep -q '^csv: ' "$out/int.log" || fail "the interrupted run never wrote the CSV"
[[ ! -e "$out/shot2.png" ]] || fail "the interrupted run went on to its end"
work=$(sed -n 's/^plant simulator: \(.*\)\/COM5,.*/\1/p' "$out/int.log")
[[ ! -e "$work" ]] || fail "work directory $work left behind after Ctrl-C"
pgrep -f "$work" >/dev/null && fail "processes of $work left behind after Ctrl-C"
[[ -z "$(holders "$work")" ]] || fail "processes holding files of $work left behind after Ctrl-C"
echo "run command: ok ($lines CSV lines)"
