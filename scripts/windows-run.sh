#!/usr/bin/env bash
# Cross-builds the Windows test programs that need no Qt with MinGW-w64 and runs them under Wine, in a
# Wine prefix of their own that is thrown away afterwards.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
ensure_packages g++-mingw-w64-x86-64-posix wine64

cxx=x86_64-w64-mingw32-g++-posix
wine=/usr/lib/wine/wine64
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

cd "$top"
# Linked statically, so the programs need no MinGW runtime DLLs beside them.
$cxx -std=c++17 -O1 -Wall -Wextra -Werror -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX \
    -I"$top" -static tests/windows/tst_widepath.cpp hiddfu/widepath_win.cpp -o "$work/tst_widepath.exe"

failed=0
for program in "$work"/*.exe; do
    echo "== $(basename "$program")"
    if ! timeout 300 "$wine" "$program" </dev/null; then
        echo "FAILED: $(basename "$program")"
        failed=$((failed + 1))
    fi
done
timeout 60 /usr/lib/wine/wineserver -k 2>/dev/null || true
echo "Windows programs under Wine: $failed failed"
[ "$failed" -eq 0 ]
