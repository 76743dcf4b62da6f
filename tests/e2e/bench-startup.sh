#!/usr/bin/env bash
# Start-up benchmark: from CreateProcess of telvio.exe (one simulated drive, NT path) until
# its drive box lists the drive, beside a minimal dialog program's start until its window
# shows, both launched by the scripted user under the same Wine in the same run.
#   bench-startup.sh [ROUNDS]        (TELVIO_BUILD_DIR, TELVIO_SGIO as for the e2e tests;
#                                    TELVIO_EXE and TELVIO_SGIO32 for the 32-bit program)
source "$(dirname "$0")/lib.sh"
rounds=${1:-5}
e2e_begin bench-startup
e2e_scenario <<EOF2
drive main vendor=TELVIOSM product="SIM DVD-RW" revision=1.00
letter d drive=main path=0 target=1
EOF2
# e2e_user hands these to the runner (TELVIO_PRELOAD, TELVIO_PRELOAD32).
E2E_PRELOAD=${TELVIO_SGIO:?} E2E_PRELOAD32=${TELVIO_SGIO32:-}
telvio=() minimal=()
for i in $(seq 1 "$rounds"); do
    t=$(e2e_user "launch $(winpath "${TELVIO_EXE:-$E2E_BIN/telvio.exe}")" "wait-drives 1 60000" "attach" \
        "click 2" "wait-exit 20000" | sed -n 's/^drives-listed-after-ms //p' | tr -d '\r')
    m=$(e2e_user "launch $(winpath "$E2E_BIN/telvio-minimal.exe")" "wait-window Minimal 60000" \
        "dialog-answer esc" "wait-exit 20000" | sed -n 's/^window-shown-after-ms //p' | tr -d '\r')
    [ -n "$t" ] && [ -n "$m" ] || { echo "bench: a round failed" >&2; exit 1; }
    telvio+=("$t")
    minimal+=("$m")
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
mt=$(median "${telvio[@]}")
mm=$(median "${minimal[@]}")
echo "telvio.exe until the drive is listed (ms): ${telvio[*]}  median $mt"
echo "minimal dialog until its window shows (ms): ${minimal[*]}  median $mm"
awk -v a="$mt" -v b="$mm" 'BEGIN { printf "ratio %.2f (target at most 1.30)\n", a / b }'
