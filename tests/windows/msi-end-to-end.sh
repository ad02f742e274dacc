#!/usr/bin/env bash
# The Windows installer under Wine, in a prefix of its own: an MSI of an older
# version (built here from the same files) installs silently; the build's MSI
# upgrades it, leaving one product with the new files, a working CLI and the
# Start-menu shortcuts (the window, the bench window); given STATION_PROFILE, it
# installs that file as %ProgramData%\fwupgrader\station.toml and both shortcuts
# pass --profile naming it; uninstalling removes every file, shortcut and key
# (the profile stays: it is the site's, and an upgrade keeps using it). Also
# checks the signatures (when the build signed) and the icon's sizes. Prints the
# MSI's size and the install, upgrade and uninstall times.
#   msi-end-to-end.sh --package DIR --vars FILE --make-msi SCRIPT --icon ICO
#                     --prefix PREFIX --port COMn --link LINK --work DIR [--ca PEM]
# Exit 77 (skipped) when DIR holds no MSI: scripts/build-windows.sh builds it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

ca=""
while [ $# -gt 0 ]; do
    case $1 in
    --package) package=$2 ;;
    --vars) vars=$2 ;;
    --make-msi) make_msi=$2 ;;
    --icon) icon=$2 ;;
    --prefix) prefix=$2 ;;
    --port) port=$2 ;;
    --link) link=$2 ;;
    --work) work=$2 ;;
    --ca) ca=$2 ;;
    *)
        echo "msi-end-to-end.sh: unknown option $1" >&2
        exit 2
        ;;
    esac
    shift 2
done

version=$(sed -n 's/^version=//p' "$vars")
publisher=$(sed -n 's/^publisher=//p' "$vars")
msi=$package/fwupgrader-$version-x64.msi
stage=$package/fwupgrader-$version-win64
if [ ! -f "$msi" ] || [ ! -d "$stage" ]; then
    echo "SKIP: no $msi: scripts/build-windows.sh builds and stages it"
    exit 77
fi
# The older version: the same programs, a readme that says which version it is.
# (2.0.0.1 gives 2.0.0.0: the last field that is not 0, one less.)
old_version=$(awk -F. '{ for (i = NF; i > 0 && $i == 0; i--); if (i == 0) exit 1; $i--; print }' OFS=. <<<"$version") || {
    echo "FAIL: no older version than $version"
    exit 1
}
rm -rf "$work"
mkdir -p "$work/old"
cp "$stage"/* "$work/old/"
sed -i "1s/$version/$old_version/" "$work/old/README.txt"
"$make_msi" --stage "$work/old" --vars "$vars" --icon "$icon" --out "$work/old.msi" \
    --version "$old_version"

export WINEPREFIX=$prefix WINEDEBUG=-all
# Shortcuts stay inside the prefix: no menu entries for the desktop that runs the test.
export WINEDLLOVERRIDES="winemenubuilder.exe=d"
pty_pid=""
cleanup() {
    [ -z "$pty_pid" ] || kill "$pty_pid" 2>/dev/null || true
    rm -f "$link"
    bash "$here/wine-prefix.sh" down "$prefix"
}
trap cleanup EXIT
bash "$here/wine-prefix.sh" up "$prefix" "$port" "$link"
# A pty for the COM port to stand for (held open until the test ends).
python3 -c 'import os, pty, signal
m, s = pty.openpty()
print(os.ttyname(s), flush=True)
signal.pause()' </dev/null >"$work/pty" &
pty_pid=$!
for _ in $(seq 100); do
    [ -s "$work/pty" ] && break
    sleep 0.05
done
ln -sfn "$(cat "$work/pty")" "$link"

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
drive=$WINEPREFIX/drive_c
dir="$drive/Program Files/fwupgrader"
winpath() { echo "Z:${1//\//\\}"; }
now() { date +%s%N; }
ms() { echo $((($(now) - $1) / 1000000)); }
install_ms=0 upgrade_ms=0 uninstall_ms=0
run_msiexec() {
    local step=$1
    shift
    local start
    start=$(now)
    wine msiexec "$@" /qn /l*v "$(winpath "$work/$step.log")" </dev/null >/dev/null 2>&1 || {
        fail "$step: msiexec $* exit $?: $(tr -d '\0' <"$work/$step.log" | grep -i 'error\|return value 3' | head -5)"
    }
    printf -v "${step}_ms" '%d' "$(ms "$start")"
}
# The subkeys of registry key $1 whose value $2 is "VelgoFWUp", one line each: the
# values named after that, joined by '|'.
entries() {
    wine reg query "$1" /s </dev/null 2>/dev/null | tr -d '\r' | awk -v want="$2" -v fields="${*:3}" '
        function flush(  i, n, f, line) {
            if (v[want] != "VelgoFWUp") return
            n = split(fields, f, " ")
            line = key
            for (i = 1; i <= n; i++) line = line "|" v[f[i]]
            print line
        }
        /^HKEY/ { flush(); key = $0; split("", v); next }
        { sub(/^ +/, ""); n = split($0, f, /    /); if (n >= 3) v[f[1]] = f[3] }
        END { flush() }'
}
products() { entries 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' DisplayName DisplayVersion Publisher; }
shortcuts() { find "$drive" -iname 'VelgoFWUp*.lnk' 2>/dev/null; }
# Every image in an .ico as size x colour bits, e.g. "16x4 16x8 16x32 ... 256x32".
ico_images() {
    icotool -l "$1" | sed -n 's/.*--width=\([0-9]*\).*--bit-depth=\([0-9]*\).*/\1x\2/p' | tr '\n' ' '
}
need_sizes() {
    local images image
    images=" $(ico_images "$2")"
    for image in 16x4 16x8 16x32 32x4 32x8 32x32 48x32 256x32; do
        [[ $images == *" $image "* ]] || fail "$1: no $image image (has:$images)"
    done
}

