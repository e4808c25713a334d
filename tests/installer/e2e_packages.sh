#!/bin/sh
# The .deb, the .tar.gz and the installer bundle built from the build tree: they hold the program's
# installed tree and nothing else from the build; the .deb passes lintian and depends on a package for
# every QML module that either program imports, directly or through the modules it uses; no shipped ELF
# file has a run path other than one relative to itself, or names the build folder anywhere; the
# bundle refuses a system that lacks what it needs, naming the package.
# Usage: e2e_packages.sh BUILD_DIR SOURCE_DIR BUNDLE.run QMLIMPORTSCANNER QML_IMPORT_PATH
set -u
build=$(readlink -f "$1") source=$(readlink -f "$2") bundle=$(readlink -f "$3") scanner=$4 qmlpath=$5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G "DEB;TGZ" -B "$work/out" > "$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$work"/out/*.deb) && tgz=$(ls "$work"/out/*.tar.gz) || fail "a package is missing"

expected="bin/Meldra
bin/meldra-cli
lib/meldra/libhiddfu.so
lib/udev/rules.d/70-meldra-headsets.rules
share/applications/example.arca.Meldra.desktop
share/doc/meldra/changelog.gz
share/doc/meldra/copyright
share/icons/hicolor/128x128/apps/example.arca.Meldra.png
share/icons/hicolor/256x256/apps/example.arca.Meldra.png
share/icons/hicolor/48x48/apps/example.arca.Meldra.png
share/icons/hicolor/scalable/apps/example.arca.Meldra.svg
share/man/man1/Meldra.1.gz
share/man/man1/meldra-cli.1.gz
share/metainfo/example.arca.Meldra.metainfo.xml"

# The archive unpacks into one folder, and has the per-user uninstall command on top of the .deb's files.
top=$(tar -tzf "$tgz" | cut -d/ -f1 | sort -u)
[ "$top" = "$(basename "$tgz" .tar.gz)" ] || fail "the archive does not unpack into one folder: $top"
tar -tzf "$tgz" | grep -v '/$' | cut -d/ -f2- | sort > "$work/tgz.list"
printf '%s\nbin/sonella-uninstall\n' "$expected" | sort | diff - "$work/tgz.list" >&2 ||
    fail "the archive holds other files"
dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -v '/$' | sed 's|^\./usr/||' | sort > "$work/deb.list"
echo "$expected" | diff - "$work/deb.list" >&2 || fail "the .deb holds other files under /usr"

dpkg-deb -f "$deb" Package | grep -qx meldra || fail "package name"
depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//')
echo "$depends" | grep -qx libhidapi-hidraw0 || fail "no dependency from the library scan: $depends"
echo "$depends" | grep -q "^qtdeclarative-abi-" || fail "Depends names no Qt Quick release for its private API"
synopsis=$(dpkg-deb -f "$deb" Description | head -n 1 | tr '[:upper:]' '[:lower:]')
dpkg-deb -f "$deb" Description | sed -n '2s/^ *//p' | tr '[:upper:]' '[:lower:]' | grep -qxF "$synopsis" &&
    fail "the description repeats its synopsis"
dpkg-deb -e "$deb" "$work/control"
grep -q "udevadm trigger" "$work/control/postinst" && grep -q "udevadm trigger" "$work/control/postrm" ||
    fail "the maintainer scripts do not apply the udev rules"

# Each module that the QML of either program imports, followed through the modules' own QML files, maps
# to the package that installed it here; each of those packages must be a dependency.
for tree in "$source/qml/main" "$source/qml/installer"; do
    "$scanner" -rootPath "$tree" -importPath "$qmlpath" || fail "qmlimportscanner failed on $tree"
done > "$work/imports.json"
python3 - "$work/imports.json" > "$work/modules" <<'EOF' || fail "cannot read the import scan"
import json, sys
text, decoder, at, modules = open(sys.argv[1]).read(), json.JSONDecoder(), 0, {}
while True:
    while at < len(text) and text[at].isspace():
        at += 1
    if at == len(text):
        break
    found, at = decoder.raw_decode(text, at)
    for entry in found:
        if entry.get("type") == "module":
            modules[entry["name"]] = modules.get(entry["name"]) or entry.get("path", "")
for name, path in sorted(modules.items()):
    print(name, path or "-")
EOF
while read -r module path; do
    case $module in Arca.*) continue ;; esac   # registered by the programs themselves
    # A module that a plugin registers has no folder of its own: it comes with its parent's.
    while [ "$path" = - ] && [ "${module%.*}" != "$module" ]; do
        module=${module%.*}
        path=$(awk -v m="$module" '$1 == m { print $2 }' "$work/modules")
        path=${path:--}
    done
    [ "$path" != - ] || fail "the import $module is not installed here, so no package can be named for it"
    package=$(dpkg -S "$path/qmldir" 2>/dev/null | cut -d: -f1)
    [ -n "$package" ] || fail "no package owns $path"
    echo "$depends" | grep -qx "$package" || fail "the import $module comes from $package, which is not in Depends"
    echo "$package" >> "$work/qml-packages"
done < "$work/modules"
echo "QML imports come from: $(sort -u "$work/qml-packages" | tr '\n' ' ')"
for package in $(echo "$depends" | grep '^qml-module-'); do
    grep -qx "$package" "$work/qml-packages" || fail "$package is in Depends, but no import needs it"
done

