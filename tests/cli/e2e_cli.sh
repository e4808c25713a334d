#!/bin/sh
# End to end: the shipped meldra-cli on the simulator, with no display, while the shipped window runs idle
# and then updates. Usage: e2e_cli.sh CLI MELDRA UPDATESERVICE HIDSIM SOAKDRIVER RECEIVER_IMAGE
set -u
cli=$(readlink -f "$1") meldra=$(readlink -f "$2") service=$(readlink -f "$3") hidsim=$(readlink -f "$4")
driver=$(readlink -f "$5") image=$(readlink -f "$6")
if [ -z "${DISPLAY:-}" ]; then
    exec sh "$(dirname "$0")/../support/xserver.sh" sh "$0" "$@"
fi

e2e_processes="meldra_pid service_pid"
. "$(dirname "$0")/../support/e2e.sh"
# The window's driver answers one line per connection.
ask() {
    python3 -c 'import socket, sys
s = socket.socket(socket.AF_UNIX); s.settimeout(10); s.connect(sys.argv[1]); s.sendall(sys.argv[2].encode() + b"\n")
data = b""
while not data.endswith(b"\n"):
    chunk = s.recv(4096)
    if not chunk: break
    data += chunk
print(data.decode().strip())' "$work/driver.sock" "$1" 2>/dev/null
}
shown() { [ "$(ask "shown $1")" = 1 ]; }
on_page() { [ "$(ask page)" = "$1" ]; }
# Runs the command line as a fleet tool would: no display, its own simulated bus. Sets rc.
run_cli() {
    scenario=$1 name=$2; shift 2
    env -u DISPLAY HIDSIM_SCENARIO="$scenario" LD_PRELOAD="$hidsim" HIDSIM_TRAFFIC_SUMMARY="$work/$name.traffic" \
        "$cli" "$@" > "$work/$name.out" 2> "$work/$name.err"
    rc=$?
}
field() { python3 -c 'import json, sys; d = json.load(open(sys.argv[1])); print(eval(sys.argv[2], {}, {"d": d}))' "$@"; }

export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" TMPDIR="$work/tmp"
unset XDG_DATA_HOME XDG_CONFIG_HOME XDG_CACHE_HOME
mkdir -p "$HOME" "$TMPDIR" && mkdir -m 700 "$XDG_RUNTIME_DIR"
one='{ "devices": [ { "type": "SorrelReceiver", "serial": "R-0001", "firmware": "1.45.0" },
                    { "type": "SorrelHeadset", "serial": "H-0001", "firmware": "1.44.0", "revision": 3 } ] }'
echo "$one" > "$work/one.json"
echo '{ "devices": [ { "type": "SorrelReceiver", "serial": "R-0001", "firmware": "1.45.0" },
                     { "type": "SorrelPlusReceiver", "serial": "P-0001", "firmware": "2.1.0" } ] }' > "$work/two.json"
head -c 4000 "$image" > "$work/cut.dfu"

"$service" --demo --image "$image" > "$work/service.log" 2>&1 &
service_pid=$!
wait_for 10 grep -q '^MELDRA_UPDATE_URL=' "$work/service.log" || fail "the update service did not start"
export MELDRA_UPDATE_URL="$(sed -n 's/^MELDRA_UPDATE_URL=//p' "$work/service.log" | head -n 1)"

HIDSIM_SCENARIO="$work/one.json" LD_PRELOAD="$hidsim:$driver" MELDRA_SOAK_DRIVER="$work/driver.sock" \
    "$meldra" > "$work/meldra.log" 2>&1 &
meldra_pid=$!
wait_for 60 on_page welcomePage || fail "the window did not show its welcome page"

run_cli "$work/one.json" list list --json
[ "$rc" = 0 ] || fail "list beside the idle window exited with $rc"
[ "$(field "$work/list.out" '[(x["model"], x["family"], x["serial"], x["mode"], x["firmware"]) for x in d["devices"]]')" = \
  "[('SorrelReceiver', 'Sorrel', 'R-0001', 'normal', '1.45.0'), ('SorrelHeadset', 'Sorrel', 'H-0001', 'normal', '1.44.0')]" ] ||
    fail "list --json: $(cat "$work/list.out")"
[ "$(field "$work/list.out" 'd["format"], d["exitCode"]')" = "(1, 0)" ] || fail "list --json: no format or exit code"

# Interrupted in the middle of the transfer, as a fleet tool that gives up would: it finishes first.
env -u DISPLAY HIDSIM_SCENARIO="$work/one.json" LD_PRELOAD="$hidsim" HIDSIM_TRAFFIC_SUMMARY="$work/update.traffic" \
    "$cli" update receiver --json > "$work/update.out" 2> "$work/update.err" &
cli_pid=$!
wait_for 60 grep -q '%$' "$work/update.err" || fail "no progress on stderr: $(cat "$work/update.err")"
kill -TERM "$cli_pid"
wait "$cli_pid"; rc=$?
[ "$rc" = 0 ] || fail "update receiver, interrupted during the transfer, exited with $rc"
[ "$(field "$work/update.out" 'd["device"]["firmware"], d["finalState"], d["offer"]["version"]')" = \
  "('1.46.0', 'Finished', '1.46.0')" ] || fail "update --json: $(cat "$work/update.out")"
[ "$(grep -E '^(100%|rebooting|Finished)$' "$work/update.err" | tr '\n' ' ')" = "100% rebooting Finished " ] ||
    fail "progress on stderr: $(tr '\n' ' ' < "$work/update.err")"
grep -q '^R-0001 [1-9]' "$work/update.traffic" || fail "the simulator counted no writes of a whole update"

run_cli "$work/one.json" refused update R-0001 --file "$work/cut.dfu"
[ "$rc" = 5 ] || fail "a cut image gave $rc"
[ -f "$work/refused.traffic" ] && ! grep -q '^R-0001 ' "$work/refused.traffic" ||
    fail "a refused image reached the receiver: $(cat "$work/refused.traffic" 2>/dev/null)"

run_cli "$work/two.json" two update receiver
[ "$rc" = 3 ] || fail "two receivers of two families gave $rc"
grep -q 'R-0001, P-0001' "$work/two.err" || fail "the serials were not named: $(cat "$work/two.err")"

ask "click receiverTile" > /dev/null
wait_for 60 shown updateButton || fail "UPDATE did not show on the receiver page"
ask "click updateButton" > /dev/null
wait_for 30 on_page progressPage || fail "the window did not start its update"
run_cli "$work/one.json" busy update receiver --json
[ "$rc" = 7 ] || fail "update during the window's update gave $rc"
[ "$(field "$work/busy.out" 'd["result"]')" = busy ] || fail "busy --json: $(cat "$work/busy.out")"
[ ! -s "$work/busy.traffic" ] || fail "a busy command touched its devices: $(cat "$work/busy.traffic")"
on_page progressPage || fail "the window's update did not outlast the check"
echo "PASS: list, update, refused file, two receivers and busy, with no display"
