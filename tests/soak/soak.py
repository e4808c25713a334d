#!/usr/bin/env python3
"""Long unattended run of the shipped Meldra on the simulated bus, driven as a person would drive it.

    soak.py --build BUILD_DIR --seconds 1800 [--settle 35] [--max-growth-mb 5] [--report FILE]

Starts the local update service and Meldra (under Xvfb when there is no display) with the simulator and the
in-process driver preloaded, warms up with one update and one repair, measures, then for the given time
plugs and unplugs devices every few seconds while it updates and repairs the receiver every so often, some
of them failing on purpose (write errors, a device lost mid-transfer, a plug pulled mid-update, a failed
pairing). At the end it measures again and fails when the program crashed, a page did not match its final
status, a descriptor or thread was left behind, or memory grew beyond the bound.
"""
import argparse
import json
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

RECEIVER = "R-0001"
HEADSET = "H-0001"


class LineClient:
    """One request line, one answer line, on a unix socket; a new connection per request."""

    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()

    def ask(self, line, timeout=10.0):
        with self.lock:
            with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
                s.settimeout(timeout)
                s.connect(self.path)
                s.sendall(line.encode() + b"\n")
                data = b""
                while not data.endswith(b"\n"):
                    chunk = s.recv(65536)
                    if not chunk:
                        break
                    data += chunk
                return data.decode().strip()


class Simulator(LineClient):
    def send(self, request):
        answer = json.loads(self.ask(json.dumps(request)))
        if not answer.get("ok"):
            raise RuntimeError("simulator refused %s: %s" % (request, answer))
        return answer

    def try_send(self, request):
        try:
            return json.loads(self.ask(json.dumps(request))).get("ok", False)
        except (OSError, ValueError):
            return False

    def device(self, serial):
        for d in self.send({"cmd": "list"}).get("devices", []):
            if d.get("serial") == serial:
                return d
        return None


def proc_stats(pid):
    stats = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, value = line.partition(":")
            if key in ("VmRSS", "Threads"):
                stats[key] = int(value.split()[0])
    try:
        with open("/proc/%d/smaps_rollup" % pid) as f:
            for line in f:
                if line.startswith("Pss:"):
                    stats["Pss"] = int(line.split()[1])
                elif line.startswith("Anonymous:"):
                    stats["Anon"] = int(line.split()[1])
    except OSError:
        stats["Pss"] = stats["Anon"] = -1
    stats["fds"] = len(os.listdir("/proc/%d/fd" % pid))
    return stats


