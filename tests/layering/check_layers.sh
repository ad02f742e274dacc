#!/usr/bin/env bash
# Checks that each layer includes only the layers below it: the core never sees Qt
# or the simulator, the simulator shares no code with the product, and the front
# ends never include each other. Prints every offending include; exits 1 on any.
set -euo pipefail
cd "${1:-$(dirname "$0")/../..}"

# layer: the project folders it may include (besides its own), and whether Qt is allowed.
declare -A allowed=(
    [serial]=""
    [device]="serial"
    [workflows]="serial device"
    [records]="serial device workflows"
    [cli]="serial device workflows records"
    [windowmodel]="serial device workflows records"
    [ui]="serial device workflows records windowmodel"
    [winui]="serial device workflows records windowmodel"
    [sim]=""
)
declare -A qt_allowed=([ui]=1)
folders="serial device workflows records windowmodel cli ui winui sim tests bench fuzz"

failed=0
for layer in "${!allowed[@]}"; do
    [ -d "$layer" ] || continue
    while IFS= read -r line; do
        file=${line%%:*}
        target=$(sed -nE 's/^[^:]*:[0-9]+:[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^>"]+)[>"].*/\1/p' <<<"$line")
        [ -n "$target" ] || continue
        top=${target%%/*}
        if [[ "$target" == Q* && -z "${qt_allowed[$layer]:-}" ]]; then
            echo "$line: $layer must not include Qt"
            failed=1
        elif [[ "$target" == */* && " $folders " == *" $top "* && "$top" != "$layer" &&
                " ${allowed[$layer]} " != *" $top "* ]]; then
            echo "$line: $layer must not include $top/"
            failed=1
        fi
    done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include' "$layer" --include='*.h' --include='*.cpp' || true)
done
if [ "$failed" -eq 0 ]; then
    echo "layering: every include keeps to its layer"
fi
exit "$failed"
