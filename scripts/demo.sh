#!/bin/sh
# The demo: installs what is missing, builds, registers the module in a fresh
# Wine prefix with sample users, and runs an example admin session. It runs
# the 32-bit DLL where the host executes 32-bit code, else the 64-bit one.
#
# Wine has no network computers and no domain directory, so the demo prefix
# gets the stand-ins of tests/doubles (registered with the module copy beside
# them): computer PC1 answers and holds a profile layout, PC4 does not; the
# domain is corp.example.com (CORP), with the directory of
# tests/doubles/demo-directory.txt.
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
sh "$KALVORA_ROOT/tests/doubles/install.sh" "$bits" "$(kalvora_build_dir "$bits")" tests/demo-install ||
    kalvora_fail "could not install the network and directory stand-ins in $WINEPREFIX"

# Sample data; the module's data and the stand-ins' settings live in the
# 32-bit registry view.
reg32() { "$WINELOADER" reg "$@" /reg:32 /f >/dev/null 2>&1 || kalvora_fail "reg $* failed in $WINEPREFIX"; }
"$WINELOADER" reg import "$(kalvora_winpath "$KALVORA_ROOT/examples/sample-users.reg")" /reg:32 >/dev/null 2>&1 ||
    kalvora_fail "could not import the sample users into $WINEPREFIX"
reg32 add 'HKLM\Software\KalvoraTest\Network\Reachable' /v PC1 /d ""
reg32 add 'HKLM\Software\KalvoraTest\ADSystemInfo' /v DomainShortName /d CORP
reg32 add 'HKLM\Software\KalvoraTest\ADSystemInfo' /v DomainDNSName /d corp.example.com
reg32 add 'HKLM\Software\KalvoraTest\Directory' /v Fixture /d "$(kalvora_winpath "$KALVORA_ROOT/tests/doubles/demo-directory.txt")"
for dir in "C\$/windows" "C\$/Documents and Settings/ckent.CORP" "C\$/Documents and Settings/llane"; do
    mkdir -p "$WINEPREFIX/dosdevices/unc/PC1/$dir"
done
"$WINESERVER" -w

run() {
    echo
    echo "==> $1"
    script="$1"
    shift
    "$WINELOADER" cscript //nologo "$(kalvora_winpath "$KALVORA_ROOT/examples/$script")" "$@" ||
        kalvora_fail "$script failed"
}
echo "KalvoraAdminUser.dll ($bits-bit) registered in $WINEPREFIX"
run user_demo.vbs
run list_users.vbs
run import_users.vbs "$(kalvora_winpath "$KALVORA_ROOT/examples/sample-import.csv")"
run shares_demo.vbs
run list_directory.vbs
"$WINESERVER" -w || true
