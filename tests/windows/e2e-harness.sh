# Shared by the Windows end-to-end scripts (sourced): their options, the
# simulator on a pty behind the prefix's COM port link, failures and the flash
# check. Each script sets $script to its name before sourcing this.

# --fwsim F --cli F --tests F --exe F --ports-tool F --port COMn --link L --work D --shot F
# [--port2 COMm --link2 L2] (a second reader's COM port and its link)
harness_options() {
    harness_args=("$@")
    while [ $# -gt 0 ]; do
        case $1 in
        --fwsim) fwsim=$2 ;;
        --cli) cli=$2 ;;
        --tests) tests=$2 ;;
        --exe) exe=$2 ;;
        --ports-tool) tool=$2 ;;
        --port) port=$2 ;;
        --link) link=$2 ;;
        --port2) port2=$2 ;;
        --link2) link2=$2 ;;
        --work) work=$2 ;;
        --shot) shot=$2 ;;
        *)
            echo "$script: unknown option $1" >&2
            exit 2
            ;;
        esac
        shift 2
    done
    : "${WINEPREFIX:?WINEPREFIX must name the prefix}"
    export WINEDEBUG=-all
}

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Ends the script: 1 when a check failed, else $1 as the last line.
finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed; output in $work"
        exit 1
    fi
    echo "$1"
}

winpath() {
    printf 'Z:%s' "${1//\//\\}"
}

sim_pid=""
link_pid=""
stop_sim() {
    local pid
    for pid in $link_pid $sim_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    sim_pid=""
    link_pid=""
}

# One ports tool for the whole run (`serve`), fed through a FIFO on fd 9:
# replaying a plug event then takes milliseconds, not a Wine start of about a
# second, which under load made a reader look unplugged for longer than its
# job waits for it. ports_cmd sends one command (its words joined by tabs);
# ports_wait N waits until the tool has answered N commands, at most 30 s.
ports_pid=""
ports_serve() {
    rm -f "$work/ports.fifo"
    mkfifo "$work/ports.fifo"
    wine "$tool" serve <"$work/ports.fifo" >"$work/ports.out" 2>&1 &
    ports_pid=$!
    exec 9>"$work/ports.fifo"
}
ports_cmd() {
    local IFS=$'\t'
    printf '%s\n' "$*" >&9
}
ports_wait() {
    for _ in $(seq 600); do
        [ "$(grep -c . "$work/ports.out" 2>/dev/null)" -ge "$1" ] && return 0
        sleep 0.05
    done
    fail "the ports tool answered $(grep -c . "$work/ports.out") of $1 commands"
}
ports_stop() {
    [ -n "$ports_pid" ] || return 0
    exec 9>&- # end of its input: the tool ends
    for _ in $(seq 100); do
        kill -0 "$ports_pid" 2>/dev/null || break
        sleep 0.05
    done
    kill "$ports_pid" 2>/dev/null || true
    wait "$ports_pid" 2>/dev/null || true
    ports_pid=""
}

