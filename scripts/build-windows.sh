#!/usr/bin/env bash
# Cross-builds the Windows programs into ${BUILD_DIR:-build-win} and writes
# dist/fwupgrader-<version>-win64.zip and dist/fwupgrader-<version>-x64.msi.
# Installs what is missing (as root).
#   --test   also runs the Windows tests under Wine (needs the Linux fwsim:
#            built with 'TARGETS=fwsim scripts/build.sh' unless FWSIM names one;
#            the window's test runs in Xvfb and keeps a screenshot in the build)
# Extra arguments go to cmake.
# Signing: with FWUP_SIGN_PFX (a PKCS#12 file) and FWUP_SIGN_PASS (its password)
# the programs are signed before they go into the zip and the MSI, and the MSI
# too (Authenticode, SHA-256), time-stamped when FWUP_SIGN_TIMESTAMP names an
# RFC 3161 server. Without them the build is unsigned; with --test it is signed
# with a throw-away self-signed certificate, which the tests check.
# Records: SQLite and libpq are cross-built from Debian's source packages and
# cached by version in FWUP_WIN_CACHE (scripts/windows-db-libs.sh).
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

pkgs=(cmake ninja-build g++-mingw-w64-x86-64 googletest wixl msitools osslsigncode openssl dpkg-dev
    make autoconf automake libtool libtoml11-dev)
((run_tests)) && pkgs+=(wine xvfb xauth imagemagick icoutils python3)
# SQLite's amalgamation is generated with tclsh; the PostgreSQL tests run a
# server of Debian's on the Linux side.
pkgs+=(dpkg-dev tcl make)
((run_tests)) && pkgs+=(postgresql-15 postgresql-client-15)
scripts/install-missing.sh "${pkgs[@]}"

# shellcheck source=windows-db-libs.sh
source scripts/windows-db-libs.sh
win_db_libs

build=${BUILD_DIR:-build-win}
mkdir -p "$build"
build=$(cd "$build" && pwd)

# The password goes to osslsigncode in a file only this user reads, never on a
# command line or in a trace; no program started below inherits it.
secrets=$(mktemp -d)
trap 'rm -rf "$secrets"' EXIT
pass_file=$secrets/pass
sign_pfx=""
sign_ca=""
{ xtrace=$-; set +x; } 2>/dev/null
if [ -n "${FWUP_SIGN_PFX:-}" ] || [ -n "${FWUP_SIGN_PASS+set}" ]; then
    if [ -z "${FWUP_SIGN_PFX:-}" ] || [ -z "${FWUP_SIGN_PASS+set}" ]; then
        echo "build-windows.sh: set both FWUP_SIGN_PFX and FWUP_SIGN_PASS to sign, or neither" >&2
        exit 2
    fi
    sign_pfx=$FWUP_SIGN_PFX
    (umask 077 && printf '%s' "$FWUP_SIGN_PASS" >"$pass_file")
    unset FWUP_SIGN_PASS
    sign_ca=${FWUP_SIGN_CA:-}
fi
[[ $xtrace == *x* ]] && set -x
if [ -z "$sign_pfx" ] && ((run_tests)); then
    # A certificate for this build only, so that the tests check real signatures.
    sign_ca=$build/test-signing/cert.pem
    sign_pfx=$build/test-signing/test.pfx
    rm -rf "$build/test-signing"
    mkdir -p "$build/test-signing"
    (umask 077 && openssl rand -hex 16 >"$pass_file")
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=fwupgrader throw-away test signer" \
        -addext extendedKeyUsage=codeSigning -keyout "$secrets/key.pem" -out "$sign_ca" 2>/dev/null
    openssl pkcs12 -export -inkey "$secrets/key.pem" -in "$sign_ca" -out "$sign_pfx" \
        -passout "file:$pass_file"
fi
if [ -z "$sign_pfx" ]; then
    echo "unsigned build: FWUP_SIGN_PFX and FWUP_SIGN_PASS are not set"
elif [[ $sign_pfx == "$build/test-signing/"* ]]; then
    echo "signing with a throw-away self-signed test certificate (FWUP_SIGN_PFX not set): not for distribution"
else
    echo "signing with $sign_pfx${FWUP_SIGN_TIMESTAMP:+, time stamp from $FWUP_SIGN_TIMESTAMP}"
