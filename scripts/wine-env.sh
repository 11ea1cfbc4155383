# Sourced by the test and run commands: a private Wine prefix with COM ports
# that the simulated device can serve, a persistent Wine server, and an X
# display (Xvfb unless QUORVEL_USE_DISPLAY is set and a display exists).
#
#   quorvel_wine_start   sets WINEPREFIX, DISPLAY, QUORVEL_WINE_PORT_DIR
#   quorvel_wine_stop    stops the server and Xvfb, removes the prefix

QUORVEL_WINE_PORTS="2 5 10"

quorvel_wine_start() {
    QUORVEL_WINE_ROOT=$(mktemp -d /tmp/quorvel-wine-XXXXXX)
    export WINEPREFIX="$QUORVEL_WINE_ROOT/prefix"
    export WINEDEBUG=-all
    # No Mono or Gecko: nothing here needs them, and their install would prompt.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export QUORVEL_WINE_PORT_DIR="$QUORVEL_WINE_ROOT/ports"
    mkdir -p "$QUORVEL_WINE_PORT_DIR"

    if [ -n "${QUORVEL_USE_DISPLAY:-}" ] && [ -n "${DISPLAY:-}" ]; then
        QUORVEL_XVFB_PID=
    else
        local display=90
        while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
            display=$((display + 1))
        done
        Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        QUORVEL_XVFB_PID=$!
        export DISPLAY=":$display"
        local waited=0
        while [ ! -e "/tmp/.X11-unix/X$display" ] && [ $waited -lt 100 ]; do
            sleep 0.1
            waited=$((waited + 1))
        done
    fi

    wineboot -i >/dev/null 2>&1
    # Each port names a stable link that the simulator points at its current
    # pseudo-terminal, so the registry never has to change during a run.
    local n
    for n in $QUORVEL_WINE_PORTS; do
        wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ \
            /d "$QUORVEL_WINE_PORT_DIR/com$n" /f >/dev/null 2>&1
    done
    # The about box's Korean texts use the dialog font Gulim, which a fresh
    # prefix lacks: let Wine draw them with Nanum Gothic.
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Gulim /t REG_SZ \
        /d NanumGothic /f >/dev/null 2>&1
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
    wineserver -k >/dev/null 2>&1 || true
    if [ -n "${QUORVEL_XVFB_PID:-}" ]; then
        kill "$QUORVEL_XVFB_PID" 2>/dev/null || true
        wait "$QUORVEL_XVFB_PID" 2>/dev/null || true
    fi
    [ -n "${QUORVEL_WINE_ROOT:-}" ] && rm -rf "$QUORVEL_WINE_ROOT"
}
