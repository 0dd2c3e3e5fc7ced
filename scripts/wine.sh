# Wine for one bitness (sourced, not run). Shared by the entry points and
# the test runner.
#
#   kalvora_use_wine 32|64   exports WINELOADER and WINESERVER; $WINELOADER
#                            then runs Windows programs of that bitness (64:
#                            the 64-bit loader itself, since the `wine`
#                            wrapper always picks the 32-bit one when it is
#                            installed). In a 64-bit prefix the 32-bit loader
#                            runs the 32-bit (SysWOW64) programs.
#   kalvora_winpath PATH     the Windows form of a Linux path (drive Z:).
#   kalvora_pe_bits FILE     32 or 64: the bitness of a PE file (else unknown).

export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# The kind of a prefix is fixed when it is booted (kalvora_boot_prefix).
unset WINEARCH

kalvora_use_wine() {
    case "$1" in
    32) export WINELOADER=/usr/lib/wine/wine ;;
    64) export WINELOADER=/usr/lib/wine/wine64 ;;
    *)
        echo "error: unknown bitness '$1' (32 or 64)" >&2
        return 1
        ;;
    esac
    # The 64-bit server serves prefixes of both kinds.
    export WINESERVER=/usr/lib/wine/wineserver64
}

kalvora_winpath() {
    printf 'Z:%s' "$1" | tr '/' '\\'
}

# The bitness of a PE file, from the machine field of its header.
kalvora_pe_bits() {
    offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    case $(od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' ') in
    014c) echo 32 ;;
    8664) echo 64 ;;
    *) echo unknown ;;
    esac
}
