#!/usr/bin/env bash
# The C API's station test as a Windows program on two Wine COM ports, each
# served by scripts/with-device.sh: run inside the first device's, it starts
# the second around the program.
#   wine_station.sh <with-device.sh> <second COM number> <capi_station_test.exe>
set -u
win() { echo "Z:${1//\//\\}"; }
if [ -z "${QUORVEL_FIRST_COM:-}" ]; then
    export QUORVEL_FIRST_COM=$QUORVEL_DEVICE_COM QUORVEL_FIRST_DIR=$QUORVEL_DEVICE_DIR
    exec bash "$1" "$2" --start boot -- bash "$0" "$@"
fi
exec wine "$3" "COM$QUORVEL_FIRST_COM" "$(win "$QUORVEL_FIRST_DIR/flash.bin")" \
    "COM$QUORVEL_DEVICE_COM" "$(win "$QUORVEL_DEVICE_DIR/flash.bin")" </dev/null
