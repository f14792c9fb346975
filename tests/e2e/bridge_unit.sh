#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# merovask-bridge@.service as systemd reads it: systemd-analyze verify on an instance, with the program
# its ExecStart names swapped for the one built here (the same swap the bridge tests run it with). Skipped,
# saying so, where systemd-analyze is missing (a container without systemd).
#
# usage: bridge_unit.sh MEROVASK_BRIDGE
set -euo pipefail

if ! command -v systemd-analyze >/dev/null; then
    echo "SKIP: systemd-analyze is missing: merovask-bridge@.service was not verified"
    exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
. "$(dirname "$0")/bridge_env.sh"
bridge_bin=$1
unit_command # fails unless the unit runs the installed merovask-bridge

mkdir -p "$work/units" "$work/runtime" "$work/man/man1"
chmod 700 "$work/runtime"
# verify looks up the manual pages the unit names: the package's, not installed here.
cp "$dist/merovask.1" "$work/man/man1/"
sed "s|^ExecStart=/usr/libexec/merovask/merovask-bridge |ExecStart=$bridge_bin |" \
    "$dist/merovask-bridge@.service" >"$work/units/merovask-bridge@.service"
# A user manager's checks need a runtime folder, which a session without a login does not have.
out=$(XDG_RUNTIME_DIR=$work/runtime MANPATH=$work/man systemd-analyze --user verify \
    "$work/units/merovask-bridge@$bridge_number.service" 2>&1) || fail "systemd-analyze verify: $out"
[ -z "$out" ] || fail "systemd-analyze verify: $out"
echo "merovask-bridge@.service: verified"
