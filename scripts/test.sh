#!/usr/bin/env bash
# Installs what is missing, builds and runs the tests.
#   scripts/test.sh                         everything: the format check, the
#                                           native, sanitizer and Windows presets,
#                                           and the fuzz targets (30 s each,
#                                           beside the other tests)
#   scripts/test.sh PRESET [ctest options]  one preset, for instance
#                                           scripts/test.sh windows -R gui_download
# The linux preset's tests include the Python package's, under Debian's
# pytest (ctest's python_quorvel), and the C API's program (capi_flash).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)
logs=$(mktemp -d /tmp/quorvel-test-XXXXXX)
fuzz_pid=

cleanup() {
    [ -n "$fuzz_pid" ] && kill "$fuzz_pid" 2>/dev/null
    declare -F quorvel_wine_stop >/dev/null && quorvel_wine_stop
    rm -rf "$logs"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

presets=(linux sanitize windows)
fuzz_seconds=30
if [ $# -gt 0 ]; then
    presets=("$1")
    shift
    fuzz_seconds=
fi

# Runs ctest for a preset, keeping its output to count the results at the end.
run_tests() {
    local preset=$1
    shift
    ctest --preset "$preset" "$@" 2>&1 | tee "$logs/$preset.log"
    return "${PIPESTATUS[0]}"
}

status=0
if [ -n "$fuzz_seconds" ]; then
    scripts/check-format.sh || status=1
    # The fuzzers take one core for their whole time; most tests wait for the
    # simulated device meanwhile, so they run side by side.
    scripts/fuzz.sh "$fuzz_seconds" >"$logs/fuzz.out" 2>&1 &
    fuzz_pid=$!
fi
for preset in "${presets[@]}"; do
    case $preset in
    linux | sanitize)
        cmake --preset "$preset" -DQUORVEL_BENCH=OFF >/dev/null
        cmake --build --preset "$preset" -j "$jobs"
        run_tests "$preset" -j "$jobs" "$@" || status=1
        ;;
    fuzz)
        scripts/fuzz.sh "${1:-30}" || status=1
        ;;
    windows)
        # The Wine tests run against the native simulator.
        cmake --preset linux -DQUORVEL_BENCH=OFF >/dev/null
        cmake --build --preset linux -j "$jobs" --target devsim
        cmake --preset windows -DQUORVEL_BENCH=OFF >/dev/null
        cmake --build --preset windows -j "$jobs"
        source scripts/wine-env.sh
        quorvel_wine_start
        export QUORVEL_DEVSIM="$PWD/build/linux/tools/devsim/devsim"
        export QUORVEL_ARTIFACTS="$PWD/build/windows/artifacts"
        mkdir -p "$QUORVEL_ARTIFACTS"
        # The Wine tests share COM ports and one display: one at a time.
        run_tests windows "$@" || status=1
        echo "Screenshots: $QUORVEL_ARTIFACTS"
        ;;
    *)
        echo "unknown preset $preset (linux, sanitize, windows, fuzz)" >&2
        exit 2
        ;;
    esac
done

if [ -n "$fuzz_pid" ]; then
    wait "$fuzz_pid" || status=1
    fuzz_pid=
    cat "$logs/fuzz.out"
fi

# One closing line over the presets run.
read -r total failed < <(cat "$logs"/*.log 2>/dev/null | awk '/tests failed out of/ {
    failed += $(NF - 5); total += $NF } END { print total + 0, failed + 0 }')
echo "All presets: $((total - failed)) passed, $failed failed"
exit $status
