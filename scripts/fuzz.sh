#!/usr/bin/env bash
# Builds the fuzz preset and runs every libFuzzer target for a bounded time on
# its seed corpus (tests/fuzz/corpus/<target>), keeping what it finds in a
# temporary folder. Prints the executions per target and in all; fails on any
# crash, hang or sanitizer report (the fuzzer leaves the input as crash-* or
# timeout-* in the current folder).
#   scripts/fuzz.sh [seconds per target, default 30]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" >/dev/null

found=$(mktemp -d /tmp/quorvel-fuzz-XXXXXX)
trap 'rm -rf "$found"' EXIT
status=0
total=0
for target in read_packet transfer console image_file intel_hex record_line; do
    mkdir -p "$found/$target"
    log="$found/$target.log"
    if ! "build/fuzz/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 \
        -print_final_stats=1 "$found/$target" "tests/fuzz/corpus/$target" >"$log" 2>&1; then
        echo "fuzz_$target FAILED:"
        grep -E 'ERROR|SUMMARY|check failed|Test unit written' "$log" || tail -n 20 "$log"
        status=1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    total=$((total + ${runs:-0}))
    echo "fuzz_$target: ${runs:-0} executions in ${seconds} s"
done
echo "fuzzing: $total executions in all, $([ $status -eq 0 ] && echo "no" || echo "SOME") failures"
exit $status
