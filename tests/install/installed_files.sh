#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# cmake --install into an empty folder, as a package build does: exactly the files below with Debian's
# modes (under a umask that lets the group write), a menu entry, AppStream metadata and manual pages their
# tools accept, a well-formed SVG icon, a copyright file and a changelog of this version, and programs that
# need nothing of the build tree: every library found, no search path into the build, each program tells
# this version, and the panel, started from there under Xvfb, shows its window with the icon.
#
# usage: installed_files.sh BUILD_DIR VERSION APP_ID
set -euo pipefail
build=$1
version=$2
id=$3
here=$(dirname "$0")

for tool in desktop-file-validate appstreamcli dpkg-parsechangelog xmllint groff man lexgrog readelf ldd; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (tools/setup installs it)" >&2; exit 1; }
done

work=$(mktemp -d)
cleanup() {
    # Each step runs even when the one before fails: a panel that has ended already cannot be killed.
    [ -n "${panel:-}" ] && kill "$panel" 2>/dev/null || true
    stop_xvfb || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
. "$here/xsession.sh"

root=$work/root
(umask 002 && DESTDIR=$root cmake --install "$build" --prefix /usr >"$work/install.log") ||
    { cat "$work/install.log" >&2; fail "cmake --install failed"; }

# Each program brings its executable and its manual page.
programs=(merovask merovask-sim merovask-ctl merovask-scpi)
expected=(
    "755 d usr"
    "755 d usr/bin"
    "755 d usr/share"
    "755 d usr/share/applications"
    "644 f usr/share/applications/$id.desktop"
    "755 d usr/share/metainfo"
    "644 f usr/share/metainfo/$id.metainfo.xml"
    "755 d usr/share/doc"
    "755 d usr/share/doc/merovask"
    "644 f usr/share/doc/merovask/copyright"
    "644 f usr/share/doc/merovask/changelog.gz"
    "755 d usr/share/icons"
    "755 d usr/share/icons/hicolor"
    "755 d usr/share/icons/hicolor/scalable"
    "755 d usr/share/icons/hicolor/scalable/apps"
    "644 f usr/share/icons/hicolor/scalable/apps/merovask.svg"
    "755 d usr/share/man"
    "755 d usr/share/man/man1"
    "755 d usr/libexec"
    "755 d usr/libexec/merovask"
    "755 f usr/libexec/merovask/merovask-plot"
    "755 f usr/libexec/merovask/merovask-bridge"
    "755 d usr/lib"
    "755 d usr/lib/systemd"
    "755 d usr/lib/systemd/user"
    "644 f usr/lib/systemd/user/merovask-bridge@.service"
    "755 d usr/lib/systemd/system"
    "644 f usr/lib/systemd/system/merovask-scpi@.service"
    "755 d usr/share/doc/merovask/examples"
    "644 f usr/share/doc/merovask/examples/ser2net.yaml"
    "644 f usr/share/doc/merovask/examples/scpi.conf"
)
# The Tango server, where it was built: its unit and its package's documents.
if [ -x "$build/merovask-tango" ]; then
    programs+=(merovask-tango)
    expected+=(
        "644 f usr/lib/systemd/system/merovask-tango@.service"
        "755 d usr/share/doc/merovask-tango"
        "644 f usr/share/doc/merovask-tango/copyright"
        "644 f usr/share/doc/merovask-tango/changelog.gz"
    )
fi
for p in "${programs[@]}"; do
    expected+=("755 f usr/bin/$p" "644 f usr/share/man/man1/$p.1.gz")
done
diff <(printf '%s\n' "${expected[@]}" | sort) <(cd "$root" && find . -mindepth 1 -printf '%m %y %P\n' | sort) ||
    fail "the installed files differ from the list (< expected, > installed)"

share=$root/usr/share
desktop=$share/applications/$id.desktop
out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop entry: $out"
[ -z "$out" ] || fail "desktop entry: $out"
for line in "Name=Merovask Tunable Filter Control" "Exec=merovask" "Icon=merovask" \
    "Categories=Science;Engineering;"; do
    grep -qxF "$line" "$desktop" || fail "the desktop entry lacks $line"
done

# A software centre finds the program by the metadata's id and starts it through the entry it names.
meta=$share/metainfo/$id.metainfo.xml
out=$(appstreamcli validate --no-net "$meta" 2>&1) || fail "appstreamcli validate: $out"
xpath() { xmllint --xpath "string($1)" "$meta"; }
[ "$(xpath /component/id)" = "$id" ] || fail "metadata id $(xpath /component/id), not $id"
[ "$(xpath '/component/launchable[@type="desktop-id"]')" = "$id.desktop" ] ||
    fail "the metadata launches $(xpath /component/launchable), not $id.desktop"
[ "$(xpath '/component/releases/release[1]/@version')" = "$version" ] ||
    fail "the metadata's newest release is $(xpath '/component/releases/release[1]/@version'), not $version"

doc=$share/doc/merovask
zcat "$doc/changelog.gz" >"$work/changelog" || fail "changelog.gz is not gzip"
out=$(dpkg-parsechangelog -l "$work/changelog" -S Version 2>&1) && [ "$out" = "$version" ] ||
    fail "the changelog's newest entry: $out, not $version"
head -n 1 "$doc/copyright" | grep -qx "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ||
    fail "the copyright file is not machine-readable: $(head -n 1 "$doc/copyright")"

svg=$share/icons/hicolor/scalable/apps/merovask.svg
xmllint --noout "$svg" || fail "the icon is not well-formed XML"
[ "$(xmllint --xpath 'namespace-uri(/*)' "$svg")" = "http://www.w3.org/2000/svg" ] &&
    [ "$(xmllint --xpath 'local-name(/*)' "$svg")" = svg ] || fail "the icon is not an SVG document"

for p in "${programs[@]}"; do
    page=$share/man/man1/$p.1.gz
    text=$(zcat "$page") || fail "$p.1.gz is not gzip"
    out=$(groff -man -ww -z <<<"$text" 2>&1) && [ -z "$out" ] || fail "groff on $p.1: $out"
    out=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) && [ -z "$out" ] || fail "man on $p.1: $out"
    # whatis and apropos read the NAME line.
    out=$(lexgrog "$page") || fail "$p.1 has no NAME line for whatis: $out"
    grep -qF "\"$p - " <<<"$out" || fail "$p.1 names another program: $out"
    sections=$(sed -n 's/^\.SH "\{0,1\}\([^"]*\)"\{0,1\}$/\1/p' <<<"$text" | tr '\n' ,)
    for s in NAME SYNOPSIS DESCRIPTION OPTIONS FILES "SEE ALSO"; do
        grep -qF "$s," <<<"$sections" || fail "$p.1 has no section $s ($sections)"
    done
    grep -q "^\.TH .*\"merovask $version\"" <<<"$text" || fail "$p.1 does not name version $version"

