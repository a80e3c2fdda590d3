#!/usr/bin/env python3
"""Draws the icon of kyrServer.com and writes it as a multi-size .ico file.

    python3 resources/make_icon.py [output]     (default: kyrServer.ico beside this script)

The emblem is a blue tile with a small server rack on it: three light bars, each with a
green status light. It is drawn on a 16-unit grid, so the 16, 32, 48 and 256 pixel images
all keep the bars on whole pixels. The 16, 32 and 48 pixel images are stored as 32-bit
bitmaps with an AND mask (every Windows version reads those); the 256 pixel image is stored
as PNG, as Windows Vista and later allow for that size.

Only the Python standard library is used and the output is the same on every run. The
build uses the committed .ico; run this script only to change the emblem.
"""

import os
import struct
import sys
import zlib

SIZES = (16, 32, 48, 256)
PNG_MIN_SIZE = 256  # images of this size and larger are stored as PNG

# Colours as (red, green, blue).
TILE_TOP = (0x2F, 0x6C, 0xC0)
TILE_BOTTOM = (0x17, 0x3A, 0x78)
BAR = (0xF2, 0xF5, 0xFA)
LIGHT = (0x3D, 0xD6, 0x5C)

GRID = 16.0


def rounded_rect(x0, y0, x1, y1, radius):
    """Signed distance (in grid units) from a point to a rounded rectangle."""
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - radius, (y1 - y0) / 2 - radius

    def distance(x, y):
        dx, dy = abs(x - cx) - hx, abs(y - cy) - hy
        outside = (max(dx, 0.0) ** 2 + max(dy, 0.0) ** 2) ** 0.5
        return outside + min(max(dx, dy), 0.0) - radius

    return distance


def shapes():
    """The emblem as (distance function, colour function) pairs, back to front."""

    def tile_colour(y):
        t = y / GRID
        return tuple(round(a + (b - a) * t) for a, b in zip(TILE_TOP, TILE_BOTTOM))

    layers = [(rounded_rect(0, 0, 16, 16, 3.0), tile_colour)]
    for top in (3, 7, 11):
        layers.append((rounded_rect(3, top, 13, top + 2, 0.5), lambda y: BAR))
        layers.append((rounded_rect(4, top, 5, top + 2, 0.35), lambda y: LIGHT))
    return layers


def render(size):
    """Straight-alpha RGBA rows, top row first."""
    scale = GRID / size
    layers = shapes()
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            # Pixel centre in grid units; coverage from the distance, one pixel wide.
            x, y = (px + 0.5) * scale, (py + 0.5) * scale
            r = g = b = a = 0.0
            for distance, colour in layers:
                coverage = min(max(0.5 - distance(x, y) / scale, 0.0), 1.0)
                if coverage == 0.0:
                    continue
                cr, cg, cb = colour(y)
                # "over" in premultiplied form
                r = cr * coverage + r * (1 - coverage)
                g = cg * coverage + g * (1 - coverage)
                b = cb * coverage + b * (1 - coverage)
                a = coverage + a * (1 - coverage)
            if a > 0:
                row.append((round(r / a), round(g / a), round(b / a), round(a * 255)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def bitmap_image(rows):
    """BITMAPINFOHEADER, bottom-up BGRA pixels and the AND mask (1 = transparent)."""
    size = len(rows)
    mask_stride = ((size + 31) // 32) * 4
    pixels = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack(
        "<IiiHHIIiiII",
        40,  # biSize
        size,  # biWidth
        size * 2,  # biHeight: the colour image and the mask
        1,  # biPlanes
        32,  # biBitCount
        0,  # biCompression: BI_RGB
        len(pixels) + len(mask),  # biSizeImage
        0,
        0,
        0,
        0,
    )
    return header + bytes(pixels) + bytes(mask)


def png_image(rows):
    """An 8-bit RGBA PNG."""
    size = len(rows)

    def chunk(kind, data):
        return (
            struct.pack(">I", len(data))
            + kind
            + data
            + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
        )

    raw = bytearray()
    for row in rows:
        raw.append(0)  # filter: none
        for pixel in row:
            raw += bytes(pixel)
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (
        b"\x89PNG\r\n\x1a\n"
        + chunk(b"IHDR", header)
        + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
        + chunk(b"IEND", b"")
    )


def icon_file(sizes):
    images = []
    for size in sizes:
        rows = render(size)
        images.append(png_image(rows) if size >= PNG_MIN_SIZE else bitmap_image(rows))
    directory = struct.pack("<HHH", 0, 1, len(sizes))  # reserved, type 1 (icon), count
    offset = len(directory) + 16 * len(sizes)
    entries = b""
    for size, image in zip(sizes, images):
        dimension = 0 if size >= 256 else size  # 0 stands for 256
        entries += struct.pack(
            "<BBBBHHII", dimension, dimension, 0, 0, 1, 32, len(image), offset
        )
        offset += len(image)
    return directory + entries + b"".join(images)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "kyrServer.ico")
    data = icon_file(SIZES)
    with open(output, "wb") as f:
        f.write(data)
    print(f"{output}: {len(data)} bytes, sizes {', '.join(map(str, SIZES))}")


if __name__ == "__main__":
    main()
