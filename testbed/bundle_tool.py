#!/usr/bin/env python3
"""Signing side of Quorvel core bundles, for the testbed.

Packs a core executable into a signed, bzip2-compressed bundle "Core_%x.qrv"
and writes the public key record that the client embeds. Python 3 standard
library only (bz2, hashlib, pow), and deliberately sharing nothing with the
client's verifier, so that an offset or byte-order mistake cannot hide by
being made on both sides.

  bundle_tool.py pubkey-record --key keys/demo_key.pem --out keys/demo_public.key
  bundle_tool.py pack QrvCore_78.exe --type 78 --out-dir DIR

The switches after "damage" produce the broken bundles the client's tests
need; a bundle made without them is a genuine one.

Layouts (all numbers big-endian):
  bundle     0 magic 0xDEAF0FAD | 4 reserved[12] | 16 L u64 | 24 S u64 |
             32 reserved[480] | 512 bzip2 stream (L bytes) | 512+L block (S)
  block      0 type 80 u16 | 2 reserved u16 | 4 bits u32 | 8 key created i64 |
             16 key id u64 | 24 reserved[8] | 32 signature scheme | 33 digest
             scheme | 34 signature value (bits/8 bytes)
  key record 0 type 5 u16 | 2 reserved u16 | 4 bits u32 | 8 created i64 |
             16 id u64 | 24 expiry i64 | 32 name[16] | 48 modulus (bits/8)
  signed message (the low bits-8 bits of value^17 mod n, (bits-8)/8 bytes),
             from its end: digest[32], digest scheme, signature scheme,
             signing time i64, padding.
  digest     MD5 of the stream, then the first 16 bytes of its SHA-1.
Times are seconds since 2000-01-01 00:00:00 UTC.
"""

import argparse
import base64
import bz2
import hashlib
import os
import struct
import sys
import time

MAGIC = 0xDEAF0FAD
HEADER_SIZE = 512
BLOCK_TYPE = 80
KEY_TYPE_PUBLIC = 5
PUBLIC_EXPONENT = 17
EPOCH_2000 = 946684800  # seconds from 1970-01-01 to 2000-01-01
KEY_LIFETIME = 365 * 86400
RECORD_HEADER = 48
BLOCK_HEADER = 34
SIGNED_TAIL = 42  # signing time, two scheme bytes, digest


class ToolError(Exception):
    pass


# --- key file -------------------------------------------------------------

def _der_read(buf, pos):
    """One DER element at pos: (tag, content start, content end)."""
    if pos + 2 > len(buf):
        raise ToolError("key file: truncated DER element")
    tag = buf[pos]
    length = buf[pos + 1]
    pos += 2
    if length & 0x80:
        count = length & 0x7F
        if count == 0 or count > 4 or pos + count > len(buf):
            raise ToolError("key file: bad DER length")
        length = int.from_bytes(buf[pos:pos + count], "big")
        pos += count
    if pos + length > len(buf):
        raise ToolError("key file: DER element runs past the end")
    return tag, pos, pos + length


def _der_sequence(buf, start, end):
    items = []
    pos = start
    while pos < end:
        tag, cstart, cend = _der_read(buf, pos)
        items.append((tag, cstart, cend))
        pos = cend
    return items


def _rsa_from_pkcs1(der):
    tag, start, end = _der_read(der, 0)
    if tag != 0x30:
        raise ToolError("key file: RSAPrivateKey is not a SEQUENCE")
    fields = _der_sequence(der, start, end)
    if len(fields) < 4 or any(t != 0x02 for t, _, _ in fields[:4]):
        raise ToolError("key file: RSAPrivateKey lacks its integers")
    version, n, e, d = (int.from_bytes(der[s:t], "big") for _, s, t in fields[:4])
    if version != 0:
        raise ToolError("key file: only two-prime RSA keys are supported")
    return n, e, d


def load_private_key(path):
    """(n, e, d) from a PEM file, PKCS#8 ("PRIVATE KEY") or PKCS#1."""
    with open(path, "r", encoding="ascii") as f:
        text = f.read()
    for label in ("PRIVATE KEY", "RSA PRIVATE KEY"):
        begin = "-----BEGIN %s-----" % label
        stop = "-----END %s-----" % label
        if begin in text:
            body = text.split(begin, 1)[1].split(stop, 1)[0]
            der = base64.b64decode("".join(body.split()))
            break
    else:
        raise ToolError("%s: no PEM private key found" % path)
    if label == "PRIVATE KEY":
        tag, start, end = _der_read(der, 0)
        items = _der_sequence(der, start, end)
        if tag != 0x30 or len(items) < 3 or items[2][0] != 0x04:
            raise ToolError("%s: not a PKCS#8 private key" % path)
        der = der[items[2][1]:items[2][2]]
    n, e, d = _rsa_from_pkcs1(der)
    if e != PUBLIC_EXPONENT:
        raise ToolError("%s: public exponent is %d; bundles need %d"
                        % (path, e, PUBLIC_EXPONENT))
    if n.bit_length() % 8 != 0:
        raise ToolError("%s: modulus of %d bits is not whole bytes" % (path, n.bit_length()))
    return n, e, d


