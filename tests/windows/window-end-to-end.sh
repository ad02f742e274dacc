#!/usr/bin/env bash
# The native window under Wine in Xvfb: the test window program (the shipped
# window's library with its driver, --test-port, --test-file, --test-report). The Linux simulator publishes a reader on a pty
# mapped to a COM port.
#   1. Manual, against a rude reader (late boot loader under another tty name
#      and product text, noise): the window chooses the port, connects, takes the
#      image by a drop and by the open-file dialog, and runs UPLOAD.
#   2. Auto mode (--test-auto), with a ports-class device registered under the
#      converter's name while the reader is on the bus (this script follows the
#      simulator's plug events, as Windows' plug and play would): the loop finds
#      the reader and updates it; at "Remove the device" this script unplugs it;
#      the window answers, searches, and auto mode is switched off.
# Each time the flash must equal the file and a unit record must say so;
# screenshots of the window are kept (--shot, and the same name with -auto).
set -euo pipefail
script=window-end-to-end.sh
# shellcheck source=e2e-harness.sh
source "$(dirname "$0")/e2e-harness.sh"
harness_options "$@"

run_in_xvfb

rm -rf "$work"
mkdir -p "$work"
exe_pid=""
follower_pid=""
stop_follower() {
    if [ -n "$follower_pid" ]; then
        kill "$follower_pid" 2>/dev/null || true
        wait "$follower_pid" 2>/dev/null || true
        follower_pid=""
    fi
}
cleanup() {
    [ -n "$exe_pid" ] && kill "$exe_pid" 2>/dev/null || true
    stop_follower
    stop_sim
    rm -f "$link"
    wine "$tool" remove-all </dev/null >/dev/null 2>&1 || true
    restart_server none
}
trap cleanup EXIT

# Wine lists a ports-class device for as long as it is registered: register the
# converter while the simulator's reader is on the bus ($1: the simulator's
# event log), as plug and play does on Windows, so the port goes and comes back
# with the reader.
register() {
    wine "$tool" add 1 "AT91 USB to Serial Converter ($port)" "$port" </dev/null >/dev/null 2>&1
}
replug() {
    case $1 in
    *"off the bus"*) wine "$tool" remove-all </dev/null >/dev/null 2>&1 ;;
    *" at "*) register ;;
    esac
}
follow_plugging() {
    register
    follow_events "$1" replug
}

# Runs the window as step $1 with the hook's further options; sets rc. The hook
# writes its report when it is done and keeps the window open until
# REPORT.done: the screenshot $2 shows the window as the operator sees it then.
run_window() {
    local step=$1 picture=$2
    shift 2
    local report=$work/$step-report.txt
    local start
    start=$(date +%s%N)
    # Wine traces the restart manager's registration, which it does not keep.
    WINEDEBUG=-all,fixme+process wine "$exe" --test-port "$port" --test-file "$(winpath "$image")" \
        --test-report "$(winpath "$report")" --record "$(winpath "$work/units.jsonl")" "$@" \
        </dev/null >"$work/$step.out" 2>&1 &
    exe_pid=$!
    wait_report "$report" unplug_when_asked
    if [ -f "$report" ] && [ ! -f "$report.unplug" ]; then
        import -window root "$picture" || echo "no screenshot"
    fi
    end_window "$step" "$report" "the hook" "$picture"
    # Registered for restart with its own command line: read back by the driver
    # where the platform keeps it, else seen in Wine's trace of the call.
    grep -q "ok:   registered for restart" "$report" 2>/dev/null ||
        grep -qF "RegisterApplicationRestart (L\"--test-port $port --test-file" "$work/$step.out" ||
        fail "$step: the window did not register for restart with its arguments"
}

# While run_window waits: at "Remove the device" the operator unplugs the reader.
unplug_when_asked() {
    if [ -f "$report.unplug" ] && [ ! -f "$report.unplugged" ]; then
        import -window root "$picture" || echo "no screenshot"
        stop_follower
        stop_sim
        wine "$tool" remove-all </dev/null >/dev/null 2>&1
        touch "$report.unplugged"
    fi
}

# The prefix's desktop process was started without a display: start it again on this one.
restart_server x
own_desktop "$(basename "$exe")"
wine "$tool" remove-all </dev/null >/dev/null 2>&1 || true

image=$work/FW.bin
head -c 176128 /dev/urandom >"$image"

# A rude reader: its boot loader comes back late (4 s of the host's 2 s pause
# plus 5 s), under another tty name and product text, with noise before its
# replies and its ready line. The COM port's link follows it, as Windows keeps
# the number of a device that returns under another name.
start_sim manual --app-restart-ms 4000 --boot-tty ttyUSB3 --boot-product "Velmora Boot Loader" \
    --garbage 24
run_window manual "$shot"
check_flash manual

start_sim auto --boot-restart-ms 1000
follow_plugging "$work/sim-auto.err" &
follower_pid=$!
run_window auto "${shot%.png}-auto.png" --test-auto
check_flash auto

# One record per finished unit: the manual run's, then auto mode's.
record_re="\"file\":\"FW.bin\",\"size\":176128,.*\"exit_code\":0,"
if [ "$(grep -c "\"port\":\"USB Serial Device ($port)\".*$record_re" "$work/units.jsonl")" = 1 ] &&
    [ "$(grep -c "\"port\":\"AT91 USB to Serial Converter ($port)\".*$record_re" "$work/units.jsonl")" = 1 ] &&
    [ "$(wc -l <"$work/units.jsonl")" = 2 ]; then
    echo "unit records:"
    cat "$work/units.jsonl"
else
    fail "not one record per successful update: $(cat "$work/units.jsonl" 2>/dev/null)"
fi

finish "the window's end-to-end runs passed"
