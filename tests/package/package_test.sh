#!/bin/sh
# Installs a release package with Wine's msiexec, as an administrator would,
# in copies of the freshly booted prefix of its bitness, and checks:
#   - its COM keys and its event source in each registry view are those that
#     regsvr32 writes for the same DLLs at the same place, over a stale
#     LocalServer32 key under each class key;
#   - an installed example runs, and the installed OSUtilities.dll renders
#     the events, in each bitness;
#   - the signatures of the package and of the DLLs in it, and that package.sh
#     refuses signing input that cannot sign;
#   - regsvr32 /u OSUtilities.dll removes the event source of that copy only;
#   - uninstalling leaves no key or file of the package and keeps the
#     administrator's data; upgrading from an earlier version leaves one
#     product and one registration.
# Where 32-bit programs do not run, the x64 package's 32-bit registration is
# checked against the 64-bit one read for the 32-bit view.
#
#   package_test.sh 64|32 MAIN_BUILD_TREE   (the packages: MAIN_BUILD_TREE/dist)
set -u
bits="$1" main="$2"
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/scripts/wine.sh"
kalvora_use_wine "$bits" || exit 2
arch=x86 tree="$main" dir="Program Files/KalvoraAdminUser" dir32=""
[ "$bits" = 64 ] && arch=x64 tree="$main/x64" dir32="Program Files (x86)/KalvoraAdminUser"
package=$(ls "$main"/dist/KalvoraAdminUser-*-$arch.msi)
[ -f "$package" ] || exit 2
version=${package##*/KalvoraAdminUser-} version=${version%-$arch.msi}
runs32=true
if [ "$bits" = 64 ] && [ ! -f "$tree/test-prefix/.kalvora-with-32bit" ]; then
    runs32=false
    echo "NOTE: 32-bit programs are not run; the 32-bit view is checked against the 64-bit registration"
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/kalvora-package-test.XXXXXX")
cleanup() {
    for p in "$work"/*/system.reg; do
        [ -f "$p" ] && WINEPREFIX=${p%/*} "$WINESERVER" -k >/dev/null 2>&1
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
cd "$work" || exit 2
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
ok() { echo "ok: $*"; }
# A new prefix as booted: Windows files linked, registry files copied.
new_prefix() {
    fresh="$tree/test-prefix-fresh"
    cp -al "$fresh" "$1" && cp --remove-destination -p "$fresh"/*.reg "$fresh"/.update-timestamp "$1" || exit 2
    export WINEPREFIX="$work/$1"
    c="$WINEPREFIX/drive_c"
}
run() {  # run BITS PROGRAM ARGS...: in the current prefix
    b="$1"
    shift
    (kalvora_use_wine "$b" && "$WINELOADER" "$@")
}
msi() { run "$bits" msiexec "$1" "$(kalvora_winpath "$2")" /qn || fail "msiexec $1 $2: exit code $?"; }
winpath() { printf 'C:\\%s' "$1" | tr '/' '\\'; }
# The machine registry of the current prefix, one line per key and one per
# value ("key<TAB>", "key<TAB>value"), key names in lower case, sorted.
snapshot() {
    "$WINESERVER" -w
    awk '
        /^\[/ { k = $0; sub(/\] [0-9]+$/, "", k); k = tolower(substr(k, 2)); print k "\t"; next }
        /^#/ || /^$/ || /^WINE REGISTRY/ || /^;;/ { next }
        { line = $0
          while (line ~ /\\$/ && (getline more) > 0) { sub(/\\$/, "", line); sub(/^ +/, "", more); line = line more }
          print k "\t" line }
    ' "$WINEPREFIX/system.reg" | LC_ALL=C sort -u >"$1"
}
# The registration lines (of the classes' root, but the installer's records,
# and of the event source) that snapshot AFTER has and BEFORE has not.
written() {  # written BEFORE AFTER
    LC_ALL=C comm -13 "$1" "$2" | grep -e '^software\\\\classes\\\\' \
        -e '^system\\\\currentcontrolset\\\\services\\\\eventlog\\\\application\\\\kalvoraadminuser' |
        grep -Ev '^software\\\\classes\\\\installer(\\\\|	)'
}
same() {  # same WHAT EXPECTED ACTUAL
    if cmp -s "$2" "$3"; then ok "$1"; else fail "$1 (< expected, > actual):"; diff "$2" "$3" | head -20; fi
}
# A stale LocalServer32 key under each class key, in the views named: the
# registration replaces a class key with its subtree.
stale() {
    for clsid in $(sed -n 's/.*ForceRemove \({[-0-9A-F]*}\).*/\1/p' "$root"/module/*.rgs); do
        printf '\n[HKEY_CLASSES_ROOT\\CLSID\\%s\\LocalServer32]\n@="stale"\n' "$clsid"
    done | sed '1s/^$/REGEDIT4/' >"$c/stale.reg"
    for view in "$@"; do
        run "$bits" reg import 'C:\stale.reg' /reg:$view >/dev/null 2>&1 || fail "seeding stale keys ($view-bit view)"
    done
}
views=$bits
[ -n "$dir32" ] && views="32 64"
new_prefix fresh
snapshot fresh.txt

# ---- the reference: regsvr32 of the packaged DLLs where the package puts them ----
msiextract -C files "$package" >/dev/null || fail "msiextract $package"
new_prefix reference
if $runs32; then stale $views; else stale $bits; fi
place() {  # place BITS FOLDER: the package's DLLs of that bitness, in that folder
    mkdir -p "$c/$2"
    find files -name KalvoraAdminUser.dll | while IFS= read -r src; do
        [ "$(kalvora_pe_bits "$src")" = "$1" ] && cp "$src" "${src%/*}/OSUtilities.dll" "$c/$2/"
    done
}
# The 32-bit DLL first: the type library's key, shared by both views, keeps
# the name, flags and help folder that the 64-bit registration writes last.
if [ -n "$dir32" ]; then
    place 32 "$dir32"
    ! $runs32 || run 32 regsvr32 /s "$(winpath "$dir32/KalvoraAdminUser.dll")" || fail "32-bit regsvr32"
fi
place "$bits" "$dir"
for dll in KalvoraAdminUser.dll OSUtilities.dll; do
    run "$bits" regsvr32 /s "$(winpath "$dir/$dll")" || fail "regsvr32 $dll"
done
snapshot reference.txt
written fresh.txt reference.txt >expected.txt
# By hand, regsvr32 /u OSUtilities.dll removes the event source only when it names that copy, and nothing else.
mkdir -p "$c/other" && cp "$c/$dir/OSUtilities.dll" "$c/other/"
run "$bits" regsvr32 /s /u 'C:\other\OSUtilities.dll' || fail "regsvr32 /u of another OSUtilities.dll"
snapshot other.txt
written fresh.txt other.txt >other-written.txt
same "regsvr32 /u of another OSUtilities.dll keeps the event source" expected.txt other-written.txt
run "$bits" regsvr32 /s /u "$(winpath "$dir/OSUtilities.dll")" || fail "regsvr32 /u OSUtilities.dll"
snapshot unregistered.txt
written fresh.txt unregistered.txt >unregistered-written.txt
grep -v '^system\\\\currentcontrolset\\\\services\\\\eventlog' expected.txt >without-source.txt
same "regsvr32 /u OSUtilities.dll removes the event source, and only it" without-source.txt unregistered-written.txt
if [ -n "$dir32" ] && ! $runs32; then
    # The 32-bit view as the 64-bit registration reads there: the classes
    # under Wow6432Node (the interfaces are there already; ProgIDs are one
    # key for both views), and the type library's win32 path beside win64,
    # with the 32-bit folder.
    sed -n -e '/^software\\\\classes\\\\clsid/{s/^software\\\\classes\\\\/&wow6432node\\\\/;p}' \
        -e '/^software\\\\classes\\\\typelib\\\\.*\\\\win64/{s/\\\\win64	/\\\\win32	/;s/^\(.*\\\\\)win64$/\1win32/;p}' \
        expected.txt | sed 's/Program Files\\\\KalvoraAdminUser/Program Files (x86)\\\\KalvoraAdminUser/' >32.txt
    LC_ALL=C sort -u expected.txt 32.txt -o expected.txt
fi

# ---- install ----------------------------------------------------------------------
new_prefix installed
# The administrator's data: a user and a share, in the 32-bit view.
store="HKLM\\Software"
[ "$bits" = 64 ] && store='HKLM\Software\Wow6432Node'
{ run "$bits" reg add "$store\\Vantrope\\ORVE\\TAV\\Users\\kept_user" /v Computer /d PC1 /f &&
    run "$bits" reg add "$store\\Kalvora\\Ostrel\\2.0\\shares\\Staff" /v "kept share" /d x /f; } >/dev/null ||
    fail "seeding a user and a share"
stale $views
snapshot seeded.txt
msi /i "$package"
snapshot installed.txt
written fresh.txt installed.txt >registered.txt
same "$arch package: the registration in each view is that of regsvr32" expected.txt registered.txt

# An installed example, and the events as the event viewer renders them from
# the installed message file, in each bitness that runs.
for b in $bits $([ -n "$dir32" ] && $runs32 && echo 32); do
    folder=$dir exe="$tree/tests/kalvora_event_text.exe"
    [ "$b" = "$bits" ] || folder=$dir32 exe="$main/tests/kalvora_event_text.exe"
    out=$(run "$b" cscript //nologo "$(winpath "$dir/Examples/list_users.vbs")" 2>&1)
    printf '%s\n' "$out" | grep -q '^Name: *kept_user' && ok "list_users.vbs, $b-bit" || fail "list_users.vbs: $out"
    dll=$(winpath "$folder/OSUtilities.dll")
    out=$({ run "$b" "$exe" "$dll" 0xC000000B 'user\KalvoraUser.cpp' 214 'RegOpenKeyEx failed' &&
        run "$b" "$exe" "$dll" 0xC0001102 'shares\KalvoraShares.cpp' 141 ''; } 2>/dev/null | tr -d '\r')
    [ "$out" = 'KalvoraAdminUser: RegOpenKeyEx failed
Source file: user\KalvoraUser.cpp, line 214.
KalvoraAdminUser: one step of a registry enumeration failed.
Source file: shares\KalvoraShares.cpp, line 141.' ] && ok "event texts, $b-bit" || fail "event texts: $out"
done

# ---- signatures (package.sh --test-sign) ----------------------------------------
flip() {  # flip FILE COPY: COPY is FILE with its middle byte changed
    at=$(($(wc -c <"$1") / 2))
    byte=$(od -An -tu1 -j"$at" -N1 "$1" | tr -d ' ')
    cp "$1" "$2" && printf "\\$(printf %o $(((byte + 1) % 256)))" | dd of="$2" bs=1 seek="$at" conv=notrunc 2>/dev/null
}
verifies() { osslsigncode verify -CAfile "$1" -in "$2" >/dev/null 2>&1; }
root_pem="$main/test-sign/root.pem"
openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=Other -keyout other.key -out other.pem 2>/dev/null
{ echo "$package"; find files -name '*.dll'; } >signed.txt
while IFS= read -r f; do
    flip "$f" changed
    verifies "$root_pem" "$f" && ! verifies other.pem "$f" && ! verifies "$root_pem" changed &&
        ok "osslsigncode: $f verifies under the test root only, and not once changed" || fail "osslsigncode: $f"
done <signed.txt
# WinVerifyTrust: 0 for each installed DLL, then a changed copy and the unsigned build.
flip "$c/$dir/KalvoraAdminUser.dll" "$c/changed.dll"
set -- "$dir/KalvoraAdminUser.dll" "$dir/OSUtilities.dll" \
    ${dir32:+"$dir32/KalvoraAdminUser.dll" "$dir32/OSUtilities.dll"}
expected=""
for f in "$@"; do
    shift
    set -- "$@" "$(winpath "$f")"
    expected="${expected}0x00000000 "
done
out=$(run "$bits" "$tree/tests/kalvora_verify_trust.exe" "$@" 'C:\changed.dll' \
    "$(kalvora_winpath "$tree/KalvoraAdminUser.dll")" 2>/dev/null | cut -d' ' -f1 | tr -d '\r' | tr '\n' ' ')
[ "$out" = "${expected}0x80096010 0x800B0100 " ] && ok "WinVerifyTrust" || fail "WinVerifyTrust: $out"
# package.sh stops and writes nothing for a missing file, a wrong password, a certificate not for code signing.
refused() {  # refused MESSAGE VAR=VALUE...
    msg=$1
    shift
    rm -rf refused && mkdir refused
    if ! env "$@" BUILD_DIR="$main" sh "$root/scripts/package.sh" --no-build --out refused >refused.log 2>&1 &&
        grep -q "error: .*$msg" refused.log && [ -z "$(ls refused)" ]; then
        ok "package.sh refuses: $msg"
    else
        fail "package.sh with $*: $(cat refused.log)"
    fi
}
keys="$main/test-sign"
printf 'wrong\n' >wrong-password
openssl pkcs12 -export -inkey other.key -in other.pem -passout "file:$keys/password" -out other.p12
refused "no file" KALVORA_SIGN_PKCS12="$work/none.p12" KALVORA_SIGN_PASSWORD_FILE="$keys/password"
refused "cannot open" KALVORA_SIGN_PKCS12="$keys/signer.p12" KALVORA_SIGN_PASSWORD_FILE="$work/wrong-password"
refused "not for code signing" KALVORA_SIGN_PKCS12="$work/other.p12" KALVORA_SIGN_PASSWORD_FILE="$keys/password"

# ---- uninstall --------------------------------------------------------------------
msi /x "$package"
snapshot removed.txt
# Of what the install wrote, nothing may be left (Wine's installer keeps its
# own records of the package under ...\Installer).
LC_ALL=C comm -13 seeded.txt installed.txt | LC_ALL=C comm -12 - removed.txt |
    grep -Ev '^software\\\\microsoft\\\\windows\\\\currentversion\\\\installer(\\\\|	)' >left.txt
same "$arch package: uninstalling leaves no key" /dev/null left.txt
left=$(cd "$c" && find "Program Files" "Program Files (x86)" -iname '*Kalvora*' 2>/dev/null)
[ -z "$left" ] && ok "uninstalling leaves no file" || fail "uninstalling left: $left"
[ "$(LC_ALL=C comm -12 seeded.txt removed.txt | grep -ic 'kept_user\|kept share')" -ge 2 ] &&
    ok "the user key and the share value stay" || fail "the administrator's data went with the package"

# ---- upgrade from an earlier version ---------------------------------------------
BUILD_DIR="$main" sh "$root/scripts/package.sh" --no-build --version 0.1.0.0 --out old >old.log 2>&1 ||
    fail "could not build the 0.1.0.0 packages: $(cat old.log)"
new_prefix upgraded
msi /i "old/KalvoraAdminUser-0.1.0.0-$arch.msi"
msi /i "$package"
snapshot upgraded.txt
written fresh.txt upgraded.txt >registered.txt
same "upgrade from 0.1.0.0: one registration, that of regsvr32" expected.txt registered.txt
products=$(grep -i 'currentversion\\\\uninstall\\\\{.*	"DisplayName"="KalvoraAdminUser' upgraded.txt | cut -f1)
[ "$(printf '%s\n' "$products" | grep -c .)" = 1 ] &&
    grep -qiF "$products	\"DisplayVersion\"=\"$version\"" upgraded.txt &&
    ok "upgrade from 0.1.0.0: one product installed, version $version" || fail "upgrade: products: $products"

[ "$failures" -eq 0 ] && echo "PACKAGE TESTS PASSED ($arch)"
exit "$failures"
