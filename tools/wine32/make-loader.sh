#!/usr/bin/env bash
# Makes (or refreshes) a folder that mirrors /usr for Wine's loaders, so that 32-bit
# programs run here: this kernel cannot execute 32-bit code, but qemu user-mode
# emulation can, and a 64-bit Wine starts a 32-bit program with the loader named "wine"
# beside its own (WINELOADER is not consulted for that). Each loader finds its libraries
# and share/wine relative to itself, hence the mirror.
#
#   make-loader.sh DIR RESERVE_LIB [LIB...]
#
# Afterwards DIR/lib/wine/wine64 is the loader to run everything with. DIR/lib/wine/wine
# runs the real 32-bit loader under qemu with RESERVE_LIB (tools/wine32/HighHalfReserve.c),
# those of the other LIBs that exist (tools/wine32/NoInterrupt.c) and $TELVIO_PRELOAD32,
# if set, in the emulated process's LD_PRELOAD, and without the host's LD_PRELOAD, whose
# 64-bit libraries the emulated loader cannot use. Without
# 32-bit Wine, qemu or RESERVE_LIB only the 64-bit loader is there: without that library
# a 32-bit start takes a minute and more, and then Wine may not find its shared user data
# page free.
set -eu
dir=$1 reserve=$2
shift 2
more=""
for lib in "$@"; do more="$more '$lib'"; done
wine=$dir/lib/wine
mkdir -p "$wine"
ln -sfn /usr/lib/x86_64-linux-gnu "$dir/lib/x86_64-linux-gnu"
ln -sfn /usr/share "$dir/share"
# Copies, not links: a loader resolves its own path through links. A file is replaced by
# a rename, so programs still running keep the one they started with.
put() {  # put FILE CONTENT-SOURCE
    cmp -s "$2" "$1" && return 0
    cp "$2" "$1.tmp.$$" && chmod 755 "$1.tmp.$$" && mv -f "$1.tmp.$$" "$1"
}
put "$wine/wine64" /usr/lib/wine/wine64
if [ ! -x /usr/lib/wine/wine ] || [ ! -x /usr/bin/qemu-i386-static ] || [ ! -f "$reserve" ]; then
    rm -f "$wine/wine" "$wine/wine-i386"
    exit 0
fi
ln -sfn /usr/lib/i386-linux-gnu "$dir/lib/i386-linux-gnu"
put "$wine/wine-i386" /usr/lib/wine/wine
cat >"$wine/wine.new.$$" <<WRAPPER
#!/bin/sh
# Wine's 32-bit loader under qemu (made by tools/wine32/make-loader.sh).
d=\$(dirname "\$0")
pre=""
for lib in '$reserve'$more \${TELVIO_PRELOAD32:-}; do
    [ -f "\$lib" ] && pre="\$pre \$lib"
done
exec /usr/bin/qemu-i386-static -0 "\$d/wine" -U LD_PRELOAD -E "LD_PRELOAD=\${pre# }" "\$d/wine-i386" "\$@"
WRAPPER
put "$wine/wine" "$wine/wine.new.$$"
rm -f "$wine/wine.new.$$"
