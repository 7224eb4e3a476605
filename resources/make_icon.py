#!/usr/bin/env python3
"""Draws teldial's icon, a white telephone handset on a green rounded tile, and
writes it as one .ico file with nine images:

    16 and 32 px at 4 bpp; 16, 32 and 48 px at 8 and at 32 bpp; 256 px as PNG.

Only the standard library is used: the shapes are sampled several times per
pixel for smooth edges, the palettes of the 4 and 8 bpp images are cut from
the drawn colours (median cut), and the DIB and PNG data are packed by hand.
The output depends on nothing but this file, so the committed teldial.ico can
be rebuilt at any time:

    python3 resources/make_icon.py resources/teldial.ico
"""
import math
import struct
import sys
import zlib

# Geometry in unit coordinates, y pointing down; the tile fills the square.
TILE_CORNER = 0.19

# The handset is drawn level, cups facing down, around the origin, then turned
# so that the earpiece sits top left and the cups face the top right.
HANDSET_TURN = math.radians(-135.0)
HANDSET_PLACE = (0.46, 0.525)  # where the origin of the level drawing goes
HANDSET_SCALE = 0.8
HANDLE_CENTRE = (0.0, 0.50)  # the handle is a band around this point
HANDLE_INNER, HANDLE_OUTER = 0.49, 0.65
HANDLE_SPAN = math.radians(40.0)  # either side of straight up
ROUNDING = 0.035  # every corner of the cups is rounded by this much
# One cup, for the right end; the left one is its mirror image.
CUP = [(0.25, 0.02), (0.40, -0.04), (0.47, 0.20), (0.20, 0.24)]
CUPS = [CUP, [(-x, y) for x, y in reversed(CUP)]]

TILE_TOP = (0x43, 0xC4, 0x67)
TILE_BOTTOM = (0x17, 0x80, 0x3A)
TILE_EDGE = (0x10, 0x66, 0x2D)
HANDSET = (0xFF, 0xFF, 0xFF)


def inside_rounded_square(x, y, corner):
    cx = min(max(x, corner), 1.0 - corner)
    cy = min(max(y, corner), 1.0 - corner)
    return 0.0 <= x <= 1.0 and 0.0 <= y <= 1.0 and (x - cx) ** 2 + (y - cy) ** 2 <= corner * corner


def distance_to_segment(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)
    t = min(max(t, 0.0), 1.0)
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def inside_rounded_polygon(x, y, points, rounding):
    inside = False
    for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
        if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
            inside = not inside
        if distance_to_segment(x, y, ax, ay, bx, by) <= rounding:
            return True
    return inside


def inside_handset(x, y):
    # Back from the tile into the level drawing.
    dx, dy = (x - HANDSET_PLACE[0]) / HANDSET_SCALE, (y - HANDSET_PLACE[1]) / HANDSET_SCALE
    c, s = math.cos(-HANDSET_TURN), math.sin(-HANDSET_TURN)
    lx, ly = c * dx - s * dy, s * dx + c * dy
    hx, hy = lx - HANDLE_CENTRE[0], ly - HANDLE_CENTRE[1]
    from_up = math.atan2(hx, -hy)
    if abs(from_up) <= HANDLE_SPAN and HANDLE_INNER <= math.hypot(hx, hy) <= HANDLE_OUTER:
        return True
    return any(inside_rounded_polygon(lx, ly, cup, ROUNDING) for cup in CUPS)


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def draw(size):
    """RGBA rows, top row first, each pixel a 4-tuple of 0..255."""
    samples = 8 if size <= 48 else 4
    edge = 1.0 / size if size >= 32 else 0.0  # a darker rim where it has room
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            tile_hits = 0
            colour = [0.0, 0.0, 0.0]
            for sy in range(samples):
                y = (py + (sy + 0.5) / samples) / size
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) / size
                    if not inside_rounded_square(x, y, TILE_CORNER):
                        continue
                    tile_hits += 1
                    if inside_handset(x, y):
                        c = HANDSET
                    elif edge and not inside_rounded_square((x - edge) / (1 - 2 * edge), (y - edge) / (1 - 2 * edge), TILE_CORNER):
                        c = TILE_EDGE
                    else:
                        c = mix(TILE_TOP, TILE_BOTTOM, y)
                    for i in range(3):
                        colour[i] += c[i]
            if tile_hits == 0:
                row.append((0, 0, 0, 0))
            else:
                rgb = tuple(int(round(v / tile_hits)) for v in colour)
                row.append(rgb + (int(round(255 * tile_hits / (samples * samples))),))
        rows.append(row)
    return rows