fi
sign_args=()
[ -n "${FWUP_SIGN_TIMESTAMP:-}" ] && sign_args+=(-ts "$FWUP_SIGN_TIMESTAMP")
sign() {
    [ -n "$sign_pfx" ] || return 0
    osslsigncode sign -pkcs12 "$sign_pfx" -readpass "$pass_file" -h sha256 -n VelgoFWUp \
        "${sign_args[@]}" -in "$1" -out "$1.signed" >"$secrets/sign.log" 2>&1 || {
        cat "$secrets/sign.log" >&2
        echo "build-windows.sh: cannot sign $1" >&2
        exit 1
    }
    mv -f "$1.signed" "$1"
}
# libsodium checks the images' signatures. Debian ships no mingw build of it: its
# own source package (deb-src) is cross-built as a static library once per
# version, cached outside the repository ($FWUP_WIN_DEPS, default
# ~/.cache/fwupgrader-win), and the build log says which version it is.
build_sodium() {
    local version prefix work
    version=$(apt-cache showsrc libsodium | sed -n 's/^Version: //p' | sort -V | tail -1)
    if [ -z "$version" ]; then
        echo "build-windows.sh: no deb-src entry lists libsodium (see docs/windows-install.md)" >&2
        exit 1
    fi
    prefix=${FWUP_WIN_DEPS:-$HOME/.cache/fwupgrader-win}/libsodium-$version
    if [ ! -f "$prefix/lib/libsodium.a" ]; then
        work=$(mktemp -d)
        (cd "$work" && apt-get source -qq "libsodium=$version" >/dev/null 2>&1) || {
            echo "build-windows.sh: apt-get source libsodium=$version failed" >&2
            exit 1
        }
        # Debian's source has no generated configure: its build runs autoreconf too.
        (cd "$work"/libsodium-*/ && autoreconf -fi >/dev/null 2>&1 &&
            ./configure -q --host=x86_64-w64-mingw32 --prefix="$prefix" --disable-shared \
                --enable-static CC=x86_64-w64-mingw32-gcc-posix >/dev/null &&
            make -s -j "$(nproc)" >/dev/null 2>&1 && make -s install >/dev/null)
        rm -rf "$work"
    fi
    echo "libsodium $version (Debian source package), static for mingw-w64: $prefix"
    sodium_args=("-DFWUP_SODIUM_ROOT=$prefix")
}
sodium_args=()
build_sodium

test_args=(-DFWUP_BUILD_TESTS=OFF)
if ((run_tests)); then
    fwsim=${FWSIM:-$PWD/build/sim/fwsim}
    if [ -z "${FWSIM:-}" ]; then
        # The Linux tree, whatever BUILD_DIR names for this Windows build.
        BUILD_DIR=build TARGETS=fwsim scripts/build.sh
    fi
    test_args=(-DFWUP_BUILD_TESTS=ON "-DFWUP_HOST_FWSIM=$fwsim" "-DFWUP_TEST_SIGN_CA=$sign_ca")
fi

# The window comes from the native Win32 sources; Qt, the simulator and the
# benchmarks stay on Linux.
cmake -S . -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-Release} \
    -DFWUP_BUILD_UI=OFF -DFWUP_BUILD_SIM=OFF -DFWUP_BUILD_BENCH=OFF -DFWUP_WERROR=ON \
    "${win_db_cmake_args[@]}" "${test_args[@]}" "${sodium_args[@]}" "${cmake_args[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"

# The test window program (its driver and --test-* options) never ships.
if grep -q -a -- "--test-port" "$build/winui/fwupgraderVelmora.exe"; then
    echo "build-windows: the shipped fwupgraderVelmora.exe holds the test driver" >&2
    exit 1
fi
# Stage the programs and the readme, sign the programs, then zip them and build
# the MSI from the same files; the tests install build-win/package's MSI.
version=$(sed -n 's/^version=//p' "$build/fwupgrader-package.vars")
name=fwupgrader-$version-win64
msi=fwupgrader-$version-x64.msi
rm -rf "$build/package"
cmake --install "$build" --prefix "$build/package/$name" --strip >/dev/null
for exe in "$build/package/$name"/*.exe; do
    sign "$exe"
done
(cd "$build/package" && cmake -E tar cf "$name.zip" --format=zip "$name")
packaging/windows/make-msi.sh --stage "$build/package/$name" --vars "$build/fwupgrader-package.vars" \
    --icon winui/fwupgraderVelmora.ico --out "$build/package/$msi"
sign "$build/package/$msi"
mkdir -p dist
for file in "$name.zip" "$msi"; do
    cp -f "$build/package/$file" dist/
    echo "wrote dist/$file ($(stat -c %s "dist/$file") bytes)"
done

if ((run_tests)); then
    ctest --test-dir "$build" --output-on-failure --timeout 300
fi
