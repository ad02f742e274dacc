#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora: small inputs that reach each target's
interesting paths (whole dialogues, refusals, odd lengths). Run from anywhere;
files land in fuzz/corpus/<target>/. The corpora are committed; re-run only to
change them."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# Device packets: header = first word, code, payload words, zero.
def packet(first, code, payload=b""):
    assert len(payload) % 4 == 0
    return struct.pack("<HHHH", first, code, len(payload) // 4, 0) + payload


def info(max_words, long_=False):
    return packet(0xF00D, 0x300B, struct.pack("<II", max_words, 0) + (b"\0" * 4 if long_ else b""))


def go():
    return packet(0xF00D, 1)


def reply(code, echo, status):
    return packet(0xF00D, code | 0x8000, struct.pack("<II", echo, status))


def handshake(max_words):
    return info(max_words) + go() + reply(0xF000, 1, 14)


def transfer_seed(flags, segments, stream):
    data = bytes([1, flags])
    for length, address, seed in segments:
        data += struct.pack("<HBB", length, address, seed)
    return data + stream


def packet_corpus():
    t = "packet"
    # Mode 0: capacity, then a device stream.
    write(t, "recv_dialogue", b"\0" + struct.pack("<H", 16) + handshake(64) + reply(1, 0, 0))
    write(t, "recv_short_capacity", b"\0" + struct.pack("<H", 4) + info(64, True) + go())
    write(t, "recv_0x40_header", b"\0" + struct.pack("<H", 8) + b"\x40" + b"\0" * 7 + go())
    write(t, "recv_overlong", b"\0" + struct.pack("<H", 16) + b"\x0d\xf0\x01\x00\xff\x00\0\0" + go())
    write(t, "recv_partial", b"\0" + struct.pack("<H", 16) + reply(1, 0, 0)[:11])
    # Mode 1: one segment of 100 bytes in blocks of 44 (L = 16): three blocks, finish.
    ok = handshake(16) + reply(1, 0, 0) * 3 + reply(2, 2, 9)
    write(t, "xfer_ok", transfer_seed(0b011, [(100, 0, 5)], ok))
    write(t, "xfer_two_segments",
          transfer_seed(0b100, [(50, 4, 1), (9, 0, 2)], handshake(6) + reply(1, 0, 0) * 16 + reply(2, 2, 10)))
    write(t, "xfer_status2", transfer_seed(0b011, [(100, 0, 5)], handshake(16) + reply(1, 0, 0) + reply(1, 0, 2)))
    write(t, "xfer_status5", transfer_seed(0b011, [(100, 0, 5)], handshake(16) + reply(1, 0, 5)))
    write(t, "xfer_bad_handshake", transfer_seed(0b010, [(8, 0, 0)], info(16) + go() + reply(0xF000, 1, 13)))
    write(t, "xfer_go_first", transfer_seed(0b010, [(8, 0, 0)], go() + info(16)))
    write(t, "xfer_long_info", transfer_seed(0b010, [(8, 0, 0)], info(16, True) + go()))
    write(t, "xfer_tiny_max", transfer_seed(0b010, [(8, 0, 0)], handshake(5)))
    write(t, "xfer_bad_finish", transfer_seed(0b010, [(8, 0, 0)], handshake(16) + reply(1, 0, 0) + reply(2, 3, 9)))
    write(t, "xfer_noise_first",
          transfer_seed(0b010, [(8, 0, 0)], packet(0xA55A, 0x0BAD) + handshake(16) + reply(1, 0, 0) + reply(2, 2, 9)))


def reply_seed(op, word, text):
    return bytes([op]) + struct.pack("<H", word) + text


def reply_corpus():
    t = "reply"
    write(t, "transact", reply_seed(0, 200, b"~Rv00002.0.0.1\r\n"))
    write(t, "transact_small", reply_seed(0, 6, b"~Rv00002.0.0.1\r\n"))
    write(t, "transact_two_lines", reply_seed(0, 100, b"~e!ready,X\r\n~Rv0000\r\n"))
    write(t, "version", reply_seed(1, 0, b"~Rv00002.0.0.1\r\n"))
    write(t, "version_empty", reply_seed(1, 0, b"~Rv0000"))
    write(t, "version_long", reply_seed(1, 0, b"~Rv0000" + b"9" * 240))
    write(t, "version_wrong", reply_seed(1, 0, b"~RS00002.0.0.1\r\n"))
    write(t, "serial", reply_seed(2, 0, b"~RS0000SN00000001\r\n"))
    write(t, "serial_zero", reply_seed(2, 0, b"~RS0000SN\0001\r\n"))
    write(t, "serial_cr", reply_seed(2, 0, b"~RS0000\rSN\n\r\n"))
    write(t, "exchange", reply_seed(3, 2500, b"~e!ready,TARNIC\r\n"))
    write(t, "exchange_full", reply_seed(3, 5, b"~e!ready,TARNIC\r\n"))
    write(t, "ready", reply_seed(4, 0, b"~e!ready,TARNIC"))
    write(t, "ready_noise", reply_seed(4, 0, b"xx~e!ready,T\r\nmore"))
    write(t, "exchange_text", reply_seed(4, 2, b"~RS0000SN1\r\n"))
    write(t, "ping", reply_seed(5, 0, packet(0xA55A, 0x0BAD) + b"\0\0\x0f\0\x04\x03\x02\x01"))
    write(t, "ping_text", reply_seed(5, 0, b"~e!ready,TARNIC\r\n"))


if __name__ == "__main__":
    packet_corpus()
    reply_corpus()
