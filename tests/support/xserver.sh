#!/bin/sh
# Runs a command on an X server of its own (Xvfb, 24-bit colour, no TCP, no window manager) and a
# session bus of its own.
# Window tests run side by side. On one shared server without a window manager every window that is
# shown or activated takes the keyboard focus from the others, so a test waiting for its window to become
# active, or typing into it, fails whenever a neighbour opens a window at the wrong moment. The server
# picks a free display number itself (-displayfd), so starts at the same moment never collide the way
# xvfb-run -a's guess from lock files does.
# Usage: xserver.sh [--size WxH] COMMAND [ARGS...]
set -u
size=1280x1024
if [ "${1:-}" = "--size" ]; then
    size=$2
    shift 2
fi
[ $# -gt 0 ] || { echo "usage: xserver.sh [--size WxH] COMMAND [ARGS...]" >&2; exit 2; }
command -v Xvfb >/dev/null || { echo "xserver.sh: Xvfb is not installed (xvfb)" >&2; exit 2; }

dir=$(mktemp -d)
server=
stop() {
    [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    rm -rf "$dir"
}
trap stop EXIT
trap 'exit 1' HUP INT TERM

Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset 3>"$dir/display" 2>"$dir/log" &
server=$!
# The server writes its display number once it accepts connections.
tries=0
until grep -q '^[0-9]' "$dir/display" 2>/dev/null; do
    if ! kill -0 "$server" 2>/dev/null || [ $tries -ge 300 ]; then
        echo "xserver.sh: Xvfb did not start:" >&2
        cat "$dir/log" >&2
        exit 2
    fi
    tries=$((tries + 1))
    sleep 0.05
done
DISPLAY=:$(head -n 1 "$dir/display")
export DISPLAY
unset XAUTHORITY
# And a session bus of its own, as every desktop has. Without one, the first D-Bus client (the
# accessibility bridge, the sleep inhibitor) would have libdbus start a bus for the display
# (dbus-launch --autolaunch), which outlives the test and leaves its address in ~/.dbus.
if command -v dbus-run-session >/dev/null; then
    set -- dbus-run-session -- "$@"
fi

"$@"
status=$?
exit $status
