#!/bin/sh
# Checks that a release is reproducible: builds it again from a copy of the
# sources (the checkout's files that git does not ignore) in another folder, without a
# compiler cache, and compares it byte for byte with a first build: the four
# release files, and the DLLs and type libraries of both bitnesses. The
# second build is signed with the first one's key (<tree>/test-sign) and
# the same time (the commit's), as scripts/package.sh does by default.
#
#   scripts/reproduce.sh [BUILD_TREE]
#
# BUILD_TREE is a built tree whose dist/ holds its release made with
# scripts/package.sh --test-sign (scripts/test.sh leaves one in build/).
# Without it, the first build is made too, in a folder of its own.
# Where packages differ, it lists the tables (msiinfo export), streams and
# summary fields that do. KALVORA_KEEP_WORK=1 keeps the builds.
set -eu
. "$(dirname "$0")/env.sh"

"$KALVORA_ROOT/scripts/setup.sh" package
work=$(mktemp -d "${TMPDIR:-/tmp}/kalvora-reproduce.XXXXXX")
[ -n "${KALVORA_KEEP_WORK:-}" ] && echo "work: $work" || trap 'rm -rf "$work"' EXIT
start=$(date +%s)
export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git -C "$KALVORA_ROOT" log -1 --format=%ct)}"
unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER
export CCACHE_DISABLE=1

# build NAME: the release from a copy of the sources in $work/NAME, whose
# build tree is $work/NAME/build (the product only).
build() {
    src="$work/$1"
    mkdir -p "$src"
    (cd "$KALVORA_ROOT" && git ls-files -z --cached --others --exclude-standard | tar -c --null -T -) | tar -x -C "$src" ||
        kalvora_fail "could not copy the sources to $src"
    echo "==> building the release in $src"
    { cmake -S "$src" -B "$src/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKALVORA_BUILD_TESTS=OFF &&
        cmake --build "$src/build" -j "$(nproc)" &&
        BUILD_DIR="$src/build" sh "$src/scripts/package.sh" --no-build --out "$src/build/dist"; } >"$work/$1.log" 2>&1 ||
        { tail -40 "$work/$1.log" >&2; kalvora_fail "the build in $src failed (end of its log above)"; }
}

if [ $# -gt 0 ]; then
    first=$(cd "$1" && pwd)
else
    # The first build makes the test keys for both.
    mkdir -p "$work/keys"
    (. "$KALVORA_ROOT/scripts/signing.sh" && kalvora_test_sign_keys "$work/keys/test-sign")
    KALVORA_SIGN_PKCS12="$work/keys/test-sign/signer.p12" KALVORA_SIGN_PASSWORD_FILE="$work/keys/test-sign/password" \
        build first
    first="$work/first/build"
    cp -R "$work/keys/test-sign" "$first/"
fi
[ -f "$first/test-sign/signer.p12" ] && [ -n "$(ls "$first"/dist/*.msi 2>/dev/null)" ] ||
    kalvora_fail "$first holds no release signed with its test keys" "scripts/package.sh --test-sign makes one"
KALVORA_SIGN_PKCS12="$first/test-sign/signer.p12" KALVORA_SIGN_PASSWORD_FILE="$first/test-sign/password" build second
second="$work/second/build"

# Every table, stream and summary field of a package, one file each.
msi_parts() {
    mkdir -p "$2"
    msiinfo suminfo "$1" >"$2/_summary"
    for t in $(msiinfo tables "$1"); do msiinfo export "$1" "$t" >"$2/table-$t"; done
    for s in $(msiinfo streams "$1"); do msiinfo extract "$1" "$s" >"$2/stream-$(printf '%s' "$s" | tr -c 'A-Za-z0-9._' _)"; done
}
# Without the key: the second build with the first one's signatures put on
# its files (scripts/package.sh --signatures-from), as anyone can check a
# published release.
BUILD_DIR="$second" sh "$work/second/scripts/package.sh" --no-build --signatures-from "$first/dist" \
    --out "$work/attached" >"$work/attached.log" 2>&1 ||
    { cat "$work/attached.log" >&2; kalvora_fail "packaging with the first build's signatures failed (log above)"; }

# What is compared: "name<TAB>first's file<TAB>second's file", one a line.
release=$(cd "$first/dist" && ls KalvoraAdminUser-*.msi KalvoraAdminUser-*.zip)
{
    for f in $release; do printf '%s\t%s\t%s\n' "$f" "$first/dist/$f" "$second/dist/$f"; done
    for f in KalvoraAdminUser.dll OSUtilities.dll gen/KalvoraAdminUser.tlb \
        x64/KalvoraAdminUser.dll x64/OSUtilities.dll x64/gen/KalvoraAdminUser.tlb; do
        printf '%s\t%s\t%s\n' "$f" "$first/$f" "$second/$f"
    done
    for f in $release; do printf '%s\t%s\t%s\n' "$f (signatures attached)" "$first/dist/$f" "$work/attached/$f"; done
} >"$work/pairs"
failed=0 files=0
while IFS='	' read -r f a b; do
    files=$((files + 1))
    if cmp -s "$a" "$b"; then
        echo "same: $f ($(wc -c <"$a") bytes)"
        continue
    fi
    failed=$((failed + 1))
    echo "DIFFERS: $f"
    cmp -l "$a" "$b" 2>&1 | awk 'NR <= 5 { print "    byte " $0 } END { print "    " NR " byte(s) differ" }'
    case "$f" in *.msi*)
        p="$work/parts/$files"
        msi_parts "$a" "$p/first" && msi_parts "$b" "$p/second"
        (cd "$p" && diff -rq first second | sed 's/^/    /'; diff first/_summary second/_summary | sed 's/^/    /')
    esac
done <"$work/pairs"
echo "==> $files files compared in $(($(date +%s) - start)) s"
[ "$failed" = 0 ] || kalvora_fail "$failed of $files files differ between two builds of one commit"
echo "Reproducible: two builds in two folders gave the same $files files"
