#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs one QtTest program built for Windows under Wine (in the caller's prefix) with its results on standard
# output. On Windows QtTest sends them to the debugger when the process has no console window, and a program
# that Wine starts from a terminal never has one; so they go to a file, which is printed.
#
# usage: wine_test.sh PROGRAM.exe [ARGS...]
set -euo pipefail
out=$(mktemp)
trap 'rm -f "$out"' EXIT
status=0
wine "$@" -o "$(winepath -w "$out"),txt" || status=$?
cat "$out"
exit "$status"
