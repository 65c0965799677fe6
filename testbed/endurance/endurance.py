#!/usr/bin/env python3
"""Months unattended, in minutes: the endurance run.

    testbed/endurance/endurance.py [--days N] [--seed N] [--rate R] [--build DIR]

The installed-style client (BUILD/bin/qrv3, a process of its own) runs in a
private network and mount namespace against the testbed's servers for N
simulated days, its clock and every wait of its own and of its cores sped
up RATE times by libfaketime (simclock.py). A seeded schedule of
overlapping faults (schedule.py) is put into effect on the way
(inject.py); the invariants are checked while it runs and at the end
(verdict.py), which prints the summary table, draws the plot into the run
folder and ends with the one-line result. Exit status 0 only when no unit
was lost or accepted twice and every invariant held.

Python 3 standard library only, plus the Debian tools libfaketime, iproute2
and gnuplot. Every wait is bounded.
"""

import argparse
import importlib.machinery
import importlib.util
import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import types

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import client_proc   # noqa: E402
import inject        # noqa: E402
import schedule      # noqa: E402
import simclock      # noqa: E402
import verdict       # noqa: E402

TESTBED_DIR = os.path.dirname(HERE)
SOURCE_DIR = os.path.dirname(TESTBED_DIR)
NETNS_RUN = os.path.join(TESTBED_DIR, "netns-run")
WRAPPER = os.path.join(HERE, "core_wrapper.sh")

DAY = schedule.DAY
RESTART_SEC = 60.0            # Restart=on-failure, RestartSec=60 (simulated)
STOP_TIMEOUT = 120.0          # TimeoutStopSec=120 (simulated)
DRAIN = 1.5 * DAY             # no new faults at the end: what is queued is returned
UNIT_DEADLINE = 3 * DAY
FOLDER_MIB = 64               # the working folder's tmpfs


