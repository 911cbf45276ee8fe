#!/usr/bin/env python3
"""Draws Lumora's icons and writes them as .ico files.

Lumora.ico: a white-framed monitor on a stand, black screen, SAVE in red.
Form1.ico:  the slideshow window's own icon, a framed landscape picture.

Each icon is one drawing on a 32-unit grid, rasterised at 16, 24, 32, 48, 64
and 256 pixels. 16, 24 and 32 are stored with 16 colours, 48 and 64 as 32-bit
with alpha, 256 as PNG (as Windows expects at that size); all use the same
flat palette colours. Run from anywhere; writes next to this script. The
output is committed.
"""
import math
import os
import struct
import zlib

SIZES = [16, 24, 32, 48, 64, 256]
UNITS = 32  # the drawing's grid

# The standard 16-colour VGA palette (index: (r, g, b)).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DGREY, LGREY, RED, WHITE, BLUE, GREEN, YELLOW, CYAN = 0, 8, 7, 9, 15, 12, 2, 11, 6
CLEAR = None  # transparent pixel

# Pixel fonts, rows top to bottom: 5x7, and 3x5 (E narrowed) for when 5x7 does
# not fit.
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

# The drawings, in grid units. A box is (left, top, right, bottom) with
# rings from the outside in, each (thickness, colour, sides), then its fill.
# A ring of 1 unit is an outline: it shows from 32 px up, where it is at least
# a whole pixel; thicker rings keep at least one pixel.
MONITOR = [
    ("box", (0, 2, 32, 26), [(1, DGREY, "ltrb"), (2, WHITE, "ltrb")], BLACK),
    ("text", "SAVE", RED),                           # centred on the screen above
    ("box", (13, 26, 19, 28), [], DGREY),            # neck
    ("box", (7, 28, 25, 31), [(1, DGREY, "lrb")], WHITE),  # foot
]
PICTURE = [
    ("box", (0, 4, 32, 28), [(2, WHITE, "ltrb")], CYAN),  # frame and sky
    ("box", (2, 18, 30, 26), [], GREEN),                  # land
    ("box", (22, 8, 28, 14), [], YELLOW),                 # sun
]


def edge(units, size, leading):
    """A grid edge in pixels, rounded; a tie goes inwards, so a shape never grows."""
    twice = 2 * units * size  # twice the exact pixel position, times UNITS
    if leading:
        return (twice + UNITS) // (2 * UNITS)
    return -((UNITS - twice) // (2 * UNITS))


def round_half_up(value):
    return math.floor(value + 0.5)


def thickness(units, size):
    exact = units * size / UNITS
    if units <= 1:
        return math.floor(exact)  # an outline: whole pixels or nothing
    return max(1, round_half_up(exact))


def fill(img, x0, y0, x1, y1, colour):
    for y in range(max(y0, 0), min(y1, len(img))):
        for x in range(max(x0, 0), min(x1, len(img))):
            img[y][x] = colour


def text(img, box, word, colour, margin):
    x0, y0, x1, y1 = box
    room = x1 - x0 - 2 * margin
    # The largest scale in half pixels at which the word fits, 5x7 font first.
    for font in (BIG, SMALL):
        columns = sum(len(font[ch][0]) + 1 for ch in word) - 1  # one blank column between letters
        scale = (2 * room // columns) / 2
        if scale >= 1:
            break
    # Each font pixel is a square pen of whole pixels set at its scaled,
    # rounded place: at a half scale strokes stay even, only gaps vary.
    pen = math.ceil(scale)
    width = round_half_up((columns - 1) * scale) + pen
    height = round_half_up((len(font[word[0]]) - 1) * scale) + pen
    left = x0 + (x1 - x0 - width) // 2
    top = y0 + (y1 - y0 - height) // 2
    column = 0
    for ch in word:
        glyph = font[ch]
        for gy, row in enumerate(glyph):
            for gx, cell in enumerate(row):
                if cell == "#":
                    x = left + round_half_up((column + gx) * scale)
                    y = top + round_half_up(gy * scale)
                    fill(img, x, y, x + pen, y + pen, colour)
        column += len(glyph[0]) + 1


def draw(drawing, size):
    img = [[CLEAR] * size for _ in range(size)]
    inner = None
    for shape in drawing:
        if shape[0] == "box":
            _, (l, t, r, b), rings, colour = shape
            x0, y0 = edge(l, size, True), edge(t, size, True)
            x1, y1 = edge(r, size, False), edge(b, size, False)
            for units, ring_colour, sides in rings:
                px = thickness(units, size)
                if px == 0:
                    continue
                fill(img, x0, y0, x1, y1, ring_colour)
                x0 += px if "l" in sides else 0
                y0 += px if "t" in sides else 0
                x1 -= px if "r" in sides else 0
                y1 -= px if "b" in sides else 0
            fill(img, x0, y0, x1, y1, colour)
            inner = (x0, y0, x1, y1)
        else:
            _, word, colour = shape
            text(img, inner, word, colour, thickness(1, size))
    return img


def rgba(c):
    return (0, 0, 0, 0) if c is None else PALETTE[c] + (255,)


def and_mask(img):
    size = len(img)
    row_bytes = ((size + 31) // 32) * 4
    out = b""
    for y in reversed(range(size)):  # bottom-up rows
        bits = bytearray(row_bytes)
        for x, c in enumerate(img[y]):
            if c is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bytes(bits)
    return out


def bmp16(img):
    size = len(img)
    row_xor = ((size * 4 + 31) // 32) * 4
    xor = b""
    for y in reversed(range(size)):
        nibbles = [(c if c is not None else 0) for c in img[y]]
        row = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        xor += row.ljust(row_xor, b"\0")
    mask = and_mask(img)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + pal + xor + mask


def bmp32(img):
    size = len(img)
    xor = b""
    for y in reversed(range(size)):
        for c in img[y]:
            r, g, b, a = rgba(c)
            xor += bytes((b, g, r, a))
    mask = and_mask(img)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + mask


def png(img):
    size = len(img)
    raw = b"".join(b"\0" + b"".join(bytes(rgba(c)) for c in row) for row in img)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def write_ico(path, drawing):
    entries = []
    for size in SIZES:
        img = draw(drawing, size)
        if size <= 32:
            entries.append((size, 16, 4, bmp16(img)))
        elif size < 256:
            entries.append((size, 0, 32, bmp32(img)))
        else:
            entries.append((size, 0, 32, png(img)))
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for size, colours, bits, blob in entries:
        # A width or height of 256 is stored as 0.
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    with open(path, "wb") as f:
        f.write(out + b"".join(blob for *_, blob in entries))


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    write_ico(os.path.join(here, "Lumora.ico"), MONITOR)
    write_ico(os.path.join(here, "Form1.ico"), PICTURE)
