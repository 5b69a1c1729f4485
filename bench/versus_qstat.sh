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
command -v quakestat >/dev/null && command -v hyperfine >/dev/null &&
    command -v python3 >/dev/null || ensure_packages qstat hyperfine python3

. "$root/bench/serve.sh"

# A stand-in with eight players on a free loopback port.
start_serve "$velder" --port 0 --players 8
address=$serve_address

# qstat asks with FF FF "getInfo" 00 and a four-byte challenge, 14 bytes,
# and the stand-in answers only GetInfo's exact 13-byte request. Then both
# programs ask one small loopback responder instead, which answers either
# request with the bytes the stand-in sends.
if quakestat -q4s "$address" | grep -q 'no response'; then
    python3 - "$address" "$bench_work/reply.bin" <<'PYTHON'
import socket, sys
host, port = sys.argv[1].split(":")
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(2)
s.sendto(b"\xff\xffgetInfo\x00\x02\x00\x00", (host, int(port)))
open(sys.argv[2], "wb").write(s.recv(65535))
PYTHON
    kill "$serve_pid" 2>/dev/null || true
    wait "$serve_pid" 2>/dev/null || true
    python3 - "$bench_work/reply.bin" >"$bench_work/responder.log" <<'PYTHON' &
import socket, sys
reply = open(sys.argv[1], "rb").read()
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 0))
print("127.0.0.1:%d" % s.getsockname()[1], flush=True)
while True:
    request, source = s.recvfrom(2048)
    if request.startswith(b"\xff\xffgetInfo\x00") and len(request) in (13, 14):
        s.sendto(reply, source)
PYTHON
    serve_pid=$!
    for _ in $(seq 1 100); do
        [ -s "$bench_work/responder.log" ] && break
        sleep 0.05
    done
    address=$(head -n 1 "$bench_work/responder.log")
    echo "quakestat's request is not the one the stand-in answers: both ask a loopback" \
        "responder at $address that sends the stand-in's reply"
fi

# Both must really get the answer, or the timing means nothing.
"$velder" info "$address"
quakestat -q4s "$address" | tail -n 1
echo

hyperfine -N --warmup 50 --runs "$runs" --export-csv "$bench_work/times.csv" \
    "$velder info $address" \
    "quakestat -q4s $address"
echo
# The means and medians to the microsecond.
awk -F, 'NR > 1 { printf "%-60s mean %6.0f us  median %6.0f us\n", $1, $2 * 1e6, $4 * 1e6 }' \
    "$bench_work/times.csv"
