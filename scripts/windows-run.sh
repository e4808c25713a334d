#!/usr/bin/env bash
# Cross-builds with MinGW-w64 what needs no Qt (hidapi's Windows backend from its own source, the engine
# DLL, the Win32 half of the installer check, the one-file update's stub) with the Windows test programs
# and the Qt-free form of the .msi, and runs them under Wine in a Wine prefix of the build folder's own. No display is needed.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
ensure_packages g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 msitools wixl python3 cmake ninja-build osslsigncode openssl
# hidapi's source comes with an npm package; a Node.js install of its own may bring npm along.
command -v npm >/dev/null || ensure_packages npm

dir="$top/build-windows"
toolchain="$top/cmake/toolchains/mingw-w64.cmake"

# Without a Qt for Windows the full configure stops at once with the one message that names it.
qtless=$(mktemp -d)
trap 'rm -rf "$qtless"' EXIT
log="$qtless/configure.log"
if cmake -S "$top" -B "$qtless/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" >"$log" 2>&1 ||
        ! grep -q "Qt 5.15 for Windows was not found" "$log" || [ "$(grep -c "CMake Error" "$log")" -ne 1 ]; then
    echo "FAILED: a configure without Qt for Windows does not stop with its message"
    cat "$log"
    exit 1
fi

export CCACHE_BASEDIR="$top" CCACHE_NOHASHDIR=1
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DMELDRA_WINDOWS_NATIVE_ONLY=ON \
    "${launcher[@]}" >/dev/null
cmake --build "$dir"
ctest --test-dir "$dir" --output-on-failure --no-tests=error -L windows
