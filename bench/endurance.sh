#!/usr/bin/env bash
# Endurance of the real rtu-station on a virtual display, as it runs unattended: every window
# open (the traffic window, a trend chart of four registers, a page in the browser pane), a
# capture file, faults on both links, link 0's adapter pulled and put back at intervals, link 0's
# device missing for the first minute, and the capture file removed once.
#
#   bench/endurance.sh BUILD_DIR [SECONDS]        (default 7200: two hours)
#
# Variables: PULL_EVERY (600 s: link 0's adapter pulled at every multiple of it), PULL_FOR (30 s
# away each time), LATE_PORT (60 s: link 0's device appears then), REMOVE_CAPTURE_AT (a third of
# the run), REPORT_EVERY (60 s), FAULTS (plant-sim's fault options).
#
# Every REPORT_EVERY seconds one line: VmRSS, open descriptors, threads, CPU share of one core
# over the interval, age of mwRARE.csv, lines and size of the capture file, its link-event rows.
# At the end a summary, and the station is stopped with SIGTERM (status 0 expected). Fails
# (status 1) when the station dies, the snapshot goes stale (older than 10 s), no new capture
# file follows the removed one, or link 0 is not back after its device appears and after each
# pull. Needs Xvfb, xdotool, xwininfo and python3. Everything it starts it stops by process id.
set -euo pipefail

