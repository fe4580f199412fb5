#!/usr/bin/env bash
# Long fuzz runs: each libFuzzer target of tests/fuzz for ten million executions (or the number
# given), with the exec counts printed. The targets are built with clang into BUILD_DIR/fuzz-long.
#
#   bench/fuzz.sh BUILD_DIR [EXECUTIONS]
set -uo pipefail
if [ $# -lt 1 ]; then
    echo "usage: $0 BUILD_DIR [EXECUTIONS]" >&2
    exit 2
fi
runs=${2:-10000000}
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1/fuzz-long"
# Time is no limit here: each target stops after its executions.
exec bash "$root/tests/fuzz/run-fuzz.sh" "$1/fuzz-long" 86400 -runs="$runs"
