#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 The SBUS Channel developers
"""Writes the fuzz target's seed corpus: short sessions built from the replies
a controller really sends, wrapped in the target's step encoding."""
import os
import sys

BLOCK = [60, 90, 100, 33, 5, 120, 30, 150, 45, 1, 6, 200, 7, 2, 80, 35, 175, 65]
W1, W2, W3, R1, R2, R3, P1, P2, PG, PT = 0x19, 0x20, 0x21, 0x99, 0xA0, 0xA1, 0xC0, 0xC1, 0xC7, 0xE3


def crc(data):
    c = 0
    for b in data:
        c ^= b << 8
        for _ in range(8):
            c = ((c << 1) ^ 0x1021) if c & 0x8000 else c << 1
            c &= 0xFFFF
    return c


def reply(command, payload=(), save=0, at=None):
    f = bytearray(47)
    f[0:2] = b"\xBE\xA0"
    f[4] = save
    f[36] = command
    for offset, value in (at or {}).items():
        f[offset] = value & 0xFF
    f[37:37 + len(payload)] = bytes(payload)
    c = crc(f[:45])
    f[45], f[46] = c >> 8, c & 0xFF
    return bytes(f)


def line(data, piece=47):
    """Bytes arriving in reads of at most `piece` bytes."""
    out = bytearray()
    for i in range(0, len(data), piece):
        chunk = data[i:i + piece]
        out += bytes([len(chunk) - 1]) + chunk
    return bytes(out)


TICK = b"\x40"
UPLOAD, DOWNLOAD, SAVE, DISCONNECT = 0x80, 0x81, 0x82, 0x83


def exchange(*replies, piece=47):
    return b"".join(TICK + line(r, piece) for r in replies)


download = exchange(reply(R1, BLOCK[0:8]), reply(R2, BLOCK[8:16]), reply(R3, BLOCK[16:18]))
polls = exchange(reply(P1, at={41: 30}), reply(P2, at={38: -40, 39: 100, 41: -100, 42: 5}),
                 reply(PG, at={41: 0x0E}), reply(PT, at={39: 100, 40: 150, 41: 200, 42: 120, 43: 180}))
upload = bytes([UPLOAD, 3, 11, 8, 17, 14]) + exchange(reply(W1), reply(W2), reply(W3))

seeds = {
    "download-and-poll": download + polls,
    "upload": download + upload + polls,
    "upload-held-during-download": bytes([UPLOAD, 2, 4, 6, 8, 10]) + download + exchange(reply(W1), reply(W2), reply(W3)),
    "save-stored": download + bytes([SAVE]) + exchange(reply(P1, save=0x02)),
    "save-failed": download + bytes([SAVE]) + exchange(reply(P1, save=0x82)),
    "split-replies": TICK + line(reply(R1, BLOCK[0:8]) + reply(R2, BLOCK[8:16]), piece=5) + TICK * 2,
    "noise-and-bad-crc": TICK + line(b"\x00\xBE\x13\xBE\xBE\xA0" + reply(R1, BLOCK[0:8])[2:-1] + b"\x00")
                         + TICK + line(reply(R1, BLOCK[0:8])),
    "wrong-echo": download + exchange(reply(R2, BLOCK[8:16]), reply(PG, at={41: 0x0E})),
    "silence-then-back": download + b"\x43" * 4 + exchange(reply(R1, BLOCK[0:8])),
    "redownload-then-disconnect": download + bytes([DOWNLOAD]) + exchange(reply(R1, BLOCK[0:8])) + bytes([DISCONNECT]) + TICK,
}

out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
os.makedirs(out, exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
