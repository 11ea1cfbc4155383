#!/usr/bin/env bash
# One flash through quorvel-cli.exe on the Wine COM port that
# scripts/with-device.sh serves: the device runs its application, so the boot
# switch, the transfer and the steps after it all happen; then the device's
# flash must equal the image.
#   wine_flash.sh <quorvel-cli.exe>
set -u
cli=$1
work=$(mktemp -d /tmp/quorvel-cli-wine-XXXXXX)
trap 'rm -rf "$work"' EXIT
head -c 30000 /dev/urandom >"$work/image.bin"

wine "$cli" flash --no-progress --port "COM$QUORVEL_DEVICE_COM" "Z:${work//\//\\}\\image.bin" \
    >"$work/out.txt" 2>"$work/err.txt" </dev/null
status=$?
cat "$work/out.txt"
if [ $status -ne 0 ]; then
    echo "quorvel-cli.exe ended with status $status" >&2
    cat "$work/err.txt" >&2
    exit 1
fi
grep -q "^COM$QUORVEL_DEVICE_COM: ok, 30000 bytes" "$work/out.txt" || { echo "no ok line" >&2; exit 1; }
grep -q "100%  30000/30000 bytes" "$work/err.txt" || { echo "no progress to 100 %" >&2; exit 1; }
# The device saves its flash just after acknowledging the end packet.
for _ in $(seq 1 50); do
    cmp -s "$QUORVEL_DEVICE_DIR/flash.bin" "$work/image.bin" && exit 0
    sleep 0.1
done
echo "the device's flash differs from the image" >&2
exit 1
