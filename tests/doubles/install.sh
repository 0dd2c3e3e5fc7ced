#!/bin/sh
# Registers the test doubles of a build tree, and the module copy beside
# them, in the Wine prefix that WINEPREFIX names (booted, of that bitness;
# in a 64-bit prefix BITNESS 32 registers the 32-bit copies). COM then loads
# the module from the test install folder, where the test activeds.dll sits.
#
#   tests/doubles/install.sh BITNESS BUILD_TREE [FOLDER]
#
# BUILD_TREE is the build folder of that bitness (<build> or <build>/x64);
# FOLDER, inside it, holds the doubles and the module copy: tests/install
# (the default; the tests' build of the module) or tests/demo-install (the
# product DLL, for the demo).
# Register before starting the process under test: mpr reads the network
# providers once, when it loads.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/wine.sh"

fail() {
    echo "error: $1" >&2
    exit 1
}

[ $# -eq 2 ] || [ $# -eq 3 ] || fail "usage: $0 BITNESS BUILD_TREE [FOLDER]"
bits="$1"
dir="$2/${3:-tests/install}"
kalvora_use_wine "$bits" || exit 1
[ -n "${WINEPREFIX:-}" ] && [ -f "$WINEPREFIX/system.reg" ] ||
    fail "WINEPREFIX does not name a booted prefix (${WINEPREFIX:-unset})"

for dll in kalvora_testnet.dll kalvora_testads.dll activeds.dll KalvoraAdminUser.dll OSUtilities.dll; do
    [ -f "$dir/$dll" ] || fail "$dir/$dll is missing; build the tree first"
    [ "$(kalvora_pe_bits "$dir/$dll")" = "$bits" ] || fail "$dir/$dll is not a $bits-bit DLL"
done
for dll in kalvora_testnet.dll kalvora_testads.dll KalvoraAdminUser.dll; do
    # regsvr32 exits non-zero when loading or registering fails.
    "$WINELOADER" regsvr32 /s "$(kalvora_winpath "$dir/$dll")" ||
        fail "regsvr32 ($bits-bit) could not register $dir/$dll in $WINEPREFIX (exit code $?)"
done
"$WINESERVER" -w
