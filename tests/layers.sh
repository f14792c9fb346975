#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The layers of the tree, read from the includes: each folder of the core uses only itself and the folders
# below it, the core never reaches Qt's widgets or a front end, the window's widgets and dialogs never reach
# the window, no front end reaches another, and the SCPI parser is pure (itself and Qt Core: no core, no
# sockets). Prints each include that breaks a rule.
#
# usage: tests/layers.sh [SOURCE-ROOT]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# The core's folders from the bottom up; a folder may include those before it in this list and itself.
# operations and calibration stand side by side; service is above both.
core_order=(system serial device settings line operations)
rank() {
  local i
  for i in "${!core_order[@]}"; do
    [ "${core_order[$i]}" = "$1" ] && { echo "$i"; return; }
  done
  [ "$1" = calibration ] && { echo 5; return; }
  [ "$1" = service ] && { echo 6; return; }
  echo -1
}

broken=0
say() {
  echo "$1: $2"
  broken=1
}

# file, then the text between the quotes or angle brackets of each include
includes() {
  grep -HoE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"][^>"]+[>"]' "$@" |
    sed -E 's/^([^:]+):[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^>"]+)[>"]$/\1 \2/'
}

while read -r file inc; do
  case "$inc" in ../*) say "$file" "includes by a relative path upwards: $inc" ;; esac
  case "$file" in
  src/core/*)
    case "$inc" in
    QtWidgets/* | QtGui/* | QtTest/* | ui_*) say "$file" "the core includes $inc" ;;
    */*)
      from=$(echo "$file" | cut -d/ -f3)
      to=${inc%%/*}
      rf=$(rank "$from")
      rt=$(rank "$to")
      if [ "$rt" -ge 0 ] && [ "$to" != "$from" ] && [ "$rt" -ge "$rf" ]; then
        say "$file" "$from/ includes $inc, a folder at its level or above"
      fi
      ;;
    esac
    ;;
  src/panel/widgets/* | src/panel/dialogs/*)
    case "$inc" in frmMotor.h | ui_frmMotor.h) say "$file" "a widget or dialog includes the window ($inc)" ;; esac
    ;;
  src/scpi/parser/*)
    case "$inc" in
    parser/*) ;;
    */* | QTcp* | QUdp* | QAbstractSocket | QHostAddress | QLocal* | QNetwork*) say "$file" "the SCPI parser includes $inc: it is pure" ;;
    esac
    ;;
  src/ctl/* | src/bridge/* | src/scpi/* | src/tango/*)
    case "$inc" in frmMotor.h | ui_frmMotor.h | widgets/* | dialogs/* | QtWidgets/*) say "$file" "a front end includes the window's $inc" ;; esac
    ;;
  esac
done < <(includes $(find src -name '*.cpp' -o -name '*.h' | sort))

if [ $broken -ne 0 ]; then
  echo "layers: includes that run against the layers (above)" >&2
  exit 1
fi
echo "layers: $(find src -name '*.cpp' -o -name '*.h' | wc -l) files, every include runs down a layer or stays in its folder"
