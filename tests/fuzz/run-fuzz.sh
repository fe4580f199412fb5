#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour sanitizers) straight
# from the frame and number sources, apart from the main build, and runs each one for SECONDS
# on a copy of its corpus, so the corpus in the repository stays as it is.
#
#   run-fuzz.sh BUILD_DIR SECONDS [extra libFuzzer arguments, e.g. -runs=10000000]
#
# Exit status: 0 when every target ran clean, 1 on a crash or a broken property (the input that
# did it is kept in BUILD_DIR/artifacts), 77 when there is no clang to build with, 2 on a usage
# error.
set -uo pipefail

if [ $# -lt 2 ]; then
    echo "usage: $0 BUILD_DIR SECONDS [libFuzzer arguments]" >&2
    exit 2
fi
build=$1
seconds=$2
shift 2

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
cxx=${FUZZ_CXX:-clang++}
if ! command -v "$cxx" >/dev/null 2>&1; then
    echo "fuzz: $cxx not found, nothing to do" >&2
    exit 77
fi
if ! qt_cflags=$(pkg-config --cflags Qt6Core) || ! qt_libs=$(pkg-config --libs Qt6Core); then
    echo "fuzz: pkg-config knows no Qt6Core" >&2
    exit 1
fi

mkdir -p "$build/artifacts"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sources=("$root/modbus/crc16.cpp" "$root/numbers/numbers.cpp" "$root/modbus/frame.cpp")
status=0
for target in reply numbers; do
    exe="$build/fuzz_$target"
    # Qt is built for position-independent code only: -fPIC, not -fPIE.
    # shellcheck disable=SC2086
    if ! "$cxx" -std=c++20 -g -O1 -Wall -Wextra -fPIC \
        -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
        $qt_cflags -I"$root/modbus" -I"$root/numbers" -I"$root/line" -I"$root/tests/support" "$here/fuzz_$target.cpp" "${sources[@]}" $qt_libs \
        -o "$exe"; then
        echo "fuzz_$target: build failed" >&2
        exit 1
    fi

    corpus="$work/$target"
    mkdir -p "$corpus"
    cp "$here/corpus/$target/"* "$corpus/"
    log="$build/fuzz_$target.log"
    ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=16:malloc_context_size=10 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$exe" -max_total_time="$seconds" -print_final_stats=1 \
        -error_exitcode=1 -artifact_prefix="$build/artifacts/$target-" "$@" "$corpus" >"$log" 2>&1
    rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n 1)
    if [ $rc -ne 0 ]; then
        echo "fuzz_$target: FAILED (status $rc) after ${runs:-?} executions; log $log" >&2
        grep -E 'property violated|ERROR:|runtime error|Test unit written|^(request|bytes|text|value)' \
            "$log" | head -n 20 >&2
        status=1
    else
        echo "fuzz_$target: ${runs:-?} executions in ${took:-?} s, no crash, no broken property"
    fi
done
exit $status
