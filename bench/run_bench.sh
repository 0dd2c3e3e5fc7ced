#!/bin/sh
# Runs one benchmark in a fresh 32-bit Wine prefix of its own, with the module
# registered there.  Usage: bench/run_bench.sh bench_collection_load [args...]
# Build first (scripts/test.sh or cmake --build); honours BUILD_DIR.
set -eu
. "$(dirname "$0")/../scripts/env.sh"
name="$1"
shift
kalvora_new_prefix "$BUILD_DIR/bench-prefix"
status=0
wine "$BUILD_DIR/bench/$name.exe" "$@" || status=$?
wineserver -k || true
rm -rf "$BUILD_DIR/bench-prefix"
exit $status
