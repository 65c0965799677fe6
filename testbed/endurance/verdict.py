"""The invariants of the endurance run, the summary table, the plot and
the one-line result.

Units are accounted for from both sides. The work server lists every unit
it issued with its verdicts and the SHA-256 of its data; the wrapper core
notes the SHA-256 of the work file of every unit a core is started on; the
work files left in the folder at the end are the queue's units; the
client's consoles say how many units it dropped (deadline passed, or a core
error that condemns the unit). The client's log names a unit by its queue
slot, not by the server's index, so drops are matched by count, against
the units a core was started on and the units no core ever saw (see
account()). Whatever none of these explains is lost.
"""

import glob
import hashlib
import math
import os
import re
import shutil
import subprocess

DAY = 86400.0
MIB = 1024.0 * 1024.0
# The log files together (QRVlog.txt and the rotated ones) stay under this:
# the client rotates QRVlog.txt at 4 MiB while it runs, so the live file,
# the previous one and a line that never ends stay below about 12 MiB.
LOG_BOUND = 12 * MIB
# The whole working folder (core, queue, unit files, logs) stays under this.
FOLDER_BOUND = 24 * MIB
FLAT = 1.10                         # last quarter's max within 10 % of the first's
IN_FLIGHT_REAL_SECONDS = 0.5        # "on the wire when the client died"

DEADLINE_LINE = re.compile(r"Unit \d+'s deadline \(.*\) has passed\.")
# After a core error that marks the unit bad (a crash, a corrupt or invalid
# unit, ...) the client deletes it and says so.
CORE_DROP_LINE = re.compile(r"Deleting current work unit & continuing")
# A unit whose results cannot be read is removed without a core clean-up.
UNREADABLE_LINE = re.compile(r"Could not read unit \d+ file\. Removing from queue")
# A unit the disk refused, held in memory and given up at a shutdown.
HELD_DROP_LINE = "Giving up the unit whose data the disk refused"
QUEUE_LINE = re.compile(r"^\d\d [ *](READY|DONE|ACTIVE)\b", re.M)


class Checks(object):
    """What is watched while the run goes: each invariant's failures."""

    def __init__(self):
        self.failures = {}         # invariant -> [text]
        self.quarters = {}         # (quarter, figure) -> max
        self.folder_max = 0
        self.log_max = 0
        self.part_max = 0
        self.bad_seen = set()
        self.clients_max = 0
        self.unexpected = []
        self.stop_timeouts = 0
        self.accepted_by_hour = []   # (sim seconds, units_accepted)

    def fail(self, name, text):
        self.failures.setdefault(name, []).append(text)

    def process(self, fraction, sample):
        q = min(3, int(fraction * 4))
        for name, value in zip(("rss", "fds", "threads"), sample):
            key = (q, name)
            self.quarters[key] = max(self.quarters.get(key, 0), value)

    def folder(self, now, size, logs, parts, bad, work):
        self.folder_max = max(self.folder_max, size)
        self.log_max = max(self.log_max, logs)
        self.part_max = max(self.part_max, parts)
        for name in bad - self.bad_seen:
            self.fail("no .bad file", "day %.2f: %s appeared" % (now / DAY, name))
        self.bad_seen |= bad

    def clients(self, now, count):
        self.clients_max = max(self.clients_max, count)
        if count > 1:
            self.fail("one client per folder", "day %.2f: %d clients in the folder"
                      % (now / DAY, count))

    def unexpected_exit(self, now, launch, code):
        self.unexpected.append((now, launch, code))

    def stop_timeout(self, now, launch):
        self.stop_timeouts += 1
        self.fail("stops within TimeoutStopSec", "day %.2f: start %d did not end within the "
                  "stop timeout; killed" % (now / DAY, launch))

    def server_totals(self, now, totals):
        self.accepted_by_hour.append((now, totals.get("units_accepted", 0),
                                      totals.get("units_issued", 0)))


def folder_state(folder, filler):
    """(bytes, log bytes, part files, names of .bad files, unit files) of
    the working folder, the fault's filler file left out."""
    size = logs = parts = work = 0
    bad = set()
    for root, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(root, name)
            if path == filler:
                continue
            try:
                st = os.lstat(path)
            except OSError:
                continue
            size += st.st_blocks * 512
            if name.startswith("QRVlog"):
                logs += st.st_size
            if ".part-" in name:
                parts += 1
            if name.endswith(".bad"):
                bad.add(os.path.relpath(path, folder))
            if root != folder:
                work += 1
    return size, logs, parts, bad, work


