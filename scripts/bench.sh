#!/bin/sh
# Runs benchmarks, each in a fresh 32-bit Wine prefix of its own with the
# module registered there. Builds first. Benchmarks report ratios against a
# baseline in the same process; they are not tests.
#   scripts/bench.sh                      all benchmarks
#   scripts/bench.sh bench_shares [args]  one benchmark, with its arguments
set -eu
. "$(dirname "$0")/env.sh"

"$KALVORA_ROOT/scripts/setup.sh"
kalvora_build >/dev/null

run_one() {
    name="$1"
    shift
    kalvora_new_prefix "$BUILD_DIR/bench-prefix"
    echo "==> $name $*"
    status=0
    wine "$BUILD_DIR/bench/$name.exe" "$@" || status=$?
    wineserver -k || true
    rm -rf "$BUILD_DIR/bench-prefix"
    return $status
}

if [ $# -gt 0 ]; then
    run_one "$@"
else
    for b in bench_dispatch bench_shares bench_collection_load; do
        run_one "$b"
    done
fi
