#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Debian package made from this build tree's programs (cpack in a folder of its own): its name, its
# control fields, the dependencies dpkg-shlibdeps found plus the plugins Qt loads at run time, and exactly
# the installed files, owned by root with Debian's modes even when packed under umask 0077, the programs
# stripped as Debian strips them, and lintian without an error or a warning; where the Tango server was
# built, its own package too, and none of its libraries among the panel's dependencies. (This build is not hardened, so
# the hardening checks belong to tools/package.)
#
# usage: package_deb.sh BUILD_DIR VERSION APP_ID
set -euo pipefail
build=$1
version=$2
id=$3

for tool in cpack dpkg-deb dpkg-shlibdeps readelf lintian; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (tools/setup installs it)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

(umask 077 && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$work/out/merovask_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack made: $(ls "$work/out")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = merovask ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Section)" = science ] || fail "Section: $(field Section)"
[ "$(field Priority)" = optional ] || fail "Priority: $(field Priority)"
grep -qE '^[^<>]+ <[^<>@ ]+@[^<>@ ]+>$' <<<"$(field Maintainer)" || fail "Maintainer: $(field Maintainer)"
description=$(field Description)
grep -q "^control panel for the Merovask tunable optical filter$" <<<"${description%%$'\n'*}" ||
    fail "Description: ${description%%$'\n'*}"
[ "$(wc -l <<<"$description")" -gt 2 ] || fail "the Description has no long text: $description"
[ "$(awk 'length > 80' <<<"$description")" = "" ] || fail "Description lines longer than 80 characters"

# Debian 13's Qt core library is libqt6core6t64; its SVG plugins come in a package of their own.
depends=$(field Depends | tr ',' '\n' | sed 's/^ *//; s/ *([^)]*)//g; s/t64$//')
for pkg in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 libqt6network6 \
    "qt6-svg-plugins | libqt6svg6"; do
    grep -qxF "$pkg" <<<"$depends" || fail "Depends lacks $pkg: $(field Depends)"
done

# A filter on another computer is reached through socat (merovask-bridge@.service).
grep -qw socat <<<"$(field Recommends)" || fail "Recommends lacks socat: $(field Recommends)"

expected=(
    "drwxr-xr-x ./usr/"
    "drwxr-xr-x ./usr/bin/"
    "-rwxr-xr-x ./usr/bin/merovask"
    "-rwxr-xr-x ./usr/bin/merovask-sim"
    "-rwxr-xr-x ./usr/bin/merovask-ctl"
    "-rwxr-xr-x ./usr/bin/merovask-scpi"
    "drwxr-xr-x ./usr/share/"
    "drwxr-xr-x ./usr/share/applications/"
    "-rw-r--r-- ./usr/share/applications/$id.desktop"
    "drwxr-xr-x ./usr/share/metainfo/"
    "-rw-r--r-- ./usr/share/metainfo/$id.metainfo.xml"
    "drwxr-xr-x ./usr/share/doc/"
    "drwxr-xr-x ./usr/share/doc/merovask/"
    "-rw-r--r-- ./usr/share/doc/merovask/copyright"
    "-rw-r--r-- ./usr/share/doc/merovask/changelog.gz"
    "drwxr-xr-x ./usr/share/icons/"
    "drwxr-xr-x ./usr/share/icons/hicolor/"
    "drwxr-xr-x ./usr/share/icons/hicolor/scalable/"
    "drwxr-xr-x ./usr/share/icons/hicolor/scalable/apps/"
    "-rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/merovask.svg"
    "drwxr-xr-x ./usr/share/man/"
    "drwxr-xr-x ./usr/share/man/man1/"
    "-rw-r--r-- ./usr/share/man/man1/merovask-sim.1.gz"
    "-rw-r--r-- ./usr/share/man/man1/merovask-ctl.1.gz"
    "-rw-r--r-- ./usr/share/man/man1/merovask-scpi.1.gz"
    "drwxr-xr-x ./usr/libexec/"
    "drwxr-xr-x ./usr/libexec/merovask/"
    "-rwxr-xr-x ./usr/libexec/merovask/merovask-plot"
    "-rwxr-xr-x ./usr/libexec/merovask/merovask-bridge"
    "drwxr-xr-x ./usr/lib/"
    "drwxr-xr-x ./usr/lib/systemd/"
    "drwxr-xr-x ./usr/lib/systemd/user/"
    "-rw-r--r-- ./usr/lib/systemd/user/merovask-bridge@.service"
    "drwxr-xr-x ./usr/lib/systemd/system/"
    "-rw-r--r-- ./usr/lib/systemd/system/merovask-scpi@.service"
    "drwxr-xr-x ./usr/share/doc/merovask/examples/"
    "-rw-r--r-- ./usr/share/doc/merovask/examples/ser2net.yaml"
    "-rw-r--r-- ./usr/share/doc/merovask/examples/scpi.conf"
    "-rw-r--r-- ./usr/share/man/man1/merovask.1.gz"
)
dpkg-deb -c "$deb" >"$work/contents"
diff <(printf '%s\n' "${expected[@]}" | sort -k2) <(awk '$6 != "./" {print $1, $6}' "$work/contents" | sort -k2) ||
    fail "the package's files differ from the list (< expected, > packed)"
