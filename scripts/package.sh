#!/bin/sh
# Builds both bitnesses and writes the release files to dist/, VERSION being
# the FileVersion of the module's version resource:
#   KalvoraAdminUser-VERSION-x64.msi      64-bit Windows: both bitnesses
#   KalvoraAdminUser-VERSION-x86.msi      32-bit Windows: the 32-bit DLLs
#   KalvoraAdminUser-VERSION-sdk.zip      IDL, header, GUIDs, type libraries
#   KalvoraAdminUser-VERSION-symbols.zip  the DLLs' debug information
# The DLLs in the packages are stripped; each names its debug file
# (.gnu_debuglink), which the symbols archive holds. The packages' COM
# registration is written from the registrar scripts and the interface
# definition (package/registry_entries.cpp) into the WiX of package/.
#
#   scripts/package.sh [--no-build] [--version V] [--out DIR] [--test-sign]
#                      [--signatures-from RELEASE_DIR]
#
# --no-build packages the trees as they are built; --version gives the
# packages another version (the tests build an earlier one for the upgrade).
#
# Signing (osslsigncode, SHA-256 Authenticode): every DLL before it goes into
# the packages, and every package. The certificate comes from the environment:
#   KALVORA_SIGN_PKCS12         a PKCS#12 file with the key and certificate
#   KALVORA_SIGN_PASSWORD_FILE  the file that holds its password (or the
#                               token's PIN)
#   KALVORA_SIGN_PKCS11_MODULE  instead of a PKCS#12 file, a key on a token:
#   KALVORA_SIGN_KEY            the token's PKCS#11 module, the key's pkcs11:
#   KALVORA_SIGN_CERTS          URI and the certificate chain (PEM)
#   KALVORA_SIGN_TIMESTAMP_URL  an RFC 3161 server to timestamp signatures
#   KALVORA_SIGN_URL            the URL that the signatures name
# --test-sign signs with a throwaway root and code-signing certificate made
# with openssl in <build>/test-sign (kept for later runs). With nothing set,
# the packages are unsigned. --signatures-from puts the signatures of a
# published release on this build's files, so that anyone can check that
# the release was built from these sources (README: "Reproducible builds").
#
# Two builds of one commit give the same bytes: the dates and the packages'
# codes come from the version and the commit's time (SOURCE_DATE_EPOCH when
# set), and without a timestamp server so does the signing time.
set -eu
. "$(dirname "$0")/env.sh"

build=true
version=""
test_sign=false
out="$KALVORA_ROOT/dist"
while [ $# -gt 0 ]; do
    case "$1" in
    --no-build) build=false; shift ;;
    --version) version="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    --test-sign) test_sign=true; shift ;;
    --signatures-from) KALVORA_SIGN_FROM=$(cd "$2" && pwd) || exit 1; shift 2 ;;
    *) kalvora_fail "unknown argument '$1'" \
        "usage: scripts/package.sh [--no-build] [--version V] [--out DIR] [--test-sign] [--signatures-from DIR]" ;;
    esac
done

"$KALVORA_ROOT/scripts/setup.sh" package
# The release's time: the commit's, unless SOURCE_DATE_EPOCH gives it.
epoch="${SOURCE_DATE_EPOCH:-$(git -C "$KALVORA_ROOT" log -1 --format=%ct 2>/dev/null || true)}"
if [ -z "$epoch" ]; then
    epoch=$(date +%s)
    echo "note: no commit and no SOURCE_DATE_EPOCH: the packages carry today's date and cannot be reproduced"
fi
# objcopy writes the current time into the PE header of what it writes,
# unless SOURCE_DATE_EPOCH gives it one.
export SOURCE_DATE_EPOCH="$epoch" TZ=UTC
stamp=$(date -d "@$epoch" '+%Y-%m-%d %H:%M:%S')
. "$KALVORA_ROOT/scripts/signing.sh"
if $test_sign; then
    kalvora_test_sign_keys "$BUILD_DIR/test-sign"
fi
kalvora_sign_setup
if $build; then
    kalvora_build
fi
b32="$BUILD_DIR" b64="$BUILD_DIR/x64"
for f in "$b32/KalvoraAdminUser.dll" "$b32/OSUtilities.dll" "$b64/KalvoraAdminUser.dll" "$b64/OSUtilities.dll" \
    "$b32/gen/KalvoraAdminUser.tlb" "$b64/gen/KalvoraAdminUser.tlb"; do
    [ -f "$f" ] || kalvora_fail "$f is missing" "build first (scripts/package.sh without --no-build does)"
