#!/usr/bin/env bash
# Installs what is missing, builds the native, sanitizer and Windows presets,
# and runs every test: native, sanitizer, and the Windows programs under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)
logs=$(mktemp -d /tmp/quorvel-test-XXXXXX)

# Runs ctest for a preset, keeping its output to count the results at the end.
run_tests() {
    local preset=$1
    shift
    ctest --preset "$preset" "$@" 2>&1 | tee "$logs/$preset.log"
    return "${PIPESTATUS[0]}"
}

status=0
for preset in linux sanitize; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    run_tests "$preset" -j "$jobs" || status=1
done

cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"

source scripts/wine-env.sh
quorvel_wine_start
trap quorvel_wine_stop EXIT
export QUORVEL_DEVSIM="$PWD/build/linux/tools/devsim/devsim"
export QUORVEL_ARTIFACTS="$PWD/build/windows/artifacts"
mkdir -p "$QUORVEL_ARTIFACTS"
# The Wine tests share COM ports and one display: one at a time.
run_tests windows || status=1
echo "Screenshots: $QUORVEL_ARTIFACTS"

# One closing line over all three presets.
read -r total failed < <(cat "$logs"/*.log | awk '/tests failed out of/ {
    failed += $(NF - 5); total += $NF } END { print total + 0, failed + 0 }')
rm -rf "$logs"
echo "All presets: $((total - failed)) passed, $failed failed"
exit $status
