#!/usr/bin/env bash
# Installs what is missing, builds the station in Release into build-package/ (without the tools,
# tests and benchmarks, so without Qt Test either; with Debian's hardening flags from
# dpkg-buildflags) and makes its Debian package there. Prints the package's path, alone on standard output (the build talks on standard error);
# install it with `sudo apt install ./<path>`.
#   PACKAGE_BUILD_DIR=D   build there instead
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${PACKAGE_BUILD_DIR:-$root/build-package}"

"$root/scripts/install-deps.sh" --package >&2

# The same tree makes the same package: its dates are those of the last commit.
if [[ -z "${SOURCE_DATE_EPOCH:-}" ]]; then
    SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)
fi
export SOURCE_DATE_EPOCH
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)

if ! out=$(cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DRTU_STATION_TOOLS=OFF -DRTU_STATION_TESTS=OFF -DCMAKE_CXX_FLAGS="$cxxflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_MODULE_LINKER_FLAGS="$ldflags" 2>&1); then
    echo "$out" >&2
    exit 1
fi
cmake --build "$build" -j"$(nproc)" >&2
rm -f "$build"/rtu-station_*.deb
(cd "$build" && cpack -G DEB) >"$build/cpack.log" 2>&1 || { cat "$build/cpack.log" >&2; exit 1; }
package=$(sed -n 's/^CPack: - package: \(.*\.deb\) generated\.$/\1/p' "$build/cpack.log")
[[ -f "$package" ]] || { cat "$build/cpack.log" >&2; exit 1; }
echo "$package"
