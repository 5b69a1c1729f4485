#!/usr/bin/env bash
# One query as a whole process, velder against qstat, in one run against the
# same loopback stand-in: `velder info` and `quakestat -q4s`, each started
# hundreds of times by hyperfine. Installs qstat and hyperfine from Debian if
# they are missing (as root, or through sudo).
#
#   bench/versus_qstat.sh [VELDER] [RUNS]
#
# VELDER defaults to build/linux/bin/velder (build it with
# `cmake --build --preset linux --target velder_cli`).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
velder=${1:-$root/build/linux/bin/velder}
runs=${2:-1000}
. "$root/scripts/lib/setup.sh"

[ -x "$velder" ] || { echo "versus_qstat: no program at $velder" >&2; exit 2; }
command -v quakestat >/dev/null && command -v hyperfine >/dev/null ||
    ensure_packages qstat hyperfine

. "$root/scripts/lib/background.sh"

# A stand-in with eight players on a free loopback port.
start_velder "$velder" serve --port 0 --players 8
address=$velder_address

# Both must really get the answer, or the timing means nothing.
"$velder" info "$address"
quakestat -q4s "$address" | tail -n 1
echo

hyperfine -N --warmup 50 --runs "$runs" --export-csv "$velder_work/times.csv" \
    "$velder info $address" \
    "quakestat -q4s $address"
echo
# The means and medians to the microsecond.
awk -F, 'NR > 1 { printf "%-60s mean %6.0f us  median %6.0f us\n", $1, $2 * 1e6, $4 * 1e6 }' \
    "$velder_work/times.csv"
