#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building and testing (as root).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-missing.sh cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev qt6-base-dev \
    xvfb xauth clang libclang-rt-14-dev
