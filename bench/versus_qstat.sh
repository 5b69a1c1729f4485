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

work=$(mktemp -d)
serve_pid=
cleanup() {
    if [ -n "$serve_pid" ]; then
        kill "$serve_pid" 2>/dev/null || true
        wait "$serve_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# A stand-in with eight players on a free loopback port.
"$velder" serve --port 0 --players 8 >"$work/serve.log" 2>&1 &
serve_pid=$!
for _ in $(seq 1 100); do
    grep -q 'answering status requests' "$work/serve.log" && break
    kill -0 "$serve_pid" 2>/dev/null || { cat "$work/serve.log" >&2; exit 1; }
    sleep 0.05
done
address=$(grep -o '127\.0\.0\.1:[0-9]*' "$work/serve.log" | head -n 1)
[ -n "$address" ] || { echo "versus_qstat: serve did not start" >&2; exit 1; }

# Both must really get the answer, or the timing means nothing.
"$velder" info "$address"
quakestat -q4s "$address" | tail -n 1
echo

hyperfine -N --warmup 50 --runs "$runs" \
    "$velder info $address" \
    "quakestat -q4s $address"
