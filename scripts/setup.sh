#!/bin/sh
# Installs the cross toolchain and Wine on Debian 12 when they are missing.
# Safe to run again: it only calls apt when a tool is absent.
set -eu

need=""
command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1 || need="$need g++-mingw-w64-i686-posix"
command -v i686-w64-mingw32-widl >/dev/null 2>&1 || need="$need mingw-w64-tools"
[ -f /usr/include/wine/wine/windows/oaidl.idl ] || need="$need libwine-dev"
command -v wine >/dev/null 2>&1 || need="$need wine"
[ -d /usr/lib/i386-linux-gnu/wine/i386-windows ] || need="$need wine32:i386"
command -v cmake >/dev/null 2>&1 || need="$need cmake"
# cmake only recommends make, which its Makefile generator needs.
command -v make >/dev/null 2>&1 || need="$need make"
[ -f /usr/src/googletest/CMakeLists.txt ] || need="$need googletest"

if [ -n "$need" ]; then
    if [ "$(id -u)" -ne 0 ]; then
        SUDO=sudo
    else
        SUDO=
    fi
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $SUDO dpkg --add-architecture i386
    fi
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    # shellcheck disable=SC2086
    $SUDO apt-get install -y -qq --no-install-recommends $need
fi
