#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# merovask-scpi@.service as systemd reads it: systemd-analyze verify on an instance, with the program its
# ExecStart names swapped for the one built here; its sandbox by systemd-analyze security (exposure 2.0 at
# most); and its command line expanded as systemd expands it, with the unit's defaults and with every line
# of the example scpi.conf, run for real on 127.0.0.1 until SIGTERM. Skipped, saying so, where
# systemd-analyze is missing (a container without systemd).
#
# usage: scpi_unit.sh MEROVASK_SCPI
set -euo pipefail

if ! command -v systemd-analyze >/dev/null; then
    echo "SKIP: systemd-analyze is missing: merovask-scpi@.service was not checked"
    exit 77
fi

scpi_bin=$(realpath "$1")
dist=$(cd "$(dirname "$0")/../../dist" && pwd)
unit=$dist/merovask-scpi@.service
work=$(mktemp -d)
server=""
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

grep -q '^ExecStart=/usr/bin/merovask-scpi ' "$unit" || fail "the unit does not run /usr/bin/merovask-scpi"
mkdir -p "$work/units" "$work/man/man1"
# verify looks up the manual page the unit names: the package's, not installed here.
cp "$dist/merovask-scpi.1" "$work/man/man1/"
sed "s|^ExecStart=/usr/bin/merovask-scpi |ExecStart=$scpi_bin |" "$unit" >"$work/units/merovask-scpi@.service"
out=$(MANPATH=$work/man systemd-analyze verify "$work/units/merovask-scpi@3.service" 2>&1) ||
    fail "systemd-analyze verify: $out"
[ -z "$out" ] || fail "systemd-analyze verify: $out"

# "→ Overall exposure level for merovask-scpi@i.service: 1.5 OK 🙂"
out=$(systemd-analyze security --offline=true "$unit" 2>&1) || fail "systemd-analyze security: $out"
read -r exposure label < <(sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\) \([A-Z]*\).*/\1 \2/p' <<<"$out")
awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 2.0) }' || fail "exposure ${exposure:-?} above 2.0: $out"
case "$label" in OK | SAFE | PERFECT) ;; *) fail "exposure rated $label" ;; esac

# The command line as systemd makes it: %i the instance, ${NAME} one word (empty when the value is), $NAME
# the value's words. Values from Environment= and then from the configuration file, as systemd takes them.
expand() { # configuration file
    declare -A value
    local word assignment
    for assignment in $(sed -n 's/^Environment=//p' "$unit"); do
        value[${assignment%%=*}]=${assignment#*=}
    done
    while IFS= read -r line; do
        [[ $line =~ ^([A-Z_]+)=(.*)$ ]] && value[${BASH_REMATCH[1]}]=${BASH_REMATCH[2]}
    done <"$1"
    args=()
    for word in $(sed -n 's/^ExecStart=[^ ]* //p' "$unit"); do
        case "$word" in
        %i) args+=(3) ;;
        \$\{*\}) word=${word#\$\{} && args+=("${value[${word%\}}]}") ;;
        \$*) args+=(${value[${word#\$}]}) ;;
        *) args+=("$word") ;;
        esac
    done
}

# Tests listen on loopback only, whatever the example says.
loopback='LISTEN=127.0.0.1:0'
for conf in defaults example; do
    if [ "$conf" = defaults ]; then
        echo "$loopback" >"$work/scpi3.conf"
    else
        { sed -n 's/^#\([A-Z]*=\)/\1/p' "$dist/scpi.conf"; echo "$loopback"; } >"$work/scpi3.conf"
    fi
    expand "$work/scpi3.conf"
    XDG_CONFIG_HOME=$work "$scpi_bin" "${args[@]}" >"$work/out" 2>"$work/err" &
    server=$!
    for _ in $(seq 100); do [ -s "$work/out" ] && break; sleep 0.05; done
    grep -q '^127\.0\.0\.1:[0-9]*$' "$work/out" || fail "with the $conf, ${args[*]}: $(cat "$work/err")"
    kill -TERM "$server"
    status=0
    wait "$server" || status=$?
    server=""
    [ "$status" = 0 ] || fail "with the $conf, SIGTERM ended the server with status $status: $(cat "$work/err")"
done
echo "merovask-scpi@.service: verified, exposure $exposure $label, its command line runs"
