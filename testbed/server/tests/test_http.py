"""Reply framing and request reading, byte for byte."""

import socket
import unittest

import tbclient
from qrvtb import config, httpwire


def behaviour(**kw):
    b = dict(config.REPLY_DEFAULTS)
    b.update(kw)
    return b


def framed(record, tail=b"", **kw):
    head, body, keep = httpwire.frame_reply(record, tail, behaviour(**kw))
    return head + body, keep


class ReplyFraming(unittest.TestCase):
    def test_content_length_and_leading_crlf(self):
        data, keep = framed(b"REC", b"DATA", leading_crlf=2)
        self.assertEqual(data, b"HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                               b"Content-Length: 11\r\nConnection: Keep-Alive\r\n\r\n"
                               b"\r\n\r\nRECDATA")
        self.assertTrue(keep)

    def test_chunked_framing(self):
        data, keep = framed(b"0123456789", chunk_size=4, framing="chunked")
        r = tbclient.parse_reply(data)
        self.assertEqual(r.headers["transfer-encoding"], "chunked")
        self.assertNotIn("content-length", r.headers)
        self.assertEqual(data.split(b"\r\n\r\n", 1)[1],
                         b"4\r\n0123\r\n4\r\n4567\r\n2\r\n89\r\n0\r\n\r\n")
        self.assertTrue(keep)
        # A body cut short never gets its last chunk, and the connection ends.
        data, keep = framed(b"0123456789", chunk_size=4, framing="chunked",
                            truncate=6, lie_length=True)
        self.assertEqual(data.split(b"\r\n\r\n", 1)[1], b"4\r\n0123\r\n2\r\n45\r\n")
        self.assertFalse(keep)

    def test_close_delimited_http10_and_raw(self):
        data, keep = framed(b"REC", framing="close", http_version="1.0")
        self.assertTrue(data.startswith(b"HTTP/1.0 200 OK\r\n"))
        self.assertNotIn(b"Content-Length", data)
        self.assertTrue(data.endswith(b"Connection: close\r\n\r\nREC"))
        self.assertFalse(keep)
        self.assertEqual(framed(b"REC", b"X", framing="raw", leading_crlf=1),
                         (b"\r\nRECX", False))
        # HTTP/1.0 with a length never keeps the connection.
        self.assertFalse(framed(b"REC", http_version="1.0")[1])

    def test_short_oversized_and_lying_replies(self):
        data, _ = framed(b"R" * 260, truncate=100)
        self.assertIn(b"Content-Length: 100\r\n", data)
        self.assertTrue(data.endswith(b"\r\n\r\n" + b"R" * 100))
        data, keep = framed(b"R" * 260, truncate=100, lie_length=True)
        self.assertIn(b"Content-Length: 260\r\n", data)
        self.assertTrue(data.endswith(b"\r\n\r\n" + b"R" * 100))
        self.assertFalse(keep)
        data, _ = framed(b"R" * 8, extra_bytes=5, http_status=100)
        self.assertTrue(data.startswith(b"HTTP/1.1 100 Continue\r\n"))
        self.assertTrue(data.endswith(b"Content-Length: 13\r\nConnection: Keep-Alive\r\n\r\n"
                                      + b"R" * 8 + bytes(5)))

    def test_slow_switches_are_bounded(self):
        self.assertEqual(httpwire.bounded_ms(10 ** 9), httpwire.MAX_DELAY_MS)
        self.assertEqual(httpwire.bounded_ms(-5), 0)


class RequestReading(unittest.TestCase):
    def read(self, data, limit=1000, close=True):
        a, b = socket.socketpair()
        a.sendall(data)
        if close:
            a.shutdown(socket.SHUT_WR)
        expect_sent = []
        conn = httpwire.Conn(b, idle_timeout=2)
        try:
            return conn, conn.read_request(limit, on_expect=lambda: expect_sent.append(1)), \
                expect_sent
        finally:
            a.close()

    def test_absolute_form_post_is_kept_byte_exact(self):
        raw = (b"POST http://127.0.0.2:8080/ HTTP/1.1\r\nHost: 127.0.0.2:8080\r\n"
               b"Connection: Keep-Alive\r\nContent-Length: 5\r\n\r\nhello")
        conn, req, _ = self.read(raw + b"POST / HTTP/1.0\r\nContent-Length: 0\r\n\r\n")
        self.assertEqual(req.raw, raw)
        self.assertEqual((req.method, req.path, req.body), ("POST", "/", b"hello"))
        self.assertTrue(req.absolute_form)
        self.assertFalse(req.wants_close())
        nxt = conn.read_request(1000)          # the second request is intact
        self.assertEqual((nxt.version, nxt.body, nxt.wants_close()), ("HTTP/1.0", b"", True))
        self.assertIsNone(conn.read_request(1000))

    def test_chunked_request_and_expect(self):
        raw = (b"POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"
               b"3\r\nabc\r\n2;ext=1\r\nde\r\n0\r\n\r\n")
        _, req, _ = self.read(raw)
        self.assertEqual(req.body, b"abcde")
        self.assertEqual(req.raw, raw)
        _, req, sent = self.read(b"POST / HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\n"
                                 b"Content-Length: 2\r\n\r\nok")
        self.assertEqual((req.body, sent), (b"ok", [1]))

    def test_limits_and_malformed_requests(self):
        cases = [
            (b"POST / HTTP/1.1\r\nContent-Length: 1001\r\n\r\n", 413),
            (b"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3e9\r\n", 413),
            (b"POST / HTTP/1.1\r\nContent-Length: x\r\n\r\n", 400),
            (b"GARBAGE\r\n\r\n", 400),
            (b"GET / HTTP/2.0\r\n\r\n", 400),
            (b"POST / HTTP/1.1\r\nContent-Length: 9\r\n\r\nshort", 0),   # peer closed
            (b"X" * (httpwire.HEAD_LIMIT + 10), 400),
        ]
        for data, status in cases:
            with self.assertRaises(httpwire.HttpError) as cm:
                self.read(data)
            self.assertEqual(cm.exception.status, status, data[:40])


if __name__ == "__main__":
    unittest.main()
