#!/usr/bin/env bash
# The Wine prefix of the Windows tests.
#   wine-prefix.sh up PREFIX COMn LINK [COMm LINK2 ...]
#                                        create the prefix once, map each COM port
#                                        to its link, start the prefix's server
#   wine-prefix.sh down PREFIX           stop the prefix's server
set -euo pipefail
action=$1
export WINEPREFIX=$2 WINEDEBUG=-all

case $action in
up)
    shift 2
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        # The prefix has to exist before anything goes below dosdevices, or it breaks.
        mkdir -p "$(dirname "$WINEPREFIX")"
        start=$(date +%s%N)
        wine wineboot --init </dev/null >"$WINEPREFIX.log" 2>&1
        wineserver -w
        echo "prefix created in $((($(date +%s%N) - start) / 1000000)) ms"
    fi
    # A server with stdio of its own, started before any program: a program whose
    # output goes to a pipe then ends at once instead of when a server it started
    # quits, and the server never takes the simulator's pty as its terminal.
    start_server() {
        wineserver -k </dev/null >/dev/null 2>&1 || true
        wineserver -w
        wineserver -p900 </dev/null >/dev/null 2>&1
    }
    start_server
    # Each port is mapped once to a link of ours; the end-to-end tests point the
    # link at each simulator run, and the running server follows it.
    mapped=0
    while [ $# -ge 2 ]; do
        port=$1
        link=$2
        shift 2
        if ! wine reg query 'HKLM\Software\Wine\Ports' /v "$port" </dev/null 2>/dev/null |
            tr -d '\r' | grep -qF -- "$link"; then
            wine reg add 'HKLM\Software\Wine\Ports' /v "$port" /d "$link" /f </dev/null >/dev/null 2>&1
            mapped=1
        fi
    done
    if ((mapped)); then
        start_server # Wine makes dosdevices/com<n> when it starts again
    fi
    wine wineboot </dev/null >/dev/null 2>&1
    ;;
down)
    wineserver -k </dev/null >/dev/null 2>&1 || true
    ;;
*)
    echo "usage: wine-prefix.sh up PREFIX COMn LINK [COMm LINK2 ...] | down PREFIX" >&2
    exit 2
    ;;
esac
