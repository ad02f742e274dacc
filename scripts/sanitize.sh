#!/usr/bin/env bash
# The whole test suite under AddressSanitizer with UndefinedBehaviorSanitizer,
# then under ThreadSanitizer. Usage: scripts/sanitize.sh [asan|tsan]...
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
kinds=("$@")
((${#kinds[@]})) || kinds=(asan tsan)
export QT_QPA_PLATFORM=offscreen
for kind in "${kinds[@]}"; do
    case "$kind" in
    asan) flags="address;undefined"; exclude="^$"
          export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
          export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp"
          export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ;;
    tsan) flags="thread"
          # The X client libraries are not instrumented: the screenshot run on a
          # real X server stays out of the ThreadSanitizer pass.
          exclude="ui_tests_xvfb"
          export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/scripts/tsan.supp" ;;
    *) echo "unknown sanitizer '$kind' (asan or tsan)" >&2; exit 2 ;;
    esac
    echo "== $kind build"
    BUILD_DIR=build-$kind BUILD_TYPE=Debug scripts/build.sh \
        -DFWUP_SANITIZE="$flags" -DFWUP_BUILD_BENCH=OFF
    echo "== $kind tests"
    ctest --test-dir "build-$kind" --output-on-failure -j 4 --timeout 600 -E "$exclude"
done
