#!/bin/sh
# Installs a release package with Wine's msiexec, as an administrator would,
# in copies of the freshly booted prefix of its bitness, and checks:
#   - its COM keys (classes, ProgIDs, type library, interfaces) in each
#     registry view and its event source are those that regsvr32 writes for
#     the same DLLs at the same place in another copy, nothing missing or extra,
#     both over stale LocalServer32 and TreatAs keys under each class key;
#   - an installed example runs with the cscript of each bitness;
#   - the installed OSUtilities.dll renders both events with their insertion
#     strings;
#   - uninstalling leaves no key or file of the package, and keeps the
#     administrator's data (a user key and a share value);
#   - installing an earlier version and then this one leaves one product and
#     one registration.
#   - the signatures of the package and its DLLs (signing.sh).
# Where 32-bit programs do not run (the 64-bit template says so), the x64
# package's 32-bit registration is checked against the 64-bit regsvr32
# result read for the 32-bit view, and running 32-bit programs is skipped.
#
#   package_test.sh 64|32 MAIN_BUILD_TREE
# The packages are those of MAIN_BUILD_TREE/dist (scripts/test.sh writes them).
# KALVORA_KEEP_WORK=1 keeps the prefixes and registry listings, and names them.
set -u
bits="$1" main="$2"
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/scripts/wine.sh"
. "$root/tests/package/signing.sh"
kalvora_use_wine "$bits" || exit 2
if [ "$bits" = 64 ]; then
    arch=x64 tree="$main/x64"
    dir="Program Files/KalvoraAdminUser" dir32="Program Files (x86)/KalvoraAdminUser"
else
    arch=x86 tree="$main"
    dir="Program Files/KalvoraAdminUser" dir32=""
fi
fresh="$tree/test-prefix-fresh"
[ -f "$fresh/system.reg" ] || { echo "FAIL: no fresh prefix in $fresh; run scripts/test.sh once first"; exit 2; }
package=$(ls "$main"/dist/KalvoraAdminUser-*-$arch.msi 2>/dev/null)
[ -f "$package" ] && [ "$(printf '%s\n' "$package" | wc -l)" = 1 ] ||
    { echo "FAIL: not one $arch package in $main/dist; scripts/test.sh writes it (scripts/package.sh --out)"; exit 2; }
version=$(basename "$package" | sed 's/^KalvoraAdminUser-\(.*\)-[a-z0-9]*\.msi$/\1/')

# Whether 32-bit programs run here: always for the 32-bit tree; for the
# 64-bit one when the template notes that the 32-bit build is tested.
runs32=true
if [ "$bits" = 64 ] && [ ! -f "$tree/test-prefix/.kalvora-with-32bit" ]; then
    runs32=false
    echo "NOTE: 32-bit programs are not run (the 32-bit build is not tested on this host or run):"
    echo "      regsvr32 and cscript of the 32-bit view, and the 32-bit event texts, are skipped;"
    echo "      the 32-bit registration is checked against the 64-bit one read for the 32-bit view"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/kalvora-package-test.XXXXXX")
