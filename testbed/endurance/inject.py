"""Puts the scheduled faults into effect and takes them back.

Reply faults of different kinds may hit the same server at once: each
server keeps the list of its active faults' switches, and every change
sends the merged set (later faults win a key; a key no fault holds any
more goes back to its start value with null). While the network link is
down the control interface cannot be reached either, so changes wait and
go out once it is up again.
"""

import os
import shutil
import subprocess
import urllib.error


class Injector(object):
    def __init__(self, run, clock, control, client_folder):
        self.run = run
        self.clock = clock
        self.control = control          # control(method, path, body)
        self.folder = client_folder
        self.active = {}                # server -> [(fault id, switches)]
        self.keys = {}                  # server -> keys ever set
        self.dirty = set()
        self.link_up = True
        self.link_holds = 0
        self.core_faults = []           # [(fault id, line)]
        self.core_fault_file = os.path.join(run, "core-fault")
        self.filler = os.path.join(client_folder, ".endurance-filler")
        self.fill_holds = 0
        self.errors = []

    # -- servers ------------------------------------------------------

    def server_on(self, fid, servers, switches):
        for name in servers:
            self.active.setdefault(name, []).append((fid, dict(switches)))
            self.keys.setdefault(name, set()).update(switches)
            self.dirty.add(name)
        self.flush()

    def server_off(self, fid, servers):
        for name in servers:
            self.active[name] = [a for a in self.active.get(name, []) if a[0] != fid]
            self.dirty.add(name)
        self.flush()

    def flush(self):
        if not self.link_up:
            return
        for name in sorted(self.dirty):
            merged = {}
            for _, switches in self.active.get(name, []):
                merged.update(switches)
            body = dict((k, merged.get(k)) for k in self.keys.get(name, ()))
            try:
                self.control("POST", "/servers/" + name, body)
            except (OSError, urllib.error.URLError) as e:
                self.errors.append("setting %s on %s: %s" % (body, name, e))
                return
            self.dirty.discard(name)

    # -- the network link ----------------------------------------------

    def link(self, up):
        self.link_holds += -1 if up else 1
        want = self.link_holds <= 0
        if want != self.link_up:
            subprocess.run(["ip", "link", "set", "lo", "up" if want else "down"], check=True)
            self.link_up = want
            if want:
                self.flush()

    # -- cores ---------------------------------------------------------

    def core_on(self, fid, line):
        self.core_faults.append((fid, line))
        self._write_core_fault()

    def core_off(self, fid):
        self.core_faults = [c for c in self.core_faults if c[0] != fid]
        self._write_core_fault()

    def _write_core_fault(self):
        if not self.core_faults:
            try:
                os.remove(self.core_fault_file)
            except FileNotFoundError:
                pass
            return
        tmp = self.core_fault_file + ".tmp"
        with open(tmp, "w") as f:
            f.write(self.core_faults[-1][1] + "\n")
        os.replace(tmp, self.core_fault_file)

    # -- the working folder's file system ------------------------------

    def fill(self, on):
        self.fill_holds += 1 if on else -1
        if self.fill_holds > 0 and not os.path.exists(self.filler):
            try:
                self._fill()
            except OSError as e:   # full already: the fault holds anyway
                self.errors.append("filling the folder: %s" % e)
        elif self.fill_holds <= 0 and os.path.exists(self.filler):
            os.remove(self.filler)

    def _fill(self):
        # Every free block, in large writes first, then small ones for the
        # rest, so that not even a short file fits afterwards. Unbuffered:
        # a buffered file would fail again on close.
        fd = os.open(self.filler, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
        try:
            for size in (1 << 20, 4096, 1):
                block = b"\0" * size
                try:
                    while os.write(fd, block) > 0:
                        pass
                except OSError:
                    pass
        finally:
            os.close(fd)

    def filler_bytes(self):
        try:
            return os.path.getsize(self.filler)
        except OSError:
            return 0

    # -- core bundles ---------------------------------------------------

    def swap_bundle(self, source, target):
        tmp = target + ".swap"
        shutil.copyfile(source, tmp)
        os.replace(tmp, target)

    def release_all(self):
        """Ends every fault that holds something (at the end of the run)."""
        if not self.link_up:
            self.link_holds = 1
            self.link(True)
        for name in list(self.active):
            self.active[name] = []
            self.dirty.add(name)
        self.flush()
        self.core_faults = []
        self._write_core_fault()
        self.fill_holds = 1
        self.fill(False)
