"""Serving one connection: routing each request to its server and role,
answering it, and journalling what arrived and what went back."""

import hashlib
import os
import socket
import struct
import time

from . import config, httpwire, records, units

# A request body may exceed the largest legitimate upload by this much
# before it is refused unread.
BODY_SLACK = 65536


def sha256(data):
    return hashlib.sha256(data).hexdigest()


class Reply(object):
    """What a handler decided: a record (plus what follows it) framed by the
    server's reply switches, or a plain HTTP error."""

    def __init__(self, record=b"", tail=b"", status=None, text="", unit=None):
        self.record, self.tail = record, tail
        self.status, self.text = status, text
        self.unit = unit


def plain(ev, status, text, kind=None, problem=True):
    """An HTTP error reply. problem says whether the request itself was at
    fault (counted among the client's deviations) or the server's side."""
    if kind:
        ev["kind"] = kind
    ev["problems" if problem else "errors"].append(text)
    return Reply(status=status, text=text)


# ------------------------------------------------------------- connection

def serve_connection(tb, listener, sock, peer):
    conn = httpwire.Conn(sock)
    limit = BODY_SLACK
    with tb.lock:
        for n in listener.names:
            s = tb.servers[n]
            if s["role"] == "work":
                limit = max(limit, records.WORK_HEADER_SIZE
                            + s["settings"]["max_upload"] + BODY_SLACK)
    linger = True
    try:
        while True:
            try:
                req = conn.read_request(
                    limit, on_expect=lambda: sock.sendall(b"HTTP/1.1 100 Continue\r\n\r\n"))
            except httpwire.HttpError as e:
                if e.status:
                    ev = tb.new_event(listener.names[0], listener, peer, None)
                    ev["kind"] = "bad_request"
                    ev["problems"].append(str(e))
                    ev["reply"] = {"status": e.status}
                    tb.record(ev)
                    sock.sendall(httpwire.plain_reply(e.status, str(e).encode()))
                    linger = e.status != 413  # the unread body would be lost anyway
                break
            if req is None:
                break
            keep = handle(tb, listener, sock, req, peer)
            if not keep or req.wants_close():
                break
    except OSError:
        linger = False
    finally:
        close_gently(sock, linger)


def close_gently(sock, linger):
    """Half-closes and waits (briefly) for the peer to close first: closing
    with unread bytes pending would reset the connection and could destroy
    the end of a reply the peer has not read yet."""
    try:
        if linger:
            sock.shutdown(socket.SHUT_WR)
            sock.settimeout(2.0)
            for _ in range(64):
                if not sock.recv(65536):
                    break
    except OSError:
        pass
    finally:
        sock.close()


def route(tb, listener, req):
    first = {}
    for n in listener.names:
        first.setdefault(tb.servers[n]["role"], n)
    if req.method == "GET":
        return first.get("download")
    if req.method != "POST":
        return None
    ptype = struct.unpack(">I", req.body[:4])[0] if len(req.body) >= 4 else None
    if ptype in (records.TYPE_ASSIGN, records.TYPE_USER_ID) and "assignment" in first:
        return first["assignment"]
    return first.get("work") or first.get("assignment")


def check_http(req, ev):
    """Notes how the request deviates from what the client is meant to send."""
    host = req.header("Host")
    if req.version == "HTTP/1.1" and host is None:
        ev["problems"].append("HTTP/1.1 request without Host header")
    if req.absolute_form and host is not None:
        named = req.target[7:].split("/", 1)[0]
        if named != host:
            ev["problems"].append("Host header %r differs from the request line's %r"
                                  % (host, named))
    if req.method == "POST" and req.path != "/":
        ev["problems"].append("POST to path %r, expected /" % req.path)


def applied_switches(b):
    out = {k: b[k] for k, v in config.REPLY_DEFAULTS.items()
           if k != "next" and b.get(k) != v}
    if "_override" in b:
        out["override"] = b["_override"]
    return out


