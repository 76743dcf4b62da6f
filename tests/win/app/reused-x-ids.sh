#!/usr/bin/env bash
# The window tests' harness on a display where each X client slot that comes free is taken
# at once by a connection whose first ids are input-only windows (reused-x-ids.py): a window
# thread that ends with drawing for its windows still unsent makes Xlib end the program
# with "BadMatch (X_CreateGC)". On a display and in a Wine prefix of their own: the flood
# would break the tests beside it, and a prefix's desktop stays on its first display.
#
#   reused-x-ids.sh TEST_EXE    (TELVIO_BUILD_DIR: the tree that holds the prefix)
set -u
exe=$1
here=$(cd "$(dirname "$0")" && pwd)
run="$here/../../../tools/wine-run.sh"
export TELVIO_WINEPREFIX=$TELVIO_BUILD_DIR/wineprefix-reused-x-ids
fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
xvfb=$!
dnum=""
read -r -t 20 dnum <"$fifo"
rm -f "$fifo"
flood=""
cleanup() {
    if [ -n "$flood" ]; then kill "$flood" 2>/dev/null; wait "$flood" 2>/dev/null; fi
    WINEPREFIX=$TELVIO_WINEPREFIX wineserver -k 2>/dev/null
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
}
trap cleanup EXIT
[ -n "$dnum" ] || { echo "reused-x-ids: Xvfb did not start"; exit 1; }
export DISPLAY=":$dnum" TELVIO_SHARED_DISPLAY=":$dnum" TELVIO_DISPLAY=1
# The prefix and its desktop first, without the flood.
GTEST_FILTER='MainWindow.SystemMenu*' bash "$run" "$exe" >/dev/null 2>&1
python3 "$here/reused-x-ids.py" "$dnum" &
flood=$!
sleep 1
# Twenty windows, each on a thread that ends with it.
GTEST_FILTER='Checks/UpgradeCommandTest.*' bash "$run" "$exe"
