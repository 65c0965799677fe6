"""The testbed's shared state: servers' settings, listeners, journal, units.

One lock guards everything here. Requests are served on their own threads
(see roles.py); they take the lock only to read settings and to record.
"""

import copy
import select
import socket
import threading
import time

from . import config, records, roles, units

# Raw request bytes kept per journal event; an upload is at most a header
# and 2 MiB, so this keeps every legitimate request whole.
RAW_KEEP = 4 * 1024 * 1024
RAW_HEX_IN_JOURNAL = 65536
# All raw requests kept together; a long demo run drops the oldest first.
RAW_TOTAL = 256 * 1024 * 1024
# Seconds an unfinished event may hold the journal's "next" back.
PENDING_LIMIT = 120


class Listener(object):
    """One listening socket (address, port) shared by the servers bound to
    it. It is open while at least one of them is up; closing it makes
    connections to the address and port refused."""

    def __init__(self, testbed, host, port, names):
        self.testbed = testbed
        self.host, self.port = host, port
        self.names = names
        self.sock = None
        self.thread = None
        self.stop = threading.Event()

    @property
    def is_open(self):
        return self.sock is not None

    def open(self):
        if self.sock is not None:
            return
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind((self.host, self.port))
            s.listen(64)
        except OSError:
            s.close()
            raise
        if self.port == 0:
            self.port = s.getsockname()[1]
        self.sock = s
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self._accept_loop, args=(s, self.stop),
                                       name="listen-%s:%d" % (self.host, self.port),
                                       daemon=True)
        self.thread.start()

    def close(self):
        if self.sock is None:
            return
        self.stop.set()
        self.thread.join()
        self.sock = None
        self.thread = None

    def _accept_loop(self, s, stop):
        try:
            while not stop.is_set():
                ready, _, _ = select.select([s], [], [], 0.05)
                if not ready:
                    continue
                try:
                    conn, peer = s.accept()
                except OSError:
                    continue
                threading.Thread(target=self.testbed.serve_connection,
                                 args=(self, conn, peer), daemon=True).start()
        finally:
            s.close()


