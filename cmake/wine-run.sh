#!/bin/sh
# Runs a Windows program under Wine in a build tree's prefix:
#   wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix is made by wine-prefix.sh before the first test runs.
#
# Wine may start helper processes that outlive the program; they would inherit
# and hold open the caller's output pipes, so the program writes to files that
# are copied out once it has exited.
. "$(dirname "$0")/wine-env.sh"
shift

# The machine type in a PE file's header: 14c for i386, 8664 for x86-64.
pe_machine() {
    offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    [ -n "$offset" ] && od -An -tx2 -j$((offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}

# Where the kernel cannot run 32-bit programs, qemu-i386 runs the 32-bit
# Wine loader (see scripts/lib/setup.sh). There every program takes over a
# minute to start, and threads that wait in system calls side by side can
# hang inside qemu. The program is told through VELDER_UNDER_QEMU=1; each
# suite decides where it is declared what it leaves out.
if grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386 && [ "$(pe_machine "$1")" = 014c ]; then
    export VELDER_UNDER_QEMU=1
fi

out=$(mktemp) && err=$(mktemp) || exit 125
"$WINELOADER" "$@" >"$out" 2>"$err" </dev/null
status=$?
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
exit $status
