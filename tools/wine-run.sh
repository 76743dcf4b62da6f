#!/usr/bin/env bash
# Runs a Windows program of the build under Wine: the ctest emulator of the win64 tree,
# and the runner of the demo and the end-to-end tests.
#
#   wine-run.sh program.exe [args...]
#
# Environment it reads:
#   TELVIO_BUILD_DIR      build tree that holds the private prefix (default: found from the exe)
#   TELVIO_WINEPREFIX     the prefix itself (default: $TELVIO_BUILD_DIR/wineprefix)
#   TELVIO_WINVER         win98 | nt40 | winxp | ...: the Windows version Wine reports to the program
#   TELVIO_DISPLAY=1      give the program a display: TELVIO_SHARED_DISPLAY when set, else a
#                         private Xvfb (stopped when it ends)
#   TELVIO_DLLOVERRIDES   extra WINEDLLOVERRIDES entries, e.g. "wnaspi32=" for a missing library
#   TELVIO_PRELOAD        a Linux shared library to put in LD_PRELOAD for Wine
#   TELVIO_PRELOAD32      its i386 build, for the 32-bit programs of the run
#   TELVIO_HOST32_DIR     the i386 Linux tree (default: beside the build tree, host32)
#   TELVIO_DPI            the screen DPI Wine reports (its LogPixels), e.g. 144: every value
#                         other than 96 gets a prefix of its own ($TELVIO_BUILD_DIR/wineprefix-dpiN)
#                         unless TELVIO_WINEPREFIX names one, since all programs of a prefix
#                         share the setting and the tree's tests run side by side in its prefix
#
# 32-bit programs, started directly or by a 64-bit one, run under qemu (this kernel
# cannot execute 32-bit code): see tools/wine32/make-loader.sh.
set -u
exe=$1; shift
exe_dir=$(cd "$(dirname "$exe")" && pwd)
exe_name=$(basename "$exe")

if [ -z "${TELVIO_BUILD_DIR:-}" ]; then
    d=$exe_dir
    while [ "$d" != "/" ] && [ ! -f "$d/CMakeCache.txt" ]; do d=$(dirname "$d"); done
    [ -f "$d/CMakeCache.txt" ] || d=$exe_dir
    TELVIO_BUILD_DIR=$d
fi
dpi=${TELVIO_DPI:-96}
case "$dpi" in ''|*[!0-9]*) echo "wine-run: TELVIO_DPI must be a number" >&2; exit 2 ;; esac
default_prefix=$TELVIO_BUILD_DIR/wineprefix
[ "$dpi" = 96 ] || default_prefix=$TELVIO_BUILD_DIR/wineprefix-dpi$dpi
export WINEPREFIX=${TELVIO_WINEPREFIX:-$default_prefix}
export WINEDEBUG=${TELVIO_WINEDEBUG:--all}
export WINEARCH=win64
# mscoree/mshtml off keeps Wine from offering Mono and Gecko; wnaspi32=n takes the
# simulator's library beside the exe instead of Wine's built-in stub.
overrides="mscoree,mshtml="
case "${TELVIO_DLLOVERRIDES:-}" in *wnaspi32*) ;; *) overrides="$overrides;wnaspi32=n" ;; esac
[ -n "${TELVIO_DLLOVERRIDES:-}" ] && overrides="$overrides;$TELVIO_DLLOVERRIDES"
export WINEDLLOVERRIDES=$overrides

# Always the 64-bit loader, from the build tree's mirror of /usr: Debian's /usr/bin/wine
# takes the 32-bit loader whenever it is installed, and that cannot run here directly.
loader_dir=$TELVIO_BUILD_DIR/wine
WINE=$loader_dir/lib/wine/wine64
WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver64)
host32=${TELVIO_HOST32_DIR:-$(dirname "$TELVIO_BUILD_DIR")/host32}
reserve=$host32/lib/libtelvio_high_half.so
no_interrupt=$host32/lib/libtelvio_no_interrupt.so

