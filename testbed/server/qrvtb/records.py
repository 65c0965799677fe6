"""The binary records that travel in HTTP bodies, field by field.

Every multi-byte number is big-endian ('>') except, in the work server's
replies only, the work header's server_address and server_port: those go
out little-endian ('<'), the address's first octet in the value's most
significant byte. The client's own headers (types 100 and 300) carry the
address in network order like everything else it writes. Text fields are
zero-terminated inside their fixed width.
"""

import struct

ASSIGN_REQUEST_SIZE = 432
ASSIGN_REPLY_SIZE = 260
USER_ID_REPLY_SIZE = 8
WORK_HEADER_SIZE = 512
MAX_PAYLOAD = 2097152

TYPE_ASSIGN = 10
TYPE_USER_ID = 11
TYPE_WORK_REQUEST = 100
TYPE_WORK_ASSIGNMENT = 200
TYPE_UPLOAD = 300
VERDICT_ACCEPTED = 400
VERDICT_DUPLICATE = 434       # the same result was accepted before
# Refusals that make the client drop the unit for good.
VERDICTS_FINAL = (404, 420, 430, 434, 440)
# Transfer problems: the client keeps the unit and tries again later.
VERDICTS_TRANSFER = (444, 450, 454)
KNOWN_VERDICTS = (VERDICT_ACCEPTED,) + VERDICTS_FINAL + VERDICTS_TRANSFER


class RecordError(ValueError):
    """A record or field that cannot be packed or unpacked as asked."""


def ip_to_int(dotted):
    """'10.0.0.1' -> 0x0A000001 (first octet most significant)."""
    parts = str(dotted).split(".")
    if len(parts) != 4:
        raise RecordError("not a dotted IPv4 address: %r" % (dotted,))
    value = 0
    for p in parts:
        if not p.isdigit() or int(p) > 255:
            raise RecordError("not a dotted IPv4 address: %r" % (dotted,))
        value = (value << 8) | int(p)
    return value


def int_to_ip(value):
    return "%u.%u.%u.%u" % ((value >> 24) & 255, (value >> 16) & 255,
                            (value >> 8) & 255, value & 255)


def get_text(buf, offset, width):
    """Returns (text, terminated). An unterminated field is returned whole so
    that the caller can report it instead of reading past the field."""
    field = bytes(buf[offset:offset + width])
    end = field.find(b"\0")
    if end < 0:
        return field.decode("latin-1"), False
    return field[:end].decode("latin-1"), True


def put_text(buf, offset, width, text):
    """Writes text zero-padded into its field. A text that fills the whole
    width is written without terminator: the servers may send that, and the
    client must cope, so the testbed has to be able to produce it."""
    data = text.encode("latin-1") if isinstance(text, str) else bytes(text)
    if len(data) > width:
        raise RecordError("text of %d bytes does not fit a %d-byte field"
                          % (len(data), width))
    buf[offset:offset + width] = data + b"\0" * (width - len(data))


def _zero(buf, start, end):
    return all(b == 0 for b in buf[start:end])


# ---------------------------------------------------------------- assignment

def decode_assignment_request(body):
    """432-byte request of type 10 (which work server?) or 11 (new user ID).
    Returns (fields, problems); problems lists deviations a real server
    would notice, so tests can catch a client that packs a field wrongly."""
    if len(body) != ASSIGN_REQUEST_SIZE:
        raise RecordError("assignment request of %d bytes, expected %d"
                          % (len(body), ASSIGN_REQUEST_SIZE))
    (ptype, gap4, benchmark, user_id) = struct.unpack_from(">IIQQ", body, 0)
    version, version_ok = get_text(body, 24, 8)
    one_a, cpu_type, one_b, os_type = struct.unpack_from(">IIII", body, 32)
    user_name, name_ok = get_text(body, 48, 64)
    team, team_ok = get_text(body, 112, 64)
    memory_size, = struct.unpack_from(">Q", body, 176)
    work_pref, edition, perf_bits = struct.unpack_from(">HHI", body, 184)
    perf, = struct.unpack(">f", body[188:192])
    f = {
        "packet_type": ptype, "benchmark": benchmark, "user_id": user_id,
        "client_version": version, "cpu_type": cpu_type, "os_type": os_type,
        "user_name": user_name, "team": team, "memory_size": memory_size,
        "work_preference": work_pref, "edition": edition,
        "performance_fraction_bits": perf_bits,
        "performance_fraction": perf if perf == perf else None,  # NaN -> null
    }
    problems = []
    if ptype not in (TYPE_ASSIGN, TYPE_USER_ID):
        problems.append("packet_type %d is neither 10 nor 11" % ptype)
    if gap4 != 0:
        problems.append("bytes 4..7 not zero")
    if one_a != 1 or one_b != 1:
        problems.append("constant words at 32/40 are %d/%d, not 1/1" % (one_a, one_b))
    if not (version_ok and name_ok and team_ok):
        problems.append("unterminated text field")
    if not _zero(body, 192, 432):
        problems.append("bytes 192..431 not zero")
    if ptype == TYPE_USER_ID and (benchmark or user_id or memory_size or
                                  work_pref or edition or perf_bits):
        problems.append("type 11 request carries non-zero type-10 fields")
    return f, problems


