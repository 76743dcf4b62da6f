#!/usr/bin/env bash
# make dist: the zips a Windows user downloads, and their SHA256SUMS.
#   dist.sh TREES OUT [JOBS]
# builds the shipped telvio.exe in TREES/dist-win64 and TREES/dist-win32 (small, stripped,
# the same bytes wherever they are built: cmake/TelvioRelease.cmake) and packs them into
# OUT with pack.py. Two runs from one commit give the same bytes, in any folder, at any time.
set -eu
trees=$1; out=$2; jobs=${3:-2}
root=$(cd "$(dirname "$0")/../.." && pwd)

# The zip entries' time is the last commit's, so it changes only with the source.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null) || {
        echo "dist: not a git checkout: set SOURCE_DATE_EPOCH" >&2
        exit 1
    }
fi

exes=()
for arch in win64 win32; do
    tree=$trees/dist-$arch
    toolchain=$root/cmake/mingw-w64-x86_64.cmake
    [ "$arch" = win32 ] && toolchain=$root/cmake/mingw-w64-i686.cmake
    if [ ! -f "$tree/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$tree" -DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
            -DTELVIO_TESTS=OFF -DTELVIO_RELEASE=ON >/dev/null
    fi
    cmake --build "$tree" -j "$jobs" --target telvio
    exes+=("$arch=$tree/bin/telvio.exe")
done
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$trees/dist-win64/CMakeCache.txt")
python3 "$root/tools/release/pack.py" zip --version "$version" --epoch "$SOURCE_DATE_EPOCH" \
    --readme "$root/tools/release/README.txt" --out "$out" "${exes[@]}"