# A run that failed half-way may have left the product installed.
for key in $(products | cut -d'|' -f1); do
    wine msiexec /x "${key##*\\}" /qn </dev/null >/dev/null 2>&1 || true
done

# 1. The older version, installed silently.
run_msiexec install /i "$(winpath "$work/old.msi")"
head -1 "$dir/README.txt" | grep -qF "$old_version" || fail "install: the older readme is not installed"
[ "$(products | cut -d'|' -f2)" = "$old_version" ] || fail "install: products '$(products)'"

# 2. The build's MSI replaces it, with a station profile.
printf '# station profile of the MSI test\nstation = "msi bench"\n' >"$work/station.toml"
profile="$drive/ProgramData/fwupgrader/station.toml"
rm -f "$profile"
run_msiexec upgrade /i "$(winpath "$msi")" "STATION_PROFILE=$(winpath "$work/station.toml")"
cmp -s "$work/station.toml" "$profile" || fail "upgrade: the station profile is not installed as $profile"
for file in fwupgraderVelmora.exe fwupgrader-cli.exe README.txt; do
    cmp -s "$stage/$file" "$dir/$file" || fail "upgrade: $file is not the new one"
done
mapfile -t found < <(products)
if [ "${#found[@]}" -ne 1 ]; then
    fail "upgrade: ${#found[@]} products in Programs and Features: ${found[*]}"
else
    IFS='|' read -r _ ver pub <<<"${found[0]}"
    [ "$ver" = "$version" ] || fail "upgrade: version '$ver', expected $version"
    [ "$pub" = "$publisher" ] || fail "upgrade: publisher '$pub', expected '$publisher'"
fi
# The icon Programs and Features shows, as the installer cached it.
icon_path=$(entries 'HKCR\Installer\Products' ProductName ProductIcon | cut -d'|' -f2)
icon_unix=$(wine winepath -u "${icon_path:-none}" </dev/null 2>/dev/null | tr -d '\r')
if [ -n "$icon_path" ] && [ -f "$icon_unix" ]; then
    need_sizes "Programs and Features icon" "$icon_unix"
else
    fail "upgrade: no product icon ('$icon_path')"
