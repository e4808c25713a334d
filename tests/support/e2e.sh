# Sourced by the end-to-end scripts, after they name in e2e_processes the variables that will hold the
# process ids of what they start ("installer_pid meldra_pid"): makes $work, a folder of the run's own, which
# goes at exit with those processes (in that order). fail prints its reason and the end of every log in
# $work, and exits 1; wait_for SECONDS COMMAND... runs the command every 0.1 s until it succeeds.
work=$(mktemp -d)
for e2e_var in $e2e_processes; do eval "$e2e_var="; done
cleanup() {
    for e2e_var in $e2e_processes; do
        eval "e2e_pid=\$$e2e_var"
        [ -n "$e2e_pid" ] && kill "$e2e_pid" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap "exit 1" HUP INT TERM
fail() {
    echo "FAIL: $*" >&2
    for log in "$work"/*.log "$work"/*.err; do [ -f "$log" ] && { echo "--- $log" >&2; tail -n 20 "$log" >&2; }; done
    exit 1
}
wait_for() {
    n=$(($1 * 10)); shift
    while [ "$n" -gt 0 ]; do
        "$@" && return 0
        sleep 0.1; n=$((n - 1))
    done
    return 1
}
