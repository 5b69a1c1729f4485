#!/bin/sh
# Prepares or stops the private Wine prefix of a build tree.
#   wine-prefix.sh start PREFIX win32|win64   make the prefix (once), start its server
#   wine-prefix.sh stop PREFIX win32|win64    stop its server
# The null display driver lets test programs create real windows without a screen.
set -e
action=$1
shift
. "$(dirname "$0")/wine-env.sh"
case "$action" in
start)
    if [ ! -f "$WINEPREFIX/.velder-ready" ]; then
        rm -rf "$WINEPREFIX"
        "$WINELOADER" wineboot --init
        "$WINELOADER" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
        # The driver setting takes effect once the server has restarted.
        "$WINESERVER" -w
        touch "$WINEPREFIX/.velder-ready"
    fi
    # Keep one server running so that each test program starts quickly.
    "$WINESERVER" -p </dev/null >/dev/null 2>&1
    ;;
stop)
    "$WINESERVER" -k || true
    ;;
*)
    echo "usage: wine-prefix.sh start|stop PREFIX win32|win64" >&2
    exit 2
    ;;
esac
