#!/bin/sh
# noexec.sh PROGRAM ARGS...: runs PROGRAM in a pid namespace of its own in which memory files cannot be
# executed unless made so (vm.memfd_noexec=1). Needs root and Linux 6.3 or later; skipped (77) otherwise.
unshare --pid --fork sh -c 'echo 1 >/proc/sys/vm/memfd_noexec' 2>/dev/null ||
    { echo "SKIP: cannot restrict memfd"; exit 77; }
unshare --pid --fork sh -c 'echo 1 >/proc/sys/vm/memfd_noexec && "$@"' sh "$@"