def queue_at_end(command, folder, env):
    """Units still queued, from the client's own -queueinfo."""
    try:
        done = subprocess.run(command + ["-queueinfo"], cwd=folder, env=env,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=60)
        return len(QUEUE_LINE.findall(done.stdout.decode(errors="replace")))
    except (OSError, subprocess.SubprocessError):
        return -1


def client_drops(run):
    """(units dropped at their deadline, after a core error, by a queue purge,
    units removed for unreadable files or given up unwritten),
    from what the client printed."""
    deadline = core = purge = unreadable = 0
    for path in glob.glob(os.path.join(run, "console", "launch-*.txt")):
        with open(path, errors="replace") as f:
            for line in f:
                deadline += bool(DEADLINE_LINE.search(line))
                core += bool(CORE_DROP_LINE.search(line))
                # A purge names each unit it drops (and spares finished ones).
                purge += "- Purging unit " in line
                # A unit held in memory because the disk refused its data,
                # given up at a shutdown: it never had a file to remove.
                unreadable += bool(UNREADABLE_LINE.search(line)) or HELD_DROP_LINE in line
    return deadline, core, purge, unreadable


def queue_reloads(run):
    """Starts after the first whose console says the queue could not be
    loaded (a new queue was made, or a damaged one set aside)."""
    bad = []
    for path in sorted(glob.glob(os.path.join(run, "console", "launch-*.txt")))[1:]:
        with open(path, errors="replace") as f:
            text = f.read()
        if "Could not open work queue" in text or "Damaged work queue" in text:
            bad.append(os.path.basename(path))
    return bad


def core_starts(run):
    """(starts, unsigned starts, SHA-256 of every unit a core was started
    on to work, SHA-256 of every unit a core was started on to clean up)
    from the wrapper core's notes."""
    path = os.path.join(run, "core-starts.txt")
    starts = unsigned = 0
    worked, cleaned = set(), set()
    if os.path.exists(path):
        with open(path) as f:
            for line in f:
                words = line.split()
                starts += 1
                unsigned += words[0] == "unsigned"
                if len(words) > 1:
                    (cleaned if "-cleanup" in words else worked).add(words[1])
    return starts, unsigned, worked, cleaned


def fileless_cleanups(run):
    """Clean-up starts for a unit whose work file was never written (a
    full disk): the unit cannot be named, but the client dropped one."""
    path = os.path.join(run, "core-starts.txt")
    if not os.path.exists(path):
        return 0
    with open(path) as f:
        return sum(1 for line in f if line.split()[1:2] == ["-"] and "-cleanup" in line)


def units_in_folder(folder):
    """SHA-256 of the unit work files left in the working folder."""
    found = set()
    for path in glob.glob(os.path.join(folder, "work", "wudata_*.dat")):
        try:
            with open(path, "rb") as f:
                found.add(hashlib.sha256(f.read()).hexdigest())
        except OSError:
            pass
    return found


def account(r):
    """The unit accounting: a dict of counts.

    Each unit the server sent and nobody settled is put in the first class
    it fits: its work file is still in the folder (queued); the fault that
    was active changed the reply that carried it (damaged on the way); the
    client had a core clean it up (it dropped the unit: after a core error,
    a purge of the queue or its deadline, each of which it logs); a core
    worked on it but nobody cleaned it up and its files are gone (lost);
    it was sent in the instant before a SIGKILL (never saved); no core ever
    saw it. The last two are lost unless the client's drops that name no
    unit cover them (see below)."""
    units = r.units
    sent = [u for u in units if u["delivery"] == "sent"]
    deadline_drops, core_drops, purges, unreadable = client_drops(r.run)
    _, _, worked, cleaned = core_starts(r.run)
    acc = {
        "issued": len(units),
        "undelivered": len(units) - len(sent),
        "accepted": sum(1 for u in units if u["status"] == "accepted"),
        "accepted_twice": sum(1 for u in units if u["verdicts"].count(400) > 1),
        "refused": sum(1 for u in units if u["status"] == "refused"),
        "log_deadline_drops": deadline_drops,
        "log_core_error_drops": core_drops,
        "log_purged_units": purges,
        "log_unreadable_removals": unreadable,
        "fileless_cleanups": fileless_cleanups(r.run),
        "queued_at_end": max(0, r.queue_at_end),
    }
    open_units = [u for u in sent if u["status"] == "issued"]
    queued = damaged = dropped = vanished = in_flight = never_ran = 0
    for u in open_units:
        if u["sha256"] in r.folder_units:
            queued += 1
        elif u.get("altered"):
            damaged += 1
        elif u["sha256"] in cleaned:
            dropped += 1
        elif u["sha256"] in worked:
            vanished += 1
        elif any(0 <= k - u["issued_at"] <= IN_FLIGHT_REAL_SECONDS for k in r.kills):
            in_flight += 1
        else:
            never_ran += 1
    acc.update({"open_at_end": len(open_units), "open_queued": queued,
                "damaged_reply": damaged, "dropped_by_client": dropped,
                "in_flight_at_kill": in_flight, "worked_then_vanished": vanished,
                "never_reached_a_core": never_ran})
    # Drops without a clean-up start that names the unit: at its deadline
    # before any core ran it, a purge of the whole queue after too many
    # errors, a unit removed because its files cannot be read, a clean-up
    # of a unit whose work file a full disk never let be written. Each is
    # a line in the client's log (or a clean-up start), matched by count;
    # the queue's count covers results waiting without their work file.
    covered = (deadline_drops + purges + unreadable + acc["fileless_cleanups"]
               + max(0, acc["queued_at_end"] - queued))
    acc["lost"] = max(0, vanished + never_ran - covered)
    return acc


