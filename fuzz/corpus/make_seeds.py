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


def main():
    format_seeds()
    number_seeds()
    base64_seeds()
    bzip2_seeds()
    core_bundle_seeds()


if __name__ == "__main__":
    main()
