#!/usr/bin/env bash
# Compiles every product source for Windows with MinGW-w64, for syntax and types only, against the Qt
# headers of this machine, so that the Windows paths (Q_OS_WIN, win/ folders) at least parse and
# type-check here. Both deliverables' app/ sources are checked, and the resource scripts go through windres.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
ensure_packages g++-mingw-w64-x86-64-posix qtbase5-dev qtdeclarative5-dev qtbase5-private-dev \
    qtdeclarative5-private-dev libhidapi-dev libsodium-dev

cxx=x86_64-w64-mingw32-g++-posix
qt=/usr/include/x86_64-linux-gnu/qt5
flags=(-std=c++17 -fsyntax-only -Wno-attributes -Wall -Wextra -Wno-unused-parameter -Werror
       -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX
       "-DMELDRA_UPDATE_BASE_URL=\"http://updates.arca.example\""
       -I"$top" -isystem /usr/include/hidapi -isystem "$qt")
for m in QtCore QtGui QtNetwork QtQml QtQuick QtConcurrent QtDBus; do flags+=(-isystem "$qt/$m"); done
# The accessibility of Qt Quick items is extended through Qt's private headers (app/accessibility.cpp).
qt_version=$(pkg-config --modversion Qt5Core)
for m in QtCore QtGui QtQml QtQmlModels QtQuick; do
    flags+=(-isystem "$qt/$m/$qt_version" -isystem "$qt/$m/$qt_version/$m")
done

cd "$top"
# Headers that mingw lacks but the sources use: zlib's and libsodium's (header-only use of their
# declarations), and the meta-object code that some sources include at their end, made by this machine's moc.
extra=$(mktemp -d)
trap 'rm -rf "$extra"' EXIT
cp /usr/include/zlib.h /usr/include/zconf.h "$extra/"
cp -r /usr/include/sodium.h /usr/include/sodium "$extra/"
flags+=(-isystem "$extra")
# What CMake makes from the project's version: the version header and the resource scripts with manifests.
version=$(sed -n 's/^project(Meldra VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
IFS=. read -r v_major v_minor v_patch v_build <<<"$version"
from_template() { # TEMPLATE OUTPUT
    sed -e "s|@PROJECT_VERSION_MAJOR@|$v_major|; s|@PROJECT_VERSION_MINOR@|$v_minor|" \
        -e "s|@PROJECT_VERSION_PATCH@|$v_patch|; s|@PROJECT_VERSION_TWEAK@|${v_build:-0}|" \
        -e "s|@MELDRA_VERSION@|$version|g; s|@MELDRA_VERSION_COMMA@|${version//./,}|g" \
        -e "s|@CMAKE_CURRENT_SOURCE_DIR@|$top/app|g; s|@CMAKE_CURRENT_BINARY_DIR@|$extra|g" "$1" >"$2"
}
from_template app/meldraversion.h.in "$extra/meldraversion.h"
for template in app/*.manifest.in app/*.rc.in; do
    name=$(basename "$template" .in)
    from_template "$template" "$extra/$name"
done
moc=$(pkg-config --variable=host_bins Qt5Core 2>/dev/null)/moc
[ -x "$moc" ] || moc=/usr/lib/qt5/bin/moc
while read -r src name; do
    header="$(dirname "$src")/${name#moc_}"
    header="${header%.cpp}.h"
    "$moc" -DQ_OS_WIN "$header" -o "$extra/$name"
done < <(grep -rHo --include='*.cpp' '#include "moc_[a-z0-9_]*\.cpp"' app base cli common io dfu mediator updater platform \
    | sed 's/:#include "\(.*\)"/ \1/')

mapfile -t sources < <(find app base cli common io dfu mediator updater platform hiddfu -name '*.cpp' \
    -not -path '*/linux/*' | sort)
failed=0
for f in "${sources[@]}"; do
    variants=("")
    [[ $f == app/* ]] && variants=("" "-DARCA_INSTALLER")
    for v in "${variants[@]}"; do
        if ! $cxx "${flags[@]}" $v -DHIDDFU_BUILD "$f" 2>/tmp/windows-check.err; then
            echo "FAILED: $f $v"
            head -40 /tmp/windows-check.err
            failed=$((failed + 1))
        fi
    done
done
for rc in "$extra"/*.rc; do
    if ! x86_64-w64-mingw32-windres -i "$rc" -O coff -o /tmp/windows-check.res 2>/tmp/windows-check.err; then
        echo "FAILED: $rc"
        head -20 /tmp/windows-check.err
        failed=$((failed + 1))
    fi
done
echo "Windows syntax check: $(( ${#sources[@]} )) sources, $failed failed"
[ "$failed" -eq 0 ]
