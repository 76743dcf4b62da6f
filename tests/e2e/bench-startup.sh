#!/usr/bin/env bash
# Start-up benchmark: from CreateProcess of telvio.exe (one simulated drive, NT path) until
# its drive box lists the drive, beside two yardsticks' starts until their windows show: a
# minimal dialog program, and the main window's own template shown by a bare dialog
# procedure (telvio-template: what telvio.exe must show in any case). All three are
# launched by the scripted user under the same Wine in the same run, in turn each round.
#   bench-startup.sh [ROUNDS]        (TELVIO_BUILD_DIR, TELVIO_SGIO as for the e2e tests;
#                                    TELVIO_EXE and TELVIO_SGIO32 for the 32-bit program)
# Ends with "startup: telvio_ms=... minimal_ms=... ratio=... template_ms=...
# template_ratio=..." (medians) for bench/run.sh.
source "$(dirname "$0")/lib.sh"
rounds=${1:-11}
e2e_begin bench-startup
e2e_scenario <<EOF2
drive main vendor=TELVIOSM product="SIM DVD-RW" revision=1.00
letter d drive=main path=0 target=1
EOF2
# e2e_user hands Wine the SG_IO libraries named here, not whatever TELVIO_PRELOAD says.
E2E_PRELOAD=${TELVIO_SGIO:?} E2E_PRELOAD32=${TELVIO_SGIO32:-}
telvio_round() {
    e2e_user "launch $(winpath "${TELVIO_EXE:-$E2E_BIN/telvio.exe}")" "wait-drives 1 60000" "attach" \
        "click 2" "wait-exit 20000" | sed -n 's/^drives-listed-after-ms //p' | tr -d '\r'
}
minimal_round() {
    e2e_user "launch $(winpath "$E2E_BIN/telvio-minimal.exe")" "wait-window Minimal 60000" \
        "dialog-answer esc" "wait-exit 20000" | sed -n 's/^window-shown-after-ms //p' | tr -d '\r'
}
# Measured as telvio.exe is, through the same step: its window is up and its drive box
# answers (with no drive in it), so the two differ only in what the program does.
template_round() {
    e2e_user "launch $(winpath "$E2E_BIN/telvio-template.exe")" "wait-drives 0 60000" "attach" \
        "click 2" "wait-exit 20000" | sed -n 's/^drives-listed-after-ms //p' | tr -d '\r'
}
# One round of each first, not counted: it starts the prefix's server and Wine's desktop.
telvio_round >/dev/null
minimal_round >/dev/null
template_round >/dev/null
telvio=() minimal=() template=()
for i in $(seq 1 "$rounds"); do
    t=$(telvio_round)
    m=$(minimal_round)
    p=$(template_round)
    [ -n "$t" ] && [ -n "$m" ] && [ -n "$p" ] ||
        { echo "bench: a round failed (outputs in $E2E_WORK)" >&2; exit 1; }
    telvio+=("$t")
    minimal+=("$m")
    template+=("$p")
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
fastest() { printf '%s\n' "$@" | sort -n | head -1; }
mt=$(median "${telvio[@]}")
mm=$(median "${minimal[@]}")
mp=$(median "${template[@]}")
echo "telvio.exe until the drive is listed (ms): ${telvio[*]}  median $mt"
echo "minimal dialog until its window shows (ms): ${minimal[*]}  median $mm"
echo "template 102 alone until its drive box answers (ms): ${template[*]}  median $mp"
# Other work on the machine stretches some rounds; the fastest rounds show what is left
# without it.
ft=$(fastest "${telvio[@]}") fm=$(fastest "${minimal[@]}") fp=$(fastest "${template[@]}")
echo "load average during the run: $(cut -d' ' -f1-3 /proc/loadavg);" \
    "fastest rounds: $ft ms, $fm ms and $fp ms," \
    "ratios $(awk -v a="$ft" -v b="$fm" -v c="$fp" 'BEGIN { printf "%.2f and %.2f", a / b, a / c }')"
awk -v a="$mt" -v b="$mm" -v c="$mp" 'BEGIN {
    printf "startup: telvio_ms=%s minimal_ms=%s ratio=%.2f template_ms=%s template_ratio=%.2f\n",
        a, b, a / b, c, a / c }'
