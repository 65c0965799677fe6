"""The control interface: a small HTTP server through which a test changes
the servers' behaviour while they run and reads what they received.

JSON endpoints for tests that parse JSON, and plain-text ones (one record a
line, key=value) for tests that would rather not.
"""

import json
import threading
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from . import config

MAX_CONTROL_BODY = 1024 * 1024


def parse_query_value(text):
    """Query values are JSON when they parse as JSON (434, true, null,
    [1,2]) and text otherwise (127.0.0.9)."""
    try:
        return json.loads(text)
    except ValueError:
        return text


def unit_line(u):
    return ("server=%s index=%d status=%s delivery=%s core_type=%d size=%d "
            "deadline_seconds=%d client_id=%d verdicts=%s sha256=%s"
            % (u["server"], u["index"], u["status"], u["delivery"], u["core_type"],
               u["size"], u["deadline_seconds"], u["client_id"],
               ",".join(str(v) for v in u["verdicts"]) or "-", u["sha256"]))


def event_line(e):
    reply = e.get("reply") or {}
    fields = [("seq", e["seq"]), ("server", e["server"]), ("kind", e["kind"]),
              ("method", e.get("method")), ("target", e.get("target")),
              ("status", reply.get("status", 200)), ("problems", len(e["problems"]))]
    for k in ("user_id_hex", "work_server", "server_address", "unit", "verdict",
              "payload_len", "path", "size"):
        if k in reply:
            fields.append((k, reply[k]))
    return " ".join("%s=%s" % (k, "-" if v is None else v) for k, v in fields)


class ControlServer(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, testbed, on_shutdown):
        self.testbed = testbed
        self.on_shutdown = on_shutdown
        ThreadingHTTPServer.__init__(self, testbed.control, Handler)

    def start(self):
        t = threading.Thread(target=self.serve_forever, kwargs={"poll_interval": 0.1},
                             name="control", daemon=True)
        t.start()
        return t


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass  # the journal is the record; stderr stays quiet

    def reply(self, status, body, ctype="application/json"):
        if isinstance(body, (dict, list)):
            body = (json.dumps(body, indent=1, sort_keys=True) + "\n").encode()
        elif isinstance(body, str):
            body = body.encode()
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)
        self.close_connection = True

    def split(self):
        url = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
        return [p for p in url.path.split("/") if p], query

    def do_GET(self):
        tb = self.server.testbed
        parts, query = self.split()
        since_text = query.get("since", "0")
        since = int(since_text) if since_text.isdigit() else 0
        if parts == ["status"]:
            return self.reply(200, tb.status())
        if parts == ["journal"]:
            events, last = tb.journal_since(since)
            return self.reply(200, {"events": events, "next": last})
        if parts == ["journal.txt"]:
            events, _ = tb.journal_since(since)
            return self.reply(200, "".join(event_line(e) + "\n" for e in events),
                              "text/plain")
        if parts == ["units"]:
            return self.reply(200, {"units": tb.units_copy()})
        if parts == ["units.txt"]:
            return self.reply(200, "".join(unit_line(u) + "\n" for u in tb.units_copy()),
                              "text/plain")
        if parts == ["summary"]:
            return self.reply(200, "".join("%s %d\n" % kv for kv in tb.summary()),
                              "text/plain")
        if len(parts) == 2 and parts[0] == "raw" and parts[1].isdigit():
            raw = tb.raw_of(int(parts[1]))
            if raw is None:
                return self.reply(404, {"error": "no request %s" % parts[1]})
            return self.reply(200, raw, "application/octet-stream")
        return self.reply(404, {"error": "no such endpoint"})

    def do_POST(self):
        tb = self.server.testbed
        parts, query = self.split()
        try:
            changes = self.read_json()
        except ValueError as e:
            return self.reply(400, {"error": str(e)})
        try:
            if len(parts) == 2 and parts[0] == "servers":
                for k, v in query.items():
                    changes[k] = parse_query_value(v)
                return self.reply(200, {"ok": True,
                                        "settings": tb.update_settings(parts[1], changes)})
            if len(parts) == 3 and parts[0] == "servers" and parts[2] == "reset":
                tb.reset_settings(parts[1])
                return self.reply(200, {"ok": True})
            if parts == ["journal", "clear"]:
                tb.clear_journal()
                return self.reply(200, {"ok": True})
            if parts == ["shutdown"]:
                self.reply(200, {"ok": True})
                self.server.on_shutdown()
                return None
        except config.ConfigError as e:
            return self.reply(400, {"error": str(e)})
        except OSError as e:  # a listener that could not be opened again
            return self.reply(500, {"error": str(e)})
        return self.reply(404, {"error": "no such endpoint"})

    def read_json(self):
        n = int(self.headers.get("Content-Length") or 0)
        if n > MAX_CONTROL_BODY:
            raise ValueError("control request too large")
        data = self.rfile.read(n) if n else b""
        if not data.strip():
            return {}
        obj = json.loads(data.decode("utf-8"))
        if not isinstance(obj, dict):
            raise ValueError("expected a JSON object")
        return obj
