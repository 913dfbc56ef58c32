#!/bin/sh
# Pictures of the settings dialogs as the program shows them: the main window
# with a simulated unit and one dialog open (Animal ID in the long and short
# form, Menu, device clock, Monitor, Timer mode), taken by the window's dialog
# flows under Xvfb with a small window manager for the title bars.
#   scripts/dialog-pictures.sh [FOLDER]     (default docs/)
# Needs xvfb and twm; builds test_gui_qt first.
set -eu
cd "$(dirname "$0")/.."
out=$(realpath "${1:-docs}")
mkdir -p "$out"
cmake --build build --target test_gui_qt
rc=$(mktemp)
trap 'rm -f "$rc"' EXIT
printf '%s\n' 'UsePPosition "on"' RandomPlacement NoGrabServer DecorateTransients \
  'TitleFont "fixed"' 'ResizeFont "fixed"' 'MenuFont "fixed"' 'IconFont "fixed"' 'IconManagerFont "fixed"' > "$rc"
env -u QT_QPA_PLATFORM HX40K_PICTURES="$out" xvfb-run -a -s "-screen 0 1280x800x24" sh -c '
  twm -f "$1" 2>/dev/null & wm=$!
  sleep 1
  status=0
  build/bin/test_gui_qt --gtest_filter="DialogFlows.*" || status=$?
  kill $wm 2>/dev/null || true
  exit $status' sh "$rc"
ls -l "$out"/dialog-*.png
