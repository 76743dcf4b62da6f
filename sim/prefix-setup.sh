#!/usr/bin/env bash
# Gives a Wine prefix the fixed drive-letter layout the simulator needs:
#   PREFIX/dosdevices/<l>::  ->  DEVDIR/<l>.dev   (a regular file, for every letter c..z)
#   PREFIX/dosdevices/<l>:   ->  a folder, so the letter exists (c: and z: stay as Wine made them)
# Tests share one prefix and run in parallel, so the layout never changes; the scenario
# of each process decides what stands behind each letter (sim/README.md).
#
#   prefix-setup.sh PREFIX DEVDIR
set -eu
if [ $# -ne 2 ]; then
    echo "usage: $0 PREFIX DEVDIR" >&2
    exit 2
fi
prefix=$1
devdir=$2
dosdevices="$prefix/dosdevices"
if [ ! -d "$dosdevices" ]; then
    echo "prefix-setup: $dosdevices is not there (make the prefix first)" >&2
    exit 1
fi
mkdir -p "$devdir"
devdir=$(cd "$devdir" && pwd)
mkdir -p "$devdir/folders"

for l in c d e f g h i j k l m n o p q r s t u v w x y z; do
    dev="$devdir/$l.dev"
    [ -f "$dev" ] || : >"$dev"
    ln -sfn "$dev" "$dosdevices/$l::"
    # Keep a folder the letter already leads to (c: -> ../drive_c, z: -> /); give the
    # others one of their own.
    if [ ! -e "$dosdevices/$l:" ]; then
        mkdir -p "$devdir/folders/$l"
        ln -sfn "$devdir/folders/$l" "$dosdevices/$l:"
    fi
done
