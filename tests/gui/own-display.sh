#!/usr/bin/env bash
# Runs a command on an X display of its own (a fresh Xvfb), so that GUI
# scenarios running side by side never share focus or screenshots:
#   own-display.sh <command ...>
# Xvfb picks a free display number itself and is stopped afterwards.
set -u

fifo_dir=$(mktemp -d /tmp/quorvel-display-XXXXXX)
mkfifo "$fifo_dir/number"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo_dir/number" >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; rm -rf "$fifo_dir"' EXIT

number=
if read -r -t 20 number <"$fifo_dir/number" && [ -n "$number" ]; then
    export DISPLAY=":$number"
else
    echo "own-display: Xvfb did not start" >&2
    exit 1
fi

"$@"
