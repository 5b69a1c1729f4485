# Shared by the benchmarks: runs `velder serve` in the background while the
# script runs and stops it at the end. Source it, don't run it.
#
#   start_serve VELDER ARGS...   starts `VELDER serve ARGS...`, waits until it
#                                answers and sets serve_address to the first
#                                HOST:PORT it announced
# bench_work is a folder for the script's files, removed at the end.

bench_work=$(mktemp -d)
serve_pid=
stop_serve() {
    if [ -n "$serve_pid" ]; then
        kill "$serve_pid" 2>/dev/null || true
        wait "$serve_pid" 2>/dev/null || true
    fi
    rm -rf "$bench_work"
}
trap stop_serve EXIT

start_serve() {
    local velder=$1
    shift
    "$velder" serve "$@" >"$bench_work/serve.log" 2>&1 &
    serve_pid=$!
    for _ in $(seq 1 200); do
        grep -q 'answering status requests' "$bench_work/serve.log" && break
        kill -0 "$serve_pid" 2>/dev/null || { cat "$bench_work/serve.log" >&2; exit 1; }
        sleep 0.05
    done
    serve_address=$(grep -o 'requests on [0-9.]*:[0-9]*' "$bench_work/serve.log" | head -n 1 |
        cut -d' ' -f3)
    [ -n "$serve_address" ] || { echo "velder serve did not start" >&2; exit 1; }
}
