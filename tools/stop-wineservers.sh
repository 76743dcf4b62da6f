#!/usr/bin/env bash
# Stops the Wine servers of a build tree's prefixes: the tree's own and those that
# tools/wine-run.sh makes for a screen DPI other than 96 (wineprefix-dpiN). Each server's
# desktop process is bound to the display its first program had, so a test session stops
# them all before its shared display goes. Prefixes without a server are left as they are.
#
#   stop-wineservers.sh TREE
set -u
tree=$1
server=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
for prefix in "$tree/wineprefix" "$tree"/wineprefix-dpi*/; do
    [ -d "$prefix" ] || continue
    # -k waits for the server to go, and fails only when it found none.
    WINEPREFIX=${prefix%/} "$server" -k 2>/dev/null || true
done
