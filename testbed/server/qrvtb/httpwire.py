"""HTTP on the wire, as the testbed's servers speak it.

Requests are read byte-exact (the journal keeps what arrived) and bounded:
a head above HEAD_LIMIT or a body above the caller's limit is refused, never
buffered. Replies are framed as a test chooses, including the malformed and
unusual shapes a client must survive.
"""

import socket
import time

HEAD_LIMIT = 65536
# "Slow" switches are bounded so that no test can hang the testbed.
MAX_DELAY_MS = 60000

REASONS = {100: "Continue", 200: "OK", 400: "Bad Request", 404: "Not Found",
           405: "Method Not Allowed", 413: "Payload Too Large",
           500: "Internal Server Error", 503: "Service Unavailable"}


class HttpError(Exception):
    """A request that cannot be served; status is the HTTP answer to give
    (0 when the connection is simply gone)."""

    def __init__(self, status, message):
        Exception.__init__(self, message)
        self.status = status


class Request(object):
    def __init__(self):
        self.raw = b""          # every byte received for this request
        self.method = ""
        self.target = ""
        self.version = ""
        self.headers = []       # (name, value) as sent
        self.body = b""
        self.path = ""          # target reduced to its path
        self.absolute_form = False

    def header(self, name):
        low = name.lower()
        for k, v in self.headers:
            if k.lower() == low:
                return v
        return None

    def wants_close(self):
        conn = (self.header("Connection") or "").lower()
        if self.version == "HTTP/1.0":
            return conn != "keep-alive"
        return conn == "close"


class Conn(object):
    """One accepted connection with its read-ahead buffer."""

    def __init__(self, sock, idle_timeout=30.0):
        self.sock = sock
        self.sock.settimeout(idle_timeout)
        self.pending = b""

    def _fill(self):
        try:
            data = self.sock.recv(65536)
        except socket.timeout:
            raise HttpError(0, "idle time-out")
        except OSError as e:
            raise HttpError(0, "receive failed: %s" % e)
        if not data:
            raise HttpError(0, "peer closed")
        self.pending += data

    def _take(self, n):
        while len(self.pending) < n:
            self._fill()
        out, self.pending = self.pending[:n], self.pending[n:]
        return out

    def _take_line(self, limit=1024):
        while b"\r\n" not in self.pending:
            if len(self.pending) > limit:
                raise HttpError(400, "line too long")
            self._fill()
        i = self.pending.index(b"\r\n") + 2
        out, self.pending = self.pending[:i], self.pending[i:]
        return out

    def read_request(self, body_limit, on_expect=None):
        """Reads one request. Returns None when the peer closed cleanly
        before sending anything."""
        while b"\r\n\r\n" not in self.pending:
            if len(self.pending) > HEAD_LIMIT:
                raise HttpError(400, "request head too long")
            try:
                self._fill()
            except HttpError as e:
                if e.status == 0 and not self.pending:
                    return None
                raise
        end = self.pending.index(b"\r\n\r\n") + 4
        head, self.pending = self.pending[:end], self.pending[end:]
        req = Request()
        req.raw = head
        _parse_head(req, head)
        te = (req.header("Transfer-Encoding") or "").lower()
        cl = req.header("Content-Length")
        if "chunked" in te:
            req.body = self._read_chunked(req, body_limit)
        elif cl is not None:
            if not cl.strip().isdigit():
                raise HttpError(400, "bad Content-Length %r" % cl)
            n = int(cl)
            if n > body_limit:
                raise HttpError(413, "body of %d bytes above the limit of %d"
                                % (n, body_limit))
            if on_expect and (req.header("Expect") or "").lower() == "100-continue":
                on_expect()
            req.body = self._take(n)
            req.raw += req.body
        return req

    def _read_chunked(self, req, body_limit):
        body = b""
        while True:
            line = self._take_line()
            req.raw += line
            size_text = line.split(b";")[0].strip()
            try:
                size = int(size_text, 16)
            except ValueError:
                raise HttpError(400, "bad chunk size line %r" % line)
            if len(body) + size > body_limit:
                raise HttpError(413, "chunked body above the limit")
            if size == 0:
                while True:  # trailers up to the empty line
                    t = self._take_line()
                    req.raw += t
                    if t == b"\r\n":
                        return body
            data = self._take(size + 2)
            req.raw += data
            if data[-2:] != b"\r\n":
                raise HttpError(400, "chunk not followed by CR LF")
            body += data[:-2]