[ $# -ge 1 ] || { echo "usage: $0 BUILD_DIR [SECONDS]" >&2; exit 2; }
build=$(cd "$1" && pwd)
seconds=${2:-7200}
pull_every=${PULL_EVERY:-600}
pull_for=${PULL_FOR:-30}
late_port=${LATE_PORT:-60}
remove_capture_at=${REMOVE_CAPTURE_AT:-$((seconds / 3))}
report_every=${REPORT_EVERY:-60}
faults=${FAULTS:---silent 0.02 --late 0.01 --corrupt 0.02 --exception 0.02 --garbage 0.01}
root=$(cd "$(dirname "$0")/.." && pwd)
station=$build/app/rtu-station
sim=$build/tools/plant-sim/plant-sim
server=$root/tools/plant-server/plant-server.py
for f in "$station" "$sim" "$server"; do
    [ -e "$f" ] || { echo "endurance: missing $f (build first)" >&2; exit 2; }
done
for tool in Xvfb xdotool xwininfo python3; do
    command -v "$tool" >/dev/null || { echo "endurance: needs $tool" >&2; exit 2; }
done

name=endurance
source "$root/scripts/session.sh"
start_xvfb

python3 "$server" --port 0 --log "$work/uploads.log" >"$work/server.out" 2>&1 &
pids+=($!)
wait_until 20 grep -q '^listening' "$work/server.out" || { echo "endurance: no plant server" >&2; exit 1; }
server_port=$(awk '/^listening/ { print $2 }' "$work/server.out")

# The simulator takes its drop/restore commands on a pipe.
mkdir -p "$work/sim" "$work/ports"
mkfifo "$work/sim/control"
# shellcheck disable=SC2086 # FAULTS is a list of options
"$sim" --dir "$work/sim" --stdin-control --seed 7 $faults <"$work/sim/control" >"$work/sim/sim.out" &
pids+=($!)
exec {sim_fd}>"$work/sim/control"
wait_until 20 grep -q '^ready' "$work/sim/sim.out" || { echo "endurance: plant-sim not ready" >&2; exit 1; }
sim_answers() { [ "$(grep -c '^ok' "$work/sim/sim.out" || true)" -gt "$1" ]; }
sim_command() { # waits for the answer
    local before
    before=$(grep -c '^ok' "$work/sim/sim.out" || true)
    echo "$1" >&"$sim_fd"
    wait_until 10 sim_answers "$before" ||
        { echo "endurance: plant-sim did not take '$1': $(tail -n 1 "$work/sim/sim.out")" >&2; exit 1; }
}

# The station's port names: link 1's device is there from the start, link 0's comes late.
ln -s "$work/sim/COM10" "$work/ports/COM10"
capture=$work/capture.tsv
csv=$build/app/mwRARE.csv
rm -f "$csv"
RTU_STATION_PORTS="$work/ports/COM%1" RTU_STATION_SERVER="127.0.0.1:$server_port" \
    RTU_STATION_TRAFFIC="$capture" QTWEBENGINE_DISABLE_SANDBOX=1 \
    "$station" >"$work/station.log" 2>&1 &
station_pid=$!
pids+=("$station_pid")
window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$station_pid" --name '^Form1$' | head -n 1)
[ -n "$window" ] || { echo "endurance: no station window" >&2; exit 1; }
wait_until 30 test -s "$csv" || { echo "endurance: station not scanning" >&2; exit 1; }

# Every window open. The browser pane: "GGO" (Command5 at 248,384, 57x25).
xdotool mousemove --window "$window" $((248 + 28)) $((384 + 12)) click 1
# Link 1's slots 0 and 1 ticked (slaves 9 and 10; cheAID1 at 256,184 and 256,208, 17 px).
for y in 192 216; do
    xdotool mousemove --window "$window" 264 "$y" click 1
done
# A trend chart of slave 9's registers 1139..1142, on link 1, which is there from the start (the
# grid at 304,8: a 23 px column, then 46 px ones; slave 9 is column 7; rows of 20 px).
wait_until 20 grep -q $'\t1\tin\t9\t.*\tvalid\t' "$capture" || { echo "endurance: link 1 silent" >&2; exit 1; }
for row in 1 2 3 4; do
    xdotool mousemove --window "$window" 627 $((9 + 20 * row + 10)) click --repeat 2 --delay 80 1
    sleep 0.5
done
chart=$(timeout 10 xdotool search --sync --all --onlyvisible --pid "$station_pid" --name '^Trend$' | head -n 1 || true)
[ -n "$chart" ] || { echo "endurance: no trend window" >&2; exit 1; }
xdotool windowmove "$chart" 0 640 # below the station's window
# The traffic window: Ctrl+T once the station's window has the keyboard.
xdotool mousemove --window "$window" 700 520 click 1
sleep 0.5
xdotool key ctrl+t
wait_until 20 sh -c "xwininfo -root -tree | grep -q '\"Traffic\": (\"rtu-station\"'" ||
    { echo "endurance: no traffic window" >&2; exit 1; }

failures=()
fail() { failures+=("$1"); echo "  FAULT: $1"; }
link0_requests() { grep -c $'\t0\tout\t' "$capture" 2>/dev/null || true; }
link0_open() { # requests go out on link 0: its port is open
    local before
    before=$(link0_requests)
    sleep 3
    [ "$(link0_requests)" -gt "$before" ]
}

echo "endurance: rtu-station on Xvfb :$display, ${seconds} s, pull every ${pull_every} s for ${pull_for} s," \
    "link 0 late by ${late_port} s, capture removed at ${remove_capture_at} s, faults: $faults"
echo "  start: $(date -u +%FT%TZ), $(nproc) cores, $(uptime | sed 's/.*load/load/')"
printf '  %6s %8s %4s %7s %6s %8s %9s %8s %6s  %s\n' "t s" "RSS MB" "fds" "threads" "CPU %" \
    "csv age" "cap lines" "cap KB" "events" "what happened"
start=$SECONDS
last_ticks=$(cpu_ticks "$station_pid")
last_at=$(date +%s.%N)
notes=""
rss_list=()
fds_max=0
threads_max=0
age_max=0
capture_lines=
pulled_at=-1
for ((t = 1; t <= seconds; t++)); do
    # One tick a second, on the wall clock since the start.
    while [ $((SECONDS - start)) -lt "$t" ]; do sleep 0.2; done
    kill -0 "$station_pid" 2>/dev/null || { fail "station died at $t s"; break; }
    if [ "$t" -eq "$late_port" ]; then
        ln -s "$work/sim/COM5" "$work/ports/COM5"
        notes+="link 0 device appears; "
    fi
    if [ "$t" -eq "$((late_port + 15))" ] && ! link0_open; then
        fail "link 0 not open 15 s after its device appeared"
    fi
    if [ "$t" -ge "$pull_every" ] && [ $((t % pull_every)) -eq 0 ]; then
        sim_command "drop 0"
        pulled_at=$t
        notes+="link 0 pulled; "
    fi
    if [ "$pulled_at" -ge 0 ] && [ "$t" -eq $((pulled_at + pull_for)) ]; then
        sim_command "restore 0"
        notes+="link 0 back; "
    fi
    if [ "$pulled_at" -ge 0 ] && [ "$t" -eq $((pulled_at + pull_for + 15)) ] && ! link0_open; then
        fail "link 0 not reopened 15 s after the pull at $pulled_at s ended"
    fi
    if [ "$t" -eq "$remove_capture_at" ]; then
        capture_lines=$(wc -l <"$capture")
        rm -f "$capture"
        notes+="capture removed; "
    fi
    if [ -n "$capture_lines" ] && [ "$t" -eq $((remove_capture_at + 5)) ]; then
        # Five seconds of a new file hold fewer lines than the removed one did.
        if [ -e "$capture" ] && [ "$(wc -l <"$capture")" -lt "$capture_lines" ]; then
            notes+="new capture file; "
        else
            fail "no new capture file 5 s after the removal"
        fi
    fi
    age=$(($(date +%s) - $(stat -c %Y "$csv")))
    [ "$age" -gt "$age_max" ] && age_max=$age
    [ "$age" -gt 10 ] && fail "snapshot $age s old at $t s"
    if [ $((t % report_every)) -eq 0 ]; then
        ticks=$(cpu_ticks "$station_pid")
        now=$(date +%s.%N)
        cpu=$(awk -v d="$((ticks - last_ticks))" -v hz="$clk_tck" -v a="$last_at" -v b="$now" \
            'BEGIN { printf "%.2f", 100 * d / hz / (b - a) }')
        last_ticks=$ticks
        last_at=$now
        rss=$(rss_kb "$station_pid")
        rss_list+=("$rss")
        fds=$(find "/proc/$station_pid/fd" -mindepth 1 -maxdepth 1 | wc -l)
        threads=$(awk '/^Threads:/ { print $2 }' "/proc/$station_pid/status")
        [ "$fds" -gt "$fds_max" ] && fds_max=$fds
        [ "$threads" -gt "$threads_max" ] && threads_max=$threads
        lines=0 kb=0 events=0
        if [ -e "$capture" ]; then
            lines=$(wc -l <"$capture")
            kb=$(($(stat -c %s "$capture") / 1024))
            events=$(awk -F'\t' '$7 == "link"' "$capture" | wc -l)
        fi
        printf '  %6d %8s %4d %7d %6s %8d %9d %8d %6d  %s\n' "$t" "$(mb "$rss")" "$fds" "$threads" \
            "$cpu" "$age" "$lines" "$kb" "$events" "${notes%; }"
        notes=""
    fi
done

echo "  link events in the capture file now:"
[ -e "$capture" ] && awk -F'\t' '$7 == "link" { print "    " $1 "  link " $2 "  " $8 }' "$capture" | tail -n 12
stop_pid "$station_pid" &
stopper=$!
status=0
wait "$station_pid" || status=$?
wait "$stopper" || true
first=${rss_list[0]:-0}
last=${rss_list[-1]:-0}
half=${rss_list[$((${#rss_list[@]} / 2))]:-0}
echo "  summary: VmRSS first $(mb "$first") MB, half-way $(mb "$half") MB, last $(mb "$last") MB;" \
    "descriptors at most $fds_max; threads at most $threads_max; snapshot at most $age_max s old;" \
    "exit status on SIGTERM $status; end $(uptime | sed 's/.*load/load/')"
[ "$status" -eq 0 ] || fail "status $status on SIGTERM"
if [ ${#failures[@]} -gt 0 ]; then
    echo "endurance: ${#failures[@]} faults" >&2
    exit 1
fi
echo "endurance: no faults"
