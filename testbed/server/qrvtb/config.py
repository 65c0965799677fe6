"""Settings of the testbed's servers: defaults, validation, merging.

Every server has a role (assignment, work, download), the addresses it
listens on, its role's settings and the reply switches common to all roles.
A key set to null goes back to its value at start.
"""

import copy

from . import records

DEFAULT_CONFIG = {
    "control": "127.0.0.1:8999",
    "first_user_id": 0x00A1B2C3D4E50001,
    "servers": {
        "primary": {"role": "assignment", "bind": ["127.0.0.1:8080"]},
        "secondary": {"role": "assignment", "bind": ["127.0.0.1:80"]},
        # A work server is reached at the port of whichever assignment
        # server answered, so each listens on both.
        "ws1": {"role": "work", "bind": ["127.0.0.2:8080", "127.0.0.2:80"]},
        "ws2": {"role": "work", "bind": ["127.0.0.3:8080", "127.0.0.3:80"]},
        "cores": {"role": "download", "bind": ["127.0.0.4:8081"]},
    },
}

# How a reply goes out; the same for every role.
REPLY_DEFAULTS = {
    "down": False,          # not listening: connections are refused
    "drop": False,          # read the request, close without a reply
    "delay_ms": 0,          # wait before replying (bounded)
    "piece_size": 0,        # with piece_delay_ms: send the reply in pieces
    "piece_delay_ms": 0,
    "http_version": "1.1",  # "1.0" or "1.1" in the status line
    "http_status": 200,
    "framing": "length",    # length | chunked | close | raw (no HTTP head)
    "chunk_size": 4096,
    "leading_crlf": 0,      # CR LF pairs in front of the reply record
    "truncate": None,       # send only this many body bytes
    "lie_length": False,    # announce the untruncated length anyway
    "extra_bytes": 0,       # zero bytes appended behind the reply
    "next": [],             # one-shot overrides, one taken per request
}

ROLE_DEFAULTS = {
    "assignment": {
        "assign_to": "ws1",         # work server name, or a list (rotation)
        "server_address": None,     # dotted address sent instead ("0.0.0.0")
        "core_location": None,      # default: first download host + prefix
        "download_options": 0,
        "news": "Testbed: units for testing only.",
    },
    "work": {
        "core_type": 0x78,
        "core_name": "Testbed core",
        "deadline_seconds": 86400,
        "units": {"source": "random", "size": 4096, "seed": 1},
        "reply_type": 200,
        "reply_address": None,      # default: the address that was reached
        "reply_port": None,         # default: the port that was reached
        "declared_size": None,      # payload_size announced instead of the real one
        "protocol_version": 324,
        "verdict": "check",         # "check" or a fixed reply code
        "verdicts": [],             # codes used one per upload before "verdict"
        "max_upload": records.MAX_PAYLOAD,
        "enforce_deadlines": True,
        "clock_offset": 0,          # seconds added to the clock for deadlines
    },
    "download": {
        "root": None,               # folder of bundles
        "prefix": "/cores/",        # URL path that maps onto root
    },
}

ROLES = tuple(ROLE_DEFAULTS)


class ConfigError(ValueError):
    pass


def parse_hostport(text):
    text = str(text)
    if ":" not in text:
        raise ConfigError("address %r lacks a port" % text)
    host, port = text.rsplit(":", 1)
    try:
        records.ip_to_int(host)
    except records.RecordError:
        raise ConfigError("%r is not a dotted IPv4 address" % host)
    if not port.isdigit() or int(port) > 65535:
        raise ConfigError("bad port in %r" % text)
    return host, int(port)


def defaults_for(role):
    d = copy.deepcopy(REPLY_DEFAULTS)
    d.update(copy.deepcopy(ROLE_DEFAULTS[role]))
    return d


def _int(v, name, lo, hi):
    if isinstance(v, bool) or not isinstance(v, int) or not lo <= v <= hi:
        raise ConfigError("%s must be an integer in %d..%d, not %r" % (name, lo, hi, v))


def _text(v, name, width):
    if not isinstance(v, str):
        raise ConfigError("%s must be text" % name)
    try:
        n = len(v.encode("latin-1"))
    except UnicodeEncodeError:
        raise ConfigError("%s must be Latin-1 text" % name)
    if n > width:
        raise ConfigError("%s is %d bytes, its field holds %d" % (name, n, width))


