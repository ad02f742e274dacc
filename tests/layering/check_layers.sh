#!/usr/bin/env bash
# Checks the design's arrows: serial <- device <- {workflows, records, station};
# records and station use nothing above device/; cli and windowmodel use the core layers; the
# views (ui/, winui/) use windowmodel/ and serial/'s text helpers only; Qt only in
# ui/; windows.h and the other Windows SDK headers only in winui/ and in the
# lower layers' platform files; the simulator uses nothing of the product, and
# no product target links it. Prints every offending line; exits 1 on any.
# Usage: check_layers.sh [ROOT] (default: this checkout).
set -euo pipefail
cd "${1:-$(dirname "$0")/../..}"

# layer: the project folders it may include (besides its own).
declare -A allowed=(
    [serial]=""
    [device]="serial"
    [workflows]="serial device"
    [records]="serial device"
    [station]="serial device"
    [cli]="serial device workflows records station"
    [windowmodel]="serial device workflows records station"
    [ui]="windowmodel"
    [winui]="windowmodel"
    [sim]=""
)
# Single headers a layer may include from a folder it may not otherwise use.
views_text="serial/Utf8Text.h serial/WideText.h" # serial/'s text helpers
declare -A allowed_files=([ui]="$views_text" [winui]="$views_text")
declare -A qt_allowed=([ui]=1)
# The Windows SDK's headers, and the Windows-only headers of lower layers that
# are platform files without the Win.cpp suffix.
win_sdk="windows.h commctrl.h commdlg.h shellapi.h shlobj.h setupapi.h devguid.h initguid.h
         cfgmgr32.h dbt.h winreg.h winbase.h winuser.h objbase.h restartmanager.h io.h"
win_platform_headers="serial/DcbLineSettings.h"
folders="serial device workflows records station windowmodel cli ui winui sim tests bench fuzz"
# Folders whose CMake targets make up the product: none may link the simulator.
product_cmake="serial device workflows records station windowmodel cli ui winui packaging"

include_re='^[^:]*:[0-9]+:[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^>"]+)[>"]'
failed=0
fail() {
    echo "$1"
    failed=1
}

for layer in "${!allowed[@]}"; do
    [ -d "$layer" ] || continue
    while IFS= read -r line; do
        file=${line%%:*}
        [[ "$line" =~ $include_re ]] || continue
        target=${BASH_REMATCH[1]}
        top=${target%%/*}
        lower=${target,,}
        if [[ "$target" == Q* && -z "${qt_allowed[$layer]:-}" ]]; then
            fail "$line: $layer must not include Qt"
        elif [[ " ${win_sdk//$'\n'/ } " == *" $lower "* && "$layer" != winui &&
                "$file" != *Win.cpp && " $win_platform_headers " != *" $file "* ]]; then
            fail "$line: only winui/ and platform files (*Win.cpp) include Windows headers"
        elif [[ "$target" == */* && " $folders " == *" $top "* && "$top" != "$layer" &&
                " ${allowed[$layer]} " != *" $top "* &&
                " ${allowed_files[$layer]:-} " != *" $target "* ]]; then
            fail "$line: $layer must not include $target"
        fi
    done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include' "$layer" --include='*.h' --include='*.cpp' || true)
done

for folder in $product_cmake; do
    [ -f "$folder/CMakeLists.txt" ] || continue
    while IFS= read -r line; do
        fail "$folder/CMakeLists.txt:$line: a product target must not link the simulator"
    done < <(grep -nwE 'fwup_sim|fwup_testsupport|fwup_fuzzrig' "$folder/CMakeLists.txt" || true)
done

if [ "$failed" -eq 0 ]; then
    echo "layering: every include keeps to its layer"
fi
exit "$failed"
