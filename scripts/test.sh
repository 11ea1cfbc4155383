#!/usr/bin/env bash
# Installs what is missing, builds the native, sanitizer and Windows presets,
# and runs every test: native, sanitizer, and the Windows programs under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)

for preset in linux sanitize; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
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
ctest --preset windows
echo "Screenshots: $QUORVEL_ARTIFACTS"
