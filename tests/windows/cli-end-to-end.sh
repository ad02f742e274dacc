#!/usr/bin/env bash
# End to end under Wine: the Linux simulator publishes a reader on a pty, the
# prefix maps a COM port to it, and fwupgrader-cli.exe flashes it through that
# port (the flash must equal the file); a boot-loader fault ends with its text
# and exit code; 'list' shows the port, under its friendly name once a device of
# the ports class is registered for it; a station profile refuses an unsigned
# image before the port and flashes it once signed. Prints wall and CPU figures.
set -euo pipefail
script=cli-end-to-end.sh
# shellcheck source=e2e-harness.sh
source "$(dirname "$0")/e2e-harness.sh"
harness_options "$@"
TIMEFORMAT='%R %U %S'
rm -rf "$work"
mkdir -p "$work"

cleanup() {
    stop_sim
    rm -f "$link"
    wine "$tool" remove-all </dev/null >/dev/null 2>&1 || true
}
trap cleanup EXIT

# CPU ticks (1/100 s) of this prefix's wine server, which serves every port call.
server_ticks() {
    local pid
    for pid in $(pgrep -x 'wineserver(64)?' || true); do
        if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
            awk '{ print $14 + $15 }' "/proc/$pid/stat"
            return
        fi
    done
    echo 0
}

# Runs the CLI under Wine as step $1; sets rc and prints wall and CPU.
run_cli() {
    local step=$1
    shift
    local before
    before=$(server_ticks)
    set +e
    { time wine "$cli" "$@" </dev/null >"$work/$step.out" 2>"$work/$step.err"; } 2>"$work/$step.time"
    rc=$?
    set -e
    local server=$(($(server_ticks) - before))
    read -r wall user sys <"$work/$step.time"
    awk -v s="$step" -v w="$wall" -v u="$user" -v k="$sys" -v sv="$server" -v rc="$rc" 'BEGIN {
        printf "%-8s exit %2d  wall %6.2f s  CPU: program %5.2f s, wine server %5.2f s (%.1f %% of wall)\n",
               s, rc, w, u + k, sv / 100, (w > 0 ? 100 * (u + k + sv / 100) / w : 0) }'
    tr -d '\r' <"$work/$step.out" >"$work/$step.txt"
}

wine "$tool" remove-all </dev/null >/dev/null 2>&1 || true

# 1. The serial layer on the live port: exclusive open, blocking wait, vanished device.
start_sim serial
if ! FWUP_WIN_TEST_PORT=$port wine "$tests" --gtest_filter='LivePortTest.*' </dev/null \
    >"$work/serial.out" 2>&1; then
    fail "serial tests on the live port"
fi
tr -d '\r' <"$work/serial.out" | grep -E '^(\[  (PASSED|FAILED) |silent wait|vanished|wait on)' || true
# A wait that blocks costs the few milliseconds of setting it up; one that polls
# is runnable for its whole wall time. A quarter of the wall leaves room for
# Wine's own bookkeeping and still catches a spinning wait.
read -r wait_wall wait_cpu < <(tr -d '\r' <"$work/serial.out" |
    sed -n 's/^silent wait: \([0-9.]*\) s wall, \([0-9.]*\) s CPU$/\1 \2/p')
if [ -z "${wait_wall:-}" ]; then
    fail "serial tests: no 'silent wait' figure"
elif ! awk -v w="$wait_wall" -v c="$wait_cpu" 'BEGIN { exit !(c < w / 4) }'; then
    fail "the silent wait used $wait_cpu s of CPU in $wait_wall s: it polls instead of blocking"
fi

# 2. A full image flashed through the COM port.
image=$work/FW.bin
head -c 176128 /dev/urandom >"$image"
start_sim update
run_cli update update --port "$port" --file "$(winpath "$image")"
[ "$rc" -eq 0 ] || fail "update ended with exit code $rc: $(tail -n 3 "$work/update.txt")"
grep -qx 'FW Update Successful!' "$work/update.txt" || fail "update: no success text"
check_flash update

# 3. A boot-loader fault: the reader vanishes during the download.
start_sim fault --start boot --unplug-at-block 300
run_cli fault update --port "$port" --file "$(winpath "$image")"
[ "$rc" -eq 14 ] || fail "fault: exit code $rc, expected 14"
grep -qx 'Communication Error' "$work/fault.txt" || fail "fault: no 'Communication Error'"

# 4. The listing: the serial port map, then the ports class's friendly name.
start_sim list
node="\\\\.\\$port"
tab=$'\t'
run_cli list list
# Name, device node, connector: the port map's entry names the connector.
grep -qxF "USB Serial Device ($port)${tab}$node${tab}\\Device\\Serial$((${port#COM} - 1))" "$work/list.txt" ||
    fail "list without a ports-class device: $(cat "$work/list.txt")"
if wine "$tool" add 1 "AT91 USB to Serial Converter ($port)" "$port" </dev/null; then
    run_cli listfn list
    grep -qxF "AT91 USB to Serial Converter ($port)${tab}$node${tab}FWUPTEST\\FWUP_READER\\1" \
        "$work/listfn.txt" ||
        fail "list with a ports-class device: $(cat "$work/listfn.txt")"
else
    fail "the ports-class device could not be registered"
fi

# 5. A station profile that requires a signature by a key made with minisign:
# the unsigned image is refused before the port (exit 12, its cause, and the
# reader's event log gains no line: no "~dboot", no restart); signed, it flashes.
if command -v minisign >/dev/null; then
    minisign -G -W -p "$work/k.pub" -s "$work/k.key" >/dev/null 2>&1
    printf 'trusted_keys = ["%s"]\nrequire_signature = true\n' "$(tail -n 1 "$work/k.pub")" \
        >"$work/station.toml"
    start_sim profile
    events=$(wc -l <"$work/sim-profile.err")
    run_cli profile update --port "$port" --file "$(winpath "$image")" \
        --profile "$(winpath "$work/station.toml")"
    [ "$rc" -eq 12 ] || fail "profile: exit code $rc, expected 12"
    tr -d '\r' <"$work/profile.err" | grep -qx 'cause: unsigned: FW.bin.minisig is missing and the station profile requires a signature by a trusted key' ||
        fail "profile: no cause: $(cat "$work/profile.err")"
    [ "$(wc -l <"$work/sim-profile.err")" -eq "$events" ] ||
        fail "profile: the reader saw a job for the refused image"
    minisign -S -s "$work/k.key" -m "$image" -t "version=2.1.0.0" >/dev/null 2>&1
    run_cli signed update --port "$port" --file "$(winpath "$image")" \
        --profile "$(winpath "$work/station.toml")"
    [ "$rc" -eq 0 ] || fail "signed: exit code $rc: $(cat "$work/signed.err")"
    check_flash profile 176128 signed
else
    fail "minisign is not installed (scripts/deps.sh installs it)"
fi

finish "all end-to-end checks passed"
