#!/usr/bin/env python3
"""Writes the demo firmware images and our stand-in loader images (TI-TXT).

The images are ours: deterministic filler bytes, a "TGFW:<version>" marker the simulated
Talkgate reports as its firmware version, and the vector table whose 32 bytes at 0xFFE0 are
the loader password shipped in firmware/resources/password.txt.
Run from the repository root: python3 sim/images/make_images.py
"""
import os

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def vector_table():
    words = [0x4410 + 2 * i for i in range(15)] + [0x4400]  # last one: the reset vector
    out = bytearray()
    for w in words:
        out += bytes([w & 0xFF, w >> 8])
    return bytes(out)


def filler(seed, n):
    out = bytearray()
    x = seed
    for _ in range(n):
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        out.append((x >> 16) & 0xFF)
    return bytes(out)


def ti_txt(sections):
    lines = []
    for addr, data in sections:
        lines.append("@%04X" % addr)
        for i in range(0, len(data), 16):
            lines.append("".join("%02X " % b for b in data[i:i + 16]))
    lines.append("q")
    return "\r\n".join(lines) + "\r\n"


def demo_image(version, seed):
    marker = b"TGFW:" + version.encode() + b"\0"
    code = bytearray(filler(seed, 3072))
    code[0x100:0x100 + len(marker)] = marker
    high = filler(seed + 1, 640)  # above 0xFFFF: 20-bit addresses
    vectors = filler(seed + 2, 96) + vector_table()
    return ti_txt([(0x4400, bytes(code)), (0x10000, high), (0xFF80, vectors)])


def write(path, text):
    with open(os.path.join(ROOT, path), "w", newline="") as f:
        f.write(text)


def main():
    write("sim/images/talkgate_fw_1.0.4.txt", demo_image("1.0.4", 104))
    write("sim/images/talkgate_fw_1.1.0.txt", demo_image("1.1.0", 110))
    pw = ti_txt([(0xFFE0, vector_table())])[:-2]  # the resource ends right after "q"
    assert len(pw) == 108, len(pw)
    write("firmware/resources/password.txt", pw)
    note = (b"Talkgate stand-in RAM loader 00.06.05.34: runs only in the simulator; "
            b"build with TALKGATE_REAL_LOADER_DIR for hardware.")
    first = (bytes([0x00, 0x06, 0x05, 0x34]) + note + b"\0" * 117)[:117]  # odd length on purpose
    second = filler(2500, 420)
    write("firmware/resources/ram_bsl.txt", ti_txt([(0x2500, first), (0x2576, second)])[:-2])


if __name__ == "__main__":
    main()
