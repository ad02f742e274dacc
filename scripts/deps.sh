#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building and testing (as root).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-missing.sh cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev qt6-base-dev \
    xvfb xauth clang libclang-rt-14-dev \
    libsqlite3-dev libpq-dev postgresql-15 chromium imagemagick \
    libsodium-dev libtoml11-dev minisign
# postgresql-15: the records tests start their own server from its programs (the
# package's own cluster is not used); chromium and imagemagick: the report is
# rendered and its screenshot checked; libsodium-dev and libtoml11-dev: image
# signatures and the station profile; minisign: the tests sign with the standard tool.