cleanup() {
    for p in "$work"/*/system.reg; do
        [ -f "$p" ] && WINEPREFIX=$(dirname "$p") "$WINESERVER" -k >/dev/null 2>&1
    done
    rm -rf "$work"
}
[ -n "${KALVORA_KEEP_WORK:-}" ] && echo "work: $work" || trap cleanup EXIT
trap 'exit 130' INT TERM
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
ok() { echo "ok: $*"; }

# A new prefix as booted: Windows files linked, registry files copied.
new_prefix() {
    cp -al "$fresh" "$work/$1" || exit 2
    for f in "$fresh"/*.reg "$fresh"/.update-timestamp; do
        [ -f "$f" ] && cp --remove-destination -p "$f" "$work/$1/"
    done
    export WINEPREFIX="$work/$1"
}
# Runs a program of bitness $1 in the current prefix.
run() {
    b="$1"
    shift
    (kalvora_use_wine "$b" && "$WINELOADER" "$@")
}
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
    ' "$WINEPREFIX/system.reg" | LC_ALL=C sort -u
}
# What the package registers: the lines of the classes' root (but the
# installer's own records) and of the event source.
registration() {
    grep -E '^(software\\\\classes\\\\|system\\\\currentcontrolset\\\\services\\\\eventlog\\\\application\\\\kalvoraadminuser)' "$1" |
        grep -Ev '^software\\\\classes\\\\installer(\\\\|	)'
}
written() {  # written BEFORE AFTER: the lines AFTER adds
    LC_ALL=C comm -13 "$1" "$2"
}
same() {  # same WHAT EXPECTED ACTUAL
    if cmp -s "$2" "$3"; then
        ok "$1"
    else
        fail "$1 (- expected, + actual):"
        diff "$2" "$3" | sed -n 's/^\([<>]\)/  \1/p' | sed 's/^  </  -/; s/^  >/  +/' | head -40
    fi
}
winpath() { printf 'C:\\%s' "$1" | tr '/' '\\'; }
msiexec() {  # msiexec ARGS...: timed, in the current prefix
    start=$(date +%s.%N)
    run "$bits" msiexec "$@"
    rc=$?
    "$WINESERVER" -w
    echo "  (msiexec $1 took $(echo "$start $(date +%s.%N)" | awk '{ printf "%.2f", $2 - $1 }') s)"
    return $rc
}

new_prefix fresh
snapshot >"$work/fresh.txt"

# Stale LocalServer32 and TreatAs keys under each class key, in the views
# named: registering deletes a class key with its subtree before writing it.
stale() {
    for clsid in $(sed -n 's/.*ForceRemove \({[-0-9A-F]*}\).*/\1/p' "$root"/module/*.rgs); do
        printf '\n[HKEY_CLASSES_ROOT\\CLSID\\%s\\%s]\n@="stale"\n' "$clsid" LocalServer32 "$clsid" TreatAs
    done | sed '1s/^$/REGEDIT4/' >"$WINEPREFIX/drive_c/stale.reg"
    for view in "$@"; do
        run "$bits" reg import 'C:\stale.reg' /reg:$view >/dev/null 2>&1 || fail "seeding stale keys ($view-bit view)"
    done
}
views=$bits
[ -n "$dir32" ] && views="32 64"

# ---- the reference: regsvr32 of the packaged DLLs where the package puts them ----
mkdir -p "$work/files"
msiextract -C "$work/files" "$package" >/dev/null || { fail "msiextract $package"; exit 1; }
new_prefix reference
if $runs32; then stale $views; else stale $bits; fi
place() {  # place BITS FOLDER: the package's DLLs of that bitness, in that folder
    mkdir -p "$WINEPREFIX/drive_c/$2"
    find "$work/files" -name KalvoraAdminUser.dll | while IFS= read -r src; do
        [ "$(kalvora_pe_bits "$src")" = "$1" ] && cp "$src" "$(dirname "$src")/OSUtilities.dll" "$WINEPREFIX/drive_c/$2/"
    done
    [ -f "$WINEPREFIX/drive_c/$2/KalvoraAdminUser.dll" ] || fail "the package holds no $1-bit KalvoraAdminUser.dll"
}
# The 32-bit DLL first: the type library's key, shared by both views, keeps
# the name, flags and help folder that the 64-bit registration writes last.
if [ -n "$dir32" ]; then
    place 32 "$dir32"
    if $runs32; then
        run 32 regsvr32 /s "$(winpath "$dir32/KalvoraAdminUser.dll")" || fail "regsvr32 (32-bit) of the packaged DLL"
    fi
fi
place "$bits" "$dir"
run "$bits" regsvr32 /s "$(winpath "$dir/KalvoraAdminUser.dll")" || fail "regsvr32 of the packaged DLL"
run "$bits" regsvr32 /s "$(winpath "$dir/OSUtilities.dll")" || fail "regsvr32 of the packaged OSUtilities.dll"
snapshot >"$work/reference-all.txt"
written "$work/fresh.txt" "$work/reference-all.txt" | registration /dev/stdin >"$work/expected.txt"
if [ -n "$dir32" ] && ! $runs32; then
    # The 32-bit view as the 64-bit registration reads there: the classes
    # under Wow6432Node (the interfaces are there already; ProgIDs are one
    # key for both views), and the type library's win32 path beside win64,
    # with the 32-bit folder.
    sed -n -e '/^software\\\\classes\\\\clsid/{s/^software\\\\classes\\\\/&wow6432node\\\\/;p}' \
        -e '/^software\\\\classes\\\\typelib\\\\.*\\\\win64/{s/\\\\win64	/\\\\win32	/;s/^\(.*\\\\\)win64$/\1win32/;p}' \
        "$work/expected.txt" | sed 's/Program Files\\\\KalvoraAdminUser/Program Files (x86)\\\\KalvoraAdminUser/' \
        >"$work/expected32.txt"
    LC_ALL=C sort -u "$work/expected.txt" "$work/expected32.txt" -o "$work/expected.txt"
