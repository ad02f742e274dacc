#!/usr/bin/env bash
# Proves that check_layers.sh fails on a forbidden include or link: each row puts
# one line into a copy of the product's sources and expects exit 1 with that
# line named. Usage: check_layers_test.sh ROOT
set -euo pipefail
root=$(cd "$1" && pwd)
check="$root/tests/layering/check_layers.sh"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for folder in serial device workflows records windowmodel cli ui winui sim packaging; do
    [ -d "$root/$folder" ] && cp -r "$root/$folder" "$tmp/"
done
bash "$check" "$tmp" >/dev/null || { echo "the untouched copy fails"; exit 1; }

# file | line put into it | what the report must say
rows=(
    'records/UnitRecord.cpp|#include "workflows/CAutoLoop.h"|records must not include workflows/CAutoLoop.h'
    'records/UnitRecord.h|#include "windowmodel/BenchOptions.h"|records must not include windowmodel/BenchOptions.h'
    'device/UpdateJob.cpp|#include "workflows/IAutoObserver.h"|device must not include workflows/IAutoObserver.h'
    'ui/CLogBox.cpp|#include "records/CUnitRecordLog.h"|ui must not include records/CUnitRecordLog.h'
    'winui/WinText.cpp|#include "device/DeviceUnit.h"|winui must not include device/DeviceUnit.h'
    'ui/CLogBox.cpp|#include "serial/CComPort.h"|ui must not include serial/CComPort.h'
    'windowmodel/BoxText.cpp|#include <QString>|windowmodel must not include Qt'
    'windowmodel/BoxText.cpp|#include <windows.h>|only winui/ and platform files'
    'sim/CSimDevice.cpp|#include "device/Crc32.h"|sim must not include device/Crc32.h'
    'cli/CMakeLists.txt|target_link_libraries(fwupgrader-cli PRIVATE fwup_sim)|must not link the simulator'
)
status=0
for row in "${rows[@]}"; do
    IFS='|' read -r file text expected <<<"$row"
    cp "$tmp/$file" "$tmp/$file.orig"
    printf '%s\n' "$text" >>"$tmp/$file"
    set +e
    out=$(bash "$check" "$tmp")
    rc=$?
    set -e
    mv "$tmp/$file.orig" "$tmp/$file"
    if [ "$rc" -ne 1 ] || [[ "$out" != *"$file"*"$text"*"$expected"* ]]; then
        echo "FAIL: $text in $file: exit $rc, said: $out"
        status=1
    fi
done
[ "$status" -eq 0 ] && echo "layering check: ${#rows[@]} forbidden lines caught"
exit "$status"
