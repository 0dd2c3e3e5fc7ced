#!/bin/sh
# The demo: installs what is missing, builds, registers the module in a fresh
# Wine prefix with sample users, and runs an example admin session. It runs
# the 32-bit DLL where the host executes 32-bit code, else the 64-bit one.
set -eu
. "$(dirname "$0")/env.sh"

"$KALVORA_ROOT/scripts/setup.sh"
kalvora_select_bitnesses
case " $KALVORA_BITNESSES " in
*" 32 "*) bits=32 ;;
*) bits=64 ;;
esac
kalvora_build
echo
echo "==> The demo runs the $bits-bit DLL (host: $KALVORA_BITNESS_NOTE)"
kalvora_boot_prefix "$bits" "$BUILD_DIR/demo-prefix"
kalvora_register "$bits" "$(kalvora_build_dir "$bits")/KalvoraAdminUser.dll"
# The users live in the 32-bit registry view, where both DLLs keep them.
"$WINELOADER" reg import "$(kalvora_winpath "$KALVORA_ROOT/examples/sample-users.reg")" /reg:32 >/dev/null 2>&1 ||
    kalvora_fail "could not import the sample users into $WINEPREFIX"

echo "KalvoraAdminUser.dll ($bits-bit) registered in $WINEPREFIX"
for script in user_demo.vbs list_users.vbs shares_demo.vbs; do
    echo
    echo "==> $script"
    "$WINELOADER" cscript //nologo "$(kalvora_winpath "$KALVORA_ROOT/examples/$script")" ||
        kalvora_fail "$script failed"
done
"$WINESERVER" -w || true
