#!/usr/bin/env bash
# CPU share and resident memory of the real rtu-station on a virtual display, scanning against
# the plant simulator, set beside a plain Qt window.
#
#   bench/cpu-mem.sh BUILD_DIR [SECONDS]
#
#   (a) default settings, slave 2 silent (plant-sim --slaves0 60,5,6): every cycle waits out one
#       reply time-out; CPU share over SECONDS (default 60) of scanning, VmRSS before the first
#       upload;
#   (b) default settings, link 0's serial peer gone (plant-sim "drop 0" once scanning): CPU share
#       over SECONDS;
#   (c) default settings, every slave answering: CPU share and the interval between requests to
#       slave 2 over SECONDS before the first upload; then "GGO" is clicked (xdotool) with the
#       stand-in plant server on 127.0.0.1, VmRSS is read once the upload has reached the server
#       and its page is shown, and CPU share and intervals are taken again over SECONDS; the
#       window's X id before and after the first page;
#   (d) as (c), but the plant server answers with a 200 MB page (bench/bigpage): the intervals
#       over SECONDS while the page loads;
#   (e) default settings, every slave answering, traffic window closed: CPU share over SECONDS;
#   (f) the same with the traffic window open (Ctrl+T): CPU share, VmRSS at its start and end;
#   (g) the same with the window open and a capture file (RTU_STATION_TRAFFIC): CPU share;
#   peer: VmRSS of bench-plainwindow, a bare Qt window, on the same display.
#
# CPU share is (utime + stime) from /proc/PID/stat over the window, as a percentage of one core.
# Request intervals come from plant-sim --record (the reply to slave 2's first register).
# Needs Xvfb, xdotool, xwininfo and python3. Everything it starts it stops by process id.
set -euo pipefail

