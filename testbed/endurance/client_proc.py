"""The client as the service manager would run it: started, watched,
stopped with SIGTERM, killed with SIGKILL, restarted after a delay.

Its console goes to a file per start (no reader thread: the harness must
stay cheap on two cores). Its resident memory, open descriptors and
threads are read from /proc.
"""

import os
import signal
import subprocess


class ClientProcess(object):
    def __init__(self, command, folder, run, env_for_launch):
        self.command = command
        self.folder = folder
        self.run = run
        self.env_for_launch = env_for_launch   # launch number -> environment
        self.proc = None
        self.launches = 0
        self.stopping = None         # (real deadline, signal sent) while we stop it
        self.exits = []              # (launch, code, expected)

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    def start(self, answers=None):
        self.launches += 1
        console = open(os.path.join(self.run, "console", "launch-%04d.txt" % self.launches), "wb")
        stdin = subprocess.PIPE if answers else subprocess.DEVNULL
        self.proc = subprocess.Popen(self.command, cwd=self.folder,
                                     env=self.env_for_launch(self.launches),
                                     stdin=stdin, stdout=console, stderr=subprocess.STDOUT)
        console.close()
        if answers:
            try:
                self.proc.stdin.write("".join(a + "\n" for _, a in answers).encode())
                self.proc.stdin.close()
            except OSError:
                pass
        self.stopping = None

    def signal(self, signum):
        if self.running():
            try:
                os.kill(self.proc.pid, signum)
            except ProcessLookupError:
                pass

    def reap(self):
        """The exit code once the process has ended (and notes it), else
        None. A signal N gives 128 + N, as a shell reports it."""
        if self.proc is None:
            return None
        code = self.proc.poll()
        if code is None:
            return None
        if code < 0:
            code = 128 - code
        self.exits.append((self.launches, code, self.stopping is not None))
        self.proc = None
        return code

    def sample(self):
        """(resident KiB, open descriptors, threads) of the running client,
        or None."""
        if not self.running():
            return None
        pid = self.proc.pid
        try:
            rss = threads = 0
            with open("/proc/%d/status" % pid) as f:
                for line in f:
                    if line.startswith("VmRSS:"):
                        rss = int(line.split()[1])
                    elif line.startswith("Threads:"):
                        threads = int(line.split()[1])
            fds = len(os.listdir("/proc/%d/fd" % pid))
            return rss, fds, threads
        except (OSError, ValueError):
            return None


def clients_in_folder(folder, exe_name):
    """Processes named exe_name whose working directory is folder."""
    found = {}
    real = os.path.realpath(folder)
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
            # "pid (comm) state ppid ...": comm may hold blanks.
            comm = stat[stat.index("(") + 1:stat.rindex(")")]
            if comm != exe_name:
                continue
            if os.path.realpath(os.readlink("/proc/%s/cwd" % entry)) == real:
                found[int(entry)] = int(stat[stat.rindex(")") + 2:].split()[1])
        except (OSError, ValueError, IndexError):
            continue
    # A client's own child between fork and exec (starting a core) is no
    # second client.
    return [pid for pid, ppid in found.items() if ppid not in found]


def kill_stray(pids):
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass
