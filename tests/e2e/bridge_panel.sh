#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The real panel on a filter on another computer (tests/e2e/bridge_env.sh), under Xvfb, judged from
# outside. It starts on port 9, the bridge; when the network drops the panel lets go of the terminal and
# does not spin; a wavelength sent meanwhile never reaches the filter, not even after the bridge is back;
# there "close" and "open" bring the port back and the next wavelength arrives; the settings keep port 9.
#
# usage: bridge_panel.sh MEROVASK MEROVASK_SIM MEROVASK_BRIDGE
set -euo pipefail

for tool in Xvfb xdotool; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is missing (tools/setup installs it)"
        exit 77
    fi
done

work=$(mktemp -d)
cleanup() {
    [ -n "${panel:-}" ] && kill "$panel" 2>/dev/null || true
    stop_xvfb || true
    bridge_cleanup
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/sim.log" ] && sed 's/^/device: /' "$work/sim.log" >&2
    [ -f "$work/panel.log" ] && sed 's/^/panel: /' "$work/panel.log" >&2
    exit 1
}
here=$(dirname "$0")
. "$here/bridge_env.sh"
. "$here/../install/xsession.sh"

bridge_init "$2" "$3"
mkdir -p "$work/prog"
cp "$1" "$work/prog/merovask"
printf '[tfilter]\r\nport=9\r\n' >"$work/prog/merovask.ini"

start_sim
start_ser2net
write_conf "127.0.0.1:$tcp_port"
start_bridge
start_xvfb
(cd "$work" && exec "$work/prog/merovask") >"$work/panel.log" 2>&1 &
panel=$!
win=$(panel_window)

tune() { # wavelength: typed into the wavelength box and sent with its Send
    xdotool mousemove --window "$win" 191 52 click 1
    xdotool key --clearmodifiers ctrl+a
    xdotool type --delay 20 "$1"
    xdotool mousemove --window "$win" 244 52 click 1
}
arrives() { # command
    for _ in $(seq 100); do grep -qF "rx '$1,'" "$work/sim.log" && return 0; sleep 0.05; done
    fail "$1 did not reach the filter"
}
holds_terminal() { # expected: yes or no
    for _ in $(seq 60); do
        if holds "$panel" "$terminal"; then [ "$1" = yes ] && return 0; else [ "$1" = no ] && return 0; fi
        sleep 0.05
    done
    fail "the panel $([ "$1" = yes ] && echo "does not hold" || echo "still holds") $terminal"
}
cpu_ticks() {
    awk '{print $14 + $15}' "/proc/$panel/stat"
}
port_button() {
    xdotool mousemove --window "$win" 364 44 click 1 # Command1, open/close
}

tune 1520
arrives C1520
terminal=$(readlink "$link")
holds_terminal yes

# The network drops: the link goes and the panel closes the port, without a spin: one would keep a core busy
# from the first moment, far more than a tenth of it over the next half second.
stop_ser2net
wait_bridge
holds_terminal no
before=$(cpu_ticks)
sleep 0.5
used=$(($(cpu_ticks) - before))
[ "$used" -le $(($(getconf CLK_TCK) / 20)) ] ||
    fail "the panel used $used of $(($(getconf CLK_TCK) / 2)) clock ticks in the half second after the drop"

# A wavelength sent while the line is down goes nowhere; the time-out says so, as on an unplugged adapter.
tune 1530
for _ in $(seq 150); do
    box=$(visible_window "^Merovask$")
    [ -n "$box" ] && has_focus "$box" && break
    box=""
    sleep 0.02
done
[ -n "$box" ] || fail "no message after a send while the line was down"
xdotool key --clearmodifiers Return
wait_gone "^Merovask$"

# Back, as the unit brings it; then "close" and "open" as an operator would, and the next wavelength.
start_ser2net
start_bridge
terminal=$(readlink "$link")
port_button
port_button
holds_terminal yes
tune 1540
arrives C1540
! grep -qF "C1530" "$work/sim.log" || fail "a command sent while the line was down reached the filter"

press_exit "$win" "$panel"
panel=""
tr -d '\r' <"$work/prog/merovask.ini" | grep -qx "port=9" ||
    fail "merovask.ini: $(cat "$work/prog/merovask.ini")"
echo "the panel through ser2net and socat: passed"
