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

work=$(mktemp -d)
master_pid=
finish() {
    [ -z "$master_pid" ] || kill "$master_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap finish EXIT

# 500 servers: three datagrams of 231, 231 and 38.
for i in $(seq 0 499); do echo "127.0.$((i / 200)).$((i % 200 + 1)):$((27000 + i))"; done >"$work/list"
"$velder" master --list "$work/list" --port 0 >"$work/master.log" 2>&1 &
master_pid=$!
for _ in $(seq 1 100); do
    grep -q 'listing' "$work/master.log" && break
    sleep 0.05
done
address=$(grep -o '127\.0\.0\.1:[0-9]*' "$work/master.log" | head -n 1)
[ -n "$address" ] || { cat "$work/master.log"; echo "velder master did not start"; exit 1; }

timeout 20 quakestat -q4m,outfile "$address,$work/qstat" >"$work/qstat.log"
sed -n 's/^q4s //p' "$work/qstat" >"$work/qstat.list"
"$velder" list --master "$address" --wait-ms 300 >"$work/velder.list"
for reader in qstat velder; do
    if ! diff -u "$work/list" "$work/$reader.list" >"$work/diff"; then
        head -n 20 "$work/diff"
        echo "$reader read a different list from velder master (above: - listed, + read)"
        exit 1
    fi
done
grep -q "500 servers" "$work/qstat.log" || { cat "$work/qstat.log"; exit 1; }
echo "quakestat and velder list read the same 500 servers from $address"