fi
# The window's shortcut and the bench window's (the window with --bench).
mapfile -t lnks < <(shortcuts | LC_ALL=C sort)
names=$(for lnk in "${lnks[@]}"; do basename "$lnk"; done | tr '\n' '|')
if [ "$names" != "VelgoFWUp bench.lnk|VelgoFWUp.lnk|" ]; then
    fail "upgrade: the Start-menu shortcuts are '$names', expected VelgoFWUp bench.lnk and VelgoFWUp.lnk"
else
    for lnk in "${lnks[@]}"; do
        tr -d '\0' <"$lnk" | grep -qiF 'C:\Program Files\fwupgrader\fwupgraderVelmora.exe' ||
            fail "upgrade: $(basename "$lnk") does not point at the installed window"
    done
    tr -d '\0' <"${lnks[1]}" | grep -qF -- '--bench' && fail "upgrade: VelgoFWUp.lnk passes --bench"
    tr -d '\0' <"${lnks[0]}" | grep -qF -- '--bench' ||
        fail "upgrade: VelgoFWUp bench.lnk does not pass --bench"
    for lnk in "${lnks[@]}"; do
        tr -d '\0' <"$lnk" | grep -qiF -- '--profile "C:\ProgramData\fwupgrader\station.toml"' ||
            fail "upgrade: $(basename "$lnk") does not pass --profile with the installed profile"
    done
fi

cli="C:\\Program Files\\fwupgrader\\fwupgrader-cli.exe"
out=$(wine "$cli" --version </dev/null 2>&1 | tr -d '\r') || fail "--version failed: $out"
grep -qF "$version" <<<"$out" || fail "--version prints '$out', expected $version"
out=$(wine "$cli" list </dev/null 2>&1 | tr -d '\r') || fail "list failed: $out"
# Name, device node and the port map's entry as the connector.
grep -qxF "USB Serial Device ($port)"$'\t'"\\\\.\\$port"$'\t'"\\Device\\Serial$((${port#COM} - 1))" <<<"$out" ||
    fail "list shows '$out', no $port"

if wrestool -x -t 14 "$dir/fwupgraderVelmora.exe" >"$work/window.ico" 2>/dev/null; then
    need_sizes "the window's icon" "$work/window.ico"
else
    fail "the window carries no icon"
fi
if msiinfo extract "$msi" Icon.fwupgraderVelmora.ico >"$work/msi.ico"; then
    need_sizes "the MSI's icon" "$work/msi.ico"
else
    fail "the MSI carries no icon"
fi

if [ -n "$ca" ]; then
    for file in "$dir/fwupgraderVelmora.exe" "$dir/fwupgrader-cli.exe" "$msi"; do
        osslsigncode verify -CAfile "$ca" -in "$file" >"$work/verify.out" 2>&1 ||
            fail "signature of $(basename "$file"): $(grep -i 'fail\|error' "$work/verify.out" | head -3)"
    done
else
    echo "signatures not checked: the build was not signed with a certificate the test knows"
fi

# 3. Uninstall: nothing of the product is left.
run_msiexec uninstall /x "$(winpath "$msi")"
[ ! -e "$dir" ] || fail "uninstall left $(find "$dir" | tr '\n' ' ')"
[ -z "$(shortcuts)" ] || fail "uninstall left the shortcut $(shortcuts)"
[ -z "$(products)" ] || fail "uninstall left the entry $(products)"
wine reg query 'HKLM\Software\fwupgrader' </dev/null >/dev/null 2>&1 &&
    fail "uninstall left HKLM\\Software\\fwupgrader"
cmp -s "$work/station.toml" "$profile" || fail "uninstall removed or changed the station profile"

printf 'MSI %s: %d bytes; install of %s %d ms, upgrade to %s %d ms, uninstall %d ms (Wine)\n' \
    "$(basename "$msi")" "$(stat -c %s "$msi")" "$old_version" "$install_ms" "$version" \
    "$upgrade_ms" "$uninstall_ms"
[ "$failures" -eq 0 ] || {
    echo "$failures failure(s); msiexec logs in $work"
    exit 1
}
echo "the MSI installs, upgrades and uninstalls cleanly"