fi
[ -s "$work/expected.txt" ] || fail "regsvr32 wrote nothing"

# By hand, regsvr32 /u OSUtilities.dll removes the event source only when it
# names that copy, and leaves the module's keys alone.
source_lines() { grep -c '^system\\\\currentcontrolset\\\\services\\\\eventlog\\\\application\\\\kalvoraadminuser' "$1"; }
mkdir -p "$WINEPREFIX/drive_c/other"
cp "$WINEPREFIX/drive_c/$dir/OSUtilities.dll" "$WINEPREFIX/drive_c/other/"
run "$bits" regsvr32 /s /u 'C:\other\OSUtilities.dll' || fail "regsvr32 /u of another OSUtilities.dll"
snapshot >"$work/other-removed.txt"
[ "$(source_lines "$work/other-removed.txt")" = 3 ] && ok "regsvr32 /u of another copy keeps the event source" ||
    fail "regsvr32 /u of another copy changed the event source"
run "$bits" regsvr32 /s /u "$(winpath "$dir/OSUtilities.dll")" || fail "regsvr32 /u OSUtilities.dll"
snapshot >"$work/source-removed.txt"
registration "$work/reference-all.txt" >"$work/reference-reg.txt"
registration "$work/source-removed.txt" >"$work/source-removed-reg.txt"
LC_ALL=C comm -3 "$work/reference-reg.txt" "$work/source-removed-reg.txt" >"$work/source-diff.txt"
if [ "$(source_lines "$work/source-removed.txt")" = 0 ] && [ "$(grep -c . "$work/source-diff.txt")" = 3 ]; then
    ok "regsvr32 /u OSUtilities.dll removes the event source, and only it"
else
    fail "regsvr32 /u OSUtilities.dll: changes:"
    sed 's/^/  /' "$work/source-diff.txt" | head -10
fi

# ---- install ----------------------------------------------------------------------
new_prefix installed
# The administrator's data: a user and a share, in the 32-bit view.
store=""
[ "$bits" = 64 ] && store='\Wow6432Node'
run "$bits" reg add "HKLM\\Software$store\\Vantrope\\ORVE\\TAV\\Users\\kept_user" /v Computer /d PC1 /f >/dev/null &&
    run "$bits" reg add "HKLM\\Software$store\\Kalvora\\Ostrel\\2.0\\shares\\Staff" /v "kept share" /d "x" /f >/dev/null ||
    fail "seeding a user and a share"
stale $views
snapshot >"$work/seeded.txt"
msiexec /i "$(kalvora_winpath "$package")" /qn || fail "msiexec /i $arch package: exit code $?"
snapshot >"$work/installed-all.txt"
written "$work/fresh.txt" "$work/installed-all.txt" | registration /dev/stdin >"$work/installed.txt"
same "$arch package: the registration in each view is that of regsvr32" "$work/expected.txt" "$work/installed.txt"
for f in "$dir/KalvoraAdminUser.dll" "$dir/OSUtilities.dll" "$dir/Examples/list_users.vbs" \
    ${dir32:+"$dir32/KalvoraAdminUser.dll" "$dir32/OSUtilities.dll"}; do
    [ -f "$WINEPREFIX/drive_c/$f" ] || fail "not installed: C:\\$f"
done

