"""Work units of the demo molecular dynamics core, and the check of its
results. Loaded by a work server as a unit source:

    {"source": "plugin", "path": "qrvtb/md_units.py", "class": "MdUnits",
     "args": {"cells": 6, "steps": 12000}}

(path relative to the testbed configuration file's folder). It is also a
command-line tool for tests and benchmarks:

    md_units.py make-unit OUT [--index I] [--NAME VALUE ...]   (any MdUnits arg)
    md_units.py check UNIT RESULT      prints the verdict and why; exit 0 on 400
    md_units.py run UNIT OUT           this module's own (slow) run of a unit

The module stands alone (the testbed loads plugins by path) and shares no
code with the core: the unit and result layouts below are written out
again from their byte offsets, so that a layout mistake on one side shows.

Unit, little-endian:
    0 char[8] "QRVMDUNT"   8 u32 version 1   12 u32 header size 256
   16 u64 unit id          24 char[80] name, zero-terminated
  104 u32 N  108 u32 steps  112 u32 checkpoint interval  116 u32 sample interval
  120 u32 probe steps k    124 u32 0
  128 f64 box  136 f64 dt  144 f64 cutoff  152 f64 skin  160 f64 density
  168 f64 temperature      176 f64 energy tolerance per particle  184 zeros
  256 N x (x y z vx vy vz) f64, then SHA-256 of all bytes before it.

Result, little-endian:
    0 char[8] "QRVMDRES"   8 u32 version 1   12 u32 header size 128
   16 u8[32] SHA-256 of the unit file        48 u64 unit id
   56 u32 N  60 u32 steps done  64 u32 sample interval  68 u32 sample count S
   72 u32 probe steps k    76 u32 0          80 f64 box
   88 u8[32] SHA-256 over bytes 0..87 and 120..end   120 zeros
  128 S x (u32 step, u32 0, f64 kinetic, f64 potential)
      then the states at step k, at step steps-k and at the end, N x 48 each.

What the check demands of a result (anything else is refused with 404):
the layout and its digest; the unit it names; the sample steps; the first
sample equal to the unit's own energy; the first k steps recomputed here
from the unit's start agreeing with the state sent for step k; the last k
steps recomputed from the state sent for step steps-k agreeing with the
final state; the last sample equal to the final state's energy; total
momentum conserved; total energy within the unit's tolerance throughout.
"""

import hashlib
import math
import random
import struct
import sys

ACCEPTED = 400
REFUSED = 404

UNIT_MAGIC = b"QRVMDUNT"
RESULT_MAGIC = b"QRVMDRES"
UNIT_HEADER = 256
RESULT_HEADER = 128
PARTICLE = 48
SAMPLE = 24
MAX_TRANSFER = 2097152

# Agreement between this module's arithmetic and the core's: both follow
# the same steps, only the order of floating-point sums differs, and a few
# steps cannot amplify that to anywhere near these bounds.
STATE_TOLERANCE = 1e-7      # positions and velocities after k steps
ENERGY_AGREEMENT = 1e-7     # per particle, energy of a state sent vs here
MOMENTUM_TOLERANCE = 1e-8   # per particle


# ------------------------------------------------------------------ layout

def sha256(data):
    return hashlib.sha256(data).digest()


def sample_count(steps, every):
    return steps // every + 1 + (1 if steps % every else 0)


def result_size(n, steps, every):
    return RESULT_HEADER + sample_count(steps, every) * SAMPLE + 3 * n * PARTICLE


def encode_unit(u, state):
    name = u["name"].encode()[:79]
    head = bytearray(UNIT_HEADER)
    head[0:8] = UNIT_MAGIC
    struct.pack_into("<IIQ", head, 8, 1, UNIT_HEADER, u["id"])
    head[24:24 + len(name)] = name
    struct.pack_into("<IIIIII", head, 104, u["n"], u["steps"], u["checkpoint_every"],
                     u["sample_every"], u["probe_steps"], 0)
    struct.pack_into("<7d", head, 128, u["box"], u["dt"], u["cutoff"], u["skin"],
                     u["density"], u["temperature"], u["energy_tolerance"])
    body = bytes(head) + struct.pack("<%dd" % len(state), *state)
    return body + sha256(body)


