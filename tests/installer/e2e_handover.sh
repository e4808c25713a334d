#!/bin/sh
# End to end: Meldra, run from a recorded per-user installation and pointed at the local update service
# that offers a newer program whose file is the installer bundle, downloads it and starts it with -update;
# the installer opens on its update page. That needs a Meldra built with MELDRA_UPDATE_PUBLIC_KEY and the
# secret half of that key to sign the bundle with; without them this build must never update itself, and
# the test checks that instead.
# Usage: e2e_handover.sh MELDRA UPDATESERVICE BUNDLE.run HIDSIM [SECRET_KEY]   (starts an X server of its own when DISPLAY is not set)
set -u
meldra=$(readlink -f "$1") service=$(readlink -f "$2") bundle=$(readlink -f "$3") hidsim=$(readlink -f "$4")
secret_key=${5:-}
if [ -z "${DISPLAY:-}" ]; then
    exec sh "$(dirname "$0")/../support/xserver.sh" --size 1280x800 sh "$0" "$@"
fi
command -v xdotool >/dev/null || { echo "xdotool is needed to click as a user would" >&2; exit 1; }

e2e_processes="installer_pid meldra_pid service_pid"
. "$(dirname "$0")/../support/e2e.sh"

export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" TMPDIR="$work/tmp"
unset XDG_DATA_HOME XDG_CONFIG_HOME XDG_CACHE_HOME
mkdir -p "$HOME/.config/Corvin" "$TMPDIR" "$work/catalog/apps" "$work/catalog/files" && mkdir -m 700 "$XDG_RUNTIME_DIR"
printf '[General]\nInstallLocation=%s/\n' "$(dirname "$meldra")" > "$HOME/.config/Corvin/Sonella.ini"

name=$(basename "$bundle")
cp "$bundle" "$work/catalog/files/$name"
chmod 644 "$work/catalog/files/$name"   # served as bytes; nothing of the file mode travels over HTTP
[ -z "$secret_key" ] || minisign -S -s "$secret_key" -t "kind:program version:9.0.0" -m "$work/catalog/files/$name" >/dev/null ||
    fail "cannot sign the bundle"
printf '{ "apps": [ { "latest_app_version": "9.0.0", "app_update_url": "{base}/files/%s" } ] }\n' "$name" \
    > "$work/catalog/apps/linux.json"
printf '{ "devices": [] }\n' > "$work/scenario.json"

"$service" --folder "$work/catalog" > "$work/service.log" 2>&1 &
service_pid=$!
wait_for 10 grep -q '^MELDRA_UPDATE_URL=' "$work/service.log" || fail "the update service did not start"
url=$(sed -n 's/^MELDRA_UPDATE_URL=//p' "$work/service.log" | head -n 1)

MELDRA_UPDATE_URL="$url" HIDSIM_SCENARIO="$work/scenario.json" LD_PRELOAD="$hidsim" \
    "$meldra" > "$work/meldra.log" 2>&1 &
meldra_pid=$!

# One find over /proc instead of a readlink per process: the loop runs ten times a second.
installer_running() {
    installer_pid=$(find /proc -maxdepth 2 -name exe -lname "$TMPDIR/sonella-installer.*/Installer" 2>/dev/null |
                    head -n 1 | cut -d/ -f3)
    [ -n "$installer_pid" ]
}
if [ -z "$secret_key" ]; then
    sleep 10
    installer_running && fail "a build without a key started a downloaded installer"
    grep -q '/app_info/' "$work/service.log" && fail "a build without a key asked for a newer program"
    kill -0 "$meldra_pid" 2>/dev/null || fail "Meldra did not keep running"
    echo "PASS: without a compiled-in key the program neither asked for nor started an installer"
    exit 0
fi
wait_for 60 installer_running || fail "Meldra did not start the downloaded installer"
tr '\0' '\n' < "/proc/$installer_pid/cmdline" | tail -n +2 > "$work/arguments"
[ "$(cat "$work/arguments")" = "-update" ] || fail "the installer got the arguments: $(cat "$work/arguments")"
kill -0 "$meldra_pid" 2>/dev/null || fail "Meldra did not keep running"

find_window() {
    window=$(xdotool search --onlyvisible --name '^Sonella Desktop$' 2>/dev/null | head -n 1)
    [ -n "$window" ]
}
wait_for 30 find_window || fail "the installer window did not appear"
# Meldra's own window is on the same screen, and without a window manager nothing raises the new one.
sleep 1
xdotool windowraise "$window"
# INSTALL LATER on the update page; on the welcome page the same point is INSTALL SONELLA.
xdotool mousemove --sync --window "$window" 360 453 click 1
wait_for 30 sh -c "! kill -0 $installer_pid 2>/dev/null" || fail "INSTALL LATER did not close the installer"
installer_pid=
[ ! -e "$HOME/.config/Corvin/Sonella.ini" ] || fail "the installer installed instead of showing its update page"
[ ! -e "$HOME/.local/share/meldra" ] || fail "something was installed"
echo "PASS: the downloaded installer started with -update and showed its update page"
