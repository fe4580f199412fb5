#!/usr/bin/env bash
# Fails, naming them, when C++ sources or headers of the repository are not laid out as
# .clang-format says. `clang-format -i FILE` lays a file out.
#   check-format.sh [CLANG_FORMAT]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
format=${1:-clang-format}
command -v "$format" >/dev/null || { echo "check-format: no $format" >&2; exit 2; }
cd "$root" || exit 2
# The tracked files when this is a git checkout, else every file (an exported tree).
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files -co --exclude-standard -- '*.cpp' '*.h')
else
    mapfile -t files < <(find . -path ./build\* -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
fi
# One run over all files; it names each file it would change in an error line.
out=$("$format" --dry-run -Werror "${files[@]}" 2>&1 >/dev/null)
status=$?
mapfile -t off < <(sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' <<<"$out" |
    sort -u)
if ((${#off[@]})); then
    printf 'not formatted (clang-format -i): %s\n' "${off[@]}"
    exit 1
fi
if ((status != 0)); then
    echo "$out"
    exit 1
fi
echo "format: ${#files[@]} files as .clang-format lays them out"
