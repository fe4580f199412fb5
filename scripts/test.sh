#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless.
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
