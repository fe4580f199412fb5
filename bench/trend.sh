#!/usr/bin/env bash
# What the trend recorder and chart cost the real rtu-station on a virtual display, scanning the
# plant simulator at the default settings (link 0, slave 2, 12 registers).
#
#   bench/trend.sh BUILD_DIR [SECONDS] [BASE_BUILD_DIR]
#
#   closed: CPU share over SECONDS with no chart open, VmRSS 5 s after scanning began, and the
#           Qt Charts / OpenGL libraries mapped at that point;
#   open:   rows 1..8 of slave 2's column double-clicked (xdotool), a chart of 8 series on the
#           1 min span; CPU share over SECONDS, VmRSS at the end;
#   base:   with BASE_BUILD_DIR (a build without the trend), its "closed" figures, run first.
#
# CPU share is (utime + stime) from /proc/PID/stat over the window, as a percentage of one core.
# Needs Xvfb and xdotool. Everything it starts it stops by process id.
set -euo pipefail

[ $# -ge 1 ] || { echo "usage: $0 BUILD_DIR [SECONDS] [BASE_BUILD_DIR]" >&2; exit 2; }
build=$(cd "$1" && pwd)
seconds=${2:-60}
base=${3:+$(cd "$3" && pwd)}
sim=$build/tools/plant-sim/plant-sim
for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null || { echo "trend: needs $tool" >&2; exit 2; }
done

root=$(cd "$(dirname "$0")/.." && pwd)
name=trend
source "$root/scripts/session.sh"
start_xvfb

"$sim" --dir "$work" >"$work/sim.out" 2>&1 &
pids+=($!)
wait_until 20 grep -q '^ready' "$work/sim.out" || { echo "trend: plant-sim not ready" >&2; exit 1; }

station_pid=
window=
start_station() { # start_station BUILD
    rm -f "$1/app/mwRARE.csv"
    RTU_STATION_PORTS="$work/COM%1" RTU_STATION_SERVER=127.0.0.1:9 QTWEBENGINE_DISABLE_SANDBOX=1 \
        "$1/app/rtu-station" >"$work/station.log" 2>&1 &
    station_pid=$!
    pids+=("$station_pid")
    window=$(timeout 30 xdotool search --sync --all --onlyvisible --pid "$station_pid" --name '^Form1$' | head -n 1)
    [ -n "$window" ] || { echo "trend: no station window" >&2; exit 1; }
    wait_until 30 test -s "$1/app/mwRARE.csv" || { echo "trend: station not scanning" >&2; exit 1; }
    sleep 5
}
mapped() { grep -Eo 'libQt6(Charts|OpenGL|OpenGLWidgets)\.so' "/proc/$1/maps" | sort -u | tr '\n' ' '; }

if [ -n "$base" ]; then
    start_station "$base"
    base_rss=$(rss_kb "$station_pid")
    base_cpu=$(cpu_share "$station_pid" "$seconds")
    stop_pid "$station_pid"
fi

start_station "$build"
rss_closed=$(rss_kb "$station_pid")
libs_closed=$(mapped "$station_pid")
cpu_closed=$(cpu_share "$station_pid" "$seconds")

# The grid sits at (304, 8) in the window: a 23 px column, then 46 px ones; rows of 20 px.
# Slave 2 is column 3; rows 1..8 hold registers 1139..1146.
for row in 1 2 3 4 5 6 7 8; do
    xdotool mousemove --window "$window" 443 $((9 + 20 * row + 10)) click --repeat 2 --delay 80 1
    sleep 0.5
    if [ "$row" -eq 1 ]; then
        chart=$(timeout 10 xdotool search --sync --all --onlyvisible --pid "$station_pid" --name '^Trend$' | head -n 1)
        xdotool windowmove "$chart" 0 430 # off the grid: there is no window manager
        xdotool mousemove --window "$chart" 80 20 click 1
        sleep 0.5
        xdotool key Home Return # span: 1 min
        sleep 0.5
    fi
done
libs_open=$(mapped "$station_pid")
cpu_open=$(cpu_share "$station_pid" "$seconds")
rss_open=$(rss_kb "$station_pid")
[ -n "${TREND_SHOT:-}" ] && import -window root "$TREND_SHOT"

echo "trend: rtu-station on Xvfb :$display, ${seconds} s windows, $(nproc) cores, $(uptime | sed 's/.*load/load/')"
printf '  %-40s %10s %10s\n' "" "% of core" "VmRSS MB"
[ -n "$base" ] && printf '  %-40s %10s %10s\n' "base build (no trend), scanning" "$base_cpu" "$(mb "$base_rss")"
printf '  %-40s %10s %10s\n' "scanning, no chart open" "$cpu_closed" "$(mb "$rss_closed")"
printf '  %-40s %10s %10s   goal <= 1.5 %%\n' "scanning, chart of 8 series open" "$cpu_open" "$(mb "$rss_open")"
echo "  libraries mapped, no chart: ${libs_closed:-none}"
echo "  libraries mapped, chart open: ${libs_open:-none}"
