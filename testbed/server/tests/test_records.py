"""Records against byte strings written out by hand from the field offsets,
never produced by the code under test."""

import unittest

import tbclient  # noqa: F401  (puts qrvtb on the path)
from qrvtb import records


def hx(text):
    return bytes.fromhex(text.replace(" ", ""))


class AssignmentRecords(unittest.TestCase):
    def request(self):
        return (hx("0000000a 00000000")           # type 10, zero word
                + hx("0000000000003039")            # benchmark 12345
                + hx("0102030405060708")            # user_id
                + b"3.24\0\0\0\0"                   # client_version char[8]
                + hx("00000001 00000007 00000001 00000000")  # 1, cpu 7, 1, os 0
                + b"alice".ljust(64, b"\0")         # user_name @48
                + b"".ljust(64, b"\0")              # team @112
                + hx("0000000100000000")            # memory 4 GiB @176
                + hx("0003 0002")                   # work_preference, edition @184
                + hx("3f400000")                    # performance 0.75 @188
                + bytes(240))

    def test_type_10_request_fields(self):
        req = self.request()
        self.assertEqual(len(req), 432)
        f, problems = records.decode_assignment_request(req)
        self.assertEqual(problems, [])
        self.assertEqual((f["packet_type"], f["benchmark"], f["user_id"]),
                         (10, 12345, 0x0102030405060708))
        self.assertEqual((f["client_version"], f["cpu_type"], f["os_type"]), ("3.24", 7, 0))
        self.assertEqual((f["user_name"], f["team"]), ("alice", ""))
        self.assertEqual(f["memory_size"], 1 << 32)
        self.assertEqual((f["work_preference"], f["edition"]), (3, 2))
        self.assertEqual(f["performance_fraction"], 0.75)

    def test_request_deviations_are_reported(self):
        req = bytearray(self.request())
        req[40:44] = hx("00000000")         # second constant word lost
        req[300] = 1                        # reserved tail not zero
        req[48:112] = b"x" * 64             # name without terminator
        _, problems = records.decode_assignment_request(bytes(req))
        self.assertEqual(len(problems), 3, problems)
        # A type-11 request must not carry the type-10 fields.
        req = bytearray(self.request())
        req[0:4] = hx("0000000b")
        _, problems = records.decode_assignment_request(bytes(req))
        self.assertTrue(any("type 11" in p for p in problems), problems)
        with self.assertRaises(records.RecordError):
            records.decode_assignment_request(self.request()[:431])

    def test_reply_layout(self):
        got = records.encode_assignment_reply(records.ip_to_int("10.0.0.1"),
                                              "h:81/cores", 0x10, "hi")
        want = (hx("0a000001") + b"h:81/cores".ljust(127, b"\0") + hx("10")
                + b"hi".ljust(128, b"\0"))
        self.assertEqual(got, want)
        self.assertEqual(len(got), 260)

    def test_text_fields_may_fill_their_width_but_not_more(self):
        got = records.encode_assignment_reply(0, "L" * 127, 0, "N" * 128)
        self.assertEqual(got[4:131], b"L" * 127)   # no terminator: full field
        self.assertEqual(got[131], 0)             # options byte untouched
        self.assertEqual(got[132:260], b"N" * 128)
        with self.assertRaises(records.RecordError):
            records.encode_assignment_reply(0, "L" * 128, 0, "")

    def test_user_id_reply_is_big_endian(self):
        self.assertEqual(records.encode_user_id_reply(0x0011223344556677),
                         hx("0011223344556677"))


class WorkHeader(unittest.TestCase):
    def test_assignment_reply_layout(self):
        got = records.encode_work_header(200, core_type=0x78, payload_size=2097152,
                                         server_address=records.ip_to_int("10.0.0.1"),
                                         server_port=8080, core_name="Demo",
                                         deadline_seconds=-5)
        want = (hx("000000c8 00000078 00000144 00200000")  # type, core, 324, size
                + bytes(72)                                  # 16..87
                + hx("0100000a")                             # address LE @88
                + hx("901f0000")                             # port 8080 LE @92
                + b"Demo".ljust(64, b"\0")                   # core_name @96
                + bytes(160)                                 # 160..319
                + hx("fffffffb")                             # deadline -5 @320
                + bytes(188))
        self.assertEqual(len(got), 512)
        self.assertEqual(got, want)

    def test_work_request_decodes_from_offsets(self):
        req = (hx("00000064 00000065 00000144 00000000") + bytes(68)
               + hx("00000002")            # machine_id @84
               + hx("7f000003")            # 127.0.0.3, network order @88
               + bytes(4) + bytes(64)      # port, core_name
               + b"bob".ljust(64, b"\0") + b"0".ljust(64, b"\0")
               + hx("0000000100000002")    # client_id @288
               + hx("0000000000000010")    # benchmark @296
               + bytes(8)                  # upload flags
               + hx("00000005 00000000")   # cpu, os @312
               + bytes(4)                  # deadline
               + hx("00000002")            # done_from_server @324
               + bytes(184))
        self.assertEqual(len(req), 512)
        f, problems = records.decode_work_header(req)
        self.assertEqual(problems, [])
        self.assertEqual((f["packet_type"], f["core_type"], f["machine_id"]), (100, 101, 2))
        self.assertEqual(f["server_address"], "127.0.0.3")
        self.assertEqual((f["user_name"], f["team"]), ("bob", "0"))
        self.assertEqual((f["client_id"], f["benchmark"]), ((1 << 32) + 2, 16))
        self.assertEqual((f["cpu_type"], f["done_from_server"]), (5, 2))

    def test_header_deviations(self):
        up = bytearray(512)
        up[0:16] = hx("0000012c 00000078 00000143 00000010")  # 300, protocol 323
        up[304:312] = hx("00000001 00000000")                 # one flag missing
        up[400] = 9                                           # tail not zero
        up[20] = up[100] = up[321] = 1      # carried over in an upload: no fault
        _, problems = records.decode_work_header(bytes(up))
        self.assertEqual(len(problems), 3, problems)
        req = bytearray(512)
        req[0:12] = hx("00000064 00000065 00000144")
        req[20] = req[95] = req[321] = 1    # a work request starts all zero
        _, problems = records.decode_work_header(bytes(req))
        self.assertEqual(len(problems), 3, problems)


if __name__ == "__main__":
    unittest.main()
