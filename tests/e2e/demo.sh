#!/usr/bin/env bash
# make demo: one whole upgrade of a simulated drive through the program's real windows.
#   ASPI=1         the 9x path through the simulator's WNASPI32.dll (default: NT pass-through
#                  through the SG_IO library, drive letter D:)
#   INTERACTIVE=1  opens the program on your display for you to click instead
#   OUT=dir        where the screenshots go (default: out/demo)
#   DPI=n          the screen's DPI as Wine reports it (its LogPixels; default 96), in a
#                  Wine prefix of its own per value (tools/wine-run.sh, TELVIO_DPI)
#   TELVIO_EXE=exe another telvio.exe than the win64 tree's (make test: the zip's)
source "$(dirname "$0")/lib.sh"

OUT=${OUT:-$E2E_ROOT/out/demo}
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
if [ -n "${DISPLAY:-}" ] && xset q >/dev/null 2>&1; then
    E2E_DISPLAY_KEEP=1
elif [ "${INTERACTIVE:-0}" = "1" ]; then
    echo "demo: INTERACTIVE=1 needs a display (DISPLAY is not usable)" >&2
    exit 1
fi
E2E_WORK_DIR=$E2E_BUILD/demo-work
if [ -n "${DPI:-}" ]; then
    case "$DPI" in *[!0-9]*) echo "demo: DPI must be a number" >&2; exit 1 ;; esac
    export TELVIO_DPI=$DPI
fi
e2e_begin "demo"

version=winxp
path_name="NT pass-through (SG_IO library), drive D:"
if [ "${ASPI:-0}" = "1" ]; then
    version=win98
    path_name="9x ASPI (simulator's WNASPI32.dll)"
fi
e2e_scenario <<EOF
adapter 0 targets=2
drive main adapter=0 target=1 vendor=TELVIOSM product="SIM DVD-RW" revision=1.00 new-revision=2.00
letter d drive=main path=0 target=1
EOF
image=$E2E_WORK/firmware.hex
e2e_image "$image" 49152
echo "== Telvio demo: $path_name"
echo "   firmware image: $image ($(wc -l <"$image") Intel-HEX records)"
echo "   program: ${TELVIO_EXE:-$E2E_BIN/telvio.exe}"
echo "   screen: ${TELVIO_DPI:-96} DPI"

if [ "${INTERACTIVE:-0}" = "1" ]; then
    echo "   The program opens on your display; the image is at $(winpath "$image")."
    e2e_start_direct "$version"
    wait "$E2E_TELVIO"
    E2E_TELVIO=""
    echo "   drive revision now: $(cat "$E2E_WORK/state/main.revision" 2>/dev/null || echo 1.00)"
    exit 0
fi

name="TELVIOSMSIM DVD-RW      (0)"
shot() { winpath "$E2E_WORK/$1.bmp"; }

e2e_start "$version"
e2e_user "attach 60000" "read 1016" "pick 1000 \"$name\"" "browse \"$(winpath "$image")\"" \
    "screenshot main $(shot main-before)" "click 1015" \
    "dialog \"Welcome To The Upgrade Program\"" "screenshot dialog $(shot warning)" \
    "dialog-answer ok" "wait-run 120000" "screenshot main $(shot main-after)" read-log dump \
    "click 2" "wait-exit 20000" >"$E2E_WORK/run.txt" || {
    cat "$E2E_WORK/run.txt"
    echo "demo: the scripted user stopped" >&2
    exit 1
}
e2e_wait_telvio
before=$(sed -n 's/^\[1016\] //p' "$E2E_WORK/run.txt" | head -1 | tr -d '\r')

# A second start of the program reads the drive afresh.
e2e_start "$version"
e2e_user "attach 60000" "read 1016" "click 2" "wait-exit 20000" >"$E2E_WORK/after.txt" || true
e2e_wait_telvio
after=$(sed -n 's/^\[1016\] //p' "$E2E_WORK/after.txt" | head -1 | tr -d '\r')

echo "-- the log as the window shows it:"
sed -n 's/^log| /   /p' "$E2E_WORK/run.txt" | tr -d '\r'
echo "-- drive revision before: $before, after: $after"
for s in main-before warning main-after; do
    convert "$E2E_WORK/$s.bmp" "$OUT/$s.png" 2>/dev/null || cp "$E2E_WORK/$s.bmp" "$OUT/$s.bmp"
done
echo "-- screenshots: $OUT/{main-before,warning,main-after}.png"
# The revision the image carries (e2e_image's 2.00), logged before it is sent, is the one
# the drive reports afterwards.
[ "$after" = "2.00" ] && grep -q "log| File revision : 2.00" "$E2E_WORK/run.txt" &&
    grep -q "log| Please Restart Your Computer." "$E2E_WORK/run.txt"
