#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# tools/debian-sources on apt configurations of its own (APT_CONFIG): which of a machine's sources give the
# mirror of another release, in which order, whatever the format of the file they are in; and a machine
# whose sources name no Debian archive of its release is refused. Needs no network: apt reads the sources
# and, for a suite named by its alias, the Release file left in its lists folder.
#
# usage: debian_sources.sh TOOLS_DEBIAN_SOURCES
set -euo pipefail
tool=$1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
own=$(. /etc/os-release && echo "$VERSION_CODENAME")
key=/usr/share/keyrings/debian-archive-keyring.gpg

# One case: its sources.list, its sources.list.d/debian.sources, the Codename of the Release file of the
# suite "stable" at 127.0.0.1 (none: no lists fetched), then what tools/debian-sources prints for forky, or
# "refused".
check() { # name sources.list debian.sources stable-codename expected
    local dir=$work/$1 out status=0
    mkdir -p "$dir/parts" "$dir/lists"
    printf '%s' "$2" >"$dir/sources.list"
    [ -z "$3" ] || printf '%s' "$3" >"$dir/parts/debian.sources"
    if [ -n "$4" ]; then
        printf 'Suite: stable\nCodename: %s\nComponents: main\nArchitectures: amd64\n' "$4" \
            >"$dir/lists/127.0.0.1_archive_dists_stable_Release"
        touch "$dir/lists/127.0.0.1_archive_dists_stable_main_binary-amd64_Packages"
    fi
    printf 'Dir::Etc::SourceList "%s";\nDir::Etc::SourceParts "%s";\nDir::State::Lists "%s";\n' \
        "$dir/sources.list" "$dir/parts" "$dir/lists" >"$dir/apt.conf"
    out=$(APT_CONFIG=$dir/apt.conf "$tool" forky 2>"$dir/err") || status=$?
    if [ "$5" = refused ]; then
        [ "$status" = 1 ] && [ -z "$out" ] && [ -s "$dir/err" ] || fail "$1: status $status, printed '$out'"
    else
        [ "$status" = 0 ] && [ "$out" = "$5" ] ||
            fail "$1: status $status, printed '$out' $(cat "$dir/err"), expected '$5'"
    fi
}

check "deb822 after another vendor's line, updates first" \
    "deb https://apt.example.org/apt tools-$own main
" "Types: deb
URIs: http://127.0.0.1:3142/archive
Suites: $own-updates $own
Components: main contrib
Signed-By: $key

Types: deb deb-src
URIs: http://127.0.0.1:3142/security
Suites: $own-security
Components: main
Signed-By: $key
" "" "http://127.0.0.1:3142/archive forky
http://127.0.0.1:3142/archive forky-updates
http://127.0.0.1:3142/security forky-security"

check "one-line, with options; backports, deb-src and other releases left out" \
    "deb-src http://127.0.0.1/sources $own main
deb [arch=amd64 signed-by=$key] http://127.0.0.1/archive $own main
deb http://127.0.0.1/archive $own-backports main
deb http://127.0.0.1/old bullseye main
deb http://127.0.0.1/security $own-security main
" "" "" "http://127.0.0.1/archive forky
http://127.0.0.1/security forky-security"

check "two mirrors, in the sources' order" \
    "deb http://127.0.0.1:3142/archive $own main
deb http://127.0.0.1/archive $own main
deb http://127.0.0.1/archive $own-updates main
" "" "" "http://127.0.0.1:3142/archive forky
http://127.0.0.1/archive forky
http://127.0.0.1/archive forky-updates"

check "the alias stable, known by its Release file" \
    "deb http://127.0.0.1/archive stable main
" "" "$own" "http://127.0.0.1/archive forky"

check "the alias stable before apt-get update" \
    "deb http://127.0.0.1/archive stable main
" "" "" refused

check "security alone" \
    "deb http://127.0.0.1/security $own-security main
" "" "" refused

check "another vendor alone" \
    "deb https://apt.example.org/apt tools-$own main
" "" "" refused
echo "tools/debian-sources: passed"
