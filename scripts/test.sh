#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless; then builds the unit tier with
# AddressSanitizer and UndefinedBehaviorSanitizer into build-asan/ (only what that tier runs) and
# runs it there. With ccache at hand, the sanitizer build goes through it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" --test
"$root/scripts/build.sh"
export QT_QPA_PLATFORM=offscreen
# Chromium refuses to start its sandbox as root; as any other user it keeps it.
if [[ $(id -u) -eq 0 ]]; then
    export QTWEBENGINE_DISABLE_SANDBOX=1
fi
cd "$root/build"
ctest --output-on-failure --timeout 600

# The unit tier under the sanitizers (presets "asan" and "asan-unit" in CMakePresets.json).
cd "$root"
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake --preset asan "${launcher[@]}" >/dev/null
cmake --build --preset asan-unit -j"$(nproc)"
ctest --preset asan-unit --timeout 600
