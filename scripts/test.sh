#!/bin/sh
# Runs every test, for every bitness that this host runs: installs what is
# missing, builds both bitnesses and the release packages (into
# <build>/dist), boots one template prefix per bitness with the module
# registered, and runs ctest in each build tree. Every suite runs in a fresh
# copy of its bitness's template prefix (tests/run_test.sh), with Wine's heap
# checking on: a heap error that any test's run reports fails it.
# A full run also runs the native fuzz targets for a bounded time
# (scripts/fuzz.sh), and builds the release again in another folder to
# compare it (scripts/reproduce.sh).
#
#   scripts/test.sh [ctest arguments]      for example -R shares
#   KALVORA_BITNESS=64 scripts/test.sh     only the 64-bit build
set -eu
. "$(dirname "$0")/env.sh"

"$KALVORA_ROOT/scripts/setup.sh"
kalvora_select_bitnesses
echo "==> testing $KALVORA_BITNESS_NOTE"
kalvora_build
# The release packages, signed with test keys, for the package tests
# (package_x64, package_x86).
echo "==> packages (scripts/package.sh --test-sign)"
sh "$KALVORA_ROOT/scripts/package.sh" --no-build --test-sign --out "$BUILD_DIR/dist" ||
    kalvora_fail "building the packages failed (output above)"

failed=""
for bits in $KALVORA_BITNESSES; do
    dir=$(kalvora_build_dir "$bits")
    echo "==> $bits-bit: booting the template prefix"
    kalvora_prepare_test_prefix "$bits" "$dir/test-prefix" heapcheck
    echo "==> $bits-bit: ctest"
    (cd "$dir" && ctest --output-on-failure -j "$(nproc)" "$@") || failed="$failed $bits-bit"
done

# The native fuzz targets, a bounded run (a full run only).
if [ $# -eq 0 ]; then
    echo "==> fuzz targets (native)"
    sh "$KALVORA_ROOT/scripts/fuzz.sh" || failed="$failed fuzz"
fi

# A second build of the release in another folder gives the same bytes (a
# full run only).
if [ $# -eq 0 ]; then
    echo "==> reproducible release (scripts/reproduce.sh)"
    sh "$KALVORA_ROOT/scripts/reproduce.sh" "$BUILD_DIR" || failed="$failed reproduce"
fi

# On a host that runs both bitnesses, check the entry points as a host
# without 32-bit support would run them (a full run only).
if [ $# -eq 0 ] && kalvora_selected 32; then
    echo "==> entry points on a host without 32-bit support (probe made to fail)"
    sh "$KALVORA_ROOT/tests/entry_points.sh" || failed="$failed entry-points"
fi

if [ -n "$failed" ]; then
    echo "Tested $KALVORA_BITNESS_NOTE: FAILED in$failed"
    exit 1
fi
echo "Tested $KALVORA_BITNESS_NOTE: all passed"
