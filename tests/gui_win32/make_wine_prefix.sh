#!/usr/bin/env bash
# Makes the Wine prefix the window's tests run in, once: a prefix of their
# own has a Wine server of its own, whose desktop starts on their virtual
# display, whatever Wine programs without a display (the console tests, or
# other builds) run at the same time in the default prefix.
#   make_wine_prefix.sh WINE PREFIX
set -euo pipefail
wine=$1
export WINEPREFIX=$2
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  "$wine" wineboot --init
fi
"$(dirname "$wine")/wineserver" -w