if command -v lintian >/dev/null; then
    lintian --fail-on error,warning "$deb" > "$work/lintian.log" 2>&1 || { cat "$work/lintian.log" >&2; fail "lintian"; }
fi

mkdir "$work/tree" && tar -xzf "$tgz" -C "$work/tree" && tree="$work/tree/$top"
desktop-file-validate "$tree/share/applications/example.arca.Meldra.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$tree/share/metainfo/example.arca.Meldra.metainfo.xml" > "$work/as.log" 2>&1 ||
    { cat "$work/as.log" >&2; fail "AppStream data does not validate"; }
grep -q '^Exec=Meldra$' "$tree/share/applications/example.arca.Meldra.desktop" || fail "desktop entry Exec"
# Unpacked anywhere, the program resolves its engine library inside the tree.
ldd "$tree/bin/Meldra" | grep libhiddfu.so | grep -q "$tree/bin/../lib/meldra/libhiddfu.so" ||
    fail "libhiddfu.so is not found in the tree: $(ldd "$tree/bin/Meldra" | grep hiddfu)"

# Every ELF file that any of the three ships: run paths only relative to the file, no debug information,
# no trace of the build folder (a run path into it under /tmp lets any local user plant a library), and
# Debian's hardening: relocations read-only from the start, a stack protector, fortified calls.
mkdir "$work/deb" "$work/bundle" "$work/bundle/data"
dpkg-deb -x "$deb" "$work/deb"
skip=$(grep -an '^__INSTALLER_PAYLOAD__$' "$bundle" | head -n 1 | cut -d: -f1)
tail -n +"$((skip + 1))" "$bundle" | tar -xzf - -C "$work/bundle" ||
    fail "cannot unpack the bundle"
tar -xzf "$work/bundle/data/Meldra.tar.gz" -C "$work/bundle/data"
elves=0
for file in $(find "$work/deb" "$work/tree" "$work/bundle" -type f); do
    [ "$(head -c 4 "$file")" = "$(printf '\177ELF')" ] || continue
    elves=$((elves + 1))
    name=${file#"$work"/}
    readelf -d "$file" | grep -E 'R(UN)?PATH' | grep -v 'Library r[a-z]*path: \[\$ORIGIN[]/]' &&
        fail "$name has a run path that is not relative to it"
    readelf -S "$file" | grep -q '\.debug_' && fail "$name is not stripped"
    readelf -lW "$file" | grep -q GNU_RELRO && readelf -dW "$file" | grep -q 'BIND_NOW\|FLAGS.*NOW' ||
        fail "$name is not linked with relro and now"
    if [ "${MELDRA_HARDENED_BUILD:-yes}" = yes ]; then
        readelf --dyn-syms -W "$file" | grep -q ' __stack_chk_fail' || fail "$name has no stack protector"
        # The engine's copies all have sizes the compiler can prove, so only the program shows fortified calls.
        case $name in */Meldra)
            readelf --dyn-syms -W "$file" | grep -q ' __[a-z0-9_]*_chk@' || fail "$name has no fortified call" ;;
        esac
    fi
    [ "${MELDRA_SHIPPING_BUILD:-yes}" = yes ] || continue
    strings -a "$file" | grep -F "$build" && fail "$name names the build folder"
    strings -a "$file" | grep -F "$source/" && fail "$name names the source folder"
done
[ "${MELDRA_SHIPPING_BUILD:-yes}" = yes ] || echo "not looked for paths: a debug or sanitizer build names its sources"
[ "$elves" -ge 5 ] || fail "only $elves ELF files were found"

# The bundle checks the system before it unpacks anything: here everything is there. It clears what a
# killed run of it left, not a running one's folder, and warns of a system-wide copy.
sh -c 'exit 0' & dead=$!
wait "$dead"
mkdir "$work/sonella-installer.dead" "$work/sonella-installer.live"
echo "$dead" > "$work/sonella-installer.dead/.pid" && echo $$ > "$work/sonella-installer.live/.pid"
mkdir -p "$work/system/usr/bin" && cp "$tree/bin/Meldra" "$work/system/usr/bin/"
SONELLA_INSTALLER_CHECK_ONLY=1 TMPDIR="$work" MELDRA_SYSTEM_ROOT="$work/system" "$bundle" > "$work/check.log" 2>&1 ||
    { cat "$work/check.log" >&2; fail "the bundle's own checks fail on this system"; }
[ ! -e "$work/sonella-installer.dead" ] && [ -d "$work/sonella-installer.live" ] ||
    fail "the bundle did not clear exactly the folder of a run that is gone"
grep -q "installed for the whole system" "$work/check.log" || fail "no warning of the system-wide copy"

# The per-user uninstall leaves alone what the system-wide copy uses too.
home="$work/user" && shared="$home/.local/share/arca/Sonella - Headset Pairing & Update Utility"
mkdir -p "$home/.local/share" "$shared/update" && cp -a "$tree" "$home/.local/share/meldra"
HOME=$home XDG_DATA_HOME= XDG_CONFIG_HOME= XDG_CACHE_HOME= MELDRA_SYSTEM_ROOT="$work/system" \
    "$home/.local/share/meldra/bin/sonella-uninstall" --yes > /dev/null || fail "the uninstall command failed"
[ ! -e "$home/.local/share/meldra" ] && [ -d "$shared/update" ] ||
    fail "the uninstall beside a system-wide copy removed the wrong things"
echo "PASS: $(basename "$deb"), $(basename "$tgz") and $(basename "$bundle"): $elves ELF files checked"
