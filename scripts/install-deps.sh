#!/usr/bin/env bash
# Installs the Debian packages the station needs, and only those still missing.
#   install-deps.sh          build and run the station with its plant simulator
#   install-deps.sh --test      also what the tests need
#   install-deps.sh --package   also what making and checking the Debian package needs
set -euo pipefail

packages=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-serialport-dev qt6-webengine-dev qt6-charts-dev libgl-dev fonts-wine
    libmodbus-dev python3
    xvfb xauth x11-utils xdotool imagemagick
)
packaging=(dpkg-dev fakeroot file lintian appstream desktop-file-utils)
case "${1:-}" in
--test) packages+=(socat clang libclang-rt-14-dev clang-format "${packaging[@]}") ;;
--package) packages+=("${packaging[@]}") ;;
esac

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "installing: ${missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
