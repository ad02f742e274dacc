#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer,
# libraries instrumented too) and runs them in one of two modes:
#
#   scripts/fuzz.sh            the gate (.ci/run): replays every committed input of
#                              fuzz/corpus/<t>/ and fuzz/regressions/<t>/ (each must
#                              pass), then explores a copy of the corpus with a fixed
#                              seed for a fixed number of runs. The same code gives the
#                              same runs, coverage and corpus, so the gate fails only for
#                              a change, never by chance. Exits non-zero on a failure.
#                              Values compared at run time (addresses, pty numbers,
#                              inodes) differ from run to run, so the gate does not
#                              mutate with them (-use_cmp=0); fuzz/dict/<t>.dict
#                              gives it the wire's tokens instead. Nor does it reread
#                              its corpus folder on a timer (-reload=0) or arm
#                              libFuzzer's hang timer (-timeout=0; its signal
#                              interrupts sleeps by chance): a hang is killed after
#                              20 minutes from outside instead. Nor does it run
#                              libFuzzer's memory watcher thread (-rss_limit_mb=0):
#                              its start-up allocations land inside the first inputs'
#                              runs by chance, and an input that seems to allocate
#                              more than it frees is run once more for the leak check,
#                              one run less for exploring. One allocation above the
#                              limit still stops the run with its input
#                              (-malloc_limit_mb); the peak RSS is checked at the end.
#   scripts/fuzz.sh --explore  time-bounded search with a random seed (FUZZ_SECONDS per
#                              target). Not part of the gate: what it finds is kept in
#                              <build>/fuzz-findings/<t>/ for committing to
#                              fuzz/regressions/<t>/ once fixed; exits 1 when it found any.
#
# The committed corpus never changes. Prints runs, coverage and time per target.
#   FUZZ_TARGETS  targets to run (default: all four)
#   FUZZ_SEED     the gate's seed (default 1)
#   FUZZ_RUNS     the gate's runs for every target (default: per target, below)
#   FUZZ_SECONDS  --explore: seconds per target (default 30)
#   BUILD_DIR     build directory (default build-fuzz)
set -euo pipefail
cd "$(dirname "$0")/.."

mode=gate
case "${1:-}" in
"") ;;
--explore) mode=explore ;;
*)
    echo "usage: scripts/fuzz.sh [--explore]" >&2
    exit 2
    ;;
esac
scripts/deps.sh

seconds=${FUZZ_SECONDS:-30}
seed=${FUZZ_SEED:-1}
build=${BUILD_DIR:-build-fuzz}
read -r -a targets <<<"${FUZZ_TARGETS:-packet reply portname firmware}"
# Longest input per target: protocol replies and trees stay small; every byte
# past these lengths only slows the search.
declare -A max_len=([packet]=4096 [reply]=4096 [portname]=2048 [firmware]=4096)
# Memory a target may use, in MiB (peak RSS; in the gate also per allocation).
rss_limit=3072
# The gate's runs per target: about 35 s each on an idle 2-core machine (the
# targets' speeds differ by a factor of ten), so the phase stays near 3 minutes.
declare -A gate_runs=([packet]=25000 [reply]=30000 [portname]=5000 [firmware]=700)
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
# Scratch (corpus copies, the targets' temporary trees) in memory when possible,
# under a fixed path: the targets' paths reach the comparisons libFuzzer learns
# from, so a random name would make two runs with one seed differ. One run at a
# time per user holds it.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then work=/dev/shm; else work=/tmp; fi
work="$work/fwup-fuzz-$(id -u)"
exec 9>"$work.lock"
if ! flock -n 9; then
    echo "== waiting for another fuzzing run of this user ($work)"
    flock 9
fi
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
failed=0
declare -A summary coverage

