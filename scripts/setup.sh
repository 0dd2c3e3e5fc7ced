#!/bin/sh
# Installs the cross toolchains and Wine on Debian 12 when they are missing;
# `setup.sh fuzz` also the native fuzzing toolchain, `setup.sh package` also
# what scripts/package.sh needs (`setup.sh fuzz package`: both).
# Safe to run again: it only calls apt when something is absent. Needs root
# (or sudo) for apt; says what to do when it cannot install.
set -eu

need=""
want() { need="$need $1"; }
command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1 || want g++-mingw-w64-i686-posix
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || want g++-mingw-w64-x86-64-posix
command -v i686-w64-mingw32-widl >/dev/null 2>&1 || want mingw-w64-tools
[ -f /usr/include/wine/wine/windows/oaidl.idl ] || want libwine-dev
command -v wine >/dev/null 2>&1 || want wine
[ -x /usr/lib/wine/wine64 ] || want wine64
# Installs even where the host cannot execute 32-bit code; the 32-bit build
# needs its stdole2.tlb in any case.
[ -d /usr/lib/i386-linux-gnu/wine/i386-windows ] || want wine32:i386
command -v cmake >/dev/null 2>&1 || want cmake
# cmake only recommends make, which its Makefile generator needs.
command -v make >/dev/null 2>&1 || want make
[ -f /usr/src/googletest/CMakeLists.txt ] || want googletest
# faketime runs the tools that write the time they run (widl, wixl) at the
# release's time, so that two builds give the same bytes.
command -v faketime >/dev/null 2>&1 || want faketime
# With "fuzz", what the native fuzz targets need (scripts/fuzz.sh): clang 14,
# its libFuzzer and sanitizer run times (libclang-rt-14-dev, which clang-14
# does not pull in), and llvm-symbolizer for source lines in their reports.
case " $* " in *" fuzz "*)
    command -v clang++-14 >/dev/null 2>&1 || want clang-14
    ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || want libclang-rt-14-dev
    command -v llvm-symbolizer-14 >/dev/null 2>&1 || want llvm-14
esac
# With "package": wixl builds the Windows Installer packages, msitools reads
# them back (msiinfo, msiextract), zip and unzip make and read the archives,
# clang-14 compiles the native tool that writes the packages' registry
# entries, and osslsigncode and openssl sign the release.
case " $* " in *" package "*)
    command -v osslsigncode >/dev/null 2>&1 || want osslsigncode
    command -v openssl >/dev/null 2>&1 || want openssl
    command -v wixl >/dev/null 2>&1 || want wixl
    command -v msiextract >/dev/null 2>&1 || want msitools
    command -v zip >/dev/null 2>&1 || want zip
    command -v unzip >/dev/null 2>&1 || want unzip
    command -v clang++-14 >/dev/null 2>&1 || want clang-14
esac

[ -n "$need" ] || exit 0

hint="as root: dpkg --add-architecture i386 && apt-get update && apt-get install -y --no-install-recommends$need"
if [ "$(id -u)" -eq 0 ]; then
    SUDO=
elif command -v sudo >/dev/null 2>&1; then
    SUDO=sudo
else
    echo "error: missing packages:$need" >&2
    echo "       this needs root to install them; $hint" >&2
    exit 1
fi
echo "==> installing:$need"
export DEBIAN_FRONTEND=noninteractive
if ! { dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386; } ||
    ! $SUDO apt-get update -qq ||
    ! $SUDO apt-get install -y -qq --no-install-recommends $need; then
    echo "error: installing the packages failed (apt's output above)" >&2
    echo "       check the network and the apt sources, then $hint" >&2
    exit 1
fi
