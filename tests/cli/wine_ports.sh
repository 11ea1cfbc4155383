#!/usr/bin/env bash
# quorvel-cli.exe ports --json under Wine: the keys are the ones the Linux
# build prints, and the prefix's COM ports are listed; a usb: name that
# matches no adapter is an absent port (status 4) with a message that says so.
#   wine_ports.sh <quorvel-cli.exe>
set -u
cli=$1
work=$(mktemp -d /tmp/quorvel-cli-wine-XXXXXX)
trap 'rm -rf "$work"' EXIT

wine "$cli" ports --json >"$work/ports.json" 2>"$work/err.txt" </dev/null || {
    echo "ports --json failed" >&2
    cat "$work/err.txt" >&2
    exit 1
}
python3 - "$work/ports.json" <<'PY' || exit 1
import json, sys
ports = json.load(open(sys.argv[1]))["ports"]
keys = ["port", "description", "usb_id", "serial_number", "location", "latency_timer_ms"]
bad = [p for p in ports if list(p) != keys or not (p["latency_timer_ms"] is None or isinstance(p["latency_timer_ms"], int))]
names = [p["port"] for p in ports]
missing = [n for n in ("COM1", "COM2", "COM5", "COM10") if n not in names]
if bad or missing:
    sys.exit(f"keys wrong in {bad}, or {missing} not listed in {names}")
PY

wine "$cli" info --port usb:QUORVEL-NO-SUCH-ADAPTER >"$work/out.txt" 2>"$work/err.txt" </dev/null
status=$?
if [ $status -ne 4 ] || ! grep -q "no USB adapter with the serial number" "$work/err.txt"; then
    echo "info --port usb:... ended with status $status" >&2
    cat "$work/err.txt" >&2
    exit 1
fi
echo "ports listed and usb: names resolved under Wine"
