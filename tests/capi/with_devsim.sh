#!/usr/bin/env bash
# Runs a C API test program against simulated devices on pseudo-terminals.
#   with_devsim.sh <devsim> <program> [--boards N] [devsim options]
# The program gets, for each of the N boards (1 by default), its port (a link
# to the simulator's terminal) and the simulator's flash file.
set -u
devsim=$1
program=$2
shift 2
boards=1
if [ "${1:-}" = --boards ]; then
    boards=$2
    shift 2
fi

work=$(mktemp -d /tmp/quorvel-capi-XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

arguments=()
for board in $(seq 1 "$boards"); do
    dir=$work/board$board
    mkdir "$dir"
    "$devsim" --link "$dir/com5" --flash "$dir/flash.bin" --transcript "$dir/transcript.txt" "$@" \
        >"$dir/devsim.out" 2>"$dir/devsim.err" &
    pids+=($!)
    arguments+=("$dir/com5" "$dir/flash.bin")
done

# Wait (bounded) for every device to announce its port.
for board in $(seq 1 "$boards"); do
    dir=$work/board$board
    for _ in $(seq 1 100); do
        grep -q '^PORT ' "$dir/devsim.out" 2>/dev/null && break
        sleep 0.05
    done
    if ! grep -q '^PORT ' "$dir/devsim.out" 2>/dev/null; then
        echo "the simulated device $board did not start" >&2
        cat "$dir/devsim.err" >&2
        exit 1
    fi
done

"$program" "${arguments[@]}"
status=$?
if [ $status -ne 0 ]; then
    for board in $(seq 1 "$boards"); do
        echo "--- device $board transcript ---" >&2
        tail -n 40 "$work/board$board/transcript.txt" >&2
    done
fi
exit $status
