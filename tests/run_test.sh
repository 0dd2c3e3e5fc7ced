#!/bin/sh
# Runs one test in a fresh copy of its bitness's template prefix (booted and
# prepared once per run by scripts/test.sh), so that suites never see each
# other's registry and may run side by side.
#
#   run_test.sh BITNESS TEMPLATE gtest PROGRAM [ARGS...]
#   run_test.sh BITNESS TEMPLATE script FILE.vbs|FILE.js
#   run_test.sh BITNESS TEMPLATE steps STEP...
#       steps run one after another in one prefix: BITS:FILE:ARG runs a
#       script with the cscript of that bitness (32 in a 64-bit prefix:
#       SysWOW64's); register:BITS:DLL registers a DLL with the regsvr32 of
#       that bitness. Skipped (exit code 77) unless the template says that
#       the 32-bit build is tested too.
#   run_test.sh BITNESS TEMPLATE program PROGRAM [ARGS...]   (its exit code)
#
# A GoogleTest program passes only when it exits with 0 and printed its
# closing summary line: a crash fails whatever exit code Wine hands back.
# A script passes only when it exits with 0 and printed "SCRIPT PASSED"
# (cscript hides script errors, so scripts count their own failures).
set -u
bitness="$1" template="$2" kind="$3"
shift 3
. "$(dirname "$0")/../scripts/wine.sh"
kalvora_use_wine "$bitness" || exit 2
[ -f "$template/system.reg" ] || { echo "FAIL: no template prefix in $template; run scripts/test.sh first"; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kalvora-test.XXXXXX")
export WINEPREFIX="$work/prefix"
trap '"$WINESERVER" -k >/dev/null 2>&1; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

# The Windows files are linked, not copied (they are only read); the
# registry and the top-level files are real copies.
cp -al "$template" "$WINEPREFIX" || exit 2
for f in "$template"/*.reg "$template"/.update-timestamp; do
    [ -f "$f" ] && cp --remove-destination -p "$f" "$WINEPREFIX/"
done

# Events reported through OSUtilities.dll go to a file of the test's own.
KALVORA_EVENT_LOG=$(kalvora_winpath "$work/events.log")
export KALVORA_EVENT_LOG
out="$work/output.txt"

# In a heap-checked template every heap validates itself on each call; its
# errors (err:heap) fail the test. KALVORA_HEAP_CHECK=params keeps the checks
# of the pointer that each call is given but not the walk of the whole heap
# on each call, which costs a long test minutes; KALVORA_HEAP_CHECK=off turns
# the debug heap off for a test that measures committed memory (the checks
# keep freed blocks back for a while, which makes its growth noise).
heap_check=false
if [ -f "$template/.kalvora-heap-check" ]; then
    heap_check=true
    WINEDEBUG="$WINEDEBUG,err+heap"
    case "${KALVORA_HEAP_CHECK:-}" in
    params) flags=00000070 ;;
    off) flags=00000000 ;;
    *) flags= ;;
    esac
    [ -z "$flags" ] ||
        sed -i "s/^\"GlobalFlag\"=dword:[0-9a-f]*\$/\"GlobalFlag\"=dword:$flags/" "$WINEPREFIX/system.reg"
fi

# Runs a command with its output in $out and shown; fails (with $1 as the
# reason) on an exit code other than 0, on output without the line that
# `pass` matches, or on heap errors.
checked() {
    pass="$1"
    shift
    "$@" >"$out" 2>&1
    rc=$?
    cat "$out"
    [ "$rc" -eq 0 ] || { echo "FAIL: exit code $rc"; return 1; }
    grep -Eq "$pass" "$out" && ! grep -Eq '^(FAIL:|\[  FAILED  \])' "$out" ||
        { echo "FAIL: no '$pass' line in the output (a crash?)"; return 1; }
    ! { $heap_check && grep -q 'err:heap' "$out" && echo "FAIL: Wine reported heap errors (err:heap above)"; }
}
script() {
    file="$1"
    shift
    checked '^SCRIPT PASSED' "$WINELOADER" cscript //nologo "$(kalvora_winpath "$file")" "$@"
}
case "$kind" in
gtest) checked '^\[  PASSED  \] [0-9]+ tests?\.' "$WINELOADER" "$@" || exit 1 ;;
script) script "$@" || exit 1 ;;
steps)
    [ -f "$template/.kalvora-with-32bit" ] || { echo "SKIPPED: the 32-bit build is not tested on this run"; exit 77; }
    for step in "$@"; do
        echo "---- $step"
        IFS=: read -r bits file arg <<EOF_STEP
$step
EOF_STEP
        if [ "$bits" = register ]; then
            kalvora_use_wine "$file" && "$WINELOADER" regsvr32 /s "$(kalvora_winpath "$arg")" ||
                { echo "FAIL: regsvr32 $arg"; exit 1; }
        else
            kalvora_use_wine "$bits" && script "$file" "$arg" || exit 1
        fi
    done
    ;;
program) "$WINELOADER" "$@"; exit $? ;;
*) echo "FAIL: unknown kind of test '$kind'"; exit 2 ;;
esac
