#!/usr/bin/env bash
# The same commit builds the same package in any folder: the station is configured as this build
# is (without tools and tests) in two new folders of different names, built, packed, and the two
# packages compared byte for byte.
set -uo pipefail
src=$1
build=$2
name=rtu-package-test
# shellcheck source=scripts/session.sh
source "$(dirname "$0")/../../scripts/session.sh"

cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
args=(-DCMAKE_BUILD_TYPE="$(cached CMAKE_BUILD_TYPE)" -DCMAKE_CXX_FLAGS="$(cached CMAKE_CXX_FLAGS)"
    -DCMAKE_EXE_LINKER_FLAGS="$(cached CMAKE_EXE_LINKER_FLAGS)"
    -DCMAKE_MODULE_LINKER_FLAGS="$(cached CMAKE_MODULE_LINKER_FLAGS)"
    -DRTU_STATION_TOOLS=OFF -DRTU_STATION_TESTS=OFF)
launcher=$(cached CMAKE_CXX_COMPILER_LAUNCHER)
[[ -n "$launcher" ]] && args+=(-DCMAKE_CXX_COMPILER_LAUNCHER="$launcher" -DCMAKE_C_COMPILER_LAUNCHER="$launcher")
# A compiler cache may serve the first build; the second compiles everything again (and a cache
# would make the same objects the same by construction).
export CCACHE_BASEDIR=/
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$src" log -1 --format=%ct 2>/dev/null || echo 1700000000)}

debs=()
for dir in "$work/one" "$work/the-second-build"; do
    [[ $dir == */the-second-build ]] && export CCACHE_RECACHE=1
    { cmake -S "$src" -B "$dir" "${args[@]}" && cmake --build "$dir" -j2 &&
        (cd "$dir" && cpack -G DEB); } >"$dir.log" 2>&1 || { tail -30 "$dir.log"; fail "build in $dir"; }
    debs+=("$(echo "$dir"/rtu-station_*.deb)")
done
if ! cmp "${debs[@]}"; then
    command -v diffoscope >/dev/null && diffoscope "${debs[@]}" | head -60
    fail "two builds of one tree in two folders made two different packages"
fi
echo "package_reproducible: ok, $(sha256sum <"${debs[0]}" | cut -c1-16)"
