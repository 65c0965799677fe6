"""The demo core's unit source: units it makes, and whether its check
refuses what it should. Results here come from the module's own reference
run of small units; the C++ tests feed it the real core's results."""

import math
import os
import struct
import tempfile
import unittest

import tbclient as c
from qrvtb import md_units as md

WS1 = ("127.0.0.2", 8080)
PLUGIN = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                      "qrvtb", "md_units.py")
# 108 atoms in a box of edge 6: big enough for cutoff 2.5 plus skin 0.3.
TINY = {"cells": 3, "density": 0.5, "steps": 40, "checkpoint_every": 10,
        "sample_every": 10, "probe_steps": 5}


def rebuild(unit_bytes, result_bytes, change):
    """A result with change(samples, early, late, final) applied and its
    digest made right again: what a careful cheat would send."""
    u = md.decode_unit(unit_bytes)
    samples, early, late, final = md.decode_result(result_bytes, u)
    change(samples, early, late, final)
    return md.encode_result(u, samples, early, late, final)


class Units(unittest.TestCase):
    def test_unit_layout_at_its_offsets(self):
        src = md.MdUnits(**TINY)
        data = src.generate_unit(0x78, 7)
        self.assertEqual(data, src.generate_unit(0x78, 7))
        self.assertNotEqual(data, src.generate_unit(0x78, 8))
        self.assertEqual(len(data), 256 + 108 * 48 + 32)
        self.assertEqual(data[0:8], b"QRVMDUNT")
        self.assertEqual(struct.unpack("<II", data[8:16]), (1, 256))
        self.assertEqual(struct.unpack("<Q", data[16:24])[0], (1 << 32) | 7)
        self.assertEqual(data[24:104].rstrip(b"\0"), b"LJ fluid 0007 (108 atoms)")
        self.assertEqual(struct.unpack("<6I", data[104:128]), (108, 40, 10, 10, 5, 0))
        box, dt = struct.unpack("<2d", data[128:144])
        self.assertAlmostEqual(box, 6.0, places=12)
        self.assertEqual(dt, 0.005)
        self.assertEqual(data[-32:], md.sha256(data[:-32]))
        u = md.decode_unit(data)
        xs = [u["state"][i] for i in range(len(u["state"])) if i % 6 < 3]
        self.assertTrue(all(0 <= x < box for x in xs))
        # No net momentum and exactly the temperature asked for.
        self.assertLess(max(abs(p) for p in md.momentum(u["state"])), 1e-9)
        ke = 0.5 * sum(u["state"][i] ** 2 for i in range(len(u["state"])) if i % 6 >= 3)
        self.assertAlmostEqual(ke / (1.5 * 107), 1.0, places=9)

    def test_unsound_settings_are_refused(self):
        for bad in ({"cells": 2, "density": 0.8},        # box below 2 (rc + skin)
                    {"cells": 16},                       # results above 2 MiB
                    {"steps": 100000, "sample_every": 1},  # so are these
                    {"steps": 8, "probe_steps": 5},
                    {"dt": 0.0}, {"sample_every": 0}):
            with self.subTest(bad=bad), self.assertRaises(ValueError):
                md.MdUnits(**bad)

    def test_damaged_unit_is_not_decoded(self):
        data = bytearray(md.MdUnits(**TINY).generate_unit(0x78, 0))
        data[300] ^= 1
        with self.assertRaises(ValueError):
            md.decode_unit(bytes(data))


class Check(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.src = md.MdUnits(**TINY)
        cls.unit = cls.src.generate_unit(0x78, 1)
        cls.result = md.run_unit(cls.unit)

    def test_right_result_is_accepted(self):
        self.assertEqual(md.judge(self.unit, self.result)[0], 400)
        self.assertEqual(self.src.check_result(self.unit, self.result), 400)
        self.assertEqual(len(self.result), md.result_size(108, 40, 10))
        self.assertEqual(self.result[16:48], md.sha256(self.unit))

    def test_wrong_results_are_refused(self):
        def scale_final_velocities(s, e, l, f):
            for i in range(3, len(f), 6):
                f[i] *= 1.01

        def nudge_early_position(s, e, l, f):
            e[0] = md.wrap(e[0] + 1e-4, 6.0)

        def claim_flat_energy(s, e, l, f):
            s[2] = (s[2][0], s[2][1] + 0.01 * 108, s[2][2])

        def move_sample_step(s, e, l, f):
            s[1] = (11, s[1][1], s[1][2])

        def not_finite(s, e, l, f):
            f[4] = math.nan

        def outside_box(s, e, l, f):
            f[6] = 6.0

        def atoms_on_top_of_each_other(s, e, l, f):
            l[6:9] = l[0:3]

        cases = {"digest": self.result[:-1] + bytes([self.result[-1] ^ 1]),
                 "truncated": self.result[:-48],
                 "empty": b"",
                 "other unit": md.run_unit(self.src.generate_unit(0x78, 2))}
        for name, fn in [("final", scale_final_velocities), ("early", nudge_early_position),
                         ("energy", claim_flat_energy), ("steps", move_sample_step),
                         ("nan", not_finite), ("box", outside_box),
                         ("overlap", atoms_on_top_of_each_other)]:
            cases[name] = rebuild(self.unit, self.result, fn)
        for name, bad in cases.items():
            with self.subTest(name):
                verdict, reason = md.judge(self.unit, bad)
                self.assertEqual(verdict, 404, reason)

    def test_wrong_physics_is_refused(self):
        # A run with twice the time step, passed off as this unit's.
        u = md.decode_unit(self.unit)
        fast = dict(u, dt=2 * u["dt"])
        wrong = md.run_unit(md.encode_unit(fast, u["state"]))
        w = md.decode_unit(md.encode_unit(fast, u["state"]))
        samples, early, late, final = md.decode_result(wrong, w)
        forged = md.encode_result(u, samples, early, late, final)
        verdict, reason = md.judge(self.unit, forged)
        self.assertEqual(verdict, 404)
        self.assertIn("recomputation", reason)

    def test_find_unit_by_the_unit_digest(self):
        other = self.src.generate_unit(0x78, 5)
        cands = [(5, other), (1, self.unit)]
        self.assertEqual(self.src.find_unit(self.result, cands), 1)
        self.assertIsNone(self.src.find_unit(self.result, [(5, other)]))
        self.assertIsNone(self.src.find_unit(b"junk", cands))


class OnTheWorkServer(unittest.TestCase):
    """The plugin as a work server loads it from its configuration."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        units = {"source": "plugin", "path": PLUGIN, "class": "MdUnits", "args": TINY}
        self.live = c.LiveTestbed({"servers": {"ws1": {"units": units}}}, self.tmp.name)

    def tearDown(self):
        self.live.stop()
        self.tmp.cleanup()

    def test_results_are_matched_and_judged(self):
        units = [c.post(*WS1, c.work_request(WS1[0])).body[512:] for _ in range(2)]
        self.assertEqual([md.decode_unit(u)["id"] & 0xffffffff for u in units], [0, 1])
        good, bad = md.run_unit(units[1]), md.run_unit(units[0])
        bad = rebuild(units[0], bad, lambda s, e, l, f: f.__setitem__(3, f[3] + 0.5))

        def send(payload):
            r = c.post(*WS1, c.upload(payload))
            return struct.unpack(">I", r.body[:4])[0]
        self.assertEqual(send(good), 400)     # the second unit, found by its digest
        self.assertEqual(send(bad), 404)
        self.assertEqual([u["status"] for u in self.live.tb.units_copy()],
                         ["refused", "accepted"])


if __name__ == "__main__":
    unittest.main()
