# Shared by the README's commands. Sourced, not run.

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# What building and running the program needs on Debian 12.
BASE_PACKAGES="build-essential cmake ninja-build ccache pkg-config
 qtbase5-dev qtbase5-dev-tools qtdeclarative5-dev qtdeclarative5-dev-tools qtquickcontrols2-5-dev
 qtbase5-private-dev qtdeclarative5-private-dev
 qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-templates2 qml-module-qtquick-controls2
 qml-module-qtquick-layouts qml-module-qtquick-dialogs qml-module-qtquick-controls
 qml-module-qtquick-privatewidgets qml-module-qtgraphicaleffects qml-module-qt-labs-folderlistmodel
 qml-module-qt-labs-settings qml-module-qtquick-extras qml-module-qtqml-workerscript2
 libhidapi-dev libudev-dev zlib1g-dev libsodium-dev libgl1-mesa-dri dfu-util"
# What the suite needs on top: a virtual display, a second compiler for the fuzzers, the Windows
# cross compiler and its zlib for the syntax check and the Qt-free Windows build, Wine to run its test
# programs (hidapi's source comes with npm, which windows-run.sh adds unless Node.js brought it along),
# msitools and wixl to build and read the Qt-free form of the .msi, Python to pack the one-file update, a
# private D-Bus, curl for the download benchmark, minisign to make the keys and signatures the tests check our reader against; for
# the packages: Debian's checkers, the QML import scanner, a desktop's launcher, a clean Debian root and xwd to read its window; the
# accessibility bus and its Python client for the walk from outside (tests/ui/atspi_walk.sh); clang-format
# for the format check.
TEST_PACKAGES="clang-format xvfb xauth x11-utils xdotool qml-module-qttest clang g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 msitools wixl dbus curl python3
 minisign osslsigncode lintian desktop-file-utils appstream qtdeclarative5-dev-tools libglib2.0-bin procps mmdebstrap x11-apps
 at-spi2-core python3-pyatspi"

# ensure_packages LIST... installs whatever of the lists is missing (needs root or sudo).
ensure_packages() {
    local missing=()
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -q >/dev/null
    $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# configure_and_build DIR BUILD_TYPE [CMAKE_ARGS...]; with BUILD_TARGETS set, builds only those targets.
configure_and_build() {
    local dir=$1 type=$2
    shift 2
    # ccache keys on paths relative to the checkout, so every clone on the machine shares one cache.
    export CCACHE_BASEDIR="$top" CCACHE_NOHASHDIR=1
    cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" \
        -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache "$@" >/dev/null
    # shellcheck disable=SC2086
    cmake --build "$dir" ${BUILD_TARGETS:+--target $BUILD_TARGETS}
}
