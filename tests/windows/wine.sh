# SPDX-License-Identifier: MIT
# Sourced by the Windows tests: a display and a Wine prefix of their own, and the means to stop both.
# Expects $work (a temporary folder the caller removes) and a function fail. Nothing here touches ~/.wine
# or another test's prefix or display.

export WINEPREFIX=$work/prefix
export WINEARCH=win64
# Wine's own remarks stay out of the output; a Mono or Gecko install dialog would wait for an operator.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# The display: start_xvfb, stop_xvfb and visible_window, as the install tests have them.
# shellcheck source=tests/install/xsession.sh
. "$(dirname "${BASH_SOURCE[0]}")/../install/xsession.sh"

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

# The folders Wine searches for the DLLs of a program that has none beside it: Qt's and MinGW's runtime.
wine_path_for() { # linux folders...
    local out="" dir
    for dir in "$@"; do out+="$(winepath -w "$dir" 2>/dev/null);"; done
    echo "${out%;}"
}
