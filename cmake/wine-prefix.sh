#!/bin/sh
# Makes the Wine prefix of a build tree once, and starts its server:
#   wine-prefix.sh PREFIX
# The null display driver lets test programs create real windows without a
# screen. The server stays up for a minute after its last program has exited,
# so that the test programs that follow one another start quickly.
set -e
. "$(dirname "$0")/wine-env.sh"
mkdir -p "$(dirname "$WINEPREFIX")"
# Both Windows build trees may share a prefix: one makes it, the other waits.
exec 9>"$WINEPREFIX.lock"
flock 9
if [ ! -f "$WINEPREFIX/.velder-ready" ]; then
    echo "Making the Wine prefix $WINEPREFIX (takes a few minutes the first time)"
    rm -rf "$WINEPREFIX"
    "$WINELOADER" wineboot --init
    "$WINELOADER" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
    # The driver setting takes effect once the server has restarted.
    "$WINESERVER" -w
    touch "$WINEPREFIX/.velder-ready"
fi
# The server runs in the foreground: leave it running behind us, without the
# lock, or the next run would wait for the server to exit.
"$WINESERVER" -p60 </dev/null >/dev/null 2>&1 9>&- &
