#!/usr/bin/env python3
"""Draws Lumora's icons and writes them as 16-colour .ico files.

Lumora.ico: a white-framed monitor on a stand, black screen, SAVE in red.
Form1.ico:  the slideshow window's own icon, a framed landscape picture.
Run from anywhere; writes next to this script. The output is committed.
"""
import os
import struct

# The standard 16-colour VGA palette (index: (r, g, b)).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DGREY, LGREY, RED, WHITE, BLUE, GREEN, YELLOW, CYAN = 0, 8, 7, 9, 15, 12, 2, 11, 6
CLEAR = None  # transparent pixel

# Glyphs, rows top to bottom: 5x7 for the large icon, 3x5 (E narrowed) for the small one.
BIG = {
    "S": [".####", "#....", "#....", ".###.", "....#", "....#", "####."],
    "A": ["..#..", ".#.#.", "#...#", "#...#", "#####", "#...#", "#...#"],
    "V": ["#...#", "#...#", "#...#", "#...#", ".#.#.", ".#.#.", "..#.."],
    "E": ["#####", "#....", "#....", "####.", "#....", "#....", "#####"],
}
SMALL = {
    "S": ["###", "#..", "###", "..#", "###"],
    "A": [".#.", "#.#", "###", "#.#", "#.#"],
    "V": ["#.#", "#.#", "#.#", "#.#", ".#."],
    "E": ["##", "#.", "##", "#.", "##"],
}


def canvas(size):
    return [[CLEAR] * size for _ in range(size)]


def rect(img, x0, y0, x1, y1, colour):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            img[y][x] = colour


def text(img, x, y, word, colour, gap, font):
    for ch in word:
        glyph = font[ch]
        for gy, row in enumerate(glyph):
            for gx, cell in enumerate(row):
                if cell == "#":
                    img[y + gy][x + gx] = colour
        x += len(glyph[0]) + gap


def monitor32():
    img = canvas(32)
    rect(img, 0, 2, 31, 25, DGREY)       # outline, so the frame shows on white
    rect(img, 1, 3, 30, 24, WHITE)       # frame
    rect(img, 3, 5, 28, 22, BLACK)       # screen
    text(img, 4, 10, "SAVE", RED, 1, BIG)
    rect(img, 13, 26, 18, 27, DGREY)     # neck
    rect(img, 7, 28, 24, 30, DGREY)      # foot
    rect(img, 8, 28, 23, 29, WHITE)
    return img


def monitor16():
    img = canvas(16)
    rect(img, 0, 1, 15, 11, WHITE)
    rect(img, 1, 2, 14, 10, BLACK)
    text(img, 1, 4, "SAVE", RED, 1, SMALL)
    rect(img, 6, 12, 9, 12, LGREY)
    rect(img, 3, 13, 12, 14, WHITE)
    rect(img, 3, 14, 12, 14, LGREY)
    return img


def picture(size):
    img = canvas(size)
    m = size // 16
    rect(img, 0, 2 * m, size - 1, size - 1 - 2 * m, WHITE)
    rect(img, m, 3 * m, size - 1 - m, size - 1 - 3 * m, CYAN)
    rect(img, m, size // 2 + m, size - 1 - m, size - 1 - 3 * m, GREEN)
    rect(img, size - 5 * m, 4 * m, size - 3 * m, 6 * m, YELLOW)
    return img


def bitmap(img):
    size = len(img)
    row_xor = ((size * 4 + 31) // 32) * 4
    row_and = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         (row_xor + row_and) * size, 0, 0, 16, 0)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    xor = b""
    mask = b""
    for y in reversed(range(size)):  # bottom-up rows
        nibbles = [(c if c is not None else 0) for c in img[y]]
        row = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        xor += row.ljust(row_xor, b"\0")
        bits = 0
        out = bytearray()
        for x, c in enumerate(img[y]):
            bits = (bits << 1) | (1 if c is None else 0)
            if x % 8 == 7:
                out.append(bits)
                bits = 0
        mask += bytes(out).ljust(row_and, b"\0")
    return header + pal + xor + mask


def write_ico(path, images):
    blobs = [bitmap(img) for img in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for img, blob in zip(images, blobs):
        size = len(img)
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(out + b"".join(blobs))


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    write_ico(os.path.join(here, "Lumora.ico"), [monitor32(), monitor16()])
    write_ico(os.path.join(here, "Form1.ico"), [picture(32), picture(16)])