def decode_unit(data):
    """The unit's fields; raises ValueError for anything but a sound unit."""
    if len(data) < UNIT_HEADER + 32 or data[0:8] != UNIT_MAGIC:
        raise ValueError("not a molecular dynamics unit")
    version, header = struct.unpack_from("<II", data, 8)
    if version != 1 or header != UNIT_HEADER:
        raise ValueError("unknown unit layout")
    u = {"id": struct.unpack_from("<Q", data, 16)[0],
         "name": data[24:104].split(b"\0", 1)[0].decode("latin-1")}
    (u["n"], u["steps"], u["checkpoint_every"], u["sample_every"],
     u["probe_steps"]) = struct.unpack_from("<5I", data, 104)
    (u["box"], u["dt"], u["cutoff"], u["skin"], u["density"], u["temperature"],
     u["energy_tolerance"]) = struct.unpack_from("<7d", data, 128)
    if len(data) != UNIT_HEADER + u["n"] * PARTICLE + 32:
        raise ValueError("unit size does not match its particle count")
    if sha256(data[:-32]) != data[-32:]:
        raise ValueError("unit checksum mismatch")
    u["state"] = list(struct.unpack_from("<%dd" % (6 * u["n"]), data, UNIT_HEADER))
    u["sha256"] = sha256(data)
    return u


def encode_result(u, samples, early, late, final):
    head = bytearray(RESULT_HEADER)
    head[0:8] = RESULT_MAGIC
    struct.pack_into("<II", head, 8, 1, RESULT_HEADER)
    head[16:48] = u["sha256"]
    struct.pack_into("<QIIIIII", head, 48, u["id"], u["n"], u["steps"], u["sample_every"],
                     len(samples), u["probe_steps"], 0)
    struct.pack_into("<d", head, 80, u["box"])
    body = b"".join(struct.pack("<IIdd", s, 0, ke, pe) for s, ke, pe in samples)
    for st in (early, late, final):
        body += struct.pack("<%dd" % len(st), *st)
    digest = sha256(bytes(head[:88]) + bytes(head[120:]) + body)
    head[88:120] = digest
    return bytes(head) + body


def decode_result(data, u):
    """The result's parts, checked against the unit's shape; ValueError
    with the reason otherwise."""
    if len(data) < RESULT_HEADER or data[0:8] != RESULT_MAGIC:
        raise ValueError("not a molecular dynamics result")
    if struct.unpack_from("<II", data, 8) != (1, RESULT_HEADER):
        raise ValueError("unknown result layout")
    if data[16:48] != u["sha256"]:
        raise ValueError("result names another unit")
    uid, n, steps, every, count, probe = struct.unpack_from("<QIIIII", data, 48)
    want = (u["id"], u["n"], u["steps"], u["sample_every"],
            sample_count(u["steps"], u["sample_every"]), u["probe_steps"])
    if (uid, n, steps, every, count, probe) != want:
        raise ValueError("result header %r does not match the unit %r"
                         % ((uid, n, steps, every, count, probe), want))
    if struct.unpack_from("<d", data, 80)[0] != u["box"]:
        raise ValueError("box edge differs from the unit's")
    if len(data) != result_size(n, steps, every):
        raise ValueError("result is %d bytes, expected %d" % (len(data), result_size(n, steps, every)))
    if sha256(data[:88] + data[120:]) != data[88:120]:
        raise ValueError("result digest does not match its contents")
    samples = [struct.unpack_from("<IIdd", data, RESULT_HEADER + SAMPLE * i) for i in range(count)]
    at = RESULT_HEADER + SAMPLE * count
    states = []
    for _ in range(3):
        states.append(list(struct.unpack_from("<%dd" % (6 * n), data, at)))
        at += n * PARTICLE
    return [(s, ke, pe) for s, _, ke, pe in samples], states[0], states[1], states[2]


# ------------------------------------------------------------------ physics

def wrap(x, box):
    w = x - box * math.floor(x / box)
    if w >= box:
        w -= box
    if w < 0:
        w = 0.0
    return w


