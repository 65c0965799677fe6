"""Simulated time for the endurance run.

The client and its cores run under Debian's libfaketime with a speed-up
("+OFFSET xRATE"), so that every sleep, poll and clock reading of theirs
runs RATE times faster; the harness and the testbed's servers keep real time
and convert. One model holds the client's clock:

    sim(t) = t0 + (t - t0) * rate + steps

where t is the real time, t0 the start of the run and steps the sum of the
clock steps injected so far. libfaketime counts a process's speed-up from
the moment it loaded, so each client start gets its own timestamp file with the
offset that puts it on this line; FAKETIME_DONT_RESET makes the cores it
starts inherit its start instead of beginning a clock of their own. Steps
are written into the timestamp file of the running client (re-read each real
second), so the client and its cores step together.
"""

import glob
import os
import time

FAKETIME_LIBS = ("/usr/lib/*/faketime/libfaketimeMT.so.1", "/usr/lib/faketime/libfaketimeMT.so.1")


def faketime_library():
    for pattern in FAKETIME_LIBS:
        found = sorted(glob.glob(pattern))
        if found:
            return found[0]
    return None


class SimClock(object):
    def __init__(self, rate, folder):
        self.rate = float(rate)
        self.t0 = time.time()
        self.steps = 0.0
        self.folder = folder
        self.stamp_file = None          # the running client's timestamp file
        self.stamp_start = None    # real time its process tree began
        os.makedirs(folder, exist_ok=True)

    def restart(self):
        """Simulated time begins now (after the set-up)."""
        self.t0 = time.time()

    def now(self):
        """Simulated seconds since the epoch, as the client sees them."""
        return self.sim_at(time.time())

    def sim_at(self, real):
        return self.t0 + (real - self.t0) * self.rate + self.steps

    def elapsed(self):
        """Simulated seconds since the run began, without the clock steps
        (the run's own time axis)."""
        return (time.time() - self.t0) * self.rate

    def real_seconds(self, sim_seconds):
        return sim_seconds / self.rate

    def _offset(self, start):
        # A process that loaded at `start` reports start + (t - start) * rate
        # + offset; equal to t0 + (t - t0) * rate + steps for every t when
        # offset = (start - t0) * (rate - 1) + steps.
        return (start - self.t0) * (self.rate - 1.0) + self.steps

    def _write(self):
        text = "%+.3f x%g\n" % (self._offset(self.stamp_start), self.rate)
        tmp = self.stamp_file + ".tmp"
        with open(tmp, "w") as f:
            f.write(text)
        os.replace(tmp, self.stamp_file)

    def client_env(self, env, launch_number):
        """The environment for a new client process tree, with its own timestamp
        file (written now, for a process that loads a moment from now)."""
        lib = faketime_library()
        if lib is None:
            raise RuntimeError("libfaketime is missing (Debian package libfaketime)")
        self.stamp_file = os.path.join(self.folder, "client-%04d.rc" % launch_number)
        self.stamp_start = time.time()
        self._write()
        env = dict(env)
        env.update({"LD_PRELOAD": lib, "FAKETIME_TIMESTAMP_FILE": self.stamp_file,
                    "FAKETIME_DONT_RESET": "1", "FAKETIME_CACHE_DURATION": "1"})
        env.pop("FAKETIME", None)   # it would take priority over the file
        return env

    def step(self, seconds):
        """Steps the client's clock by `seconds` (negative: back)."""
        self.steps += seconds
        if self.stamp_file:
            self._write()
