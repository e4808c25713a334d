#!/usr/bin/env bash
# The accessibility walk from outside the process: each program on a private session and AT-SPI bus under
# Xvfb, read with pyatspi as a screen reader would. Usage: tests/ui/atspi_walk.sh BUILD_DIR
# Exits 77 (skipped) where the AT-SPI bus or its Python client is not installed.
#
# Each program is walked twice: with the bus up before it starts (a screen reader already running, as
# its users have it) and with the bus coming up after its window (a reader started later).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: atspi_walk.sh BUILD_DIR}" && pwd)
launcher=/usr/libexec/at-spi-bus-launcher

if [ "${2:-}" != "--inside" ]; then
    if [ ! -x "$launcher" ] || ! /usr/bin/python3 -c 'import pyatspi' 2>/dev/null; then
        echo "no AT-SPI bus or pyatspi here (at-spi2-core, python3-pyatspi)"
        exit 77
    fi
    for which in main installer; do
        for order in bus-first window-first; do
            echo "=== $which, $order"
            sh "$top/tests/support/xserver.sh" dbus-run-session -- "$0" "$build" --inside "$which" "$order"
        done
    done
    exit 0
fi

which=$3 order=$4
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/config" QT_QUICK_BACKEND=
mkdir -p "$HOME" "$XDG_CONFIG_HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
# What a desktop with a screen reader turned on says; a settings file, so the bus launcher reads it too.
export GSETTINGS_BACKEND=keyfile
gsettings set org.gnome.desktop.interface toolkit-accessibility true

if [ "$order" = bus-first ]; then
    "$launcher" --launch-immediately >"$work/bus.log" 2>&1 &
    for _ in $(seq 100); do
        dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
            >/dev/null 2>&1 && break
        sleep 0.1
    done
fi

# No receiver: its tile is there, disabled.
if [ "$which" = main ]; then
    cat >"$work/devices.json" <<'JSON'
{ "devices": [
    { "type": "SorrelHeadset", "serial": "H-0001", "firmware": "1.44.0", "revision": 3 } ] }
JSON
    # A closed port: the program is offered nothing and asks nobody.
    MELDRA_UPDATE_URL=http://127.0.0.1:9 HIDSIM_SCENARIO="$work/devices.json" LD_PRELOAD="$build/libhidsim.so" \
        QT_LOGGING_RULES="qt.accessibility.atspi=true" "$build/Meldra" >"$work/program.log" 2>&1 &
else
    QT_LOGGING_RULES="qt.accessibility.atspi=true" "$build/Installer" >"$work/program.log" 2>&1 &
fi
program=$!
if ! xdotool search --sync --onlyvisible --name "Sonella Desktop" >/dev/null; then
    cat "$work/program.log"
    exit 1
fi
if [ "$order" = window-first ]; then
    "$launcher" --launch-immediately >"$work/bus.log" 2>&1 &
fi
code=0
/usr/bin/python3 "$top/tests/ui/atspi_walk.py" "$which" || code=$?
kill "$program" 2>/dev/null || true
wait "$program" 2>/dev/null || true
if [ "$code" -ne 0 ]; then
    echo "--- $which log"
    cat "$work/program.log"
fi
exit "$code"
