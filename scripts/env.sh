# Shared settings of the entry points (sourced, not run).
KALVORA_ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR="${BUILD_DIR:-$KALVORA_ROOT/build}"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="

# Builds the project into $BUILD_DIR.
kalvora_build() {
    cmake -S "$KALVORA_ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$BUILD_DIR" -j "$(nproc)"
}

# Creates a fresh 32-bit Wine prefix in $1 and registers the module there.
kalvora_new_prefix() {
    export WINEPREFIX="$1"
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    wine regsvr32 /s "$(winepath -w "$BUILD_DIR/KalvoraAdminUser.dll")"
}
