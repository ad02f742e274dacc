#!/usr/bin/env bash
# End to end under Wine: the Linux simulator publishes a reader on a pty, the
# prefix maps a COM port to it, and fwupgrader-cli.exe flashes it through that
# port (the flash must equal the file); a boot-loader fault ends with its text
# and exit code; 'list' shows the port, under its friendly name once a device of
# the ports class is registered for it. Prints wall and CPU figures.
set -euo pipefail

while [ $# -gt 0 ]; do
    case $1 in
    --fwsim) fwsim=$2 ;;
    --cli) cli=$2 ;;
    --tests) tests=$2 ;;
    --ports-tool) tool=$2 ;;
    --port) port=$2 ;;
    --link) link=$2 ;;
    --work) work=$2 ;;
    *)
        echo "cli-end-to-end.sh: unknown option $1" >&2
        exit 2
        ;;
    esac
    shift 2
done
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"
export WINEDEBUG=-all
TIMEFORMAT='%R %U %S'
rm -rf "$work"
mkdir -p "$work"

sim_pid=""
stop_sim() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=""
    fi
}
cleanup() {
    stop_sim
    rm -f "$link"
    wine "$tool" remove-all </dev/null >/dev/null 2>&1 || true
}
trap cleanup EXIT

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# A fresh simulator run named $1 with the options that follow; the COM port's
# link points at its device node, which the simulator moves to each new pty.
start_sim() {
    stop_sim
    local root=$work/sim-$1
    shift
    mkdir -p "$root"
    "$fwsim" --root "$root" "$@" >"$root.out" 2>"$root.err" </dev/null &
    sim_pid=$!
    for _ in $(seq 100); do
        grep -q '^device 1:' "$root.out" && break
        sleep 0.05
    done
    grep -q '^device 1:' "$root.out" || {
        echo "fwsim did not start:"
        cat "$root.err"
        exit 1
    }
    ln -sfn "$root/dev/ttyACM0" "$link"
}

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

winpath() {
    printf 'Z:%s' "${1//\//\\}"
}

wine "$tool" remove-all </dev/null >/dev/null 2>&1 || true

# 1. The serial layer on the live port: exclusive open, blocking wait, vanished device.
start_sim serial
if ! FWUP_WIN_TEST_PORT=$port wine "$tests" --gtest_filter='LivePortTest.*' </dev/null \
    >"$work/serial.out" 2>&1; then
    fail "serial tests on the live port"
fi
tr -d '\r' <"$work/serial.out" | grep -E '^(\[  (PASSED|FAILED) |silent wait|vanished|wait on)' || true

# 2. A full image flashed through the COM port.
image=$work/FW.bin
head -c 176128 /dev/urandom >"$image"
start_sim update --flash-out "$work/flash.bin"
run_cli update update --port "$port" --file "$(winpath "$image")"
[ "$rc" -eq 0 ] || fail "update ended with exit code $rc: $(tail -n 3 "$work/update.txt")"
grep -qx 'FW Update Successful!' "$work/update.txt" || fail "update: no success text"
for _ in $(seq 40); do [ -s "$work/flash.bin" ] && break; sleep 0.05; done
if [ -s "$work/flash.bin" ] &&
    cmp -s -n 176128 <(tail -c +$((0x8000 + 1)) "$work/flash.bin") "$image"; then
    echo "flash at 0x8000 equals the file"
else
    fail "flash differs from the file"
fi

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
grep -qxF "USB Serial Device ($port)${tab}$node" "$work/list.txt" ||
    fail "list without a ports-class device: $(cat "$work/list.txt")"
if wine "$tool" add 1 "AT91 USB to Serial Converter ($port)" "$port" </dev/null; then
    run_cli listfn list
    grep -qxF "AT91 USB to Serial Converter ($port)${tab}$node" "$work/listfn.txt" ||
        fail "list with a ports-class device: $(cat "$work/listfn.txt")"
else
    fail "the ports-class device could not be registered"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed; output in $work"
    exit 1
fi
echo "all end-to-end checks passed"
