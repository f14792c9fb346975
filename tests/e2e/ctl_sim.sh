#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# merovask-ctl against the simulated filter, both real programs: the README's sweep, an upload that lands in
# the simulator's calibration memory and its settings, and a line that goes away in the middle of an upload.
#
# usage: ctl_sim.sh MEROVASK_CTL MEROVASK_SIM CALIBRATION_FILE
set -euo pipefail

ctl_bin=$1
sim_bin=$2
table=$3

work=$(mktemp -d)
prog=$work/prog
mkdir -p "$prog"
cp "$ctl_bin" "$prog/merovask-ctl"
ctl=$prog/merovask-ctl
sim=""
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

start_sim() { # options...
  "$sim_bin" --port 1 --dir "$prog" --table "$work/memory.txt" "$@" >/dev/null &
  sim=$!
  for _ in $(seq 100); do [ -L "$prog/com1" ] && return; sleep 0.05; done
  fail "the simulator made no link"
}
stop_sim() { kill -INT "$sim"; wait "$sim" || true; sim=""; }

start_sim
out=$(for w in $(seq 1510 20 1589) 1600; do "$ctl" tune "$w" 2>>"$work/err" || exit; done)
[ "$out" = "$(printf 'WL%s\n' 1510 1530 1550 1570 1589)" ] || fail "sweep printed: $out"
grep -qx "merovask-ctl: wavelength 1600 sent as 1589 (range 1510~1589)" "$work/err" || fail "$(cat "$work/err")"
[ "$("$ctl" get | tr '\n' ' ')" = "2024 0305 0907 " ] || fail "get"

"$ctl" upload "$table" --yes >/dev/null 2>"$work/err" || fail "upload: $(cat "$work/err")"
[ "$("$ctl" --json get | grep -c '"command":"W10[345]"')" = 3 ] || fail "get after the upload"
stop_sim
grep -qx "0 2345" "$work/memory.txt" && grep -qx "101 1510" "$work/memory.txt" &&
  grep -qx "102 1589" "$work/memory.txt" || fail "calibration memory: $(head -c 400 "$work/memory.txt")"
tr -d '\r' <"$prog/merovask.ini" | grep -qx "SWmax=1589" || fail "the range was not stored"

# The line goes away after the fifth command: exit 2, settings untouched (how soon it exits is a figure of
# the benchmark).
printf '[tfilter]\r\nSWmin=1500\r\nSWmax=1600\r\n' >"$prog/merovask.ini"
before=$(md5sum <"$prog/merovask.ini")
start_sim --vanish-after 5
status=0
"$ctl" upload "$table" --yes >/dev/null 2>"$work/err" || status=$?
wait "$sim" || true
sim=""
[ "$status" = 2 ] || fail "a hang-up mid-upload gave status $status: $(cat "$work/err")"
grep -q "went away during the upload" "$work/err" || fail "$(cat "$work/err")"
[ "$(md5sum <"$prog/merovask.ini")" = "$before" ] || fail "the settings changed"
echo "merovask-ctl on merovask-sim: passed"
