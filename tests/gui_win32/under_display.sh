#!/usr/bin/env bash
# Runs COMMAND on a virtual display of its own (Xvfb), then waits until the
# Wine server of WINEPREFIX has ended, so that Wine's desktop never outlives
# its display; exits with COMMAND's status.
#   under_display.sh WINE COMMAND [ARGS...]
set -euo pipefail
if [[ "${1:-}" != --inside ]]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24 -noreset" "$0" --inside "$@"
fi
wineserver=$(dirname "$2")/wineserver
shift 2
status=0
"$@" || status=$?
"$wineserver" -w
exit $status
