#!/usr/bin/env bash
# Runs the C API's test program against the simulated device on a pseudo-terminal.
#   with_devsim.sh <devsim> <program> [devsim options]
# The program gets the port (a link to the simulator's terminal) and the
# simulator's flash file.
set -u
devsim=$1
program=$2
shift 2

work=$(mktemp -d /tmp/quorvel-capi-XXXXXX)
"$devsim" --link "$work/com5" --flash "$work/flash.bin" --transcript "$work/transcript.txt" "$@" \
    >"$work/devsim.out" 2>"$work/devsim.err" &
devsim_pid=$!
trap 'kill "$devsim_pid" 2>/dev/null; wait "$devsim_pid" 2>/dev/null; rm -rf "$work"' EXIT

# Wait (bounded) for the device to announce its port.
for _ in $(seq 1 100); do
    grep -q '^PORT ' "$work/devsim.out" 2>/dev/null && break
    sleep 0.05
done
if ! grep -q '^PORT ' "$work/devsim.out" 2>/dev/null; then
    echo "the simulated device did not start" >&2
    cat "$work/devsim.err" >&2
    exit 1
fi

"$program" "$work/com5" "$work/flash.bin"
status=$?
if [ $status -ne 0 ]; then
    echo "--- device transcript ---" >&2
    tail -n 40 "$work/transcript.txt" >&2
fi
exit $status
