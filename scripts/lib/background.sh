# Shared by the benchmarks and the tests that run the tool: runs a velder
# command that listens (serve, master) in the background while the script
# runs, and stops it at the end. Source it, don't run it.
#
#   start_velder VELDER COMMAND ARGS...   starts `VELDER COMMAND ARGS...`,
#                                         waits until it says where it
#                                         listens and sets velder_address to
#                                         the first HOST:PORT it announced
# velder_work is a folder for the script's files, removed at the end.

velder_work=$(mktemp -d)
velder_pids=()
stop_velder() {
    local pid
    for pid in "${velder_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$velder_work"
}
trap stop_velder EXIT

start_velder() {
    local velder=$1 command=$2
    shift 2
    local log="$velder_work/$command.log"
    "$velder" "$command" "$@" >"$log" 2>&1 &
    local pid=$!
    velder_pids+=("$pid")
    velder_address=
    for _ in $(seq 1 200); do
        # "answering status requests on A:P", "listing N servers on A:P";
        # nothing yet is no failure, also under set -e
        velder_address=$(grep -o ' on [0-9.]*:[0-9][0-9]*' "$log" | head -n 1 | cut -c5- || true)
        [ -z "$velder_address" ] || return 0
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    cat "$log" >&2
    echo "velder $command did not start" >&2
    exit 1
}
