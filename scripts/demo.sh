#!/bin/sh
# The demo: installs what is missing, builds, registers the module in a fresh
# 32-bit Wine prefix with sample users, and runs an example admin session.
set -eu
. "$(dirname "$0")/env.sh"

"$KALVORA_ROOT/scripts/setup.sh"
kalvora_build
kalvora_new_prefix "$BUILD_DIR/demo-prefix"
wine reg import "$(winepath -w "$KALVORA_ROOT/examples/sample-users.reg")" >/dev/null 2>&1

run() {
    echo
    echo "==> $1"
    wine cscript //nologo "$(winepath -w "$KALVORA_ROOT/examples/$1")"
}

echo "KalvoraAdminUser.dll registered in $WINEPREFIX"
for script in user_demo.vbs list_users.vbs shares_demo.vbs; do
    if [ -f "$KALVORA_ROOT/examples/$script" ]; then
        run "$script"
    fi
done
wineserver -w || true