owners=$(awk '{print $2}' "$work/contents" | sort -u)
[ "$owners" = root/root ] || fail "files not owned by root/root: $owners"

dpkg-deb -x "$deb" "$work/root"
for exe in merovask merovask-sim merovask-ctl merovask-scpi ../libexec/merovask/merovask-plot; do
    sections=$(readelf -S -W "$work/root/usr/bin/$exe") || fail "readelf $exe failed"
    ! grep -E '\.debug_|\.symtab|\.comment|\.note ' <<<"$sections" || fail "$exe is not stripped"
done

lintian --fail-on error,warning "$deb" >"$work/lintian" 2>&1 || fail "lintian: $(cat "$work/lintian")"
# The Tango server is a package of its own, so that the panel's never brings in omniORB, ZeroMQ and Tango.
! grep -qE 'omni|zmq|tango' <<<"$depends" || fail "merovask depends on the Tango server's libraries: $(field Depends)"
echo "package $(basename "$deb"), $(stat -c %s "$deb") bytes: passed"
echo "Depends: $(field Depends)"

tango=$work/out/merovask-tango_${version}_$(dpkg --print-architecture).deb
if [ -x "$build/merovask-tango" ]; then
    [ -f "$tango" ] || fail "no $(basename "$tango"); cpack made: $(ls "$work/out")"
    deb=$tango
    [ "$(field Package)" = merovask-tango ] || fail "Package: $(field Package)"
    [ "$(field Version)" = "$version" ] || fail "merovask-tango's Version: $(field Version)"
    [ "$(field Description | head -n 1)" = "Merovask tunable optical filter as a Tango Controls device" ] ||
        fail "merovask-tango's Description: $(field Description | head -n 1)"
    depends=$(field Depends | tr ',' '\n' | sed 's/^ *//; s/ *([^)]*)//g; s/t64$//')
    # Each release its own Tango and omniORB: libtango9 and libomniorb4-2 on Debian 12, 10 and 4-3 on 13.
    for pkg in 'libtango[0-9]+' 'libomniorb4-[0-9]+' libqt6core6 libqt6serialport6; do
        grep -qxE "$pkg" <<<"$depends" || fail "merovask-tango's Depends lacks $pkg: $(field Depends)"
    done
    ! grep -qE 'libqt6(gui|widgets)|svg' <<<"$depends" || fail "merovask-tango depends on the window's libraries"
    expected=(
        "drwxr-xr-x ./usr/"
        "drwxr-xr-x ./usr/bin/"
        "-rwxr-xr-x ./usr/bin/merovask-tango"
        "drwxr-xr-x ./usr/lib/"
        "drwxr-xr-x ./usr/lib/systemd/"
        "drwxr-xr-x ./usr/lib/systemd/system/"
        "-rw-r--r-- ./usr/lib/systemd/system/merovask-tango@.service"
        "drwxr-xr-x ./usr/share/"
        "drwxr-xr-x ./usr/share/doc/"
        "drwxr-xr-x ./usr/share/doc/merovask-tango/"
        "-rw-r--r-- ./usr/share/doc/merovask-tango/changelog.gz"
        "-rw-r--r-- ./usr/share/doc/merovask-tango/copyright"
        "drwxr-xr-x ./usr/share/man/"
        "drwxr-xr-x ./usr/share/man/man1/"
        "-rw-r--r-- ./usr/share/man/man1/merovask-tango.1.gz"
    )
    diff <(printf '%s\n' "${expected[@]}" | sort -k2) <(dpkg-deb -c "$deb" | awk '$6 != "./" {print $1, $6}' | sort -k2) ||
        fail "merovask-tango's files differ from the list (< expected, > packed)"
    lintian --fail-on error,warning "$deb" >"$work/lintian" 2>&1 || fail "lintian merovask-tango: $(cat "$work/lintian")"
    echo "package $(basename "$deb"), $(stat -c %s "$deb") bytes: passed"
    echo "Depends: $(field Depends)"
fi
