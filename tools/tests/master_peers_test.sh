#!/usr/bin/env bash
# qstat reads `velder master` as it reads a Quake 4 master: `quakestat -q4m`
# must get the same list, in the same order, as `velder list`, over several
# reply datagrams. (The outfile mode only writes the list down: the listed
# addresses, all on loopback, are never asked.)
#
#   master_peers_test.sh VELDER
#
# Exits 77 (skipped) when quakestat is not installed.
set -euo pipefail

velder=$1
command -v quakestat >/dev/null || { echo "quakestat is not installed: skipped"; exit 77; }

. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/background.sh"

# 500 servers: three datagrams of 231, 231 and 38.
for i in $(seq 0 499); do echo "127.0.$((i / 200)).$((i % 200 + 1)):$((27000 + i))"; done >"$velder_work/list"
start_velder "$velder" master --list "$velder_work/list" --port 0
address=$velder_address

timeout 20 quakestat -q4m,outfile "$address,$velder_work/qstat" >"$velder_work/qstat.log"
sed -n 's/^q4s //p' "$velder_work/qstat" >"$velder_work/qstat.list"
"$velder" list --master "$address" --wait-ms 300 >"$velder_work/velder.list"
for reader in qstat velder; do
    if ! diff -u "$velder_work/list" "$velder_work/$reader.list" >"$velder_work/diff"; then
        head -n 20 "$velder_work/diff"
        echo "$reader read a different list from velder master (above: - listed, + read)"
        exit 1
    fi
done
grep -q "500 servers" "$velder_work/qstat.log" || { cat "$velder_work/qstat.log"; exit 1; }
echo "quakestat and velder list read the same 500 servers from $address"
