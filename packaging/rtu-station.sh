#!/bin/sh
# Starts the station with the settings of ROOT/etc/rtu-station/rtu-station.conf, where ROOT is the
# install prefix, or / when the prefix is /usr (the package). All places are found relative to
# this script, so an unpacked package or a `cmake --install --prefix P` tree runs as it is.
#
# The file is read strictly; every line is one of
#   blank, or "# comment"
#   NAME=value       the value without blanks or quotes
#   NAME="value"     the value as written between the quotes, no '"' inside
#   NAME='value'     the value as written between the quotes, no "'" inside
# Blanks at the start and end of a line and a CR at its end (CRLF files) are ignored. A value
# starting with "~/" starts in the home folder of whoever starts the station; nothing else is
# expanded. A name may appear once. A line that is none of these stops the start with status 2,
# naming the line. A variable the environment already has wins over the file.
set -e
here=$(dirname "$(readlink -f "$0")")
prefix=$(cd "$here/@RTU_STATION_BIN_TO_PREFIX@" && pwd)
case $prefix in
    /usr) root= ;;
    */usr) root=${prefix%/usr} ;;
    *) root=$prefix ;;
esac
program="$prefix/@RTU_STATION_APP_DIR@/rtu-station"
conf="$root/etc/rtu-station/rtu-station.conf"
cr=$(printf '\r')
blanks=$(printf ' \t')

problems=
problem() {
    problems="${problems}${problems:+
}$conf line $number: $1"
}

if [ -r "$conf" ]; then
    number=0
    seen=' '
    while IFS= read -r line || [ -n "$line" ]; do
        number=$((number + 1))
        line=${line%"$cr"}
        line=${line#"${line%%[!"$blanks"]*}"}
        line=${line%"${line##*[!"$blanks"]}"}
        case $line in '' | '#'*) continue ;; esac
        name=${line%%=*}
        value=${line#*=}
        case $name in
            "$line" | '' | [0-9]* | *[!A-Za-z0-9_]*)
                problem "not a NAME=value line: $line"
                continue
                ;;
        esac
        case $seen in
            *" $name:"*)
                first=${seen#*" $name:"}
                problem "$name is set a second time (first on line ${first%% *})"
                continue
                ;;
        esac
        seen="$seen$name:$number "
        case $value in
            \"*\")
                value=${value#\"} value=${value%\"}
                case $value in *\"*) problem "a '\"' inside NAME=\"value\": $line" && continue ;; esac
                ;;
            \'*\')
                value=${value#\'} value=${value%\'}
                case $value in *\'*) problem "a \"'\" inside NAME='value': $line" && continue ;; esac
                ;;
            *[\"\'"$blanks"]*)
                problem "a value with blanks or quotes is quoted whole (NAME=\"value\" or NAME='value'): $line"
                continue
                ;;
        esac
        # shellcheck disable=SC2088 # a literal "~/" is what is looked for
        case $value in "~/"*) value="$HOME/${value#"~/"}" ;; esac
        eval "[ -n \"\${$name+set}\" ]" && continue
        export "$name=$value"
    done <"$conf"
fi

if [ -n "$problems" ]; then
    problems="$problems
Mend it (the forms are in $prefix/share/doc/rtu-station/rtu-station.conf.example) and start
the station again."
    printf 'rtu-station: %s\n' "$problems" >&2
    # Without a terminal nobody reads standard error: the program tells it in a window.
    [ -t 2 ] && exit 2
    RTU_STATION_SETTINGS_ERROR="$problems" exec "$program"
fi

# The snapshot file goes to the state folder when there is one (the package makes it), else
# beside the program.
if [ -z "${RTU_STATION_STATE_DIR+set}" ] && [ -d "$root/var/lib/rtu-station" ]; then
    export RTU_STATION_STATE_DIR="$root/var/lib/rtu-station"
fi

# The snapshot file is group-writable, so that the next operator's station may replace it.
umask 002
exec "$program" "$@"