done

# The version resource holds FileVersion as a UTF-16 string.
if [ -z "$version" ]; then
    version=$(strings -el "$b32/KalvoraAdminUser.dll" | sed -n '/^FileVersion$/{n;p;q}')
fi
echo "$version" | grep -Eq '^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$' ||
    kalvora_fail "no version in the module's version resource (found '$version')"

name="KalvoraAdminUser-$version"
release="$name-x64.msi $name-x86.msi $name-sdk.zip $name-symbols.zip"
stage=$(mktemp -d "${TMPDIR:-/tmp}/kalvora-package.XXXXXX")
mkdir -p "$out"
out=$(cd "$out" && pwd)
# Everything is made in the stage and moved to the output folder at the end;
# a run that fails leaves no release of this version there.
trap 'rc=$?; rm -rf "$stage"; [ $rc = 0 ] || (cd "$out" && rm -f $release)' EXIT
mkdir "$stage/release"

# Stripped DLLs for the packages, their debug information for the symbols.
for bits in 32 64; do
    dir=$(kalvora_build_dir "$bits")
    if [ "$bits" = 64 ]; then tools=x86_64-w64-mingw32; arch=x64; else tools=i686-w64-mingw32; arch=x86; fi
    mkdir -p "$stage/$bits" "$stage/symbols/$arch"
    for dll in KalvoraAdminUser.dll OSUtilities.dll; do
        "$tools-objcopy" --only-keep-debug "$dir/$dll" "$stage/symbols/$arch/$dll.debug"
        # The debug link is made from the folder of the debug file and names it only.
        (cd "$stage/symbols/$arch" && "$tools-objcopy" --strip-all --add-gnu-debuglink="$dll.debug" "$dir/$dll" "$stage/$bits/$dll") ||
            kalvora_fail "could not strip $dir/$dll"
        kalvora_sign "$stage/$bits/$dll"
    done
done

# The COM registration of each part, for the WiX of package/ to include: the
# x64 package's 32-bit part writes only the keys of the 32-bit view, the
# 64-bit part the keys that both views share.
gen="$BUILD_DIR/package/registry_entries"
src="$KALVORA_ROOT/package/registry_entries.cpp $KALVORA_ROOT/module/RegistryScript.cpp"
if [ ! -x "$gen" ] || [ -n "$(find $src "$KALVORA_ROOT/module/RegistryScript.h" -newer "$gen" 2>/dev/null)" ]; then
    mkdir -p "$BUILD_DIR/package"
    clang++-14 -std=c++17 -O1 -I"$KALVORA_ROOT" $src -o "$gen.tmp.$$" ||
        kalvora_fail "could not compile package/registry_entries.cpp"
    mv -f "$gen.tmp.$$" "$gen"
fi
rgs="$KALVORA_ROOT/module/KalvoraUser.rgs $KALVORA_ROOT/module/EnumKalvoraUser.rgs $KALVORA_ROOT/module/KalvoraShares.rgs"
idl="$KALVORA_ROOT/idl/KalvoraAdminUser.idl"
mkdir -p "$stage/x64" "$stage/x86"
"$gen" 64 KalvoraAdminUser64 INSTALLDIR64 "$idl" $rgs >"$stage/x64/registry-64.wxi"
"$gen" --win32-beside-win64 32 KalvoraAdminUser32 INSTALLDIR32 "$idl" $rgs >"$stage/x64/registry-32.wxi"
"$gen" 32 KalvoraAdminUser32 INSTALLDIR32 "$idl" $rgs >"$stage/x86/registry-32.wxi"
# The rows that delete each ForceRemove key with its subtree on install,
# before it is written again (RemoveRegistry: wixl cannot write that table).
idt='RemoveRegistry\tRoot\tKey\tName\tComponent_\ns72\ti2\tl255\tL255\ts72\nRemoveRegistry\tRemoveRegistry\n'
{ printf "$idt"; "$gen" --remove-on-install Module64 64 KalvoraAdminUser64 INSTALLDIR64 "$idl" $rgs &&
    "$gen" --remove-on-install Module32 --win32-beside-win64 32 KalvoraAdminUser32 INSTALLDIR32 "$idl" $rgs; } \
    >"$stage/x64/RemoveRegistry.idt" || kalvora_fail "could not write the RemoveRegistry table (x64)"
{ printf "$idt"; "$gen" --remove-on-install Module32 32 KalvoraAdminUser32 INSTALLDIR32 "$idl" $rgs; } \
    >"$stage/x86/RemoveRegistry.idt" || kalvora_fail "could not write the RemoveRegistry table (x86)"

