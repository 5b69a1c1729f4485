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
out=$(mktemp) && err=$(mktemp) || exit 125
"$WINELOADER" "$@" >"$out" 2>"$err" </dev/null
status=$?
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
exit $status
