#!/usr/bin/env bash
# Renders every page of the main program to build-<name>/uishots/*.png under Xvfb with Mesa's software GL.
# Usage: tools/uishots/shots.sh [BUILD_NAME]   (default: ui)
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
name=${1:-ui}
"$top/scripts/dev-build.sh" "$name" uishots
unset QT_QUICK_BACKEND QT_QPA_PLATFORM
xvfb-run -a -s "-screen 0 1024x768x24" "$top/build-$name/tools/uishots/uishots" "$top/build-$name/uishots"
