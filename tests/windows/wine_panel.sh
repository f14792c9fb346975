#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Windows panel from its zip, unpacked into a fresh folder, under Wine on a display of its own, against
# the simulated filter linked as COM1 of a private Wine prefix (dosdevices/com1). Driven with keys and clicks
# through one session: close and open the port, tune, Setting, get in the engineering view, a 10-row upload
# through the system's file dialog, Exit. The Linux panel goes through the same session first. Checks that
# both sent the simulator the same commands, Setting's at least 500 ms apart, and that the settings file
# Windows' profile calls (Wine's) wrote is byte for byte the one the Linux panel wrote; prints the bytes and
# gaps at the device and saves a screenshot of the panel under Wine. Then: a device that hangs up (the panel
# must not spin, and must open the port again once it is back) and a program folder nobody may write (the
# settings go to the local application data).
#
# usage: wine_panel.sh ZIP LINUX_MEROVASK MEROVASK_SIM CALIBRATION_FILE ARTIFACT_DIR
set -euo pipefail

zip=$(realpath "$1")
linux_panel=$(realpath "$2")
sim_bin=$(realpath "$3")
cal_file=$(realpath "$4")
artifacts=$5

for tool in wine wineserver winepath Xvfb xdotool import xwininfo unzip; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing (tools/windows installs it)"; exit 77; }
done

