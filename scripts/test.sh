#!/bin/sh
# Runs every test: installs what is missing, builds, creates a throwaway
# 32-bit Wine prefix with the module registered, and runs ctest (GoogleTest
# suites under Wine and the script clients under cscript).
set -eu
. "$(dirname "$0")/env.sh"

"$KALVORA_ROOT/scripts/setup.sh"
kalvora_build
kalvora_new_prefix "$BUILD_DIR/test-prefix"
cd "$BUILD_DIR"
status=0
ctest --output-on-failure "$@" || status=$?
wineserver -w || true
exit $status
