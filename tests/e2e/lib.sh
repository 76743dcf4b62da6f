# Shared by the end-to-end tests and the demo: the real telvio.exe under Wine against the
# simulated drive, worked by the scripted user on an Xvfb display of its own.
#
# Environment: TELVIO_BUILD_DIR (the win64 tree), TELVIO_SGIO (the SG_IO library),
# E2E_DISPLAY_KEEP=1 to use the caller's $DISPLAY instead of a private Xvfb, TELVIO_EXE
# another telvio.exe than the tree's (the one shipped in the release zip, or the win32
# tree's: the scripted user stays the win64 tree's), TELVIO_SGIO32 the i386 SG_IO library
# for a 32-bit telvio.exe.
set -u

E2E_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
E2E_BUILD=${TELVIO_BUILD_DIR:?TELVIO_BUILD_DIR names the win64 tree}
E2E_BIN=$E2E_BUILD/bin
E2E_RUNNER=$E2E_ROOT/tools/wine-run.sh
E2E_FAILS=0
E2E_XVFB=""
E2E_TELVIO=""

# A work folder of its own for each test: scenario, record, state, images, outputs.
e2e_begin() {
    E2E_NAME=$1
    E2E_WORK=${E2E_WORK_DIR:-$E2E_BUILD/e2e-work}/$E2E_NAME
    rm -rf "$E2E_WORK"
    mkdir -p "$E2E_WORK/state"
    trap e2e_cleanup EXIT
    if [ "${E2E_DISPLAY_KEEP:-0}" != "1" ]; then
        local fifo
        fifo=$(mktemp -u)
        mkfifo "$fifo"
        Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
        E2E_XVFB=$!
        local dnum=""
        read -r -t 20 dnum <"$fifo"
        rm -f "$fifo"
        [ -n "$dnum" ] || { echo "e2e: Xvfb did not start" >&2; exit 1; }
        export DISPLAY=":$dnum"
    fi
    export TELVIO_BUILD_DIR=$E2E_BUILD
    unset TELVIO_DISPLAY
}

e2e_cleanup() {
    if [ -n "$E2E_TELVIO" ] && kill -0 "$E2E_TELVIO" 2>/dev/null; then
        kill "$E2E_TELVIO" 2>/dev/null
        wait "$E2E_TELVIO" 2>/dev/null
    fi
    if [ -n "$E2E_XVFB" ]; then
        kill "$E2E_XVFB" 2>/dev/null
        wait "$E2E_XVFB" 2>/dev/null
    fi
}

# The Windows form of a unix path, through Wine's Z: drive.
winpath() {
    printf 'Z:%s' "$1" | tr '/' '\\'
}

# Writes the scenario from stdin, with the record and state lines first.
e2e_scenario() {
    {
        echo "record $E2E_WORK/record.txt"
        echo "state $E2E_WORK/state"
        cat
    } >"$E2E_WORK/scenario.txt"
    export TELVIO_SIM_SCENARIO=$E2E_WORK/scenario.txt
}

# The simulated drive's vendor and product identification (the scenario's defaults).
E2E_VENDOR=TELVIOSM
E2E_PRODUCT="SIM DVD-RW"

# A raw image of $2 bytes at $1, and its Intel-HEX twin when $1 ends in .hex. Like a
# drive's own firmware it holds the drive's INQUIRY reply at offset 64: vendor and
# product padded to 8 and 16 bytes, then the revision $3 (default 2.00, the scenarios'
# new revision, which the drive then takes from it). $3 "unnamed" leaves them out.
e2e_image() {
    local path=$1 size=$2 revision=${3:-2.00}
    local bin=${path%.*}.bin
    E2E_IMAGE_BIN=$bin
    head -c "$size" /dev/urandom >"$bin"
    if [ "$revision" != unnamed ]; then
        printf '%-8s%-16s%-4s' "$E2E_VENDOR" "$E2E_PRODUCT" "$revision" |
            dd of="$bin" bs=1 seek=64 conv=notrunc status=none
    fi
    if [ "${path##*.}" = "hex" ]; then
        srec_cat "$bin" -binary -o "$path" -intel -Output_Block_Size=16 >/dev/null 2>&1
        # Images under 64 KiB need no extended-address record; the drive's format has none.
        sed -i '/^:02000004/d' "$path"
    fi
}

