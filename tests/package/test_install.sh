#!/usr/bin/env bash
# As root: installs the package made by the package test with apt and checks that nothing it
# installed is writable by anyone but root; takes the administrator's steps of the README (the
# settings file from its example, port links, autostart and the user unit enabled for everyone);
# starts the station the way the desktop entry does as two operators in turn (users in dialout)
# and checks that each writes /var/lib/rtu-station/mwRARE.csv and gets a capture file of their own;
# then purges the package, checks that nothing of all that is left, and removes the users.
set -uo pipefail
debs=$1
name=rtu-package-test
# shellcheck source=scripts/session.sh
source "$(dirname "$0")/../../scripts/session.sh"
skip() {
    echo "SKIP: $*"
    exit 77
}

[[ $(id -u) -eq 0 ]] || skip "installing a package needs root"
command -v apt-get >/dev/null || skip "no apt-get"
deb=$(echo "$debs"/rtu-station_*.deb)
[[ -f "$deb" ]] || fail "no package in $debs"
dpkg-query -W -f='${Status}' rtu-station 2>/dev/null | grep -q ' installed$' &&
    skip "rtu-station is installed on this machine already; left alone"
leftovers=(/opt/rtu-station /etc/rtu-station /var/lib/rtu-station /usr/bin/rtu-station
    /usr/libexec/rtu-station /etc/xdg/autostart/rtu-station.desktop
    /etc/systemd/user/graphical-session.target.wants/rtu-station.service)
for path in "${leftovers[@]}"; do
    [[ -e "$path" || -L "$path" ]] && skip "$path exists already; left alone"
done
wants=/etc/systemd/user/graphical-session.target.wants
[[ -d "$wants" ]] || leftovers+=("$wants")

# Only the package itself is installed: the machine's other packages stay as they are.
export DEBIAN_FRONTEND=noninteractive
apt-get install -s "$deb" >"$work/plan.log" 2>&1 || { cat "$work/plan.log"; fail "apt-get cannot install the package"; }
others=$(sed -n 's/^Inst \([^ ]*\) .*/\1/p' "$work/plan.log" | grep -vx rtu-station | tr '\n' ' ')
[[ -z "$others" ]] || skip "apt would also install ${others}which this test does not do to a machine"
# What version 1.0 leaves behind: its folder given to dialout by an override, a snapshot in it.
cleanups+=("dpkg-statoverride --remove /opt/rtu-station >/dev/null 2>&1; rm -rf /opt/rtu-station")
install -d -m 2775 -g dialout /opt/rtu-station
echo "1142,1.0" >/opt/rtu-station/mwRARE.csv
dpkg-statoverride --add root dialout 2775 /opt/rtu-station
cleanups+=("apt-get purge -y -q rtu-station >/dev/null 2>&1 || true")
apt-get install -y -q "$deb" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "apt-get install"; }

# Code is root's: no installed file or folder is writable by anyone else.
while read -r path; do
    [[ -L "$path" ]] && continue
    if [[ "$(stat -c '%U' "$path")" != root ]] || (($(stat -c '0%a' "$path") & 8#022)); then
        fail "$path is $(stat -c '%a %U %G' "$path")"
    fi
done < <(dpkg -L rtu-station)
[[ "$(stat -c '%a %U %G' /var/lib/rtu-station)" == "2775 root dialout" ]] ||
    fail "/var/lib/rtu-station is $(stat -c '%a %U %G' /var/lib/rtu-station), not 2775 root dialout"
dpkg-statoverride --list /var/lib/rtu-station >/dev/null || fail "no ownership override of the state folder"
[[ "$(readlink /opt/rtu-station/mwRARE.csv)" == /var/lib/rtu-station/mwRARE.csv ]] ||
    fail "no link /opt/rtu-station/mwRARE.csv to the state folder's file"
[[ "$(stat -c '%a %U %G' /opt/rtu-station)" == "755 root root" ]] || fail "/opt/rtu-station stays writable"
dpkg-statoverride --list /opt/rtu-station >/dev/null && fail "the old folder's override stays"
[[ "$(cat /var/lib/rtu-station/mwRARE.csv)" == "1142,1.0" ]] || fail "the old snapshot was not moved"
[[ "$(stat -c '%a %G' /var/lib/rtu-station/mwRARE.csv)" == "664 dialout" ]] ||
    fail "the moved snapshot is $(stat -c '%a %G' /var/lib/rtu-station/mwRARE.csv): operators may not replace it"
[[ "$(command -v rtu-station)" == /usr/bin/rtu-station ]] || fail "no launcher on the PATH"

# The administrator's steps of the README.
install -D -m 644 /usr/share/doc/rtu-station/rtu-station.conf.example /etc/rtu-station/rtu-station.conf
sed -i -e "s|^#RTU_STATION_PORTS=.*|RTU_STATION_PORTS=/etc/rtu-station/COM%1|" \
    -e "s|^#\(RTU_STATION_TRAFFIC=.*\)|\1|" /etc/rtu-station/rtu-station.conf
ln -sf "$work/none/COM5" /etc/rtu-station/COM5
ln -sf "$work/none/COM10" /etc/rtu-station/COM10
ln -s /usr/share/rtu-station/rtu-station-autostart.desktop /etc/xdg/autostart/rtu-station.desktop
if command -v systemctl >/dev/null; then
    systemctl --global enable rtu-station >"$work/enable.log" 2>&1 || { cat "$work/enable.log"; fail "systemctl --global enable"; }
fi

# Two operators: users whose only way into the folder is the dialout group. Each in turn starts
# the station with the desktop entry's command, and the second replaces the first one's file.
chmod 755 "$work"
command=$(sed -n 's/^Exec=//p' /usr/share/applications/rtu-station.desktop)
csv=/var/lib/rtu-station/mwRARE.csv
for user in rtu-pkg-a-$$ rtu-pkg-b-$$; do
    useradd --no-create-home --no-user-group --gid users --groups dialout \
        --shell /usr/sbin/nologin "$user" || fail "useradd $user"
    cleanups+=("userdel $user")
    mkdir "$work/$user" && chown "$user" "$work/$user"
    # shellcheck disable=SC2086 # the command is split into words as the desktop would
    setpriv --reuid="$user" --regid=users --init-groups \
        env -i PATH=/usr/bin:/bin HOME="$work/$user" QT_QPA_PLATFORM=offscreen \
        $command >"$work/$user.log" 2>&1 &
    station=$!
    pids+=("$station")
    owned() { [[ "$(stat -c '%U %G' "$csv" 2>/dev/null)" == "$user dialout" ]]; }
    wait_until 60 owned || { cat "$work/$user.log"; fail "$user's station did not write $csv"; }
    line_starts "$csv" '1142,' || fail "$csv holds no snapshot line"
    line_starts /opt/rtu-station/mwRARE.csv '1142,' || fail "the link beside the old program's place"
    # The example's capture file, one of each operator's own.
    tr '\0' '\n' <"/proc/$station/environ" | grep -qx "RTU_STATION_TRAFFIC=$work/$user/rtu-station-traffic.log" ||
        fail "$user's station was not given a capture file in $user's home"
    kill -TERM "$station"
    wait "$station"
    echo "installed station, started as $user by '$command', wrote: $(tr -d '\r' <"$csv")"
done

apt-get purge -y -q rtu-station >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "apt-get purge"; }
for path in "${leftovers[@]}"; do
    [[ ! -e "$path" && ! -L "$path" ]] || fail "$path left behind by purge"
done
dpkg-statoverride --list /var/lib/rtu-station >/dev/null && fail "ownership override left behind"
echo "package_install: ok"
