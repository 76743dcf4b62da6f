#!/usr/bin/env python3
"""Draws the program's icon and its chip picture from shapes, so both can be made again.

    draw_art.py OUTDIR   writes OUTDIR/telvio.ico (16x16 and 32x32, 16 colours)
                         and OUTDIR/chip.bmp (97x67, 256 colours)

The same scene, a chip with its legs struck by a lightning bolt, is described once in
unit coordinates and sampled at each size, so the icon and the picture agree. Only the
standard library is used.
"""

import os
import struct
import sys

# The 16-colour palette every 4-bit icon shares (the classic VGA set), as (r, g, b).
VGA = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

# Scene elements by name; the icon maps them to VGA entries.
ICON_COLOURS = {
    "body": 0, "bevel": 8, "leg": 7, "dot": 8, "bolt": 11, "bolt_edge": 9, "spark": 15,
}

# The bolt: a zig-zag from the upper right to the lower left, in unit coordinates.
BOLT = [
    (0.66, 0.00), (0.96, 0.00), (0.64, 0.36), (0.84, 0.36), (0.12, 1.00), (0.40, 0.55),
    (0.20, 0.55),
]


def inside(poly, x, y):
    """Even-odd rule: is (x, y) inside the closed polygon?"""
    hit = False
    n = len(poly)
    for i in range(n):
        x1, y1 = poly[i]
        x2, y2 = poly[(i + 1) % n]
        if (y1 > y) != (y2 > y):
            cross = x1 + (y - y1) * (x2 - x1) / (y2 - y1)
            if x < cross:
                hit = not hit
    return hit


def near_bolt(x, y, reach):
    """Inside the bolt grown by `reach` (tested on a small ring of points)."""
    for dx, dy in ((reach, 0), (-reach, 0), (0, reach), (0, -reach)):
        if inside(BOLT, x + dx, y + dy):
            return True
    return False


def scene(x, y, pixel):
    """The element at unit position (x, y), or None for background. `pixel` is one
    pixel's width in unit coordinates, so thin features stay visible at 16x16."""
    if inside(BOLT, x, y):
        return "bolt"
    if near_bolt(x, y, max(pixel, 0.02)):
        return "bolt_edge"
    # Chip body with a one-pixel bevel, and legs along its left and right sides.
    bx0, bx1, by0, by1 = 0.22, 0.78, 0.20, 0.80
    if bx0 <= x <= bx1 and by0 <= y <= by1:
        if x < bx0 + pixel or y < by0 + pixel:
            return "bevel"
        # Pin-1 mark.
        if (x - 0.32) ** 2 + (y - 0.30) ** 2 < max(0.05, pixel) ** 2:
            return "dot"
        return "body"
    legs = 4
    for i in range(legs):
        ly0 = by0 + (i + 0.25) * (by1 - by0) / legs
        ly1 = ly0 + max(0.5 * (by1 - by0) / legs, pixel)
        if ly0 <= y <= ly1 and (0.06 <= x < bx0 or bx1 < x <= 0.94):
            return "leg"
    # A few sparks where the bolt leaves the chip.
    for sx, sy in ((0.86, 0.10), (0.93, 0.22), (0.05, 0.88)):
        if abs(x - sx) < max(pixel, 0.025) and abs(y - sy) < max(pixel, 0.025):
            return "spark"
    return None


def render(width, height):
    """Element name (or None) per pixel, rows top to bottom."""
    pixel = 1.0 / min(width, height)
    rows = []
    for j in range(height):
        y = (j + 0.5) / height
        rows.append([scene((i + 0.5) / width, y, pixel) for i in range(width)])
    return rows


def icon_image(size):
    """One 4-bit icon image: BITMAPINFOHEADER, palette, colour bits, mask bits."""
    rows = render(size, size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in VGA)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray(xor_stride)
        mline = bytearray(and_stride)
        for i, element in enumerate(row):
            index = ICON_COLOURS[element] if element else 0
            line[i // 2] |= index << (4 if i % 2 == 0 else 0)
            if element is None:
                mline[i // 8] |= 0x80 >> (i % 8)
        xor += line
        mask += mline
    return header + palette + bytes(xor) + bytes(mask)


def write_icon(path):
    images = [icon_image(16), icon_image(32)]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in zip((16, 32), images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(path, "wb") as f:
        f.write(out)


def picture_palette():
    """256 entries: the VGA 16, then ramps for the body, the legs, the bolt and a sky."""
    palette = list(VGA)
    ramps = [
        ((20, 20, 28), (90, 90, 110)),      # body 16..63
        ((150, 150, 150), (240, 240, 240)),  # legs 64..111
        ((200, 120, 0), (255, 255, 160)),    # bolt 112..159
        ((40, 60, 140), (170, 200, 250)),    # background 160..255
    ]
    lengths = [48, 48, 48, 96]
    for (c0, c1), n in zip(ramps, lengths):
        for k in range(n):
            t = k / (n - 1)
            palette.append(tuple(round(a + (b - a) * t) for a, b in zip(c0, c1)))
    assert len(palette) == 256
    return palette


def picture_index(element, x, y):
    def ramp(start, n, t):
        return start + min(n - 1, max(0, int(t * (n - 1) + 0.5)))
    if element is None:
        return ramp(160, 96, 1.0 - y)          # sky, lighter at the top
    if element in ("body", "dot"):
        shade = 0.15 if element == "dot" else 0.6 - 0.5 * y
        return ramp(16, 48, shade)
    if element == "bevel":
        return ramp(16, 48, 1.0)
    if element == "leg":
        return ramp(64, 48, 1.0 - abs(y - 0.5))
    if element == "bolt":
        return ramp(112, 48, 1.0 - 0.6 * y)
    if element == "bolt_edge":
        return 9                                # bright red rim
    return 15                                   # sparks


def write_picture(path, width=97, height=67):
    rows = render(width, height)
    palette = picture_palette()
    stride = (width + 3) & ~3
    bits = bytearray()
    for j in reversed(range(height)):
        line = bytearray(stride)
        for i in range(width):
            line[i] = picture_index(rows[j][i], (i + 0.5) / width, (j + 0.5) / height)
        bits += line
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(bits), 2835, 2835,
                       256, 0)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    offset = 14 + len(info) + len(pal)
    head = struct.pack("<2sIHHI", b"BM", offset + len(bits), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(head + info + pal + bytes(bits))


def main():
    if len(sys.argv) != 2:
        sys.stderr.write("usage: draw_art.py OUTDIR\n")
        return 2
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_icon(os.path.join(out, "telvio.ico"))
    write_picture(os.path.join(out, "chip.bmp"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
