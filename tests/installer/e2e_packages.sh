#!/bin/sh
# The .deb and the .tar.gz built from the build tree hold the program's installed tree: the program, which
# finds its engine library through its run path, the udev rules, the menu entry, the icons and the
# AppStream data; and nothing from elsewhere in the build.
# Usage: e2e_packages.sh BUILD_DIR
set -u
build=$(readlink -f "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G "DEB;TGZ" -B "$work/out" > "$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$work"/out/*.deb) && tgz=$(ls "$work"/out/*.tar.gz) || fail "a package is missing"

expected="bin/Meldra
lib/meldra/libhiddfu.so
lib/udev/rules.d/70-meldra-headsets.rules
share/applications/example.arca.Meldra.desktop
share/icons/hicolor/128x128/apps/example.arca.Meldra.png
share/icons/hicolor/256x256/apps/example.arca.Meldra.png
share/icons/hicolor/48x48/apps/example.arca.Meldra.png
share/icons/hicolor/scalable/apps/example.arca.Meldra.svg
share/metainfo/example.arca.Meldra.metainfo.xml"

tar -tzf "$tgz" | grep -v '/$' | sort > "$work/tgz.list"
[ "$(cat "$work/tgz.list")" = "$expected" ] || fail "the archive holds: $(cat "$work/tgz.list")"
dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -v '/$' | sed 's|^\./usr/||' | sort > "$work/deb.list"
[ "$(cat "$work/deb.list")" = "$expected" ] || fail "the .deb holds under /usr: $(cat "$work/deb.list")"

dpkg-deb -f "$deb" Package | grep -qx meldra || fail "package name"
depends=$(dpkg-deb -f "$deb" Depends)
for dep in libhidapi-hidraw0 libqt5qml5 qml-module-qtquick2 qml-module-qtquick-templates2; do
    echo "$depends" | grep -q "$dep" || fail "no dependency on $dep: $depends"
done
dpkg-deb -e "$deb" "$work/control"
[ -x "$work/control/postinst" ] && grep -q "udevadm trigger" "$work/control/postinst" || fail "postinst"

# Unpacked anywhere, the program resolves its engine library inside the tree.
mkdir "$work/tree" && tar -xzf "$tgz" -C "$work/tree"
ldd "$work/tree/bin/Meldra" | grep libhiddfu.so | grep -q "$work/tree/bin/../lib/meldra/libhiddfu.so" ||
    fail "libhiddfu.so is not found in the tree: $(ldd "$work/tree/bin/Meldra" | grep hiddfu)"
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$work/tree/share/metainfo/example.arca.Meldra.metainfo.xml" > "$work/as.log" 2>&1 ||
        { cat "$work/as.log" >&2; fail "AppStream data does not validate"; }
fi
grep -q '^Exec=Meldra$' "$work/tree/share/applications/example.arca.Meldra.desktop" || fail "desktop entry Exec"
echo "PASS: $(basename "$deb") and $(basename "$tgz") hold the installed tree"
