"""The testbed as a test of the client drives it: a separate process started
with a configuration file, changed and read through the control port."""

import json
import os
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

import tbclient as c

HERE = os.path.dirname(os.path.abspath(__file__))
PROGRAM = os.path.join(os.path.dirname(HERE), "qrv_testbed.py")
CONTROL = "127.0.0.1:8999"


def control(method, path, body=None):
    data = None if body is None else json.dumps(body).encode()
    if method == "POST" and data is None:
        data = b""
    req = urllib.request.Request("http://%s%s" % (CONTROL, path), data=data, method=method)
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    try:
        with opener.open(req, timeout=10) as r:
            return r.status, r.read()
    except urllib.error.HTTPError as e:
        return e.code, e.read()


class ControlledProcess(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        cfg = {"first_user_id": "0x10",
               "servers": {"ws2": None,
                           "ws1": {"deadline_seconds": 600,
                                   "units": {"source": "random", "size": 64}}}}
        self.cfg_path = os.path.join(self.tmp.name, "tb.json")
        with open(self.cfg_path, "w") as f:
            json.dump(cfg, f)
        self.ready = os.path.join(self.tmp.name, "ready")
        self.proc = subprocess.Popen([sys.executable, PROGRAM, "--config", self.cfg_path,
                                      "--ready-file", self.ready],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        end = time.time() + 10
        while not os.path.exists(self.ready) and time.time() < end:
            if self.proc.poll() is not None:
                self.fail("testbed ended: %r" % (self.proc.communicate(),))
            time.sleep(0.02)
        with open(self.ready) as f:
            self.assertEqual(json.load(f)["control"], CONTROL)

    def tearDown(self):
        if self.proc.poll() is None:
            self.proc.terminate()
        self.proc.communicate(timeout=10)
        self.tmp.cleanup()

    def test_a_test_session(self):
        uid = c.post("127.0.0.1", 8080, c.assign_request(11)).body
        self.assertEqual(struct.unpack(">Q", uid)[0], 0x10)
        # Settings by JSON body and by query string; a bad one changes nothing.
        self.assertEqual(control("POST", "/servers/ws1", {"verdicts": [454]})[0], 200)
        self.assertEqual(control("POST", "/servers/ws1?verdict=444&leading_crlf=1")[0], 200)
        status, body = control("POST", "/servers/ws1?verdict=444&bogus=1")
        self.assertEqual(status, 400)
        self.assertIn(b"bogus", body)
        self.assertEqual(control("POST", "/servers/nobody", {})[0], 400)
        r = c.post("127.0.0.2", 80, c.work_request())
        self.assertEqual(r.body[:2], b"\r\n")
        verdicts = [struct.unpack(">I", c.post("127.0.0.2", 8080, c.upload(b"res")).body[2:6])[0]
                    for _ in range(2)]
        self.assertEqual(verdicts, [454, 444])

        _, summary = control("GET", "/summary")
        lines = dict(l.split(" ") for l in summary.decode().splitlines())
        self.assertEqual((lines["user_ids"], lines["work_requests"], lines["uploads"],
                          lines["units_outstanding"], lines["problems"]),
                         ("1", "1", "2", "1", "0"))
        _, units = control("GET", "/units.txt")
        self.assertRegex(units.decode(), r"^server=ws1 index=0 status=issued delivery=sent "
                                         r"core_type=120 size=64 deadline_seconds=600 "
                                         r"client_id=77 verdicts=454,444 sha256=[0-9a-f]{64}\n$")
        _, journal = control("GET", "/journal?since=1")
        events = json.loads(journal)["events"]
        self.assertEqual([e["kind"] for e in events], ["work_request", "upload", "upload"])
        _, raw = control("GET", "/raw/%d" % events[1]["seq"])
        self.assertEqual(raw, c.post_bytes("127.0.0.2", 8080, c.upload(b"res")))
        _, text = control("GET", "/journal.txt?since=3")
        self.assertEqual(text.decode().count("\n"), 1)
        self.assertIn("kind=upload", text.decode())
        self.assertIn("verdict=444", text.decode())

        self.assertEqual(control("POST", "/journal/clear")[0], 200)
        self.assertEqual(json.loads(control("GET", "/journal")[1])["events"], [])
        self.assertEqual(control("POST", "/shutdown")[0], 200)
        self.assertEqual(self.proc.wait(timeout=10), 0)

    def test_command_line_client_and_down_switch(self):
        out = subprocess.run([sys.executable, PROGRAM, "ctl", "POST", "/servers/primary",
                              '{"down": true}'], capture_output=True, timeout=30)
        self.assertEqual(out.returncode, 0, out)
        status = json.loads(control("GET", "/status")[1])
        self.assertEqual(status["servers"]["primary"]["listening"], [])
        self.assertEqual(status["servers"]["secondary"]["listening"], ["127.0.0.1:80"])
        self.assertNotIn("ws2", status["servers"])
        with self.assertRaises(ConnectionRefusedError):
            c.post("127.0.0.1", 8080, c.assign_request(11))
        out = subprocess.run([sys.executable, PROGRAM, "ctl", "POST", "/servers/primary/reset"],
                             capture_output=True, timeout=30)
        self.assertEqual(out.returncode, 0, out)
        self.assertEqual(c.post("127.0.0.1", 8080, c.assign_request(11)).status, 200)
        out = subprocess.run([sys.executable, PROGRAM, "ctl", "POST", "/servers/ws1",
                              '{"framing": "sideways"}'], capture_output=True, timeout=30)
        self.assertEqual(out.returncode, 1)


class BadStart(unittest.TestCase):
    def test_bad_configuration_is_refused_with_a_message(self):
        with tempfile.NamedTemporaryFile("w", suffix=".json") as f:
            json.dump({"servers": {"ws1": {"verdict": "sometimes"}}}, f)
            f.flush()
            out = subprocess.run([sys.executable, PROGRAM, "--config", f.name],
                                 capture_output=True, timeout=30)
        self.assertEqual(out.returncode, 2)
        self.assertIn(b"verdict", out.stderr)


if __name__ == "__main__":
    unittest.main()


class JournalOrder(unittest.TestCase):
    """A poller that asks from the "next" it was given must never skip an
    event that is journalled after a later one (a result still being
    checked while the next request is answered)."""

    def test_next_stays_below_an_event_still_being_worked_out(self):
        sys.path.insert(0, os.path.dirname(HERE))
        from qrvtb import config, testbed

        tb = testbed.Testbed(config.build({}), ".")

        class FakeListener(object):
            host, port = "127.0.0.2", 8080

        slow = tb.new_event("ws1", FakeListener(), ("127.0.0.1", 5000), None)
        fast = tb.new_event("ws1", FakeListener(), ("127.0.0.1", 5001), None)
        tb.record(fast)
        events, nxt = tb.journal_since(0)
        self.assertEqual(events, [])
        self.assertEqual(nxt, 0)
        tb.record(slow)
        events, nxt = tb.journal_since(nxt)
        self.assertEqual([e["seq"] for e in events], [slow["seq"], fast["seq"]])
        self.assertEqual(nxt, fast["seq"])
        self.assertEqual(tb.journal_since(nxt), ([], nxt))