def load_demo():
    """The demo's set-up functions (packing, server start, control)."""
    path = os.path.join(TESTBED_DIR, "demo", "run-demo")
    loader = importlib.machinery.SourceFileLoader("run_demo", path)
    spec = importlib.util.spec_from_loader("run_demo", loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


demo = load_demo()


class Run(object):
    def __init__(self, args):
        self.args = args
        self.days = args.days
        self.run = self.make_run_dir()
        self.folder = os.path.join(self.run, "client")
        self.clock = simclock.SimClock(args.rate, os.path.join(self.run, "clock"))
        self.env = demo.clean_env(self.run)
        self.env.update({
            "QRV_ENDURANCE_CORE_FAULT": os.path.join(self.run, "core-fault"),
            "QRV_ENDURANCE_STARTS": os.path.join(self.run, "core-starts.txt"),
            "QRV_ENDURANCE_MD_CORE": os.path.join(args.build, "bin", "md_core")})
        self.schedule = schedule.make_schedule(args.seed, self.days, min(DRAIN, self.days * DAY / 3),
                                               args.faults, args.kinds)
        self.next_fault = 0
        self.active = []              # (end, fid, kind, params)
        self.fault_counts = {}
        self.fault_log = open(os.path.join(self.run, "faults.txt"), "w")
        self.restart_at = None        # simulated time of the next start
        self.after_stop = None        # what to do once the client has stopped
        self.samples = open(os.path.join(self.run, "samples.dat"), "w")
        self.samples.write("# day rss_kib fds threads folder_kib log_kib part_files\n")
        self.checks = verdict.Checks()
        self.kills = []               # real times of SIGKILLs
        self.server = None
        self.client = None
        self.last_day = -1

    # -- set-up ---------------------------------------------------------

    def make_run_dir(self):
        parent = os.path.join(self.args.build, "endurance-run")
        os.makedirs(parent, exist_ok=True)
        run = tempfile.mkdtemp(prefix=time.strftime("run-%Y%m%d-%H%M%S-") +
                               "seed%d-" % self.args.seed, dir=parent)
        for sub in ("server/cores", "client", "registry", "console", "bad"):
            os.makedirs(os.path.join(run, sub), exist_ok=True)
        # A small file system of its own, so that "full" can be made true.
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%dm,mode=0700" % FOLDER_MIB,
                        "endurance", os.path.join(run, "client")], check=True)
        return run

    def pack_bundles(self):
        cores = os.path.join(self.run, "server", "cores")
        good = demo.pack_core(WRAPPER, cores)
        self.good_bundle = os.path.join(self.run, "bad", "good.qrv")
        with open(good, "rb") as f, open(self.good_bundle, "wb") as g:
            g.write(f.read())
        # The bad bundle carries a core that marks its starts "unsigned"
        # and has one byte of its body changed after signing.
        unsigned = os.path.join(self.run, "bad", "core_wrapper.sh")
        with open(WRAPPER) as f:
            text = f.read().replace("MARK=signed", "MARK=unsigned")
        with open(unsigned, "w") as f:
            f.write(text)
        os.chmod(unsigned, 0o755)
        bad = demo.pack_core(unsigned, os.path.join(self.run, "bad"))
        with open(bad, "r+b") as f:
            data = bytearray(f.read())
            data[len(data) * 3 // 4] ^= 0x40
            f.seek(0)
            f.write(data)
        self.bad_bundle = bad
        self.live_bundle = good

    def server_config(self):
        # The smallest unit the work server's recomputation allows (its
        # box must hold twice the cutoff), checked with one probe step:
        # the servers keep real time, and every real second they spend on
        # an upload is an hour of the client's exchange deadline at 3600x.
        ns = types.SimpleNamespace(cells=3, steps=200, verdict=None)
        cfg = demo.server_config(ns)
        ws1 = cfg["servers"]["ws1"]
        ws1["units"]["args"].update({"checkpoint_every": 50, "sample_every": 50,
                                     "probe_steps": 1, "density": 0.5})
        ws1["deadline_seconds"] = int(UNIT_DEADLINE)
        # The servers keep real time; the harness judges deadlines in the
        # client's simulated time instead.
        ws1["enforce_deadlines"] = False
        return cfg

    def control(self, method, path, body=None):
        return demo.control(method, path, body, timeout=5)

    def client_command(self):
        return [os.path.join(self.args.build, "bin", "qrv3"), "-verbosity", "3"]

    # -- faults -----------------------------------------------------------

    def start_due_faults(self, now):
        while self.next_fault < len(self.schedule) and self.schedule[self.next_fault][0] <= now:
            start, kind, duration, params = self.schedule[self.next_fault]
            fid = self.next_fault
            self.next_fault += 1
            self.fault_counts[kind] = self.fault_counts.get(kind, 0) + 1
            self.fault_log.write("%.4f start %d %s %.0fs %s\n" % (now / DAY, fid, kind, duration,
                                                                json.dumps(params)))
            self.begin(fid, kind, duration, params, now)

    def begin(self, fid, kind, duration, params, now):
        inj = self.injector
        ends = True
        if kind == "assign_down":
            inj.server_on(fid, ("primary", "secondary"), {"down": True})
        elif kind == "work_down":
            inj.server_on(fid, ("ws1",), {"down": True})
        elif kind in schedule.REPLY_FAULTS:
            switches = dict(params["switches"])
            servers = ["ws1"] if "declared_size" in switches else params["servers"]
            for key in ("piece_delay_ms", "delay_ms"):
                if key in switches:   # the servers keep real time
                    switches[key] = max(1, int(switches[key] / self.clock.rate))
            inj.server_on(fid, servers, switches)
            params = dict(params, servers=servers)
        elif kind == "link_down":
            inj.link(False)
        elif kind == "kill9":
            self.kills.append(time.time())
            self.client.signal(signal.SIGKILL)
            self.restart_at = None
            self.after_stop = ("restart", now + duration)
            ends = False
        elif kind == "stop_start":
            self.stop_client(now, ("restart", None, duration))
            ends = False
        elif kind == "core_crash":
            inj.core_on(fid, "crash " + params["signal"])
        elif kind == "core_hang":
            inj.core_on(fid, "hang %d" % int(UNIT_DEADLINE + DAY))
        elif kind == "core_exit":
            inj.core_on(fid, "exit %d" % params["code"])
        elif kind == "disk_full":
            inj.fill(True)
        elif kind == "clock_forward":
            self.clock.step(duration)
            ends = False
        elif kind == "clock_back":
            self.clock.step(-duration)
            ends = False
        elif kind == "bad_bundle":
            inj.swap_bundle(self.bad_bundle, os.path.join(self.run, "server", "cores",
                                                          "Core_78.qrv"))
            self.stop_client(now, ("remove_core", None, RESTART_SEC))
        if ends:
            self.active.append((now + duration, fid, kind, params))

    def end(self, fid, kind, params):
        inj = self.injector
        if kind == "assign_down":
            inj.server_off(fid, ("primary", "secondary"))
        elif kind == "work_down":
            inj.server_off(fid, ("ws1",))
        elif kind in schedule.REPLY_FAULTS:
            inj.server_off(fid, params["servers"])
        elif kind == "link_down":
            inj.link(True)
        elif kind.startswith("core_"):
            inj.core_off(fid)
        elif kind == "disk_full":
            inj.fill(False)
        elif kind == "bad_bundle":
            if not any(a[2] == "bad_bundle" for a in self.active):
                inj.swap_bundle(self.good_bundle, os.path.join(self.run, "server", "cores",
                                                               "Core_78.qrv"))

    def end_due_faults(self, now):
        due = [a for a in self.active if a[0] <= now]
        self.active = [a for a in self.active if a[0] > now]
        for _, fid, kind, params in due:
            self.fault_log.write("%.4f end %d %s\n" % (now / DAY, fid, kind))
            self.end(fid, kind, params)

    # -- the client's life -------------------------------------------------

    def stop_client(self, now, then):
        """SIGTERM, as a service stop sends; `then` is (what, _, delay)."""
        if self.client.running():
            self.client.signal(signal.SIGTERM)
            self.client.stopping = (time.time() + self.clock.real_seconds(STOP_TIMEOUT) + 2.0,
                                    signal.SIGTERM)
        self.restart_at = None
        self.after_stop = (then[0], now + then[2])

    def supervise(self, now):
        code = self.client.reap()
        if code is not None:
            expected = self.client.exits[-1][2] or self.after_stop is not None
            if not expected:
                # Restart=on-failure: any exit but 0 and 255 is restarted.
                self.checks.unexpected_exit(now, self.client.launches, code)
                if code not in (0, 255):
                    self.after_stop = ("restart", now + RESTART_SEC)
        if self.client.running() and self.client.stopping:
            deadline, _ = self.client.stopping
            if time.time() > deadline:
                self.checks.stop_timeout(now, self.client.launches)
                self.client.signal(signal.SIGKILL)
        if not self.client.running() and self.after_stop is not None:
            what, when = self.after_stop
            if what == "remove_core":
                for name in os.listdir(self.folder):
                    if name.startswith("QrvCore_") or name.startswith("Core_"):
                        try:
                            os.remove(os.path.join(self.folder, name))
                        except OSError:
                            pass
                what = "restart"
            self.after_stop = None
            self.restart_at = when
        if self.restart_at is not None and now >= self.restart_at and not self.client.running():
            self.restart_at = None
            self.client.start()

    # -- sampling -------------------------------------------------------------

    def sample(self, now):
        s = self.client.sample()
        size, logs, parts, bad, work = verdict.folder_state(self.folder, self.injector.filler)
        self.checks.folder(now, size, logs, parts, bad, work)
        if s:
            self.checks.process(now / (self.days * DAY), s)
        rss, fds, threads = s if s else (float("nan"),) * 3
        self.samples.write("%.5f %s %s %s %.0f %.0f %d\n" % (
            now / DAY, rss, fds, threads, size / 1024.0, logs / 1024.0, parts))

    def poll_server(self, now):
        if not self.injector.link_up:
            return
        try:
            totals = demo.summary()
            self.checks.server_totals(now, totals)
            day = int(now / DAY)
            if day != self.last_day:
                # One line a simulated day, so a long run shows how it goes.
                self.last_day = day
                print("endurance: day %d: %d issued, %d accepted, %d faults so far, %d client "
                      "starts" % (day, totals.get("units_issued", 0),
                                  totals.get("units_accepted", 0), self.next_fault,
                                  self.client.launches), flush=True)
            self.control("POST", "/journal/clear")
        except (OSError, ValueError):
            pass

    # -- the run ----------------------------------------------------------------

    def execute(self):
        self.pack_bundles()
        server_env = dict(self.env)
        self.server = demo.start_server(self.server_config(), self.run, server_env,
                                        demo.Deadline(60))
        self.injector = inject.Injector(self.run, self.clock, self.control, self.folder)
        self.client = client_proc.ClientProcess(
            self.client_command(), self.folder, self.run,
            lambda n: self.clock.client_env(self.env, n))
        try:
            self.clock.restart()
            self.client.start(demo.ANSWERS)
            self.loop()
            self.finish()
        finally:
            if self.client.running():
                self.client.signal(signal.SIGKILL)
            client_proc.kill_stray(client_proc.clients_in_folder(self.folder, "qrv3"))
            demo.stop_server(self.server)
            self.fault_log.close()
            self.samples.close()
            subprocess.run(["umount", "-l", self.folder])
        return self.report()

    def loop(self):
        end = self.days * DAY
        tick = self.args.tick
        n = 0
        last_poll = -1e18
        while True:
            now = self.clock.elapsed()
            if now >= end:
                return
            self.end_due_faults(now)
            self.start_due_faults(now)
            self.supervise(now)
            if n % 4 == 0:
                self.sample(now)
            if n % 20 == 0:
                pids = client_proc.clients_in_folder(self.folder, "qrv3")
                self.checks.clients(now, len(pids))
            if now - last_poll >= 3600.0:
                self.poll_server(now)
                last_poll = now
            n += 1
            time.sleep(tick)

    def finish(self):
        """Ends what the faults still hold and stops the client as a
        service stop would; reads what is left in its queue."""
        now = self.clock.elapsed()
        for _, fid, kind, params in self.active:
            self.end(fid, kind, params)
        self.active = []
        self.injector.release_all()
        if self.client.running():
            self.client.stopping = (time.time() + 30, signal.SIGTERM)
            self.client.signal(signal.SIGTERM)
            limit = time.time() + 30
            while self.client.running() and time.time() < limit:
                time.sleep(0.1)
            if self.client.running():
                self.checks.stop_timeout(now, self.client.launches)
                self.client.signal(signal.SIGKILL)
                time.sleep(0.5)
        self.client.reap()
        self.sample(now)
        self.folder_units = verdict.units_in_folder(self.folder)
        self.final_folder = verdict.folder_state(self.folder, self.injector.filler)
        self.queue_at_end = verdict.queue_at_end(self.client_command(), self.folder,
                                                 self.clock.client_env(self.env, 9999))
        raw = self.control("GET", "/units").decode()
        with open(os.path.join(self.run, "units.json"), "w") as f:
            f.write(raw)
        self.units = json.loads(raw)["units"]
        self.totals = demo.summary()

    def report(self):
        return verdict.report(self)


def parse(argv):
    p = argparse.ArgumentParser(prog="endurance", description=__doc__.split("\n\n")[0])
    p.add_argument("--days", type=float, default=90, help="simulated days (default 90)")
    p.add_argument("--seed", type=int, default=1, help="seed of the fault schedule (default 1)")
    p.add_argument("--rate", type=float, default=3600,
                   help="simulated seconds per real second (default 3600)")
    p.add_argument("--faults", type=float, default=1.0,
                   help="multiplies every fault rate (default 1)")
    p.add_argument("--kinds", type=lambda t: set(t.split(",")),
                   help="only these fault kinds (comma-separated names of schedule.KINDS)")
    p.add_argument("--tick", type=float, default=0.25, help="the harness's real tick, seconds")
    p.add_argument("--build", default=os.path.join(SOURCE_DIR, "build"))
    args = p.parse_args(argv)
    args.build = os.path.abspath(args.build)
    if args.kinds and not args.kinds <= set(schedule.KINDS):
        p.error("unknown fault kinds: %s" % ", ".join(sorted(args.kinds - set(schedule.KINDS))))
    if args.days <= 0 or args.rate < 1 or args.tick <= 0 or args.faults < 0:
        p.error("days, rate and tick must be positive (rate at least 1)")
    return args


def main(argv):
    args = parse(argv)
    if os.environ.get("QRV_NETNS") != "1":
        # Servers, client and harness share one private network namespace
        # (fixed ports, nothing leaves the machine, the link can be taken
        # down) and a private mount namespace (the folder's own tmpfs).
        os.execv(NETNS_RUN, [NETNS_RUN, "unshare", "--mount", "--propagation", "private",
                             sys.executable, os.path.abspath(__file__)] + argv)
    for program in ("qrv3", "md_core"):
        if not os.access(os.path.join(args.build, "bin", program), os.X_OK):
            print("endurance: %s/bin/%s is missing: build first (make build)" % (args.build, program))
            return 2
    if simclock.faketime_library() is None:
        print("endurance: libfaketime is missing (apt-get install libfaketime)")
        return 2
    return Run(args).execute()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
