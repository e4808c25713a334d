#!/bin/sh
# The .deb on a clean machine: a minimal Debian 12 root made with mmdebstrap from Debian's mirrors gets the
# package through apt, so its Depends are all the program has. There Meldra must answer --version, start
# under Xvfb on the simulator (copied in for this test only) and show its welcome page without a QML
# warning; apt-get purge must then leave no file of the package behind. The installer bundle, given, must
# refuse the bare root naming the missing packages, and accept it once the .deb is in.
# Usage: test-clean-install.sh BUILD_DIR LIBHIDSIM [BUNDLE.run]   (as root; exit 77 when it cannot run here)
# Downloaded packages are kept in ${MELDRA_APT_CACHE:-~/.cache/meldra-clean-install} for the next run.
# MELDRA_DEBIAN_MIRROR names another mirror than mmdebstrap's default.
set -u
build=$(readlink -f "$1") hidsim=$(readlink -f "$2") bundle=$(readlink -f "${3:-/nonexistent}")
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || skip "mmdebstrap needs root for a root with working maintainer scripts"
for tool in mmdebstrap cpack Xvfb xwd xdotool python3; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
done

started=$(date +%s)
work=$(mktemp -d)
xvfb_pid=
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM
cache=${MELDRA_APT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/meldra-clean-install}
mkdir -p "$cache"

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" > "$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$work"/out/*.deb) || fail "no .deb"
dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\.||; s|/$||' | grep -v '^$' > "$work/files"
printf '{ "devices": [\n  { "type": "SorrelReceiver", "serial": "R-0001", "firmware": "1.45.0" },\n  { "type": "SorrelHeadset", "serial": "H-0001", "firmware": "1.44.0", "revision": 3 } ] }\n' \
    > "$work/scenario.json"

# A display of the host's; the root reaches it through the abstract socket, which a chroot shares.
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
xvfb_pid=$!

# How many colours a screenshot has: the welcome page has its logo, texts and tiles in several.
cat > "$work/colours.py" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
header = struct.unpack(">25I", data[:100])
size, height, bpp, line, ncolors = header[0], header[5], header[11], header[12], header[19]
pixels = data[size + 12 * ncolors:][: height * line]
step = bpp // 8
print(len({pixels[i:i + step] for i in range(0, len(pixels), step)}))
EOF