class LJ(object):
    """The same model as the core: LJ truncated and shifted at the cutoff,
    periodic cube, velocity Verlet, unit masses."""

    def __init__(self, n, box, cutoff, skin, state):
        self.n, self.box, self.half = n, box, box / 2
        self.rc2 = cutoff * cutoff
        self.list_r2 = (cutoff + skin) ** 2
        self.half_skin2 = skin * skin / 4
        inv6 = 1.0 / self.rc2 ** 3
        self.shift = 4 * inv6 * (inv6 - 1)
        self.x = [wrap(state[6 * i + k], box) for i in range(n) for k in range(3)]
        self.v = [state[6 * i + 3 + k] for i in range(n) for k in range(3)]
        self.built_at = None
        self.forces()

    def state(self):
        out = []
        for i in range(self.n):
            out += self.x[3 * i:3 * i + 3] + self.v[3 * i:3 * i + 3]
        return out

    def mi(self, d):
        if d > self.half:
            return d - self.box
        if d < -self.half:
            return d + self.box
        return d

    def stale(self):
        if self.built_at is None:
            return True
        x, b = self.x, self.built_at
        for i in range(self.n):
            dx = self.mi(x[3 * i] - b[3 * i])
            dy = self.mi(x[3 * i + 1] - b[3 * i + 1])
            dz = self.mi(x[3 * i + 2] - b[3 * i + 2])
            if dx * dx + dy * dy + dz * dz > self.half_skin2:
                return True
        return False

    def build(self):
        """Neighbour rows (j > i) through cells, or all pairs in a small box."""
        n, x, box = self.n, self.x, self.box
        self.built_at = list(x)
        nc = int(box / math.sqrt(self.list_r2))
        cells = {}
        if nc >= 3:
            for i in range(n):
                c = tuple(min(nc - 1, int(x[3 * i + k] * nc / box)) for k in range(3))
                cells.setdefault(c, []).append(i)
        self.rows = []
        for i in range(n):
            if nc >= 3:
                c = tuple(min(nc - 1, int(x[3 * i + k] * nc / box)) for k in range(3))
                cand = []
                for dx in (-1, 0, 1):
                    for dy in (-1, 0, 1):
                        for dz in (-1, 0, 1):
                            cand += cells.get(((c[0] + dx) % nc, (c[1] + dy) % nc,
                                               (c[2] + dz) % nc), [])
            else:
                cand = range(n)
            row = []
            for j in cand:
                if j > i:
                    dx = self.mi(x[3 * i] - x[3 * j])
                    dy = self.mi(x[3 * i + 1] - x[3 * j + 1])
                    dz = self.mi(x[3 * i + 2] - x[3 * j + 2])
                    if dx * dx + dy * dy + dz * dz < self.list_r2:
                        row.append(j)
            self.rows.append(sorted(row))

    def forces(self):
        if self.stale():
            self.build()
        x, box, half, rc2 = self.x, self.box, self.half, self.rc2
        f = [0.0] * (3 * self.n)
        pe = 0.0
        for i in range(self.n):
            xi, yi, zi = x[3 * i], x[3 * i + 1], x[3 * i + 2]
            fx = fy = fz = 0.0
            for j in self.rows[i]:
                dx, dy, dz = xi - x[3 * j], yi - x[3 * j + 1], zi - x[3 * j + 2]
                if dx > half:
                    dx -= box
                elif dx < -half:
                    dx += box
                if dy > half:
                    dy -= box
                elif dy < -half:
                    dy += box
                if dz > half:
                    dz -= box
                elif dz < -half:
                    dz += box
                r2 = dx * dx + dy * dy + dz * dz
                if r2 >= rc2:
                    continue
                inv2 = 1.0 / r2
                inv6 = inv2 * inv2 * inv2
                ff = 24.0 * inv6 * (2.0 * inv6 - 1.0) * inv2
                fx += ff * dx
                fy += ff * dy
                fz += ff * dz
                f[3 * j] -= ff * dx
                f[3 * j + 1] -= ff * dy
                f[3 * j + 2] -= ff * dz
                pe += 4.0 * inv6 * (inv6 - 1.0) - self.shift
            f[3 * i] += fx
            f[3 * i + 1] += fy
            f[3 * i + 2] += fz
        self.f, self.potential = f, pe

    def kinetic(self):
        return 0.5 * sum(vk * vk for vk in self.v)

    def step(self, dt):
        half_dt = 0.5 * dt
        x, v, f, box = self.x, self.v, self.f, self.box
        for k in range(3 * self.n):
            v[k] += half_dt * f[k]
            x[k] = wrap(x[k] + dt * v[k], box)
        self.forces()
        f = self.f
        for k in range(3 * self.n):
            v[k] += half_dt * f[k]


def momentum(state):
    n = len(state) // 6
    return [sum(state[6 * i + 3 + k] for i in range(n)) for k in range(3)]


def state_difference(a, b, box):
    """Largest difference of two states, positions compared as nearest images."""
    worst = 0.0
    for i in range(len(a)):
        d = a[i] - b[i]
        if i % 6 < 3:
            d -= box * round(d / box)
        worst = max(worst, abs(d))
    return worst


# ------------------------------------------------------------------ units

