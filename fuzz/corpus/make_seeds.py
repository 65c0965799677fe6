#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>/).

The seeds are committed; run this again only to change them. Each seed is a
small valid input laid out the way its target reads its bytes (most targets
take their parameters from the end of the input and the data from the
front). Core bundles are made by testbed/bundle_tool.py with the demo key,
as the core tests make them.

  fuzz/corpus/make_seeds.py
"""

import base64
import bz2
import os
import random
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(HERE))
SIGNING_TIME = 855911103  # inside the demo key's validity


def write(target, name, data):
    folder = os.path.join(HERE, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def random_length_string(text):
    """The form FuzzedDataProvider::ConsumeRandomLengthString reads: a
    backslash is doubled, and a backslash with another byte ends the text."""
    return text.replace(b"\\", b"\\\\") + b"\\x"


def format_seeds():
    formats = [
        b"%016Y-SIGTERM", b"%016Y-SIGINT", b"[%02u:%02u:%02u] ", b"[%s %u %02u:%02u:%02u]",
        b"%swudata_%02u.dat", b"QrvCore_%X.exe", b"%-10s|%5i|%05j", b"%*s|%-*u",
        b"%.*s", b"%.3b", b"%.*b", b"%p %%", b"%8.3f %F", b"%k %w %Z", b"%v %Y",
        b"%c%c%c", b"100%", b"%5", b"%-0*.*f", b"%q %*q", b"%.0f|%0-8i",
    ]
    args = bytes(range(1, 65))
    for i, fmt in enumerate(formats):
        # Buffer size byte last: 255 gives room for the whole output.
        size = 255 if i % 3 else 7 + i
        write("format", "seed_%02d" % i, random_length_string(fmt) + args + bytes([size]))


def number_seeds():
    texts = [b"0", b"42", b"-42", b"  \t17", b"0x1A2C", b"0777", b"2147483647", b"-2147483648",
             b"4294967295", b"18446744073709551615", b"-9223372036854775808",
             b"340282366920938463463374607431768211455", b"zz", b"-", b"0x", b"+5"]
    for i, text in enumerate(texts):
        # Read from the end: size, signed, eight-bit, base (0 = from the text).
        base = 0 if i % 2 == 0 else 10
        size = i % 3
        write("number_reader", "seed_%02d" % i, text + bytes([base, 1, i % 2, size]))
        wide = b"".join(bytes([c, 0]) for c in text)
        write("number_reader", "seed_%02d_wide" % i, wide + bytes([base, 0, i % 2, size]))


def base64_seeds():
    texts = [b"", b"Zg==", b"Zm8=", b"Zm9v", b"dXNlcjpwYXNzd29yZA==", b"QUJD\r\nREVG\n",
             b"YQ", b"YWI", b"Y", b"====", b"A=BC", bytes(range(256))]
    # Long enough that one call fills the decoder's and encoder's batches.
    rng = random.Random(5)
    payload = bytes(rng.randrange(256) for _ in range(2400))
    texts.append(base64.b64encode(payload))
    texts.append(base64.encodebytes(payload[:1500]))  # with line breaks every 76
    for i, text in enumerate(texts):
        write("base64", "seed_%02d" % i, random_length_string(text) + bytes(range(7, 40, 3)))


def bzip2_seeds():
    rng = random.Random(7)
    plain = [b"", b"a", b"hello, core\n" * 40, bytes(60000), bytes(rng.randrange(256) for _ in range(3000)),
             b"".join(b"%08d\n" % i for i in range(2000))]
    streams = [bz2.compress(p, 9) for p in plain]
    streams.append(streams[2] + streams[1])          # a second stream after the first
    streams.append(streams[5][:len(streams[5]) // 2])  # cut short
    streams.append(bz2.compress(bytes(1 << 20), 1))    # expands far past any limit
    for i, s in enumerate(streams):
        # Read from the end: limit (3 bytes), one-piece flag, piece generator.
        write("bzip2", "seed_%02d" % i, s + bytes([i * 17 % 256] * 8) + bytes([i % 2, 0x03, 0xFF, 0xFF]))


def core_bundle_seeds():
    tool = os.path.join(TOP, "testbed", "bundle_tool.py")
    rng = random.Random(11)
    cores = [b"#!/bin/sh\nexit 42\n", bytes(rng.randrange(256) for _ in range(2000)),
             b"".join(b"step %05d\n" % i for i in range(3000))]
    with tempfile.TemporaryDirectory() as tmp:
        for i, core in enumerate(cores):
            core_path = os.path.join(tmp, "core%d" % i)
            bundle_path = os.path.join(tmp, "bundle%d" % i)
            with open(core_path, "wb") as f:
                f.write(core)
            subprocess.run([sys.executable, tool, "pack", core_path, "--out", bundle_path,
                            "--signing-time", str(SIGNING_TIME)], check=True,
                           stdout=subprocess.DEVNULL)
            with open(bundle_path, "rb") as f:
                bundle = f.read()
            # Raw mode: the bundle as the tool wrote it.
            write("core_bundle", "bundle_%02d" % i, b"\x00" + bundle)
            # Signed mode: undamaged parameters and the compressed core.
            write("core_bundle", "signed_%02d" % i, b"\x01" + bytes([0, 10, 0x40, 5, 204, 0, 0, 0])
                  + bz2.compress(core, 9))
    write("core_bundle", "short_header", b"\x00" + struct.pack(">I12sQQ", 0xDEAF0FAD, bytes(12), 10, 10))


def http_response_seeds():
    # First byte: bit 0 reads the first record through the reply framing,
    # bits 1..3 the size of each read, 0xF0 set keeps the peer's side open.
    # The rest is the server's answer.
    answers = [
        (0x00, b"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello"),
        (0x02, b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
               b"5\r\nhello\r\n3;x=y\r\nabc\r\n0\r\n\r\n"),
        (0x05, b"HTTP/1.0 200 OK\r\n\r\n\r\nrecord until close"),
        (0x07, b"raw bytes without a status line"),
        (0x09, b"HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\nConnection: close\r\n\r\nno!"),
        (0x0C, b"HTTP/1.1 200 OK\r\ncontent-length: 10\r\n\r\nshort"),
        (0x03, b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFF\r\nx"),
        (0x01, b"\r\n" + bytes(range(40))),
        (0xF2, b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly part of it"),
        (0xF0, b"HTTP/1.1 200 OK\r\nContent-Le"),
    ]
    for i, (options, answer) in enumerate(answers):
        write("http_response", "seed_%02d" % i, bytes([options]) + answer)


def packet_records_seeds():
    reply = bytearray(260)
    struct.pack_into(">I", reply, 0, 0xC0A80101)
    reply[4:4 + 32] = b"http://cores.example.invalid/c/\x00"
    reply[131] = 1
    reply[132:132 + 18] = b"Server news here.\x00"
    write("packet_records", "assignment_reply", bytes(reply))
    write("packet_records", "full_fields", bytes([0, 0, 0, 1]) + b"A" * 256)
    header = bytearray(512)
    struct.pack_into(">IIII", header, 0, 200, 0x78, 324, 4096)
    struct.pack_into("<II", header, 88, 0x0A000001, 8080)
    header[96:96 + 14] = b"Lattice Core\x00\x00"
    struct.pack_into(">i", header, 320, 86400 * 3)
    write("packet_records", "work_header", bytes(13) + bytes(header[:499]))


def queue_file_seeds():
    def entry(status, seconds=0):
        e = bytearray(704)
        struct.pack_into("<I", e, 0, status)
        struct.pack_into("<q", e, 8, seconds)
        return bytes(e)

    def queue(version, current, statuses):
        return (struct.pack("<II", version, current) + b"".join(entry(s, 1700000000 + i)
                for i, s in enumerate(statuses)) + struct.pack("<fI", 0.5, 2))

    # First byte: 1 for LoadQueue, 0 for the read-only copy.
    write("queue_file", "current", b"\x01" + queue(324, 1, [1, 2, 3, 0, 0, 0, 0, 0, 4, 9]))
    write("queue_file", "current_copy", b"\x00" + queue(324, 1, [1, 2] + [0] * 8))
    write("queue_file", "bad_current_index", b"\x01" + queue(324, 77, [1] * 10))
    write("queue_file", "short", b"\x01" + queue(324, 0, [0] * 10)[:3000])
    write("queue_file", "oldest", b"\x01" + struct.pack("<I", 3) + bytes(4000))
    write("queue_file", "old_300", b"\x01" + struct.pack("<II", 300, 2) + bytes(7000))
    write("queue_file", "old_200", b"\x01" + struct.pack("<II", 200, 2) + bytes(6000))


def config_file_seeds():
    write("config_file", "client.cfg", b"[settings]\nusername=volunteer\nteam=0\r\nasknet=no\n\n"
          b"[http]\nactive=no\nhost=localhost\nport=8080\n\n")
    write("config_file", "hand_edited.cfg", b"junk before\n[a]\nnoequals\nk=v=w\n[a]\nk=dup\n[b]\n")


def registry_store_seeds():
    write("registry_store", "store.txt",
          b"[Software\\Tarnwick\\Quorvel]\nUserID=bin:0011223344556677\nTeamNum=sz:42\n"
          b"DirName=sz:/home/v/qrv\nMachineID=weird\n\n"
          b"[Software\\Vantor\\Zelclient]\nProteinName=sz:p1234_abc\nPercentComplete=bin:3\n\n")
    write("registry_store", "long_values.txt",
          b"[Software\\Tarnwick\\Quorvel Screensaver]\nDirName=sz:" + b"d" * 40 + b"\n"
          b"UserID=bin:" + b"ab" * 30 + b"\nTeamNum=bin:\n")


def core_progress_seeds():
    def seed(flags, slot, received, deadline, record):
        return bytes([flags, slot]) + struct.pack("<qQqQ", received, 0, deadline, 0) + record

    def record(name, total, done):
        r = bytearray(512)
        r[4:4 + len(name)] = name
        struct.pack_into("<II", r, 84, total, done)
        return bytes(r)

    # flags: bit 0 partner edition, 1 deadlines on, 2 has a deadline,
    # 3..4 slot state (1 READY, 3 ACTIVE), 5 the core runs.
    write("core_progress", "active", seed(0x3E, 3, 1700000000, 1800000000, record(b"p1234_lysozyme", 500, 250)))
    write("core_progress", "ready_partner", seed(0x09, 0, 1700000000, 0, record(b"x" * 90, 0, 7)))
    write("core_progress", "past_deadline", seed(0x3E, 9, 100, 200, record(b"late", 10, 10)))
    write("core_progress", "huge_progress", seed(0x08, 1, -5, 0, record(b"big", 1, 0xFFFFFFFF)))
    write("core_progress", "log_line", seed(0x08, 2, 0, 0, b"Writing local files\n"))


def main():
    format_seeds()
    number_seeds()
    base64_seeds()
    bzip2_seeds()
    core_bundle_seeds()
    http_response_seeds()
    packet_records_seeds()
    queue_file_seeds()
    config_file_seeds()
    registry_store_seeds()
    core_progress_seeds()


if __name__ == "__main__":
    main()