class Soak:
    def __init__(self, args):
        self.args = args
        self.build = os.path.abspath(args.build)
        self.work = tempfile.mkdtemp(prefix="meldra-soak-")
        self.log_lines = []
        self.finals = []
        self.failures = []
        self.counts = {}
        self.stop_churn = threading.Event()
        self.pause_churn = threading.Event()
        self.service = None
        self.app = None
        self.app_env = {}

    # ---- set-up -------------------------------------------------------------------------------------
    def note(self, text):
        line = "%7.1f %s" % (time.monotonic() - self.t0, text)
        self.log_lines.append(line)
        print(line, flush=True)

    def count(self, key):
        self.counts[key] = self.counts.get(key, 0) + 1

    def start(self):
        self.t0 = time.monotonic()
        env = dict(os.environ)
        for name in ("HOME", "XDG_RUNTIME_DIR", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"):
            path = os.path.join(self.work, name.lower())
            os.makedirs(path, mode=0o700, exist_ok=True)
            env[name] = path
        env.pop("QT_QPA_PLATFORM", None)
        env.pop("HIDSIM_SCENARIO", None)
        self.env = env

        image = os.path.join(self.build, "resources/firmware/46d.a92.ff00.1/Sorrel_Dongle_T1.46.0.dfu")
        service_log = open(os.path.join(self.work, "service.log"), "w")
        self.service = subprocess.Popen(
            [os.path.join(self.build, "tools/updateservice/updateservice"), "--demo", "--folder",
             os.path.join(self.work, "service"), "--port", "0", "--image", image],
            stdout=service_log, stderr=subprocess.STDOUT, env=env)
        url = None
        for _ in range(300):
            with open(os.path.join(self.work, "service.log")) as f:
                for line in f:
                    if line.startswith("MELDRA_UPDATE_URL="):
                        url = line.split("=", 1)[1].strip()
            if url:
                break
            time.sleep(0.1)
        if not url:
            raise RuntimeError("the update service gave no address")

        control = os.path.join(self.work, "hidsim.sock")
        driver = os.path.join(self.work, "driver.sock")
        app_env = dict(env)
        app_env.update({
            "LD_PRELOAD": "%s:%s" % (os.path.join(self.build, "libhidsim.so"),
                                      os.path.join(self.build, "tests/soak/libmeldrasoakdriver.so")),
            "HIDSIM_CONTROL": control,
            "MELDRA_SOAK_DRIVER": driver,
            "MELDRA_UPDATE_URL": url,
            # Sanitizer builds: the preloaded libraries come before the sanitizer's runtime.
            "ASAN_OPTIONS": (env.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0").lstrip(":"),
        })
        self.app_env = app_env
        self.app_log = os.path.join(self.work, "meldra.log")
        # MELDRA_SOAK_WRAP runs the program under a tool (a heap profiler, say); the figures stay the program's.
        wrap = os.environ.get("MELDRA_SOAK_WRAP", "").split()
        self.app = subprocess.Popen(wrap + [os.path.join(self.build, "Meldra")], stdout=open(self.app_log, "w"),
                                    stderr=subprocess.STDOUT, env=app_env)
        self.pid = self.app.pid
        self.sim = Simulator(control)
        self.driver = LineClient(driver)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if self.app.poll() is not None:
                raise RuntimeError("Meldra exited at start with %d" % self.app.returncode)
            try:
                if self.driver.ask("ping") == "pong" and self.sim.try_send({"cmd": "list"}):
                    break
            except OSError:
                pass
            time.sleep(0.2)
        else:
            raise RuntimeError("Meldra's driver or simulator socket never answered")
        if wrap:
            self.pid = self.find_program(driver)
        self.wait_page("welcomePage", 60)
        self.note("started: Meldra pid %d, service %s" % (self.pid, url))

    def find_program(self, marker):
        exe = os.path.realpath(os.path.join(self.build, "Meldra"))
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                if os.path.realpath("/proc/%s/exe" % entry) != exe:
                    continue
                with open("/proc/%s/environ" % entry, "rb") as f:
                    if marker.encode() in f.read():
                        return int(entry)
            except OSError:
                continue
        raise RuntimeError("the wrapped program is not running")

    # ---- the person in front of the window ---------------------------------------------------------
    def page(self):
        return self.driver.ask("page")

    def wait_page(self, names, timeout):
        if isinstance(names, str):
            names = [names]
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            p = self.page()
            if p in names:
                return p
            self.check_alive()
            time.sleep(0.1)
        raise RuntimeError("waited %ds for %s, the window shows %s" % (timeout, names, self.page()))

    def wait_shown(self, name, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.driver.ask("shown " + name) == "1":
                return True
            self.check_alive()
            time.sleep(0.1)
        return False

    def click(self, name, timeout=10):
        if not self.wait_shown(name, timeout):
            raise RuntimeError("%s never showed on %s" % (name, self.page()))
        if self.driver.ask("click " + name) != "ok":
            raise RuntimeError("could not click %s on %s" % (name, self.page()))

    def home(self):
        for _ in range(12):
            p = self.page()
            if p == "welcomePage":
                return
            for button in ("doneButton", "dfuDoneButton", "backButton", "tryAgainButton"):
                if self.driver.ask("shown " + button) == "1":
                    self.driver.ask("click " + button)
                    break
            time.sleep(0.5)
        raise RuntimeError("could not get back to the welcome page from %s" % self.page())

    def open_receiver(self):
        self.home()
        self.click("receiverTile", 20)
        self.wait_page("receiverPage", 10)

    def take_events(self):
        got = [e for e in self.driver.ask("events").split("|") if e]
        for e in got:
            if " final " in e:
                self.finals.append(e)
                self.count("final " + e.split()[0] + " " + e.split()[2])
                if e.endswith("MISMATCH"):
                    self.failures.append("page mismatch: " + e)
            if e.startswith("attached") and not e.endswith("ok"):
                self.failures.append("driver could not follow the mediator's signals")
        return got

    def wait_final(self, operation, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for e in self.take_events():
                self.note("  event: " + e)
                if e.startswith(operation + " final"):
                    return e
            self.check_alive()
            time.sleep(0.2)
        raise RuntimeError("no final %s status within %ds (page %s)" % (operation, timeout, self.page()))

    def check_alive(self):
        if self.app.poll() is not None:
            raise RuntimeError("Meldra exited with %d" % self.app.returncode)

    # ---- operations ----------------------------------------------------------------------------------
    def ensure_receiver(self):
        d = self.sim.device(RECEIVER)
        if d is None:
            self.sim.send({"cmd": "plug", "device": {"type": "SorrelReceiver", "serial": RECEIVER,
                                                     "firmware": "1.45.0"}})
        elif d.get("mode") != "normal" or not str(d.get("firmware", "")).startswith("1.45"):
            # Firmware changes only with a new appearance on the bus, which is when the program reads it.
            self.sim.send({"cmd": "unplug", "serial": RECEIVER})
            self.sim.send({"cmd": "plug", "device": {"type": "SorrelReceiver", "serial": RECEIVER,
                                                     "firmware": "1.45.0"}})
        self.sim.send({"cmd": "fault", "serial": RECEIVER})
        self.driver.ask("dfuclear")

    def update(self, kind):
        self.note("update (%s)" % kind)
        self.ensure_receiver()
        self.open_receiver()
        # The offer is fetched and downloaded after the receiver page asked; UPDATE shows once it is on disk.
        if not self.wait_shown("updateButton", 60):
            raise RuntimeError("UPDATE never showed on the receiver page")
        if kind == "write-error":
            self.driver.ask("dfufault %s errorAtPercent=%d" % (RECEIVER, random.randint(5, 90)))
        elif kind == "lost":
            self.driver.ask("dfufault %s lostAtPercent=%d" % (RECEIVER, random.randint(5, 90)))
        self.click("updateButton")
        if kind == "unplug":
            # Pull the plug once the device flashes in update mode.
            deadline = time.monotonic() + 40
            while time.monotonic() < deadline:
                d = self.sim.device(RECEIVER)
                if d and d.get("mode") == "update":
                    time.sleep(random.uniform(0.5, 3.0))
                    self.sim.try_send({"cmd": "unplug", "serial": RECEIVER})
                    break
                time.sleep(0.2)
        final = self.wait_final("update", 120)
        self.count("update " + kind)
        self.ensure_receiver()
        return final

    def repair(self, outcome):
        self.note("repair (%s)" % outcome)
        self.ensure_receiver()
        self.sim.send({"cmd": "set", "serial": RECEIVER, "repair": {"outcome": outcome, "after": 2}})
        self.open_receiver()
        # The page grows an UPDATE button once the offer for 1.45 is on disk, and the buttons below move:
        # wait for it, as a person would see the page settle before reaching for RECONNECT.
        self.wait_shown("updateButton", 60)
        time.sleep(0.5)
        self.click("repairButton")
        shown = self.wait_page(["repairPage", "progressPage"], 10)
        if shown == "progressPage":
            # The click started something else: note it, let it end, and go on.
            self.failures.append("RECONNECT led to the progress page, not the repair page")
            self.wait_final("update", 120)
            return None
        self.click("nextButton")
        final = self.wait_final("repair", 60)
        self.count("repair " + outcome)
        return final

    # ---- the crowd on the bus ------------------------------------------------------------------------
    def churn(self):
        rng = random.Random(7)
        foreign = ["F-%d" % i for i in range(4)]
        plugged = set()
        while not self.stop_churn.wait(rng.uniform(1.5, 4.0)):
            if self.pause_churn.is_set():
                continue
            move = rng.choice(["headset", "foreign", "foreign", "plus-headset"])
            if move == "headset":
                ok = self.sim.try_send({"cmd": "replug", "serial": HEADSET, "afterMs": rng.randint(200, 1500)})
            elif move == "foreign":
                serial = rng.choice(foreign)
                if serial in plugged:
                    ok = self.sim.try_send({"cmd": "unplug", "serial": serial})
                    plugged.discard(serial)
                else:
                    ok = self.sim.try_send({"cmd": "plug", "device": {
                        "vendorId": "0x1234", "productId": "0x%x" % (0x5000 + foreign.index(serial)),
                        "usagePage": "0x1", "usage": rng.choice(["0x2", "0x6"]), "serial": serial}})
                    plugged.add(serial)
            else:
                if "PH-1" in plugged:
                    ok = self.sim.try_send({"cmd": "unplug", "serial": "PH-1"})
                    plugged.discard("PH-1")
                else:
                    ok = self.sim.try_send({"cmd": "plug", "device": {
                        "type": "SorrelPlusHeadset", "serial": "PH-1", "firmware": "1.40.0"}})
                    plugged.add("PH-1")
            self.count("bus change" if ok else "bus change refused")
        for serial in plugged:
            self.sim.try_send({"cmd": "unplug", "serial": serial})

    # ---- measuring -----------------------------------------------------------------------------------
    def settle_and_measure(self, label):
        self.home()
        self.note("settling %ds before measuring (%s)" % (self.args.settle, label))
        time.sleep(self.args.settle)
        self.take_events()
        s = proc_stats(self.pid)
        # A descriptor may be open for a moment (a kept-alive connection of an update check, a device
        # handle of the poll), and so may a thread (the read retry of a device that does not answer, every
        # few seconds): each count is the least of a few looks, so only what stays counts.
        for _ in range(5):
            time.sleep(0.5)
            look = proc_stats(self.pid)
            s["fds"] = min(s["fds"], look["fds"])
            s["Threads"] = min(s["Threads"], look["Threads"])
        self.note("%s: RSS %d kB, PSS %d kB, anonymous %d kB, %d fds, %d threads" % (
            label, s["VmRSS"], s["Pss"], s["Anon"], s["fds"], s["Threads"]))
        return s

    def run(self):
        self.start()
        self.update("ok")
        self.repair("0x40")
        before = self.settle_and_measure("before")

        churn = threading.Thread(target=self.churn, daemon=True)
        churn.start()
        plan = ["ok", "write-error", "repair 0x40", "unplug", "ok", "repair 0x08", "lost", "repair 0x20"]
        step = 0
        samples = []
        end = time.monotonic() + self.args.seconds
        last_sample = 0
        while time.monotonic() < end:
            what = plan[step % len(plan)]
            step += 1
            if what.startswith("repair"):
                self.repair(what.split()[1])
            else:
                self.update(what)
            self.home()
            # Idle on the welcome page between operations, while the bus keeps changing.
            idle_until = min(end, time.monotonic() + self.args.idle)
            while time.monotonic() < idle_until:
                time.sleep(1)
                self.check_alive()
                for e in self.take_events():
                    self.note("  event: " + e)
            if time.monotonic() - last_sample > 60:
                last_sample = time.monotonic()
                s = proc_stats(self.pid)
                samples.append(s)
                self.note("sample: RSS %d kB, PSS %d kB, anonymous %d kB, %d fds, %d threads" % (
                    s["VmRSS"], s["Pss"], s["Anon"], s["fds"], s["Threads"]))
        self.stop_churn.set()
        churn.join(30)
        # Back to the bus of the start.
        self.sim.try_send({"cmd": "unplug", "serial": HEADSET})
        self.sim.send({"cmd": "plug", "device": {"type": "SorrelHeadset", "serial": HEADSET,
                                                 "firmware": "1.44.0", "revision": 3}})
        self.ensure_receiver()
        after = self.settle_and_measure("after")
        return before, after, samples

    def close(self):
        """Asks the running instance to close through the single-instance request, as a second start does."""
        code = None
        if self.app and self.app.poll() is None:
            closer_env = dict(self.app_env)
            closer_env["LD_PRELOAD"] = os.path.join(self.build, "libhidsim.so")
            for name in ("HIDSIM_CONTROL", "MELDRA_SOAK_DRIVER"):
                closer_env.pop(name, None)
            subprocess.run([os.path.join(self.build, "Meldra"), "--close"], env=closer_env, timeout=60,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                code = self.app.wait(30)
            except subprocess.TimeoutExpired:
                self.failures.append("Meldra did not close when asked")
                self.app.kill()
                self.app.wait()
        elif self.app:
            code = self.app.returncode
        if self.service:
            self.service.send_signal(signal.SIGTERM)
            self.service.wait(10)
        return code


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--seconds", type=int, default=1800)
    parser.add_argument("--settle", type=int, default=35, help="idle seconds before each measurement")
    parser.add_argument("--idle", type=int, default=20, help="idle seconds between operations")
    parser.add_argument("--max-growth-mb", type=float, default=5.0,
                        help="bound on RSS and anonymous memory growth; negative: reported only")
    parser.add_argument("--report")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    args = parser.parse_args()

    if not os.environ.get("DISPLAY"):
        xserver = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support", "xserver.sh")
        return subprocess.call(["sh", xserver, sys.executable] + sys.argv)

    random.seed(11)
    # A stopped run still ends what it started.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    soak = Soak(args)
    before = after = None
    samples = []
    try:
        before, after, samples = soak.run()
    except Exception as error:  # noqa: BLE001 - every failure ends in the report
        soak.failures.append("run stopped: %s" % error)
    finally:
        code = soak.close()
    with open(soak.app_log) as f:
        app_output = f.read()
    for marker in ("ERROR: AddressSanitizer", "runtime error:", "ThreadSanitizer", "LeakSanitizer"):
        if marker in app_output:
            soak.failures.append("sanitizer report in Meldra's output (%s)" % marker)
    if code not in (0, None):
        soak.failures.append("Meldra ended with %s" % code)

    lines = ["duration %d s (plus warm-up and settling)" % args.seconds]
    if before and after:
        rss = (after["VmRSS"] - before["VmRSS"]) / 1024.0
        pss = (after["Pss"] - before["Pss"]) / 1024.0
        anon = (after["Anon"] - before["Anon"]) / 1024.0
        lines.append("RSS %d -> %d kB (%+.2f MB), anonymous %d -> %d kB (%+.2f MB), PSS %d -> %d kB (%+.2f MB)" % (
            before["VmRSS"], after["VmRSS"], rss, before["Anon"], after["Anon"], anon, before["Pss"], after["Pss"],
            pss))
        lines.append("descriptors %d -> %d, threads %d -> %d" % (before["fds"], after["fds"],
                                                                 before["Threads"], after["Threads"]))
        if after["fds"] > before["fds"]:
            soak.failures.append("descriptors grew")
        if after["Threads"] > before["Threads"]:
            soak.failures.append("threads grew")
        # PSS moves with every other process that maps the same libraries; the bound is on our own pages.
        if args.max_growth_mb >= 0 and max(rss, anon) > args.max_growth_mb:
            soak.failures.append("memory grew by more than %.1f MB" % args.max_growth_mb)
    if samples:
        lines.append("samples (RSS/anonymous kB): " + " ".join("%d/%d" % (s["VmRSS"], s["Anon"]) for s in samples))
    lines.append("exit code on close: %s" % code)
    lines.append("counts: " + ", ".join("%s %d" % (k, v) for k, v in sorted(soak.counts.items())))
    lines.append("final statuses checked against pages: %d, mismatches: %d" % (
        len(soak.finals), sum(1 for e in soak.finals if e.endswith("MISMATCH"))))
    lines += ["FAIL: " + f for f in soak.failures] or ["PASS"]
    print("\n".join(lines))
    if args.report:
        with open(args.report, "w") as f:
            f.write("\n".join(soak.log_lines + [""] + lines) + "\n")
    if args.keep or soak.failures:
        print("work folder: %s" % soak.work)
    else:
        shutil.rmtree(soak.work, ignore_errors=True)
    return 1 if soak.failures else 0


if __name__ == "__main__":
    sys.exit(main())