def initial_state(cells, density, temperature, rng):
    """FCC lattice, slightly shaken, Maxwell velocities at the exact
    temperature with no net momentum."""
    n = 4 * cells ** 3
    box = (n / density) ** (1.0 / 3.0)
    a = box / cells
    basis = ((0, 0, 0), (0.5, 0.5, 0), (0.5, 0, 0.5), (0, 0.5, 0.5))
    pos = []
    for ix in range(cells):
        for iy in range(cells):
            for iz in range(cells):
                for b in basis:
                    pos.append([wrap((c + o + 0.25) * a + rng.uniform(-0.03, 0.03) * a, box)
                                for c, o in zip((ix, iy, iz), b)])
    vel = [[rng.gauss(0.0, math.sqrt(temperature)) for _ in range(3)] for _ in range(n)]
    mean = [sum(v[k] for v in vel) / n for k in range(3)]
    vel = [[v[k] - mean[k] for k in range(3)] for v in vel]
    ke = 0.5 * sum(c * c for v in vel for c in v)
    scale = math.sqrt(1.5 * (n - 1) * temperature / ke)
    state = []
    for p, v in zip(pos, vel):
        state += p + [c * scale for c in v]
    return box, state


class MdUnits(object):
    """Unit source for the demo core: generate_unit, check_result, find_unit."""

    # The defaults make a unit of 864 atoms that takes the core about ten
    # seconds on one processor; its energy stays within about 2e-4 per atom.
    def __init__(self, cells=6, density=0.8, temperature=1.0, dt=0.005, steps=12000,
                 checkpoint_every=1200, sample_every=100, probe_steps=5, cutoff=2.5,
                 skin=0.3, energy_tolerance=0.005, seed=1):
        self.p = dict(cells=int(cells), density=float(density), temperature=float(temperature),
                      dt=float(dt), steps=int(steps), checkpoint_every=int(checkpoint_every),
                      sample_every=int(sample_every), probe_steps=int(probe_steps),
                      cutoff=float(cutoff), skin=float(skin),
                      energy_tolerance=float(energy_tolerance), seed=int(seed))
        p = self.p
        n = 4 * p["cells"] ** 3
        if p["cells"] < 1:
            raise ValueError("cells must be at least 1")
        if not (p["density"] > 0 and p["temperature"] > 0 and 0 < p["dt"] <= 0.05
                and p["cutoff"] > 0 and p["skin"] >= 0 and p["energy_tolerance"] > 0):
            raise ValueError("density, temperature, dt, cutoff, skin or tolerance out of range")
        if min(p["steps"], p["checkpoint_every"], p["sample_every"], p["probe_steps"]) < 1 \
                or 2 * p["probe_steps"] > p["steps"]:
            raise ValueError("step counts must be positive, probe steps at most half the steps")
        if (n / p["density"]) ** (1.0 / 3.0) < 2 * (p["cutoff"] + p["skin"]):
            raise ValueError("box smaller than twice the cutoff plus skin: more cells "
                             "or a lower density")
        if result_size(n, p["steps"], p["sample_every"]) > MAX_TRANSFER \
                or UNIT_HEADER + n * PARTICLE + 32 > MAX_TRANSFER:
            raise ValueError("units or results would exceed %d bytes" % MAX_TRANSFER)

    def generate_unit(self, core_type, index):
        p = self.p
        rng = random.Random("md/%d/%d/%d" % (p["seed"], core_type, index))
        box, state = initial_state(p["cells"], p["density"], p["temperature"], rng)
        u = dict(p, id=(p["seed"] << 32) | (index & 0xffffffff), n=len(state) // 6, box=box,
                 name="LJ fluid %04d (%d atoms)" % (index, len(state) // 6))
        return encode_unit(u, state)

    def find_unit(self, result_bytes, candidates):
        if len(result_bytes) < 48 or result_bytes[0:8] != RESULT_MAGIC:
            return None
        for index, unit_bytes in candidates:
            if sha256(unit_bytes) == result_bytes[16:48]:
                return index
        return None

    def check_result(self, unit, result_bytes):
        return judge(unit, result_bytes)[0]


def judge(unit_bytes, result_bytes):
    """(verdict, reason) for a result of the unit."""
    try:
        u = decode_unit(unit_bytes)
    except ValueError as e:
        return REFUSED, "unit: %s" % e
    try:
        samples, early, late, final = decode_result(result_bytes, u)
    except (ValueError, struct.error) as e:
        return REFUSED, str(e)
    try:
        return judge_physics(u, samples, early, late, final)
    except (ArithmeticError, ValueError) as e:
        # Two atoms sent on top of each other, and the like.
        return REFUSED, "result cannot be recomputed: %s" % e


def judge_physics(u, samples, early, late, final):
    n, box, k, dt = u["n"], u["box"], u["probe_steps"], u["dt"]
    values = [c for s in samples for c in s[1:]] + early + late + final
    if not all(math.isfinite(c) for c in values):
        return REFUSED, "result holds a number that is not finite"
    want_steps = list(range(0, u["steps"] + 1, u["sample_every"]))
    if want_steps[-1] != u["steps"]:
        want_steps.append(u["steps"])
    if [s[0] for s in samples] != want_steps:
        return REFUSED, "energy samples are not at the unit's steps"
    for st in (early, late, final):
        if not all(0 <= st[i] < box for i in range(len(st)) if i % 6 < 3):
            return REFUSED, "a particle lies outside the box"

    start = LJ(n, box, u["cutoff"], u["skin"], u["state"])
    if abs(start.kinetic() + start.potential - samples[0][1] - samples[0][2]) > ENERGY_AGREEMENT * n:
        return REFUSED, "first energy sample is not the unit's energy"
    for _ in range(k):
        start.step(dt)
    d = state_difference(start.state(), early, box)
    if d > STATE_TOLERANCE:
        return REFUSED, "state at step %d differs from a recomputation by %.3g" % (k, d)

    end = LJ(n, box, u["cutoff"], u["skin"], late)
    for _ in range(k):
        end.step(dt)
    d = state_difference(end.state(), final, box)
    if d > STATE_TOLERANCE:
        return REFUSED, "final state differs from a recomputation of the last %d steps by %.3g" % (k, d)
    check = LJ(n, box, u["cutoff"], u["skin"], final)
    if (abs(check.kinetic() - samples[-1][1]) > ENERGY_AGREEMENT * n
            or abs(check.potential - samples[-1][2]) > ENERGY_AGREEMENT * n):
        return REFUSED, "last energy sample is not the final state's energy"

    p0, p1 = momentum(u["state"]), momentum(final)
    if max(abs(a - b) for a, b in zip(p0, p1)) > MOMENTUM_TOLERANCE * n:
        return REFUSED, "total momentum not conserved"
    e0 = samples[0][1] + samples[0][2]
    drift = max(abs(ke + pe - e0) for _, ke, pe in samples) / n
    if drift > u["energy_tolerance"]:
        return REFUSED, "energy drift %.3g per particle above the tolerance %.3g" % (
            drift, u["energy_tolerance"])
    return ACCEPTED, "accepted: energy drift %.3g per particle" % drift


def run_unit(unit_bytes):
    """This module's own run of a whole unit, result in the core's layout.
    Pure Python: for small units in tests."""
    u = decode_unit(unit_bytes)
    sim = LJ(u["n"], u["box"], u["cutoff"], u["skin"], u["state"])
    samples = [(0, sim.kinetic(), sim.potential)]
    early = late = None
    for s in range(1, u["steps"] + 1):
        sim.step(u["dt"])
        if s == u["probe_steps"]:
            early = sim.state()
        if s == u["steps"] - u["probe_steps"]:
            late = sim.state()
        if s % u["sample_every"] == 0 or s == u["steps"]:
            samples.append((s, sim.kinetic(), sim.potential))
    return encode_result(u, samples, early, late, sim.state())


# ------------------------------------------------------------------ command line

def _options(args):
    opts = {}
    while args:
        key = args.pop(0)
        if not key.startswith("--") or not args:
            raise SystemExit("expected --NAME VALUE, got %r" % key)
        opts[key[2:].replace("-", "_")] = float(args.pop(0))
    return opts


def main(argv):
    if len(argv) >= 2 and argv[0] == "make-unit":
        out, opts = argv[1], _options(list(argv[2:]))
        index = int(opts.pop("index", 0))
        core_type = int(opts.pop("core_type", 0x78))
        ints = ("cells", "steps", "checkpoint_every", "sample_every", "probe_steps", "seed")
        src = MdUnits(**dict((k, int(v) if k in ints else v) for k, v in opts.items()))
        with open(out, "wb") as f:
            f.write(src.generate_unit(core_type, index))
        return 0
    if len(argv) == 3 and argv[0] == "check":
        with open(argv[1], "rb") as f:
            unit = f.read()
        with open(argv[2], "rb") as f:
            result = f.read()
        verdict, reason = judge(unit, result)
        print("%d %s" % (verdict, reason))
        return 0 if verdict == ACCEPTED else 1
    if len(argv) == 3 and argv[0] == "run":
        with open(argv[1], "rb") as f:
            result = run_unit(f.read())
        with open(argv[2], "wb") as f:
            f.write(result)
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
