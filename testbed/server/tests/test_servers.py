"""The servers live on their fixed addresses and ports (inside the private
namespace that run.py guarantees), spoken to over real sockets."""

import os
import socket
import struct
import tempfile
import threading
import time
import unittest

import tbclient as c
from qrvtb import records, testbed
from qrvtb.units import RandomUnits

PRIMARY, SECONDARY = ("127.0.0.1", 8080), ("127.0.0.1", 80)
WS1, WS1_80 = ("127.0.0.2", 8080), ("127.0.0.2", 80)
CORES = ("127.0.0.4", 8081)


class Live(unittest.TestCase):
    config = None

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.live = c.LiveTestbed(self.config, self.tmp.name)

    def tearDown(self):
        self.live.stop()
        self.tmp.cleanup()

    def fetch(self, server=WS1, client_id=77):
        r = c.post(server[0], server[1], c.work_request(server[0], client_id=client_id))
        self.assertEqual(self.live.events()[-1]["problems"], [])
        self.assertEqual(r.status, 200)
        return r.body[:512], r.body[512:]

    def send(self, payload, **kw):
        r = c.post(WS1[0], WS1[1], c.upload(payload, **kw))
        self.assertEqual(r.status, 200)
        return struct.unpack(">I", r.body[:4])[0]


class Assignment(Live):
    def test_user_ids_and_assignment_on_both_ports(self):
        ids = [c.post(*PRIMARY, c.assign_request(11)).body,
               c.post(*SECONDARY, c.assign_request(11)).body]
        self.assertEqual([struct.unpack(">Q", i)[0] for i in ids],
                         [0x00A1B2C3D4E50001, 0x00A1B2C3D4E50002])
        r = c.post(*SECONDARY, c.assign_request(10, user_id=5))
        self.assertEqual(len(r.body), 260)
        self.assertEqual(r.body[0:4], bytes([127, 0, 0, 2]))
        self.assertEqual(r.body[4:131].rstrip(b"\0"), b"127.0.0.4:8081/cores")
        self.assertEqual(r.body[131], 0)
        kinds = [(e["server"], e["kind"]) for e in self.live.events()]
        self.assertEqual(kinds, [("primary", "user_id"), ("secondary", "user_id"),
                                 ("secondary", "assignment")])

    def test_down_server_refuses_and_comes_back(self):
        self.live.set("primary", down=True)
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(PRIMARY, timeout=2)
        self.assertEqual(c.post(*SECONDARY, c.assign_request(11)).status, 200)
        self.live.set("primary", down=None)     # back to its start value
        self.assertEqual(c.post(*PRIMARY, c.assign_request(11)).status, 200)

    def test_assignment_switches(self):
        self.live.set("primary", server_address="0.0.0.0", core_location="",
                      download_options=0x10, news="N" * 128)
        body = c.post(*PRIMARY, c.assign_request()).body
        self.assertEqual(body[0:4], bytes(4))
        self.assertEqual(body[4:131], bytes(127))
        self.assertEqual(body[131], 0x10)
        self.assertEqual(body[132:260], b"N" * 128)
        self.live.set("primary", server_address=None, assign_to=["ws2", "ws1"])
        got = [c.post(*PRIMARY, c.assign_request()).body[:4] for _ in range(3)]
        self.assertEqual(got, [bytes([127, 0, 0, 3]), bytes([127, 0, 0, 2]),
                               bytes([127, 0, 0, 3])])
        with self.assertRaises(ValueError):
            self.live.set("primary", assign_to="nowhere")
        with self.assertRaises(ValueError):
            self.live.set("primary", core_location="x" * 128)

    def test_bad_records_are_refused_and_journalled(self):
        r = c.post(*PRIMARY, b"\0\0\0\x0b" + bytes(100))
        self.assertEqual(r.status, 400)
        r = c.post(*PRIMARY, struct.pack(">I", 12) + bytes(428))
        self.assertEqual(r.status, 400)
        self.assertEqual([e["kind"] for e in self.live.events()], ["bad_request"] * 2)