# An installed example, with the cscript of each bitness that runs.
for b in $bits $([ -n "$dir32" ] && $runs32 && echo 32); do
    out=$(run "$b" cscript //nologo "$(winpath "$dir/Examples/list_users.vbs")" 2>&1)
    if printf '%s\n' "$out" | grep -q '^1 user(s)' && printf '%s\n' "$out" | grep -q '^Name: *kept_user'; then
        ok "the installed list_users.vbs with the $b-bit cscript lists the user"
    else
        fail "the installed list_users.vbs with the $b-bit cscript: $out"
    fi
done

# The events' wording, from the installed message files.
texts() {  # texts BITS DLL_FOLDER
    exe=$(kalvora_build_dir_of "$1")/tests/kalvora_event_text.exe
    dll="$(winpath "$2/OSUtilities.dll")"
    t1=$(run "$1" "$exe" "$dll" 0xC000000B 'user\KalvoraUser.cpp' 214 'RegOpenKeyEx failed' 2>&1)
    t2=$(run "$1" "$exe" "$dll" 0xC0001102 'shares\KalvoraShares.cpp' 141 '' 2>&1)
    t3=$(run "$1" "$exe" "$dll" 0xC0001103 a 1 b 2>&1)
    if printf '%s\n' "$t1" | grep -q '^KalvoraAdminUser: RegOpenKeyEx failed' &&
        printf '%s\n' "$t1" | grep -q 'Source file: user\\KalvoraUser.cpp, line 214\.' &&
        printf '%s\n' "$t2" | grep -q '^KalvoraAdminUser: one step of a registry enumeration failed\.' &&
        printf '%s\n' "$t2" | grep -q 'Source file: shares\\KalvoraShares.cpp, line 141\.' &&
        printf '%s\n' "$t3" | grep -q '^no message 0xC0001103'; then
        ok "the $1-bit OSUtilities.dll renders both events"
    else
        fail "the $1-bit OSUtilities.dll's event texts:"
        printf '  %s\n  %s\n  %s\n' "$t1" "$t2" "$t3"
    fi
}
kalvora_build_dir_of() { if [ "$1" = 64 ]; then echo "$main/x64"; else echo "$main"; fi; }
texts "$bits" "$dir"
if [ -n "$dir32" ] && $runs32; then texts 32 "$dir32"; fi
signing_checks

# ---- uninstall --------------------------------------------------------------------
msiexec /x "$(kalvora_winpath "$package")" /qn || fail "msiexec /x $arch package: exit code $?"
snapshot >"$work/removed-all.txt"
# Of what the install wrote, nothing may be left (Wine's installer keeps its
# own records of the package under ...\Installer).
written "$work/seeded.txt" "$work/installed-all.txt" >"$work/install-wrote.txt"
LC_ALL=C comm -12 "$work/install-wrote.txt" "$work/removed-all.txt" |
    grep -Ev '^software\\\\microsoft\\\\windows\\\\currentversion\\\\installer(\\\\|	)' >"$work/left.txt"
same "$arch package: uninstalling leaves no key" /dev/null "$work/left.txt"
left=$(cd "$WINEPREFIX/drive_c" && find "Program Files" "Program Files (x86)" -iname '*Kalvora*' 2>/dev/null)
[ -z "$left" ] && ok "uninstalling leaves no file" || fail "uninstalling left: $left"
kept=$(LC_ALL=C comm -12 "$work/seeded.txt" "$work/removed-all.txt" | grep -ic 'kept_user\|kept share')
[ "$kept" -ge 2 ] && ok "the user key and the share value stay" || fail "the administrator's data went with the package"

# ---- upgrade from an earlier version ---------------------------------------------
old="$work/old"
if BUILD_DIR="$main" sh "$root/scripts/package.sh" --no-build --version 0.1.0.0 --out "$old" >"$work/old.log" 2>&1; then
    new_prefix upgraded
    msiexec /i "$(kalvora_winpath "$old/KalvoraAdminUser-0.1.0.0-$arch.msi")" /qn || fail "installing version 0.1.0.0: exit code $?"
    msiexec /i "$(kalvora_winpath "$package")" /qn || fail "upgrading to $version: exit code $?"
    snapshot >"$work/upgraded-all.txt"
    written "$work/fresh.txt" "$work/upgraded-all.txt" | registration /dev/stdin >"$work/upgraded.txt"
    same "upgrade from 0.1.0.0: one registration, that of regsvr32" "$work/expected.txt" "$work/upgraded.txt"
    products=$(grep -i 'currentversion\\\\uninstall\\\\{.*	"DisplayName"="KalvoraAdminUser' "$work/upgraded-all.txt")
    product=$(printf '%s\n' "$products" | cut -f1)
    if [ "$(printf '%s\n' "$products" | grep -c .)" = 1 ] &&
        grep -qiF "$product	\"DisplayVersion\"=\"$version\"" "$work/upgraded-all.txt"; then
        ok "upgrade from 0.1.0.0: one product installed, version $version"
    else
        fail "upgrade from 0.1.0.0: installed products: $products"
    fi
else
    cat "$work/old.log"
    fail "could not build the 0.1.0.0 packages"
fi

# The generator refuses a registrar script that it cannot package as the module registers it.
printf 'HKCR\n{\n\tX = s '\''caf\351'\''\n}\n' >"$work/latin1.rgs"
out=$("$main/package/registry_entries" 64 F D "$root/idl/KalvoraAdminUser.idl" "$work/latin1.rgs" 2>&1)
[ $? -ne 0 ] && printf '%s\n' "$out" | grep -q 'latin1.rgs: line 3: byte 0xE9 is not ASCII' &&
    ok "a registrar script with a byte outside ASCII is refused" || fail "a script with a byte outside ASCII: $out"

[ "$failures" -eq 0 ] && echo "PACKAGE TESTS PASSED ($arch)"
exit "$failures"
