# Shared settings and functions of the entry points (sourced, not run).
KALVORA_ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD_DIR="${BUILD_DIR:-$KALVORA_ROOT/build}"
. "$KALVORA_ROOT/scripts/wine.sh"

# Prints what failed and what to do about it, and stops with status 1.
kalvora_fail() {
    echo "error: $1" >&2
    [ $# -gt 1 ] && echo "       $2" >&2
    exit 1
}

# Configures the build tree (the 32-bit one, which holds the 64-bit one).
kalvora_configure() {
    cmake -S "$KALVORA_ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$BUILD_DIR.configure.log" 2>&1 ||
        { cat "$BUILD_DIR.configure.log" >&2
          kalvora_fail "configuring the build failed (log above)" "run scripts/setup.sh, then try again"; }
    rm -f "$BUILD_DIR.configure.log"
}

# Builds both bitnesses: the 32-bit tree in $BUILD_DIR, the 64-bit one in
# $BUILD_DIR/x64.
kalvora_build() {
    kalvora_configure
    cmake --build "$BUILD_DIR" -j "$(nproc)" ||
        kalvora_fail "the build failed (output above)"
}

# Runs one stage of an entry point quietly: prints its title, runs the
# command with its output in a log, and ends the line with the time the
# stage took. When the command fails, prints the log and stops.
#   kalvora_stage TITLE COMMAND [ARGS...]
kalvora_stage() {
    title="$1"
    shift
    printf '==> %s ... ' "$title"
    stage_log="$BUILD_DIR.stage.log"
    mkdir -p "$(dirname "$stage_log")"
    stage_start=$(date +%s.%N)
    if ("$@") >"$stage_log" 2>&1; then
        echo "$stage_start $(date +%s.%N)" | awk '{ printf "%.1f s\n", $2 - $1 }'
        rm -f "$stage_log"
    else
        echo "failed"
        cat "$stage_log" >&2
        rm -f "$stage_log"
        exit 1
    fi
}

# The direct probe: does this host execute 32-bit x86 code? It runs the
# 32-bit Wine loader, which the kernel refuses ("Exec format error") where
# it cannot. KALVORA_PROBE_32 names another command to run instead (the
# tests of these scripts make the probe fail with it).
kalvora_runs_32bit() {
    ${KALVORA_PROBE_32:-/usr/lib/wine/wine --version} >/dev/null 2>&1
}

# Sets KALVORA_BITNESSES to the bitnesses to test or run ("32 64", "64", ...)
# and KALVORA_BITNESS_NOTE to what it says of them ("64-bit (32-bit skipped:
# ...)"). KALVORA_BITNESS ("32", "64" or "32 64") limits the choice; the
# default is every bitness that the host runs. The 64-bit build always runs.
kalvora_select_bitnesses() {
    KALVORA_BITNESSES=""
    skipped=""
    for b in ${KALVORA_BITNESS:-32 64}; do
        case "$b" in
        32)
            if kalvora_runs_32bit; then
                KALVORA_BITNESSES="$KALVORA_BITNESSES 32"
            else
                skipped="32-bit skipped: this host does not execute 32-bit x86 code"
            fi
            ;;
        64) KALVORA_BITNESSES="$KALVORA_BITNESSES 64" ;;
        *) kalvora_fail "KALVORA_BITNESS='$KALVORA_BITNESS': expected 32, 64 or \"32 64\"" ;;
        esac
    done
    KALVORA_BITNESSES="${KALVORA_BITNESSES# }"
    [ -n "$KALVORA_BITNESSES" ] ||
        kalvora_fail "nothing to run: $skipped" "set KALVORA_BITNESS=64, or leave it unset"
    KALVORA_BITNESS_NOTE=$(echo "$KALVORA_BITNESSES" | sed 's/\([0-9][0-9]\)/\1-bit/g; s/ / and /')
    if [ -n "$skipped" ]; then
        KALVORA_BITNESS_NOTE="$KALVORA_BITNESS_NOTE ($skipped)"
    elif [ -n "${KALVORA_BITNESS:-}" ]; then
        KALVORA_BITNESS_NOTE="$KALVORA_BITNESS_NOTE (KALVORA_BITNESS=$KALVORA_BITNESS)"
    fi
}

