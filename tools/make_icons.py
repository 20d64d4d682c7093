#!/usr/bin/env python3
"""Draws the program's icons (16 and 32 px, 32-bit with alpha) and writes them as .ico files.

    make_icons.py OUT_DIR   -> OUT_DIR/vistrel.ico (resource 101), OUT_DIR/recording.ico (103)

The normal icon is a lens on a blue rounded square; the recording icon puts a red dot on it.
Drawn from geometry with 4x4 supersampling, so the output is the same on every run."""
import struct
import sys
from pathlib import Path

BLUE = (0x1F, 0x5F, 0xBF)
WHITE = (0xFF, 0xFF, 0xFF)
DARK = (0x10, 0x20, 0x40)
RED = (0xE0, 0x20, 0x20)


def shade(recording, x, y):
    """Colour and coverage of the point (x, y) in the unit square."""
    # Rounded square background.
    r = 0.18
    cx = min(max(x, r), 1 - r)
    cy = min(max(y, r), 1 - r)
    if (x - cx) ** 2 + (y - cy) ** 2 > r * r:
        return None
    d = ((x - 0.5) ** 2 + (y - 0.5) ** 2) ** 0.5
    colour = BLUE
    if d < 0.32:
        colour = WHITE
    if d < 0.2:
        colour = DARK
    if recording and ((x - 0.74) ** 2 + (y - 0.26) ** 2) ** 0.5 < 0.22:
        colour = RED
    return colour


def render(size, recording):
    pixels = []
    n = 4
    for row in range(size):
        line = []
        for col in range(size):
            acc = [0, 0, 0]
            cover = 0
            for sy in range(n):
                for sx in range(n):
                    c = shade(recording, (col + (sx + 0.5) / n) / size, (row + (sy + 0.5) / n) / size)
                    if c:
                        cover += 1
                        for i in range(3):
                            acc[i] += c[i]
            if cover:
                rgb = [round(a / cover) for a in acc]
                alpha = round(255 * cover / (n * n))
            else:
                rgb, alpha = [0, 0, 0], 0
            line.append((rgb[2], rgb[1], rgb[0], alpha))  # BGRA
        pixels.append(line)
    return pixels


def dib(size, pixels):
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    body = b''.join(bytes(p) for line in reversed(pixels) for p in line)  # bottom-up
    mask_row = ((size + 31) // 32) * 4
    mask = b''
    for line in reversed(pixels):
        row = bytearray(mask_row)
        for x, p in enumerate(line):
            if p[3] == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(row)
    return header + body + mask


def ico(recording):
    images = [dib(s, render(s, recording)) for s in (16, 32)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip((16, 32), images):
        out += struct.pack('<BBBBHHII', s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b''.join(images)


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    (out / 'vistrel.ico').write_bytes(ico(False))
    (out / 'recording.ico').write_bytes(ico(True))


if __name__ == '__main__':
    main()
