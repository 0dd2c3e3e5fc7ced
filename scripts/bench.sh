#!/bin/sh
# Runs benchmarks for every bitness that the host runs, each in a fresh copy
# of a prefix with the module registered. Builds first. Benchmarks report
# ratios against a baseline in the same process; they are not tests.
#   scripts/bench.sh                      all benchmarks
#   scripts/bench.sh bench_shares [args]  one benchmark, with its arguments
#   KALVORA_BITNESS=64 scripts/bench.sh   one bitness
set -eu
. "$(dirname "$0")/env.sh"

"$KALVORA_ROOT/scripts/setup.sh"
kalvora_select_bitnesses
kalvora_build >/dev/null
echo "==> benchmarks for $KALVORA_BITNESS_NOTE"

names="bench_dispatch bench_shares bench_collection_load bench_import bench_directory"
if [ $# -gt 0 ]; then
    names="$1"
    shift
fi
for bits in $KALVORA_BITNESSES; do
    dir=$(kalvora_build_dir "$bits")
    kalvora_prepare_test_prefix "$bits" "$dir/bench-prefix"
    for name in $names; do
        echo "==> $bits-bit $name $*"
        sh "$KALVORA_ROOT/tests/run_test.sh" "$bits" "$dir/bench-prefix" program "$dir/bench/$name.exe" "$@" ||
            echo "$bits-bit $name failed"
    done
    rm -rf "$dir/bench-prefix"
done
