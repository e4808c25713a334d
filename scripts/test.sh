#!/usr/bin/env bash
# Builds and runs the whole test suite on a fresh Debian 12 machine, installing what is missing.
#   scripts/test.sh            normal build, every test (window tests each on an Xvfb of their own)
#   scripts/test.sh --asan     the same with AddressSanitizer + UndefinedBehaviorSanitizer
#   scripts/test.sh --tsan     ThreadSanitizer over the tests of the threaded subsystems
#   scripts/test.sh --windows  syntax check of every source for Windows with MinGW-w64, and the Windows
#                              programs that need no Qt run under Wine
#   scripts/test.sh --fuzz     every fuzz target for 20 s (clang, ASan + UBSan), after replaying kept inputs
#   scripts/test.sh --format   clang-format in check mode over the shipped folders
#   scripts/test.sh --ci       the format check, normal, ASan + UBSan, TSan, the short fuzz run and the Windows
#                              checks, in that order
#   scripts/test.sh --clean-install  the .deb installed and started in a minimal Debian root (root, network)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
# shellcheck disable=SC2086
ensure_packages $BASE_PACKAGES $TEST_PACKAGES

jobs=$(nproc)

run_suite() { # DIR [CTEST_ARGS...]
    local dir=$1
    shift
    # Window tests start X servers of their own; none may lean on the caller's display.
    env -u DISPLAY ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$jobs" "$@"
}

normal() {
    configure_and_build "$top/build-test" RelWithDebInfo
    run_suite "$top/build-test" -LE cleaninstall
}

clean_install() {
    configure_and_build "$top/build-test" RelWithDebInfo
    ctest --test-dir "$top/build-test" --output-on-failure --no-tests=error -L cleaninstall
}

asan() {
    configure_and_build "$top/build-asan" Debug -DMELDRA_SANITIZE=address -DMELDRA_BUILD_BENCH=OFF
    # The programs run on the simulator through LD_PRELOAD, which puts it before the ASan runtime.
    local asan="abort_on_error=1:verify_asan_link_order=0"
    export LSAN_OPTIONS="suppressions=$top/scripts/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
    # Leaks are checked in every test without a window. Window tests and the programs they start stop
    # short of that: the GL driver, ICU and the platform plugins leave allocations at exit that no
    # suppression can name once their libraries are unloaded. Memory errors stay fatal everywhere.
    ASAN_OPTIONS="detect_leaks=1:$asan" run_suite "$top/build-asan" -LE 'gui|e2e|cleaninstall'
    ASAN_OPTIONS="detect_leaks=0:$asan" run_suite "$top/build-asan" -L 'gui|e2e'
}

tsan() {
    # Only the test programs of the labels it runs, not the programs, tools and window tests.
    BUILD_TARGETS="tests_io tests_sim tests_firmware tests_online" \
        configure_and_build "$top/build-tsan" Debug -DMELDRA_SANITIZE=thread -DMELDRA_BUILD_BENCH=OFF
    TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$top/scripts/tsan.supp" \
        run_suite "$top/build-tsan" -L 'io|sim|firmware|online'
}

# The folders that ship; a file that differs from .clang-format fails the run, named with its differences.
format_check() {
    local files
    mapfile -t files < <(cd "$top" && git ls-files -- 'app/*.cpp' 'app/*.h' 'base/*.cpp' 'base/*.h' 'cli/*.cpp' 'cli/*.h' \
        'common/*.cpp' 'common/*.h' 'dfu/*.cpp' 'dfu/*.h' 'hiddfu/*.cpp' 'hiddfu/*.h' 'io/*.cpp' 'io/*.h' \
        'mediator/*.cpp' 'mediator/*.h' 'updater/*.cpp' 'updater/*.h' 'platform/*.cpp' 'platform/*.h')
    (cd "$top" && clang-format --dry-run --Werror "${files[@]}")
    echo "Format check: ${#files[@]} files match .clang-format"
}

windows() {
    "$top/scripts/windows-check.sh"
    "$top/scripts/windows-run.sh"
}

case "${1:-}" in
    "") normal ;;
    --asan) asan ;;
    --tsan) tsan ;;
    --windows) windows ;;
    --clean-install) clean_install ;;
    --fuzz) "$top/fuzz/run" 20 ;;
    --format) format_check ;;
    --ci)
        format_check
        normal
        asan
        tsan
        "$top/fuzz/run" 20
        windows
        ;;
    *)
        sed -n '2,12p' "$0"
        exit 2
        ;;
esac
