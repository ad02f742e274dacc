#!/usr/bin/env bash
# The native window under Wine in Xvfb: the Linux simulator publishes a reader
# on a pty mapped to a COM port, and fwupgraderVelmora.exe, driven by its test
# hook (--test-port, --test-file, --test-report), chooses the port, connects,
# takes the image by a drop and by the open-file dialog, and runs UPLOAD. The
# flash must equal the file, the unit record must say so, and a screenshot of
# the window at the end is kept.
set -euo pipefail

while [ $# -gt 0 ]; do
    case $1 in
    --fwsim) fwsim=$2 ;;
    --exe) exe=$2 ;;
    --port) port=$2 ;;
    --link) link=$2 ;;
    --work) work=$2 ;;
    --shot) shot=$2 ;;
    *)
        echo "window-end-to-end.sh: unknown option $1" >&2
        exit 2
        ;;
    esac
    shift 2
done
: "${WINEPREFIX:?WINEPREFIX must name the prefix}"
export WINEDEBUG=-all

# X tools: a virtual screen and a screenshot.
need=()
command -v xvfb-run >/dev/null || need+=(xvfb xauth)
command -v import >/dev/null || need+=(imagemagick)
if ((${#need[@]})); then
    if [ "$(id -u)" -ne 0 ]; then
        echo "window-end-to-end.sh: missing ${need[*]} (install them as root)" >&2
        exit 1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${need[@]}" >/dev/null
fi
if [ -z "${FWUP_IN_XVFB:-}" ]; then
    FWUP_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 800x600x24" bash "$0" \
        --fwsim "$fwsim" --exe "$exe" --port "$port" --link "$link" --work "$work" --shot "$shot"
fi

rm -rf "$work"
mkdir -p "$work"
sim_pid=""
exe_pid=""
# The prefix's server with stdio of its own; with $1 = x, its desktop on this
# X display, else (as the other tests found it) on none.
restart_server() {
    wineserver -k </dev/null >/dev/null 2>&1 || true
    wineserver -w
    if [ "$1" = x ]; then
        wineserver -p900 </dev/null >/dev/null 2>&1
        wine wineboot </dev/null >/dev/null 2>&1
    else
        env -u DISPLAY -u XAUTHORITY wineserver -p900 </dev/null >/dev/null 2>&1
        env -u DISPLAY -u XAUTHORITY wine wineboot </dev/null >/dev/null 2>&1
    fi
}
cleanup() {
    [ -n "$exe_pid" ] && kill "$exe_pid" 2>/dev/null || true
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -f "$link"
    restart_server none
}
trap cleanup EXIT

winpath() {
    printf 'Z:%s' "${1//\//\\}"
}

# The prefix's desktop process was started without a display: start it again on this one.
restart_server x
# No window manager runs in Xvfb: the window gets a virtual desktop of its own,
# where Wine draws its frame and caption itself.
exe_name=$(basename "$exe")
wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$exe_name\\Explorer" /v Desktop /d fwup /f \
    </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v fwup /d 800x600 /f </dev/null >/dev/null 2>&1

image=$work/FW.bin
head -c 176128 /dev/urandom >"$image"
"$fwsim" --root "$work/sim" --flash-out "$work/flash.bin" >"$work/sim.out" 2>"$work/sim.err" </dev/null &
sim_pid=$!
for _ in $(seq 100); do
    grep -q '^device 1:' "$work/sim.out" && break
    sleep 0.05
done
grep -q '^device 1:' "$work/sim.out" || {
    echo "fwsim did not start:"
    cat "$work/sim.err"
    exit 1
}
ln -sfn "$work/sim/dev/ttyACM0" "$link"

report=$work/report.txt
start=$(date +%s%N)
wine "$exe" --test-port "$port" --test-file "$(winpath "$image")" \
    --test-report "$(winpath "$report")" --record "$(winpath "$work/units.jsonl")" \
    </dev/null >"$work/exe.out" 2>&1 &
exe_pid=$!

# The hook writes its report when the run is over and keeps the window open
# until REPORT.done: the screenshot shows the window as the operator sees it then.
for _ in $(seq 1800); do
    [ -f "$report" ] && break
    kill -0 "$exe_pid" 2>/dev/null || break
    sleep 0.1
done
if [ -f "$report" ]; then
    import -window root "$shot" || echo "no screenshot"
fi
touch "$report.done"
set +e
wait "$exe_pid"
rc=$?
set -e
exe_pid=""
wall=$((($(date +%s%N) - start) / 1000000))

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
if [ -f "$report" ]; then
    tr -d '\r' <"$report"
else
    fail "the window wrote no report; its output:"
    cat "$work/exe.out"
fi
[ "$rc" -eq 0 ] || fail "the window's test hook ended with exit code $rc"
echo "window run: ${wall} ms from start to exit; screenshot $shot"
for _ in $(seq 40); do [ -s "$work/flash.bin" ] && break; sleep 0.05; done
if [ -s "$work/flash.bin" ] &&
    cmp -s -n 176128 <(tail -c +$((0x8000 + 1)) "$work/flash.bin") "$image"; then
    echo "flash at 0x8000 equals the file"
else
    fail "flash differs from the file"
fi
if grep -q "\"port\":\"[^\"]*($port)\".*\"file\":\"FW.bin\",\"size\":176128,.*\"exit_code\":0," \
    "$work/units.jsonl" 2>/dev/null; then
    echo "unit record: $(tr -d '\r' <"$work/units.jsonl")"
else
    fail "no unit record of the successful update: $(cat "$work/units.jsonl" 2>/dev/null)"
fi
[ -s "$shot" ] || fail "no screenshot"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed; output in $work"
    exit 1
fi
echo "the window's end-to-end run passed"
