# Sourced by the Wine scripts: sets up the environment for one build tree's prefix.
#   $1  the prefix folder      $2  win32 or win64
# The 64-bit prefix runs 64-bit programs under wine64. The 32-bit prefix runs
# under the 32-bit loader; where the kernel cannot run 32-bit Linux programs,
# qemu-i386 (qemu-user-static, through binfmt_misc) runs it instead.
export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
case "$2" in
win64)
    export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
    VELDER_WINESERVER=/usr/lib/wine/wineserver64
    ;;
win32)
    export WINEARCH=win32 WINELOADER=/usr/lib/wine/wine
    VELDER_WINESERVER=/usr/lib/wine/wineserver64
    ;;
*)
    echo "unknown Wine architecture '$2'" >&2
    exit 2
    ;;
esac
export WINESERVER="$VELDER_WINESERVER"
