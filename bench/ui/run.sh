#!/bin/sh
# Usage: bench/ui/run.sh [BUILD_DIR] [uibench.py options]   (default build folder: build-bench)
# Builds what the benchmark runs, then measures under Xvfb with Mesa's OpenGL unless DISPLAY is set. The
# server must not reset whenever its last client leaves, or the next program started may find no display.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build-bench}
[ $# -gt 0 ] && shift
cmake --build "$build" --target Meldra hidsim uibench_probe bench_bare_window updateservice
# Both programs run under a session bus of their own, as on a desktop, where one is always running: without
# one, every Qt program (the bare window too) pays for libdbus trying to launch one, which hides the ratio.
session=""
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
    command -v dbus-run-session >/dev/null || { echo "bench/ui needs dbus-run-session (package dbus)"; exit 2; }
    session="dbus-run-session --"
fi
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" $session python3 "$here/uibench.py" "$build" "$@"
fi
exec $session python3 "$here/uibench.py" "$build" "$@"
