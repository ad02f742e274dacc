#!/usr/bin/env bash
# Builds the Debian package dist/fwupgrader_<version>_<arch>.deb: installs what is
# missing (as root, or through sudo), builds in Release into build-rel/, runs cpack,
# and checks the result with lintian (errors fail) and desktop-file-validate.
# CHECK_INSTALL=1 (as root) also installs the package, checks the installed
# programs, desktop entry and udev rule, and purges it again.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
pkgs=(dpkg-dev fakeroot file help2man lintian desktop-file-utils)
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
deb=$(ls "$build"/package/fwupgrader_*.deb)
mkdir -p dist
cp "$deb" dist/
deb="dist/$(basename "$deb")"

desktop-file-validate packaging/fwupgraderVelmora.desktop
lintian --fail-on error --tag-display-limit 0 "$deb"
echo "$deb ($(stat -c %s "$deb") bytes)"

if [ "${CHECK_INSTALL:-0}" = 1 ]; then
    trap 'dpkg -P fwupgrader >/dev/null 2>&1 || true' EXIT
    dpkg -i "$deb" || DEBIAN_FRONTEND=noninteractive apt-get -f install -y
    want=$(dpkg-deb -f "$deb" Version)
    for program in fwupgrader-cli fwupgraderVelmora fwsim; do
        "/usr/bin/$program" --version | grep -qx "$program (VelgoFWUp) $want"
    done
    desktop-file-validate /usr/share/applications/fwupgraderVelmora.desktop
    if command -v udevadm >/dev/null && [ -e /sys/class/tty/tty0 ]; then
        # udevadm test reads every rule file and names the lines it cannot parse.
        if udevadm test --action=add /sys/class/tty/tty0 2>&1 | grep '70-fwupgrader.rules:'; then
            echo "udevadm cannot parse the rule" >&2
            exit 1
        fi
    fi
    man -w fwupgrader-cli fwupgraderVelmora fwsim >/dev/null
    echo "installed and checked; purging again"
fi
