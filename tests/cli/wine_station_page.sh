#!/usr/bin/env bash
# The station page of quorvel-cli.exe under Wine: /api/state fetched from
# the Linux side shows the slot, and its event stream the board placed on
# it as PASS until the station ends; a second station asking for the same port ends with status 2 before it
# touches a board.
#   wine_station_page.sh <quorvel-cli.exe>
set -u
cli=$1
work=$(mktemp -d /tmp/quorvel-cli-wine-page-XXXXXX)
station_pid=
cleanup() {
    [ -n "$station_pid" ] && kill "$station_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
head -c 20000 /dev/urandom >"$work/image.bin"
win() { echo "Z:${1//\//\\}"; }
fail() { echo "$1" >&2; cat "$work/err.txt" "$work/err2.txt" 2>/dev/null >&2; exit 1; }
# /api/state's field at a Python path, or nothing.
state() {
    python3 - "$url" "$1" <<'PY' 2>/dev/null
import json, sys, urllib.request
with urllib.request.urlopen(sys.argv[1] + "api/state", timeout=3) as response:
    state = json.load(response)
print(eval("state" + sys.argv[2]))
PY
}

wine "$cli" station --no-progress --limit 1 --http 127.0.0.1:0 --port "COM$QUORVEL_DEVICE_COM" \
    "$(win "$work/image.bin")" >"$work/out.txt" 2>"$work/err.txt" </dev/null &
station_pid=$!
url=
for _ in $(seq 1 300); do
    url=$(grep -o 'station page: http://[^ ]*' "$work/err.txt" 2>/dev/null | cut -d' ' -f3 | tr -d '\r')
    [ -n "$url" ] && break
    kill -0 "$station_pid" 2>/dev/null || fail "quorvel-cli.exe station ended early"
    sleep 0.1
done
[ -n "$url" ] || fail "no station page"
[ "$(state '["slots"][0]["port"]')" = "COM$QUORVEL_DEVICE_COM" ] || fail "/api/state does not show the slot"

port=${url##*:}
port=${port%/}
wine "$cli" station --no-progress --http "127.0.0.1:$port" --port "COM$QUORVEL_DEVICE_COM" \
    "$(win "$work/image.bin")" >"$work/out2.txt" 2>"$work/err2.txt" </dev/null
status=$?
[ $status -eq 2 ] || fail "a second station on a taken port ended with status $status, not 2"
grep -q "taken" "$work/err2.txt" || fail "the taken port is not said"

# The event stream from now until the station ends (--limit 1): its last
# state must show the board's PASS and count it.
python3 - "$url" >"$work/last_state.json" 2>"$work/stream_err.txt" <<'PY' &
import json, sys, urllib.request
last = None
with urllib.request.urlopen(sys.argv[1] + "api/events", timeout=60) as stream:
    for line in stream:
        if line.startswith(b"data: "):
            last = json.loads(line[6:])
print(json.dumps(last))
PY
reader_pid=$!
sleep 0.5
echo "place boot" >"$QUORVEL_DEVICE_DIR/control"
for _ in $(seq 1 600); do
    kill -0 "$station_pid" 2>/dev/null || break
    sleep 0.1
done
wait "$station_pid"
status=$?
station_pid=
[ $status -eq 0 ] || fail "quorvel-cli.exe station ended with status $status"
wait "$reader_pid" || fail "the event stream failed: $(cat "$work/stream_err.txt")"
python3 - "$work/last_state.json" <<'PY' || fail "the stream's last state does not show the board's PASS"
import json, sys
state = json.load(open(sys.argv[1]))
assert state["ended"] and state["passed"] == 1, state
assert state["slots"][0]["last_result"]["text"] == "PASS", state
PY
