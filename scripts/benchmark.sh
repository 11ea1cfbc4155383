#!/usr/bin/env bash
# Measures the paced 212 992-byte download (115 200 baud, 1 ms reply latency):
#   1. natively: the tool's transfer against a bare client in one run, with
#      the tool's CPU time (build/linux/bench/transfer_benchmark);
#   2. under Wine: a bare Windows client, then the dialog itself (the GUI
#      timing scenario), with the CPU time of Quorvel.exe and the Wine server.
#   scripts/benchmark.sh [native runs]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)
cmake --preset linux -DQUORVEL_BENCH=ON >/dev/null
cmake --build --preset linux -j "$jobs" --target transfer_benchmark devsim
cmake --preset windows -DQUORVEL_BENCH=ON >/dev/null
cmake --build --preset windows -j "$jobs" --target Quorvel gui_driver wine_transfer_benchmark

echo "== native"
build/linux/bench/transfer_benchmark "${1:-1}"

source scripts/wine-env.sh
trap quorvel_wine_stop EXIT
quorvel_wine_start
export QUORVEL_DEVSIM="$PWD/build/linux/tools/devsim/devsim"
paced=(--start boot --boot-version 0x12340AFF --baud 115200 --latency 1 --max-packet-words 64)

# CPU seconds (user + system) that a process has used so far; 0 once it is gone.
cpu_of() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || { echo 0; return; }
    set -- ${stat##*) }
    awk -v ticks="$(getconf CLK_TCK)" -v usr="${12}" -v sys="${13}" \
        'BEGIN { printf "%.2f", (usr + sys) / ticks }'
}

# The process of ours (this Wine prefix) whose command line matches a pattern.
ours() {
    local pid
    for pid in $(pgrep -f "$1"); do
        if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
            echo "$pid"
            return
        fi
    done
}

echo "== Wine"
paced+=(--times)
# Runs a Windows program against the paced device; keeps the device's
# transcript (timed lines) in $1.
with_paced_device() {
    local transcript=$1
    shift
    scripts/with-device.sh 5 "${paced[@]}" -- bash -c \
        '"$@"; status=$?; cp "$QUORVEL_DEVICE_DIR/transcript.txt" "$TRANSCRIPT_COPY"; exit $status' \
        run "$@"
}
# The transfer's window in the transcript: the start command in, the last acknowledgement out.
transfer_window() {
    awk '{ t = substr($NF, 3) } /^boot rx start/ && !start { start = t } /^boot tx ack/ { end = t }
        END { print start, end }' "$1"
}

server=$(ours wineserver)
work=$(mktemp -d)
export TRANSCRIPT_COPY="$work/transcript.txt"
declare -A seconds cpu server_cpu
for client in bare tool; do
    before=$(cpu_of "$server")
    read -r _ cpu[$client] < <(with_paced_device "$work" \
        wine build/windows/bench/wine_transfer_benchmark.exe COM5 "$client")
    server_cpu[$client]=$(awk -v a="$(cpu_of "$server")" -v b="$before" 'BEGIN { print a - b }')
    read -r start end < <(transfer_window "$TRANSCRIPT_COPY")
    seconds[$client]=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
done
awk -v bs="${seconds[bare]}" -v bc="${cpu[bare]}" -v bw="${server_cpu[bare]}" \
    -v ts="${seconds[tool]}" -v tc="${cpu[tool]}" -v tw="${server_cpu[tool]}" 'BEGIN {
    printf "bare client %.3f s, CPU %.2f s + wineserver %.2f s\n", bs, bc, bw
    printf "tool        %.3f s, CPU %.2f s + wineserver %.2f s = %.2f%% of one core\n", ts, tc, tw,
        100 * (tc + tw) / ts
    printf "tool/bare throughput %.4f\n", bs / ts }'

echo "== Wine, through the dialog"
with_paced_device "$work" wine build/windows/tests/gui/gui_driver.exe \
    --scenario download_timing build/windows/app/Quorvel.exe >"$work/driver.log" 2>&1 &
driver=$!
# Samples of the clock and of the CPU of Quorvel.exe and the Wine server,
# every 0.1 s while the scenario runs.
while kill -0 "$driver" 2>/dev/null; do
    pid=$(ours '^[^ ]*Quorvel\.exe')
    echo "$(cut -d ' ' -f 1 /proc/uptime) $([ -n "$pid" ] && cpu_of "$pid" || echo 0) $(cpu_of "$server")"
    sleep 0.1
done >"$work/samples"
wait "$driver" || { cat "$work/driver.log"; exit 1; }
grep '^note' "$work/driver.log"
read -r start end < <(transfer_window "$TRANSCRIPT_COPY")
awk -v start="$start" -v end="$end" -v bare="${seconds[bare]}" '
    $1 <= start { first = $0 } $1 >= end && !last { last = $0 }
    END {
        split(first, a); split(last, b)
        dialog = b[2] - a[2]; server = b[3] - a[3]; span = b[1] - a[1]
        printf "dialog transfer %.3f s; bare client %.3f s; tool/bare throughput %.4f\n",
            end - start, bare, bare / (end - start)
        printf "over the transfer (%.1f s of samples; the driver reads the dialog every 250 ms):" \
            " Quorvel.exe %.2f s + wineserver %.2f s = %.2f%% of one core\n", span, dialog, server,
            100 * (dialog + server) / span }' "$work/samples"
rm -rf "$work"
