#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# merovask-ctl on a filter on another computer (tests/e2e/bridge_env.sh): through ser2net and socat the
# device receives exactly the bytes it receives over a local line, commands keep their pauses, the port
# list names the bridge; a dropped connection ends socat with status 0 (for the unit to start it again) and
# merovask-ctl with 2, and the bridge, once back, works as before. A bridge<N>.conf to fix, or an
# operator's own link of the same number, stops the bridge with status 6 and leaves the link alone.
#
# usage: bridge_ctl.sh MEROVASK_CTL MEROVASK_SIM MEROVASK_BRIDGE CALIBRATION_FILE
set -euo pipefail

work=$(mktemp -d)
cleanup() {
    bridge_cleanup
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
. "$(dirname "$0")/bridge_env.sh"

bridge_init "$2" "$3"
table=$4
# A program folder of its own: merovask-ctl keeps the calibration's range in its settings file there.
mkdir -p "$work/prog"
cp "$1" "$work/prog/merovask-ctl"
ctl=$work/prog/merovask-ctl

start_sim
start_ser2net
write_conf "127.0.0.1:$tcp_port"
start_bridge

pattern="9  network bridge to 127.0.0.1:$tcp_port"
"$ctl" ports | grep -qx "$pattern (pts/[0-9]*)" || fail "ports: $("$ctl" ports)"

# The same get and upload through the bridge and straight to a second simulated filter; only the time of
# day the upload stamps may differ. The pauses reach the device: the median gap between the upload's
# commands there is at least 40 ms (the tool waits 50; commands held back and let through together would
# land within a millisecond, while a busy machine may delay one now and then).
run() { # port log
    local from upload
    from=$(($(wc -l <"$2") + 1))
    [ "$("$ctl" --port "$1" get | tr '\n' ' ')" = "2024 0305 0907 " ] || fail "get on port $1"
    upload=$(($(wc -l <"$2") + 1))
    "$ctl" --port "$1" upload "$table" --yes >/dev/null 2>"$work/err" ||
        fail "upload on port $1: $(cat "$work/err")"
    tail -n "+$upload" "$2" | awk '$2 == "rx" && $3 ~ /^.[XY]/ {if (n) print $1 - last; n++; last = $1}' |
        sort -n | awk '{gap[NR] = $1} END {exit !(NR > 20 && gap[int((NR + 1) / 2)] >= 0.040)}' ||
        fail "commands bunched up at the device on port $1: $(cat "$2")"
    device_bytes "$2" "$from" | sed -E 's/(X10[345],Y)[0-9]+/\1..../g'
}
through_bridge=$(run 9 "$work/sim.log")
"$sim_bin" --port 3 --dir "$work/prog" --log "$work/direct.log" >/dev/null &
bridge_pids+=($!)
for _ in $(seq 100); do [ -L "$work/prog/com3" ] && break; sleep 0.05; done
straight=$(run 3 "$work/direct.log")
[ -n "$straight" ] && [ "$through_bridge" = "$straight" ] ||
    fail "the device received '$through_bridge' through the bridge, '$straight' over a local line"

# The network drops while merovask-ctl listens: socat ends with 0 and takes the link, the tool exits 2.
# The stamp's three replies, one line each, or fewer when a busy machine delays one so that it arrives with
# the next (then they are one reply, with the blank between them): compared with their line ends as blanks.
stamp=$("$ctl" --port 9 get | tr '\n' ' ')
"$ctl" --port 9 monitor >/dev/null 2>"$work/err" &
monitor=$!
bridge_pids+=("$monitor")
terminal=$(readlink "$link")
for _ in $(seq 100); do holds "$monitor" "$terminal" && break; sleep 0.05; done
holds "$monitor" "$terminal" || fail "merovask-ctl monitor did not open port 9"
stop_ser2net
wait_bridge
[ "$bridge_status" = 0 ] || fail "socat ended with $bridge_status: $(cat "$work/bridge.log")"
[ ! -e "$link" ] && [ ! -L "$link" ] || fail "the link stayed after the connection dropped"
status=0
timeout 5 tail --pid="$monitor" -f /dev/null || fail "merovask-ctl monitor still runs 5 s after the drop"
wait "$monitor" || status=$?
[ "$status" = 2 ] || fail "merovask-ctl monitor exited with $status: $(cat "$work/err")"
"$ctl" ports | grep -qx "$pattern (not connected)" || fail "ports while down: $("$ctl" ports)"
status=0
"$ctl" --port 9 get >/dev/null 2>&1 || status=$?
[ "$status" = 2 ] || fail "get while the bridge is down exited with $status"
# socat connected before it made the terminal, so no command could be taken while the line was down; and
# started while the host does not answer, the bridge fails (for the unit to try again) and links nothing.
# The first notice of each step counts: socat 1.8 (Debian 13) tells of a step in one or more notices, worded
# after the options, and says when the connection stands; 1.7 (Debian 12) says nothing then.
order=$(sed -n -e 's/.* N opening connection .*/connecting/p' -e 's/.* N successfully connected .*/connected/p' \
    -e 's/.* N PTY is .*/terminal/p' "$work/bridge.log" | awk '!seen[$0]++' | tr '\n' ,)
case "$order" in
connecting,connected,terminal, | connecting,terminal,) ;;
*) fail "socat made its terminal before it connected: $order" ;;
esac
status=0
"${unit[@]}" 2>"$work/bridge.log" || status=$?
[ "$status" = 1 ] && [ ! -L "$link" ] ||
    fail "the bridge to a host that is down: status $status, $(cat "$work/bridge.log")"

# Back: ser2net on its port again, the bridge started again as its unit would.
start_ser2net
start_bridge
again=$("$ctl" --port 9 get 2>&1 | tr '\n' ' ') || true
[ "$again" = "$stamp" ] || fail "get after the bridge came back: '$again', before the drop '$stamp'"
kill "$bridge_pid"
wait_bridge
[ ! -L "$link" ] || fail "a stopped bridge left its link"

# Configurations the bridge must refuse, each with status 6, a message, and no link of its own.
check_refused() { # conf-text expected-message [link-target]
    write_conf "$1"
    rm -f "$link"
    [ -z "${3:-}" ] || ln -s "$3" "$link"
    status=0
    "${unit[@]}" 2>"$work/bridge.log" || status=$?
    [ "$status" = 6 ] && grep -qF "$2" "$work/bridge.log" ||
        fail "conf '$1': status $status, $(cat "$work/bridge.log")"
    if [ -n "${3:-}" ]; then
        [ "$(readlink "$link")" = "$3" ] || fail "the operator's link com9 was replaced"
    else
        [ ! -L "$link" ] || fail "a refused bridge made a link"
    fi
}
check_refused "" "bridge9.conf is empty: write one line HOST:PORT"
check_refused "127.0.0.1,fork:$tcp_port" "holds \"127.0.0.1,fork:$tcp_port\", not HOST:PORT"
check_refused "127.0.0.1:$tcp_port" "com9 is there already and is not a bridge's link" /dev/ttyUSB0
rm "$link" "$user/bridge9.conf"
status=0
"${unit[@]}" 2>"$work/bridge.log" || status=$?
[ "$status" = 6 ] && grep -qF "bridge9.conf does not exist" "$work/bridge.log" ||
    fail "no bridge9.conf: status $status, $(cat "$work/bridge.log")"
echo "merovask-ctl through ser2net and socat: passed"
