# Shared by the bench scripts that run the real station on a virtual display: a work folder,
# the processes started (stopped again on exit, newest first), bounded waits, and CPU and memory
# readings from /proc. Source it after setting `name` (the script's name, for messages).

work=$(mktemp -d)
pids=()
stop_pid() { # stop one process of ours, by id, bounded
    local pid=$1
    kill -TERM "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
}
cleanup() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        stop_pid "${pids[$i]}"
    done
    rm -rf "$work"
}
trap cleanup EXIT

# Waits, bounded, until the command succeeds.
wait_until() {
    local limit=$1
    shift
    local deadline=$((SECONDS + limit))
    until "$@"; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.1
    done
}

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
cpu_ticks() { # utime + stime: fields 14 and 15, counted after the command name's ")"
    local stat
    stat=$(<"/proc/$1/stat")
    stat=${stat##*) }
    awk '{ print $12 + $13 }' <<<"$stat"
}
clk_tck=$(getconf CLK_TCK)
cpu_share() { # cpu_share PID SECONDS: percent of one core used over the window
    local t0 t1 s0 s1
    t0=$(cpu_ticks "$1")
    s0=$(date +%s.%N)
    sleep "$2"
    t1=$(cpu_ticks "$1")
    s1=$(date +%s.%N)
    awk -v d="$((t1 - t0))" -v hz="$clk_tck" -v a="$s0" -v b="$s1" \
        'BEGIN { printf "%.3f", 100 * d / hz / (b - a) }'
}
mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

# Xvfb on a display nobody uses; sets `display` and exports DISPLAY.
start_xvfb() {
    display=
    local n
    for n in $(seq 90 199); do
        if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
            display=$n
            break
        fi
    done
    [ -n "$display" ] || { echo "$name: no free display" >&2; exit 1; }
    Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    wait_until 20 test -S "/tmp/.X11-unix/X$display" || { echo "$name: Xvfb did not start" >&2; exit 1; }
    export DISPLAY=:$display
}
