#!/usr/bin/env bash
# Builds the Windows installer from fwupgrader.wxs with wixl.
#   make-msi.sh --stage DIR --vars FILE --icon ICO --out MSI [--version V]
# DIR holds fwupgraderVelmora.exe, fwupgrader-cli.exe and README.txt as they are
# shipped (signed, when the build signs). FILE is fwupgrader-package.vars of the
# Windows build (version, publisher, contact, from CMake). --version overrides
# the product version (the upgrade test builds an older one).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

version=""
while [ $# -gt 0 ]; do
    case $1 in
    --stage) stage=$2 ;;
    --vars) vars=$2 ;;
    --icon) icon=$2 ;;
    --out) out=$2 ;;
    --version) version=$2 ;;
    *)
        echo "make-msi.sh: unknown option $1" >&2
        exit 2
        ;;
    esac
    shift 2
done

value() { sed -n "s/^$1=//p" "$vars"; }
[ -n "$version" ] || version=$(value version)
publisher=$(value publisher)
contact=$(value contact)
if ! [[ $version =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)(\.[0-9]+)?$ ]]; then
    echo "make-msi.sh: version '$version' is not N.N.N[.N]" >&2
    exit 2
fi
# Windows Installer compares the first three fields only: every build of this
# major.minor.build counts as the same version, and the next build is newer.
upgrade_below=${BASH_REMATCH[1]}.${BASH_REMATCH[2]}.$((BASH_REMATCH[3] + 1))

# wixl takes file sources relative to the directory it runs in.
abs() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
out=$(abs "$out")
icon=$(realpath --relative-to="$stage" "$icon")
cd "$stage"
wixl -a x64 -D "Version=$version" -D "UpgradeBelow=$upgrade_below" -D "Publisher=$publisher" \
    -D "Contact=$contact" -D "IconFile=$icon" -o "$out" "$here/fwupgrader.wxs"
