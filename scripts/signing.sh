# Authenticode signing of the release files with osslsigncode (sourced by
# scripts/package.sh, after env.sh). The key's password never goes on a
# command line: osslsigncode reads it with -readpass, openssl with file:.
#
#   kalvora_test_sign_keys DIR  a throwaway root (DIR/root.pem) and a
#                               code-signing certificate that it issued
#                               (DIR/signer.p12, password in DIR/password),
#                               unless DIR holds them; selects them
#   kalvora_sign_setup          checks the certificate of the environment and
#                               sets kalvora_sign_note; stops on a fault
#   kalvora_sign FILE           signs FILE in place (nothing when unsigned)
# With KALVORA_SIGN_FROM naming the folder of a published release, the
# signatures are instead taken from its files and put on the files of this
# build: then this build is that release, byte for byte, only when both
# were built from the same sources.

kalvora_test_sign_keys() {
    d="$1"
    if [ ! -f "$d/signer.p12" ] || [ ! -f "$d/root.pem" ] || [ ! -f "$d/password" ]; then
        rm -rf "$d" && mkdir -p "$d" || kalvora_fail "could not make $d"
        (umask 077 && od -An -N16 -tx1 /dev/urandom | tr -d ' \n' >"$d/password")
        printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >"$d/signer.ext"
        # Valid from 2000, so that signatures dated with an earlier commit verify.
        if ! { faketime -f '2000-01-01 00:00:00' openssl req -x509 -newkey rsa:2048 -nodes -days 18250 \
                -subj '/CN=KalvoraAdminUser Test Root' -keyout "$d/root.key" -out "$d/root.pem" &&
            openssl req -newkey rsa:2048 -nodes -subj '/O=Vantrope/CN=KalvoraAdminUser Test Signing' \
                -keyout "$d/signer.key" -out "$d/signer.csr" &&
            faketime -f '2000-01-01 00:00:00' openssl x509 -req -in "$d/signer.csr" -CA "$d/root.pem" \
                -CAkey "$d/root.key" -set_serial 2 -days 18250 -extfile "$d/signer.ext" -out "$d/signer.pem" &&
            openssl pkcs12 -export -inkey "$d/signer.key" -in "$d/signer.pem" -certfile "$d/root.pem" \
                -passout "file:$d/password" -out "$d/signer.p12"; } >"$d/openssl.log" 2>&1; then
            cat "$d/openssl.log" >&2
            rm -f "$d/signer.p12"
            kalvora_fail "openssl could not make the test certificates in $d (log above)"
        fi
    fi
    KALVORA_SIGN_PKCS12="$d/signer.p12" KALVORA_SIGN_PASSWORD_FILE="$d/password"
    unset KALVORA_SIGN_PKCS11_MODULE
}

kalvora_sign_setup() {
    kalvora_sign_with=""
    if [ -n "${KALVORA_SIGN_FROM:-}" ]; then
        [ -n "$(ls "$KALVORA_SIGN_FROM"/KalvoraAdminUser-*-x64.msi 2>/dev/null)" ] ||
            kalvora_fail "--signatures-from: no KalvoraAdminUser-VERSION-x64.msi in $KALVORA_SIGN_FROM"
        kalvora_sign_with=attach
        kalvora_sign_note="with the signatures of $KALVORA_SIGN_FROM"
        return 0
    elif [ -n "${KALVORA_SIGN_PKCS11_MODULE:-}" ]; then
        for v in KALVORA_SIGN_KEY KALVORA_SIGN_CERTS; do
            eval "[ -n \"\${$v:-}\" ]" || kalvora_fail "KALVORA_SIGN_PKCS11_MODULE is set but $v is not"
        done
        [ -f "$KALVORA_SIGN_PKCS11_MODULE" ] || kalvora_fail "KALVORA_SIGN_PKCS11_MODULE: no file $KALVORA_SIGN_PKCS11_MODULE"
        [ -f "$KALVORA_SIGN_CERTS" ] || kalvora_fail "KALVORA_SIGN_CERTS: no file $KALVORA_SIGN_CERTS"
        cert=$(openssl x509 -in "$KALVORA_SIGN_CERTS" 2>/dev/null) ||
            kalvora_fail "KALVORA_SIGN_CERTS: $KALVORA_SIGN_CERTS holds no PEM certificate"
        kalvora_sign_with=pkcs11
        what="the key $KALVORA_SIGN_KEY"
    elif [ -n "${KALVORA_SIGN_PKCS12:-}" ]; then
        [ -f "$KALVORA_SIGN_PKCS12" ] || kalvora_fail "KALVORA_SIGN_PKCS12: no file $KALVORA_SIGN_PKCS12"
        [ -n "${KALVORA_SIGN_PASSWORD_FILE:-}" ] ||
            kalvora_fail "KALVORA_SIGN_PKCS12 is set but KALVORA_SIGN_PASSWORD_FILE is not" \
                "name the file that holds the PKCS#12 file's password"
        kalvora_sign_with=pkcs12
        what="$KALVORA_SIGN_PKCS12"
        pass="file:$KALVORA_SIGN_PASSWORD_FILE"
        # Files exported by Windows use algorithms that OpenSSL 3 calls legacy.
        cert=$( (openssl pkcs12 -in "$KALVORA_SIGN_PKCS12" -passin "$pass" -nokeys -clcerts ||
            openssl pkcs12 -legacy -in "$KALVORA_SIGN_PKCS12" -passin "$pass" -nokeys -clcerts) 2>/dev/null |
            openssl x509 2>/dev/null) ||
            kalvora_fail "cannot open $KALVORA_SIGN_PKCS12 with the password in $KALVORA_SIGN_PASSWORD_FILE" \
                "the password is wrong, or the file is no PKCS#12 file with a certificate"
    else
        [ -z "${KALVORA_SIGN_PASSWORD_FILE:-}${KALVORA_SIGN_TIMESTAMP_URL:-}" ] ||
            kalvora_fail "KALVORA_SIGN_PASSWORD_FILE or KALVORA_SIGN_TIMESTAMP_URL is set, but no certificate" \
                "set KALVORA_SIGN_PKCS12 (or KALVORA_SIGN_PKCS11_MODULE), or use --test-sign"
        kalvora_sign_note="UNSIGNED: set KALVORA_SIGN_PKCS12 or use --test-sign to sign"
        echo "note: no signing certificate (KALVORA_SIGN_PKCS12): the release is unsigned"
        return 0
    fi
    if [ -n "${KALVORA_SIGN_PASSWORD_FILE:-}" ]; then
        [ -f "$KALVORA_SIGN_PASSWORD_FILE" ] && [ -r "$KALVORA_SIGN_PASSWORD_FILE" ] ||
            kalvora_fail "KALVORA_SIGN_PASSWORD_FILE: cannot read $KALVORA_SIGN_PASSWORD_FILE"
    fi
    printf '%s\n' "$cert" | openssl x509 -noout -ext extendedKeyUsage 2>/dev/null | grep -q 'Code Signing' ||
        kalvora_fail "the certificate of $what is not for code signing (no Code Signing extended key use)"
    subject=$(printf '%s\n' "$cert" | openssl x509 -noout -subject -nameopt oneline 2>/dev/null | sed 's/^subject= *//')
    kalvora_sign_note="signed by $subject${KALVORA_SIGN_TIMESTAMP_URL:+, timestamped}"
}