# One prefix per build tree, made once; parallel runs wait for the first to finish it.
mkdir -p "$(dirname "$WINEPREFIX")"
(
    flock 9
    bash "$(dirname "$0")/wine32/make-loader.sh" "$loader_dir" "$reserve" "$no_interrupt" 9>&-
    # Made with the 32-bit loader at hand, the prefix also gets its 32-bit half (syswow64);
    # a prefix made without it is made again once it is there.
    ready=$WINEPREFIX/.telvio-ready-wow64
    [ -x "$loader_dir/lib/wine/wine" ] || ready=$WINEPREFIX/.telvio-ready
    if [ ! -f "$ready" ] && [ ! -f "$WINEPREFIX/.telvio-ready-wow64" ]; then
        if [ -d "$WINEPREFIX" ]; then "$WINESERVER" -k >/dev/null 2>&1 9>&-; fi
        rm -rf "$WINEPREFIX"
        WINEDLLOVERRIDES="mscoree,mshtml=" "$WINE" wineboot -u >/dev/null 2>&1 9>&-
        "$WINESERVER" -w 9>&-
        touch "$ready"
    fi
    # With no window manager on Xvfb, Wine waits up to 5 s for one to confirm each window
    # it hides (every message box, every dialog); unmanaged windows skip that wait.
    settings_written=""
    if [ ! -f "$WINEPREFIX/.telvio-x11" ]; then
        "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 9>&-
        touch "$WINEPREFIX/.telvio-x11"
        settings_written=1
    fi
    # Debian's Wine 8 looks for the fonts of its own data folder at a path it cannot open
    # (".../share/wine\../fonts"), so caption buttons, drawn with Marlett, fell back to a
    # text font and the close box showed as the letter "r". Fonts in the prefix's Windows
    # folder are always found.
    marlett=/usr/share/wine/fonts/marlett.ttf
    fonts="$WINEPREFIX/drive_c/windows/Fonts"
    if [ -f "$marlett" ] && [ -d "$fonts" ] && [ ! -f "$fonts/marlett.ttf" ]; then
        cp "$marlett" "$fonts/marlett.ttf.$$" && mv -f "$fonts/marlett.ttf.$$" "$fonts/marlett.ttf"
    fi
    # Set once, when the prefix is new or was set to another DPI; a program reads it when it
    # starts. The tree's shared prefix is never written: it keeps Wine's 96.
    if [ "$WINEPREFIX" != "$TELVIO_BUILD_DIR/wineprefix" ] && [ -n "${TELVIO_DPI:-}" ] &&
        [ "$(cat "$WINEPREFIX/.telvio-dpi" 2>/dev/null)" != "$dpi" ]; then
        "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
            >/dev/null 2>&1 9>&- && echo "$dpi" >"$WINEPREFIX/.telvio-dpi"
        settings_written=1
    fi
    # The settings' writer may have started the prefix's desktop process, bound to
    # whatever display the caller had: none, from a plain shell, and then the program's
    # first window failed ("no driver could be loaded"). Let it leave with its server.
    if [ -n "$settings_written" ]; then "$WINESERVER" -w 9>&-; fi
    # Drive letters c..z lead to the simulator's device files; the scenario of each run
    # decides what stands behind them (sim/README.md).
    setup="$(dirname "$0")/../sim/prefix-setup.sh"
    if [ -f "$setup" ] && { [ ! -f "$WINEPREFIX/.telvio-letters" ] || [ "$setup" -nt "$WINEPREFIX/.telvio-letters" ]; }; then
        bash "$setup" "$WINEPREFIX" "$TELVIO_BUILD_DIR/simdev" 9>&- && touch "$WINEPREFIX/.telvio-letters"
    fi
) 9>"$WINEPREFIX.lock"

# Keep the prefix's server alive between the runs of a test session; it leaves by itself.
"$WINESERVER" -p30 >/dev/null 2>&1 || true

run_exe="$exe_dir/$exe_name"
if [ -n "${TELVIO_WINVER:-}" ]; then
    # The version is set per program name; a copy per version keeps tests of one
    # program under different versions from changing each other's setting.
    stem=${exe_name%.exe}
    ver_name="$stem.$TELVIO_WINVER.exe"
    run_exe="$exe_dir/$ver_name"
    if [ ! -f "$run_exe" ] || [ "$exe_dir/$exe_name" -nt "$run_exe" ]; then
        cp -f "$exe_dir/$exe_name" "$run_exe.tmp.$$" && mv -f "$run_exe.tmp.$$" "$run_exe"
    fi
    marker="$WINEPREFIX/.appdefaults-$ver_name"
    (
        flock 9
        if [ ! -f "$marker" ]; then
            "$WINE" reg add "HKCU\\Software\\Wine\\AppDefaults\\$ver_name" /v Version /d "$TELVIO_WINVER" /f >/dev/null 2>&1 9>&-
            touch "$marker"
        fi
    ) 9>"$WINEPREFIX.lock"
fi

xvfb_pid=""
cleanup() {
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
}
trap cleanup EXIT
if [ "${TELVIO_DISPLAY:-0}" = "1" ] && [ -n "${TELVIO_SHARED_DISPLAY:-}" ]; then
    # The test session's display (tools/run-tests.sh): it outlives every program of the
    # session, and so does Wine's desktop process, which stays bound to the display of
    # the program that started it.
    export DISPLAY=$TELVIO_SHARED_DISPLAY
elif [ "${TELVIO_DISPLAY:-0}" = "1" ]; then
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    xvfb_pid=$!
    read -r -t 20 dnum <"$fifo"
    rm -f "$fifo"
    if [ -z "${dnum:-}" ]; then echo "wine-run: Xvfb did not start" >&2; exit 1; fi
    export DISPLAY=":$dnum"
fi

# An X display without a resource database (Xvfb here; a desktop session loads one) makes
# Xlib look for ~/.Xdefaults and ~/.Xdefaults-<host> again at every query, and Wine asks
# for the Xft settings at every font selection: some 1200 failed file opens in one run
# of the program. An empty database is read once and kept.
export XENVIRONMENT=${XENVIRONMENT:-/dev/null}

if [ -n "${TELVIO_PRELOAD:-}" ]; then
    export LD_PRELOAD="$TELVIO_PRELOAD${LD_PRELOAD:+:$LD_PRELOAD}"
fi

# Wine starts its own service processes from the first program of a session, and they
# inherit that program's output. Under ctest that output is a pipe, and ctest would wait
# for the services to leave before it reads the end of the test: so the program writes to
# a file, which is shown when it ends.
out=$(mktemp)
"$WINE" "$run_exe" "$@" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"
rm -f "$out"
exit $rc