class Testbed(object):
    def __init__(self, cfg, base_dir="."):
        self.lock = threading.RLock()
        self.base_dir = base_dir
        self.cfg = cfg
        self.control = config.parse_hostport(cfg["control"])
        self.servers = {}
        self.start_settings = {}
        for name, s in cfg["servers"].items():
            self.servers[name] = {"role": s["role"], "bind": s["bind"],
                                  "settings": copy.deepcopy(s["settings"])}
            self.start_settings[name] = copy.deepcopy(s["settings"])
        self.next_user_id = cfg["first_user_id"]
        self.rotation = {}
        self.unit_counter = {}
        self.journal = []
        self.raw = {}
        self.raw_total = 0
        self.seq = 0
        # Events made but not yet journalled (their reply is being worked
        # out, e.g. a result being checked), by seq, with the time made.
        self.pending = {}
        self.units = []
        self.unit_index = {}     # (server, index) -> unit dict
        self.unit_data = {}      # (server, index) -> (bytes, source)
        self.accepted_results = {}  # sha256 of an accepted result -> unit key
        self.listeners = {}
        for name, s in self.servers.items():
            for host, port in s["bind"]:
                key = (host, port)
                if key not in self.listeners:
                    self.listeners[key] = Listener(self, host, port, [])
                self.listeners[key].names.append(name)

    # ------------------------------------------------------------ lifecycle

    def start(self):
        for s in self.servers.values():
            if s["role"] == "work":
                self.check_unit_source(s["settings"]["units"])
        self.sync_listeners()

    def check_unit_source(self, spec):
        """Loads a unit source now, so that a wrong path or class is reported
        where it was set rather than at the first work request."""
        try:
            units.make_source(spec, self.base_dir)
        except Exception as e:
            raise config.ConfigError("unit source %r: %s: %s" % (spec, type(e).__name__, e))

    def stop(self):
        # All accept loops are told first, then waited for, so that stopping
        # takes one poll interval rather than one per listener.
        for lst in self.listeners.values():
            lst.stop.set()
        for lst in self.listeners.values():
            lst.close()

    def sync_listeners(self):
        """Opens or closes each listener to match the servers' down switch."""
        for lst in self.listeners.values():
            with self.lock:
                want = any(not self.servers[n]["settings"]["down"] for n in lst.names)
            if want:
                lst.open()
            else:
                lst.close()

    # ------------------------------------------------------------- settings

    def work_server_names(self):
        return [n for n, s in self.servers.items() if s["role"] == "work"]

    def update_settings(self, name, changes):
        """Applies changes to a server's settings; null restores a key's
        value at start. All-or-nothing: one bad key changes nothing."""
        with self.lock:
            if name not in self.servers:
                raise config.ConfigError("no server named %r" % name)
            srv = self.servers[name]
            if not isinstance(changes, dict):
                raise config.ConfigError("settings must be a JSON object")
            for k, v in changes.items():
                config.check_value(srv["role"], k, v, self.work_server_names())
            if changes.get("units") is not None:
                self.check_unit_source(changes["units"])
            for k, v in changes.items():
                if v is None:
                    srv["settings"][k] = copy.deepcopy(self.start_settings[name][k])
                else:
                    srv["settings"][k] = copy.deepcopy(v)
            result = copy.deepcopy(srv["settings"])
        if "down" in changes:
            self.sync_listeners()
        return result

    def reset_settings(self, name):
        with self.lock:
            if name not in self.servers:
                raise config.ConfigError("no server named %r" % name)
            self.servers[name]["settings"] = copy.deepcopy(self.start_settings[name])
        self.sync_listeners()

    def behaviour(self, name):
        """The settings for one request: the server's settings with the
        first one-shot override (if any) taken off its queue and laid over."""
        with self.lock:
            s = self.servers[name]["settings"]
            b = copy.deepcopy(s)
            if s["next"]:
                override = s["next"].pop(0)
                b.update(copy.deepcopy(override))
                b["_override"] = copy.deepcopy(override)
            return b

    def take_verdict(self, name):
        """The next queued verdict of a work server, else None."""
        with self.lock:
            q = self.servers[name]["settings"]["verdicts"]
            return q.pop(0) if q else None

    # -------------------------------------------------------------- journal

    def new_event(self, server, listener, peer, req):
        raw = req.raw if req is not None else b""
        with self.lock:
            self.seq += 1
            self.pending[self.seq] = time.time()
            ev = {
                "seq": self.seq, "time": time.time(), "server": server,
                "role": self.servers[server]["role"] if server in self.servers else None,
                "local": "%s:%d" % (listener.host, listener.port),
                "peer": "%s:%d" % peer, "kind": None, "problems": [], "errors": [],
                "raw_len": len(raw),
            }
            if req is not None:
                ev.update({"method": req.method, "target": req.target,
                           "version": req.version, "headers": req.headers,
                           "absolute_form": req.absolute_form,
                           "body_len": len(req.body)})
            if len(raw) <= RAW_HEX_IN_JOURNAL:
                ev["raw_hex"] = raw.hex()
            kept = raw[:RAW_KEEP]
            self.raw[self.seq] = kept
            self.raw_total += len(kept)
            while self.raw_total > RAW_TOTAL and self.raw:
                oldest = next(iter(self.raw))
                self.raw_total -= len(self.raw.pop(oldest))
        return ev

    def record(self, ev):
        """Puts an event in the journal. Called before the reply is sent, so
        that a client that has its reply finds its request journalled."""
        with self.lock:
            self.pending.pop(ev["seq"], None)
            self.journal.append(ev)

    def update(self, ev, **fields):
        with self.lock:
            ev.update(fields)

    def clear_journal(self):
        with self.lock:
            self.journal = []
            self.pending = {}
            self.raw = {}
            self.raw_total = 0

    def journal_since(self, since):
        """Events after `since`, and the seq to ask from next time: the last
        one below every event still being worked out, so that a poller never
        skips an event that is journalled after its later neighbours. An
        event never journalled (its handler failed) stops holding the
        journal back after PENDING_LIMIT seconds."""
        with self.lock:
            now = time.time()
            for seq in [q for q, t in self.pending.items() if now - t > PENDING_LIMIT]:
                del self.pending[seq]
            nxt = min(self.pending) - 1 if self.pending else self.seq
            events = sorted((e for e in self.journal if since < e["seq"] <= nxt),
                            key=lambda e: e["seq"])
            return copy.deepcopy(events), max(nxt, since)

    def raw_of(self, seq):
        with self.lock:
            return self.raw.get(seq)

    # ------------------------------------------------------------ user IDs

    def issue_user_id(self):
        with self.lock:
            uid = self.next_user_id
            self.next_user_id = (uid + 1) & 0xFFFFFFFFFFFFFFFF
            return uid

    def pick_work_server(self, assign_server, assign_to):
        with self.lock:
            names = assign_to if isinstance(assign_to, list) else [assign_to]
            i = self.rotation.get(assign_server, 0)
            self.rotation[assign_server] = i + 1
            return names[i % len(names)]

    # ---------------------------------------------------------------- units

    def next_unit_index(self, server):
        with self.lock:
            i = self.unit_counter.get(server, 0)
            self.unit_counter[server] = i + 1
            return i

    def add_unit(self, unit, data, source):
        with self.lock:
            key = (unit["server"], unit["index"])
            self.units.append(unit)
            self.unit_index[key] = unit
            self.unit_data[key] = (data, source)

    def outstanding(self, server, client_id):
        """Units of a server the client holds (delivered, no final verdict),
        oldest first, as (unit, data, source)."""
        with self.lock:
            out = []
            for u in self.units:
                if (u["server"] == server and u["client_id"] == client_id
                        and u["status"] == "issued" and u["delivery"] == "sent"):
                    data, source = self.unit_data[(u["server"], u["index"])]
                    out.append((u, data, source))
            return out

    def settle_unit(self, unit, verdict, result_sha):
        """Records a verdict and returns the one that stands. Uploads are
        judged outside the lock, so the same result sent again while the
        first copy is still being judged (a client whose exchange timed
        out) reaches here twice: the second acceptance is a duplicate."""
        with self.lock:
            if verdict == records.VERDICT_ACCEPTED and (
                    unit["status"] == "accepted" or result_sha in self.accepted_results):
                unit["verdicts"].append(records.VERDICT_DUPLICATE)
                return records.VERDICT_DUPLICATE   # the unit stays accepted
            unit["verdicts"].append(verdict)
            if verdict == records.VERDICT_ACCEPTED:
                unit["status"] = "accepted"
                self.accepted_results[result_sha] = (unit["server"], unit["index"])
            elif verdict in records.VERDICTS_FINAL:
                unit["status"] = "refused"
            return verdict

    def was_accepted(self, result_sha):
        with self.lock:
            return result_sha in self.accepted_results

    def units_copy(self):
        with self.lock:
            return copy.deepcopy(self.units)

    def summary(self):
        with self.lock:
            kinds = {}
            problems = 0
            for e in self.journal:
                kinds[e["kind"]] = kinds.get(e["kind"], 0) + 1
                problems += len(e["problems"])
            count = lambda f: sum(1 for u in self.units if f(u))
            return [
                ("events", len(self.journal)),
                ("user_ids", kinds.get("user_id", 0)),
                ("assignments", kinds.get("assignment", 0)),
                ("work_requests", kinds.get("work_request", 0)),
                ("uploads", kinds.get("upload", 0)),
                ("downloads", kinds.get("download", 0)),
                ("bad_requests", kinds.get("bad_request", 0)),
                ("problems", problems),
                ("units_issued", len(self.units)),
                ("units_accepted", count(lambda u: u["status"] == "accepted")),
                ("units_refused", count(lambda u: u["status"] == "refused")),
                ("units_outstanding", count(lambda u: u["status"] == "issued"
                                            and u["delivery"] == "sent")),
                ("units_undelivered", count(lambda u: u["delivery"] != "sent")),
            ]

    def status(self):
        with self.lock:
            out = {"control": "%s:%d" % self.control, "servers": {}}
            for name, s in self.servers.items():
                listening = ["%s:%d" % (l.host, l.port) for l in self.listeners.values()
                             if name in l.names and l.is_open]
                out["servers"][name] = {
                    "role": s["role"],
                    "bind": ["%s:%d" % hp for hp in s["bind"]],
                    "listening": listening,
                    "settings": copy.deepcopy(s["settings"])}
            return out

    def serve_connection(self, listener, sock, peer):
        roles.serve_connection(self, listener, sock, peer)
