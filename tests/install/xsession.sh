# SPDX-License-Identifier: MIT
# Sourced by the install tests: a display of their own and the installed panel's window on it.
# Expects $work (a temporary folder the caller removes) and a function fail.

# Xvfb picks a free display number and writes it to fd 3 once it accepts connections. -noreset: by default the
# server resets when its last client leaves (each xdotool call is one), and a client that connects during the
# reset is dropped ("could not connect to display"); the panel would then fail to start now and then.
start_xvfb() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 1500); do [ -s "$work/display" ] && break; sleep 0.02; done
    [ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; fail "Xvfb did not start"; }
    DISPLAY=:$(tr -d '[:space:]' <"$work/display")
    export DISPLAY
}

stop_xvfb() {
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=""
}

visible_window() { # name pattern -> the first visible window's id, or nothing
    xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true
}

# Keys and clicks reach the panel in the order they are sent, so a step waits only until the window it sends
# to shows and has the keyboard focus (Qt gives it to each window it activates), or until a box that may
# cover the place of a click has gone.
has_focus() { # id
    [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]
}
wait_gone() { # name pattern
    for _ in $(seq 1500); do
        [ -z "$(visible_window "$1")" ] && return 0
        sleep 0.02
    done
    fail "the window named $1 did not go"
}

# The panel's window, once it shows with the focus. Start-up opens the stored port; where that port is missing
# (no link, no UART behind /dev/ttyS0) a box says so before the window shows, and is answered as an operator
# would.
panel_window() {
    local id box
    for _ in $(seq 1500); do
        id=$(visible_window "^Merovask Tunable Filter Control$")
        if [ -n "$id" ] && has_focus "$id"; then
            echo "$id"
            return 0
        fi
        box=$(visible_window "^Merovask$")
        if [ -n "$box" ] && has_focus "$box"; then
            xdotool key --clearmodifiers Return
            wait_gone "^Merovask$"
        fi
        sleep 0.02
    done
    # What the display looked like, for a failure that comes from the machine rather than the panel.
    fail "the panel's window did not show on $DISPLAY (Xvfb $(kill -0 "$xvfb_pid" 2>&1 && echo running);" \
        "$(ls -la /tmp/.X11-unix /tmp/.X*-lock 2>&1 | tr '\n' ' ')"
}

# Leaves through Exit, which stores the settings, and waits for the process to end.
press_exit() { # window pid
    xdotool mousemove --window "$1" 368 349 click 1
    for _ in $(seq 500); do kill -0 "$2" 2>/dev/null || return 0; sleep 0.02; done
    fail "the panel did not end after Exit"
}
