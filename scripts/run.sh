#!/usr/bin/env bash
# Installs what is missing, builds, and shows Quorvel at work against the
# simulated device:
#   - without a display, quorvel-cli flashes a sample image into the simulated
#     device in this terminal and checks the device's flash against the image;
#   - with a display, the dialog (Quorvel.exe under Wine) runs against the
#     simulated device on COM5.
#   scripts/run.sh [--cli | --gui] [devsim options]      e.g. --start boot, --baud 115200
set -euo pipefail
cd "$(dirname "$0")/.."

mode=
case "${1:-}" in
--cli | --gui)
    mode=${1#--}
    shift
    ;;
esac
if [ -z "$mode" ]; then
    if [ -n "${DISPLAY:-}" ]; then mode=gui; else mode=cli; fi
fi

scripts/install-deps.sh
jobs=$(nproc)
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$jobs" --target devsim quorvel-cli

work=$(mktemp -d /tmp/quorvel-run-XXXXXX)
# A sample image: 64 KiB, well under the CODE area's limit.
head -c 65536 /dev/urandom >"$work/sample.bin"

if [ "$mode" = cli ]; then
    echo "quorvel-cli against a simulated device on COM5 (its port link is in $work)."
    # Paced at the real line rate unless told otherwise, so the progress can be seen.
    pace=(--baud 115200)
    for option in "$@"; do [ "$option" = --baud ] && pace=(); done
    build/linux/tools/devsim/devsim --link "$work/com5" --flash "$work/flash.bin" \
        --transcript "$work/transcript.txt" --boot-delay 500 "${pace[@]}" "$@" >"$work/devsim.out" &
    devsim_pid=$!
    trap 'kill $devsim_pid 2>/dev/null; wait $devsim_pid 2>/dev/null; rm -rf "$work"' EXIT
    for _ in $(seq 1 100); do
        grep -q '^PORT ' "$work/devsim.out" 2>/dev/null && break
        sleep 0.05
    done
    export QUORVEL_PORT_DIR=$work
    echo "\$ quorvel-cli ports"
    build/linux/cli/quorvel-cli ports
    echo "\$ quorvel-cli flash --port COM5 sample.bin"
    status=0
    build/linux/cli/quorvel-cli flash --port COM5 "$work/sample.bin" || status=$?
    echo "quorvel-cli ended with exit status $status."
    # The simulator writes its flash file at once after acknowledging the image.
    if [ -f "$work/flash.bin" ] && cmp -s "$work/flash.bin" "$work/sample.bin"; then
        echo "The simulated device's flash now holds the sample image, byte for byte."
    else
        echo "The simulated device's flash does NOT equal the sample image." >&2
        status=1
    fi
    exit $status
fi

cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs" --target Quorvel

source scripts/wine-env.sh
if [ -n "${DISPLAY:-}" ]; then
    export QUORVEL_USE_DISPLAY=1
    echo "Showing Quorvel on your display $DISPLAY."
else
    echo "No display found: Quorvel runs on a virtual X server (Xvfb)."
fi
quorvel_wine_start
trap 'quorvel_wine_stop; rm -rf "$work"' EXIT
[ -z "${QUORVEL_USE_DISPLAY:-}" ] && echo "Watch it with: DISPLAY=$DISPLAY xwd -root | convert xwd:- screen.png"
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
