#!/usr/bin/env bash
# Developer build: scripts/dev-build.sh NAME [TARGET...]
# Configures build-NAME (Ninja, Debug, ccache shared between build folders) and builds the targets given,
# or everything. Extra CMake options go in MELDRA_CMAKE_ARGS.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
name=${1:?usage: dev-build.sh NAME [TARGET...]}
shift
export CCACHE_BASEDIR="$top" CCACHE_NOHASHDIR=1
dir="$top/build-$name"
if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
        -DCMAKE_C_COMPILER_LAUNCHER=ccache ${MELDRA_CMAKE_ARGS:-} >/dev/null
fi
if [ $# -gt 0 ]; then
    cmake --build "$dir" --target "$@"
else
    cmake --build "$dir"
fi
