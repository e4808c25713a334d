#!/bin/sh
# End to end: the shipped Meldra on the simulator, run from a recorded per-user installation, against a
# hostile update service, three times. First the service offers a newer "linux" program that is an
# unsigned shell script, and answers the receiver's firmware check with a metadata body that never ends.
# Then it answers with gzip bombs (1 GiB of zeros in about 1 MB, sent as Content-Encoding: gzip whatever
# the program asked for): once as the offer list, once as the offered image. Nothing may run, each bomb
# must be refused, and the program's memory must stay bounded.
# Usage: e2e_hostileservice.sh MELDRA HIDSIM   (starts an X server of its own when DISPLAY is not set)
set -u
meldra=$(readlink -f "$1") hidsim=$(readlink -f "$2")
if [ -z "${DISPLAY:-}" ]; then
    exec sh "$(dirname "$0")/../support/xserver.sh" --size 1280x800 sh "$0" "$@"
fi

e2e_processes="meldra_pid service_pid"
. "$(dirname "$0")/../support/e2e.sh"
rss_kb() { sed -n 's/^VmRSS:[^0-9]*\([0-9]*\).*/\1/p' "/proc/$meldra_pid/status" 2>/dev/null; }

export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" TMPDIR="$work/tmp"
unset XDG_DATA_HOME XDG_CONFIG_HOME XDG_CACHE_HOME
mkdir -p "$HOME/.config/Corvin" "$TMPDIR" && mkdir -m 700 "$XDG_RUNTIME_DIR"
# The record names the folder Meldra runs from: as far as the program can tell, Installer put it there.
printf '[General]\nInstallLocation=%s/\n' "$(dirname "$meldra")" > "$HOME/.config/Corvin/Sonella.ini"
printf '{ "devices": [ { "type": "SorrelReceiver", "serial": "R-0001", "firmware": "1.45.0" } ] }\n' \
    > "$work/scenario.json"

# The bomb, made once before any service starts (seconds of CPU, which a loaded machine stretched past the
# service's start-up wait): 1 GiB of zeros, gzip-compressed to about 1 MB.
python3 - "$work/bomb.gz" <<'PY'
import sys, zlib
deflate = zlib.compressobj(9, zlib.DEFLATED, 31)
zeros = bytes(1 << 20)
with open(sys.argv[1], "wb") as out:
    for _ in range(1024):
        out.write(deflate.compress(zeros))
    out.write(deflate.flush())
PY

cat > "$work/hostile.py" <<'PY'
import socket, sys, threading, time
marker, mode, bomb_file = sys.argv[1], sys.argv[2], sys.argv[3]
bomb = open(bomb_file, "rb").read() if mode != "endless" else b""
server = socket.socket()
server.bind(("127.0.0.1", 0))
server.listen(16)
print("MELDRA_UPDATE_URL=http://127.0.0.1:%d" % server.getsockname()[1], flush=True)
def serve(conn):
    request = b""
    while b"\r\n\r\n" not in request:
        chunk = conn.recv(4096)
        if not chunk:
            return
        request += chunk
    target = request.split(b" ")[1].decode()
    if mode != "endless" and "/dfu_firmware/" in target:
        # Lets the program settle after its start, so that its growth is the bomb's alone.
        print("REQUEST %s" % target, flush=True)
        time.sleep(3)
    base = "http://127.0.0.1:%d" % server.getsockname()[1]
    sent = 0
    try:
        if "/app_info/" in target:
            body = ('{"apps":[{"latest_app_version":"9.0.0","app_update_url":"%s/files/setup.sh"}]}' % base).encode()
        elif target == "/files/setup.sh":
            body = ("#!/bin/sh\ntouch '%s'\n" % marker).encode()
        elif ("/dfu_firmware/" in target and mode == "gzip-offers") or target == "/files/bomb.dfu":
            print("GET %s -> 200, a gzip bomb of %d bytes" % (target, len(bomb)), flush=True)
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: %d\r\n"
                         b"Connection: close\r\n\r\n" % len(bomb) + bomb)
            return
        elif "/dfu_firmware/" in target and mode == "gzip-file":
            body = ('{"firmwares":[{"fw_version_dongle":"1.46.0","fw_download_url_dongle":"%s/files/bomb.dfu"}]}' % base).encode()
        elif "/dfu_firmware/" in target:
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n")
            conn.sendall(b'{"firmwares":[')
            filler = b'{"fw_version_dongle":"no","pad":"' + b"x" * 4000 + b'"},'
            while True:
                conn.sendall(filler)
                sent += len(filler)
        else:
            conn.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
            print("GET %s -> 404" % target, flush=True)
            return
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\nConnection: close\r\n\r\n" % len(body) + body)
        print("GET %s -> 200" % target, flush=True)
    except OSError:
        print("GET %s -> cut off by the client after %d bytes" % (target, sent), flush=True)
    finally:
        conn.close()