# Calls $2 with each new line of the simulator's event log $1, until killed.
follow_events() {
    local seen=0 lines i
    while :; do
        mapfile -t lines <"$1"
        for ((i = seen; i < ${#lines[@]}; i++)); do
            "$2" "${lines[i]}"
        done
        seen=${#lines[@]}
        sleep 0.02
    done
}

# The COM port's link follows the reader's node, as Windows keeps a COM number
# for a device that comes back under another tty name.
relink() {
    case $1 in
    *" at /"*) ln -sfn "${1##* at }" "$link" ;;
    esac
}

# Starts the simulator in the root $1 with the options from $3 on, its device
# lines in $1.out and its events in $1.err; sets sim_pid and waits until it has
# listed device $2. Ends the script when it does not start.
launch_sim() {
    local root=$1 count=$2
    shift 2
    mkdir -p "$root"
    "$fwsim" --root "$root" "$@" >"$root.out" 2>"$root.err" </dev/null &
    sim_pid=$!
    for _ in $(seq 100); do
        grep -q "^device $count:" "$root.out" 2>/dev/null && break
        sleep 0.05
    done
    grep -q "^device $count:" "$root.out" || {
        echo "fwsim did not start:"
        cat "$root.err"
        exit 1
    }
}

# The device node the simulator in the root $1 listed for its device $2.
sim_node() {
    sed -n "s/^device $2: \([^ ]*\) .*/\1/p" "$1.out"
}

# A fresh simulator run named $1 with the options that follow, its flash written
# to $work/flash-$1.bin; the COM port's link points at its device node and
# follows it.
start_sim() {
    stop_sim
    local root=$work/sim-$1
    local flash=$work/flash-$1.bin
    shift
    launch_sim "$root" 1 --flash-out "$flash" "$@"
    ln -sfn "$(sim_node "$root" 1)" "$link"
    follow_events "$root.err" relink &
    link_pid=$!
}

# $1: the simulator run whose flash must hold the first ${2:-176128} bytes of
# $image at 0x8000; $3: what the lines call it (the run's name).
check_flash() {
    local flash=$work/flash-$1.bin size=${2:-176128} name=${3:-$1}
    for _ in $(seq 40); do [ -s "$flash" ] && break; sleep 0.05; done
    if [ -s "$flash" ] && cmp -s -n "$size" <(tail -c +$((0x8000 + 1)) "$flash") "$image"; then
        echo "$name: flash at 0x8000 equals the file"
    else
        fail "$name: flash differs from the file"
    fi
}

# Waits (3 minutes at most) until the window $exe_pid has written its report $1
# or ended; calls $2, when given, on every round (the script's part meanwhile).
wait_report() {
    local each=${2:-}
    for _ in $(seq 1800); do
        if [ -n "$each" ]; then
            "$each"
        fi
        [ -f "$1" ] && break
        kill -0 "$exe_pid" 2>/dev/null || break
        sleep 0.1
    done
}

# The window run $1 (its output in $work/$1.out, started at $start ns) has
# written its report $2 or ended: lets it end (REPORT.done), sets rc to its exit
# code and shows the report of its driver $3. Fails when there is no report, when
# the exit code is not 0, or without the screenshot $4.
end_window() {
    local name=$1 report=$2 driver=$3 picture=$4
    touch "$report.done"
    set +e
    wait "$exe_pid"
    rc=$?
    set -e
    exe_pid=""
    echo "--- $name: $driver's report"
    if [ -f "$report" ]; then
        tr -d '\r' <"$report"
    else
        fail "$name: the window wrote no report; its output: $(cat "$work/$name.out")"
    fi
    echo "$name: $((($(date +%s%N) - start) / 1000000)) ms from start to exit, exit code $rc"
    [ "$rc" -eq 0 ] || fail "$name: $driver ended with exit code $rc"
    [ -s "$picture" ] || fail "$name: no screenshot"
}

# Runs the calling script again inside a virtual X screen (xvfb-run), once;
# installs the X tools when they are missing (as root).
run_in_xvfb() {
    local need=()
    command -v xvfb-run >/dev/null || need+=(xvfb xauth)
    command -v import >/dev/null || need+=(imagemagick)
    if ((${#need[@]})); then
        if [ "$(id -u)" -ne 0 ]; then
            echo "$script: missing ${need[*]} (install them as root)" >&2
            exit 1
        fi
        DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${need[@]}" >/dev/null
    fi
    if [ -z "${FWUP_IN_XVFB:-}" ]; then
        FWUP_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 800x600x24" bash "$0" "${harness_args[@]}"
    fi
}

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

# No window manager runs in Xvfb: the program $1 (a file name) gets a virtual
# desktop of its own, where Wine draws its frame and caption itself.
own_desktop() {
    wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$1\\Explorer" /v Desktop /d fwup /f \
        </dev/null >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v fwup /d 800x600 /f </dev/null >/dev/null 2>&1
}
