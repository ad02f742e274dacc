#!/usr/bin/env bash
# The main job against the simulated device: installs what is missing, builds,
# publishes a simulated reader with fwsim, flashes a generated full-size image
# with fwupgrader-cli, and shows that the flashed bytes equal the file.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
TARGETS="fwsim fwupgrader-cli" scripts/build.sh

work=$(mktemp -d /tmp/fwup-demo-XXXXXX)
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill -INT "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A full CODE area image: 176128 bytes.
head -c 176128 /dev/urandom > "$work/sample.bin"
mkdir -p "$work/root"

build/sim/fwsim --root "$work/root" --flash-out "$work/flash.bin" > "$work/fwsim.out" &
sim_pid=$!
for _ in $(seq 100); do
    grep -q '^device 1:' "$work/fwsim.out" 2>/dev/null && break
    sleep 0.1
done
echo "simulated device: $(head -n 1 "$work/fwsim.out")"

export FWUP_SYSROOT="$work/root"
echo "ports:"
build/cli/fwupgrader-cli list
port=$(build/cli/fwupgrader-cli list | head -n 1 | cut -f1)
echo
echo "fwupgrader-cli update --port \"$port\" --file sample.bin"
status=0
build/cli/fwupgrader-cli update --port "$port" --file "$work/sample.bin" || status=$?
echo "exit code: $status"
[ "$status" -eq 0 ] || exit "$status"

for _ in $(seq 50); do [ -f "$work/flash.bin" ] && break; sleep 0.1; done
# The image lives at device address 0x108000, offset 0x8000 of the flash.
if cmp -n 176128 -i 0:32768 "$work/sample.bin" "$work/flash.bin"; then
    echo "flashed image equals the file: 176128 bytes at 0x108000"
else
    echo "flashed image differs from the file" >&2
    exit 1
fi
