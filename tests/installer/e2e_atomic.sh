#!/bin/sh
# A per-user update is all or nothing: the installer killed (SIGKILL) at random moments, and a disk that
# fills up halfway, leave the old or the new version installed, complete and starting, never a mix.
# Usage: e2e_atomic.sh PERUSERINSTALL PACKAGE.tar.gz [RUNS]   (the package is the bundle's data/Meldra.tar.gz)
set -u
if [ "${1:-}" = --disk-full ]; then
    # Inside a mount namespace of our own (below): a small file system as the home folder.
    shift
    mount -t tmpfs -o "size=$3k" tmpfs "$HOME" || exit 77
    mkdir -p "$HOME/.config"
    "$1" --package "$2/old.tar.gz" > /dev/null || { echo "FAIL: the old version does not fit" >&2; exit 1; }
    "$1" --package "$2/new.tar.gz" > "$2/disk-full.log" 2>&1 && { echo "FAIL: the disk did not fill up" >&2; exit 1; }
    . "$2/check.sh" && check_installed "disk full" old
    exit $?
fi

tool=$(readlink -f "$1") package=$(readlink -f "$2") runs=${3:-24}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM
fail() { echo "FAIL: $*" >&2; exit 1; }

export HOME="$work/home"
unset XDG_DATA_HOME XDG_CONFIG_HOME XDG_CACHE_HOME
mkdir -p "$HOME"
location="$HOME/.local/share/meldra"

# Two versions of the real package that the files tell apart: each has a file the other lacks.
for version in old new; do
    mkdir -p "$work/$version" && tar -xzf "$package" -C "$work/$version" || fail "cannot unpack $package"
    top=$(ls "$work/$version")
    mkdir -p "$work/$version/$top/share/meldra-test"
    echo "$version" > "$work/$version/$top/share/meldra-test/version"
    : > "$work/$version/$top/share/meldra-test/only-$version"
    (cd "$work/$version/$top" && find . | sort) > "$work/$version.list"
    tar -czf "$work/$version.tar.gz" -C "$work/$version" "$top"
done

cat > "$work/check.sh" <<EOF
# check_installed WHAT [EXPECTED]: the location holds one whole version, which starts and is recorded.
check_installed() {
    version=\$(cat "$location/share/meldra-test/version" 2>/dev/null)
    case \$version in old|new) ;; *) echo "FAIL: \$1: no version installed" >&2; return 1 ;; esac
    [ -z "\${2:-}" ] || [ "\$version" = "\$2" ] || { echo "FAIL: \$1: \$version installed, not \$2" >&2; return 1; }
    (cd "$location" && find . | sort) | cmp -s - "$work/\$version.list" ||
        { echo "FAIL: \$1: the \$version version is not complete or has files of the other" >&2; return 1; }
    QT_QPA_PLATFORM=offscreen "$location/bin/Meldra" --version > /dev/null 2>&1 ||
        { echo "FAIL: \$1: the installed \$version version does not start" >&2; return 1; }
    grep -qxF "InstallLocation=$location/bin/" "\$HOME/.config/Corvin/Sonella.ini" ||
        { echo "FAIL: \$1: the record does not name the program's folder" >&2; return 1; }
}
EOF
. "$work/check.sh"

start=$(date +%s%N)
"$tool" --package "$work/old.tar.gz" > /dev/null || fail "the first installation failed"
span=$((($(date +%s%N) - start) / 1000000))
check_installed "first installation" old || exit 1
echo "an uninterrupted installation takes $span ms"

# Kill the installer (with its tar) at a random moment of an update; the next update starts from
# whatever that left.
old=0 new=0 current=old interrupted=0
i=1
while [ "$i" -le "$runs" ]; do
    next=new; [ "$current" = new ] && next=old
    delay=$(awk -v seed="$i" -v span="$span" 'BEGIN { srand(seed); printf "%.3f", rand() * span * 1.2 / 1000 }')
    setsid "$tool" --package "$work/$next.tar.gz" > /dev/null 2>&1 &
    pid=$!
    sleep "$delay"
    # dash takes a negative pid only after "-s SIGNAL --"; a refused kill would let every run finish.
    kill -s KILL -- "-$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    [ $? -eq 137 ] && interrupted=$((interrupted + 1))
    while pgrep -s "$pid" > /dev/null; do sleep 0.05; done
    check_installed "run $i, killed after $delay s" || exit 1
    current=$(cat "$location/share/meldra-test/version")
    eval "$current=\$((\$$current + 1))"
    i=$((i + 1))
done
echo "killed $runs updates at random moments ($interrupted before they ended): $old left the old version," \
    "$new the new one"
[ "$interrupted" -gt 0 ] || fail "no kill interrupted an update"

# The next uninterrupted update clears what the killed ones left beside the program folder.
"$tool" --package "$work/new.tar.gz" > /dev/null || fail "an update after the killed ones failed"
check_installed "after the killed runs" new || exit 1
leftover=$(ls -d "$location".* 2>/dev/null)
[ -z "$leftover" ] || fail "left beside the program folder: $leftover"

# A home folder that fills up while the new version is unpacked: room for the old one and half the new.
size=$(du -sk "$work/old" | cut -f1)
unshare --user --map-root-user --mount sh "$0" --disk-full "$tool" "$work" "$((size * 3 / 2 + 512))"
code=$?
case $code in
    0) echo "disk full during an update: the old version stayed ($(tail -n 1 "$work/disk-full.log"))" ;;
    77) echo "SKIP: no mount namespace here for the disk-full case" ;;
    *) exit 1 ;;
esac
echo "PASS"
