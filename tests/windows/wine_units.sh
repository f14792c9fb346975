#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The core's pure units, built for Windows, run under Wine by ctest in a prefix of their own.
#
# usage: wine_units.sh WINDOWS_BUILD_DIR QT_PREFIX
set -euo pipefail

build=$(cd "$1" && pwd)
qt=$2

for tool in wine wineserver winepath Xvfb; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing (tools/windows installs it)"; exit 77; }
done

work=$(mktemp -d)
cleanup() {
    stop_wine
    stop_xvfb
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
# shellcheck source=tests/windows/wine.sh
. "$(dirname "$0")/wine.sh"

start_xvfb
make_prefix
gcc_dll=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
pthread_dll=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libwinpthread-1.dll)")
WINEPATH=$(wine_path_for "$qt/bin" "$gcc_dll" "$pthread_dll")
export WINEPATH
(cd "$build" && ctest --output-on-failure "${@:3}")
