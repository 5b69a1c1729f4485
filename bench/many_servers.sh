#!/usr/bin/env bash
# Many servers at once: starts 1,000 stand-in servers on consecutive loopback
# ports, each answering 20 ms after a request, and queries them all with
# `velder info` at 16 and at 64 queries at a time. Prints the wall times.
#
#   bench/many_servers.sh [VELDER] [SERVERS] [FIRST_PORT]
#
# VELDER defaults to build/linux/bin/velder (build it with
# `cmake --build --preset linux --target velder_cli`).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
velder=${1:-$root/build/linux/bin/velder}
servers=${2:-1000}
first=${3:-41000}
delay_ms=20
last=$((first + servers - 1))

[ -x "$velder" ] || { echo "many_servers: no program at $velder" >&2; exit 2; }

. "$root/scripts/lib/background.sh"

now() { date +%s.%N; }
elapsed() { echo "$1 $2" | awk '{printf "%.3f", $2 - $1}'; }

started=$(now)
start_velder "$velder" serve --port "$first" --servers "$servers" --delay-ms "$delay_ms" --players 8
echo "$servers stand-in servers on 127.0.0.1:$first-$last (answer after $delay_ms ms)," \
    "up in $(elapsed "$started" "$(now)") s"

addresses=()
for ((port = first; port <= last; ++port)); do
    addresses+=("127.0.0.1:$port")
done

for jobs in 16 64; do
    begin=$(now)
    status=0
    "$velder" info --raw --jobs "$jobs" "${addresses[@]}" >"$velder_work/answers.$jobs" || status=$?
    end=$(now)
    answered=$(grep -ac . "$velder_work/answers.$jobs" || true)
    echo "velder info --jobs $jobs: $servers servers in $(elapsed "$begin" "$end") s," \
        "$answered answered, exit status $status"
done
