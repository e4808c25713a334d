#!/bin/sh
# Sonella installer: unpacks the installer and its package into a temporary folder, runs it with the
# arguments given (the main program passes -update), and removes the folder when the installer ends.
set -u
dir=$(mktemp -d "${TMPDIR:-/tmp}/sonella-installer.XXXXXX") || exit 1
trap 'rm -rf "$dir"' EXIT HUP INT TERM
skip=$(awk '/^__INSTALLER_PAYLOAD__$/ { print NR + 1; exit 0 }' "$0")
if [ -z "$skip" ] || ! tail -n +"$skip" "$0" | tar -xzf - -C "$dir"; then
    echo "$0: the installer is damaged; download it again." >&2
    exit 1
fi
"$dir/Installer" "$@"
exit $?
__INSTALLER_PAYLOAD__