def check_value(role, key, v, known_servers=()):
    """Raises ConfigError for a setting the server could not carry out, so a
    typo in a test fails loudly instead of testing the default."""
    if key not in REPLY_DEFAULTS and key not in ROLE_DEFAULTS[role]:
        raise ConfigError("unknown setting %r for a %s server" % (key, role))
    if v is None:
        return
    if key in ("down", "drop", "lie_length", "enforce_deadlines"):
        if not isinstance(v, bool):
            raise ConfigError("%s must be true or false" % key)
    elif key in ("delay_ms", "piece_delay_ms", "piece_size", "extra_bytes",
                 "leading_crlf", "truncate", "clock_offset"):
        _int(v, key, -10**9 if key == "clock_offset" else 0, 1 << 31)
    elif key == "chunk_size":
        _int(v, key, 1, 1 << 24)
    elif key == "http_version":
        if v not in ("1.0", "1.1"):
            raise ConfigError("http_version must be \"1.0\" or \"1.1\"")
    elif key == "http_status":
        _int(v, key, 100, 999)
    elif key == "framing":
        if v not in ("length", "chunked", "close", "raw"):
            raise ConfigError("framing must be length, chunked, close or raw")
    elif key == "next":
        if not isinstance(v, list) or not all(isinstance(o, dict) for o in v):
            raise ConfigError("next must be a list of objects")
        for o in v:
            for k2, v2 in o.items():
                if k2 == "next":
                    raise ConfigError("next cannot nest")
                check_value(role, k2, v2, known_servers)
    elif key == "assign_to":
        names = v if isinstance(v, list) else [v]
        if not names or any(n not in known_servers for n in names):
            raise ConfigError("assign_to names no known work server: %r" % (v,))
    elif key in ("server_address", "reply_address"):
        try:
            records.ip_to_int(v)
        except records.RecordError as e:
            raise ConfigError(str(e))
    elif key == "core_location":
        _text(v, key, 127)
    elif key == "news":
        _text(v, key, 128)
    elif key == "core_name":
        _text(v, key, 64)
    elif key == "download_options":
        _int(v, key, 0, 255)
    elif key in ("core_type", "reply_type", "protocol_version", "declared_size",
                 "reply_port"):
        _int(v, key, 0, 0xFFFFFFFF)
    elif key == "deadline_seconds":
        _int(v, key, -(1 << 31), (1 << 31) - 1)
    elif key == "max_upload":
        _int(v, key, 0, 64 * 1024 * 1024)
    elif key == "verdict":
        if v != "check":
            _int(v, key, 0, 0xFFFFFFFF)
    elif key == "verdicts":
        if not isinstance(v, list):
            raise ConfigError("verdicts must be a list of codes")
        for c in v:
            _int(c, "a verdict", 0, 0xFFFFFFFF)
    elif key == "units":
        if not isinstance(v, dict) or v.get("source", "random") not in ("random", "plugin"):
            raise ConfigError("units must be {\"source\": \"random\"|\"plugin\", ...}")
        if v.get("source") == "plugin" and not ("path" in v and "class" in v):
            raise ConfigError("a plugin unit source needs path and class")
    elif key in ("root", "prefix"):
        if not isinstance(v, str):
            raise ConfigError("%s must be text" % key)
        if key == "prefix" and not v.startswith("/"):
            raise ConfigError("prefix must begin with /")


def build(user_config):
    """Start configuration from the defaults and an optional JSON object."""
    cfg = copy.deepcopy(DEFAULT_CONFIG)
    user_config = user_config or {}
    for k in user_config:
        if k not in ("control", "first_user_id", "servers"):
            raise ConfigError("unknown top-level key %r" % k)
    if "control" in user_config:
        cfg["control"] = user_config["control"]
    if "first_user_id" in user_config:
        v = user_config["first_user_id"]
        if isinstance(v, str):
            v = int(v, 0)
        _int(v, "first_user_id", 0, (1 << 64) - 1)
        cfg["first_user_id"] = v
    for name, s in (user_config.get("servers") or {}).items():
        if s is None:  # null removes a default server
            cfg["servers"].pop(name, None)
        elif name in cfg["servers"]:
            cfg["servers"][name].update(s)
        else:
            cfg["servers"][name] = dict(s)
    parse_hostport(cfg["control"])
    work_names = [n for n, s in cfg["servers"].items() if s.get("role") == "work"]
    servers = {}
    for name, s in cfg["servers"].items():
        role = s.get("role")
        if role not in ROLES:
            raise ConfigError("server %s has no valid role (%s)" % (name, "/".join(ROLES)))
        binds = s.get("bind")
        if isinstance(binds, str):
            binds = [binds]
        if not binds:
            raise ConfigError("server %s has no bind address" % name)
        full = defaults_for(role)
        for k, v in s.items():
            if k in ("role", "bind"):
                continue
            check_value(role, k, v, work_names)
            full[k] = v
        if role == "assignment" and "assign_to" not in s:
            # The default names ws1; a configuration without it gets its
            # first work server instead.
            full["assign_to"] = work_names[0] if work_names else None
        servers[name] = {"role": role,
                         "bind": [parse_hostport(b) for b in binds],
                         "settings": full}
    cfg["servers"] = servers
    return cfg
