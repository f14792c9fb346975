#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# merovask-ctl.exe from the Windows zip, run from the command line under Wine against the simulated filter
# linked as COM1 of a private Wine prefix: its version, get (the three reads, 50 ms apart at the device, and
# the replies on standard output), a tune that is limited (the message on standard error) and a port that is
# not there (exit status 2).
#
# usage: wine_ctl.sh ZIP MEROVASK_SIM
set -euo pipefail

zip=$(realpath "$1")
sim_bin=$(realpath "$2")

for tool in wine wineserver winepath Xvfb unzip; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing (tools/windows installs it)"; exit 77; }
done

work=$(mktemp -d)
sim=""
cleanup() {
    [ -z "$sim" ] || kill "$sim" 2>/dev/null || true
    stop_wine
    [ -z "$sim" ] || wait "$sim" 2>/dev/null || true
    stop_xvfb
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/sim.log" ] && cat "$work/sim.log" >&2
    exit 1
}
# shellcheck source=tests/windows/wine.sh
. "$(dirname "$0")/wine.sh"

start_xvfb
make_prefix
unzip -q "$zip" -d "$work/unpacked"
ctl=$(find "$work/unpacked" -name merovask-ctl.exe)
mkdir -p "$work/sim"
"$sim_bin" --port 1 --dir "$work/sim" --log "$work/sim.log" >/dev/null &
sim=$!
for _ in $(seq 100); do [ -L "$work/sim/com1" ] && break; sleep 0.1; done
[ -L "$work/sim/com1" ] || fail "the simulator made no link"
ln -sfn "$work/sim/com1" "$WINEPREFIX/dosdevices/com1"

run() { # expected-status args... -> standard output in $out, standard error in $err
    local expected=$1 status=0
    shift
    out=$(wine "$ctl" "$@" 2>"$work/err" | tr -d '\r') || status=$?
    err=$(tr -d '\r' <"$work/err")
    [ "$status" -eq "$expected" ] || fail "merovask-ctl $*: exit status $status, not $expected ($err)"
}

version=$(sed -n 's/^project(merovask VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")
run 0 --version
[ "$out" = "merovask-ctl $version" ] || fail "--version printed '$out'"

run 0 get
[ "$out" = $'2024\n0305\n0907' ] || fail "get printed '$out'"
run 0 tune 1600
[ "$out" = "WL1589" ] || fail "tune printed '$out'"
[[ $err == *"wavelength 1600 sent as 1589 (range 1510~1589)"* ]] || fail "tune said '$err'"
run 2 --port 7 get
[[ $err == *"no such port 7"* ]] || fail "a port that is not there: '$err'"

# What the device received, a command a line with the time it arrived, and the pauses of get.
mapfile -t received < <(awk '$2 == "rx" {
    text = substr($0, index($0, "'\''") + 1); sub(/'\''$/, "", text)
    n = split(text, parts, ","); for (i = 1; i < n; ++i) print $1, parts[i]
}' "$work/sim.log")
commands=$(printf '%s\n' "${received[@]}" | cut -d' ' -f2 | paste -sd,)
[ "$commands" = "W103,W104,W105,C1589" ] || fail "the device received '$commands'"
gaps=$(printf '%s\n' "${received[@]:0:3}" | awk 'NR > 1 {printf "%.0f ", ($1 - last) * 1000} {last = $1}')
for gap in $gaps; do
    [ "$gap" -ge 49 ] || fail "get's commands $gaps ms apart at the device"
done
echo "wine: merovask-ctl.exe get: W103, W104, W105 ${gaps}ms apart at the device; tune 1600 sent C1589"
