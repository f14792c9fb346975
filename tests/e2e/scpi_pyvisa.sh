#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The README's pyvisa example (docs/examples/scpi_pyvisa.py) through Debian's python3-pyvisa and
# python3-pyvisa-py against merovask-scpi on 127.0.0.1, with merovask-sim as the filter: it tunes, reads
# back, reads the error queue and loads a 10-row table, which lands in the simulator's calibration memory.
# The PyMeasure example beside it is only read.
#
# usage: scpi_pyvisa.sh MEROVASK_SCPI MEROVASK_SIM CALIBRATION_FILE
set -euo pipefail

scpi_bin=$1
sim_bin=$2
table=$3
example=$(dirname "$0")/../../docs/examples/scpi_pyvisa.py

work=$(mktemp -d)
sim=""
server=""
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Debian's packages are for Debian's interpreter; a python3 of one's own earlier on PATH (a virtual
# environment, pyenv) would not see them.
python=/usr/bin/python3
"$python" -c 'import pyvisa, pyvisa_py' 2>/dev/null ||
    fail "pyvisa is missing (tools/setup installs python3-pyvisa and python3-pyvisa-py)"

cp "$scpi_bin" "$work/merovask-scpi"
"$sim_bin" --port 1 --dir "$work" --log "$work/sim.log" --table "$work/memory.txt" >/dev/null &
sim=$!
for _ in $(seq 100); do [ -L "$work/com1" ] && break; sleep 0.05; done
XDG_CONFIG_HOME=$work "$work/merovask-scpi" --port 1 --listen 127.0.0.1:0 --engineering >"$work/port" \
    2>"$work/log" &
server=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
port=$(sed -n 's/^127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/port")
[ -n "$port" ] || fail "the server printed no port: $(cat "$work/log")"

"$python" "$example" "TCPIP0::127.0.0.1::$port::SOCKET" "$table" >"$work/out" 2>&1 ||
    fail "the example failed: $(cat "$work/out")"
expected="identity: Merovask,Tunable Filter,0,VERSION
wavelength: 1550
wavelength: 1589
frequency: 188.6673744 THz
error: -222,\"Data out of range;WAV 1600NM sent as 1589\"
upload: done
range: 1510;1589
calibration date: DATE"
got=$(sed -e 's/^\(identity: Merovask,Tunable Filter,0,\).*/\1VERSION/' \
    -e 's/^calibration date: [0-9]*,[0-9]*,[0-9]*,[0-9]*,[0-9]*$/calibration date: DATE/' "$work/out")
[ "$got" = "$expected" ] || fail "the example printed: $(cat "$work/out")"

# Each command with the panel's bytes: two tunes, the 30 commands of the upload, the date stamp.
commands=$(sed -n "s/^[0-9.]* rx '\(.*\)'$/\1/p" "$work/sim.log" | tr -d '\n' | tr ',' '\n')
[ "$(sed -n '1,2p' <<<"$commands" | tr '\n' ' ')" = "C1550 C1589 " ] || fail "the tunes: $commands"
[ "$(grep -c '^[XY]' <<<"$commands")" = 30 ] || fail "the upload: $commands"
kill -TERM "$server"
status=0
wait "$server" || status=$?
server=""
[ "$status" = 0 ] || fail "SIGTERM ended the server with status $status"
kill -INT "$sim"
wait "$sim" || true
sim=""
grep -qx "0 2345" "$work/memory.txt" && grep -qx "102 1589" "$work/memory.txt" ||
    fail "calibration memory: $(head -c 400 "$work/memory.txt")"
# The PyMeasure example needs PyMeasure, which the tests do without: it is read, not run.
"$python" -c 'import ast, sys; ast.parse(open(sys.argv[1]).read())' "$(dirname "$example")/scpi_pymeasure.py" ||
    fail "the PyMeasure example does not parse"
echo "pyvisa through merovask-scpi: passed"
