#!/bin/sh
# Starts the station of kestrune-update-station.service: kestrune-update --station --json on the
# ports of PORTS, with --image and --gone-after only when IMAGE and GONE_AFTER are set. systemd
# reads them from the station's environment file (named by the first argument, for the
# messages). The unit cannot do this itself: systemd passes a variable either split at blanks or
# whole, never both in one command, and never leaves an empty one out.
#
# Exit status 2, as for a usage error of kestrune-update, when the station is not configured:
# the unit does not restart it then.

# PORTS is split at blanks only: a name with * or ? is a name, not a pattern.
set -f
conf=${1:-the station\'s environment file}
settings="${XDG_CONFIG_HOME:-${HOME:-}/.config}/Kestrune_Update_Utility/Kestrune_Update_Utility.ini"
cr=$(printf '\r')

refuse() {
    echo "kestrune-update-station: $*" >&2
    exit 2
}

# com_mapped COMn: the settings file's [Ports] section gives COMn a device. Without that line
# kestrune-update would give the number to whichever adapter it lists first, and on a line
# that is a slot wired to the wrong lead.
com_mapped() {
    [ -f "$settings" ] && [ -r "$settings" ] || return 1
    section=
    while IFS= read -r line || [ -n "$line" ]; do
        line=${line%"$cr"}
        case $line in
        "["*"]") section=$line ;;
        *=*)
            key=${line%%=*}
            value=${line#*=}
            # Blanks around the key and the value do not count.
            key=$(printf '%s' "$key" | tr -d ' \t')
            value=$(printf '%s' "$value" | tr -d ' \t')
            [ "$section" = "[Ports]" ] && [ "$key" = "$1" ] && [ -n "$value" ] && return 0
            ;;
        esac
    done < "$settings"
    return 1
}

# shellcheck disable=SC2086 # split on purpose: PORTS is a list separated by blanks
set -- ${PORTS:-}
[ $# -gt 0 ] || refuse "no port to work on: set PORTS in $conf (device paths such as" \
    "/dev/serial/by-id/..., rfc2217://HOST:PORT or socket://HOST:PORT, separated by spaces)," \
    "then: systemctl restart kestrune-update-station"
for port; do
    case $port in
    [Cc][Oo][Mm][1-9])
        com="COM${port#???}"
        com_mapped "$com" || refuse "$port in PORTS has no device: give the device path instead, or a line" \
            "$com=DEVICE in the [Ports] section of $settings"
        ;;
    esac
done

# The option and its value in one argument, so a value that starts with a dash stays a value;
# "--" ends the options, so no port is taken for one.
if [ -n "${GONE_AFTER:-}" ]; then
    set -- "--gone-after=$GONE_AFTER" -- "$@"
else
    set -- -- "$@"
fi
if [ -n "${IMAGE:-}" ]; then
    set -- "--image=$IMAGE" "$@"
fi
here=$(dirname "$(readlink -f "$0")")
exec "$here/kestrune-update" --station --json "$@"
