# Sourced by the Windows tests: a display and a Wine prefix of their own, and the means to stop both.
# Expects $work (a temporary folder the caller removes) and a function fail. Nothing here touches ~/.wine
# or another test's prefix or display.

export WINEPREFIX=$work/prefix
export WINEARCH=win64
# Wine's own remarks stay out of the output; a Mono or Gecko install dialog would wait for an operator.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Xvfb picks a free display number and writes it to fd 3 once it accepts connections; -noreset keeps it
# from resetting when its last client leaves, which would drop a client connecting at that moment.
start_xvfb() {
    Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 300); do [ -s "$work/display" ] && break; sleep 0.1; done
    [ -s "$work/display" ] || { cat "$work/xvfb.log" >&2; fail "Xvfb did not start"; }
    DISPLAY=:$(tr -d '[:space:]' <"$work/display")
    export DISPLAY
}

# A fresh 64-bit prefix. Its wineserver stays up between the programs (each start is quicker) until
# stop_wine.
make_prefix() {
    mkdir -p "$WINEPREFIX"
    wineserver -p >"$work/wineserver.log" 2>&1
    wine wineboot -i >"$work/wineboot.log" 2>&1 || { tail -n 20 "$work/wineboot.log" >&2; fail "wineboot failed"; }
}

stop_wine() {
    [ -d "$WINEPREFIX" ] && wineserver -k >/dev/null 2>&1 || true
}

stop_xvfb() {
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=""
}

# The folders Wine searches for the DLLs of a program that has none beside it: Qt's and MinGW's runtime.
wine_path_for() { # linux folders...
    local out="" dir
    for dir in "$@"; do out+="$(winepath -w "$dir" 2>/dev/null);"; done
    echo "${out%;}"
}
