#!/usr/bin/env python3
"""Rounds of the per-user installer, killed at random moments: afterwards the installed program must start.

    soak_install.py --build BUILD_DIR [--rounds 50] [--seed N] [--report FILE]

Needs the bundle (`cmake --build BUILD_DIR --target installer_bundle`), xdotool, and Xvfb when there is no
display. Each round runs BUILD_DIR/installer-bundle/Installer in a fresh session on one private home
folder: the first round and every round after one that left no record installs from the welcome page,
the others in update mode (-update, CONTINUE). Most rounds are ended with SIGKILL to the installer's whole
process group (the installer and its tar) at a random moment after the click; the others run through to
LAUNCH SONELLA. After every round, once an installation was recorded, the recorded program must print
its version and show its window; it is then closed with --close. A round fails when it does not.
"""
import argparse
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

TITLE = "^Sonella Desktop$"
INSTALL = (472, 453)    # INSTALL SONELLA on the welcome page, LAUNCH SONELLA on the final page
CONTINUE = (566, 453)   # CONTINUE on the update page


def wait_for(seconds, check):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = check()
        if value:
            return value
        time.sleep(0.1)
    return None


def windows_of(pid):
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid), "--name", TITLE],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout.split()
    return out


def click(window, point):
    subprocess.run(["xdotool", "windowraise", window], stderr=subprocess.DEVNULL)
    subprocess.run(["xdotool", "mousemove", "--sync", "--window", window, str(point[0]), str(point[1]),
                    "click", "1"], stderr=subprocess.DEVNULL)


def processes_of(exe):
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                if os.readlink("/proc/%s/exe" % entry) == exe:
                    found.append(int(entry))
            except OSError:
                pass
    return found