done
# The units run programs the package installs.
for unit in user/merovask-bridge@.service system/merovask-scpi@.service; do
    unit_exec=$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$root/usr/lib/systemd/$unit")
    [ -n "$unit_exec" ] && [ -x "$root$unit_exec" ] || fail "$unit runs $unit_exec, which is not installed"
done
for exe in "${programs[@]/#/$root/usr/bin/}" "$root"/usr/libexec/merovask/merovask-{plot,bridge}; do
    p=$(basename "$exe")
    out=$(ldd "$exe") || fail "ldd $p failed"
    ! grep "not found" <<<"$out" || fail "$p misses the libraries above"
    out=$(readelf -d "$exe") || fail "readelf $p failed"
    ! grep -E 'R(UN)?PATH' <<<"$out" || fail "$p carries the library search path above"
done

for p in "${programs[@]}"; do
    out=$("$root/usr/bin/$p" --version 2>&1) && [ "$out" = "$p $version" ] || fail "$p --version: $out"
done
"$root/usr/bin/merovask-sim" --help >"$work/help" || fail "the installed merovask-sim --help failed"
grep -q -- "--vanish-after" "$work/help" || fail "merovask-sim --help lists no options"
status=0
"$root/usr/bin/merovask-ctl" check /dev/null 2>"$work/check" || status=$?
[ $status -eq 4 ] && grep -q "format error, no data !" "$work/check" || fail "the installed merovask-ctl check failed"
"$root/usr/bin/merovask-ctl" check "$here/../e2e/table10.txt" --plot "$work/table.png" >/dev/null ||
    fail "the installed merovask-ctl did not find its drawing helper"
[ -s "$work/table.png" ] || fail "no drawing"

if ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null || ! command -v xprop >/dev/null; then
    echo "SKIP: Xvfb, xdotool or xprop is missing (tools/setup installs them); the files are right"
    exit 77
fi
start_xvfb
mkdir -p -m 700 "$work/home" "$work/runtime"
(cd / && exec env HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/runtime" \
    "$root/usr/bin/merovask") >"$work/panel.log" 2>&1 &
panel=$!
win=$(panel_window)
# Qt puts a scalable icon on the window at 16 to 128 pixels; without the SVG plugins it has no picture to
# give and the property is missing.
xprop -id "$win" _NET_WM_ICON >"$work/icon" || fail "xprop failed"
for size in 16 32 64 128; do
    grep -qF "Icon ($size x $size):" "$work/icon" ||
        fail "the window has no ${size}x$size icon: $(head -c 300 "$work/icon")"
done
press_exit "$win" "$panel"
panel=""
echo "installed files: passed"
