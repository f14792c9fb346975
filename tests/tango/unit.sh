#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# merovask-tango@.service as systemd reads it: systemd-analyze verify on an instance, with the program its
# ExecStart names swapped for the one built here, and systemd's sandboxing rated at most "OK" (exposure below
# 4.0) by systemd-analyze security. Skipped, saying so, where systemd-analyze is missing.
#
# usage: unit.sh MEROVASK_TANGO
set -euo pipefail

if ! command -v systemd-analyze >/dev/null; then
    echo "SKIP: systemd-analyze is missing: merovask-tango@.service was not verified"
    exit 77
fi
dist=$(cd "$(dirname "$0")/../../dist" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

grep -qx 'ExecStart=/usr/bin/merovask-tango %i' "$dist/merovask-tango@.service" ||
    fail "the unit does not run the installed /usr/bin/merovask-tango"
mkdir -p "$work/units" "$work/man/man1"
# verify looks up the manual page that the unit names: the package's, not installed here.
cp "$dist/merovask-tango.1" "$work/man/man1/"
sed "s|^ExecStart=/usr/bin/merovask-tango |ExecStart=$1 |" "$dist/merovask-tango@.service" \
    >"$work/units/merovask-tango@.service"
unit=$work/units/merovask-tango@1.service
out=$(MANPATH=$work/man systemd-analyze verify "$unit" 2>&1) || fail "systemd-analyze verify: $out"
[ -z "$out" ] || fail "systemd-analyze verify: $out"
out=$(systemd-analyze security --offline=yes --threshold=39 "$unit" 2>&1) ||
    fail "systemd-analyze security: $(tail -n 1 <<<"$out")"
echo "merovask-tango@.service: verified; $(grep -o 'Overall exposure level.*' <<<"$out")"
