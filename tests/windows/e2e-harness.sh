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

# A fresh simulator run named $1 with the options that follow, its flash written
# to $work/flash-$1.bin; the COM port's link points at its device node and
# follows it.
start_sim() {
    stop_sim
    local root=$work/sim-$1
    local flash=$work/flash-$1.bin
    shift
    mkdir -p "$root"
    "$fwsim" --root "$root" --flash-out "$flash" "$@" >"$root.out" 2>"$root.err" </dev/null &
    sim_pid=$!
    for _ in $(seq 100); do
        grep -q '^device 1:' "$root.out" 2>/dev/null && break
        sleep 0.05
    done
    grep -q '^device 1:' "$root.out" || {
        echo "fwsim did not start:"
        cat "$root.err"
        exit 1
    }
    local node
    node=$(sed -n 's/^device 1: \([^ ]*\) .*/\1/p' "$root.out")
    ln -sfn "$node" "$link"
    follow_events "$root.err" relink &
    link_pid=$!
}

# $1: the simulator run whose flash must hold $image at 0x8000.
check_flash() {
    for _ in $(seq 40); do [ -s "$work/flash-$1.bin" ] && break; sleep 0.05; done
    if [ -s "$work/flash-$1.bin" ] &&
        cmp -s -n 176128 <(tail -c +$((0x8000 + 1)) "$work/flash-$1.bin") "$image"; then
        echo "$1: flash at 0x8000 equals the file"
    else
        fail "$1: flash differs from the file"
    fi
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