kalvora_sign() {
    [ -n "$kalvora_sign_with" ] || return 0
    f="$1"
    if [ "$kalvora_sign_with" = attach ]; then
        src="$KALVORA_SIGN_FROM/$(basename "$f")"
        case "$f" in *.dll)
            theirs="$(dirname "$f")/../published"
            [ -d "$theirs" ] || msiextract -C "$theirs" "$KALVORA_SIGN_FROM/$name-x64.msi" >/dev/null ||
                kalvora_fail "msiextract could not read the package of $KALVORA_SIGN_FROM"
            bits=$(kalvora_pe_bits "$f")
            src=$(find "$theirs" -name "$(basename "$f")" | while IFS= read -r g; do
                [ "$(kalvora_pe_bits "$g")" = "$bits" ] && echo "$g"; done | head -1)
        esac
        # attach-signature checks the chain too; a build that differs
        # shows in the comparison of the files.
        [ -f "$src" ] && osslsigncode extract-signature -in "$src" -out "$f.p7" >"$f.log" 2>&1 &&
            { osslsigncode attach-signature -sigin "$f.p7" -in "$f" -out "$f.signed" >>"$f.log" 2>&1; [ -f "$f.signed" ]; } &&
            mv -f "$f.signed" "$f" || { cat "$f.log" >&2; kalvora_fail "no signature for $(basename "$f") in $KALVORA_SIGN_FROM"; }
        rm -f "$f.p7" "$f.log"
        return 0
    fi
    if [ "$kalvora_sign_with" = pkcs11 ]; then
        set -- -pkcs11module "$KALVORA_SIGN_PKCS11_MODULE" -certs "$KALVORA_SIGN_CERTS" -key "$KALVORA_SIGN_KEY"
    else
        set -- -pkcs12 "$KALVORA_SIGN_PKCS12"
    fi
    [ -z "${KALVORA_SIGN_PASSWORD_FILE:-}" ] || set -- "$@" -readpass "$KALVORA_SIGN_PASSWORD_FILE"
    # A timestamp gives the signing time; without one it is the release's.
    if [ -n "${KALVORA_SIGN_TIMESTAMP_URL:-}" ]; then
        set -- "$@" -ts "$KALVORA_SIGN_TIMESTAMP_URL"
    else
        set -- "$@" -time "$epoch"
    fi
    osslsigncode sign "$@" -h sha256 -n KalvoraAdminUser \
        -i "${KALVORA_SIGN_URL:-https://vantrope.example/KalvoraAdminUser}" \
        -in "$f" -out "$f.signed" >"$f.log" 2>&1 && mv -f "$f.signed" "$f" ||
        { cat "$f.log" >&2; kalvora_fail "osslsigncode could not sign $(basename "$f") (its output above)"; }
    rm -f "$f.log"
}
