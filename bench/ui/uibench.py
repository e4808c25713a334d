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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", help="the build folder (holds Meldra, libhidsim.so and bench/ui)")
    parser.add_argument("--runs", type=int, default=7, help="start-ups per program (median)")
    parser.add_argument("--idle", type=float, default=2.0, help="seconds of idling before memory is read")
    parser.add_argument("--cpu-seconds", type=float, default=60.0, help="length of the CPU window")
    parser.add_argument("--before", metavar="BUILD",
                        help="another build's Meldra, started in turn with the two others, for before/after figures")
    parser.add_argument("--click-rounds", type=int, default=8,
                        help="receiver page opened and left this often, with an answering and a silent receiver")
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

        for program in programs:  # warm-up: QML cache, fonts, shared libraries in the page cache
            program.measure(0)
        results = {p.name: [] for p in programs}
        for _ in range(args.runs):  # interleaved, so that a busy moment of the machine hits both
            for program in programs:
                results[program.name].append(program.measure(args.idle))

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

    def median(name, index):
        values = [r[index] for r in results[name] if r[index] is not None]
        return statistics.median(values) if values else float("nan")

    rows = [("start-up to first frame (ms)", 0, 1.0, 1.3), ("  to the application object (ms)", 3, 1.0, None),
            ("  to the window's first event (ms)", 4, 1.0, None),
            ("idle RSS (MiB)", 1, 1024.0, 1.2), ("idle PSS (MiB)", 2, 1024.0, 1.3)]
    print(f"Meldra (two simulated devices) against a bare 520x422 Qt Quick window; "
          f"median of {args.runs} start-ups each, memory after {args.idle:g} s idle")
    print(f"{'':32} {'bare':>10} {'Meldra':>10} {'ratio':>7} {'aim':>7}")
    for label, index, scale, aim in rows:
        b, m = median("bare", index) / scale, median("meldra", index) / scale
        aim_text = f"<={aim}" if aim else ""
        print(f"{label:32} {b:10.1f} {m:10.1f} {m / b:7.2f} {aim_text:>7}")
    print(f"{'CPU over %g s (%% of one core)' % args.cpu_seconds:32} {cpu['bare']:10.3f} "
          f"{cpu['meldra']:10.3f} {'':>7} {'<=1.0':>7}")
    worst = {name: max(values) if values else float("nan") for name, values in clicks.items()}
    print(f"{'click to page, worst (ms)':32} {worst['answering']:10.1f} {worst['silent']:10.1f} "
          f"{worst['silent'] / worst['answering']:7.2f} {'<=300ms':>7}")
    for name, values in clicks.items():
        print(f"clicks with the receiver {name} (ms): " + " ".join(f"{v:.1f}" for v in values))
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
