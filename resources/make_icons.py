#!/usr/bin/env python3
"""Draws the station's laser and filter icons as small RGBA PNG files.

Laser icons are a glowing beam spot in the colour of the wavelength; filter icons are a
square glass plate in the colour of the filter, with a light reflection stripe, so that a
laser and a filter never look alike. Run it from anywhere; it writes next to itself:

    python3 resources/make_icons.py

Only the standard library is used (zlib and struct write the PNG).
"""

import math
import os
import struct
import zlib

SIZE = 32

LASERS = {
    "KIREL5-Laser-473.png": (0, 90, 255),
    "KIREL5-Laser-532.png": (0, 190, 40),
    "KIREL5-Laser-635.png": (255, 40, 20),
    "KIREL5-Laser-670.png": (150, 0, 10),
}

FILTERS = {
    "KIREL5-Filter-Y510_i.png": (250, 215, 0),
    "KIREL5-Filter-O575_i.png": (255, 130, 0),
    "KIREL5-Filter-R665_i.png": (215, 15, 15),
}


def png_bytes(pixels):
    """pixels: SIZE rows of SIZE (r, g, b, a) tuples."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)  # filter type: none
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def clamp(v):
    return max(0, min(255, int(round(v))))


def mix(c1, c2, t):
    return tuple(clamp(a + (b - a) * t) for a, b in zip(c1, c2))


def laser_icon(colour):
    """A bright core, a solid spot in the wavelength's colour and a fading glow."""
    centre = (SIZE - 1) / 2.0
    pixels = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            d = math.hypot(x - centre, y - centre)
            if d <= 3.0:
                rgb, alpha = mix(colour, (255, 255, 255), 0.75), 255
            elif d <= 9.0:
                rgb, alpha = mix((255, 255, 255), colour, min(1.0, (d - 3.0) / 3.0) * 0.75 + 0.25), 255
            elif d <= 10.0:
                rgb, alpha = mix(colour, (0, 0, 0), 0.35), 255
            elif d <= 15.5:
                rgb, alpha = colour, clamp(170 * (1.0 - (d - 10.0) / 5.5))
            else:
                rgb, alpha = (0, 0, 0), 0
            row.append(rgb + (alpha,))
        pixels.append(row)
    # Four short rays make the spot read as a light source even at 16 pixels.
    for i in range(11, 16):
        for (x, y) in ((int(centre) + 1, i - 11), (int(centre) + 1, SIZE - 1 - (i - 11)),
                       (i - 11, int(centre) + 1), (SIZE - 1 - (i - 11), int(centre) + 1)):
            pixels[y][x] = colour + (255,)
    return pixels


def filter_icon(colour):
    """A square glass plate with a dark frame and a diagonal light stripe."""
    dark = mix(colour, (0, 0, 0), 0.55)
    light = mix(colour, (255, 255, 255), 0.6)
    pixels = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            if x < 3 or y < 3 or x > SIZE - 4 or y > SIZE - 4:
                row.append((0, 0, 0, 0))
            elif x < 5 or y < 5 or x > SIZE - 6 or y > SIZE - 6:
                row.append(dark + (255,))
            elif 6 <= (x + y) - 18 <= 10:
                row.append(light + (255,))
            else:
                row.append(colour + (255,))
        pixels.append(row)
    return pixels


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, colour in LASERS.items():
        with open(os.path.join(here, name), "wb") as f:
            f.write(png_bytes(laser_icon(colour)))
    for name, colour in FILTERS.items():
        with open(os.path.join(here, name), "wb") as f:
            f.write(png_bytes(filter_icon(colour)))


if __name__ == "__main__":
    main()
