#!/bin/sh
# msi_roundtrip.sh WINE SOURCE_DIR BINARY_DIR: builds the Qt-free form of the package with wixl, checks
# its per-user defaults with msiinfo, installs it with Wine's msiexec as a user would and as an
# administrator's deployment would, and removes it again.
set -u
wine=$1 src=$2 bin=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() { # WHAT COMMAND...
    what=$1
    shift
    if "$@"; then echo "PASS: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
query() { # KEY: the InstallLocation value recorded under KEY, empty when there is none
    "$wine" reg query "$1" /v InstallLocation 2>/dev/null | tr -d '\r' | sed -n 's/.*InstallLocation *REG_SZ *//p'
}
msi="$work/Meldra.msi"

# Sources are found relative to the current folder.
(cd "$bin" && wixl -a x64 -I "$src/packaging/windows" -o "$msi" "$src/tests/windows/msi-roundtrip.wxs") || exit 1
# wixl writes HKMU as 4 instead of the table's -1 (WiX writes -1 itself).
msibuild "$msi" -q "UPDATE Registry SET Root = -1 WHERE Root = 4" || exit 1

# Word count 10: compressed (2) and no elevation needed (8). No ALLUSERS: a per-user installation.
check "package needs no elevation" sh -c "msiinfo suminfo '$msi' | grep -q '^Source: 10 '"
check "package is per user by default" sh -c "! msiinfo export '$msi' Property | grep -q '^ALLUSERS'"

local_programs=$(find "$WINEPREFIX/drive_c/users" -maxdepth 4 -path '*/AppData/Local' | head -n 1)/Programs
check "a user's installation succeeds" "$wine" msiexec /i "$msi" /qn
check "into the user's programs folder" test -f "$local_programs/Sonella/hiddfu.dll" -a -f "$local_programs/Sonella/hidapi.dll"
case $(query 'HKCU\Software\Corvin\Sonella') in
    *'\AppData\Local\Programs\Sonella\') recorded=yes ;;
    *) recorded=no ;;
esac
check "recorded under the user's key" test "$recorded" = yes
check "nothing under the machine's key" test -z "$(query 'HKLM\Software\Corvin\Sonella')"
check "the user's uninstallation succeeds" "$wine" msiexec /x "$msi" /qn
check "leaves no folder" test ! -e "$local_programs/Sonella"
check "leaves no key" sh -c "! '$wine' reg query 'HKCU\\Software\\Corvin\\Sonella' >/dev/null 2>&1"

check "an administrator's deployment succeeds" "$wine" msiexec /i "$msi" ALLUSERS=1 /qn
check "into Program Files" test -f "$WINEPREFIX/drive_c/Program Files/Sonella/hiddfu.dll"
check "recorded under the machine's key" test "$(query 'HKLM\Software\Corvin\Sonella')" = 'C:\Program Files\Sonella\'
# Wine's msiexec does not remove a deployment for the machine (it answers 0 or 69 and leaves it), so the
# next run gets a clean prefix by hand; on Windows "msiexec /x" removes it.
"$wine" msiexec /x "$msi" ALLUSERS=1 /qn
rm -rf "$WINEPREFIX/drive_c/Program Files/Sonella"
"$wine" reg delete 'HKLM\Software\Corvin\Sonella' /f >/dev/null 2>&1

echo "$failures failed"
[ "$failures" -eq 0 ]
