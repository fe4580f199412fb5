# shellcheck shell=bash
# Helpers of the package tests: a work folder, processes stopped on exit, bounded waits.
work=$(mktemp -d /tmp/rtu-package-test.XXXXXX)
pids=()
cleanups=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    for step in "${cleanups[@]}"; do eval "$step"; done
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}

# Waits (bounded, $1 seconds) until the command in the other arguments succeeds.
wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.2
    done
}

# The first line of file $1 starts with the pattern $2 (grep -E).
line_starts() { [[ -f "$1" ]] && head -1 "$1" | grep -Eq "^$2"; }