def _parse_head(req, head):
    lines = head[:-4].split(b"\r\n")
    parts = lines[0].decode("latin-1").split(" ")
    if len(parts) != 3:
        raise HttpError(400, "bad request line %r" % lines[0])
    req.method, req.target, req.version = parts
    if req.version not in ("HTTP/1.0", "HTTP/1.1"):
        raise HttpError(400, "unknown HTTP version %r" % req.version)
    for line in lines[1:]:
        text = line.decode("latin-1")
        if ":" not in text:
            raise HttpError(400, "bad header line %r" % text)
        k, v = text.split(":", 1)
        req.headers.append((k, v.strip()))
    t = req.target
    if t.lower().startswith("http://"):
        req.absolute_form = True
        rest = t[7:]
        slash = rest.find("/")
        req.path = rest[slash:] if slash >= 0 else "/"
    else:
        req.path = t


def plain_reply(status, body=b"", version="HTTP/1.1", close=True,
                content_type="application/octet-stream"):
    head = "%s %d %s\r\nContent-Type: %s\r\nContent-Length: %d\r\nConnection: %s\r\n\r\n" % (
        version, status, REASONS.get(status, "Status"), content_type,
        len(body), "close" if close else "Keep-Alive")
    return head.encode("latin-1") + body


def bounded_ms(value):
    try:
        v = int(value or 0)
    except (TypeError, ValueError):
        return 0
    return max(0, min(v, MAX_DELAY_MS))


def frame_reply(record, tail, b):
    """Builds the bytes of one reply from the record (the part a leading
    CR LF goes in front of), what follows it (a unit's data) and the
    behaviour b. Returns (head, body, keep_open)."""
    body = b"\r\n" * int(b.get("leading_crlf") or 0) + record + tail
    body += b"\0" * int(b.get("extra_bytes") or 0)
    full_len = len(body)
    truncate = b.get("truncate")
    if truncate is not None:
        body = body[:max(0, int(truncate))]
    framing = b.get("framing") or "length"
    version = "HTTP/" + str(b.get("http_version") or "1.1")
    status = int(b.get("http_status") or 200)
    lines = ["%s %d %s" % (version, status, REASONS.get(status, "Status")),
             "Content-Type: application/octet-stream"]
    keep = version == "HTTP/1.1"
    if framing == "raw":
        # No status line and no head at all: the client must take every
        # byte as body.
        return b"", body, False
    if framing == "length":
        n = full_len if b.get("lie_length") else len(body)
        lines.append("Content-Length: %d" % n)
        if b.get("lie_length") and n != len(body):
            keep = False
    elif framing == "chunked":
        lines.append("Transfer-Encoding: chunked")
        body = chunk(body, int(b.get("chunk_size") or 4096),
                     final=not b.get("lie_length"))
        if b.get("lie_length"):
            keep = False
    elif framing == "close":
        keep = False
    else:
        raise ValueError("unknown framing %r" % framing)
    lines.append("Connection: %s" % ("Keep-Alive" if keep else "close"))
    head = ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")
    return head, body, keep


def chunk(body, size, final=True):
    size = max(1, size)
    out = []
    for i in range(0, len(body), size):
        piece = body[i:i + size]
        out.append(b"%x\r\n" % len(piece) + piece + b"\r\n")
    if final:
        out.append(b"0\r\n\r\n")
    return b"".join(out)


def send_paced(sock, data, b):
    """Sends data, optionally in pieces with a pause between them (a slow
    server). The pauses together never exceed MAX_DELAY_MS."""
    piece = int(b.get("piece_size") or 0)
    pause = bounded_ms(b.get("piece_delay_ms"))
    if piece <= 0 or pause == 0:
        sock.sendall(data)
        return
    budget = MAX_DELAY_MS
    for i in range(0, len(data), piece):
        if i:
            wait = min(pause, budget)
            budget -= wait
            time.sleep(wait / 1000.0)
        sock.sendall(data[i:i + piece])
