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

# It builds only what it runs: the DLLs of one bitness and the stand-ins
# (the target kalvora_demo_install of that bitness's tree), each stage in one
# line with the time it took. The test command builds the rest in the same
# trees.
kalvora_stage "installing what is missing (scripts/setup.sh)" "$KALVORA_ROOT/scripts/setup.sh"
kalvora_select_bitnesses
case " $KALVORA_BITNESSES " in
*" 32 "*) bits=32 ;;
*) bits=64 ;;
esac
echo "==> The demo runs the $bits-bit DLL (host: $KALVORA_BITNESS_NOTE)"
kalvora_stage "configuring the build in $BUILD_DIR" kalvora_configure
demo_build() {
    if [ "$bits" = 64 ]; then
        cmake --build "$BUILD_DIR" --target kalvora_x64-configure
    fi
    cmake --build "$(kalvora_build_dir "$bits")" --target kalvora_demo_install -j "$(nproc)"
}
kalvora_stage "building the $bits-bit DLLs and the stand-ins" demo_build
kalvora_stage "booting a $bits-bit Wine prefix" kalvora_boot_prefix "$bits" "$BUILD_DIR/demo-prefix"
kalvora_use_wine "$bits"
export WINEPREFIX="$BUILD_DIR/demo-prefix"
kalvora_stage "registering the module and the stand-ins" \
    sh "$KALVORA_ROOT/tests/doubles/install.sh" "$bits" "$(kalvora_build_dir "$bits")" tests/demo-install

# Sample data, in one import: the users and the stand-ins' settings, all in
# the 32-bit registry view, where the module and the stand-ins read them.
sample_data() {
    fixture=$(kalvora_winpath "$KALVORA_ROOT/tests/doubles/demo-directory.txt" | sed 's/\\/\\\\/g')
    {
        cat "$KALVORA_ROOT/examples/sample-users.reg"
        printf '\n[HKEY_LOCAL_MACHINE\\Software\\KalvoraTest\\Network\\Reachable]\n"PC1"=""\n'
        printf '\n[HKEY_LOCAL_MACHINE\\Software\\KalvoraTest\\ADSystemInfo]\n'
        printf '"DomainShortName"="CORP"\n"DomainDNSName"="corp.example.com"\n'
        printf '\n[HKEY_LOCAL_MACHINE\\Software\\KalvoraTest\\Directory]\n"Fixture"="%s"\n' "$fixture"
    } >"$WINEPREFIX/drive_c/demo-data.reg"
    "$WINELOADER" reg import 'C:\demo-data.reg' /reg:32 ||
        kalvora_fail "could not import the sample data into $WINEPREFIX"
    for dir in "C\$/windows" "C\$/Documents and Settings/ckent.CORP" "C\$/Documents and Settings/llane"; do
        mkdir -p "$WINEPREFIX/dosdevices/unc/PC1/$dir"
    done
    "$WINESERVER" -w
}
kalvora_stage "sample users, a network computer and a domain directory" sample_data

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
