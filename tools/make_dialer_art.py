#!/usr/bin/env python3
"""Draws the dialer's pictures: the idle and connected icons (32x32, 16 colours)
and the banner bitmap (250x50, 24-bit), also at twice the size (500x100) for
screens above 96 DPI; and the picture of the setup's welcome and finish pages
(164x314, 24-bit). Pure Python so the build needs nothing beyond the
interpreter.

usage: make_dialer_art.py OUTPUT_FOLDER
       (writes idle.ico, connected.ico, banner.bmp, banner2x.bmp, wizard.bmp)
"""
import math
import os
import struct
import sys

# The standard 16-colour palette, index -> (r, g, b).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, GREEN, NAVY, TEAL, SILVER, GRAY, RED, LIME, YELLOW, BLUE, AQUA, WHITE = (
    0, 2, 4, 6, 7, 8, 9, 10, 11, 12, 14, 15)
CLEAR = None


def globe_icon(connected):
    """A globe with a network cable plugged in (connected) or hanging loose (idle)."""
    size = 32
    px = [[CLEAR] * size for _ in range(size)]
    cx, cy, r = 14.0, 13.0, 12.0
    sea = BLUE if connected else SILVER
    land = LIME if connected else GRAY
    sea_dark = NAVY if connected else BLACK
    line = NAVY if connected else BLACK
    for y in range(size):
        for x in range(size):
            dx, dy = x - cx, y - cy
            d = math.hypot(dx, dy)
            if d > r + 0.5:
                continue
            if d > r - 1.0:
                px[y][x] = line
                continue
            # meridians and parallels on a sphere
            lat = math.asin(max(-1.0, min(1.0, dy / r)))
            rr = math.cos(lat) * r
            lon = math.asin(max(-1.0, min(1.0, dx / rr))) if rr > 0.5 else 0
            # the equator, two parallels and three meridians, one pixel wide
            on_grid = (abs(dy) < 0.5 or abs(abs(dy) - r * 0.55) < 0.45 or abs(dx) < 0.5 or
                       abs(abs(dx) - rr * 0.7) < 0.5)
            # a few continents: blobs in longitude/latitude
            blobs = [(-0.6, -0.35, 0.45), (0.55, 0.25, 0.5), (0.1, -0.75, 0.3)]
            is_land = any(math.hypot(lon - bx, lat - by) < br for bx, by, br in blobs)
            # light from the upper left
            shade = (dx + dy) / (2 * r)
            if on_grid:
                px[y][x] = AQUA if connected else WHITE
            elif is_land:
                px[y][x] = land if shade < 0.3 else (GREEN if connected else BLACK)
            else:
                px[y][x] = sea if shade < 0.25 else (NAVY if connected else GRAY)
            if shade < -0.55 and not on_grid:
                px[y][x] = WHITE if connected else SILVER
    # The plug: a body at the lower right with two pins, and its cable.
    body = YELLOW if connected else SILVER
    for y in range(22, 29):
        for x in range(21, 28):
            edge = y in (22, 28) or x in (21, 27)
            px[y][x] = BLACK if edge else body
    for y in (24, 26):
        gap = 0 if connected else 2
        for x in range(17 - gap, 21 - gap):
            px[y][x] = BLACK if connected else GRAY
    for x in range(28, 32):
        px[25][x] = BLACK
        px[24][x] = GRAY
    # status light on the plug
    light = LIME if connected else RED
    for y in (24, 25, 26):
        for x in (23, 24, 25):
            px[y][x] = light if (x - 24) ** 2 + (y - 25) ** 2 <= 1 else px[y][x]
    return px


def ico_4bpp(px):
    size = len(px)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    xor = bytearray()
    for y in reversed(range(size)):
        row = [0 if c is CLEAR else c for c in px[y]]
        for x in range(0, size, 2):
            xor.append((row[x] << 4) | row[x + 1])
    mask = bytearray()
    for y in reversed(range(size)):
        bits = 0
        for x in range(size):
            bits = (bits << 1) | (1 if px[y][x] is CLEAR else 0)
        mask += struct.pack('>I', bits)
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


# A 5x7 font for the banner's capitals.
FONT = {
    'A': ['01110', '10001', '10001', '11111', '10001', '10001', '10001'],
    'B': ['11110', '10001', '10001', '11110', '10001', '10001', '11110'],
    'C': ['01110', '10001', '10000', '10000', '10000', '10001', '01110'],
    'D': ['11110', '10001', '10001', '10001', '10001', '10001', '11110'],
    'E': ['11111', '10000', '10000', '11110', '10000', '10000', '11111'],
    'I': ['01110', '00100', '00100', '00100', '00100', '00100', '01110'],
    'L': ['10000', '10000', '10000', '10000', '10000', '10000', '11111'],
    'N': ['10001', '11001', '10101', '10011', '10001', '10001', '10001'],
    'O': ['01110', '10001', '10001', '10001', '10001', '10001', '01110'],
    'P': ['11110', '10001', '10001', '11110', '10000', '10000', '10000'],
    'R': ['11110', '10001', '10001', '11110', '10100', '10010', '10001'],
    'S': ['01111', '10000', '10000', '01110', '00001', '00001', '11110'],
    'T': ['11111', '00100', '00100', '00100', '00100', '00100', '00100'],
    'V': ['10001', '10001', '10001', '10001', '10001', '01010', '00100'],
    ' ': ['00000'] * 7,
}


