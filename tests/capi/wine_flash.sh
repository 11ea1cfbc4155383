#!/usr/bin/env bash
# The C API's test program as a Windows program on the Wine COM port that
# scripts/with-device.sh serves.
#   wine_flash.sh <capi_flash_test.exe>
flash_file="Z:${QUORVEL_DEVICE_DIR//\//\\}\\flash.bin"
exec wine "$1" "COM$QUORVEL_DEVICE_COM" "$flash_file" </dev/null