class Soak:
    def __init__(self, args):
        self.args = args
        self.build = os.path.abspath(args.build)
        self.bundle = os.path.join(self.build, "installer-bundle")
        # The version the package carries, as CPack was configured with it.
        with open(os.path.join(self.build, "CPackConfig.cmake"), encoding="utf-8") as config:
            self.version = re.search(r'set\(CPACK_PACKAGE_VERSION "([0-9.]+)"\)', config.read()).group(1)
        self.work = tempfile.mkdtemp(prefix="meldra-install-soak-")
        home = os.path.join(self.work, "home")
        run = os.path.join(self.work, "run")
        os.makedirs(home)
        os.makedirs(run, mode=0o700)
        self.env = dict(os.environ, HOME=home, XDG_RUNTIME_DIR=run, TMPDIR=self.work)
        for name in ("XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "LD_PRELOAD", "QT_QPA_PLATFORM",
                     "MELDRA_UPDATE_URL"):
            self.env.pop(name, None)
        # Nothing to ask for online: the program must start, not update itself.
        self.env["MELDRA_UPDATE_URL"] = "http://127.0.0.1:9"
        self.record = os.path.join(home, ".config/Corvin/Sonella.ini")
        self.rounds = []
        self.failures = []

    def installed(self):
        try:
            with open(self.record) as f:
                for line in f:
                    if line.startswith("InstallLocation="):
                        return os.path.join(line.split("=", 1)[1].strip(), "Meldra")
        except OSError:
            pass
        return None

    def kill_group(self, process):
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        process.wait()

    def close_programs(self, exe):
        for pid in processes_of(exe):
            subprocess.run([exe, "--close"], env=self.env, timeout=30, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            if not wait_for(20, lambda: pid not in processes_of(exe)):
                os.kill(pid, signal.SIGKILL)

    def program_starts(self):
        """The recorded program prints its version, then shows its window and closes on request."""
        exe = self.installed()
        if not exe:
            return None, "nothing recorded yet"
        try:
            version = subprocess.run([exe, "--version"], env=self.env, timeout=30, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, text=True)
        except (OSError, subprocess.TimeoutExpired) as e:
            return False, "--version: %s" % e
        if version.returncode != 0 or self.version not in version.stdout:
            return False, "--version exited %d: %s" % (version.returncode, version.stdout.strip()[-300:])
        program = subprocess.Popen([exe], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   start_new_session=True)
        shown = wait_for(30, lambda: program.poll() is None and windows_of(program.pid))
        code = program.poll()
        self.close_programs(os.path.realpath(exe))
        if program.poll() is None:
            self.kill_group(program)
        if not shown:
            return False, "no window (exit code %s)" % code
        return True, "started"

    def round(self, number, rng):
        exe_before = self.installed()
        update = exe_before is not None
        args = [os.path.join(self.bundle, "Installer")] + (["-update"] if update else [])
        installer = subprocess.Popen(args, cwd=self.bundle, env=self.env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, start_new_session=True)
        entry = {"round": number, "mode": "update" if update else "install"}
        windows = wait_for(30, lambda: windows_of(installer.pid))
        if not windows:
            self.kill_group(installer)
            entry["outcome"] = "no installer window"
            self.failures.append("round %d: the installer showed no window" % number)
            return entry
        time.sleep(0.5)
        record_time = os.path.getmtime(self.record) if os.path.exists(self.record) else 0
        click(windows[0], CONTINUE if update else INSTALL)
        # Four rounds in five are killed. Unpacking takes a fraction of a second here, so half the moments
        # fall in its first 0.4 s and the rest anywhere up to the final page.
        kill_after = None
        if rng.random() < 0.8:
            kill_after = rng.uniform(0.0, 0.4) if rng.random() < 0.5 else rng.uniform(0.0, 3.0)
        entry["kill_after_s"] = None if kill_after is None else round(kill_after, 2)
        started = time.monotonic()
        if kill_after is not None:
            while time.monotonic() - started < kill_after and installer.poll() is None:
                time.sleep(0.01)
            recorded = os.path.exists(self.record) and os.path.getmtime(self.record) != record_time
            self.kill_group(installer)
            entry["outcome"] = "killed after the record" if recorded else "killed"
        else:
            if not wait_for(120, lambda: os.path.exists(self.record) and
                            os.path.getmtime(self.record) != record_time):
                self.kill_group(installer)
                entry["outcome"] = "not recorded"
                self.failures.append("round %d: an installation that was left alone was not recorded" % number)
                return entry
            time.sleep(1)
            windows = windows_of(installer.pid)
            if windows:
                click(windows[0], INSTALL)   # LAUNCH SONELLA
            if not wait_for(30, lambda: installer.poll() is not None):
                self.kill_group(installer)
                self.failures.append("round %d: LAUNCH did not close the installer" % number)
            launched = self.installed()
            if launched and not wait_for(30, lambda: processes_of(os.path.realpath(launched))):
                self.failures.append("round %d: LAUNCH started no program" % number)
            if launched:
                self.close_programs(os.path.realpath(launched))
            entry["outcome"] = "completed"
        ok, why = self.program_starts()
        entry["program"] = why
        if ok is False:
            self.failures.append("round %d (%s, %s): the program does not start: %s" %
                                 (number, entry["mode"], entry["outcome"], why))
        return entry

    def run(self):
        rng = random.Random(self.args.seed)
        for number in range(1, self.args.rounds + 1):
            entry = self.round(number, rng)
            self.rounds.append(entry)
            print(json.dumps(entry), flush=True)
        return not self.failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--rounds", type=int, default=50)
    parser.add_argument("--seed", type=int, default=int(time.time()))
    parser.add_argument("--report")
    args = parser.parse_args()
    if not os.environ.get("DISPLAY"):
        xserver = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support", "xserver.sh")
        return subprocess.call(["sh", xserver, sys.executable] + sys.argv)
    if not shutil.which("xdotool"):
        print("xdotool is needed to click as a user would")
        return 2
    soak = Soak(args)
    print("seed %d, work folder %s" % (args.seed, soak.work), flush=True)
    try:
        ok = soak.run()
    finally:
        exe = soak.installed()
        if exe:
            soak.close_programs(os.path.realpath(exe))
    outcomes = {}
    for entry in soak.rounds:
        key = "%s %s" % (entry["mode"], entry.get("outcome"))
        outcomes[key] = outcomes.get(key, 0) + 1
    starts = sum(1 for e in soak.rounds if e.get("program") == "started")
    print("rounds %d; %s" % (len(soak.rounds), ", ".join("%s %d" % kv for kv in sorted(outcomes.items()))))
    print("program started after %d rounds; failures %d" % (starts, len(soak.failures)))
    for failure in soak.failures:
        print("FAIL: " + failure)
    if args.report:
        with open(args.report, "w") as f:
            json.dump({"seed": args.seed, "rounds": soak.rounds, "failures": soak.failures}, f, indent=1)
    if ok:
        shutil.rmtree(soak.work, ignore_errors=True)
    print("PASS" if ok else "FAIL")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
