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
