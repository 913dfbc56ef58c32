#!/usr/bin/env bash
# Builds the program and runs it with the built-in simulated unit (a dog): the
# main window, or, where there is no display, the console front end for three
# measurements in real time (about two minutes). Extra arguments go to the
# program, e.g. --simulate=1,2 or --device-id 2.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
  exec build/bin/halnor40ku --simulate "$@"
fi
echo "No display found: running the console front end instead of the window."
exec build/bin/halnor40ku --headless --simulate --measurements 3 "$@"