class WorkFetch(Live):
    def test_work_assignment_header_and_unit(self):
        header, data = self.fetch(WS1_80)
        ptype, core, proto, size = struct.unpack(">IIII", header[:16])
        self.assertEqual((ptype, core, proto, size), (200, 0x78, 324, 4096))
        self.assertEqual(header[88:92], bytes([2, 0, 0, 127]))    # little-endian
        self.assertEqual(struct.unpack("<I", header[92:96])[0], 80)  # port reached
        self.assertEqual(struct.unpack(">i", header[320:324])[0], 86400)
        self.assertEqual(header[96:108], b"Testbed core")
        self.assertEqual(len(data), 4096)
        # The same seed gives the same unit again; the next index another one.
        self.assertEqual(data, RandomUnits(4096, 1).generate_unit(0x78, 0))
        _, data2 = self.fetch()
        self.assertNotEqual(data, data2)
        units = self.live.wait_units(lambda u: all(x["delivery"] == "sent" for x in u))
        self.assertEqual([(u["index"], u["status"], u["delivery"], u["client_id"])
                          for u in units], [(0, "issued", "sent", 77), (1, "issued", "sent", 77)])

    def test_header_switches(self):
        self.live.set("ws1", reply_port=0, reply_address="0.0.0.0", reply_type=201,
                      declared_size=2097153, deadline_seconds=0, core_type=0x81,
                      units={"source": "random", "size": 10, "seed": 3})
        header, data = self.fetch()
        self.assertEqual(struct.unpack(">IIII", header[:16]), (201, 0x81, 324, 2097153))
        self.assertEqual(header[88:96], bytes(8))
        self.assertEqual(header[320:324], bytes(4))
        self.assertEqual(len(data), 10)
        unit = self.live.wait_units(lambda u: u[0]["delivery"] == "sent")[0]
        self.assertEqual(unit["altered"],
                         ["reply_type", "declared_size", "reply_address", "reply_port"])

    def test_largest_unit_goes_out_whole(self):
        self.live.set("ws1", units={"source": "random", "size": records.MAX_PAYLOAD})
        header, data = self.fetch()
        self.assertEqual(struct.unpack(">I", header[12:16])[0], 2097152)
        self.assertEqual(len(data), 2097152)

    def test_dropped_and_one_shot_replies(self):
        self.live.set("ws1", next=[{"drop": True}, {"leading_crlf": 1}])
        self.assertEqual(c.raw_exchange(*WS1, c.post_bytes(*WS1, c.work_request())), b"")
        r = c.post(*WS1, c.work_request())
        self.assertEqual(r.body[:6], b"\r\n\0\0\0\xc8")
        r = c.post(*WS1, c.work_request())
        self.assertEqual(r.body[:4], b"\0\0\0\xc8")
        units = self.live.wait_units(lambda u: u[-1]["delivery"] == "sent")
        self.assertEqual([u["delivery"] for u in units], ["dropped", "sent", "sent"])


