#!/usr/bin/env bash
# A whole browse: `velder master` lists 1,000 stand-in servers (consecutive
# loopback ports, each answering 20 ms after a request); `velder browse`
# asks the master, then every server 64 at a time, starting as the list
# arrives. qstat's own master-then-servers mode (`quakestat -q4m`, 64 at a
# time) browses the same set in the same run. Prints time and answered count
# for both, and the goal for velder: 1.2 x (servers x 20 ms / 64) plus the
# list's quiet wait.
#
#   bench/browse_servers.sh [VELDER] [SERVERS] [FIRST_PORT]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
velder=${1:-$root/build/linux/bin/velder}
servers=${2:-1000}
first=${3:-43000}
delay_ms=20
jobs=64
wait_ms=300

[ -x "$velder" ] || { echo "browse_servers: no program at $velder" >&2; exit 2; }

. "$root/scripts/lib/background.sh"

now() { date +%s.%N; }
elapsed() { echo "$1 $2" | awk '{printf "%.3f", $2 - $1}'; }

start_velder "$velder" master --servers "$servers" --server-port "$first" --delay-ms "$delay_ms" \
    --port 0
master=$velder_address
echo "velder master on $master lists $servers stand-ins on 127.0.0.1:$first-$((first + servers - 1))" \
    "(answer after $delay_ms ms)"

begin=$(now)
status=0
"$velder" browse --master "$master" --jobs "$jobs" --wait-ms "$wait_ms" \
    >"$velder_work/velder.out" 2>"$velder_work/velder.err" || status=$?
end=$(now)
echo "velder browse --jobs $jobs --wait-ms $wait_ms: $(elapsed "$begin" "$end") s," \
    "$(grep -o '[0-9]* servers listed, [0-9]* answered' "$velder_work/velder.err"), exit status $status"
awk -v n="$servers" -v d="$delay_ms" -v j="$jobs" -v w="$wait_ms" \
    'BEGIN {printf "  goal: 1.2 x (%d x %d ms / %d) + %d ms quiet wait = %.3f s\n", n, d, j, w,
            (1.2 * n * d / j + w) / 1000}'

if command -v quakestat >/dev/null; then
    begin=$(now)
    quakestat -maxsim "$jobs" -raw , -q4m "$master" >"$velder_work/qstat.out" 2>&1 || true
    end=$(now)
    listed=$(grep -c '^Q4S,' "$velder_work/qstat.out" || true)
    answered=$(grep '^Q4S,' "$velder_work/qstat.out" | grep -cv ',DOWN$\|,TIMEOUT$\|,ERROR' || true)
    echo "quakestat -maxsim $jobs -q4m: $(elapsed "$begin" "$end") s," \
        "$listed servers listed, $answered answered"
else
    echo "quakestat is not installed: no comparison"
fi
