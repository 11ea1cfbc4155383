#!/usr/bin/env bash
# Installs what is missing, builds, and runs Quorvel.exe under Wine against the
# simulated device on COM5, with a sample image to download.
#   scripts/run.sh [devsim options]      e.g. --start boot, --baud 115200
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)
for preset in linux windows; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs" --target "$([ "$preset" = linux ] && echo devsim || echo Quorvel)"
done

source scripts/wine-env.sh
if [ -n "${DISPLAY:-}" ]; then
    export QUORVEL_USE_DISPLAY=1
    echo "Showing Quorvel on your display $DISPLAY."
else
    echo "No display found: Quorvel runs on a virtual X server (Xvfb)."
fi
quorvel_wine_start
trap quorvel_wine_stop EXIT
[ -z "${QUORVEL_USE_DISPLAY:-}" ] && echo "Watch it with: DISPLAY=$DISPLAY xwd -root | convert xwd:- screen.png"

work=$(mktemp -d /tmp/quorvel-run-XXXXXX)
# A sample image: 64 KiB, well under the CODE area's limit.
head -c 65536 /dev/urandom >"$work/sample.bin"
echo "Sample image: $work/sample.bin (Z:${work//\//\\}\\sample.bin in the open-file dialog)"

build/linux/tools/devsim/devsim --link "$QUORVEL_WINE_PORT_DIR/com5" --flash "$work/flash.bin" \
    --transcript "$work/transcript.txt" --boot-delay 500 "$@" >"$work/devsim.out" &
devsim_pid=$!
trap 'kill $devsim_pid 2>/dev/null; quorvel_wine_stop; rm -rf "$work"' EXIT
echo "Simulated device on COM5 (transcript: $work/transcript.txt, flash: $work/flash.bin)."
echo "Pick COM5, press the online button, load the sample image, press DOWNLOAD."

if [ -n "${QUORVEL_USE_DISPLAY:-}" ]; then
    wine build/windows/app/Quorvel.exe
else
    # Xvfb has no window manager: a Wine desktop window draws the caption.
    wine explorer /desktop=Quorvel,800x600 build/windows/app/Quorvel.exe
fi
if [ -f "$work/flash.bin" ] && cmp -s "$work/flash.bin" "$work/sample.bin"; then
    echo "The device's flash now holds the sample image."
fi