class Uploads(Live):
    VERDICTS = [400, 404, 420, 430, 434, 440, 444, 450, 454, 401]

    def test_every_forced_verdict(self):
        for v in self.VERDICTS:
            self.fetch()
            self.live.set("ws1", verdict=v)
            self.assertEqual(self.send(b"result %d" % v), v)
        status = [u["status"] for u in self.live.tb.units_copy()]
        want = ["accepted"] + ["refused"] * 5 + ["issued"] * 4
        self.assertEqual(status, want)

    def test_verdict_queue_comes_first(self):
        self.live.set("ws1", verdicts=[450, 454])
        self.fetch()
        self.assertEqual([self.send(b"r") for _ in range(3)], [450, 454, 400])

    def test_checked_verdicts(self):
        self.assertEqual(self.send(b"orphan"), 404)           # nothing issued
        self.fetch()
        self.assertEqual(self.send(b"", declared=0), 450)
        self.assertEqual(self.send(b"abc", declared=10), 454)
        self.assertEqual(self.send(b"abc", core_type=0x79), 430)   # unit dropped
        self.assertEqual(self.send(b"abc"), 404)
        self.fetch()
        self.assertEqual(self.send(b"abc"), 400)
        self.assertEqual(self.send(b"abc"), 434)              # same result again
        self.fetch()
        self.live.set("ws1", clock_offset=86401)
        self.assertEqual(self.send(b"late"), 440)
        units = self.live.tb.units_copy()
        self.assertEqual([u["verdicts"] for u in units], [[450, 454, 430], [400], [440]])
        self.assertEqual([u["status"] for u in units], ["refused", "accepted", "refused"])

    def test_result_goes_to_the_oldest_unit_of_its_core_type(self):
        self.fetch()
        self.live.set("ws1", core_type=0x79)
        self.fetch()
        self.assertEqual(self.send(b"r", core_type=0x79), 400)
        self.assertEqual([u["status"] for u in self.live.tb.units_copy()],
                         ["issued", "accepted"])

    def test_upload_size_limit(self):
        self.fetch()
        self.assertEqual(self.send(b"x" * records.MAX_PAYLOAD), 400)
        self.fetch()
        r = c.post(*WS1, c.upload(b"y" * (records.MAX_PAYLOAD + 1)))
        self.assertEqual(r.status, 413)
        ev = self.live.events("upload")
        self.assertEqual([e["reply"].get("verdict") for e in ev], [400, None])

    def test_plugin_finds_and_checks_its_units(self):
        path = os.path.join(self.tmp.name, "plug.py")
        with open(path, "w") as f:
            f.write("class Units:\n"
                    "    def __init__(self, tag):\n        self.tag = tag\n"
                    "    def generate_unit(self, core_type, index):\n"
                    "        return b'%s:%d' % (self.tag.encode(), index)\n"
                    "    def check_result(self, unit, result):\n"
                    "        return 400 if result == unit + b'!' else 404\n"
                    "    def find_unit(self, result, candidates):\n"
                    "        for i, u in candidates:\n"
                    "            if result.startswith(u): return i\n")
        self.live.set("ws1", units={"source": "plugin", "path": "plug.py",
                                    "class": "Units", "args": {"tag": "u"}})
        self.assertEqual([self.fetch()[1] for _ in range(2)], [b"u:0", b"u:1"])
        self.assertEqual(self.send(b"u:1!"), 400)     # out of order, still matched
        self.assertEqual(self.send(b"u:0?"), 404)
        self.assertEqual([u["status"] for u in self.live.tb.units_copy()],
                         ["refused", "accepted"])
        # A source that cannot load is refused when set, and nothing changes.
        with self.assertRaises(ValueError):
            self.live.set("ws1", units={"source": "plugin", "path": "plug.py",
                                        "class": "Missing"}, verdict=434)
        self.assertEqual(self.live.tb.status()["servers"]["ws1"]["settings"]["verdict"],
                         "check")


    def test_result_sent_again_while_the_first_is_judged_is_a_duplicate(self):
        # A client whose exchange timed out while the server was still
        # judging sends the same result again; both copies are judged at
        # once (the plugin holds each until the other arrives), and only
        # one may be accepted.
        path = os.path.join(self.tmp.name, "slow.py")
        with open(path, "w") as f:
            f.write("import threading\n"
                    "class Units:\n"
                    "    def __init__(self):\n        self.both = threading.Barrier(2, timeout=10)\n"
                    "    def generate_unit(self, core_type, index):\n        return b'u%d' % index\n"
                    "    def check_result(self, unit, result):\n"
                    "        self.both.wait()\n        return 400\n")
        self.live.set("ws1", units={"source": "plugin", "path": "slow.py", "class": "Units",
                                    "args": {}})
        self.fetch()
        verdicts = []
        senders = [threading.Thread(target=lambda: verdicts.append(self.send(b"same")))
                   for _ in range(2)]
        for t in senders:
            t.start()
        for t in senders:
            t.join(20)
        self.assertEqual(sorted(verdicts), [400, 434])
        units = self.live.tb.units_copy()
        self.assertEqual([(u["status"], sorted(u["verdicts"])) for u in units],
                         [("accepted", [400, 434])])


