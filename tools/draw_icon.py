#!/usr/bin/python3
"""Draws the launcher's icon, a silver disc, into source/Quilra3Patch.ico.

The file holds, in this order: 32x32 and 16x16 in 16 colours, 48x48, 32x32 and
16x16 in 256 colours, and 48x48, 32x32 and 16x16 in 32 bits with alpha. The
build does not run this script; run it by hand and commit the result.
"""
import math
import struct
import sys

IMAGES = [(32, 4), (16, 4), (48, 8), (32, 8), (16, 8), (48, 32), (32, 32), (16, 32)]

# The 16 colours of the standard VGA palette.
VGA16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
         (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
         (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
# A 6x6x6 colour cube and 40 greys.
CUBE256 = ([(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
           + [(round(i * 255 / 39),) * 3 for i in range(40)])

SUPERSAMPLE = 4


def disc_colour(x, y):
    """Colour and coverage of the disc at a point of the unit square."""
    dx, dy = x - 0.5, y - 0.5
    d = math.hypot(dx, dy) * 2  # 0 at the centre, 1 at the rim
    if d > 0.96 or d < 0.18:
        return None
    if d > 0.90 or d < 0.24:
        return (80, 80, 84)  # rim and the edge of the hole
    if d < 0.42:
        return (210, 214, 222)  # clear hub
    # The data area: silver with a sheen that shifts hue around the disc.
    angle = math.atan2(dy, dx)
    sheen = 0.5 + 0.5 * math.cos(2 * angle - 0.8)
    base = 150 + 70 * sheen
    hue = (angle / (2 * math.pi)) % 1.0
    tint = [math.sin(2 * math.pi * (hue + k / 3)) * 30 * sheen for k in range(3)]
    return tuple(max(0, min(255, round(base + t))) for t in tint)


def render(size):
    """RGBA rows, top row first, antialiased by supersampling."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0]
            hits = 0
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    c = disc_colour((px + (sx + 0.5) / SUPERSAMPLE) / size,
                                    (py + (sy + 0.5) / SUPERSAMPLE) / size)
                    if c:
                        hits += 1
                        acc = [a + b for a, b in zip(acc, c)]
            if hits:
                row.append(tuple(round(a / hits) for a in acc) + (round(255 * hits / SUPERSAMPLE ** 2),))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def nearest(palette, rgb):
    return min(range(len(palette)), key=lambda i: sum((p - c) ** 2 for p, c in zip(palette[i], rgb)))


def pad4(data):
    return data + b"\0" * (-len(data) % 4)


def dib(size, bits):
    """A BITMAPINFOHEADER, palette, colour rows and AND mask, bottom row first."""
    rows = render(size)
    palette = {4: VGA16, 8: CUBE256}.get(bits, [])
    xor_rows, and_rows = [], []
    for row in reversed(rows):
        mask_bits = 0
        line = b""
        if bits == 32:
            line = b"".join(struct.pack("<4B", b, g, r, a) for r, g, b, a in row)
        else:
            indices = [nearest(palette, (r, g, b)) if a >= 128 else 0 for r, g, b, a in row]
            if bits == 4:
                line = bytes((indices[i] << 4) | indices[i + 1] for i in range(0, size, 2))
            else:
                line = bytes(indices)
        for i, (_, _, _, a) in enumerate(row):
            if a < 128:
                mask_bits |= 1 << (size - 1 - i)
        xor_rows.append(pad4(line))
        and_rows.append(pad4(mask_bits.to_bytes(size // 8, "big")))
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0,
                         0, 0, 0, len(palette), 0)
    colours = b"".join(struct.pack("<4B", b, g, r, 0) for r, g, b in palette)
    return header + colours + b"".join(xor_rows) + b"".join(and_rows)


def main(path):
    images = [dib(size, bits) for size, bits in IMAGES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, bits), data in zip(IMAGES, images):
        colours = 16 if bits == 4 else 0
        out += struct.pack("<BBBBHHII", size, size, colours, 0, 1, bits, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "source/Quilra3Patch.ico")
