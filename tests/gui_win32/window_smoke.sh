#!/usr/bin/env bash
# Runs tessaly.exe under Wine with window_probe.exe beside it, which checks
# the window, works it (IMAGE is handed on to it) and closes it; passes when
# the probe found no fault and tessaly.exe then exited 0 of its own accord.
# Needs a display (under_display.sh gives it one).
#   window_smoke.sh WINE TESSALY_EXE PROBE_EXE [IMAGE]
set -euo pipefail
wine=$1
app=$2
probe=$3
probe_args=("${@:4}")

"$wine" "$app" &
pid=$!
probe_status=0
timeout 90 "$wine" "$probe" "${probe_args[@]}" || probe_status=$?

# The window was asked to close: the program must end by itself.
for _ in $(seq 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  kill "$pid"
  wait "$pid" || true
  echo "window_smoke.sh: tessaly.exe was still running 10 s after its window closed" >&2
  exit 1
fi
app_status=0
wait "$pid" || app_status=$?
echo "window_probe.exe: $probe_status, tessaly.exe: $app_status"
[[ $probe_status -eq 0 && $app_status -eq 0 ]]