def median_cut(colours, count):
    """A palette of at most count entries for the given (r, g, b) list."""
    boxes = [sorted(set(colours))]
    while len(boxes) < count:
        widest, channel, spread = None, 0, -1
        for index, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for ch in range(3):
                values = [c[ch] for c in box]
                if max(values) - min(values) > spread:
                    widest, channel, spread = index, ch, max(values) - min(values)
        if widest is None:
            break
        box = sorted(boxes.pop(widest), key=lambda c: (c[channel], c))
        half = len(box) // 2
        boxes += [box[:half], box[half:]]
    palette = []
    for box in boxes:
        palette.append(tuple(int(round(sum(c[ch] for c in box) / len(box))) for ch in range(3)))
    return sorted(set(palette))


def nearest(palette, colour):
    return min(range(len(palette)), key=lambda i: sum((palette[i][ch] - colour[ch]) ** 2 for ch in range(3)))


def padded(row_bytes):
    return row_bytes + b"\0" * (-len(row_bytes) % 4)


def and_mask(rows, opaque):
    """1 bpp mask rows, bottom row first: set bits mark transparent pixels."""
    data = b""
    for row in reversed(rows):
        bits = bytearray((len(row) + 7) // 8)
        for x, pixel in enumerate(row):
            if not opaque(pixel):
                bits[x // 8] |= 0x80 >> (x % 8)
        data += padded(bytes(bits))
    return data


def dib(rows, bits):
    size = len(rows)
    if bits == 32:
        palette = []
        pixels = b"".join(padded(b"".join(struct.pack("BBBB", b, g, r, a) for r, g, b, a in row)) for row in reversed(rows))
        mask = and_mask(rows, lambda p: p[3] > 0)
    else:
        opaque = lambda p: p[3] >= 128
        palette = median_cut([p[:3] for row in rows for p in row if opaque(p)], 1 << bits)
        palette += [(0, 0, 0)] * ((1 << bits) - len(palette))
        pixels = b""
        for row in reversed(rows):
            indices = [nearest(palette, p) if opaque(p) else 0 for p in row]
            if bits == 4:
                indices += [0] * (len(indices) % 2)
                packed = bytes((indices[i] << 4) | indices[i + 1] for i in range(0, len(indices), 2))
            else:
                packed = bytes(indices)
            pixels += padded(packed)
        mask = and_mask(rows, opaque)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bits, 0, len(pixels) + len(mask), 0, 0, len(palette), 0)
    return header + b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in palette) + pixels + mask


def png(rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    size = len(rows)
    raw = b"".join(b"\0" + bytes(v for pixel in row for v in pixel) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


# (size, bits per pixel), in the order of the icon group.
IMAGES = [(256, 32), (48, 32), (32, 32), (16, 32), (48, 8), (32, 8), (16, 8), (32, 4), (16, 4)]


def icon():
    drawn = {}
    entries, blobs = [], []
    for size, bits in IMAGES:
        rows = drawn.setdefault(size, draw(size))
        blobs.append(png(rows) if size == 256 else dib(rows, bits))
        entries.append((size, bits))
    offset = 6 + 16 * len(entries)
    directory = struct.pack("<HHH", 0, 1, len(entries))
    for (size, bits), blob in zip(entries, blobs):
        colours = 16 if bits == 4 else 0
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    return directory + b"".join(blobs)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    with open(sys.argv[1], "wb") as out:
        out.write(icon())


if __name__ == "__main__":
    main()