def handle(tb, listener, sock, req, peer):
    name = route(tb, listener, req)
    if name is None:
        ev = tb.new_event(listener.names[0], listener, peer, req)
        ev["kind"] = "bad_request"
        ev["problems"].append("no server here takes %s %s" % (req.method, req.path))
        ev["reply"] = {"status": 405 if req.method not in ("GET", "POST") else 404}
        tb.record(ev)
        sock.sendall(httpwire.plain_reply(ev["reply"]["status"]))
        return False
    b = tb.behaviour(name)
    ev = tb.new_event(name, listener, peer, req)
    check_http(req, ev)
    ev["switches"] = applied_switches(b)
    if b["down"]:
        # Only reachable when another server shares this address and port.
        ev["kind"] = "refused"
        tb.record(ev)
        return False
    role = tb.servers[name]["role"]
    try:
        if role == "assignment":
            reply = assignment(tb, name, req, b, ev)
        elif role == "work":
            reply = work(tb, name, listener, req, b, ev)
        else:
            reply = download(tb, req, b, ev)
    except Exception as e:  # a plugin fault must not take the server down
        reply = plain(ev, 500, "server fault: %s: %s" % (type(e).__name__, e),
                      problem=False)
    return send(tb, sock, ev, reply, b)


def send(tb, sock, ev, reply, b):
    if reply.status is not None:
        ev.setdefault("reply", {})["status"] = reply.status
        tb.record(ev)
        sock.sendall(httpwire.plain_reply(reply.status, reply.text.encode("latin-1", "replace")))
        return False
    ev.setdefault("reply", {})
    ev["reply"]["record_hex"] = reply.record.hex()
    ev["reply"]["tail_len"] = len(reply.tail)
    if b["drop"]:
        ev["reply"]["dropped"] = True
        tb.record(ev)
        if reply.unit is not None:
            tb.update(reply.unit, delivery="dropped")
        return False
    head, body, keep = httpwire.frame_reply(reply.record, reply.tail, b)
    ev["reply"]["head"] = head.decode("latin-1")
    ev["reply"]["body_len"] = len(body)
    tb.record(ev)
    time.sleep(httpwire.bounded_ms(b["delay_ms"]) / 1000.0)
    try:
        httpwire.send_paced(sock, head + body, b)
    except OSError as e:
        tb.update(ev, send_error=str(e))
        if reply.unit is not None:
            tb.update(reply.unit, delivery="send_failed")
        return False
    if reply.unit is not None:
        tb.update(reply.unit, delivery="sent")
    return keep


# ------------------------------------------------------------- assignment

def default_core_location(tb):
    for s in tb.servers.values():
        if s["role"] == "download":
            host, port = s["bind"][0]
            return "%s:%d%s" % (host, port, s["settings"]["prefix"].rstrip("/"))
    return ""


def assignment(tb, name, req, b, ev):
    try:
        f, problems = records.decode_assignment_request(req.body)
    except records.RecordError as e:
        return plain(ev, 400, str(e), "bad_request")
    ev["decoded"] = f
    ev["problems"].extend(problems)
    if f["packet_type"] == records.TYPE_USER_ID:
        uid = tb.issue_user_id()
        ev["kind"] = "user_id"
        ev["reply"] = {"user_id": uid, "user_id_hex": "%016X" % uid}
        return Reply(records.encode_user_id_reply(uid))
    if f["packet_type"] != records.TYPE_ASSIGN:
        return plain(ev, 400, "assignment request of type %d" % f["packet_type"],
                     "bad_request")
    work_server = None
    if b["server_address"] is not None:
        address = b["server_address"]
    elif b["assign_to"] is None:
        return plain(ev, 500, "no work server to assign", "assignment", problem=False)
    else:
        work_server = tb.pick_work_server(name, b["assign_to"])
        address = tb.servers[work_server]["bind"][0][0]
    location = b["core_location"]
    if location is None:
        location = default_core_location(tb)
    ev["kind"] = "assignment"
    ev["reply"] = {"work_server": work_server, "server_address": address,
                   "core_location": location,
                   "download_options": b["download_options"], "news": b["news"]}
    return Reply(records.encode_assignment_reply(
        records.ip_to_int(address), location, b["download_options"], b["news"]))