# --- public key record ----------------------------------------------------

def make_record(n, created, identifier, name, lifetime=KEY_LIFETIME):
    bits = n.bit_length()
    raw_name = name.encode("ascii")
    if len(raw_name) > 16:
        raise ToolError("key name longer than 16 bytes")
    head = struct.pack(">HHIqQq16s", KEY_TYPE_PUBLIC, 0, bits, created, identifier,
                       created + lifetime, raw_name)
    assert len(head) == RECORD_HEADER
    return head + n.to_bytes(bits // 8, "big")


def parse_record(blob):
    if len(blob) < RECORD_HEADER:
        raise ToolError("public key record shorter than 48 bytes")
    ktype, _, bits, created, identifier, expiry, name = struct.unpack(
        ">HHIqQq16s", blob[:RECORD_HEADER])
    if ktype != KEY_TYPE_PUBLIC or len(blob) < RECORD_HEADER + bits // 8:
        raise ToolError("not a public key record")
    modulus = int.from_bytes(blob[RECORD_HEADER:RECORD_HEADER + bits // 8], "big")
    return {"bits": bits, "created": created, "identifier": identifier,
            "expiry": expiry, "name": name.rstrip(b"\0").decode("ascii", "replace"),
            "modulus": modulus}


# --- bundle ---------------------------------------------------------------

def stream_digest(data):
    return hashlib.md5(data).digest() + hashlib.sha1(data).digest()[:16]


def signed_message(bits, signing_time, sig_scheme, digest_scheme, digest, variant=0):
    """The number to be signed. Its top byte is zero, so it stays below any
    modulus of `bits` bits; the client reads only the low bits-8 bits.
    `variant` changes only the padding, which the client does not examine."""
    size = (bits - 8) // 8
    tail = struct.pack(">qBB", signing_time, sig_scheme, digest_scheme) + digest
    assert len(tail) == SIGNED_TAIL
    pad_len = size - len(tail)
    if pad_len < 1:
        raise ToolError("key too small for the signed message")
    padding = b"\x01" + b"\xff" * (pad_len - 2) + bytes([0xFF - variant])
    return int.from_bytes(padding + tail, "big")


def compress_core(args):
    if args.zeros is not None:
        comp = bz2.BZ2Compressor(args.level)
        out = []
        piece = bytes(1 << 20)
        left = args.zeros
        while left > 0:
            take = min(left, len(piece))
            out.append(comp.compress(piece[:take]))
            left -= take
        out.append(comp.flush())
        return b"".join(out)
    with open(args.core, "rb") as f:
        return bz2.compress(f.read(), args.level)


def build_bundle(args):
    n, _, d = load_private_key(args.key)
    with open(args.record, "rb") as f:
        record = parse_record(f.read())
    if record["modulus"] != n:
        raise ToolError("the key record %s does not belong to %s" % (args.record, args.key))
    bits = record["bits"]

    if args.signing_time == "now":
        signing_time = int(time.time()) - EPOCH_2000
        if not record["created"] <= signing_time <= record["expiry"]:
            raise ToolError("the key is valid only from %d to %d (seconds since 2000); "
                            "now is %d. Pass --signing-time, or make a new key"
                            % (record["created"], record["expiry"], signing_time))
    else:
        signing_time = int(args.signing_time)

    data = compress_core(args)
    if args.truncate_stream:
        if args.truncate_stream >= len(data):
            raise ToolError("--truncate-stream removes the whole stream")
        data = data[:-args.truncate_stream]

    sig_scheme, digest_scheme = args.signed_scheme
    digest = stream_digest(data)
    for variant in range(256):
        message = signed_message(bits, signing_time, sig_scheme, digest_scheme, digest, variant)
        value = pow(message, d, n)
        # "plus-modulus" needs a value that still fits in bits/8 bytes after
        # adding n; other padding gives another value.
        if args.signature_value != "plus-modulus" or value + n < (1 << bits):
            break
    else:
        raise ToolError("no padding gives a signature value below 2^bits - n")
    if pow(value, PUBLIC_EXPONENT, n) != message:
        raise ToolError("RSA self-check failed: key file is inconsistent")
    if args.signature_value == "modulus":
        value = n
    elif args.signature_value == "plus-modulus":
        value += n  # opens to the same message, but is no reduced signature

    block_scheme, block_digest_scheme = args.block_scheme
    created = record["created"] if args.block_created is None else args.block_created
    ident = record["identifier"] if args.block_identifier is None else args.block_identifier
    block = struct.pack(">HHIqQ8sBB", BLOCK_TYPE, 0, bits, created, ident, bytes(8),
                        block_scheme, block_digest_scheme)
    assert len(block) == BLOCK_HEADER
    block += value.to_bytes(bits // 8, "big") + bytes(args.sig_pad)

    sig_length = len(block) if args.sig_length is None else args.sig_length
    header = bytearray(struct.pack(">I12sQQ480s", args.magic, bytes(12), len(data),
                                   sig_length, bytes(480)))
    assert len(header) == HEADER_SIZE
    for offset, val in args.reserved_byte:
        if not (4 <= offset < 16 or 32 <= offset < HEADER_SIZE):
            raise ToolError("--reserved-byte %d is not a reserved header byte" % offset)
        header[offset] = val

    bundle = bytearray(header) + data + block
    if args.corrupt_data is not None:
        if not 0 <= args.corrupt_data < len(data):
            raise ToolError("--corrupt-data offset outside the stream of %d bytes" % len(data))
        bundle[HEADER_SIZE + args.corrupt_data] ^= 0x01
    if args.truncate_file is not None:
        del bundle[args.truncate_file:]
    return bytes(bundle)


def _byte_pair(text):
    parts = text.split(",")
    if len(parts) != 2:
        raise argparse.ArgumentTypeError("expected two byte values A,B")
    values = tuple(int(p, 0) for p in parts)
    if any(not 0 <= v <= 255 for v in values):
        raise argparse.ArgumentTypeError("byte values are 0..255")
    return values


def _offset_value(text):
    off, _, val = text.partition("=")
    return int(off, 0), int(val, 0) & 0xFF


def cmd_pack(args):
    if (args.core is None) == (args.zeros is None):
        raise ToolError("give a core executable or --zeros N")
    bundle = build_bundle(args)
    if args.out:
        path = args.out
    else:
        if args.type is None:
            raise ToolError("--type is needed to name the bundle (or give --out)")
        path = os.path.join(args.out_dir, "Core_%x.qrv" % args.type)
    with open(path, "wb") as f:
        f.write(bundle)
    print(path)


def cmd_pubkey_record(args):
    n, _, _ = load_private_key(args.key)
    if args.created == "now":
        created = int(time.time()) - EPOCH_2000
    else:
        created = int(args.created)
    record = make_record(n, created, args.identifier, args.name)
    with open(args.out, "wb") as f:
        f.write(record)
    print("%s: %d bytes, %d-bit key, created %d, expires %d (seconds since 2000)"
          % (args.out, len(record), n.bit_length(), created, created + KEY_LIFETIME))


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    default_key = os.path.join(here, "keys", "demo_key.pem")
    default_record = os.path.join(here, "keys", "demo_public.key")

    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)

    rec = sub.add_parser("pubkey-record", help="write the client's public key record")
    rec.add_argument("--key", default=default_key)
    rec.add_argument("--out", required=True)
    rec.add_argument("--created", default="now",
                     help="creation time, seconds since 2000-01-01 UTC, or 'now'")
    rec.add_argument("--identifier", type=int, default=0)
    rec.add_argument("--name", default="Quorvel")
    rec.set_defaults(func=cmd_pubkey_record)

    pack = sub.add_parser("pack", help="pack and sign a core executable")
    pack.add_argument("core", nargs="?", help="the core executable")
    pack.add_argument("--zeros", type=int, help="pack N zero bytes instead of a file")
    pack.add_argument("--type", type=lambda s: int(s, 16), help="core type, hexadecimal")
    pack.add_argument("--out-dir", default=".")
    pack.add_argument("--out", help="bundle path (instead of DIR/Core_%%x.qrv)")
    pack.add_argument("--key", default=default_key)
    pack.add_argument("--record", default=default_record)
    pack.add_argument("--signing-time", default="now",
                      help="seconds since 2000-01-01 UTC, or 'now'")
    pack.add_argument("--level", type=int, default=9, choices=range(1, 10))
    damage = pack.add_argument_group("damage", "make a broken bundle for tests")
    damage.add_argument("--magic", type=lambda s: int(s, 16), default=MAGIC)
    damage.add_argument("--reserved-byte", type=_offset_value, action="append", default=[],
                        metavar="OFFSET=VALUE", help="set a reserved header byte")
    damage.add_argument("--block-created", type=int,
                        help="key creation time written into the signature block")
    damage.add_argument("--block-identifier", type=int,
                        help="key identifier written into the signature block")
    damage.add_argument("--block-scheme", type=_byte_pair, default=(5, 204), metavar="A,B",
                        help="scheme bytes of the signature block")
    damage.add_argument("--signed-scheme", type=_byte_pair, default=(5, 204), metavar="A,B",
                        help="scheme bytes inside the signed message")
    damage.add_argument("--signature-value", choices=["signed", "modulus", "plus-modulus"],
                        default="signed",
                        help="the signature, the modulus itself, or the signature plus the modulus")
    damage.add_argument("--corrupt-data", type=int, metavar="OFFSET",
                        help="flip a bit of the stream after signing")
    damage.add_argument("--truncate-stream", type=int, default=0, metavar="N",
                        help="drop the stream's last N bytes before signing")
    damage.add_argument("--sig-length", type=int, help="signature length written in the header")
    damage.add_argument("--sig-pad", type=int, default=0, metavar="N",
                        help="unused bytes after the signature value, counted in S")
    damage.add_argument("--truncate-file", type=int, metavar="N",
                        help="keep only the bundle's first N bytes")
    pack.set_defaults(func=cmd_pack)

    args = parser.parse_args(argv)
    try:
        args.func(args)
    except (ToolError, OSError) as err:
        print("bundle_tool: %s" % err, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
