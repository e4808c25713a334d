#!/bin/sh
# End to end: the self-extracting installer bundle, run by a user with a fresh home folder under X, is
# clicked through INSTALL SONELLA and LAUNCH SONELLA; Meldra must then be installed in the user's
# location, recorded for the installer, startable from its menu entry, and running. Its uninstall command
# then leaves the home folder as it was before. The home folder's name has a blank, quotes, '$' and '%'
# in it, which the menu entry must carry through.
# Usage: e2e_install.sh BUNDLE.run   (starts an X server of its own when DISPLAY is not set)
set -u
bundle=$(readlink -f "$1")
if [ -z "${DISPLAY:-}" ]; then
    exec sh "$(dirname "$0")/../support/xserver.sh" --size 1280x800 sh "$0" "$@"
fi
command -v xdotool >/dev/null || { echo "xdotool is needed to click as a user would" >&2; exit 1; }

e2e_processes="meldra_pid installer_pid"
. "$(dirname "$0")/../support/e2e.sh"

export HOME="$work/home of \"Jo\" \$USER 100%" XDG_RUNTIME_DIR="$work/run" TMPDIR="$work/tmp"
unset XDG_DATA_HOME XDG_CONFIG_HOME XDG_CACHE_HOME
# A desktop session brings its own bus. Without one, libdbus with dbus-x11 installed would start a bus
# for the X display and leave its address file in ~/.dbus, which is neither program's to remove.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
mkdir -p "$HOME" "$TMPDIR" && mkdir -m 700 "$XDG_RUNTIME_DIR"
# What a desktop session has in a home folder before anything is installed.
mkdir -p "$HOME/.local/share/applications" "$HOME/.config" "$HOME/.cache" "$HOME/Documents"
echo "keep" > "$HOME/Documents/notes.txt"
# Qt's shader cache is shared by every Qt program of the user, so it is not the program's to remove.
snapshot() { (cd "$HOME" && find . -path ./.cache/qtshadercache-\* -prune -o -printf '%y %p\n' | sort); }
snapshot > "$work/home-before"
installed="$HOME/.local/share/meldra/bin/Meldra"
record="$HOME/.config/Corvin/Sonella.ini"


# A real click at a point of the window, as the installer lays its pages out at fixed positions.
click() {
    xdotool windowraise "$window"
    xdotool mousemove --sync --window "$window" "$1" "$2" click 1
}

find_window() { window=$(xdotool search --onlyvisible --name '^Sonella Desktop$' 2>/dev/null | head -n 1); [ -n "$window" ]; }
meldra_window() { [ -n "$(xdotool search --onlyvisible --pid "$meldra_pid" 2>/dev/null)" ]; }
meldra_running() {
    meldra_pid=$(find /proc -maxdepth 2 -name exe -lname "$installed" 2>/dev/null | head -n 1 | cut -d/ -f3)
    [ -n "$meldra_pid" ]
}

"$bundle" > "$work/installer.log" 2>&1 &
installer_pid=$!
wait_for 30 find_window || fail "the installer window did not appear"
[ -e "$installed" ] && fail "Meldra was there before the installation"

click 472 453   # INSTALL SONELLA
wait_for 60 test -s "$record" || fail "no installation was recorded"
# The menu entries are written last.
wait_for 10 test -s "$HOME/.local/share/applications/example.arca.Meldra-uninstall.desktop" || fail "no uninstall entry"
[ -x "$installed" ] || fail "Meldra is not installed at $installed"
[ -x "$HOME/.local/share/meldra/bin/sonella-uninstall" ] || fail "no uninstall command"
[ -e "$HOME/.local/share/meldra/lib/meldra/libhiddfu.so" ] || fail "the DFU engine library is missing"
entry="$HOME/.local/share/applications/example.arca.Meldra.desktop"
[ -e "$entry" ] || fail "no desktop entry"
[ -e "$HOME/.local/share/applications/example.arca.Meldra-uninstall.desktop" ] || fail "no uninstall entry"
if command -v desktop-file-validate >/dev/null; then
    for e in "$HOME"/.local/share/applications/*.desktop; do
        desktop-file-validate "$e" || fail "$e does not validate"
    done
fi
# Started the way a desktop starts it, the entry runs the installed program.
gio launch "$entry" || fail "the menu entry does not start: $(grep ^Exec= "$entry")"
wait_for 30 meldra_running || fail "the menu entry did not start Meldra: $(grep ^Exec= "$entry")"
# Closed as a user would, once it listens for that, so that it leaves no lock behind.
wait_for 60 meldra_window || fail "Meldra started from the menu entry shows no window"
"$installed" --close
wait_for 30 sh -c "! kill -0 $meldra_pid 2>/dev/null" || fail "Meldra did not close"
meldra_pid=

# The status reaches the window through the event loop just after the record is written.
sleep 1
click 472 453   # LAUNCH SONELLA
wait_for 30 sh -c "! kill -0 $installer_pid 2>/dev/null" || fail "the installer did not close after LAUNCH"
wait "$installer_pid"; code=$?
installer_pid=
[ "$code" -eq 0 ] || fail "the installer exited with $code"
wait_for 30 meldra_running || fail "Meldra was not started"
leftover=$(ls -d "$TMPDIR"/sonella-installer.* 2>/dev/null)
[ -z "$leftover" ] || fail "the bundle left its folder behind: $leftover"

# Uninstalled with the command installed with it, nothing of the program is left in the home folder.
wait_for 60 meldra_window || fail "Meldra shows no window"
"$installed" --close
wait_for 30 sh -c "! kill -0 $meldra_pid 2>/dev/null" || fail "Meldra did not close"
meldra_pid=
"$HOME/.local/share/meldra/bin/sonella-uninstall" --yes || fail "the uninstall command failed"
snapshot > "$work/home-after"
diff "$work/home-before" "$work/home-after" >&2 || fail "the home folder differs after the uninstall"
echo "PASS: installed to $installed, recorded in $record, started, uninstalled without a trace"
