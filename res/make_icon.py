#!/usr/bin/env python3
"""Writes taxoscope.ico: one 16 x 16 picture (a receipt under a magnifying
glass) as the three images the program icon carries: 16 colours, 256 colours
and 32-bit with alpha. Run it from this folder after changing the picture."""
import struct

PICTURE = [
    ".KKKKKKKKK......",
    ".KWWWWWWWK......",
    ".KWgggggWK......",
    ".KWWWWWWWK......",
    ".KWggggWWK......",
    ".KWWWWNNNN......",
    ".KWggNccccN.....",
    ".KWWNcWccccN....",
    ".KWgNcWccccN....",
    ".KWWNccccccN....",
    ".KWgNccccccN....",
    ".KWWWNccccN.....",
    ".KWgWWNNNNrr....",
    ".KWWWWWWK..rr...",
    ".KKKKKKKK...rr..",
    ".............rr.",
]

# The standard 16-colour palette (RGB); the letters pick entries of it.
PALETTE16 = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
INDEX = {"K": 0, "r": 1, "N": 4, "g": 8, "c": 14, "W": 15, ".": 0}
SIZE = 16


def bottom_up_rows():
    return list(reversed(PICTURE))


def and_mask():
    # 1 bit per pixel, set where the picture is transparent; rows padded to 4 bytes.
    out = b""
    for row in bottom_up_rows():
        bits = 0
        for x, ch in enumerate(row):
            if ch == ".":
                bits |= 1 << (15 - x)
        out += struct.pack(">H", bits) + b"\0\0"
    return out


def header(bit_count, image_bytes):
    # Height is doubled: the colour image and the AND mask are stacked.
    return struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, bit_count, 0,
                       image_bytes, 0, 0, 0, 0)


def palette(entries):
    out = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in PALETTE16)
    return out + b"\0" * 4 * (entries - len(PALETTE16))


def image_4bpp():
    pixels = b""
    for row in bottom_up_rows():
        for x in range(0, SIZE, 2):
            pixels += bytes([(INDEX[row[x]] << 4) | INDEX[row[x + 1]]])
    mask = and_mask()
    return header(4, len(pixels) + len(mask)) + palette(16) + pixels + mask


def image_8bpp():
    pixels = b"".join(bytes(INDEX[ch] for ch in row) for row in bottom_up_rows())
    mask = and_mask()
    return header(8, len(pixels) + len(mask)) + palette(256) + pixels + mask


def image_32bpp():
    pixels = b""
    for y, row in enumerate(bottom_up_rows()):
        for x, ch in enumerate(row):
            if ch == ".":
                pixels += b"\0\0\0\0"
                continue
            r, g, b = PALETTE16[INDEX[ch]]
            if ch == "c":
                # A little depth in the glass: lighter towards the top left.
                lift = max(0, 40 - 6 * (x - 5) - 6 * (y - 4))
                r, g, b = min(255, r + lift), min(255, g + lift // 2), b
            pixels += struct.pack("BBBB", b, g, r, 255)
    mask = and_mask()
    return header(32, len(pixels) + len(mask)) + pixels + mask


def main():
    images = [(16, 4, image_4bpp()), (0, 8, image_8bpp()), (0, 32, image_32bpp())]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for colours, bits, data in images:
        out += struct.pack("<BBBBHHII", SIZE, SIZE, colours, 0, 1, bits, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, _, data in images)
    with open("taxoscope.ico", "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
