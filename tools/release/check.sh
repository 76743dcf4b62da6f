#!/usr/bin/env bash
# make test's release step. The zips are built twice, in two trees of different names,
# and must come out the same bytes; then the exes taken out of them are tested as
# shipped: the x86-64 one does the demo's whole upgrade under Wine, both pass the
# import-floor, KnownDLLs and instruction-floor checks, both carry the version resource, and neither
# holds a folder of the build machine. (The demo browses for its image; in the 32-bit
# Wine that runs under qemu here the file dialog opens in most runs but now and then
# never does, the program waiting for ever, so the i686 exe is not run through it.) Last,
# a program linked in the i686 exe's own tree as that exe is (tests/win/runtime) tries its
# runtime, exceptions, memory running out and snprintf, under 32-bit Wine.
#   check.sh BUILD [JOBS]    (BUILD holds the host and win64 trees)
set -u
build=$(cd "$1" && pwd); jobs=${2:-2}
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$build/release-check
pack=$root/tools/release/pack.py
fails=0
fail() { echo "release: FAIL: $*" >&2; fails=$((fails + 1)); }

rm -rf "$work/one" "$work/two" "$work/shipped"
mkdir -p "$work"
# The first pair of trees is make dist's own; the second sits at another depth under
# another name, so a build folder that leaked into an exe would show as a difference.
for run in "$build one" "$work/second-build-tree two"; do
    read -r trees name <<<"$run"
    if ! bash "$root/tools/release/dist.sh" "$trees" "$work/$name" "$jobs" >"$work/$name.log" 2>&1; then
        cat "$work/$name.log"
        echo "release: FAIL: make dist ($trees)" >&2
        exit 1
    fi
done
python3 "$pack" compare "$work/one" "$work/two" || fail "two builds of one commit differ"

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/dist-win64/CMakeCache.txt")
for arch in win64 win32; do
    exe=$work/shipped/$arch/telvio.exe
    python3 "$pack" extract "$work/one/telvio-$version-$arch.zip" telvio.exe "$exe" || {
        fail "no telvio.exe in the $arch zip"
        continue
    }
    floor=5.2 cpu=x86-64
    [ "$arch" = win32 ] && floor=4.0 cpu=i586
    python3 "$root/tools/import-floor/check.py" "$exe" "$root/tools/import-floor/$arch.allow" \
        --os-version "$floor" || fail "the $arch zip's exe imports beyond its floor"
    python3 "$root/tools/import-floor/known-dlls.py" "$exe" ||
        fail "the $arch zip's exe imports a DLL that the loader may take from its folder"
    python3 "$root/tools/instruction-floor/check.py" "$exe" --floor "$cpu" ||
        fail "the $arch zip's exe holds instructions beyond its processor floor"
    resources=$(x86_64-w64-mingw32-windres -i "$exe" -O rc 2>&1)
    for want in "FILEVERSION ${version//./, }, 0" "\"FileVersion\", \"$version\"" \
        "\"ProductVersion\", \"$version\"" "\"ProductName\", \"Telvio\"" \
        "\"FileDescription\", \"Telvio drive firmware upgrade\"" \
        "\"OriginalFilename\", \"telvio.exe\"" "\"InternalName\", \"telvio\"" \
        "\"Telvio Version $version\""; do
        grep -qF -- "$want" <<<"$resources" || fail "the $arch exe's resources lack $want"
    done
    if strings -a "$exe" | grep -F -e "$root" -e "$build"; then
        fail "a build folder in the $arch exe"
    fi
    echo "release: $arch telvio.exe $(stat -c %s "$exe") bytes"
done

# The demo's scripted upgrade, on its own display, against the exe from the zip.
if [ -f "$work/shipped/win64/telvio.exe" ]; then
    (unset DISPLAY E2E_DISPLAY_KEEP TELVIO_SHARED_DISPLAY
     TELVIO_EXE=$work/shipped/win64/telvio.exe TELVIO_BUILD_DIR=$build/win64 \
         TELVIO_SGIO=$build/host/lib/libtelvio_sgio.so OUT=$work/demo-screens \
         bash "$root/tests/e2e/demo.sh") || fail "the demo's upgrade with the zip's exe"
fi
WINEPREFIX=$build/win64/wineprefix wineserver -k 2>/dev/null || true

# Its window needs a display; the prefix's desktop then follows this one's, so the
# server goes again after it.
check=$build/dist-win32/bin/telvio-runtime-check.exe
if cmake --build "$build/dist-win32" -j "$jobs" --target telvio-runtime-check >"$work/runtime-check.log" 2>&1; then
    python3 "$root/tools/instruction-floor/check.py" "$check" --floor i586 ||
        fail "the runtime check holds instructions beyond the i586 floor"
    (unset TELVIO_SHARED_DISPLAY
     TELVIO_BUILD_DIR=$build/win64 TELVIO_DISPLAY=1 bash "$root/tools/wine-run.sh" "$check") ||
        fail "the i686 runtime as shipped (tests/win/runtime) under 32-bit Wine"
    WINEPREFIX=$build/win64/wineprefix wineserver -k 2>/dev/null || true
else
    cat "$work/runtime-check.log"
    fail "the runtime check does not build in the shipped tree"
fi

[ "$fails" -eq 0 ] && echo "release: the zips are reproducible and their exes pass as shipped"
[ "$fails" -eq 0 ]
