#!/usr/bin/env bash
# The Debian package made by cpack from this build: version and architecture, its files, its
# dependencies, lintian, that every file is root's alone and no binary names the build's folders;
# then, unpacked into a folder, the launcher's reading of the settings file and the station
# itself: its window appears and it writes mwRARE.csv into the state folder.
set -uo pipefail
src=$1
build=$2
debs=$3
sim=${4:-}
name=rtu-package-test
# shellcheck source=scripts/session.sh
source "$(dirname "$0")/../../scripts/session.sh"
skipped=()

rm -rf "$debs"
mkdir -p "$debs"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$debs" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack failed"; }
shopt -s nullglob
found=("$debs"/rtu-station_*.deb)
((${#found[@]} == 1)) || fail "expected one package in $debs, found ${#found[@]}"
deb=${found[0]}
echo "package: $deb"

version=$(sed -n 's/^project(rtu-station VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
[[ "$(dpkg-deb -f "$deb" Package)" == rtu-station ]] || fail "package name"
[[ "$(dpkg-deb -f "$deb" Version)" == "$version" ]] || fail "version is not the project's $version"
[[ "$(dpkg-deb -f "$deb" Architecture)" == "$(dpkg --print-architecture)" ]] || fail "architecture"

# Every file and link, with its mode: nothing more (no tests, tools or static libraries).
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print substr($1, 1, 10), $6 }' |
    sort -k2 >"$work/files"
sort -k2 >"$work/expected" <<'LIST'
-rwxr-xr-x /usr/libexec/rtu-station/rtu-station
-rw-r--r-- /usr/libexec/rtu-station/rtu-webview.so
-rwxr-xr-x /usr/bin/rtu-station
-rw-r--r-- /usr/share/applications/rtu-station.desktop
-rw-r--r-- /usr/share/rtu-station/rtu-station-autostart.desktop
-rw-r--r-- /usr/share/metainfo/local.plant.rtu_station.metainfo.xml
-rw-r--r-- /usr/lib/systemd/user/rtu-station.service
-rw-r--r-- /usr/share/icons/hicolor/48x48/apps/rtu-station.png
-rw-r--r-- /usr/share/icons/hicolor/256x256/apps/rtu-station.png
-rw-r--r-- /usr/share/icons/hicolor/scalable/apps/rtu-station.svg
-rw-r--r-- /usr/share/man/man1/rtu-station.1.gz
-rw-r--r-- /usr/share/doc/rtu-station/changelog.gz
-rw-r--r-- /usr/share/doc/rtu-station/copyright
-rw-r--r-- /usr/share/doc/rtu-station/README.md
-rw-r--r-- /usr/share/doc/rtu-station/rtu-station.conf.example
LIST
diff -u "$work/expected" "$work/files" || fail "file list"
# `cmake --install --prefix P` lays out the same tree under P as the package under /usr.
cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "cmake --install"; }
(cd "$work/prefix" && find . -type f -printf '/usr/%P\n') | sort >"$work/prefix.files"
awk '{ print $2 }' "$work/files" | sort | diff -u - "$work/prefix.files" || fail "cmake --install --prefix lays out another tree"
# Folders too: root's, and writable by root alone.
dpkg-deb -c "$deb" | awk '$2 != "root/root" || substr($1, 6, 1) != "-" || substr($1, 9, 1) != "-"' |
    grep . && fail "entries not root's alone"

# The binaries name none of the build's folders (8-bit and UTF-16 strings).
dpkg-deb -x "$deb" "$work/root"
for binary in "$work/root/usr/libexec/rtu-station/"*; do
    for encoding in s l; do
        strings -a -e "$encoding" "$binary" | grep -F -e "$build" -e "$src" &&
            fail "$binary names a build folder"
    done
done

# Libraries as the binaries need them, the web module's included; what is loaded by name, listed.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for package in libc6 libqt6core6 libqt6widgets6 libqt6serialport6 libqt6webenginewidgets6 \
    libqt6charts6 qt6-qpa-plugins fonts-wine; do
    grep -Eq "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends lacks $package"
done
# The settings file is the administrator's alone: the package ships an example, no conffile.
dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -qx ./conffiles && fail "the package has conffiles"

if command -v lintian >/dev/null; then
    lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1
    status=$?
    cat "$work/lintian.log"
    ((status == 0)) || fail "lintian reports errors or warnings"
else
    skipped+=("lintian is not installed")
fi

if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$work/root/usr/share/applications/rtu-station.desktop" \
        "$work/root/usr/share/rtu-station/rtu-station-autostart.desktop" || fail "desktop entries"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$work/root/usr/share/metainfo/"*.xml || fail "metainfo"
fi

# The launcher, run from a copy of the unpacked tree whose program prints what it was given.
fake=$work/fake
mkdir -p "$fake/usr/bin" "$fake/usr/libexec/rtu-station" "$fake/etc/rtu-station" "$fake/elsewhere"
cp "$work/root/usr/bin/rtu-station" "$fake/usr/bin/"
ln -s ../usr/bin/rtu-station "$fake/elsewhere/station"
# shellcheck disable=SC2016
printf '#!/bin/sh\necho "$RTU_STATION_PORTS|${RTU_STATION_SERVER-unset}|${RTU_STATION_SETTINGS_ERROR-}|$*"\n' \
    >"$fake/usr/libexec/rtu-station/rtu-station"
chmod +x "$fake/usr/libexec/rtu-station/rtu-station"
conf=$fake/etc/rtu-station/rtu-station.conf
# Each row: the settings file (printf format), how the launcher is started, what the program
# got: ports|server|problem handed over (grep -E)|arguments.
while IFS='|' read -r file how expected; do
    # shellcheck disable=SC2059
    printf "$file" >"$conf"
    got=$(eval "env -u RTU_STATION_PORTS -u RTU_STATION_SERVER $how" 2>/dev/null)
    grep -Eqx -- "$expected" <<<"$got" || fail "launcher, '$file', $how: got '$got', expected '$expected'"
done <<ROWS
# comment\n   RTU_STATION_PORTS=/file/COM%%1\nRTU_STATION_SERVER="file-server:81"\n|"$fake/usr/bin/rtu-station"|/file/COM%1\|file-server:81\|\|
RTU_STATION_PORTS=/file/COM%%1\nRTU_STATION_SERVER=s:81|RTU_STATION_SERVER=env:82 "$fake/usr/bin/rtu-station" -x|/file/COM%1\|env:82\|\|-x
RTU_STATION_PORTS=/file/COM%%1\nRTU_STATION_SERVER=s:81|RTU_STATION_SERVER= "$fake/usr/bin/rtu-station"|/file/COM%1\|\|\|
RTU_STATION_PORTS=/file/COM%%1\n|"$fake/elsewhere/station"|/file/COM%1\|unset\|\|
RTU_STATION_PORTS=/file/COM%%1\r\nRTU_STATION_SERVER='s 1'  \r\n|"$fake/usr/bin/rtu-station"|/file/COM%1\|s 1\|\|
RTU_STATION_SERVER="a 'b'"|"$fake/usr/bin/rtu-station"|\|a 'b'\|\|
RTU_STATION_SERVER=~/x|HOME=/h "$fake/usr/bin/rtu-station"|\|/h/x\|\|
RTU_STATION_SERVER=a~/x\$HOME|"$fake/usr/bin/rtu-station"|\|a~/x\\\$HOME\|\|
# ok\nnot a setting\n|"$fake/usr/bin/rtu-station"|.*\|.* line 2: not a NAME=value line: not a setting.*
RTU_STATION_SERVER=a b|"$fake/usr/bin/rtu-station"|.*\|.* line 1: a value with blanks or quotes is quoted whole.*
RTU_STATION_SERVER="a"b"|"$fake/usr/bin/rtu-station"|.*\|.* line 1: a '"' inside.*
RTU_STATION_SERVER='a|"$fake/usr/bin/rtu-station"|.*\|.* line 1: a value with blanks or quotes.*
export RTU_STATION_SERVER=a|"$fake/usr/bin/rtu-station"|.*\|.* line 1: not a NAME=value line.*
RTU_STATION_SERVER=a\nRTU_STATION_SERVER=b\n|"$fake/usr/bin/rtu-station"|.*\|.* line 2: RTU_STATION_SERVER is set a second time \(first on line 1\).*
ROWS
# On a terminal the launcher tells the bad line itself and stops with status 2.
printf 'x\n' >"$conf"
if command -v script >/dev/null; then
    script -qec "'$fake/usr/bin/rtu-station'" /dev/null >"$work/tty.log"
    status=$?
    if ((status != 2)) || ! grep -q "line 1: not a NAME=value line: x" "$work/tty.log"; then
        fail "on a terminal, status $status: $(cat "$work/tty.log")"
    fi
fi
rm "$conf"

# The unpacked station, its ports set in its settings file: at the plant simulator when there is
# one (then a value arrives), else at nothing (then only the address column is filled).
value='1142,'
ports="$work/none/COM%1"
if [[ -n "$sim" ]]; then
    mkdir "$work/plant"
    "$sim" --dir "$work/plant" >"$work/sim.out" 2>&1 &
    pids+=($!)
    wait_until 10 grep -q '^ready' "$work/sim.out" || fail "the plant simulator did not start"
    ports="$work/plant/COM%1"
    value='1142, [0-9]+,'
fi
# The package's postinst makes the state folder and the settings file is the administrator's.
mkdir -p "$work/root/var/lib/rtu-station" "$work/root/etc/rtu-station"
echo "RTU_STATION_PORTS=$ports" >"$work/root/etc/rtu-station/rtu-station.conf"

window=0
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
    exec {fd}<> <(:)
    Xvfb -displayfd "$fd" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    read -r -t 10 -u "$fd" number || fail "Xvfb did not start"
    display=(env -u RTU_STATION_PORTS -u QT_QPA_PLATFORM DISPLAY=":$number")
    window=1
else
    display=(env -u RTU_STATION_PORTS QT_QPA_PLATFORM=offscreen)
    skipped+=("no Xvfb and xdotool: the window was not looked for")
fi
csv="$work/root/var/lib/rtu-station/mwRARE.csv"
"${display[@]}" "$work/root/usr/bin/rtu-station" >"$work/station.log" 2>&1 &
station=$!
pids+=("$station")
if ((window)); then
    wait_until 60 "${display[@]}" xdotool search --name '^Form1$' >/dev/null ||
        { cat "$work/station.log"; fail "no station window"; }
fi
wait_until 60 line_starts "$csv" "$value" ||
    { cat "$work/station.log"; fail "no '$value' line in $csv: $(head -c 200 "$csv" 2>/dev/null)"; }
kill -0 "$station" 2>/dev/null || fail "the station stopped"
echo "unpacked station wrote: $(tr -d '\r' <"$csv")"

if ((${#skipped[@]})); then
    printf 'SKIP: %s\n' "${skipped[@]}"
    exit 77
fi
echo "package: ok"