# The examples: one component in their own folder, beside the DLLs of the
# package's own bitness.
{
    echo '<?xml version="1.0" encoding="utf-8"?>'
    echo '<Include xmlns="http://schemas.microsoft.com/wix/2006/wi">'
    echo '  <Component Id="Examples" Guid="$(var.ExamplesGuid)" Win64="$(var.Win64)">'
    key=' KeyPath="yes"'
    for f in "$KALVORA_ROOT"/examples/*; do
        example=$(basename "$f")
        echo "    <File Id=\"example_$(echo "$example" | tr -c 'A-Za-z0-9\n' _)\" Name=\"$example\" Source=\"examples/$example\"$key/>"
        key=""
    done
    echo '  </Component>'
    echo '</Include>'
} >"$stage/examples.wxi"
cp -R "$KALVORA_ROOT/examples" "$stage/examples"

# A GUID made from the release's identity, so that a rebuild gives the same.
release_guid() {
    printf 'KalvoraAdminUser %s %s %s %s' "$1" "$version" "$epoch" "$2" | sha256sum |
        sed 's/^\(.\{8\}\)\(.\{4\}\).\(.\{3\}\).\(.\{3\}\)\(.\{12\}\).*/\1-\2-5\3-8\4-\5/' | tr a-f A-F
}
# wixl takes the files' sources relative to the folder it runs in. It writes
# the current time as the package's dates (faketime gives it the release's)
# and a random revision code (msibuild -s writes one of the release's); its
# cabinet holds the files' times, the release's too.
find "$stage" -exec touch -h -d "@$epoch" {} +
for arch in x64 x86; do
    msi="$stage/release/$name-$arch.msi"
    (cd "$stage" && faketime -f "$stamp" wixl -a "$arch" -D Version="$version" -D Stage=. \
        -D ProductCode="$(release_guid "$arch" product)" -I "$stage/$arch" -I "$stage" -I "$KALVORA_ROOT/package" \
        -o "$msi" "$KALVORA_ROOT/package/KalvoraAdminUser-$arch.wxs") >"$stage/wixl.log" 2>&1 ||
        { cat "$stage/wixl.log" >&2; kalvora_fail "wixl could not build $name-$arch.msi (log above)"; }
    faketime -f "$stamp" msibuild "$msi" -i "$stage/$arch/RemoveRegistry.idt" ||
        kalvora_fail "could not add the RemoveRegistry table to $name-$arch.msi"
    summary=$(msiinfo suminfo "$msi")
    field() { printf '%s\n' "$summary" | sed -n "s/^$1: //p"; }
    faketime -f "$stamp" msibuild "$msi" -s "$(field Subject)" "$(field Author)" "$(field Template)" \
        "{$(release_guid "$arch" package)}" || kalvora_fail "msibuild could not set the summary of $name-$arch.msi"
    kalvora_sign "$msi"
done

# The archives, each with one top folder of its own name.
sdk="$stage/$name-sdk"
mkdir -p "$sdk/idl" "$sdk/include" "$sdk/tlb/win32" "$sdk/tlb/win64"
cp "$idl" "$sdk/idl/"
# widl names the IDL file with the build's folder in its first line.
for f in KalvoraAdminUser_h.h KalvoraAdminUser_i.c; do
    sed '1s|from .*/\(idl/KalvoraAdminUser\.idl\)|from \1|' "$b32/gen/$f" >"$sdk/include/$f"
done
cp "$b32/gen/KalvoraAdminUser.tlb" "$sdk/tlb/win32/"
cp "$b64/gen/KalvoraAdminUser.tlb" "$sdk/tlb/win64/"
mv "$stage/symbols" "$stage/$name-symbols"
# The same bytes at every build: entries sorted, with the release's time and
# fixed modes, and no extra fields (owner, other times).
for kind in sdk symbols; do
    (cd "$stage" && find "$name-$kind" -type d -exec chmod 755 {} + -o -type f -exec chmod 644 {} + &&
        find "$name-$kind" -exec touch -h -d "@$epoch" {} + &&
        find "$name-$kind" | LC_ALL=C sort | zip -q -X -@ "$stage/release/$name-$kind.zip") ||
        kalvora_fail "could not write $name-$kind.zip"
done

(cd "$stage/release" && mv -f $release "$out/") || kalvora_fail "could not move the release to $out"
echo "==> packages of $version in $out ($kalvora_sign_note):"
(cd "$out" && ls -l $release | awk '{ print "    " $5 "\t" $9 }')
