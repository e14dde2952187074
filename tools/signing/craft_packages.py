#!/usr/bin/env python3
"""Writes the refused packages that no signing tool makes, from packages it did make:
  content_swap: the publisher's signer and certificates over signed content that names another
                image's digest, placed on that other image;
  extra_in_entry: 256 bytes inside the signature's table entry after the signature;
  garbage_in_table: bytes inside the table after the entry;
  second_entry: a second, foreign signature entry after the publisher's.

Usage: craft_packages.py SIGNED.exe FOREIGN_SIGNED.exe ATTACKER_SIGNED.exe OUT_DIR
(ATTACKER_SIGNED is the attacker's own image, signed by anyone.)
"""
import os
import struct
import sys


def directory(image):
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    return optional + (128 if magic == 0x10B else 144)


def signature(image):
    """The DER bytes of the first table entry's signature."""
    offset, _ = struct.unpack_from("<II", image, directory(image))
    start = offset + 8
    _, header, length = element(image, start)
    return bytes(image[start:start + header + length])


def with_table(image, table):
    """`image` up to its certificate table, followed by `table`."""
    at = directory(image)
    offset, _ = struct.unpack_from("<II", image, at)
    out = bytearray(image[:offset]) + table
    struct.pack_into("<II", out, at, offset, len(table))
    return bytes(out)


def entry(blob, extra=b""):
    body = blob + extra
    raw = struct.pack("<IHH", 8 + len(body), 0x0200, 2) + body
    return raw + b"\0" * (-len(raw) % 8)


def element(data, pos):
    """(tag, header size, content length) of the DER element at `pos`."""
    tag, first = data[pos], data[pos + 1]
    if first < 0x80:
        return tag, 2, first
    count = first & 0x7F
    return tag, 2 + count, int.from_bytes(data[pos + 2:pos + 2 + count], "big")


def children(data):
    out, pos = [], 0
    while pos < len(data):
        _, header, length = element(data, pos)
        out.append(data[pos:pos + header + length])
        pos += header + length
    return out


def contents(encoded):
    _, header, _ = element(encoded, 0)
    return encoded[header:]


def encode(tag, body):
    size = len(body)
    if size < 0x80:
        length = bytes([size])
    else:
        raw = size.to_bytes((size.bit_length() + 7) // 8, "big")
        length = bytes([0x80 | len(raw)]) + raw
    return bytes([tag]) + length + body


def swap_content(victim, attacker):
    """`victim`'s signature with the signed content of `attacker`'s."""
    def signed_data_fields(blob):
        oid, wrapper = children(contents(blob))
        return oid, children(contents(contents(wrapper)))

    oid, fields = signed_data_fields(victim)
    _, attacker_fields = signed_data_fields(attacker)
    fields[2] = attacker_fields[2]  # version, digest algorithms, content, ...
    signed_data = encode(0x30, b"".join(fields))
    return encode(0x30, oid + encode(0xA0, signed_data))


def main():
    signed, foreign, attacker_path, out = sys.argv[1:5]
    good = open(signed, "rb").read()
    other = open(foreign, "rb").read()
    attacker = open(attacker_path, "rb").read()
    blob = signature(good)
    cases = {
        "content_swap": with_table(attacker, entry(swap_content(blob, signature(attacker)))),
        "extra_in_entry": with_table(good, entry(blob, b"\xcc" * 256)),
        "garbage_in_table": with_table(good, entry(blob) + b"\xcc" * 64),
        "second_entry": with_table(good, entry(blob) + entry(signature(other))),
    }
    for name, data in cases.items():
        open(os.path.join(out, name + ".exe"), "wb").write(data)


main()