if [ $# -lt 1 ]; then
    echo "usage: $0 BUILD_DIR [SECONDS]" >&2
    exit 2
fi
build=$(cd "$1" && pwd)
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
station=$build/app/rtu-station
sim=$build/tools/plant-sim/plant-sim
plain=$build/bench/bench-plainwindow
server=$root/tools/plant-server/plant-server.py
bigpage=$root/bench/bigpage/bigpage-server.py
for f in "$station" "$sim" "$plain" "$server" "$bigpage"; do
    [ -e "$f" ] || { echo "cpu-mem: missing $f (build first, with the benchmarks: see bench/README.md)" >&2; exit 2; }
done
for tool in Xvfb xdotool xwininfo python3; do
    command -v "$tool" >/dev/null || { echo "cpu-mem: needs $tool" >&2; exit 2; }
done

name=cpu-mem
source "$root/scripts/session.sh"
start_xvfb

# The stand-in plant server on loopback.
python3 "$server" --port 0 --log "$work/uploads.log" >"$work/server.out" 2>&1 &
pids+=($!)
wait_until 20 grep -q '^listening' "$work/server.out" || { echo "cpu-mem: no plant server" >&2; exit 1; }
server_port=$(awk '/^listening/ { print $2 }' "$work/server.out")
python3 "$bigpage" --port 0 --megabytes 200 >"$work/bigpage.out" 2>&1 &
pids+=($!)
wait_until 20 grep -q '^listening' "$work/bigpage.out" || { echo "cpu-mem: no big-page server" >&2; exit 1; }
bigpage_port=$(awk '/^listening/ { print $2 }' "$work/bigpage.out")

sim_pid=
sim_fd=
start_sim() { # start_sim NAME ARGS...: the simulator, taking commands on a pipe
    local name=$1
    shift
    mkdir -p "$work/$name"
    mkfifo "$work/$name/control"
    "$sim" --dir "$work/$name" --stdin-control "$@" <"$work/$name/control" >"$work/$name/sim.out" &
    sim_pid=$!
    pids+=("$sim_pid")
    exec {sim_fd}>"$work/$name/control"
    wait_until 20 grep -q '^ready' "$work/$name/sim.out" || { echo "cpu-mem: plant-sim not ready" >&2; exit 1; }
}
sim_answers() { [ "$(grep -c '^ok' "$work/$1/sim.out" || true)" -gt "$2" ]; }
sim_command() { # sim_command NAME COMMAND: waits for the answer
    local before
    before=$(grep -c '^ok' "$work/$1/sim.out" || true)
    echo "$2" >&"$sim_fd"
    wait_until 10 sim_answers "$1" "$before" ||
        { echo "cpu-mem: plant-sim did not take '$2': $(tail -n 1 "$work/$1/sim.out")" >&2; exit 1; }
}
stop_sim() {
    exec {sim_fd}>&-
    stop_pid "$sim_pid"
}

station_pid=
window=
# start_station NAME [PORT] [VAR=VALUE...]: the real program, its links in the simulator's folder,
# uploading to the server on PORT, with the variables given.
start_station() {
    local name=$1 port=$server_port
    shift
    if [[ $# -gt 0 && $1 =~ ^[0-9]+$ ]]; then
        port=$1
        shift
    fi
    rm -f "$build/app/mwRARE.csv"
    env "$@" RTU_STATION_PORTS="$work/$name/COM%1" RTU_STATION_SERVER="127.0.0.1:$port" \
        QTWEBENGINE_DISABLE_SANDBOX=1 "$station" >"$work/$name/station.log" 2>&1 &
    station_pid=$!
    pids+=("$station_pid")
    window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$station_pid" --name '^Form1$' | head -n 1)
    [ -n "$window" ] || { echo "cpu-mem: no station window" >&2; exit 1; }
    # Scanning has begun once the first cycle has written its snapshot.
    wait_until 30 test -s "$build/app/mwRARE.csv" || { echo "cpu-mem: station not scanning" >&2; exit 1; }
}

now_ms() { date +%s%3N; }
cadence() { # cadence RECORD FROM_MS TO_MS: median, p90 and max ms between replies to slave 2
    python3 - "$@" <<'PY'
import statistics, sys
record, lo, hi = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
times = []
for line in open(record):
    f = line.split()
    if len(f) >= 4 and f[1:4] == ["0", "2", "1139"] and lo <= int(f[0]) <= hi:
        times.append(int(f[0]))
gaps = sorted(b - a for a, b in zip(times, times[1:]))
if gaps:
    print(f"{statistics.median(gaps):.1f} {gaps[int(0.9 * (len(gaps) - 1))]} {gaps[-1]} {len(gaps)}")
else:
    print("- - - 0")
PY
}
click_ggo() { # Command5, 248,384 57x25 in the window
    xdotool mousemove --window "$window" $((248 + 28)) $((384 + 12)) click 1
}
window_id() { xdotool search --onlyvisible --pid "$station_pid" --name '^Form1$' | head -n 1; }

# (a) slave 2 silent.
start_sim silent --slaves0 60,5,6
start_station silent
rss_start=$(rss_kb "$station_pid")
cpu_a=$(cpu_share "$station_pid" "$seconds")
rss_before=$(rss_kb "$station_pid")
sim_command silent counts
counts_a=$(grep '^counts' "$work/silent/sim.out" | tail -n 1)
stop_pid "$station_pid"
stop_sim

# (b) link 0's peer gone.
start_sim dropped
start_station dropped
sim_command dropped "drop 0"
cpu_b=$(cpu_share "$station_pid" "$seconds")
rss_b=$(rss_kb "$station_pid")
stop_pid "$station_pid"
stop_sim

# (c) before and after the first upload.
start_sim upload --record "$work/upload/record"
start_station upload
t0=$(now_ms)
cpu_c0=$(cpu_share "$station_pid" "$seconds")
cadence_c0=$(cadence "$work/upload/record" "$t0" "$(now_ms)")
window_before=$(window_id)
click_ggo
if wait_until 60 test -s "$work/uploads.log"; then
    uploaded="yes"
else
    uploaded="NO (nothing reached the plant server in 60 s)"
fi
# The page is loaded and shown a moment after the server answered.
sleep 5
window_after=$(window_id)
rss_after=$(rss_kb "$station_pid")
# The web engine's own processes (renderer, GPU, zygote) hang below the station.
helpers_kb=0
descendants() {
    local child
    for child in $(ps -o pid= --ppid "$1"); do
        echo "$child"
        descendants "$child"
    done
}
for pid in $(descendants "$station_pid"); do
    helpers_kb=$((helpers_kb + $(rss_kb "$pid" 2>/dev/null || echo 0)))
done
webview_mapped=$(grep -c 'rtu-webview' "/proc/$station_pid/maps" || true)
t1=$(now_ms)
cpu_c1=$(cpu_share "$station_pid" "$seconds")
cadence_c1=$(cadence "$work/upload/record" "$t1" "$(now_ms)")
stop_pid "$station_pid"
stop_sim

# (d) a large page loading while the scan goes on.
start_sim bigpage --record "$work/bigpage/record"
start_station bigpage "$bigpage_port"
t0=$(now_ms)
sleep 10
cadence_d0=$(cadence "$work/bigpage/record" "$t0" "$(now_ms)")
click_ggo
t1=$(now_ms)
cpu_d=$(cpu_share "$station_pid" "$seconds")
cadence_d1=$(cadence "$work/bigpage/record" "$t1" "$(now_ms)")
stop_pid "$station_pid"
stop_sim

# (e), (f), (g): the traffic view, closed and open, at the default cycle with every slave answering.
traffic_shown() { xwininfo -root -tree | grep -q '"Traffic": ("rtu-station"'; }
open_traffic() { # Ctrl+T in the station's window; waits until the traffic window shows
    # Without a window manager the station's window takes the keyboard only once clicked: an
    # empty spot below the buttons.
    xdotool mousemove --window "$window" 700 520 click 1
    sleep 0.5
    xdotool key ctrl+t
    wait_until 20 traffic_shown || { echo "cpu-mem: no traffic window" >&2; exit 1; }
}
start_sim traffic
start_station traffic
cpu_e=$(cpu_share "$station_pid" "$seconds")
open_traffic
sleep 2
rss_f0=$(rss_kb "$station_pid")
cpu_f=$(cpu_share "$station_pid" "$seconds")
rss_f1=$(rss_kb "$station_pid")
stop_pid "$station_pid"
start_station traffic RTU_STATION_TRAFFIC="$work/traffic/capture.tsv"
open_traffic
cpu_g=$(cpu_share "$station_pid" "$seconds")
capture_lines=$(wc -l <"$work/traffic/capture.tsv")
stop_pid "$station_pid"
stop_sim

# The peer: a plain Qt window on the same display.
"$plain" >"$work/plain.log" 2>&1 &
plain_pid=$!
pids+=("$plain_pid")
timeout 30 xdotool search --sync --onlyvisible --pid "$plain_pid" --name '^plain window$' >/dev/null
sleep 2
rss_plain=$(rss_kb "$plain_pid")
stop_pid "$plain_pid"

verdict() { awk -v v="$1" -v g="$2" 'BEGIN { print (v <= g) ? "met" : "MISSED" }'; }
gaps() { # gaps "MEDIAN P90 MAX N"
    read -r median p90 max n <<<"$1"
    printf '%s ms (p90 %s, max %s, %s gaps)' "$median" "$p90" "$max" "$n"
}
echo "cpu-mem: rtu-station on Xvfb :$display, ${seconds} s windows, CLK_TCK $clk_tck, $(nproc) cores"
printf '  %-44s %10s   %s\n' "" "% of core" "goal"
printf '  %-44s %10s   <= 0.5 %% (%s)\n' "(a) scanning, slave 2 silent (time-out/cycle)" "$cpu_a" "$(verdict "$cpu_a" 0.5)"
printf '  %-44s %10s   <= 1 %% (%s)\n' "(b) scanning, link 0 peer gone" "$cpu_b" "$(verdict "$cpu_b" 1)"
printf '  %-44s %10s\n' "(c) scanning, before the first upload" "$cpu_c0"
printf '  %-44s %10s   <= +0.3 (%s)\n' "(c) scanning, after the first upload" "$cpu_c1" \
    "$(verdict "$(awk -v a="$cpu_c1" -v b="$cpu_c0" 'BEGIN { print a - b }')" 0.3)"
printf '  %-44s %10s\n' "(d) scanning while a 200 MB page loads" "$cpu_d"
echo "  interval between requests to slave 2, median:"
echo "    (c) before the first upload   $(gaps "$cadence_c0")"
echo "    (c) after the first upload    $(gaps "$cadence_c1")"
echo "    (d) before the upload         $(gaps "$cadence_d0")"
echo "    (d) while the big page loads  $(gaps "$cadence_d1")"
echo "  window X id before/after the first page: $window_before/$window_after ($([ "$window_before" = "$window_after" ] && echo kept || echo MADE ANEW))"
printf '  %-44s %10s   as without traffic (no listener)\n' "(e) default cycle, traffic window closed" "$cpu_e"
printf '  %-44s %10s   <= 1 %% (%s)\n' "(f) default cycle, traffic window open" "$cpu_f" "$(verdict "$cpu_f" 1)"
printf '  %-44s %10s   <= 1 %% (%s)\n' "(g) window open and capture file" "$cpu_g" "$(verdict "$cpu_g" 1)"
printf '  %-44s %10s   %s\n' "" "VmRSS MB" "goal"
printf '  %-44s %10s\n' "station, scanning, at start of (a)" "$(mb "$rss_start")"
printf '  %-44s %10s   <= 45 MB (%s)\n' "station, before the first upload (end of a)" "$(mb "$rss_before")" "$(verdict "$(mb "$rss_before")" 45)"
printf '  %-44s %10s\n' "station, after the first upload (c)" "$(mb "$rss_after")"
printf '  %-44s %10s\n' "  + its web engine processes" "$(mb "$helpers_kb")"
printf '  %-44s %10s\n' "station, end of (b)" "$(mb "$rss_b")"
printf '  %-44s %10s\n' "station, (f) traffic window open, start" "$(mb "$rss_f0")"
printf '  %-44s %10s\n' "station, (f) traffic window open, end" "$(mb "$rss_f1")"
printf '  %-44s %10s\n' "plain Qt window (peer)" "$(mb "$rss_plain")"
echo "  upload reached the plant server: $uploaded; web view module mapped: $([ "$webview_mapped" -gt 0 ] && echo yes || echo no)"
echo "  plant-sim after (a): $counts_a"
echo "  (g) capture file: $capture_lines lines"
