#!/usr/bin/env bash
# Pictures of the bench window as an operator sees it, to be looked at before a
# change to the bench is called done. The Qt bench under Xvfb at 1366x768 and
# 1920x1080, with 6 and 16 simulated readers (one flaky, one failing until its
# slot asks for the fixture): the board and the table while waiting, during and
# after a run. With --wine, also the Win32 bench under Wine (its end-to-end
# test's two readers; needs scripts/build-windows.sh first).
#   scripts/bench-shots.sh [--wine] [OUT]      (OUT defaults to shots/bench)
set -euo pipefail
cd "$(dirname "$0")/.."
wine=0
if [ "${1:-}" = --wine ]; then
    wine=1
    shift
fi
out=$(realpath -m "${1:-shots/bench}")
mkdir -p "$out"
command -v xvfb-run >/dev/null || {
    echo "bench-shots: xvfb-run is missing (scripts/deps.sh installs it)" >&2
    exit 1
}
TARGETS=bench_shots scripts/build.sh >/dev/null
for size in 1366x768 1920x1080; do
    for readers in 6 16; do
        xvfb-run -a -s "-screen 0 ${size}x24" build/tests/ui/bench_shots \
            --readers "$readers" --size "$size" --out "$out"
    done
done
if [ "$wine" = 1 ]; then
    [ -d build-win ] || {
        echo "bench-shots: no build-win; run scripts/build-windows.sh first" >&2
        exit 1
    }
    ctest --test-dir build-win -R 'windows_bench_end_to_end' --output-on-failure >/dev/null
    cp build-win/fwupgraderVelmora-bench-wine.png "$out/bench-wine-2-readers.png"
    echo "bench-shots: $out/bench-wine-2-readers.png"
fi
