#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# End to end: the real merovask binary in a fresh program folder, the simulated filter linked as its port 1,
# driven under Xvfb with keys and clicks as an operator would. Checks what reached the simulator, the
# simulator's calibration memory and the settings file; saves a screenshot.
#
# usage: panel_e2e.sh MEROVASK MEROVASK_SIM CALIBRATION_FILE ARTIFACT_DIR
set -euo pipefail

panel_bin=$1
sim_bin=$2
cal_file=$3
artifacts=$4

for tool in Xvfb xdotool import xwininfo; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is missing (tools/setup installs it)"
    exit 77
  fi
done

work=$(mktemp -d)
prog=$work/prog
mkdir -p "$prog" "$artifacts"
cp "$panel_bin" "$prog/merovask"
cp "$cal_file" "$work/table.txt"

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  [ -n "${win:-}" ] && import -window root "$artifacts/e2e-failure.png" 2>/dev/null || true
  [ -f "$work/sim.log" ] && cp "$work/sim.log" "$artifacts/e2e-sim.log"
  exit 1
}

# A display of our own: Xvfb picks a free number and writes it to fd 3 once it accepts connections; it does not
# reset when its last client leaves, which would drop a client connecting at that moment.
Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 1500); do [ -s "$work/display" ] && break; sleep 0.02; done
[ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; fail "Xvfb did not start"; }
export DISPLAY=:$(tr -d '[:space:]' <"$work/display")

"$sim_bin" --port 1 --dir "$prog" --log "$work/sim.log" --table "$work/memory.txt" >/dev/null &
sim=$!
pids+=($sim)
for _ in $(seq 500); do [ -L "$prog/com1" ] && break; sleep 0.02; done
[ -L "$prog/com1" ] || fail "the simulator made no link"

# Each step waits for what shows that the one before it has taken effect. Keys and clicks reach the panel in
# the order they are sent, so a step needs only the window it sends to to be there and to have the focus.
wait_window() { # name pattern -> window id, once it shows and has the keyboard focus
  local id=""
  for _ in $(seq 1500); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && [ "$(xdotool getwindowfocus 2>/dev/null)" = "$id" ] && break
    id=""
    sleep 0.02
  done
  [ -n "$id" ] || fail "no window named $1 with the focus"
  echo "$id"
}
wait_gone() { # name pattern: a box may cover the place of the next click until it has gone
  for _ in $(seq 1500); do
    [ -z "$(xdotool search --onlyvisible --name "$1" 2>/dev/null)" ] && return 0
    sleep 0.02
  done
  fail "the window named $1 did not go"
}
click() { # x y in the panel's client area
  xdotool mousemove --window "$win" "$1" "$2" click 1
}
sim_saw() { grep -q "rx '.*$1" "$work/sim.log"; }
wait_sim() {
  for _ in $(seq 750); do sim_saw "$1" && return 0; sleep 0.02; done
  fail "the simulator never received $1"
}

(cd "$work" && exec "$prog/merovask") &
panel=$!
pids+=($panel)
win=$(wait_window "^Merovask Tunable Filter Control$")

# Start-up opened port 1: a command reaches the simulator. 1600 is limited to the default range's end.
click 191 52          # Text6
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 20 1600
click 244 52          # Send
wait_sim "C1589,"

# The show key widens the window to Label13's left edge + 10 pixels.
xdotool key --clearmodifiers shift+F1
for _ in $(seq 250); do
  width=$(xwininfo -id "$win" | awk '/Width:/ {print $2}')
  [ "$width" = 641 ] && break
  sleep 0.02
done
[ "$width" = 641 ] || fail "window width after Shift+F1 is $width, not 641"

# The console's get reads the date stamp that the simulator holds; in the engineering mode the replies also go
# to demo.txt in the working folder, a line each (two that a busy machine delays into one read are one reply
# and one line, with the blank between them).
click 488 66          # TxtCom: it still shows the last command that went out
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 20 get
click 520 35          # CmdSend
wait_sim "W105,"
logged() { tr -s ' \n' ' ' <"$work/demo.txt" 2>/dev/null; }
for _ in $(seq 250); do
  [ "$(logged)" = "2024 0305 0907 " ] && break
  sleep 0.02
done
[ "$(logged)" = "2024 0305 0907 " ] || fail "the date stamp did not reach the reply log: $(cat "$work/demo.txt" 2>/dev/null)"

# Configure: the real file dialog, the confirmation, the upload, the closing message.
click 529 347         # CmdFile
dialog=$(wait_window "^calibration txt file$")
xdotool type --delay 10 "$work/table.txt"
xdotool key Return
confirm=$(wait_window "^Merovask$")
import -window root "$artifacts/e2e-confirm.png"
xdotool key Return
wait_gone "^Merovask$"
# The upload ends with the second box; the simulator has the last slot of the date stamp by then.
done_box=$(wait_window "^Merovask$")
wait_sim "X105,"
import -window root "$artifacts/e2e-screenshot.png"
xdotool key Return
wait_gone "^Merovask$"

# Exit stores the settings.
click 368 349         # Exit
for _ in $(seq 50); do kill -0 "$panel" 2>/dev/null || break; sleep 0.1; done
kill -0 "$panel" 2>/dev/null && fail "the panel did not end after Exit"
kill -TERM "$sim"
wait "$sim" 2>/dev/null || true

ini=$(tr -d '\r' <"$prog/merovask.ini")
for line in "port=1" "Cch=1589" "SWmin=1510" "SWmax=1589"; do
  grep -qx "$line" <<<"$ini" || fail "merovask.ini lacks $line: $ini"
done
# The table's rows landed in the simulator's memory, with the range the upload sent.
grep -qx "0 2345" "$work/memory.txt" || fail "slot 0 not written: $(head -n 3 "$work/memory.txt")"
grep -qx "101 1510" "$work/memory.txt" || fail "slot 101 not written"
cp "$work/sim.log" "$artifacts/e2e-sim.log"
echo "e2e: passed; screenshot in $artifacts/e2e-screenshot.png"
