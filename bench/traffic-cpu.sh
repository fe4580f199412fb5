#!/usr/bin/env bash
# CPU share of the real rtu-station on a virtual display at the default cycle, every slave
# answering: with the traffic window closed, then open (Ctrl+T), then with the commissioning
# window open beside it (Ctrl+K). The traffic rows of bench/cpu-mem.sh, alone and quicker.
#
#   bench/traffic-cpu.sh BUILD_DIR [SECONDS]
#
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 BUILD_DIR [SECONDS]" >&2; exit 2; }
build=$(cd "$1" && pwd)
seconds=${2:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
station=$build/app/rtu-station
sim=$build/tools/plant-sim/plant-sim
for tool in Xvfb xdotool xwininfo; do
    command -v "$tool" >/dev/null || { echo "traffic-cpu: needs $tool" >&2; exit 2; }
done
name=traffic-cpu
source "$root/scripts/session.sh"
start_xvfb

mkdir -p "$work/sim"
"$sim" --dir "$work/sim" >"$work/sim/sim.out" 2>&1 &
pids+=($!)
wait_until 20 grep -q '^ready' "$work/sim/sim.out" || { echo "traffic-cpu: plant-sim not ready" >&2; exit 1; }
state=$work/state
mkdir -p "$state"
RTU_STATION_PORTS="$work/sim/COM%1" RTU_STATION_STATE_DIR="$state" RTU_STATION_SERVER=127.0.0.1:9 \
    "$station" >"$work/station.log" 2>&1 &
station_pid=$!
pids+=("$station_pid")
window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$station_pid" --name '^Form1$' | head -n 1)
[ -n "$window" ] || { echo "traffic-cpu: no station window" >&2; exit 1; }
wait_until 30 test -s "$state/mwRARE.csv" || { echo "traffic-cpu: station not scanning" >&2; exit 1; }

shown() { xwininfo -root -tree | grep -q "\"$1\": (\"rtu-station\""; }
key() { # key KEYS TITLE: in the station's window (clicked first: no window manager)
    xdotool mousemove --window "$window" 700 520 click 1
    sleep 0.5
    xdotool key "$1"
    wait_until 20 shown "$2" || { echo "traffic-cpu: no $2 window" >&2; exit 1; }
}
echo "traffic-cpu: rtu-station on Xvfb :$display, ${seconds} s windows, CLK_TCK $clk_tck, load $(cut -d' ' -f1-3 /proc/loadavg)"
sleep 2
printf '  %-48s %8s %%\n' "traffic window closed" "$(cpu_share "$station_pid" "$seconds")"
key ctrl+t Traffic
sleep 2
printf '  %-48s %8s %%   goal <= 1 %%\n' "traffic window open" "$(cpu_share "$station_pid" "$seconds")"
key ctrl+k Commissioning
sleep 2
printf '  %-48s %8s %%\n' "traffic and commissioning windows open" "$(cpu_share "$station_pid" "$seconds")"
echo "  load afterwards $(cut -d' ' -f1-3 /proc/loadavg)"
