#!/bin/sh
# Checks the entry points on a host that cannot execute 32-bit code, by
# making their probe fail (KALVORA_PROBE_32=false): the demo runs the 64-bit
# DLL and says so, the test command tests the 64-bit build and says why it
# skipped the 32-bit one, the x64 package still installs (its 32-bit part
# checked without running 32-bit programs), and asking for 32-bit only fails
# with a reason.
# scripts/test.sh runs this after the suites on hosts that do run 32-bit code.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
export KALVORA_PROBE_32=false
skipped="32-bit skipped: this host does not execute 32-bit x86 code"
failures=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT
expect() {  # expect WHAT STATUS WANTED_STATUS PATTERN...: the status, and each pattern in the log
    what="$1" status="$2" wanted="$3"
    shift 3
    for pattern in "$@"; do
        grep -q "$pattern" "$log" || status="$status, no '$pattern'"
    done
    [ "$status" = "$wanted" ] && echo "ok: $what" || { echo "FAIL: $what: $status"; failures=$((failures + 1)); }
}

"$root/scripts/demo.sh" >"$log" 2>&1
expect "demo without 32-bit support" $? 0 "runs the 64-bit DLL (host: 64-bit ($skipped))" "Name: *asmith"
"$root/scripts/test.sh" -R 'module_tests|package_x64' -V >"$log" 2>&1
expect "test command without 32-bit support" $? 0 "^Tested 64-bit ($skipped): all passed" \
    "PACKAGE TESTS PASSED (x64)" "NOTE: 32-bit programs are not run" "==> 64-bit: ctest"
! grep -q "==> 32-bit" "$log" || expect "the test command leaves the 32-bit build alone" 1 0
KALVORA_BITNESS=32 "$root/scripts/test.sh" >"$log" 2>&1
expect "32-bit only on such a host" $? 1 "error: nothing to run: 32-bit skipped"
[ "$failures" -eq 0 ] && echo "ENTRY POINTS PASSED"
exit "$failures"
