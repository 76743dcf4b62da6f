#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when missing.
set -eu
pkgs="cmake make g++ clang libclang-rt-14-dev googletest libbenchmark-dev
 g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32
 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 mingw-w64-tools
 wine wine64 fonts-wine xvfb xauth imagemagick srecord python3"
missing=""
for p in $pkgs; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq $missing
