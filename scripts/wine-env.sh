# Sourced by the test and run commands: a private Wine prefix with COM ports
# that the simulated device can serve, a persistent Wine server, and an X
# display (Xvfb unless QUORVEL_USE_DISPLAY is set and a display exists).
#
#   quorvel_wine_start   sets WINEPREFIX, DISPLAY, QUORVEL_WINE_PORT_DIR
#   quorvel_wine_stop    stops the server and Xvfb, removes the prefix; safe
#                        after a start that failed part-way, and more than once

# COM2, COM5 and COM10 serve the port and protocol tests; the GUI scenarios
# each have one of COM11 to COM19, so that they can run side by side.
QUORVEL_WINE_PORTS="2 5 10 11 12 13 14 15 16 17 18 19"

quorvel_wine_start() {
    QUORVEL_WINE_ROOT=$(mktemp -d /tmp/quorvel-wine-XXXXXX) || return 1
    export WINEPREFIX="$QUORVEL_WINE_ROOT/prefix"
    export WINEDEBUG=-all
    # No Mono or Gecko: nothing here needs them, and their install would prompt.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export QUORVEL_WINE_PORT_DIR="$QUORVEL_WINE_ROOT/ports"
    mkdir -p "$QUORVEL_WINE_PORT_DIR"

    QUORVEL_XVFB_PID=
    if [ -z "${QUORVEL_USE_DISPLAY:-}" ] || [ -z "${DISPLAY:-}" ]; then
        # Xvfb picks a free display itself and names it once it listens.
        mkfifo "$QUORVEL_WINE_ROOT/display"
        Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp \
            3>"$QUORVEL_WINE_ROOT/display" >/dev/null 2>&1 &
        QUORVEL_XVFB_PID=$!
        local number=
        if ! read -r -t 20 number <"$QUORVEL_WINE_ROOT/display" || [ -z "$number" ]; then
            echo "quorvel_wine_start: Xvfb did not start" >&2
            return 1
        fi
        export DISPLAY=":$number"
    fi

    wineboot -i >/dev/null 2>&1
    # Each port names a stable link that the simulator points at its current
    # pseudo-terminal, so the registry never has to change during a run. The
    # about box's Korean texts use the dialog font Gulim, which a fresh prefix
    # lacks: Wine draws them with Nanum Gothic. One import sets both.
    local settings="$QUORVEL_WINE_ROOT/settings.reg" n
    {
        printf 'Windows Registry Editor Version 5.00\r\n\r\n'
        printf '[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
        for n in $QUORVEL_WINE_PORTS; do
            printf '"COM%s"="%s"\r\n' "$n" "$QUORVEL_WINE_PORT_DIR/com$n"
        done
        printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n'
        printf '"Gulim"="NanumGothic"\r\n'
    } >"$settings"
    wine reg import "Z:${settings//\//\\}" >/dev/null 2>&1
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
    # A persistent server makes each Windows program start in milliseconds.
    wineserver -p >/dev/null 2>&1
    # The first program starts Wine's background services, which live as long
    # as the server: start them here with no output, or they would hold the
    # output pipe of whichever test came first and stall its runner.
    wine cmd /c exit >/dev/null 2>&1 </dev/null
}

quorvel_wine_stop() {
    # Only the private prefix's server: without one, wineserver would reach
    # the user's own prefix.
    if [ -n "${QUORVEL_WINE_ROOT:-}" ] && [ -d "${WINEPREFIX:-}" ]; then
        wineserver -k >/dev/null 2>&1 || true
    fi
    if [ -n "${QUORVEL_XVFB_PID:-}" ]; then
        kill "$QUORVEL_XVFB_PID" 2>/dev/null || true
        wait "$QUORVEL_XVFB_PID" 2>/dev/null || true
    fi
    [ -n "${QUORVEL_WINE_ROOT:-}" ] && rm -rf "$QUORVEL_WINE_ROOT"
    QUORVEL_WINE_ROOT=
    QUORVEL_XVFB_PID=
    return 0
}
