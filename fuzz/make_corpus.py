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
    write(t, "recv_waiting", b"\0" + struct.pack("<H", 0x8000 | 16) + go() + reply(1, 0, 0)[:11])
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


# Flags of one tty in portname's input: bits 0-2 link kind (0-2 kernel-like,
# 3 absolute, 4 climbs out, 5 loop, 6 dangling, 7 plain file), 8 product file,
# 16 interface file, 32 product linked outside (with 8: a FIFO), 64 long product,
# 128 no idVendor.
def tty(flags, usb, iface, name, product=b"", interface=b""):
    return bytes([flags, usb, iface, len(name)]) + name + bytes([len(product)]) + product + \
        bytes([len(interface)]) + interface


def portname_corpus():
    t = "portname"
    at91 = b"AT91 USB to Serial Converter"
    write(t, "one_port", bytes([1]) + tty(8, 1, 0, b"ttyACM0", at91))
    write(t, "interface_only", bytes([1]) + tty(16, 1, 0, b"ttyACM0", b"", b"CDC ACM\n"))
    write(t, "no_texts", bytes([1]) + tty(0, 2, 1, b"ttyUSB0"))
    write(t, "two_interfaces", bytes([2]) + tty(8, 1, 0, b"ttyACM0", at91) + tty(8, 1, 2, b"ttyACM1", at91))
    write(t, "trimmed", bytes([1]) + tty(8, 3, 0, b"ttyACM3", b" \t Reader\r\n\n"))
    write(t, "newline_inside", bytes([1]) + tty(8, 3, 0, b"ttyACM3", b"Two\nLines\n"))
    write(t, "long_149", bytes([1]) + tty(8, 1, 0, b"ttyACM0", b"L" * 142))
    write(t, "long_150", bytes([1]) + tty(8, 1, 0, b"ttyACM0", b"L" * 143))
    write(t, "long_repeated", bytes([1]) + tty(8 | 64, 1, 0, b"ttyACM0", b"0123456789" * 12))
    write(t, "utf8_product", bytes([1]) + tty(8, 1, 0, b"ttyACM0", "Lesegerät ÄÖÜ".encode() * 10))
    write(t, "outside_links", bytes([5]) + tty(3, 0, 0, b"ttyA") + tty(4, 1, 0, b"ttyB") +
          tty(5, 2, 0, b"ttyC") + tty(6, 3, 0, b"ttyD") + tty(7, 1, 1, b"ttyE"))
    write(t, "no_vendor", bytes([2]) + tty(8 | 128, 2, 0, b"ttyS0", b"Legacy") + tty(8, 1, 0, b"ttyACM0", at91))
    write(t, "product_outside", bytes([1]) + tty(32, 1, 0, b"ttyACM0"))
    write(t, "product_fifo", bytes([1]) + tty(8 | 32, 1, 0, b"ttyACM0", b"", b"Fallback"))
    write(t, "same_name", bytes([2]) + tty(8, 1, 0, b"ttyACM0", at91) + tty(8, 2, 0, b"ttyACM0", b"Other"))
    write(t, "odd_tty_names", bytes([3]) + tty(8, 1, 0, b"tty\nx", at91) + tty(8, 2, 0, b"\xff\xfe", at91) +
          tty(8, 3, 0, b"..", at91))


# firmware's input: flags (bits 0-1 kind: plain, near the limit, directory,
# locked; bits 2-3 expected length: any, exact, one more, one less), distance
# from the limit, mtime, segment address pick, name, content.
def firmware_seed(flags, distance, mtime, pick, name, content=b""):
    return struct.pack("<BbiB", flags, distance, mtime, pick) + bytes([len(name)]) + name + content


def firmware_corpus():
    t = "firmware"
    image = bytes(range(256)) * 4
    write(t, "plain", firmware_seed(0, 0, 1700000000, 0, b"fw_2.0.0.1.bin", image))
    write(t, "empty", firmware_seed(0, 0, 0, 1, b"empty.bin"))
    write(t, "limit_exact", firmware_seed(1, 0, 1234567890, 2, b"full.bin", b"\xa5\x5a"))
    write(t, "limit_over", firmware_seed(1, 1, 1234567890, 0, b"over.bin", b"\x01"))
    write(t, "limit_under", firmware_seed(1, -4, 86399, 0, b"under.bin", b"\x01"))
    write(t, "directory", firmware_seed(2, 0, 0, 0, b"folder.bin"))
    write(t, "locked", firmware_seed(3, 0, 951782400, 1, b"held.bin", image))
    write(t, "expect_exact", firmware_seed(4, 0, 1, 1, b"seg.bin", image))
    write(t, "expect_more", firmware_seed(8, 0, 1, 2, b"seg.bin", image))
    write(t, "expect_less", firmware_seed(12, 0, 1, 0, b"seg.bin", image))
    write(t, "before_1970", firmware_seed(0, 0, -86401, 0, b"old.bin", b"x"))
    write(t, "long_name", firmware_seed(0, 0, 5, 0, b"n" * 70 + b".extension12", b"x"))
    write(t, "utf8_name", firmware_seed(0, 0, 5, 0, "Ä".encode() * 60 + ".bïnärÿÿÿÿÿ".encode(), b"x"))
    write(t, "no_extension", firmware_seed(0, 0, 5, 0, b"firmware", b"x"))
    write(t, "dot_first", firmware_seed(0, 0, 5, 0, b".hidden", b"x"))


if __name__ == "__main__":
    packet_corpus()
    reply_corpus()
    portname_corpus()
    firmware_corpus()