for t in "${targets[@]}"; do
    bin="$build/fuzz/${t}_fuzz"
    # Each target starts from the same empty temporary folder (TMPDIR also catches
    # what a crashing target cannot clean up).
    rm -rf "$work/tmp" "$work/$t"
    mkdir -p "$work/tmp" "$work/$t"
    export TMPDIR="$work/tmp"
    committed=(fuzz/corpus/"$t"/*)
    if compgen -G "fuzz/regressions/$t/*" >/dev/null; then committed+=(fuzz/regressions/"$t"/*); fi
    # Every committed input first: the seeds and each finding once its owner fixed it.
    if "$bin" "${committed[@]}" >"$work/$t-replay.log" 2>&1; then
        echo "== $t: ${#committed[@]} committed inputs pass"
    else
        echo "== $t: a committed input fails (fuzz/regressions/README.md):"
        grep -E "Running:|invariant broken|ERROR|SUMMARY" "$work/$t-replay.log" | tail -4 || true
        failed=1
    fi
    cp -r "fuzz/corpus/$t/." "$work/$t/"
    if [ "$mode" = gate ]; then
        runs_wanted=${FUZZ_RUNS:-${gate_runs[$t]:-20000}}
        echo "== $t: exploring, seed $seed, $runs_wanted runs"
        # -reload=0: rereading the corpus folder every second would run inputs at
        # moments that depend on the clock. -timeout=0: libFuzzer's hang timer is a
        # SIGALRM every few seconds, and the EINTR it leaves in a sleep or poll of the
        # code under test is a branch taken by chance. A hang is caught from outside.
        # -rss_limit_mb=0: no watcher thread, whose allocations at start-up would
        # count against an input by chance; the limit is checked after the run.
        limits=(-seed="$seed" -runs="$runs_wanted" -use_cmp=0 -use_memmem=0 -reload=0 -timeout=0
            -rss_limit_mb=0 -malloc_limit_mb="$rss_limit")
        outer=(timeout -k 10 1200)
        [ -f "fuzz/dict/$t.dict" ] && limits+=(-dict="fuzz/dict/$t.dict")
        prefix="$findings/$t-"
    else
        echo "== $t: exploring ${seconds}s, random seed"
        limits=(-max_total_time="$seconds" -timeout=20 -rss_limit_mb="$rss_limit")
        outer=()
        [ -f "fuzz/dict/$t.dict" ] && limits+=(-dict="fuzz/dict/$t.dict")
        mkdir -p "$findings/$t"
        prefix="$findings/$t/"
    fi
    start=$(date +%s.%N)
    if "${outer[@]}" "$bin" "$work/$t" "${limits[@]}" \
        -max_len="${max_len[$t]:-4096}" -print_final_stats=1 \
        -artifact_prefix="$prefix" >"$work/$t.log" 2>&1; then
        result=ok
        peak=$(sed -nE 's/^stat::peak_rss_mb: *([0-9]+)/\1/p' "$work/$t.log")
        if [ -z "$peak" ] || ((peak > rss_limit)); then
            echo "== $t: peak RSS ${peak:-unknown} MiB, limit $rss_limit MiB"
            result=FOUND
            failed=1
        fi
    else
        result=FOUND
        failed=1
        grep -E "invariant broken|ERROR|SUMMARY|Test unit written" "$work/$t.log" | head -5 || true
    fi
    secs=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.1f", e - s }')
    [ "$mode" = gate ] || grep -E "^INFO: Seed:" "$work/$t.log" | head -1 | sed 's/^/    /' || true
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
    coverage[$t]=$("$bin" "$work/$t" -runs=0 -timeout=0 -print_coverage=1 2>&1 |
        awk -v root="$PWD/" -v files="${under_test[$t]:-}" '
            BEGIN { n = split(files, list, " "); for (i = 1; i <= n; ++i) want[list[i]] = 1 }
            /^(UN)?COVERED_FUNC:/ {
                file = $NF; sub(/:[0-9]+$/, "", file); sub(root, "", file)
                sub(/^[^\/]+\/\.\.\//, "", file) # the build folder names sources as <build>/../<file>
                if (!(file in want)) next
                split($5, e, "/"); edges[file] += e[1]; total[file] += e[2]
                funcs[file]++; if ($1 == "COVERED_FUNC:") hit[file]++
            }
            END { for (i = 1; i <= n; ++i) { f = list[i]
                if (funcs[f]) printf "    %-30s functions %3d/%-3d edges %4d/%-4d\n",
                    f, hit[f], funcs[f], edges[f], total[f] } }')
    summary[$t]=$(printf '%-9s %-6s %8s %6s %6s %6s %8s %7s' "$t" "$result" "${runs:-?}" \
        "${cov:-?}" "${ft:-?}" "${corp:-?}" "${rate:-?}" "$secs")
done

echo
# runs, cov, ft and corpus repeat exactly in the gate; exec/s and seconds do not.
printf '%-9s %-6s %8s %6s %6s %6s %8s %7s\n' target result runs cov ft corpus exec/s seconds
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
    if [ "$mode" = gate ]; then
        echo "fuzzing failed; inputs in $findings (fuzz/regressions/README.md)" >&2
    else
        echo "exploration found inputs in $findings/<target>/: fix, then commit each to fuzz/regressions/<target>/" >&2
    fi
fi
exit "$failed"
