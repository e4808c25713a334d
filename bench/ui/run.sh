#!/bin/sh
# Usage: bench/ui/run.sh [BUILD_DIR] [uibench.py options]   (default build folder: build-bench)
# Builds what the benchmark runs, then measures under Xvfb with Mesa's OpenGL unless DISPLAY is set. The
# server must not reset whenever its last client leaves, or the next program started may find no display.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build-bench}
[ $# -gt 0 ] && shift
cmake --build "$build" --target Meldra hidsim uibench_probe bench_bare_window
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" python3 "$here/uibench.py" "$build" "$@"
fi
exec python3 "$here/uibench.py" "$build" "$@"
