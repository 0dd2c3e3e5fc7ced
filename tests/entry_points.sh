#!/bin/sh
# Checks the entry points on a host that cannot execute 32-bit code, by
# making their probe fail (KALVORA_PROBE_32=false): the demo runs the 64-bit
# DLL and says so, the test command tests the 64-bit build and says why it
# skipped the 32-bit one, the x64 package still builds and installs (its
# 32-bit part checked without running 32-bit programs), and asking for
# 32-bit only fails with a reason.
# scripts/test.sh runs this after the suites on hosts that do run 32-bit code.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
export KALVORA_PROBE_32=false
failures=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT

expect() {  # expect WHAT STATUS WANTED_STATUS PATTERN
    if [ "$2" -ne "$3" ] || ! grep -q "$4" "$log"; then
        echo "FAIL: $1: exit status $2 (expected $3); output:"
        tail -n 20 "$log"
        failures=$((failures + 1))
    else
        echo "ok: $1"
    fi
}

"$root/scripts/demo.sh" >"$log" 2>&1
skipped="32-bit skipped: this host does not execute 32-bit x86 code"
expect "demo without 32-bit support" $? 0 "runs the 64-bit DLL (host: 64-bit ($skipped))"
expect "demo lists the sample users" 0 0 "Name:           asmith"
expect "demo times its build" 0 0 "^==> building the 64-bit DLLs and the stand-ins ... [0-9.]* s$"

"$root/scripts/test.sh" -R 'module_unit_tests|package_x64' -V >"$log" 2>&1
expect "test command without 32-bit support" $? 0 "^Tested 64-bit ($skipped): all passed"
expect "the x64 package installs without 32-bit support" 0 0 "PACKAGE TESTS PASSED (x64)"
expect "the package test says what it skipped" 0 0 "NOTE: 32-bit programs are not run"
expect "test command ran the 64-bit suite only" 0 0 "==> 64-bit: ctest"
if grep -q "==> 32-bit" "$log"; then
    echo "FAIL: the test command touched the 32-bit build"
    failures=$((failures + 1))
fi

KALVORA_BITNESS=32 "$root/scripts/test.sh" >"$log" 2>&1
expect "32-bit only on such a host" $? 1 "error: nothing to run: 32-bit skipped"

[ "$failures" -eq 0 ] && echo "ENTRY POINTS PASSED"
exit "$failures"
