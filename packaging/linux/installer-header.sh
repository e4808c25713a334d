#!/bin/sh
# Sonella installer: checks that this system can run it, unpacks the installer and its package into a
# temporary folder, runs it with the arguments given (the main program passes -update), and removes the
# folder when the installer ends. SONELLA_INSTALLER_CHECK_ONLY=1 stops after the checks.
set -u
say() { echo "Sonella installer: $*" >&2; }

# Qt and hidapi come from the system, as for the .deb: soname, then the Debian package that has it. Only
# what the two programs or their QML modules load: Qt Concurrent, for one, is all templates.
libraries="libQt5Core.so.5 libqt5core5a
libQt5Gui.so.5 libqt5gui5
libQt5Network.so.5 libqt5network5
libQt5DBus.so.5 libqt5dbus5
libQt5Qml.so.5 libqt5qml5
libQt5QmlModels.so.5 libqt5qmlmodels5
libQt5Quick.so.5 libqt5quick5
libQt5QuickTemplates2.so.5 libqt5quicktemplates2-5
libhidapi-hidraw.so.0 libhidapi-hidraw0
libudev.so.1 libudev1
libsodium.so.23 libsodium23"
# The QML modules that the two programs import, directly or through the modules they use: folder under
# the Qt QML folder, then package.
modules="QtQml qml-module-qtqml
QtQml/Models.2 qml-module-qtqml-models2
QtQml/WorkerScript.2 qml-module-qtqml-workerscript2
QtQuick.2 qml-module-qtquick2
QtQuick/Window.2 qml-module-qtquick-window2
QtQuick/Templates.2 qml-module-qtquick-templates2
QtQuick/Layouts qml-module-qtquick-layouts
QtGraphicalEffects qml-module-qtgraphicaleffects
QtQuick/Dialogs qml-module-qtquick-dialogs
QtQuick/Controls qml-module-qtquick-controls
QtQuick/PrivateWidgets qml-module-qtquick-privatewidgets
QtQuick/Extras qml-module-qtquick-extras
Qt/labs/folderlistmodel qml-module-qt-labs-folderlistmodel
Qt/labs/settings qml-module-qt-labs-settings"

# The loader's folders, most specific first; ldconfig's cache where there is one.
arch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -dumpmachine 2>/dev/null || echo "$(uname -m)-linux-gnu")
libdirs="/usr/lib/$arch /lib/$arch /usr/lib64 /lib64 /usr/lib /lib"
cache=$( (ldconfig -p || /sbin/ldconfig -p) 2>/dev/null)
has_library() {
    case $cache in *"$1 "*) return 0 ;; esac
    for d in $libdirs; do [ -e "$d/$1" ] && return 0; done
    return 1
}
qmldir=
for d in $libdirs; do
    [ -d "$d/qt5/qml" ] && { qmldir="$d/qt5/qml"; break; }
done

missing=
while read -r soname package; do
    has_library "$soname" || missing="$missing $package"
done <<EOF
$libraries
EOF
while read -r folder package; do
    [ -n "$qmldir" ] && [ -e "$qmldir/$folder/qmldir" ] || missing="$missing $package"
done <<EOF
$modules
EOF
for tool in tar:tar gzip:gzip awk:mawk; do
    command -v "${tool%%:*}" >/dev/null 2>&1 || missing="$missing ${tool#*:}"
done
if [ -n "$missing" ]; then
    say "these packages are needed and not installed:$missing"
    say "install them first, for example: sudo apt install$missing"
    exit 1
fi

# A temporary folder mounted noexec would make the installer fail with "Permission denied" (exit 126).
# Try the usual places in turn, each checked with a small program of its own.
dir=
for base in "${TMPDIR:-/tmp}" /var/tmp "${XDG_RUNTIME_DIR:-}" "${XDG_CACHE_HOME:-$HOME/.cache}"; do
    [ -n "$base" ] && [ -d "$base" ] && [ -w "$base" ] || continue
    # What a run that was killed (SIGKILL, a power cut) left: ours, and its wrapper no longer runs.
    for stale in "$base"/sonella-installer.*; do
        [ -d "$stale" ] && [ -O "$stale" ] && [ -f "$stale/.pid" ] || continue
        owner=$(cat "$stale/.pid" 2>/dev/null)
        case $owner in ''|*[!0-9]*) continue ;; esac
        kill -0 "$owner" 2>/dev/null || rm -rf "$stale"
    done
    candidate=$(mktemp -d "$base/sonella-installer.XXXXXX" 2>/dev/null) || continue
    echo $$ > "$candidate/.pid" || { rm -rf "$candidate"; continue; }
    printf '#!/bin/sh\nexit 0\n' > "$candidate/probe" && chmod 700 "$candidate/probe" &&
        "$candidate/probe" 2>/dev/null && { rm -f "$candidate/probe"; dir=$candidate; break; }
    rm -rf "$candidate"
done
if [ -z "$dir" ]; then
    say "found no temporary folder where programs may run (${TMPDIR:-/tmp} is mounted noexec?);"
    say "set TMPDIR to a folder of yours that allows it, for example: TMPDIR=\$HOME/.cache $0"
    exit 1
fi
trap 'rm -rf "$dir"' EXIT
trap 'exit 1' HUP INT TERM
# Both copies would answer to one menu entry and one running instance, whichever started first.
if [ -x "${MELDRA_SYSTEM_ROOT:-}/usr/bin/Meldra" ]; then
    say "warning: Sonella is already installed for the whole system (/usr/bin/Meldra, the .deb);"
    say "this installs a second copy for you alone, and the menu may start either of them."
fi
if [ "${SONELLA_INSTALLER_CHECK_ONLY:-}" = 1 ]; then
    echo "Sonella installer: this system has everything the installer needs."
    exit 0
fi

skip=$(awk '/^__INSTALLER_PAYLOAD__$/ { print NR + 1; exit 0 }' "$0")
if [ -z "$skip" ] || ! tail -n +"$skip" "$0" | tar -xzf - -C "$dir"; then
    say "the installer is damaged; download it again."
    exit 1
fi
# In the background, so that a signal reaches this shell at once and is passed on; the folder goes once
# the installer has ended. A background job ignores SIGINT, so the installer gets SIGTERM for it.
installer=
pass_on() { [ -z "$installer" ] || kill -s "$1" "$installer" 2>/dev/null; }
trap 'pass_on TERM' INT TERM
trap 'pass_on HUP' HUP
"$dir/Installer" "$@" &
installer=$!
while :; do
    wait "$installer"
    code=$?
    kill -0 "$installer" 2>/dev/null || break
done
exit "$code"
__INSTALLER_PAYLOAD__