while True:
    conn, _ = server.accept()
    threading.Thread(target=serve, args=(conn,), daemon=True).start()
PY
# One run of Meldra against the service in a mode; leaves the growth of its resident set (MB) in $growth
# from the moment the firmware check reached the service, sampled every 0.2 s for $1 samples.
run() {
    samples=$1 mode=$2
    python3 "$work/hostile.py" "$work/marker" "$mode" "$work/bomb.gz" > "$work/service.log" 2>&1 &
    service_pid=$!
    n=300; while [ $n -gt 0 ] && ! grep -qs '^MELDRA_UPDATE_URL=' "$work/service.log"; do sleep 0.1; n=$((n - 1)); done
    url=$(sed -n 's/^MELDRA_UPDATE_URL=//p' "$work/service.log")
    [ -n "$url" ] || fail "the hostile service did not start ($mode)"

    MELDRA_UPDATE_URL="$url" HIDSIM_SCENARIO="$work/scenario.json" LD_PRELOAD="$hidsim" \
        "$meldra" > "$work/meldra.log" 2>&1 &
    meldra_pid=$!

    n=50; while [ $n -gt 0 ] && ! grep -q 'dfu_firmware' "$work/service.log"; do sleep 0.2; n=$((n - 1)); done
    [ "$mode" = endless ] || sleep 2
    start=$(rss_kb)
    [ -n "$start" ] || fail "Meldra is not running ($mode)"
    peak=$start
    for _ in $(seq "$samples"); do
        sleep 0.2
        now=$(rss_kb)
        [ -n "$now" ] || fail "Meldra ended ($mode)"
        [ "$now" -gt "$peak" ] && peak=$now
    done
    growth=$(( (peak - start) / 1024 ))
    echo "$mode: ${start} kB when the firmware check began, peak ${peak} kB (+${growth} MB)"
}
stop() {
    kill "$meldra_pid" "$service_pid" 2>/dev/null
    wait "$meldra_pid" "$service_pid" 2>/dev/null
    meldra_pid= service_pid=
}

# Ten seconds of an endless body on loopback: unbounded, that is gigabytes.
run 50 endless
grep -q 'dfu_firmware.*cut off by the client' "$work/service.log" ||
    fail "the endless metadata body was not cut off"
[ "$growth" -lt 64 ] || fail "memory grew by ${growth} MB under an endless metadata body"
[ ! -e "$work/marker" ] || fail "the unsigned installer ran"
# Without a compiled-in key this build never asks for a program; with one, the unsigned file is refused.
if grep -q '/files/setup.sh ' "$work/service.log"; then
    grep -q '/files/setup.sh.minisig -> 404' "$work/service.log" || fail "the installer came without its signature check"
fi
find "$HOME" -type f -perm -u+x | grep -q . && fail "a downloaded file was left executable"
kill -0 "$meldra_pid" 2>/dev/null || fail "Meldra did not keep running"
endless=$growth
stop

# A bomb as the offer list, then as the offered image: each refused at its headers, the program's memory
# within 16 MB of where it was (the shipped program without identity encoding grew by about a gigabyte).
for mode in gzip-offers gzip-file; do
    run 20 "$mode"
    grep -q 'gzip bomb' "$work/service.log" || fail "no bomb was sent ($mode)"
    case $mode in gzip-offers) what='dfu_firmware[^ ]*' ;; *) what='files/bomb.dfu' ;; esac
    # The warning goes to stderr, or to the support log under $HOME where the program keeps one.
    grep -rqs "$what refused: compressed reply" "$work/meldra.log" "$HOME" || fail "the bomb was not refused ($mode)"
    [ "$growth" -lt 16 ] || fail "memory grew by ${growth} MB under a gzip bomb ($mode)"
    find "$HOME" -name 'bomb.dfu*' | grep -q . && fail "the bomb was stored ($mode)"
    kill -0 "$meldra_pid" 2>/dev/null || fail "Meldra did not keep running ($mode)"
    stop
done
echo "PASS: nothing ran, the endless body was cut off (memory +${endless} MB), both gzip bombs were refused"