class ReplyShapesOnTheWire(Live):
    def test_framings(self):
        for kw, framing in [({"framing": "chunked", "chunk_size": 100}, "chunked"),
                            ({"framing": "close", "http_version": "1.0"}, "close"),
                            ({"framing": "raw"}, "raw")]:
            self.live.set("primary", **kw)
            r = c.post(*PRIMARY, c.assign_request())
            self.assertEqual(r.framing, framing)
            self.assertEqual(len(r.body), 260)
            if framing == "chunked":
                self.assertEqual((r.chunks, r.complete), ([100, 100, 60], True))
            if framing == "close":
                self.assertEqual(r.version, "HTTP/1.0")

    def test_slow_reply(self):
        self.live.set("primary", delay_ms=300, piece_size=100, piece_delay_ms=50)
        t = time.time()
        r = c.post(*PRIMARY, c.assign_request())
        self.assertGreaterEqual(time.time() - t, 0.35)
        self.assertEqual(len(r.body), 260)

    def test_short_reply_that_claims_full_length(self):
        self.live.set("primary", truncate=100, lie_length=True)
        r = c.post(*PRIMARY, c.assign_request())
        self.assertEqual((r.declared, len(r.body)), (260, 100))


class Downloads(Live):
    def setUp(self):
        Live.setUp(self)
        os.mkdir(os.path.join(self.tmp.name, "b"))
        self.bundle = os.urandom(25000)
        with open(os.path.join(self.tmp.name, "b", "Core_78.qrv"), "wb") as f:
            f.write(self.bundle)
        with open(os.path.join(self.tmp.name, "secret"), "wb") as f:
            f.write(b"outside")
        self.live.set("cores", root="b")

    def test_serves_bundles_by_path_only(self):
        r = c.get(*CORES, "/cores/Core_78.qrv")
        self.assertEqual((r.status, r.body), (200, self.bundle))
        for path in ["/cores/Core_79.qrv", "/cores/../secret", "/other/Core_78.qrv",
                     "/cores//Core_78.qrv", "/cores/%2e%2e/secret"]:
            self.assertEqual(c.get(*CORES, path).status, 404, path)
        self.live.set("cores", framing="chunked", chunk_size=10240, leading_crlf=1)
        r = c.get(*CORES, "/cores/Core_78.qrv")
        self.assertEqual((r.chunks, r.body), ([10240, 10240, 4522], b"\r\n" + self.bundle))
        paths = [e["reply"]["path"] for e in self.live.events("download")]
        self.assertEqual(paths[0], "/cores/Core_78.qrv")
        self.assertEqual(len(paths), 7)


class Journal(Live):
    def test_raw_bytes_are_dropped_oldest_first_past_the_cap(self):
        old = testbed.RAW_TOTAL
        testbed.RAW_TOTAL = 1500
        try:
            for _ in range(3):
                c.post(*PRIMARY, c.assign_request(11))     # 530 bytes each
        finally:
            testbed.RAW_TOTAL = old
        seqs = [e["seq"] for e in self.live.events()]
        self.assertEqual([self.live.tb.raw_of(s) is not None for s in seqs],
                         [False, True, True])

    def test_exact_bytes_decoded_fields_and_problems(self):
        sent = c.post_bytes(*PRIMARY, c.assign_request(10, user_id=9, user_name="zed"))
        c.raw_exchange(*PRIMARY, sent)
        bad = sent.replace(b"Host: 127.0.0.1:8080", b"Host: 127.0.0.9:8080")
        c.raw_exchange(*PRIMARY, bad)
        e1, e2 = self.live.events()
        self.assertEqual(self.live.tb.raw_of(e1["seq"]), sent)
        self.assertEqual(bytes.fromhex(e1["raw_hex"]), sent)
        self.assertEqual((e1["decoded"]["user_id"], e1["decoded"]["user_name"]), (9, "zed"))
        self.assertEqual(e1["problems"], [])
        self.assertEqual(len(e2["problems"]), 1)
        self.assertEqual(bytes.fromhex(e1["reply"]["record_hex"])[:4], bytes([127, 0, 0, 2]))
        # An upload naming its server little-endian is noticed.
        c.post(*WS1, c.upload(b"r", address="2.0.0.127"))
        self.assertEqual(self.live.events()[-1]["problems"],
                         ["header names server 2.0.0.127, request reached 127.0.0.2"])


if __name__ == "__main__":
    unittest.main()
