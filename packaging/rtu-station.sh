#!/bin/sh
# Starts the station with the settings of /etc/rtu-station/rtu-station.conf.
# Each NAME=value line of that file becomes an environment variable unless the environment
# already has NAME: what the caller sets wins over the file.
# Both places are found relative to this script, so an unpacked package runs as it is.
set -e
here=$(dirname "$(readlink -f "$0")")
root=$(cd "$here/../.." && pwd)
[ "$root" = / ] && root=
conf="$root/etc/rtu-station/rtu-station.conf"

if [ -r "$conf" ]; then
    while IFS= read -r line || [ -n "$line" ]; do
        line=${line#"${line%%[![:space:]]*}"}
        case $line in '' | '#'*) continue ;; esac
        name=${line%%=*}
        value=${line#*=}
        case $name in
            "$line" | '' | [0-9]* | *[!A-Za-z0-9_]*)
                echo "rtu-station: $conf: not a NAME=value line: $line" >&2
                continue
                ;;
        esac
        case $value in \"*\") value=${value#\"} value=${value%\"} ;; esac
        eval "[ -n \"\${$name+set}\" ]" && continue
        export "$name=$value"
    done <"$conf"
fi

# The snapshot file is group-writable, so that the next operator's station may replace it.
umask 002
exec "$root/opt/rtu-station/rtu-station" "$@"