# Runs inside mmdebstrap's customize phase, on the host, with the root as $1 (proc, sys, dev mounted).
cat > "$work/steps.sh" <<EOF
set -u
root=\$1
in_root() { chroot "\$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "\$@"; }
step() { echo "--- \$*"; }
fail() { echo "FAIL: \$*" >&2; exit 1; }

if [ -f "$bundle" ]; then
    step "the installer bundle on the bare root"
    cp "$bundle" "\$root/tmp/installer.run"
    in_root SONELLA_INSTALLER_CHECK_ONLY=1 sh /tmp/installer.run > "$work/bundle-bare.log" 2>&1 &&
        fail "the bundle accepted a root without Qt"
    cat "$work/bundle-bare.log"
    grep -q 'libqt5quick5' "$work/bundle-bare.log" && grep -q 'qml-module-qtquick-dialogs' "$work/bundle-bare.log" ||
        fail "the bundle did not name the missing packages"
fi

step "apt install of the package, nothing else"
cp "$deb" "\$root/tmp/meldra.deb"
in_root apt-get install -y -q /tmp/meldra.deb > "$work/apt-install.log" 2>&1 ||
    { tail -n 30 "$work/apt-install.log" >&2; fail "apt could not install the package"; }
rm "\$root/tmp/meldra.deb"
grep -c '^Setting up' "$work/apt-install.log" | sed 's/^/packages set up: /'

if [ -f "$bundle" ]; then
    step "the installer bundle with the package's dependencies"
    in_root SONELLA_INSTALLER_CHECK_ONLY=1 sh /tmp/installer.run || fail "the bundle refused what the .deb pulled in"
    rm "\$root/tmp/installer.run"
fi

step "Meldra --version"
version=\$(in_root QT_QPA_PLATFORM=offscreen Meldra --version 2>&1) || fail "Meldra --version: \$version"
echo "\$version"
echo "\$version" | grep -q "1\.2\.217" || fail "unexpected version: \$version"

step "Meldra on the simulator under Xvfb"
mkdir -m 700 "\$root/tmp/sim"
cp "$hidsim" "$work/scenario.json" "\$root/tmp/sim/"
in_root DISPLAY=":$display" XDG_RUNTIME_DIR=/tmp/sim LD_PRELOAD=/tmp/sim/libhidsim.so \
    HIDSIM_SCENARIO=/tmp/sim/scenario.json MELDRA_UPDATE_URL=http://127.0.0.1:9 Meldra > "$work/meldra.log" 2>&1 &
pid=\$!
n=0
until window=\$(DISPLAY=":$display" xdotool search --onlyvisible --name 'Sonella' 2>/dev/null | head -n 1) &&
      [ -n "\$window" ]; do
    kill -0 \$pid 2>/dev/null || { cat "$work/meldra.log" >&2; fail "Meldra ended without a window"; }
    n=\$((n + 1)); [ \$n -lt 600 ] || fail "no window after 60 s"
    sleep 0.1
done
# Software rendering on a busy machine: the first frames may take a while.
n=0
until DISPLAY=":$display" xwd -silent -id "\$window" > "$work/welcome.xwd" &&
      python3 "$work/colours.py" "$work/welcome.xwd" > "$work/colours" && [ "\$(cat "$work/colours")" -ge 8 ]; do
    n=\$((n + 1))
    [ \$n -lt 60 ] || { cat "$work/meldra.log" >&2; fail "the welcome page looks blank: \$(cat "$work/colours") colours"; }
    sleep 1
done
echo "the welcome page shows \$(cat "$work/colours") colours"
kill \$pid; wait \$pid
rm -rf "\$root/tmp/sim"
if grep -inE 'qml|module .* is not installed|plugin' "$work/meldra.log" >&2; then
    fail "Meldra printed QML warnings"
fi

step "apt-get purge"
in_root apt-get purge -y -q meldra > "$work/purge.log" 2>&1 || { cat "$work/purge.log" >&2; fail "purge failed"; }
while read -r file; do
    case \$file in
        *meldra*) [ ! -e "\$root\$file" ] || fail "purge left \$file" ;;
        # Folders such as /usr/share/icons/hicolor belong to others as well.
        *) [ ! -e "\$root\$file" ] || [ -d "\$root\$file" ] || fail "purge left \$file" ;;
    esac
done < "$work/files"
[ -z "\$(ls "\$root/var/lib/dpkg/info/" | grep '^meldra')" ] || fail "dpkg still knows meldra"
echo "nothing of the package is left"
EOF

# A mirror of one's own (a URI, or whole "deb ..." lines), where Debian's own cannot be reached.
set -- bookworm /dev/null
[ -z "${MELDRA_DEBIAN_MIRROR:-}" ] || set -- "$@" "$MELDRA_DEBIAN_MIRROR"
mmdebstrap --variant=apt --mode=root --format=null \
    --setup-hook='mkdir -p "$1/var/cache/apt/archives"' \
    --setup-hook="sync-in '$cache' /var/cache/apt/archives" \
    --customize-hook="sh '$work/steps.sh' \"\$1\"" \
    --customize-hook="sync-out /var/cache/apt/archives '$cache'" \
    "$@" > "$work/mmdebstrap.log" 2>&1
code=$?
grep -- '^---\|^FAIL\|^packages\|^nothing\|^the welcome\|^Sonella' "$work/mmdebstrap.log"
[ "$code" -eq 0 ] || { tail -n 40 "$work/mmdebstrap.log" >&2; fail "the clean install failed (mmdebstrap $code)"; }

echo "PASS: clean install, start ($(cat "$work/colours") colours on the welcome page) and purge in $(($(date +%s) - started)) s"
