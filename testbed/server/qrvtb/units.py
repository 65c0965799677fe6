"""Where units come from and how results are judged.

A unit source is any object with

    generate_unit(core_type, index) -> bytes
        the work data of the index-th unit a work server issues (index
        counts from 0 per work server);
    check_result(unit, result_bytes) -> int
        the verdict for a result that belongs to that unit: 400 accepts,
        404/420/430/434/440 refuse the unit for good, 444/450/454 report a
        transfer problem (the client keeps the unit and tries again);

and optionally

    find_unit(result_bytes, candidates) -> index or None
        which outstanding unit a result belongs to; candidates is a list of
        (index, unit_bytes) of the units this client still holds, oldest
        first. Without it (or when it returns None) the server takes the
        oldest candidate of the same core type.

The upload header carries no unit number, so a source whose results name
their unit (the demo molecular dynamics core's do) should provide find_unit.

A work server names its source in its "units" setting:
    {"source": "random", "size": 4096, "seed": 1}
    {"source": "plugin", "path": "/abs/or/relative/file.py",
     "class": "Name", "args": {...}}
"""

import hashlib
import importlib.util
import json
import os
import random
import threading

from . import records


class UnitSource(object):
    """Base of every unit source; documents the interface."""

    def generate_unit(self, core_type, index):
        raise NotImplementedError

    def check_result(self, unit, result_bytes):
        raise NotImplementedError

    def find_unit(self, result_bytes, candidates):
        return None


class RandomUnits(UnitSource):
    """Reproducible random bytes: unit (core_type, index) is the same in
    every run with the same seed, so a test can recompute what it got."""

    def __init__(self, size=4096, seed=1):
        if not 0 <= int(size) <= 64 * 1024 * 1024:
            raise ValueError("unit size %r out of range" % (size,))
        self.size = int(size)
        self.seed = int(seed)

    def generate_unit(self, core_type, index):
        key = "%d/%d/%d" % (self.seed, core_type, index)
        rng = random.Random(hashlib.sha256(key.encode()).digest())
        return rng.randbytes(self.size)

    def check_result(self, unit, result_bytes):
        # Random units define no computation, so any non-empty result is as
        # good as another; an empty one has nothing in it to credit.
        return records.VERDICT_ACCEPTED if result_bytes else 450


_plugins = {}
_plugins_lock = threading.Lock()


def load_plugin(path, class_name, args, base_dir="."):
    key = (os.path.abspath(os.path.join(base_dir, path)), class_name,
           json.dumps(args or {}, sort_keys=True))
    with _plugins_lock:
        if key in _plugins:
            return _plugins[key]
        spec = importlib.util.spec_from_file_location(
            "qrvtb_plugin_%d" % len(_plugins), key[0])
        if spec is None:
            raise ValueError("cannot load unit source from %s" % key[0])
        module = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(module)
        cls = getattr(module, class_name, None)
        if cls is None:
            raise ValueError("%s has no class %s" % (key[0], class_name))
        obj = cls(**(args or {}))
        for name in ("generate_unit", "check_result"):
            if not callable(getattr(obj, name, None)):
                raise ValueError("%s.%s lacks %s" % (path, class_name, name))
        _plugins[key] = obj
        return obj


def make_source(spec, base_dir="."):
    spec = spec or {}
    kind = spec.get("source", "random")
    if kind == "random":
        return RandomUnits(spec.get("size", 4096), spec.get("seed", 1))
    if kind == "plugin":
        return load_plugin(spec["path"], spec["class"], spec.get("args"), base_dir)
    raise ValueError("unknown unit source %r" % (kind,))
