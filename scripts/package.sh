#!/usr/bin/env bash
# Builds the Debian packages dist/fwupgrader_<version>_<arch>.deb (the programs) and
# dist/fwupgrader-sim_<version>_<arch>.deb (the simulated reader): installs what is
# missing (as root, or through sudo), builds in Release into build-rel/, runs cpack,
# and checks the result: lintian (errors and warnings fail), desktop-file-validate,
# groff's warnings on the man pages, and no simulator in the main package.
# CHECK_INSTALL=1 (as root) also installs the packages, checks the installed
# programs, desktop entries, man pages and udev rule, and purges them again.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
pkgs=(dpkg-dev fakeroot file lintian desktop-file-utils man-db)
scripts/install-missing.sh "${pkgs[@]}"

# Debian's hardening flags (all of them, bindnow included); warnings stay warnings
# here, since a packager's newer or older compiler must not stop the build.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"
build=build-rel
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
      -DFWUP_WERROR=OFF -DFWUP_BUILD_TESTS=OFF -DFWUP_BUILD_BENCH=OFF -DFWUP_BUILD_FUZZ=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -rf "$build/package"
(cd "$build" && cpack -G DEB >/dev/null)
mkdir -p dist
main=$(ls "$build"/package/fwupgrader_*.deb)
sim=$(ls "$build"/package/fwupgrader-sim_*.deb)
cp "$main" "$sim" dist/
main="dist/$(basename "$main")"
sim="dist/$(basename "$sim")"

# The same check lintian makes, with groff's warnings on: a page that needs
# guessing (a bad macro, a line that cannot be broken) says so on stderr.
check_man_page() {
    local warnings
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l "$1" 2>&1 >/dev/null)
    if [ -n "$warnings" ]; then
        printf '%s: man --warnings:\n%s\n' "$1" "$warnings" >&2
        return 1
    fi
}

if dpkg-deb -c "$main" | grep fwsim; then
    echo "$main holds the simulator; it belongs in fwupgrader-sim" >&2
    exit 1
fi
desktop-file-validate packaging/*.desktop
for page in "$build"/packaging/man/*.1; do
    check_man_page "$page"
done
lintian --fail-on error,warning --tag-display-limit 0 "$main" "$sim"
for deb in "$main" "$sim"; do
    echo "$deb ($(stat -c %s "$deb") bytes)"
done

if [ "${CHECK_INSTALL:-0}" = 1 ]; then
    purge() { dpkg -P fwupgrader-sim fwupgrader >/dev/null 2>&1 || true; }
    cleanup() {
        if [ -n "${simpid:-}" ]; then kill "$simpid" 2>/dev/null || true; fi
        purge
        if [ -n "${simroot:-}" ]; then rm -rf "$simroot"; fi
    }
    purge
    trap cleanup EXIT
    want=$(dpkg-deb -f "$main" Version)

    # The main package alone, as on a production PC: its programs and no simulator.
    dpkg -i "$main" || DEBIAN_FRONTEND=noninteractive apt-get -f install -y
    for program in fwupgrader-cli fwupgraderVelmora; do
        "/usr/bin/$program" --version | grep -qx "$program (VelgoFWUp) $want"
        check_man_page "$(man -w "$program")"
    done
    if [ -e /usr/bin/fwsim ] || man -w fwsim >/dev/null 2>&1; then
        echo "fwsim is installed without fwupgrader-sim" >&2
        exit 1
    fi
    apps=/usr/share/applications
    desktop-file-validate "$apps/fwupgraderVelmora.desktop" "$apps/fwupgraderVelmora-bench.desktop"
    grep -qx 'Exec=fwupgraderVelmora --bench' "$apps/fwupgraderVelmora-bench.desktop"
    if command -v udevadm >/dev/null && [ -e /sys/class/tty/tty0 ]; then
        # udevadm test reads every rule file and names the lines it cannot parse.
        if udevadm test --action=add /sys/class/tty/tty0 2>&1 | grep '70-fwupgrader.rules:'; then
            echo "udevadm cannot parse the rule" >&2
            exit 1
        fi
    fi

    # The simulator beside it: the installed CLI lists the reader it publishes.
    dpkg -i "$sim"
    /usr/bin/fwsim --version | grep -qx "fwsim (VelgoFWUp) $want"
    [ "$(dpkg -S /usr/bin/fwsim | cut -d: -f1)" = fwupgrader-sim ]
    check_man_page "$(man -w fwsim)"
    simroot=$(mktemp -d)
    /usr/bin/fwsim --root "$simroot" >"$simroot/fwsim.out" &
    simpid=$!
    for _ in $(seq 100); do # up to 10 s
        grep -q '^device 1:' "$simroot/fwsim.out" && break
        sleep 0.1
    done
    FWUP_SYSROOT=$simroot /usr/bin/fwupgrader-cli list | grep -q '(COM1)'
    kill "$simpid"
    wait "$simpid"
    simpid=

    echo "installed and checked; purging again"
    purge
    for file in /usr/bin/fwupgrader-cli /usr/bin/fwupgraderVelmora /usr/bin/fwsim; do
        if [ -e "$file" ]; then
            echo "$file is left after the purge" >&2
            exit 1
        fi
    done
fi
