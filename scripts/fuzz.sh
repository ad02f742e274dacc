#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer,
# libraries instrumented too) and fuzzes each for a bounded time on a copy of its
# committed seed corpus, so the committed corpus never changes. First replays the
# committed findings in fuzz/regressions/. Exits non-zero when a finding still
# reproduces or fuzzing finds a crash, hang or leak; crash inputs are kept in
# <build>/fuzz-findings/. Prints exec/s and coverage per target at the end.
#   FUZZ_SECONDS  seconds per target (default 30)
#   FUZZ_TARGETS  targets to run (default: all four)
#   BUILD_DIR     build directory (default build-fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

seconds=${FUZZ_SECONDS:-30}
build=${BUILD_DIR:-build-fuzz}
read -r -a targets <<<"${FUZZ_TARGETS:-packet reply portname firmware}"
# Longest input per target: protocol replies and trees stay small; every byte
# past these lengths only slows the search.
declare -A max_len=([packet]=4096 [reply]=4096 [portname]=2048 [firmware]=4096)
# The sources each target is about, for the coverage lines.
declare -A under_test=(
    [packet]="device/CBlockLoader.cpp device/Packets.cpp device/PortWait.cpp"
    [reply]="device/CommandProtocol.cpp device/CGadgetLib.cpp device/PortWait.cpp"
    [portname]="serial/PortDiscovery.cpp serial/UsbTtyScanLinux.cpp serial/CComPort.cpp serial/CPortNumberTable.cpp"
    [firmware]="device/FirmwareFile.cpp device/FilePlatformPosix.cpp")

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DFWUP_BUILD_FUZZ=ON -DFWUP_WERROR=ON -DFWUP_BUILD_UI=OFF \
    -DFWUP_BUILD_TESTS=OFF -DFWUP_BUILD_BENCH=OFF -DFWUP_SANITIZE="address;undefined" >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/%/_fuzz}"

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
findings="$PWD/$build/fuzz-findings"
mkdir -p "$findings"
# Scratch (corpus copies, the targets' temporary trees) in memory when possible;
# TMPDIR also catches what a crashing target cannot clean up.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then work=$(mktemp -d -p /dev/shm); else work=$(mktemp -d); fi
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tmp"
export TMPDIR="$work/tmp"
failed=0
declare -A summary coverage

for t in "${targets[@]}"; do
    bin="$build/fuzz/${t}_fuzz"
    # Known findings first: each must pass once its owner has fixed it.
    if compgen -G "fuzz/regressions/$t/*" >/dev/null; then
        if "$bin" fuzz/regressions/"$t"/* >"$work/$t-regressions.log" 2>&1; then
            echo "== $t: committed findings pass"
        else
            echo "== $t: a committed finding still reproduces (fuzz/regressions/README.md):"
            grep -E "invariant broken|ERROR|SUMMARY" "$work/$t-regressions.log" | head -3
            failed=1
        fi
    fi
    mkdir -p "$work/$t"
    cp -r "fuzz/corpus/$t/." "$work/$t/"
    echo "== $t: fuzzing ${seconds}s"
    if "$bin" "$work/$t" -max_total_time="$seconds" \
        -max_len="${max_len[$t]:-4096}" -timeout=20 -rss_limit_mb=3072 -print_final_stats=1 \
        -artifact_prefix="$findings/$t-" >"$work/$t.log" 2>&1; then
        result=ok
    else
        result=FOUND
        failed=1
        grep -E "invariant broken|ERROR|SUMMARY|Test unit written" "$work/$t.log" | head -5
    fi
    done_line=$(grep -E "^#[0-9]+[[:space:]]+(DONE|NEW|REDUCE|pulse)" "$work/$t.log" | tail -1 || true)
    cov=$(sed -nE 's/.* cov: ([0-9]+) .*/\1/p' <<<"$done_line")
    ft=$(sed -nE 's/.* ft: ([0-9]+) .*/\1/p' <<<"$done_line")
    corp=$(sed -nE 's/.* corp: ([0-9]+)\/.*/\1/p' <<<"$done_line")
    runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$work/$t.log")
    rate=$(sed -nE 's/^stat::average_exec_per_sec: *([0-9]+)/\1/p' "$work/$t.log")
    # A run that stopped at a finding prints no final stats: take its last status line.
    [ -n "$rate" ] || rate=$(sed -nE 's/.* exec\/s: ([0-9]+) .*/\1/p' <<<"$done_line")
    [ -n "$runs" ] || runs=$(sed -nE 's/^#([0-9]+).*/\1/p' <<<"$done_line")
    # Functions and edges reached by the grown corpus, per source under test (edges
    # include the sanitizers' never-taken failure branches, so 100 % is out of reach).
    coverage[$t]=$("$bin" "$work/$t" -runs=0 -print_coverage=1 2>&1 |
        awk -v root="$PWD/" -v files="${under_test[$t]:-}" '
            BEGIN { n = split(files, list, " "); for (i = 1; i <= n; ++i) want[list[i]] = 1 }
            /^(UN)?COVERED_FUNC:/ {
                file = $NF; sub(/:[0-9]+$/, "", file); sub(root, "", file)
                if (!(file in want)) next
                split($5, e, "/"); edges[file] += e[1]; total[file] += e[2]
                funcs[file]++; if ($1 == "COVERED_FUNC:") hit[file]++
            }
            END { for (i = 1; i <= n; ++i) { f = list[i]
                if (funcs[f]) printf "    %-30s functions %3d/%-3d edges %4d/%-4d\n",
                    f, hit[f], funcs[f], edges[f], total[f] } }')
    summary[$t]=$(printf '%-9s %-6s %8s %8s %6s %6s %6s' "$t" "$result" "${rate:-?}" \
        "${runs:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}")
done

echo
printf '%-9s %-6s %8s %8s %6s %6s %6s\n' target result exec/s runs cov ft corpus
for t in "${targets[@]}"; do
    echo "${summary[$t]}"
done
echo
echo "coverage of the code under test by the final corpus:"
for t in "${targets[@]}"; do
    echo "  $t"
    [ -n "${coverage[$t]}" ] && echo "${coverage[$t]}"
done
if ((failed)); then
    echo "fuzzing found problems; inputs in $findings" >&2
fi
exit "$failed"