# Has the next scripted user start telvio.exe: $1 the Windows version (win98 takes the
# ASPI path, nt40 and winxp the pass-through), then extra WINEDLLOVERRIDES entries if any.
# The user starts it, so the user knows its process among the windows of every test that
# shares the prefix's wineserver.
e2e_start() {
    local version=$1
    E2E_OVERRIDES=${2:-}
    E2E_PRELOAD=""
    E2E_PRELOAD32=""
    if [ "$version" != "win98" ]; then
        E2E_PRELOAD=${TELVIO_SGIO:?TELVIO_SGIO names the SG_IO library}
        E2E_PRELOAD32=${TELVIO_SGIO32:-}
    fi
    E2E_LAUNCH="launch-as $version $(winpath "${TELVIO_EXE:-$E2E_BIN/telvio.exe}")"
}

# Starts telvio.exe in the background for a person to work (no scripted user).
e2e_start_direct() {
    local version=$1 preload="" preload32=""
    if [ "$version" != "win98" ]; then
        preload=${TELVIO_SGIO:?TELVIO_SGIO names the SG_IO library}
        preload32=${TELVIO_SGIO32:-}
    fi
    TELVIO_WINVER=$version TELVIO_PRELOAD=$preload TELVIO_PRELOAD32=$preload32 \
        "$E2E_RUNNER" "${TELVIO_EXE:-$E2E_BIN/telvio.exe}" >"$E2E_WORK/telvio.out" 2>&1 &
    E2E_TELVIO=$!
}

# Runs the scripted user with the given steps; its output goes to $E2E_WORK/user.out
# (appended) and to stdout. Returns its exit code.
e2e_user() {
    local out=$E2E_WORK/user.step.out
    local launch=()
    [ -n "${E2E_LAUNCH:-}" ] && launch=("$E2E_LAUNCH")
    E2E_LAUNCH=""
    TELVIO_PRELOAD=${E2E_PRELOAD:-} TELVIO_PRELOAD32=${E2E_PRELOAD32:-} \
        TELVIO_DLLOVERRIDES=${E2E_OVERRIDES:-} \
        "$E2E_RUNNER" "$E2E_BIN/telvio-user.exe" "${launch[@]}" "$@" >"$out" 2>&1
    local rc=$?
    cat "$out" >>"$E2E_WORK/user.out"
    cat "$out"
    return $rc
}

# Waits for telvio.exe to end (after the user closed it).
e2e_wait_telvio() {
    [ -n "$E2E_TELVIO" ] || return 0
    local i
    for i in $(seq 1 300); do
        kill -0 "$E2E_TELVIO" 2>/dev/null || { wait "$E2E_TELVIO" 2>/dev/null; E2E_TELVIO=""; return 0; }
        sleep 0.1
    done
    echo "e2e: telvio.exe did not end" >&2
    return 1
}

fail() {
    echo "FAIL [$E2E_NAME]: $*" >&2
    E2E_FAILS=$((E2E_FAILS + 1))
}

check() {  # check "what" command...
    local what=$1
    shift
    "$@" || fail "$what"
}

# Lines of the record file whose CDB starts with the given hex bytes.
record_count() {
    grep -c "cdb=$1" "$E2E_WORK/record.txt" 2>/dev/null || true
}

# The drive took exactly the last image e2e_image made: each 4096-byte block went out at
# its buffer offset with good status once (after any retries), then the 32-byte checksum
# block at offset 0, then mode 7; and the firmware it flashed begins with the image.
check_download() {
    local record=$E2E_WORK/record.txt firmware=$E2E_WORK/state/main.firmware
    local size blocks i offset
    size=$(stat -c %s "$E2E_IMAGE_BIN")
    check "the flashed firmware is the image" cmp -s -n "$size" "$E2E_IMAGE_BIN" "$firmware"
    blocks=$(($(stat -c %s "$firmware" 2>/dev/null || echo 0) / 4096))
    check "the image's blocks" test "$blocks" -ge $(((size + 4095) / 4096))
    for i in $(seq 0 $((blocks - 1))); do
        offset=$(printf '%06x' $((32 + i * 4096)))
        check "block $i sent once" test "$(grep -c "cdb=3b0600${offset}001000.* status=0 .*transport=ok" "$record")" = 1
    done
    check "checksum block, then mode 7, last" bash -c "grep -o 'cdb=3b0[67][0-9a-f]*' '$record' | tail -2 | \
        diff - <(printf '%s\n' cdb=3b0600000000000020000000 cdb=3b0700000000000000000000) >/dev/null"
}

e2e_end() {
    if [ "$E2E_FAILS" -ne 0 ]; then
        echo "[$E2E_NAME] $E2E_FAILS check(s) failed; outputs in $E2E_WORK" >&2
        exit 1
    fi
    echo "[$E2E_NAME] passed"
    exit 0
}
