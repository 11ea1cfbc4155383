#!/usr/bin/env bash
# The station through quorvel-cli.exe on the Wine COM port that
# scripts/with-device.sh serves: one slot, one board placed on it (the device
# starts without one), flashed with a serial number, its start and result
# records in a log in a folder with a non-ASCII name.
#   wine_station.sh <quorvel-cli.exe>
set -u
cli=$1
work=$(mktemp -d /tmp/quorvel-cli-wine-XXXXXX)
trap 'rm -rf "$work"' EXIT
head -c 20000 /dev/urandom >"$work/image.bin"
echo 500 >"$work/serial.txt"
win() { echo "Z:${1//\//\\}"; }
# Wine turns arguments and file names into UTF-16 through the locale.
export LC_ALL=C.UTF-8

mkdir "$work/Prüfstand"
log="$work/Prüfstand/station.log"
wine "$cli" station --no-progress --limit 1 --station "line 3" --log "$(win "$log")" \
    --serial-at 0x108000 --serial-file "$(win "$work/serial.txt")" \
    --port "COM$QUORVEL_DEVICE_COM" "$(win "$work/image.bin")" \
    >"$work/out.txt" 2>"$work/err.txt" </dev/null &
pid=$!
fail() { echo "$1" >&2; cat "$work/out.txt" "$work/err.txt" >&2; exit 1; }
echo "place boot" >"$QUORVEL_DEVICE_DIR/control"
# Bounded, and within ctest's time-out, so that a station that never ends is
# said with what it printed.
for _ in $(seq 1 1000); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
    kill "$pid"
    fail "quorvel-cli.exe station did not end within 100 s"
fi
wait "$pid"
status=$?
[ $status -eq 0 ] || fail "quorvel-cli.exe station ended with status $status"
[ "$(wc -l <"$log")" -eq 2 ] || fail "the log does not hold a start and a result"
head -n 1 "$log" | grep -q '"event":"start".*"serial":500' || fail "no start record with serial 500"
tail -n 1 "$log" | grep -q '"event":"result"' || fail "no result record"
grep -q '"ok":true' "$log" || fail "the record is not a pass"
grep -q '"station":"line 3"' "$log" || fail "the records do not name the station"
file_sha=$(sha256sum "$work/image.bin" | cut -d' ' -f1)
grep -q "\"image_file_sha256\":\"$file_sha\"" "$log" || fail "no image file SHA-256"
[ "$(tr -d '\r\n' <"$work/serial.txt")" = 501 ] || fail "the serial file was not advanced"
# The board's flash: the image with the serial number (little-endian 500) at its start.
printf '\xf4\x01\x00\x00' >"$work/expected.bin"
tail -c +5 "$work/image.bin" >>"$work/expected.bin"
for _ in $(seq 1 50); do
    cmp -s "$QUORVEL_DEVICE_DIR/flash.bin.2" "$work/expected.bin" && exit 0
    sleep 0.1
done
fail "the board's flash is not the image with its serial number"
