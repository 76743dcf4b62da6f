#!/usr/bin/env bash
# tools/stop-wineservers.sh on a tree of its own, with a server running in each prefix: the
# servers of the tree's prefix and of its DPI prefixes go, a prefix of another name keeps its.
set -u
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
server=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
stopped="wineprefix wineprefix-dpi120 wineprefix-dpi144"
for p in $stopped wineprefix-other; do
    mkdir "$tree/$p"
    # A server with no client leaves by itself after 30 s, whatever this test does.
    WINEPREFIX=$tree/$p "$server" -p30 || { echo "FAIL: no server started for $p"; exit 1; }
done
touch "$tree/wineprefix-dpi120.lock"  # tools/wine-run.sh keeps its lock beside the prefix
bash "$(dirname "$0")/../../tools/stop-wineservers.sh" "$tree"
fail=0
# -k succeeds only where it finds a server, and stops it.
for p in $stopped; do
    if WINEPREFIX=$tree/$p "$server" -k 2>/dev/null; then
        echo "FAIL: $p kept its server"
        fail=1
    fi
done
if ! WINEPREFIX=$tree/wineprefix-other "$server" -k 2>/dev/null; then
    echo "FAIL: wineprefix-other lost its server"
    fail=1
fi
[ $fail -eq 0 ] && echo "stop-wineservers: the tree's three servers stopped, the other kept"
exit $fail