def flat(checks, name):
    first = checks.quarters.get((0, name), 0)
    last = checks.quarters.get((3, name), 0)
    ratio = last / first if first else float("nan")
    return first, last, ratio


def report(r):
    checks = r.checks
    acc = account(r)
    starts, unsigned, _, _ = core_starts(r.run)
    if unsigned:
        checks.fail("no core runs unsigned", "%d starts of the unsigned core" % unsigned)
    if acc["lost"]:
        checks.fail("no unit lost", "%d units neither accepted, refused, dropped nor queued"
                    % acc["lost"])
    if acc["accepted_twice"]:
        checks.fail("no unit accepted twice", "%d units" % acc["accepted_twice"])
    for name in queue_reloads(r.run):
        checks.fail("queue.dat loads", "%s did not load the queue" % name)
    if r.queue_at_end < 0:
        checks.fail("queue.dat loads", "-queueinfo could not read the queue at the end")
    ratios = {}
    for name in ("rss", "fds", "threads"):
        first, last, ratio = flat(checks, name)
        ratios[name] = ratio
        # Descriptors and threads are small counts: a transient one (a
        # connection, the autosend thread) caught by a sample is not growth,
        # and 10 % of six is less than one.
        slack = 0 if name == "rss" else 1
        if not first or last > max(FLAT * first, first + slack):
            checks.fail("flat " + name, "first quarter max %s, last quarter max %s" % (first, last))
    size, logs, parts, bad, work = r.final_folder
    if parts:
        checks.fail("no part files", "%d part files at the end" % parts)
    if checks.folder_max > FOLDER_BOUND:
        checks.fail("folder bounded", "folder reached %.1f MiB" % (checks.folder_max / MIB))
    if checks.log_max > LOG_BOUND:
        checks.fail("log bounded", "log files reached %.1f MiB" % (checks.log_max / MIB))
    if work > 4 * max(1, acc["queued_at_end"]) + 4:
        checks.fail("no unit files accumulate", "%d files in work/ for %d queued units"
                    % (work, acc["queued_at_end"]))
    crashed = [u for u in checks.unexpected if u[2] not in (0,)]
    for now, launch, code in crashed:
        checks.fail("client never dies on its own", "day %.2f: start %d ended with %d"
                    % (now / DAY, launch, code))
    lines = table(r, acc, checks, starts, ratios, size, parts, work)
    plot(r)
    text = "\n".join(lines)
    with open(os.path.join(r.run, "summary.txt"), "w") as f:
        f.write(text + "\n")
    print(text)
    ok = acc["lost"] == 0 and acc["accepted_twice"] == 0 and not checks.failures
    return 0 if ok else 1


