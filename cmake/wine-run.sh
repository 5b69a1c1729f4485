#!/bin/sh
# Runs a Windows program under Wine in a build tree's prefix:
#   wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix is made by wine-prefix.sh before the first test runs.
#
# Wine may start helper processes that outlive the program; they would inherit
# and hold open the caller's output pipes, so the program writes to files that
# are copied out once it has exited.
#
# 32-bit programs and qemu-i386
# -----------------------------
# Where the kernel cannot run 32-bit Linux programs, scripts/lib/setup.sh
# registers qemu-i386 to run the 32-bit Wine loader. Two things differ there:
# - every 32-bit program takes about a minute to start: Debian 12's qemu 7.2
#   does not honour MAP_FIXED_NOREPLACE, so Wine's reservation of the address
#   space falls back to tens of thousands of mmap and munmap calls;
# - some threaded programs misbehave inside the emulator.
# The program is told through VELDER_UNDER_QEMU=1; each suite decides where it
# is declared what it leaves out, and says so as a skipped test.
#
# VELDER_FORCE_QEMU=1 takes that path on a machine that does not need it:
# the 32-bit loader is then started through qemu-i386-static (from the
# qemu-user-static package), and so is every 32-bit process Wine starts from
# it, since Wine starts its processes through the loader named in WINELOADER.
# For example: VELDER_FORCE_QEMU=1 ctest --preset mingw32, or
# VELDER_FORCE_QEMU=1 scripts/test.
. "$(dirname "$0")/wine-env.sh"
shift

# The machine type in a PE file's header: 14c for i386, 8664 for x86-64.
pe_machine() {
    offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    [ -n "$offset" ] && od -An -tx2 -j$((offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}

loaders=
if [ "$(pe_machine "$1")" = 014c ]; then
    if [ -n "${VELDER_FORCE_QEMU:-}" ]; then
        # Wine names the 32-bit loader after the 64-bit one without its "64":
        # a folder holding both, the 32-bit one a wrapper around qemu.
        loaders=$(mktemp -d) || exit 125
        ln -s "$WINELOADER" "$loaders/wine64"
        printf '#!/bin/sh\nexec qemu-i386-static %s "$@"\n' "${WINELOADER%64}" >"$loaders/wine"
        chmod +x "$loaders/wine"
        export WINELOADER="$loaders/wine64" VELDER_UNDER_QEMU=1
    elif grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386; then
        export VELDER_UNDER_QEMU=1
    fi
fi

out=$(mktemp) && err=$(mktemp) || exit 125
"$WINELOADER" "$@" >"$out" 2>"$err" </dev/null
status=$?
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
[ -z "$loaders" ] || rm -rf "$loaders"
exit $status