def banner(s=1):
    """The banner drawn at s times its size: every pixel of the design s x s."""
    w, h = 250 * s, 50 * s
    img = [[(0, 0, 0)] * w for _ in range(h)]
    for y in range(h):
        for x in range(w):
            t = x / (w - 1)
            v = y / (h - 1)
            r = int(10 + 10 * t)
            g = int(40 + 90 * t - 20 * v)
            b = int(110 + 70 * t - 30 * v)
            img[y][x] = (r, g, b)
    # a thin bright rule along the bottom
    for y in range(h - 3 * s, h - 2 * s):
        for x in range(w):
            img[y][x] = (90, 200, 230)
    # the globe emblem, from the connected icon, scaled up 1.25x
    icon = globe_icon(True)
    for y in range(40 * s):
        for x in range(40 * s):
            c = icon[int(y / (1.25 * s))][int(x / (1.25 * s))]
            if c is not CLEAR:
                img[5 * s + y][8 * s + x] = PALETTE[c]

    def text(string, x0, y0, scale, colour):
        x0, y0, scale = x0 * s, y0 * s, scale * s
        for ch in string:
            glyph = FONT[ch]
            for gy, row in enumerate(glyph):
                for gx, bit in enumerate(row):
                    if bit != '1':
                        continue
                    for sy in range(scale):
                        for sx in range(scale):
                            xx, yy = x0 + gx * scale + sx, y0 + gy * scale + sy
                            if 0 <= xx < w and 0 <= yy < h:
                                img[yy][xx] = colour
            x0 += 6 * scale

    text('TALVEN', 58, 8, 3, (255, 255, 255))
    text('PPPOE CLIENT', 60, 34, 1, (200, 235, 255))
    text('BROADBAND', 165, 34, 1, (120, 200, 240))
    return bmp_24bpp(img)


def bmp_24bpp(img):
    w, h = len(img[0]), len(img)
    rows = bytearray()
    pad = (4 - (w * 3) % 4) % 4
    for y in reversed(range(h)):
        for x in range(w):
            r, g, b = img[y][x]
            rows += bytes((b, g, r))
        rows += b'\0' * pad
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    head = struct.pack('<2sIHHI', b'BM', 14 + 40 + len(rows), 0, 0, 54)
    return head + info + bytes(rows)


def wizard():
    """The setup's welcome and finish pages: the banner's colours running down a
    164x314 strip, the connected globe four times its size, the product's name."""
    w, h = 164, 314
    img = [[(0, 0, 0)] * w for _ in range(h)]
    for y in range(h):
        for x in range(w):
            t = y / (h - 1)
            u = x / (w - 1)
            img[y][x] = (int(10 + 10 * t), int(40 + 90 * t - 20 * u), int(110 + 70 * t - 30 * u))
    for y in range(h - 6, h - 4):
        for x in range(w):
            img[y][x] = (90, 200, 230)
    icon = globe_icon(True)
    for y in range(128):
        for x in range(128):
            c = icon[y // 4][x // 4]
            if c is not CLEAR:
                img[40 + y][18 + x] = PALETTE[c]
    for row, (word, scale, colour) in enumerate((('TALVEN', 4, (255, 255, 255)),
                                                 ('PPPOE CLIENT', 2, (200, 235, 255)))):
        x0 = (w - len(word) * 6 * scale + scale) // 2
        y0 = 196 + row * 40
        for ch in word:
            for gy, bits in enumerate(FONT[ch]):
                for gx, bit in enumerate(bits):
                    if bit == '1':
                        for sy in range(scale):
                            for sx in range(scale):
                                img[y0 + gy * scale + sy][x0 + gx * scale + sx] = colour
            x0 += 6 * scale
    return bmp_24bpp(img)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, 'idle.ico'), 'wb') as f:
        f.write(ico_4bpp(globe_icon(False)))
    with open(os.path.join(out, 'connected.ico'), 'wb') as f:
        f.write(ico_4bpp(globe_icon(True)))
    with open(os.path.join(out, 'banner.bmp'), 'wb') as f:
        f.write(banner())
    with open(os.path.join(out, 'banner2x.bmp'), 'wb') as f:
        f.write(banner(2))
    with open(os.path.join(out, 'wizard.bmp'), 'wb') as f:
        f.write(wizard())


if __name__ == '__main__':
    main()
