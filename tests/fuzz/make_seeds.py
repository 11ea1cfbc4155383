#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into corpus/<target>/: streams a
well-behaved device would send, and a few that a broken one would."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def packet(code, words=(), length=None):
    length = len(words) if length is None else length
    body = b"".join(struct.pack("<I", w) for w in words)
    return struct.pack("<HHHH", 0x5AA5, code, length, 0) + body.ljust(4 * length, b"\xee")


def ack(subject, status):
    return packet(2, (subject, status))


def negotiation(words):
    return packet(0x300B, (words, 0)) + packet(1) + ack(0, 14)


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# Packet reader: capacity byte, then packets.
write("read_packet", "acks", bytes([16]) + ack(1, 0) + ack(2, 9))
write("read_packet", "long-and-short", bytes([8]) + packet(0x300B, (64, 0)) + b"@" + b"\0" * 7)
write("read_packet", "oversized", bytes([255]) + packet(0x300B, range(300)) + ack(1, 0))

# Transfer: two block sizes (little-endian u16 each), then the device's replies.
def sizes(first, second):
    return struct.pack("<HH", first, second + 8)


blocks = [(600, 0), (236, 100)]
for index, (first, second) in enumerate(blocks):
    stream = sizes(first, second)
    for size in (first, second):
        if size <= 0:
            continue
        stream += negotiation(64) + ack(1, 0) * ((size + 235) // 236) + ack(2, 9)
    write("transfer", f"success-{index}", stream)
write("transfer", "refused", sizes(600, 0) + negotiation(64) + ack(1, 0) + ack(1, 2))
write("transfer", "extra-packets", sizes(100, 0) + packet(7, (1, 2)) + negotiation(6) + ack(1, 0) * 25 + ack(2, 10))
write("transfer", "no-size", sizes(100, 0) + packet(1) + ack(0, 14))

# Console: boot version frame, app version reply, boot switch reply, a line.
version = struct.pack("<HHI", 0, 15, 0x01020304)
write("console", "all-answer", version + b"~Rv0000app-1.2\r\n" + b"~Dboot\r\n" + b"~Rv0000x\r\n")
write("console", "silent-boot", b"\x01\x00\x0e\x00\x00\x00\x00\x00" + b"~Rv0000bl-2.0\r\n" + b"~Xboot\r\n")
write("console", "long-lines", version + b"~Rv0000" + b"v" * 250 + b"\r\n")

# Image files: empty, small, odd sizes.
write("image_file", "empty", b"")
write("image_file", "small", bytes(range(256)))
write("image_file", "odd", b"\x01" * 1001)

# Intel HEX: a good file with a gap and an extended address, and faulty ones.
def record(kind, address, payload=b""):
    raw = bytes([len(payload), address >> 8, address & 0xFF, kind]) + payload
    checksum = (-sum(raw)) & 0xFF
    return ":" + (raw + bytes([checksum])).hex().upper() + "\n"


good = record(4, 0, b"\x00\x10") + record(0, 0x8000, bytes(range(16))) + record(0, 0x8010, b"\xAA" * 8) \
    + record(0, 0x9000, b"\x55" * 4) + record(1, 0)
write("intel_hex", "good", good.encode())
write("intel_hex", "segment", (record(2, 0, b"\xF0\x00") + record(0, 0x8000, b"\x01\x02") + record(1, 0)).encode())
write("intel_hex", "bad-checksum", (record(4, 0, b"\x00\x10") + ":0280000001020A\n" + record(1, 0)).encode())
write("intel_hex", "outside", (record(0, 0x0000, b"\x01") + record(1, 0)).encode())

# Station logs: a start and its result, a record of a log older than the
# `event` and `station` keys, and a last line torn without its line end.
start = ('{"event":"start","time":"2026-12-07T10:00:00.000Z","station":"bench-1","port":"COM5",'
         '"unit":1,"attempt":1,"serial":7000,"image_path":"fw.bin","image_sha256":"ab","image_bytes":4}')
result = ('{"event":"result","time":"2026-12-07T10:00:20.5Z","station":"bench-1","port":"COM5",'
          '"unit":1,"attempt":1,"serial":7000,"device":null,"ok":false,"code":-9978,"os_error":0,'
          '"message":"Communication Error","bytes":0,"seconds":0.0,"status":1,"detail":"x",'
          '"image_bytes":4,"reason":"packet damaged (-9978)"}')
old = '{"port":"COM6","ok":true,"code":0,"time":"2026-12-07T10:01:00.000Z","unit":2,"serial":null}'
write("record_line", "start-result", (start + "\n" + result + "\n").encode())
write("record_line", "old-crlf", (old + "\r\n\r\n" + old.replace('"unit":2', '"unit":3') + "\r\n").encode())
write("record_line", "torn-tail", (start + "\n" + result[:70]).encode())
