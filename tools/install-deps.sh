#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when missing.
set -eu
pkgs="cmake make g++ clang libclang-rt-14-dev googletest libbenchmark-dev
 g++-mingw-w64-x86-64-win32 g++-mingw-w64-i686-win32
 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 mingw-w64-tools
 wine wine64 fonts-wine xvfb xauth imagemagick srecord python3
 qemu-user-static gcc-i686-linux-gnu g++-i686-linux-gnu libc6-dev-i386-cross
 gcc-12-source"
# 32-bit Wine, which runs here under qemu (tools/wine32): from the i386 architecture, and
# without its recommended extras (some 300 packages as it is).
pkgs32="wine32:i386"
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing="" missing32=""
for p in $pkgs; do installed "$p" || missing="$missing $p"; done
for p in $pkgs32; do installed "$p" || missing32="$missing32 $p"; done
[ -z "$missing$missing32" ] && exit 0
echo "installing:$missing$missing32"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
if [ -n "$missing32" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
# shellcheck disable=SC2086
[ -z "$missing" ] || $SUDO apt-get install -y -qq $missing
# shellcheck disable=SC2086
[ -z "$missing32" ] || $SUDO apt-get install -y -qq --no-install-recommends $missing32
