#!/usr/bin/env python3
"""Start-up to the first frame, idle memory and idle CPU of Meldra against a bare Qt Quick window.

Both programs run as separate processes with the same frame probe preloaded; Meldra runs as shipped, on
the HID simulator (LD_PRELOAD) with a receiver and a headset, and with its update service pointed at a
closed loopback port so that nothing leaves the machine. Needs a running X server with OpenGL (run.sh
starts Xvfb).
"""
import argparse
import json
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def proc_memory_kib(pid):
    rss = pss = None
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                rss = int(line.split()[1])
    try:
        with open(f"/proc/{pid}/smaps_rollup") as f:
            for line in f:
                if line.startswith("Pss:"):
                    pss = int(line.split()[1])
    except OSError:
        pass
    return rss, pss


def proc_cpu_ticks(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    # Fields after the command: state is index 0, utime 11, stime 12.
    return int(fields[11]) + int(fields[12])


class Program:
    def __init__(self, name, argv, env, work):
        self.name, self.argv, self.env, self.work = name, argv, env, work
        self.runs = 0

    def start(self):
        """Starts one process; returns (process, report path, start time in ns)."""
        self.runs += 1
        run = os.path.join(self.work, f"{self.name}-{self.runs}")
        os.makedirs(os.path.join(run, "tmp"))
        os.mkdir(os.path.join(run, "runtime"), 0o700)
        env = dict(self.env)
        env["XDG_RUNTIME_DIR"] = os.path.join(run, "runtime")
        env["TMPDIR"] = os.path.join(run, "tmp")
        report = os.path.join(run, "report")
        env["UIBENCH_REPORT"] = report
        log = open(os.path.join(run, "log"), "wb")
        start = time.monotonic_ns()
        process = subprocess.Popen(self.argv, env=env, stdout=log, stderr=subprocess.STDOUT)
        log.close()
        return process, report, start

    @staticmethod
    def first_frame(process, report, timeout=60.0):
        """The probe's times in ns: application object made, first event of the window, first frame."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if process.poll() is not None:
                raise RuntimeError(f"exited with {process.returncode} before its first frame")
            try:
                with open(report) as f:
                    times = dict(line.split() for line in f if line.strip())
                if "first-frame" in times:
                    return int(times.get("application", 0)), int(times.get("window", 0)), int(times["first-frame"])
            except FileNotFoundError:
                pass
            time.sleep(0.002)
        raise RuntimeError("no first frame")

    @staticmethod
    def stop(process):
        if process.poll() is None:
            process.send_signal(signal.SIGTERM)
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()

    def measure(self, idle_seconds, attempts=3):
        for attempt in range(attempts):
            process, report, start = self.start()
            try:
                application, window, frame = self.first_frame(process, report)
                time.sleep(idle_seconds)
                rss, pss = proc_memory_kib(process.pid)
                return ((frame - start) / 1e6, rss, pss, (application - start) / 1e6,
                        (window - start) / 1e6)
            except RuntimeError as error:
                # An X server that resets between its clients refuses connections for a moment.
                if attempt + 1 == attempts:
                    raise RuntimeError(f"{self.name}: {error}") from None
                time.sleep(0.5)
            finally:
                self.stop(process)


def click_latencies(program, rounds, timeout=180.0):
    """Opens the receiver page and goes back, rounds times; the latency of each click in ms."""
    program.env = dict(program.env, UIBENCH_CLICKS="receiverTile:receiverPage,backButton:welcomePage",
                       UIBENCH_CLICK_ROUNDS=str(rounds))
    process, report, _ = program.start()
    try:
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if process.poll() is not None:
                raise RuntimeError(f"{program.name}: exited with {process.returncode} while clicking")
            try:
                with open(report) as f:
                    lines = [line.split() for line in f if line.strip()]
                if any(line[0] == "clicks-done" for line in lines):
                    return [int(line[2]) / 1e6 for line in lines if line[0] == "click"]
            except FileNotFoundError:
                pass
            time.sleep(0.05)
        raise RuntimeError(f"{program.name}: clicks did not end in {timeout:g} s")
    finally:
        Program.stop(process)


def control(path, request, timeout=10.0):
    """One request to the simulator's control socket; its answer."""
    with socket.socket(socket.AF_UNIX) as s:
        s.settimeout(timeout)
        s.connect(path)
        s.sendall((json.dumps(request) + "\n").encode())
        data = b""
        while not data.endswith(b"\n"):
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    answer = json.loads(data)
    if not answer.get("ok"):
        raise RuntimeError(f"simulator refused {request}: {answer}")
    return answer


def report_lines(report):
    try:
        with open(report) as f:
            return [line.split() for line in f if line.strip()]
    except FileNotFoundError:
        return []


def wait_for(process, report, predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise RuntimeError(f"exited with {process.returncode} while waiting for {what}")
        found = predicate(report_lines(report))
        if found is not None:
            return found
        time.sleep(0.002)
    raise RuntimeError(f"no {what} within {timeout:g} s")


def longest_gap(lines, since_ns=0):
    gaps = [int(line[1]) for line in lines if line[0] == "gap" and int(line[2]) >= since_ns]
    return max(gaps) / 1e6 if gaps else 0.0


def live_bus(program, idle_seconds, rounds):
    """On one running Meldra: enumerations per minute on an idle bus, the time from a plug or an unplug of
    the receiver to the welcome page following it, and the longest frame meanwhile."""
    sock = os.path.join(program.work, f"{program.name}.sock")
    program.env = dict(program.env, HIDSIM_CONTROL=sock, UIBENCH_STALLS="1",
                       UIBENCH_WATCH="welcomePage:receiverType")
    process, report, _ = program.start()
    try:
        Program.first_frame(process, report)
        wait_for(process, report, lambda lines: True if any(l[0] == "watch" for l in lines) else None, 30,
                 "the welcome page")
        time.sleep(3)
        before = control(sock, {"cmd": "enumerations"})["count"]
        t0 = time.monotonic()
        time.sleep(idle_seconds)
        after = control(sock, {"cmd": "enumerations"})["count"]
        per_minute = (after - before) * 60.0 / (time.monotonic() - t0)
        receiver = {"type": "SorrelReceiver", "serial": "R-0001", "firmware": "1.45.0"}
        follows = []
        since = time.monotonic_ns()
        for _ in range(rounds):
            for request, gone in (({"cmd": "unplug", "serial": "R-0001"}, True),
                                  ({"cmd": "plug", "device": receiver}, False)):
                at = time.monotonic_ns()
                control(sock, request)

                def followed(lines):
                    for line in lines:
                        if line[0] == "watch" and int(line[2]) >= at and (line[1] == "0") == gone:
                            return int(line[2])
                    return None
                follows.append((wait_for(process, report, followed, 10, "the tile following") - at) / 1e6)
                time.sleep(0.6)
        return per_minute, follows, longest_gap(report_lines(report), since)
    finally:
        Program.stop(process)


def update_run(program, build, timeout=120.0):
    """The receiver updated through the window with the image that the local update service offers; the
    longest frame from the click on its tile to the welcome page again."""
    image = os.path.join(build, "resources/firmware/46d.a92.ff00.1/Sorrel_Dongle_T1.46.0.dfu")
    service_log = os.path.join(program.work, "service.log")
    with open(service_log, "w") as log:
        service = subprocess.Popen([os.path.join(build, "tools/updateservice/updateservice"), "--demo", "--folder",
                                    os.path.join(program.work, "service"), "--port", "0", "--image", image],
                                   stdout=log, stderr=subprocess.STDOUT)
    process = None
    try:
        url = wait_for(service, service_log, lambda lines: next(
            (l[0].split("=", 1)[1] for l in lines if l and l[0].startswith("MELDRA_UPDATE_URL=")), None),
            30, "the update service's address")
        program.env = dict(program.env, MELDRA_UPDATE_URL=url, UIBENCH_STALLS="1", UIBENCH_CLICK_ROUNDS="1",
                           UIBENCH_CLICKS="receiverTile:receiverPage,updateButton:progressPage,"
                                          "doneButton:welcomePage")
        process, report, _ = program.start()
        lines = wait_for(process, report, lambda l: l if any(x[0] == "clicks-done" for x in l) else None,
                         timeout, "the update through the window")
        pages = [line[1] for line in lines if line[0] == "click"]
        if pages != ["receiverTile", "updateButton", "doneButton"]:
            raise RuntimeError(f"the update did not go through the pages: clicked {pages}")
        return longest_gap(lines)
    finally:
        if process:
            Program.stop(process)
        Program.stop(service)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", help="the build folder (holds Meldra, libhidsim.so and bench/ui)")
    parser.add_argument("--runs", type=int, default=11, help="start-ups per program, alternating (median)")
    parser.add_argument("--idle", type=float, default=2.0, help="seconds of idling before memory is read")
    parser.add_argument("--cpu-seconds", type=float, default=60.0, help="length of the CPU window")
    parser.add_argument("--before", metavar="BUILD",
                        help="another build's Meldra, started in turn with the two others, for before/after figures")
    parser.add_argument("--click-rounds", type=int, default=8,
                        help="receiver page opened and left this often, with an answering and a silent receiver")
    parser.add_argument("--live-seconds", type=float, default=60.0,
                        help="length of the idle window in which enumerations are counted")
    parser.add_argument("--plug-rounds", type=int, default=5, help="unplug and plug the receiver this often")
    parser.add_argument("--only-startup", action="store_true", help="only the start-ups and the memory")
    parser.add_argument("--only-live", action="store_true",
                        help="only the live bus and the update: enumerations, tile following, longest frame")
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    meldra = os.path.join(build, "Meldra")
    hidsim = os.path.join(build, "libhidsim.so")
    probe = os.path.join(build, "bench", "ui", "libuibench_probe.so")
    bare = os.path.join(build, "bench", "ui", "bench_bare_window")
    for path in (meldra, hidsim, probe, bare):
        if not os.path.exists(path):
            sys.exit(f"missing {path}: build Meldra hidsim uibench_probe bench_bare_window first")
    if not os.environ.get("DISPLAY"):
        sys.exit("no DISPLAY: run under an X server (run.sh starts Xvfb)")

    work = tempfile.mkdtemp(prefix="meldra-uibench.")
    try:
        home = os.path.join(work, "home")
        os.mkdir(home)
        base = {k: v for k, v in os.environ.items()
                if k not in ("QT_QUICK_BACKEND", "LD_PRELOAD", "HIDSIM_SCENARIO", "HIDSIM_CONTROL")
                and not k.startswith("XDG_")}
        if not os.environ.get("DBUS_SESSION_BUS_ADDRESS"):
            print("note: no session bus; run.sh starts one (dbus-run-session), as a desktop has", file=sys.stderr)
        # One home for every run: the QML cache is warm after the first start-up, as on a user's machine.
        base.update(HOME=home, QT_QPA_PLATFORM="xcb")
        scenario = os.path.join(work, "scenario.json")
        with open(scenario, "w") as f:
            json.dump({"devices": [
                {"type": "SorrelReceiver", "serial": "R-0001", "firmware": "1.45.0"},
                {"type": "SorrelHeadset", "serial": "H-0001", "firmware": "1.44.0", "revision": 3}]}, f)
        meldra_env = dict(base, LD_PRELOAD=f"{hidsim}:{probe}", HIDSIM_SCENARIO=scenario,
                          MELDRA_UPDATE_URL=f"http://127.0.0.1:{closed_port()}")
        programs = [Program("bare", [bare], dict(base, LD_PRELOAD=probe), work),
                    Program("meldra", [meldra], meldra_env, work)]
        if args.before:
            programs.append(Program("before", [os.path.join(os.path.abspath(args.before), "Meldra")], meldra_env,
                                    work))

        # The live bus and an update, with answering devices; the update at the fastest pacing of the link.
        live = not args.only_startup
        live_scenario = os.path.join(work, "live.json")
        with open(live_scenario, "w") as f:
            json.dump({"devices": [
                {"type": "SorrelReceiver", "serial": "R-0001", "firmware": "1.45.0"},
                {"type": "SorrelHeadset", "serial": "H-0001", "firmware": "1.44.0", "revision": 3}],
                "timing": {"updateReportIntervalUs": 0, "reenumerateMs": 300, "resetMs": 300}}, f)
        live_env = dict(meldra_env, HIDSIM_SCENARIO=live_scenario)
        if live:
            enumerations, follows, gap_plugging = live_bus(Program("live", [meldra], dict(live_env), work),
                                                           args.live_seconds, args.plug_rounds)
            gap_update = update_run(Program("update", [meldra], dict(live_env), work), build)
            print(f"idle enumerations per minute {enumerations:10.1f} {'':>10} {'':>7} {'<=0':>7}")
            print(f"{'tile follows plug, worst (ms)':32} {max(follows):10.1f} {'':>10} {'':>7} {'<=300ms':>7}")
            print(f"{'longest frame (ms)':32} {max(gap_plugging, gap_update):10.1f} {'':>10} {'':>7} "
                  f"{'<=50ms':>7}")
            print(f"longest frame while plugging {gap_plugging:.1f} ms, during the update {gap_update:.1f} ms; "
                  f"tile following (ms): " + " ".join(f"{v:.0f}" for v in follows))
        if args.only_live:
            return

        for program in programs:  # warm-up: QML cache, fonts, shared libraries in the page cache
            program.measure(0)
        results = {p.name: [] for p in programs}
        for _ in range(args.runs):  # interleaved, so that a busy moment of the machine hits both
            for program in programs:
                results[program.name].append(program.measure(args.idle))

        if args.only_startup:
            report_startup(args, results)
            return
        # Both idle side by side for the CPU window: Meldra polls its two devices on the welcome page.
        started = [(p,) + p.start() for p in programs[:2]]
        try:
            for program, process, report, _ in started:
                Program.first_frame(process, report)
            time.sleep(2)
            with open(f"/proc/{started[1][1].pid}/maps") as f:
                if "libhidsim.so" not in f.read():
                    sys.exit("Meldra did not load the simulator")
            before = [proc_cpu_ticks(process.pid) for _, process, _, _ in started]
            t0 = time.monotonic()
            time.sleep(args.cpu_seconds)
            elapsed = time.monotonic() - t0
            after = [proc_cpu_ticks(process.pid) for _, process, _, _ in started]
        finally:
            for _, process, _, _ in started:
                Program.stop(process)
        cpu = {p.name: 100.0 * (a - b) / CLOCK_TICKS / elapsed
               for (p, _, _, _), b, a in zip(started, before, after)}

        # Clicks on the receiver page and back, with the receiver answering and with one that never does.
        clicks = {}
        for name, faults in (("answering", {}), ("silent", {"readTimeout": True})):
            path = os.path.join(work, f"clicks-{name}.json")
            with open(path, "w") as f:
                json.dump({"devices": [
                    {"type": "SorrelReceiver", "serial": "R-0001", "firmware": "1.45.0", "faults": faults},
                    {"type": "SorrelHeadset", "serial": "H-0001", "firmware": "1.44.0", "revision": 3}]}, f)
            program = Program(f"clicks-{name}", [meldra], dict(meldra_env, HIDSIM_SCENARIO=path), work)
            clicks[name] = click_latencies(program, args.click_rounds)
    finally:
        shutil.rmtree(work, ignore_errors=True)

    report_startup(args, results)
    print(f"{'CPU over %g s (%% of one core)' % args.cpu_seconds:32} {cpu['bare']:10.3f} "
          f"{cpu['meldra']:10.3f} {'':>7} {'<=1.0':>7}")
    worst = {name: max(values) if values else float("nan") for name, values in clicks.items()}
    print(f"{'click to page, worst (ms)':32} {worst['answering']:10.1f} {worst['silent']:10.1f} "
          f"{worst['silent'] / worst['answering']:7.2f} {'<=300ms':>7}")
    for name, values in clicks.items():
        print(f"clicks with the receiver {name} (ms): " + " ".join(f"{v:.1f}" for v in values))


def report_startup(args, results):
    def median(name, index):
        values = [r[index] for r in results[name] if r[index] is not None]
        return statistics.median(values) if values else float("nan")

    rows = [("start-up to first frame (ms)", 0, 1.0, 1.3), ("  to the application object (ms)", 3, 1.0, None),
            ("  to the window's first event (ms)", 4, 1.0, None),
            ("idle RSS (MiB)", 1, 1024.0, 1.2), ("idle PSS (MiB)", 2, 1024.0, 1.3)]
    bus = "under a running session bus" if os.environ.get("DBUS_SESSION_BUS_ADDRESS") else "WITHOUT a session bus"
    print(f"Meldra (two simulated devices) against a bare 520x422 Qt Quick window, both {bus}; "
          f"median of {args.runs} alternating start-ups each, memory after {args.idle:g} s idle")
    print(f"{'':32} {'bare':>10} {'Meldra':>10} {'ratio':>7} {'aim':>7}")
    for label, index, scale, aim in rows:
        b, m = median("bare", index) / scale, median("meldra", index) / scale
        aim_text = f"<={aim}" if aim else ""
        print(f"{label:32} {b:10.1f} {m:10.1f} {m / b:7.2f} {aim_text:>7}")
    if args.before:
        print(f"before ({args.before}), in turn with the two above")
        for label, index, scale, aim in rows:
            b, m = median("bare", index) / scale, median("before", index) / scale
            print(f"{label:32} {b:10.1f} {m:10.1f} {m / b:7.2f}")
        print("start-ups before (ms): " + " ".join(f"{r[0]:.0f}" for r in results["before"]))
    print("start-ups (ms): bare " + " ".join(f"{r[0]:.0f}" for r in results["bare"]) +
          "; Meldra " + " ".join(f"{r[0]:.0f}" for r in results["meldra"]))

if __name__ == "__main__":
    main()