# ------------------------------------------------------------------- work

def work(tb, name, listener, req, b, ev):
    body = req.body
    try:
        hdr, problems = records.decode_work_header(body)
    except records.RecordError as e:
        return plain(ev, 400, str(e), "bad_request")
    ev["decoded"] = hdr
    ev["problems"].extend(problems)
    if hdr["server_address"] != listener.host:
        # Both requests name the work server they go to; a mismatch is the
        # mark of an address packed in the wrong byte order.
        ev["problems"].append("header names server %s, request reached %s"
                              % (hdr["server_address"], listener.host))
    if hdr["packet_type"] == records.TYPE_WORK_REQUEST:
        return issue_unit(tb, name, listener, req, b, ev, hdr)
    if hdr["packet_type"] == records.TYPE_UPLOAD:
        return take_upload(tb, name, req, b, ev, hdr)
    return plain(ev, 400, "work header of type %d" % hdr["packet_type"], "bad_request")


def issue_unit(tb, name, listener, req, b, ev, hdr):
    ev["kind"] = "work_request"
    if len(req.body) != records.WORK_HEADER_SIZE:
        ev["problems"].append("work request body of %d bytes" % len(req.body))
    index = tb.next_unit_index(name)
    source = units.make_source(b["units"], tb.base_dir)
    data = source.generate_unit(b["core_type"], index)
    if not isinstance(data, (bytes, bytearray)):
        return plain(ev, 500, "unit source returned %s, not bytes" % type(data).__name__,
                     problem=False)
    data = bytes(data)
    address = b["reply_address"] if b["reply_address"] is not None else listener.host
    port = listener.port if b["reply_port"] is None else b["reply_port"]
    declared = len(data) if b["declared_size"] is None else b["declared_size"]
    header = records.encode_work_header(
        b["reply_type"], b["core_type"], declared, records.ip_to_int(address), port,
        b["core_name"], b["deadline_seconds"], b["protocol_version"])
    unit = {"server": name, "index": index, "core_type": b["core_type"],
            "size": len(data), "sha256": sha256(data),
            "deadline_seconds": b["deadline_seconds"], "issued_at": time.time(),
            "client_id": hdr["client_id"], "user_name": hdr["user_name"],
            "machine_id": hdr["machine_id"], "status": "issued",
            "delivery": "sending", "verdicts": [], "event": ev["seq"],
            "reply_type": b["reply_type"], "declared_size": declared,
            "reply_address": address, "reply_port": port,
            "altered": altered(b, len(data))}
    tb.add_unit(unit, data, source)
    ev["reply"] = {"unit": index, "core_type": b["core_type"], "payload_size": declared,
                   "size": len(data), "deadline_seconds": b["deadline_seconds"],
                   "server_address": address, "server_port": port}
    return Reply(header, data, unit=unit)


def altered(b, size):
    """Switches in force when a unit went out that change its reply; a test
    uses them to tell a unit the client could not have stored from one
    it lost."""
    out = sorted(k for k in applied_switches(b)
                 if k not in ("override", "delay_ms", "piece_size", "piece_delay_ms"))
    if b["reply_type"] != records.TYPE_WORK_ASSIGNMENT:
        out.append("reply_type")
    if b["declared_size"] is not None and b["declared_size"] != size:
        out.append("declared_size")
    for k in ("reply_address", "reply_port"):
        if b[k] is not None:
            out.append(k)
    return out