def encode_assignment_reply(server_address, core_location, download_options, news):
    buf = bytearray(ASSIGN_REPLY_SIZE)
    struct.pack_into(">I", buf, 0, server_address & 0xFFFFFFFF)
    put_text(buf, 4, 127, core_location)
    struct.pack_into(">B", buf, 131, download_options & 0xFF)
    put_text(buf, 132, 128, news)
    return bytes(buf)


def encode_user_id_reply(user_id):
    return struct.pack(">Q", user_id & 0xFFFFFFFFFFFFFFFF)


# --------------------------------------------------------------- work header

def decode_work_header(buf):
    """The 512-byte work header as a client sends it (types 100 and 300).
    Returns (fields, problems). In an upload, the fields the client does not
    write (bytes 16..83, 92..159, 296..303, 320..327) hold whatever its
    buffer held before: the previous upload's reply."""
    if len(buf) < WORK_HEADER_SIZE:
        raise RecordError("work header of %d bytes, expected %d"
                          % (len(buf), WORK_HEADER_SIZE))
    ptype, core_type, proto, payload_size = struct.unpack_from(">IIII", buf, 0)
    machine_id, = struct.unpack_from(">I", buf, 84)
    address, port = struct.unpack_from(">II", buf, 88)
    core_name, core_name_ok = get_text(buf, 96, 64)
    user_name, name_ok = get_text(buf, 160, 64)
    team, team_ok = get_text(buf, 224, 64)
    client_id, benchmark = struct.unpack_from(">QQ", buf, 288)
    flag_a, flag_b, cpu_type, os_type = struct.unpack_from(">IIII", buf, 304)
    deadline, = struct.unpack_from(">i", buf, 320)
    done, = struct.unpack_from(">I", buf, 324)
    f = {
        "packet_type": ptype, "core_type": core_type,
        "protocol_version": proto, "payload_size": payload_size,
        "machine_id": machine_id, "server_address": int_to_ip(address),
        "server_port": port, "core_name": core_name, "user_name": user_name,
        "team": team, "client_id": client_id, "benchmark": benchmark,
        "upload_flags": [flag_a, flag_b], "cpu_type": cpu_type,
        "os_type": os_type, "deadline_seconds": deadline,
        "done_from_server": done,
    }
    problems = []
    if proto != 324:
        problems.append("protocol_version %d, expected 324" % proto)
    if not (name_ok and team_ok):
        problems.append("unterminated user_name or team")
    if not _zero(buf, 328, 512):
        problems.append("bytes 328..511 not zero")
    if ptype == TYPE_WORK_REQUEST:
        if payload_size != 0:
            problems.append("work request with payload_size %d" % payload_size)
        if flag_a or flag_b:
            problems.append("work request with upload flags set")
        for start, end in ((16, 84), (92, 160), (320, 324)):
            if not _zero(buf, start, end):
                problems.append("bytes %d..%d of a work request not zero" % (start, end - 1))
    elif ptype == TYPE_UPLOAD:
        if (flag_a, flag_b) != (1, 1):
            problems.append("upload flags %d/%d, expected 1/1" % (flag_a, flag_b))
    else:
        problems.append("packet_type %d is neither 100 nor 300" % ptype)
    return f, problems


def encode_work_header(packet_type, core_type=0, payload_size=0,
                       server_address=0, server_port=0, core_name="",
                       deadline_seconds=0, protocol_version=324):
    """A work server's reply header: the work assignment (200) or a verdict."""
    buf = bytearray(WORK_HEADER_SIZE)
    struct.pack_into(">IIII", buf, 0, packet_type & 0xFFFFFFFF,
                     core_type & 0xFFFFFFFF, protocol_version & 0xFFFFFFFF,
                     payload_size & 0xFFFFFFFF)
    struct.pack_into("<II", buf, 88, server_address & 0xFFFFFFFF,
                     server_port & 0xFFFFFFFF)
    put_text(buf, 96, 64, core_name)
    struct.pack_into(">i", buf, 320, deadline_seconds)
    return bytes(buf)
