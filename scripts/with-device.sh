#!/usr/bin/env bash
# Runs a command while the simulated device serves a Wine COM port.
#   with-device.sh <COM number> [devsim options] -- <command ...>
# The command sees QUORVEL_DEVICE_COM (the port number) and QUORVEL_DEVICE_DIR
# (a folder with the device's flash.bin, transcript.txt and control file).
set -u

port=$1
shift
devsim_args=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    devsim_args+=("$1")
    shift
done
[ $# -gt 0 ] && shift

: "${QUORVEL_WINE_PORT_DIR:?run inside the Wine test environment (scripts/test.sh)}"
devsim=${QUORVEL_DEVSIM:-$(dirname "$0")/../build/linux/tools/devsim/devsim}

device_dir=$(mktemp -d /tmp/quorvel-device-XXXXXX)
export QUORVEL_DEVICE_COM=$port
export QUORVEL_DEVICE_DIR=$device_dir

"$devsim" --link "$QUORVEL_WINE_PORT_DIR/com$port" \
    --flash "$device_dir/flash.bin" --transcript "$device_dir/transcript.txt" \
    --control "$device_dir/control" "${devsim_args[@]}" >"$device_dir/devsim.out" 2>"$device_dir/devsim.err" &
devsim_pid=$!

# Wait (bounded) for the device to announce its port.
for _ in $(seq 1 100); do
    grep -q '^PORT ' "$device_dir/devsim.out" 2>/dev/null && break
    sleep 0.05
done
if ! grep -q '^PORT ' "$device_dir/devsim.out" 2>/dev/null; then
    echo "with-device: the simulated device did not start" >&2
    cat "$device_dir/devsim.err" >&2
    kill "$devsim_pid" 2>/dev/null
    rm -rf "$device_dir"
    exit 1
fi

"$@"
status=$?

kill "$devsim_pid" 2>/dev/null
wait "$devsim_pid" 2>/dev/null
if [ $status -ne 0 ]; then
    echo "--- device transcript ---" >&2
    tail -n 40 "$device_dir/transcript.txt" >&2 2>/dev/null
fi
rm -rf "$device_dir"
exit $status