def table(r, acc, checks, starts, ratios, size, parts, work):
    faults = sum(r.fault_counts.values())
    rss_ratio = ratios["rss"]
    lines = ["", "endurance run: %s" % r.run,
             "  simulated days %g at %gx, seed %d, %d client starts, %d core starts"
             % (r.days, r.clock.rate, r.args.seed, r.client.launches, starts), "",
             "  units", "  -----"]
    for key in ("issued", "accepted", "refused", "open_at_end", "open_queued",
                "damaged_reply", "dropped_by_client", "in_flight_at_kill",
                "worked_then_vanished", "never_reached_a_core", "undelivered",
                "lost", "accepted_twice", "queued_at_end", "log_deadline_drops",
                "log_core_error_drops", "log_purged_units", "log_unreadable_removals",
                "fileless_cleanups"):
        lines.append("  %-22s %8d" % (key, acc[key]))
    lines += ["", "  faults injected (%d)" % faults, "  ---------------"]
    for kind in sorted(r.fault_counts):
        lines.append("  %-22s %8d" % (kind, r.fault_counts[kind]))
    lines += ["", "  invariants", "  ----------"]
    names = ["no unit lost", "no unit accepted twice", "queue.dat loads", "no .bad file",
             "flat rss", "flat fds", "flat threads", "no part files", "folder bounded",
             "log bounded", "no unit files accumulate", "no core runs unsigned",
             "one client per folder", "client never dies on its own",
             "stops within TimeoutStopSec"]
    for name in names + sorted(set(checks.failures) - set(names)):
        fails = checks.failures.get(name, [])
        lines.append("  %-30s %s" % (name, "ok" if not fails else "FAILED: " + "; ".join(fails[:3])
                                     + (" (+%d more)" % (len(fails) - 3) if len(fails) > 3 else "")))
    lines += ["", "  figures", "  -------"]
    for name in ("rss", "fds", "threads"):
        first, last, ratio = flat(checks, name)
        lines.append("  %-22s first quarter max %s, last quarter max %s (ratio %.3f)"
                     % (name, first, last, ratio))
    lines.append("  %-22s max %.2f MiB (bound %d MiB), logs max %.2f MiB (bound %d MiB)"
                 % ("folder", checks.folder_max / MIB, FOLDER_BOUND / MIB, checks.log_max / MIB,
                    LOG_BOUND / MIB))
    lines.append("  %-22s max %d during the run, %d at the end; %d unit files at the end"
                 % ("part files", checks.part_max, parts, work))
    lines.append("  %-22s %d (%s)" % ("unexpected exits", len(checks.unexpected),
                                      ", ".join("%d" % u[2] for u in checks.unexpected[:10])))
    lines.append("  %-22s %s" % ("plot", os.path.join(r.run, "endurance.png")))
    if r.injector.errors:
        lines.append("  harness: %d control calls failed (first: %s)"
                     % (len(r.injector.errors), r.injector.errors[0]))
    lines.append("")
    lines.append("endurance: %g simulated days, %d issued, %d accepted, %d lost, %d accepted twice, "
                 "%d faults, memory ratio %s, folder max %.1f MiB"
                 % (r.days, acc["issued"], acc["accepted"], acc["lost"], acc["accepted_twice"],
                    faults, "%.2f" % rss_ratio if not math.isnan(rss_ratio) else "nan",
                    checks.folder_max / MIB))
    return lines


def per_day(r):
    """day, units accepted that day, faults started that day."""
    days = int(math.ceil(r.days))
    accepted = [0] * days
    prev = 0
    for now, total, _ in r.checks.accepted_by_hour:
        d = min(days - 1, int(now / DAY))
        accepted[d] += total - prev
        prev = total
    faults = [0] * days
    for start, _, _, _ in r.schedule[:r.next_fault]:
        faults[min(days - 1, int(start / DAY))] += 1
    path = os.path.join(r.run, "per-day.dat")
    with open(path, "w") as f:
        f.write("# day accepted faults\n")
        for d in range(days):
            f.write("%d %d %d\n" % (d, accepted[d], faults[d]))
    return path


def plot(r):
    daily = per_day(r)
    gnuplot = shutil.which("gnuplot")
    if gnuplot is None:
        return
    samples = os.path.join(r.run, "samples.dat")
    out = os.path.join(r.run, "endurance.png")
    script = """
set terminal png size 1200,1000
set output '%(out)s'
set multiplot layout 4,1 title 'qrv3 endurance run: %(days)g simulated days, seed %(seed)d'
set xrange [0:%(days)g]
set grid
set key top left
set lmargin 12
set ylabel 'KiB'
plot '%(s)s' using 1:2 with lines title 'resident memory'
set ylabel 'count'
plot '%(s)s' using 1:3 with lines title 'open descriptors', '' using 1:4 with lines title 'threads'
set ylabel 'KiB'
plot '%(s)s' using 1:5 with lines title 'working folder', '' using 1:6 with lines title 'log files'
set ylabel 'per day'
set xlabel 'simulated day'
set style fill solid 0.6
set boxwidth 0.4
set yrange [0:*]
plot '%(d)s' using ($1+0.3):2 with boxes title 'units accepted', '' using ($1+0.7):3 with boxes title 'faults injected'
unset multiplot
""" % {"out": out, "days": r.days, "seed": r.args.seed, "s": samples, "d": daily}
    with open(os.path.join(r.run, "endurance.gp"), "w") as f:
        f.write(script)
    subprocess.run([gnuplot, os.path.join(r.run, "endurance.gp")], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=120)
