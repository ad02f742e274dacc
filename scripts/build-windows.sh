#!/usr/bin/env bash
# Cross-builds the Windows programs into ${BUILD_DIR:-build-win} and writes
# dist/fwupgrader-<version>-win64.zip. Installs what is missing (as root).
#   --test   also runs the Windows tests under Wine (needs the Linux fwsim:
#            built with 'TARGETS=fwsim scripts/build.sh' unless FWSIM names one;
#            the window's test runs in Xvfb and keeps a screenshot in the build)
# Extra arguments go to cmake.
set -euo pipefail
cd "$(dirname "$0")/.."

run_tests=0
cmake_args=()
for arg in "$@"; do
    case $arg in
    --test) run_tests=1 ;;
    *) cmake_args+=("$arg") ;;
    esac
done

pkgs=(cmake ninja-build g++-mingw-w64-x86-64 googletest)
((run_tests)) && pkgs+=(wine xvfb xauth imagemagick)
scripts/install-missing.sh "${pkgs[@]}"

build=${BUILD_DIR:-build-win}
test_args=(-DFWUP_BUILD_TESTS=OFF)
if ((run_tests)); then
    fwsim=${FWSIM:-$PWD/build/sim/fwsim}
    if [ -z "${FWSIM:-}" ]; then
        TARGETS=fwsim scripts/build.sh
    fi
    test_args=(-DFWUP_BUILD_TESTS=ON "-DFWUP_HOST_FWSIM=$fwsim")
fi

# The window comes from the native Win32 sources; Qt, the simulator and the
# benchmarks stay on Linux.
cmake -S . -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-Release} \
    -DFWUP_BUILD_UI=OFF -DFWUP_BUILD_SIM=OFF -DFWUP_BUILD_BENCH=OFF -DFWUP_WERROR=ON \
    "${test_args[@]}" "${cmake_args[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"

# The test window program (its driver and --test-* options) never ships.
if grep -q -a -- "--test-port" "$build/winui/fwupgraderVelmora.exe"; then
    echo "build-windows: the shipped fwupgraderVelmora.exe holds the test driver" >&2
    exit 1
fi
rm -rf "$build/package"
cpack --config "$build/CPackConfig.cmake" -B "$build/package" >/dev/null
mkdir -p dist
for zip in "$build"/package/fwupgrader-*-win64.zip; do
    mv -f "$zip" dist/
    echo "wrote dist/$(basename "$zip")"
done

if ((run_tests)); then
    ctest --test-dir "$build" --output-on-failure --timeout 300
fi
