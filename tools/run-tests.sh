#!/usr/bin/env bash
# Runs every test of the built trees: native, under Wine, and the fuzz replay; ends with
# one plain line of totals and fails when anything failed.
set -u
build=$1; jobs=${2:-2}; fuzz_seconds=${3:-60}
fail=0
passed=0; failed=0
logdir=$(mktemp -d)

count() {  # ctest's "N% tests passed, F tests failed out of T"
    local line t f
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -1)
    if [ -z "$line" ]; then fail=1; return; fi
    f=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
    t=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/')
    passed=$((passed + t - f)); failed=$((failed + f))
}

echo "== host tests (native, ASan+UBSan)"
ctest --test-dir "$build/host" -j "$jobs" --output-on-failure 2>&1 | tee "$logdir/host"
[ "${PIPESTATUS[0]}" -eq 0 ] || fail=1
count "$logdir/host"

echo "== win64 tests (Wine)"
# One display for the whole session. Wine's desktop process belongs to the prefix's
# server and stays bound to the display of the program that started it: with an Xvfb per
# test, a test that starts just after another's Xvfb went away finds a dead desktop and
# cannot create windows. The tests drive windows by messages, never by real input, so
# sharing one display does not let them disturb each other.
fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
xvfb_pid=$!
dnum=""
read -r -t 20 dnum <"$fifo"
rm -f "$fifo"
if [ -n "$dnum" ]; then
    export TELVIO_SHARED_DISPLAY=":$dnum" E2E_DISPLAY_KEEP=1 DISPLAY=":$dnum"
else
    echo "run-tests: no session display; tests start their own"
fi
ctest --test-dir "$build/win64" -j "$jobs" --output-on-failure 2>&1 | tee "$logdir/win64"
[ "${PIPESTATUS[0]}" -eq 0 ] || fail=1
count "$logdir/win64"
# The prefixes' servers would leave by themselves; stop them now that the tests are done
# (the shared prefix and the DPI tests' own), then the display they used.
bash tools/stop-wineservers.sh "$(cd "$build/win64" && pwd)"
kill "$xvfb_pid" 2>/dev/null
wait "$xvfb_pid" 2>/dev/null
unset TELVIO_SHARED_DISPLAY E2E_DISPLAY_KEEP

echo "== import floor (the oldest Windows each telvio.exe must load on)"
for floor in "win32 4.0" "win64 5.2"; do
    read -r tree version <<<"$floor"
    if python3 tools/import-floor/check.py "$build/$tree/bin/telvio.exe" \
        "tools/import-floor/$tree.allow" --os-version "$version"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1)); fail=1
    fi
done

echo "== imports resolved before the program runs (KnownDLLs from XP on, or side by side)"
if python3 tools/import-floor/known-dlls.py "$build/win32/bin/telvio.exe" "$build/win64/bin/telvio.exe"; then
    passed=$((passed + 1))
else
    failed=$((failed + 1)); fail=1
fi

echo "== format strings (only conversions the msvcrt of Windows 98 knows)"
if python3 tools/format-check/check.py; then passed=$((passed + 1)); else failed=$((failed + 1)); fail=1; fi

echo "== release zips (built twice and compared; their exes tested as shipped)"
if bash tools/release/check.sh "$build" "$jobs"; then passed=$((passed + 1)); else failed=$((failed + 1)); fail=1; fi

if [ -f fuzz/run.sh ]; then
    echo "== fuzz corpus replay and a short campaign"
    if bash fuzz/run.sh "$build/fuzz" "$fuzz_seconds"; then passed=$((passed + 1)); else failed=$((failed + 1)); fail=1; fi
fi
rm -rf "$logdir"

[ $failed -gt 0 ] && fail=1
echo "tests: $passed passed, $failed failed"
exit $fail
