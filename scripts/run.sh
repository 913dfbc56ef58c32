#!/usr/bin/env bash
# Builds the program and runs it: the console front end with the built-in
# simulated unit, three measurements in real time (about two minutes). Extra
# arguments go to the program, e.g. --fast (virtual time) or --measurements 10.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
exec build/bin/halnor40ku --headless --simulate --measurements 3 "$@"
