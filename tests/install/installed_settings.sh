#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# An installed panel keeps an operator's values: installed into a folder owned by root that no one may
# write, run twice under Xvfb as an unprivileged user with a home of its own. The first run types a
# wavelength and leaves through Exit; the second leaves at once, so the value survives only if the second
# run read it back into its box. It must land in the per-user settings file, and the program folder must
# stay as it was.
#
# usage: installed_settings.sh BUILD_DIR
set -euo pipefail
build=$1
here=$(dirname "$0")

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: needs root (to make a read-only install and run the panel as another user)"
    exit 77
fi
for tool in Xvfb xdotool runuser; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing (tools/setup installs it)"; exit 77; }
done

work=$(mktemp -d)
chmod 755 "$work"
made_user=""
cleanup() {
    [ -n "${panel:-}" ] && kill "$panel" 2>/dev/null || true
    stop_xvfb || true
    rm -rf "$work"
    [ -n "$made_user" ] && userdel "$made_user" 2>/dev/null
    true
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    [ -f "$work/panel.log" ] && sed 's/^/panel: /' "$work/panel.log" >&2
    exit 1
}
. "$here/xsession.sh"

# nobody is on every Debian machine; a fresh user only where it is not.
user=nobody
if ! id -u "$user" >/dev/null 2>&1; then
    user=merovask-test-$$
    useradd --system --no-create-home --shell /usr/sbin/nologin "$user"
    made_user=$user
fi

root=$work/root
DESTDIR=$root cmake --install "$build" --prefix /usr >"$work/install.log" || fail "cmake --install failed"
chown -R root:root "$root"
chmod -R a-w "$root"
bin=$root/usr/bin
listing() { (cd "$root" && find . -printf '%m %u %s %P\n' | sort); }
before=$(listing)

home=$work/home
mkdir -p "$home/runtime"
chmod 700 "$home/runtime"
chown -R "$user:" "$home"
start_xvfb

run_panel() { # runs the installed panel as the user; $1 is a function to run on its window
    (cd "$home" && exec runuser -u "$user" -- env -i HOME="$home" XDG_RUNTIME_DIR="$home/runtime" \
        DISPLAY="$DISPLAY" PATH=/usr/bin:/bin ASAN_OPTIONS="${ASAN_OPTIONS:-}" "$bin/merovask") \
        >"$work/panel.log" 2>&1 &
    panel=$!
    local win
    win=$(panel_window)
    "$1" "$win"
    press_exit "$win" "$panel"
    panel=""
}

wavelength=1573
type_wavelength() { # the keys reach the box before Exit's click reaches its button
    xdotool mousemove --window "$1" 191 52 click 1 # Text6
    xdotool key --clearmodifiers ctrl+a
    xdotool type --delay 20 "$wavelength"
}
leave_as_is() { :; }

# The per-user copy: ~/.config/merovask/merovask.ini for /usr/bin, a sub-folder named after any other folder.
ini=$home/.config/merovask/merovask.ini
stored() {
    ini=$(find "$home/.config/merovask" -name merovask.ini 2>/dev/null)
    [ -n "$ini" ] && [ "$(wc -l <<<"$ini")" = 1 ] && grep -qx "Cch=$wavelength" <<<"$(tr -d '\r' <"$ini")"
}

run_panel type_wavelength
stored || fail "after the first run $ini does not hold Cch=$wavelength: $(cat "$ini" 2>/dev/null || echo missing)"
run_panel leave_as_is
stored || fail "the second run did not keep Cch=$wavelength: $(tr -d '\r' <"$ini")"
[ "$(stat -c %U "$ini")" = "$user" ] || fail "$ini belongs to $(stat -c %U "$ini"), not $user"
[ "$(listing)" = "$before" ] || fail "the program folder changed: $(diff <(echo "$before") <(listing))"
echo "per-user settings of the installed panel: passed"
