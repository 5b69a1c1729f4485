#!/usr/bin/env bash
# Other query programs read `velder serve` as they read a Quake 4 server:
# qstat (`quakestat -q4s`, which sends a four-byte challenge) must find the
# name, map, player count and every player's name, ping and clan.
#
#   peers_test.sh VELDER
#
# Exits 77 (skipped) when quakestat is not installed.
set -euo pipefail

velder=$1
command -v quakestat >/dev/null || { echo "quakestat is not installed: skipped"; exit 77; }

work=$(mktemp -d)
serve_pid=
finish() {
    [ -z "$serve_pid" ] || kill "$serve_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap finish EXIT

"$velder" serve --port 0 --name '^1Red ^7Arena' --map mp/q4dm5 --maxplayers 8 \
    --player 'Kane,^4Rhino,32' --player 'Bob,,300' --count 10 >"$work/serve.log" 2>&1 &
serve_pid=$!
for _ in $(seq 1 100); do
    grep -q 'answering status requests' "$work/serve.log" && break
    sleep 0.05
done
address=$(grep -o '127\.0\.0\.1:[0-9]*' "$work/serve.log" | head -n 1)
[ -n "$address" ] || { cat "$work/serve.log"; echo "velder serve did not start"; exit 1; }

# One line for the server (its round trip and retries last, which vary),
# then one per player: name, score, ping, clan, number.
timeout 10 quakestat -q4s "$address" -P -raw , -timeout 2 |
    sed 's/^\(Q4S,.*\),[0-9]*,[0-9]*$/\1,T,R/' | LC_ALL=C sort >"$work/got"
LC_ALL=C sort >"$work/expected" <<TEXT
Bob,0,300,,1
Kane,0,32,^4Rhino,0
Q4S,$address,Red Arena,mp/q4dm5,8,2,T,R

TEXT
if ! diff -u "$work/expected" "$work/got"; then
    echo "quakestat read the stand-in differently (above: - expected, + read)"
    exit 1
fi
echo "quakestat read $address: name, map and both players"
