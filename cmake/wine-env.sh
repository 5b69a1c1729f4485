# Sourced by the Wine scripts: the environment for a build tree's Wine prefix ($1).
#
# One 64-bit prefix serves both Windows builds: wine64 runs 64-bit programs
# itself and hands 32-bit ones to the 32-bit loader (WoW64). Where the kernel
# cannot run 32-bit Linux programs, scripts/lib/setup.sh has registered
# qemu-i386 to run that loader.
export WINEPREFIX="$1" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
export WINELOADER=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
