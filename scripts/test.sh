#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
export QT_QPA_PLATFORM=offscreen
# The tests mostly wait on the protocol's time-outs, so four run side by side on two cores.
ctest --test-dir build --output-on-failure -j 4 --timeout 300