def match_unit(tb, name, hdr, payload):
    """The outstanding unit a result belongs to: the unit source's own
    answer when it can tell, else the oldest of the same core type."""
    cands = tb.outstanding(name, hdr["client_id"])
    if not cands:
        return None, None, None
    seen = set()
    for _, _, src in cands:
        finder = getattr(src, "find_unit", None)
        if finder is None or id(src) in seen:
            continue
        seen.add(id(src))
        idx = finder(payload, [(u["index"], d) for u, d, s in cands if s is src])
        for u, d, s in cands:
            if idx is not None and u["index"] == idx:
                return u, d, s
    for u, d, s in cands:
        if u["core_type"] == hdr["core_type"]:
            return u, d, s
    return cands[0]


def take_upload(tb, name, req, b, ev, hdr):
    ev["kind"] = "upload"
    payload = req.body[records.WORK_HEADER_SIZE:]
    declared = hdr["payload_size"]
    ev["reply"] = {"payload_len": len(payload)}
    if declared > b["max_upload"] or len(payload) > b["max_upload"]:
        return plain(ev, 413, "upload of %d bytes (declared %d) above the limit of %d"
                     % (len(payload), declared, b["max_upload"]))
    if len(payload) > declared:
        ev["problems"].append("payload of %d bytes behind a header declaring %d"
                              % (len(payload), declared))
    used = payload[:declared]
    digest = sha256(used)
    ev["reply"]["payload_sha256"] = digest
    forced = tb.take_verdict(name)
    if forced is None and b["verdict"] != "check":
        forced = b["verdict"]
    duplicate = forced is None and declared and tb.was_accepted(digest)
    # A transfer problem still counts against the unit it most likely
    # carried, so the journal shows every attempt the client made for it.
    unit, data, source = (None, None, None) if duplicate else \
        match_unit(tb, name, hdr, used)
    if forced is not None:
        verdict, reason = forced, "forced"
    elif declared == 0:
        verdict, reason = 450, "payload_size is 0"
    elif len(payload) < declared:
        verdict, reason = 454, "payload shorter than declared"
    elif duplicate:
        verdict, reason = 434, "this result was accepted before"
    else:
        verdict, reason = judge(unit, data, source, hdr, used, b)
    if unit is not None:
        settled = tb.settle_unit(unit, verdict, digest)
        if settled != verdict:
            verdict, reason = settled, "this result was accepted before"
    ev["reply"].update({"verdict": verdict, "reason": reason,
                        "unit": None if unit is None else unit["index"]})
    return Reply(records.encode_work_header(verdict, hdr["core_type"],
                                            protocol_version=b["protocol_version"]))


def judge(unit, data, source, hdr, payload, b):
    if unit is None:
        return 404, "no outstanding unit for this client"
    if unit["core_type"] != hdr["core_type"]:
        return 430, "core type %d, unit needs %d" % (hdr["core_type"], unit["core_type"])
    if (b["enforce_deadlines"] and unit["deadline_seconds"] >= 1
            and time.time() + b["clock_offset"] > unit["issued_at"] + unit["deadline_seconds"]):
        return 440, "deadline passed"
    return int(source.check_result(data, payload)), "checked"


# --------------------------------------------------------------- download

def download(tb, req, b, ev):
    ev["kind"] = "download"
    path = req.path.split("?", 1)[0]
    ev["reply"] = {"path": path}
    if b["root"] is None:
        return plain(ev, 404, "no bundle folder configured", problem=False)
    prefix = b["prefix"]
    if not path.startswith(prefix):
        return plain(ev, 404, "path outside %s" % prefix)
    parts = path[len(prefix):].split("/")
    if any(p in ("", ".", "..") or "\\" in p or "\0" in p for p in parts):
        return plain(ev, 404, "unsafe path %r" % path)
    root = os.path.realpath(os.path.join(tb.base_dir, b["root"]))
    target = os.path.realpath(os.path.join(root, *parts))
    if not target.startswith(root + os.sep) or not os.path.isfile(target):
        return plain(ev, 404, "no file for %s" % path, problem=False)
    with open(target, "rb") as f:
        data = f.read()
    ev["reply"].update({"file": os.path.relpath(target, root), "size": len(data),
                        "sha256": sha256(data)})
    return Reply(b"", data)
