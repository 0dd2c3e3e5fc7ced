# The signatures of a release signed with scripts/package.sh --test-sign
# (sourced by package_test.sh, whose helpers it uses; signing_checks runs in
# the prefix where the package is installed):
#   - osslsigncode verify with the test root passes for the package and each
#     DLL in it, and fails under another root and for a copy with one byte
#     changed;
#   - WinVerifyTrust on the installed DLLs gives 0, on a changed copy
#     TRUST_E_BAD_DIGEST, on the unsigned build TRUST_E_NOSIGNATURE;
#   - package.sh stops and writes nothing for a missing file, a wrong
#     password, and a certificate that is not for code signing.
flip() {  # flip FILE COPY: COPY is FILE with its middle byte changed
    at=$(($(wc -c <"$1") / 2))
    byte=$(od -An -tu1 -j"$at" -N1 "$1" | tr -d ' ')
    cp "$1" "$2" && printf "\\$(printf %o $(((byte + 1) % 256)))" | dd of="$2" bs=1 seek="$at" conv=notrunc 2>/dev/null
}
verifies() { osslsigncode verify -CAfile "$1" -in "$2" >"$work/verify.log" 2>&1; }
refused() {  # refused MESSAGE VAR=VALUE...: package.sh fails with MESSAGE and writes nothing
    msg="$1"
    shift
    rm -rf "$work/refused" && mkdir "$work/refused"
    env "$@" BUILD_DIR="$main" sh "$root/scripts/package.sh" --no-build --out "$work/refused" >"$work/refused.log" 2>&1
    if [ $? != 0 ] && grep -q "error: .*$msg" "$work/refused.log" && [ -z "$(ls "$work/refused")" ]; then
        ok "package.sh refuses $*: $msg"
    else
        fail "package.sh with $*: $(cat "$work/refused.log"; ls "$work/refused")"
    fi
}
signing_checks() {
    keys="$main/test-sign"
    [ -f "$keys/root.pem" ] || { fail "no test root in $keys (scripts/test.sh uses --test-sign)"; return; }
    openssl req -x509 -newkey rsa:2048 -nodes -subj /CN=Other -keyout "$work/other.key" -out "$work/other.pem" \
        2>/dev/null
    verifies "$keys/root.pem" "$package" && grep -q 'Text description: KalvoraAdminUser' "$work/verify.log" &&
        grep -q 'digest algorithm *: SHA256' "$work/verify.log" || fail "$package: $(cat "$work/verify.log")"
    { echo "$package"; find "$work/files" -name '*.dll'; } >"$work/signed.txt"
    while IFS= read -r f; do
        flip "$f" "$work/changed"
        if verifies "$keys/root.pem" "$f" && ! verifies "$work/other.pem" "$f" &&
            ! verifies "$keys/root.pem" "$work/changed"; then
            ok "osslsigncode: $(basename "$f") verifies under the test root only, and not once changed"
        else
            fail "osslsigncode verify of $f, under another root or changed: $(cat "$work/verify.log")"
        fi
    done <"$work/signed.txt"
    # WinVerifyTrust: 0 for each installed DLL, then a changed copy and the unsigned build.
    flip "$WINEPREFIX/drive_c/$dir/KalvoraAdminUser.dll" "$WINEPREFIX/drive_c/changed.dll"
    set -- "$dir/KalvoraAdminUser.dll" "$dir/OSUtilities.dll"
    [ -z "$dir32" ] || set -- "$@" "$dir32/KalvoraAdminUser.dll" "$dir32/OSUtilities.dll"
    expected=$(for f in "$@"; do printf '0x00000000 '; done; echo 0x80096010 0x800B0100)
    for f in "$@"; do shift; set -- "$@" "$(winpath "$f")"; done
    run "$bits" "$tree/tests/kalvora_verify_trust.exe" "$@" 'C:\changed.dll' \
        "$(kalvora_winpath "$tree/KalvoraAdminUser.dll")" >"$work/trust.txt" 2>&1
    [ "$(cut -d' ' -f1 "$work/trust.txt" | tr -d '\r' | tr '\n' ' ')" = "$expected " ] &&
        ok "WinVerifyTrust: the installed DLLs are signed; a changed copy and the unsigned build are not" ||
        fail "WinVerifyTrust, expected $expected: $(cat "$work/trust.txt")"
    printf 'wrong\n' >"$work/wrong-password"
    openssl pkcs12 -export -inkey "$work/other.key" -in "$work/other.pem" -passout "file:$keys/password" \
        -out "$work/other.p12"
    refused "no file" KALVORA_SIGN_PKCS12="$work/none.p12" KALVORA_SIGN_PASSWORD_FILE="$keys/password"
    refused "cannot open" KALVORA_SIGN_PKCS12="$keys/signer.p12" KALVORA_SIGN_PASSWORD_FILE="$work/wrong-password"
    refused "not for code signing" KALVORA_SIGN_PKCS12="$work/other.p12" KALVORA_SIGN_PASSWORD_FILE="$keys/password"
}