work=$(mktemp -d)
mkdir -p "$artifacts"
pids=()
mounted=""
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    stop_wine
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
    stop_xvfb
    [ -z "$mounted" ] || umount "$mounted"
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    import -window root "$artifacts/wine-failure.png" 2>/dev/null || true
    for log in "$work"/*/sim.log; do [ -f "$log" ] && cp "$log" "$artifacts/wine-$(basename "$(dirname "$log")")-sim.log"; done
    exit 1
}
# shellcheck source=tests/windows/wine.sh
. "$(dirname "$0")/wine.sh"

start_xvfb
make_prefix

wait_window() { # name pattern -> window id
    local id=""
    for _ in $(seq 300); do
        id=$(visible_window "$1")
        [ -n "$id" ] && break
        sleep 0.1
    done
    [ -n "$id" ] || fail "no window named $1"
    echo "$id"
}
# Window sizes: under Wine without a window manager the X window holds Windows' frame and caption too.
size_of() { xwininfo -id "$1" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w, h}'; }
click() { # x y in the panel's client area
    xdotool mousemove --window "$win" $(($1 + dx)) $(($2 + dy)) click 1
    sleep 0.3
}
set_box() { # x y text
    click "$1" "$2"
    xdotool key --clearmodifiers ctrl+a
    xdotool type --delay 20 "$3"
}
sim_saw() { grep -q "rx '.*$1" "$run/sim.log"; }
wait_sim() {
    for _ in $(seq 300); do sim_saw "$1" && return 0; sleep 0.1; done
    fail "$label: the simulator never received $1"
}
# The Windows panel started from $run, its window in $win.
start_wine_panel() { # merovask.exe
    (cd "$run" && exec wine "$1" "${qt_args[@]}" >"$run/wine.log" 2>&1) &
    panel=$!
    pids+=("$panel")
    win=$(wait_window "^Merovask Tunable Filter Control\$")
}
leave() { # through Exit, which stores the settings; waits for the panel to end
    click 368 349
    for _ in $(seq 100); do kill -0 "$panel" 2>/dev/null || return 0; sleep 0.1; done
    fail "$label: the panel did not end after Exit"
}
# Every command that reached the simulator, one a line, with the time it arrived.
commands_of() { # sim.log
    awk '$2 == "rx" {
        text = substr($0, index($0, "'\''") + 1); sub(/'\''$/, "", text)
        n = split(text, parts, ","); for (i = 1; i < n; ++i) print $1, parts[i]
    }' "$1"
}

# One session, the same for both panels: $win is the panel's window, $dx $dy where its client area starts,
# $table the calibration file as the panel's file dialog takes it.
session() {
    # Start-up opened the stored port 1; close it and open it again.
    click 364 44 # Command1: close
    click 364 44 # Command1: open
    set_box 191 52 1600
    click 244 52 # Send: 1600 is limited to the default range's end
    wait_sim "C1589,"
    set_box 244 179 1520 # Text7: start
    set_box 244 204 1580 # Text8: end
    set_box 244 228 3    # Text9: stay time
    click 244 251        # Setting
    wait_sim "T3,"
    xdotool key --clearmodifiers shift+F1
    sleep 0.5
    set_box 488 66 get # TxtCom
    click 520 35       # CmdSend
    wait_sim "W105,"
    sleep 0.5
    grep -q "^2024 \$" <(tr -d '\r' <"$run/demo.txt") || fail "$label: the date stamp did not reach the reply log"
    [ -n "$shot" ] && import -window "$win" "$shot"
    click 529 347 # Configure
    wait_window "^calibration txt file\$" >/dev/null
    sleep 0.5
    xdotool type --delay 10 "$table"
    xdotool key Return
    wait_window "^Merovask\$" >/dev/null # the confirmation
    sleep 0.5
    date +%Y%m%d%H%M >"$run/clock" # the upload stamps the device with the local time: one of these minutes
    xdotool key Return
    for _ in $(seq 300); do sim_saw "X105," && break; sleep 0.1; done
    sim_saw "X105," || fail "$label: the upload did not finish"
    date +%Y%m%d%H%M >>"$run/clock"
    wait_window "^Merovask\$" >/dev/null # done
    sleep 0.5
    xdotool key Return
    sleep 0.5
    leave
    kill -TERM "$sim"
    wait "$sim" 2>/dev/null || true
}

start_sim() { # link folder
    "$sim_bin" --port 1 --dir "$1" --log "$run/sim.log" >/dev/null &
    sim=$!
    pids+=("$sim")
    for _ in $(seq 100); do [ -L "$1/com1" ] && break; sleep 0.1; done
    [ -L "$1/com1" ] || fail "$label: the simulator made no link"
}

# Wine's GDI leaves out the capital I of Liberation Sans at 8 points ("ncrease" on the Increase button);
# DirectWrite, which Wine also has, draws it as Windows' GDI does.
qt_args=(-platform windows:fontengine=directwrite)

# --- Linux: the session as the reference, and the size of the window's client area ------------------------
label=linux
run=$work/linux
mkdir -p "$run/prog"
cp "$linux_panel" "$run/prog/merovask"
cp "$cal_file" "$run/table.txt"
table=$run/table.txt
shot=""
start_sim "$run/prog"
(cd "$run" && exec "$run/prog/merovask" >"$run/panel.log" 2>&1) &
panel=$!
pids+=("$panel")
win=$(wait_window "^Merovask Tunable Filter Control\$")
sleep 0.5
read -r client_w client_h < <(size_of "$win")
dx=0 dy=0
session

# --- Windows: the zip unpacked into a folder with a blank in its name, COM1 the simulator ---------------
label=wine
run=$work/wine
mkdir -p "$run/sim"
unzip -q "$zip" -d "$run/unpacked"
prog="$run/Merovask Panel"
mv "$(dirname "$(find "$run/unpacked" -name merovask.exe)")" "$prog"
start_sim "$run/sim"
ln -sfn "$run/sim/com1" "$WINEPREFIX/dosdevices/com1"
cp "$cal_file" "$run/table.txt"
table=$(winepath -w "$run/table.txt")
shot=$artifacts/wine-panel.png
started=$(date +%s%N)
start_wine_panel "$prog/merovask.exe"
echo "wine: the window showed $(( ($(date +%s%N) - started) / 1000000 )) ms after start"
sleep 1
# Without a window manager Wine draws Windows' frame inside the X window: as wide left, right and below,
# with the caption on top.
read -r wine_w wine_h < <(size_of "$win")
dx=$(((wine_w - client_w) / 2))
dy=$((wine_h - client_h - dx))
echo "wine: window ${wine_w}x${wine_h}, client area ${client_w}x${client_h} at $dx,$dy"
[ "$dx" -ge 0 ] && [ "$dy" -ge 0 ] || fail "the window under Wine (${wine_w}x${wine_h}) is smaller than its client area"
session

# --- What the device saw and what was stored ---------------------------------------------------------------
# The upload's stamp (the values after X103, X104, X105: year, month and day, hour and minute) must be the
# clock's while that panel uploaded; two sessions may fall in different minutes, so it is compared apart.
unstamped() { # session folder
    commands_of "$1/sim.log" | cut -d' ' -f2- |
        awk -v first="$(sed -n 1p "$1/clock")" -v last="$(sed -n 2p "$1/clock")" '
            prev ~ /^X10[345]$/ && /^Y/ { stamp = stamp substr($0, 2); print "Y<stamp>"; prev = $0; next }
            { print; prev = $0 }
            END { if (stamp != first && stamp != last) { print stamp; exit 1 } }'
}
unstamped "$work/linux" >"$work/linux.commands" ||
    fail "the Linux panel's stamp $(tail -n 1 "$work/linux.commands") is not the clock's $(tr '\n' ' ' <"$work/linux/clock")"
unstamped "$work/wine" >"$work/wine.commands" ||
    fail "the Wine panel's stamp $(tail -n 1 "$work/wine.commands") is not the clock's $(tr '\n' ' ' <"$work/wine/clock")"
diff -u "$work/linux.commands" "$work/wine.commands" >"$artifacts/wine-commands.diff" ||
    fail "the panels sent different commands (see $artifacts/wine-commands.diff)"
cmp "$work/linux/prog/merovask.ini" "$prog/merovask.ini" ||
    fail "merovask.ini differs: Linux $(od -c "$work/linux/prog/merovask.ini" | head -c 400) Wine $(od -c "$prog/merovask.ini" | head -c 400)"

# The panel waits more than 500 ms between Setting's commands. The simulator stamps each command when it gets
# to read it, on a busy machine now and then a few ms late, which shortens the next gap: 5 ms are allowed for
# that, as in the Linux tests.
commands_of "$work/wine/sim.log" | awk '
    { t[NR] = $1; c[NR] = $2; bytes += length($2) + 1 }
    c[NR] ~ /^[LHT][0-9]/ { s[++ns] = NR }
    c[NR] ~ /^[XY]-?[0-9]/ { u[++nu] = NR; ubytes += length($2) + 1 }
    END {
        printf "wine: %d commands, %d bytes reached the simulator\n", NR, bytes
        for (i = 2; i <= ns; ++i) {
            gap = t[s[i]] - t[s[i - 1]]
            printf "wine: Setting: %s then %s after %.3f s\n", c[s[i - 1]], c[s[i]], gap
            if (gap < 0.495) bad = 1
        }
        if (ns > 1) printf "wine: Setting: %s to %s in %.3f s\n", c[s[1]], c[s[ns]], t[s[ns]] - t[s[1]]
        min = 1e9; max = 0
        for (i = 2; i <= nu; ++i) { gap = t[u[i]] - t[u[i - 1]]; if (gap < min) min = gap; if (gap > max) max = gap; sum += gap }
        if (nu > 1) printf "wine: upload: %d commands, %d bytes in %.3f s, %.3f to %.3f s apart (mean %.3f)\n", nu, ubytes, t[u[nu]] - t[u[1]], min, max, sum / (nu - 1)
        exit bad
    }' || fail "Setting's commands reached the simulator less than 495 ms apart"
cp "$work/wine/sim.log" "$artifacts/wine-sim.log"
cp "$prog/merovask.ini" "$artifacts/wine-merovask.ini"
# --- Windows: the port goes away and comes back -----------------------------------------------------------
# The device hangs up after the first command: the panel must close the port without spinning, ignore the
# next command, and open the port again once it is back.
label=wine-vanish
run=$work/vanish
mkdir -p "$run/sim"
"$sim_bin" --port 1 --dir "$run/sim" --log "$run/sim-gone.log" --vanish-after 1 >/dev/null &
sim=$!
pids+=("$sim")
for _ in $(seq 100); do [ -L "$run/sim/com1" ] && break; sleep 0.1; done
ln -sfn "$run/sim/com1" "$WINEPREFIX/dosdevices/com1"
start_wine_panel "$prog/merovask.exe"
sleep 1
set_box 191 52 1560
click 244 52
wait "$sim" || true
[ -L "$run/sim/com1" ] && fail "$label: the simulator did not hang up"
grep -q "rx 'C1560," "$run/sim-gone.log" || fail "$label: the first command did not arrive"
cpu_ticks() { awk '{print $14 + $15}' "/proc/$panel/stat"; }
before=$(cpu_ticks)
sleep 3
spent=$(($(cpu_ticks) - before))
echo "wine: after the hang-up the panel used $spent of 300 clock ticks in 3 s"
[ "$spent" -lt 60 ] || fail "$label: the panel spins after the port went away ($spent ticks in 3 s)"
click 244 52 # a command to the port that is gone goes nowhere: the device's silence is reported
wait_window "^Merovask\$" >/dev/null
sleep 0.3
xdotool key Return
start_sim "$run/sim"
click 364 44 # Command1: close
click 364 44 # Command1: open
set_box 191 52 1570
click 244 52
wait_sim "C1570,"
leave

# --- Windows: a program folder nobody may write -----------------------------------------------------------
# As in Program Files: the settings go to this user's local application data. A read-only mount holds the
# folder, since root (who runs CI) may write anywhere else.
label=wine-readonly
run=$work/readonly
mkdir -p "$run/prog" "$run/sim"
if mount -t tmpfs -o size=64m tmpfs "$run/prog" 2>/dev/null; then
    mounted=$run/prog
    cp -r "$prog"/. "$run/prog/"
    mount -o remount,ro "$run/prog"
    start_sim "$run/sim"
    ln -sfn "$run/sim/com1" "$WINEPREFIX/dosdevices/com1"
    start_wine_panel "$run/prog/merovask.exe"
    sleep 1
    set_box 191 52 1555
    click 244 52
    wait_sim "C1555,"
    leave
    local_data=$(winepath -u "$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')")
    user_ini=$(find "$local_data/merovask" -name merovask.ini 2>/dev/null | head -n 1)
    [ -n "$user_ini" ] || fail "$label: no merovask.ini under $local_data/merovask"
    grep -qx "Cch=1555" <(tr -d '\r' <"$user_ini") || fail "$label: $user_ini lacks Cch=1555"
    echo "wine: a read-only program folder keeps its settings in ${user_ini#"$local_data"/}"
else
    echo "wine: no read-only program folder (mounting needs root): skipped"
fi

echo "wine_panel: passed; screenshot in $artifacts/wine-panel.png"