# Whether bitness $1 is among KALVORA_BITNESSES.
kalvora_selected() {
    case " $KALVORA_BITNESSES " in *" $1 "*) return 0 ;; esac
    return 1
}

# The build tree of a bitness.
kalvora_build_dir() {
    if [ "$1" = 64 ]; then echo "$BUILD_DIR/x64"; else echo "$BUILD_DIR"; fi
}

# Boots a fresh prefix of bitness $1 in $2 and leaves WINEPREFIX set to it.
kalvora_boot_prefix() {
    kalvora_use_wine "$1"
    export WINEPREFIX="$2"
    "$WINESERVER" -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
    log="$WINEPREFIX.boot.log"
    if ! WINEARCH="win$1" "$WINELOADER" wineboot -i >"$log" 2>&1 || ! "$WINESERVER" -w ||
        [ ! -f "$WINEPREFIX/system.reg" ]; then
        cat "$log" >&2
        kalvora_fail "Wine could not start a $1-bit prefix in $WINEPREFIX (log above)" \
            "check that wine, wine64 and wine32:i386 are installed (scripts/setup.sh does it)"
    fi
    rm -f "$log"
}

# Registers a DLL of bitness $1 in the current prefix with the regsvr32 of
# that bitness (in a 64-bit prefix, the 32-bit one is SysWOW64's).
kalvora_register() {
    ( kalvora_use_wine "$1" && "$WINELOADER" regsvr32 /s "$(kalvora_winpath "$2")" ) ||
        kalvora_fail "regsvr32 could not register $2 in $WINEPREFIX"
}

# Boots the template prefix of bitness $1 that every test of that bitness
# copies (keeping a copy of it as booted in PREFIX-fresh), and installs
# there the test doubles and the tests' copy of the module beside them
# (tests/doubles/install.sh). A 64-bit template notes whether the 32-bit
# build is tested too: the test that has both DLLs share one store then
# registers the 32-bit one in its own copy.
#   kalvora_prepare_test_prefix BITS PREFIX [heapcheck]
# With heapcheck, every heap of the test programs and script hosts checks its
# blocks' tails and free blocks and validates itself on each call (GlobalFlag
# 0xF0 in their Image File Execution Options, both registry views), and
# tests/run_test.sh fails a test whose run reports a heap error. Wine's own
# services stay as they are.
kalvora_prepare_test_prefix() {
    bits="$1" prefix="$2"
    kalvora_boot_prefix "$bits" "$prefix"
    # A copy of the prefix as booted, before anything is registered, for the
    # package tests (Windows files linked, the registry files copied).
    rm -rf "$prefix-fresh"
    cp -al "$prefix" "$prefix-fresh" && cp --remove-destination -p "$prefix"/*.reg "$prefix-fresh/" ||
        kalvora_fail "could not copy $prefix"
    sh "$KALVORA_ROOT/tests/doubles/install.sh" "$bits" "$(kalvora_build_dir "$bits")" ||
        kalvora_fail "could not install the test doubles in $prefix"
    if [ "$bits" = 64 ] && kalvora_selected 32; then
        touch "$prefix/.kalvora-with-32bit"
    fi
    if [ "${3:-}" = heapcheck ]; then
        ifeo='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\Image File Execution Options'
        {
            printf 'REGEDIT4\n'
            for exe in cscript.exe $(cd "$(kalvora_build_dir "$bits")/tests" && ls ./*.exe | sed 's|^\./||'); do
                printf '\n[%s\\%s]\n"GlobalFlag"=dword:000000f0\n' "$ifeo" "$exe"
            done
        } >"$prefix/drive_c/kalvora-heap-check.reg"
        for view in 32 64; do
            [ "$view" = 64 ] && [ "$bits" = 32 ] && continue
            "$WINELOADER" reg import "$(kalvora_winpath "$prefix/drive_c/kalvora-heap-check.reg")" /reg:$view >/dev/null 2>&1 ||
                kalvora_fail "could not turn on heap checking in $prefix"
        done
        touch "$prefix/.kalvora-heap-check"
    fi
    "$WINESERVER" -w
}
