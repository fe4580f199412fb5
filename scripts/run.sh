#!/usr/bin/env bash
# Installs what is missing, builds, and runs the station against its built-in plant: the plant
# simulator on two pseudo-terminal links and the plant web server on loopback.
# With a display the window opens and the run lasts until it is closed; without one the station
# runs under Xvfb for RUN_SECONDS (20), prints the CSV line as it changes, presses "GGO" once,
# and saves a screenshot. Everything it started is stopped again on exit or Ctrl-C.
#
#   RUN_SECONDS=N      length of a run without a display
#   RUN_NO_BUILD=1     use the build that is there (tests); RUN_BUILD_DIR names it
#   RUN_SCREENSHOT=F   where the screenshot goes (default run/station.png)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${RUN_BUILD_DIR:-$root/build}"

if [[ "${RUN_NO_BUILD:-}" != 1 ]]; then
    "$root/scripts/install-deps.sh"
    "$root/scripts/build.sh"
fi

name=rtu-station-run
# shellcheck source=scripts/session.sh
source "$root/scripts/session.sh"
trap 'exit 130' INT
trap 'exit 143' TERM

"$build/tools/plant-sim/plant-sim" --dir "$work" >"$work/sim.out" &
pids+=($!)
wait_line "$work/sim.out" ready >/dev/null
python3 "$root/tools/plant-server/plant-server.py" --log "$work/server.log" >"$work/server.out" &
pids+=($!)
port=$(wait_line "$work/server.out" listening | cut -d' ' -f2)

export RTU_STATION_PORTS="$work/COM%1"
export RTU_STATION_SERVER="127.0.0.1:$port"
# Chromium refuses to start its sandbox as root; as any other user it keeps it.
[[ $(id -u) -eq 0 ]] && export QTWEBENGINE_DISABLE_SANDBOX=1
csv="$build/app/mwRARE.csv"
echo "plant simulator: $work/COM5, $work/COM10; plant server: http://$RTU_STATION_SERVER/"
echo "snapshot file: $csv"

if [[ -n "${DISPLAY:-}" ]] && xdpyinfo >/dev/null 2>&1; then
    "$build/app/rtu-station" &
    pids+=($!)
    wait "${pids[-1]}" || true
    exit 0
fi

# No display: a virtual one, for a bounded run.
exec {fd}<> <(:)
Xvfb -displayfd "$fd" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
read -r -t 10 -u "$fd" display || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$display"
unset QT_QPA_PLATFORM # the window goes on the virtual display, where the screenshot is taken
"$build/app/rtu-station" >"$work/station.log" 2>&1 &
station=$!
pids+=("$station")

seconds=${RUN_SECONDS:-20}
shot=${RUN_SCREENSHOT:-$root/run/station.png}
mkdir -p "$(dirname "$shot")"
last=""
pressed=0
for ((tick = 0; tick < seconds * 5; tick++)); do
    kill -0 "$station" 2>/dev/null || { echo "the station stopped" >&2; cat "$work/station.log" >&2; exit 1; }
    if [[ -f "$csv" ]]; then
        line=$(tr -d '\r' <"$csv")
        if [[ "$line" != "$last" ]]; then
            echo "csv: $line"
            last=$line
        fi
    fi
    # Halfway through, the operator presses "GGO" (at the button's place in the window).
    if ((pressed == 0 && tick >= seconds * 5 / 2)) && command -v xdotool >/dev/null; then
        window=$(xdotool search --name '^Form1$' | head -1 || true)
        if [[ -n "$window" ]]; then
            xdotool mousemove --window "$window" 276 396 click 1
            pressed=1
        fi
    fi
    sleep 0.2
done
import -window root "$shot"
echo "screenshot: $shot"
if [[ -s "$work/server.log" ]]; then
    echo "plant server received: $(tail -1 "$work/server.log")"
fi
