#!/usr/bin/env bash
# As root: installs the package made by the package test with apt, starts the station the way the
# desktop entry does as an operator (a user in dialout) and checks that it writes
# /opt/rtu-station/mwRARE.csv; then purges the package and removes the user, leaving the machine
# as it was.
set -uo pipefail
debs=$1
# shellcheck source=tests/package/common.sh
source "$(dirname "$0")/common.sh"
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
[[ -e /opt/rtu-station || -e /etc/rtu-station ]] &&
    skip "/opt/rtu-station or /etc/rtu-station exists already; left alone"

# Only the package itself is installed: the machine's other packages stay as they are.
export DEBIAN_FRONTEND=noninteractive
apt-get install -s "$deb" >"$work/plan.log" 2>&1 || { cat "$work/plan.log"; fail "apt-get cannot install the package"; }
others=$(sed -n 's/^Inst \([^ ]*\) .*/\1/p' "$work/plan.log" | grep -vx rtu-station | tr '\n' ' ')
[[ -z "$others" ]] || skip "apt would also install ${others}which this test does not do to a machine"
cleanups+=("apt-get purge -y -q rtu-station >/dev/null 2>&1 || true")
apt-get install -y -q "$deb" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "apt-get install"; }

[[ "$(stat -c '%a %U %G' /opt/rtu-station)" == "2775 root dialout" ]] ||
    fail "/opt/rtu-station is $(stat -c '%a %U %G' /opt/rtu-station), not 2775 root dialout"
dpkg-statoverride --list /opt/rtu-station >/dev/null || fail "no ownership override of the folder"
[[ "$(command -v rtu-station)" == /usr/bin/rtu-station ]] || fail "no launcher on the PATH"

# Two operators: users whose only way into the folder is the dialout group. Each in turn starts
# the station with the desktop entry's command, and the second replaces the first one's file.
chmod 755 "$work"
command=$(sed -n 's/^Exec=//p' /usr/share/applications/rtu-station.desktop)
csv=/opt/rtu-station/mwRARE.csv
for user in rtu-pkg-a-$$ rtu-pkg-b-$$; do
    useradd --no-create-home --no-user-group --gid users --groups dialout \
        --shell /usr/sbin/nologin "$user" || fail "useradd $user"
    cleanups+=("userdel $user")
    mkdir "$work/$user" && chown "$user" "$work/$user"
    # shellcheck disable=SC2086 # the command is split into words as the desktop would
    setpriv --reuid="$user" --regid=users --init-groups \
        env -i PATH=/usr/bin:/bin HOME="$work/$user" QT_QPA_PLATFORM=offscreen \
        RTU_STATION_PORTS="$work/none/COM%1" $command >"$work/$user.log" 2>&1 &
    station=$!
    pids+=("$station")
    owned() { [[ "$(stat -c '%U %G' "$csv" 2>/dev/null)" == "$user dialout" ]]; }
    wait_for 60 owned || { cat "$work/$user.log"; fail "$user's station did not write $csv"; }
    line_starts "$csv" '1142,' || fail "$csv holds no snapshot line"
    kill -TERM "$station"
    wait "$station"
    echo "installed station, started as $user by '$command', wrote: $(tr -d '\r' <"$csv")"
done

apt-get purge -y -q rtu-station >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "apt-get purge"; }
for path in /opt/rtu-station /etc/rtu-station /usr/bin/rtu-station; do
    [[ ! -e "$path" ]] || fail "$path left behind by purge"
done
dpkg-statoverride --list /opt/rtu-station >/dev/null && fail "ownership override left behind"
echo "package_install: ok"
