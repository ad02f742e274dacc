#!/usr/bin/env bash
# The bench window under Wine in Xvfb: the test window program with --bench and
# its bench driver. The Linux simulator publishes two readers on ptys, each
# mapped to a COM port and listed as a reader's converter (a ports-class device
# per port, removed while its reader is off the bus, as plug and play would). The driver presses Start, checks that closing asks while a reader is
# in flight (answers No), waits until both rows have passed and presses Stop.
# Each reader's flash must equal the file; the record store must hold one record
# per reader, each with its slot label: with --cli a SQLite store that
# fwupgrader-cli.exe reads back under Wine ('records list', 'summary'), else
# JSON lines. A screenshot is kept (--shot).
set -euo pipefail
script=bench-end-to-end.sh
# shellcheck source=e2e-harness.sh
source "$(dirname "$0")/e2e-harness.sh"
harness_options "$@"
command -v wine >/dev/null || {
    echo "$script: skipped: Wine is not installed"
    exit 77
}
: "${port2:?--port2 names the second COM port}" "${link2:?--link2 names its link}"
run_in_xvfb

rm -rf "$work"
mkdir -p "$work"
exe_pid=""
cleanup() {
    [ -n "$exe_pid" ] && kill "$exe_pid" 2>/dev/null || true
    stop_sim
    ports_stop
    rm -f "$link" "$link2"
    wine "$tool" remove-all </dev/null >/dev/null 2>&1 || true
    restart_server none
}
trap cleanup EXIT

# The prefix's desktop process was started without a display: start it again on this one.
restart_server x
own_desktop "$(basename "$exe")"
wine "$tool" remove-all </dev/null >/dev/null 2>&1 || true

image=$work/FW.bin
size=32768
head -c $size /dev/urandom >"$image"

# Two readers at once; each COM port's link follows its reader's node. A reader
# takes 1.5 s to restart after its download (300 ms by default), so that the
# plug events this script replays reach the prefix while it is away: a port
# that never vanishes makes the job wait its whole time for the restart.
# Paced at 115200 baud, a download lasts about 3 s on any machine, so the driver
# sees a bar under way; unpaced, a fast machine finished it between two ticks.
root=$work/sim
launch_sim "$root" 2 --devices 2 --paced --boot-restart-ms 1500 --flash-out "$work/flash.bin"
ln -sfn "$(sim_node "$root" 1)" "$link"
ln -sfn "$(sim_node "$root" 2)" "$link2"
# As plug and play would: a reader's COM port is listed as a reader's converter
# while it is on the bus, and its link follows its node.
ports=([1]=$port [2]=$port2)
links=([1]=$link [2]=$link2)
plug() {
    ports_cmd add "$1" "AT91 USB to Serial Converter (${ports[$1]})" "${ports[$1]}"
}
replug_each() {
    local k
    case $1 in
    *"device "[12]": "*) k=${1#*device } && k=${k%%:*} ;;
    *) return ;;
    esac
    case $1 in
    *"off the bus"*) ports_cmd remove "$k" ;;
    *" at /"*)
        ln -sfn "${1##* at }" "${links[$k]}"
        plug "$k"
        ;;
    esac
}
ports_serve
plug 1
plug 2
ports_wait 2
follow_events "$root.err" replug_each &
link_pid=$!

report=$work/report.txt
start=$(date +%s%N)
store=$work/units.jsonl
[ -n "${cli:-}" ] && store=$work/units.db
wine "$exe" --bench --file "$(winpath "$image")" --record "$(winpath "$store")" \
    --station "wine bench" --test-report "$(winpath "$report")" --test-readers 2 \
    </dev/null >"$work/bench.out" 2>&1 &
exe_pid=$!
wait_report "$report"
[ -f "$report" ] && { import -window root "$shot" || echo "no screenshot"; }
end_window bench "$report" "the bench driver" "$shot"

for k in 1 2; do
    check_flash "$k" "$size" "reader $k"
done

# One passing record per reader, each with its own slot label and the station.
records=$work/units.jsonl
if [ -n "${cli:-}" ]; then
    # The SQLite store as the CLI under Wine reads it: the same JSON lines.
    wine "$cli" records list --db "$(winpath "$store")" --format jsonl </dev/null 2>&1 |
        tr -d '\r' >"$records" || fail "records list of the bench's store: $(cat "$records")"
    wine "$cli" records summary --db "$(winpath "$store")" --json </dev/null 2>&1 |
        tr -d '\r' >"$work/summary.txt"
    grep -q '^{"units":2,"units_without_serial":0,"attempts":2,"passed":2,"failed":0,' "$work/summary.txt" ||
        fail "records summary of the bench's store: $(cat "$work/summary.txt")"
fi
ok=1
[ "$(wc -l <"$records" 2>/dev/null)" = 2 ] || ok=0
for slot in "Slot 1" "Slot 2"; do
    [ "$(grep -c "\"slot\":\"$slot\"" "$records" 2>/dev/null)" = 1 ] || ok=0
done
[ "$(grep -c "\"file\":\"FW.bin\",\"size\":$size,.*\"exit_code\":0," "$records" 2>/dev/null)" = 2 ] || ok=0
[ "$(grep -c '"station":"wine bench"' "$records" 2>/dev/null)" = 2 ] || ok=0
if ((ok)); then
    echo "unit records:"
    cat "$records"
else
    fail "not one passing record per reader with its slot: $(cat "$records" 2>/dev/null)"
fi

finish "the bench window's end-to-end run passed"
