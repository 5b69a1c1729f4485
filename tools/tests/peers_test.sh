#!/usr/bin/env bash
# Other query programs read `velder serve` as they read a Quake 4 server:
# qstat (`quakestat -q4s`, which sends a four-byte challenge) and gamedig
# (which sends "PiNGPoNg" and checks that the reply echoes it) must find the
# name, map, player count and every player's name, ping and clan.
#
#   peers_test.sh VELDER [GAMEDIG]
#
# GAMEDIG is gamedig's command, when the test set-up could install it from
# the npm registry; without it only quakestat reads the stand-in.
# Exits 77 (skipped) when quakestat is not installed.
set -euo pipefail

velder=$1
gamedig=${2:-}
command -v quakestat >/dev/null || { echo "quakestat is not installed: skipped"; exit 77; }

. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib/background.sh"

start_velder "$velder" serve --port 0 --name '^1Red ^7Arena' --map mp/q4dm5 --maxplayers 8 \
    --player 'Kane,^4Rhino,32' --player 'Bob,,300' --count 20
address=$velder_address

# One line for the server (its round trip and retries last, which vary),
# then one per player: name, score, ping, clan, number.
timeout 10 quakestat -q4s "$address" -P -raw , -timeout 2 |
    sed 's/^\(Q4S,.*\),[0-9]*,[0-9]*$/\1,T,R/' | LC_ALL=C sort >"$velder_work/got"
LC_ALL=C sort >"$velder_work/expected" <<TEXT
Bob,0,300,,1
Kane,0,32,^4Rhino,0
Q4S,$address,Red Arena,mp/q4dm5,8,2,T,R

TEXT
if ! diff -u "$velder_work/expected" "$velder_work/got"; then
    echo "quakestat read the stand-in differently (above: - expected, + read)"
    exit 1
fi
echo "quakestat read $address: name, map and both players"

[ -n "$gamedig" ] && [ -x "$gamedig" ] || { echo "gamedig is not installed: not asked"; exit 0; }
# gamedig drops the colour codes; one line for the server, one per player.
timeout 20 "$gamedig" --type quake4 "$address" >"$velder_work/gamedig.json"
node -e '
const s = JSON.parse(require("fs").readFileSync(process.argv[1], "utf8"));
if (s.error) { console.log("error: " + s.error); process.exit(0); }
console.log([s.name, s.map, s.maxplayers, s.numplayers].join(","));
for (const p of s.players) console.log([p.name, p.raw.ping, p.raw.clantag].join(","));
' "$velder_work/gamedig.json" >"$velder_work/got"
cat >"$velder_work/expected" <<TEXT
Red Arena,mp/q4dm5,8,2
Kane,32,Rhino
Bob,300,
TEXT
if ! diff -u "$velder_work/expected" "$velder_work/got"; then
    echo "gamedig read the stand-in differently (above: - expected, + read)"
    exit 1
fi
echo "gamedig read $address: name, map and both players"
