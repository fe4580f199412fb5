# shellcheck shell=bash
# Shared by the shell scripts that start processes (scripts/run.sh, the package tests, the bench
# scripts): a work folder, the processes started and what else to undo, all of it undone on exit,
# bounded waits, and the bench's CPU and memory readings. Source it after setting `name` (the
# script's name, for messages and the work folder's name).
#
#   work            a new folder under /tmp, removed on exit
#   pids+=($!)      a process started: stopped on exit, newest first (TERM, then KILL after 5 s)
#   cleanups+=(CMD) a command run on exit, after the processes are stopped
#   stop_pid PID    stops one process of ours now, the same way
#   wait_until SECONDS COMMAND...   runs COMMAND until it succeeds, for at most SECONDS
#   wait_line FILE PREFIX           waits (10 s) for a line starting with PREFIX in FILE, prints it
#   fail MESSAGE    says "FAIL: MESSAGE" and exits with status 1

work=$(mktemp -d "/tmp/${name:-rtu-station}.XXXXXX")
pids=()
cleanups=()

stop_pid() {
    local pid=$1
    kill -TERM "$pid" 2>/dev/null || return 0
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}
cleanup() {
    trap - EXIT INT TERM
    local i step
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        stop_pid "${pids[i]}"
    done
    for step in "${cleanups[@]}"; do eval "$step"; done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    exit 1
}

wait_until() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.1
    done
}

wait_line() {
    local line
    for _ in $(seq 100); do
        if line=$(grep -m1 "^$2" "$1" 2>/dev/null); then
            echo "$line"
            return 0
        fi
        sleep 0.1
    done
    echo "no '$2' from $1" >&2
    return 1
}

# The first line of file $1 starts with the pattern $2 (grep -E).
line_starts() { [[ -f "$1" ]] && head -1 "$1" | grep -Eq "^$2"; }

# CPU and memory of a process, from /proc.
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
