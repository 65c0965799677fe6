"""A deliberately separate HTTP client for the testbed's tests: it frames
requests the way the client under test does and parses replies on its own,
so the tests do not lean on the server's framing code."""

import os
import socket
import struct
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))

from qrvtb import config, testbed  # noqa: E402


def raw_exchange(host, port, data, timeout=10.0):
    """Sends data, then reads until the server closes."""
    s = socket.create_connection((host, port), timeout=timeout)
    try:
        s.sendall(data)
        s.shutdown(socket.SHUT_WR)
        out = b""
        while True:
            d = s.recv(65536)
            if not d:
                return out
            out += d
    finally:
        s.close()


def post_bytes(host, port, body, version="HTTP/1.1"):
    hp = "%s:%d" % (host, port)
    return (("POST http://%s/ %s\r\nHost: %s\r\nConnection: Keep-Alive\r\n"
             "Content-Length: %d\r\n\r\n") % (hp, version, hp, len(body))).encode() + body


def post(host, port, body):
    return parse_reply(raw_exchange(host, port, post_bytes(host, port, body)))


def get(host, port, path):
    hp = "%s:%d" % (host, port)
    req = ("GET http://%s%s HTTP/1.1\r\nHost: %s\r\nConnection: Keep-Alive\r\n\r\n"
           % (hp, path, hp)).encode()
    return parse_reply(raw_exchange(host, port, req))


class ParsedReply(object):
    pass


def parse_reply(data):
    """status line, headers and body; the body decoded per its framing.
    A reply without status line is all body (status None)."""
    r = ParsedReply()
    r.data = data
    if not data.startswith(b"HTTP/"):
        r.status, r.version, r.headers, r.body, r.framing = None, None, {}, data, "raw"
        return r
    end = data.index(b"\r\n\r\n")
    lines = data[:end].decode("latin-1").split("\r\n")
    r.version, code = lines[0].split(" ")[:2]
    r.status = int(code)
    r.headers = dict((k.strip().lower(), v.strip()) for k, v in
                     (l.split(":", 1) for l in lines[1:]))
    rest = data[end + 4:]
    if "content-length" in r.headers:
        r.framing = "length"
        r.declared = int(r.headers["content-length"])
        r.body = rest[:r.declared]
        r.after = rest[r.declared:]
    elif r.headers.get("transfer-encoding") == "chunked":
        r.framing = "chunked"
        r.body, r.chunks, r.complete = b"", [], False
        while rest:
            line, rest = rest.split(b"\r\n", 1)
            n = int(line, 16)
            if n == 0:
                r.complete = rest == b"\r\n"
                break
            r.chunks.append(n)
            r.body += rest[:n]
            assert rest[n:n + 2] == b"\r\n", "chunk without CR LF"
            rest = rest[n + 2:]
    else:
        r.framing = "close"
        r.body = rest
    return r


def assign_request(ptype=10, user_id=0, user_name="tester", team="7"):
    b = bytearray(432)
    struct.pack_into(">I", b, 0, ptype)
    if ptype == 10:
        struct.pack_into(">QQ", b, 8, 1234, user_id)
    b[24:28] = b"3.24"
    struct.pack_into(">IIII", b, 32, 1, 3, 1, 0)
    b[48:48 + len(user_name)] = user_name.encode()
    b[112:112 + len(team)] = team.encode()
    return bytes(b)


def work_request(address="127.0.0.2", core_type=101, client_id=77, user_name="tester"):
    b = bytearray(512)
    struct.pack_into(">IIII", b, 0, 100, core_type, 324, 0)
    struct.pack_into(">I", b, 84, 1)
    b[88:92] = bytes(int(x) for x in address.split("."))   # network order
    b[160:160 + len(user_name)] = user_name.encode()
    b[224:225] = b"0"
    struct.pack_into(">Q", b, 288, client_id)
    return bytes(b)


def upload(payload, core_type=0x78, client_id=77, declared=None, address="127.0.0.2"):
    b = bytearray(512)
    b[88:92] = bytes(int(x) for x in address.split("."))
    n = len(payload) if declared is None else declared
    struct.pack_into(">IIII", b, 0, 300, core_type, 324, n)
    b[224:225] = b"0"
    struct.pack_into(">Q", b, 288, client_id)
    struct.pack_into(">II", b, 304, 1, 1)
    return bytes(b) + payload


class LiveTestbed(object):
    """A testbed served from this process, for one test."""

    def __init__(self, user_config=None, base_dir="."):
        self.tb = testbed.Testbed(config.build(user_config or {}), base_dir)
        self.tb.start()

    def stop(self):
        self.tb.stop()

    def set(self, name, **changes):
        return self.tb.update_settings(name, changes)

    def events(self, kind=None):
        ev, _ = self.tb.journal_since(0)
        return [e for e in ev if kind is None or e["kind"] == kind]

    def wait_units(self, predicate, timeout=5.0):
        end = time.time() + timeout
        while time.time() < end:
            units = self.tb.units_copy()
            if predicate(units):
                return units
            time.sleep(0.02)
        return self.tb.units_copy()
