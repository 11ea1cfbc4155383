#!/usr/bin/env python3
"""Packs icon images into a Windows .ico file.

Arguments: the output file, then one frame each as KIND:SIZE:PIXELS:ALPHA, where
KIND is 4 or 8 (palette image from raw 8-bit RGB PIXELS, at most 16 or 256
colours), 32 (raw 8-bit RGBA PIXELS) or png (a PNG file stored as it is). ALPHA
is a raw RGBA file whose alpha channel gives the 1-bit mask.
"""
import struct
import sys


def row_bytes(bits_per_row):
    return (bits_per_row + 31) // 32 * 4


def and_mask(size, alpha):
    rows = []
    for y in reversed(range(size)):
        bits = bytearray(row_bytes(size))
        for x in range(size):
            if alpha[y * size + x] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        rows.append(bytes(bits))
    return b"".join(rows)


def dib_header(size, bpp, colours):
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, 0, 0, 0, colours, 0)


def palette_image(size, bpp, rgb, alpha):
    pixels = [tuple(rgb[i * 3:i * 3 + 3]) for i in range(size * size)]
    colours = sorted(set(pixels))
    capacity = 1 << bpp
    if len(colours) > capacity:
        sys.exit(f"{len(colours)} colours do not fit a {bpp}-bit palette")
    # Index 0 is black: masked pixels use it, so they stay transparent.
    if (0, 0, 0) in colours:
        colours.remove((0, 0, 0))
    colours.insert(0, (0, 0, 0))
    colours += [(0, 0, 0)] * (capacity - len(colours))
    index = {colour: i for i, colour in reversed(list(enumerate(colours)))}
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in colours)
    rows = []
    for y in reversed(range(size)):
        line = bytearray(row_bytes(size * bpp))
        for x in range(size):
            i = 0 if alpha[y * size + x] < 128 else index[pixels[y * size + x]]
            if bpp == 8:
                line[x] = i
            else:
                line[x // 2] |= i << (4 if x % 2 == 0 else 0)
        rows.append(bytes(line))
    return dib_header(size, bpp, capacity) + palette + b"".join(rows) + and_mask(size, alpha)


def truecolour_image(size, rgba):
    rows = []
    for y in reversed(range(size)):
        line = bytearray()
        for x in range(size):
            r, g, b, a = rgba[(y * size + x) * 4:(y * size + x) * 4 + 4]
            line += bytes((b, g, r, a))
        rows.append(bytes(line))
    alpha = rgba[3::4]
    return dib_header(size, 32, 0) + b"".join(rows) + and_mask(size, alpha)


def main():
    output, entries = sys.argv[1], sys.argv[2:]
    entries = []
    for entry in entries:
        kind, size, pixels, alpha_file = entry.split(":", 3)
        size = int(size)
        data = open(pixels, "rb").read()
        if kind == "png":
            entries.append((size, 32, 0, data))
            continue
        alpha = open(alpha_file, "rb").read()[3::4]
        if kind == "32":
            entries.append((size, 32, 0, truecolour_image(size, data)))
        else:
            bpp = int(kind)
            entries.append((size, bpp, 16 if bpp == 4 else 0, palette_image(size, bpp, data, alpha)))

    offset = 6 + 16 * len(entries)
    directory = struct.pack("<HHH", 0, 1, len(entries))
    images = b""
    for size, bpp, colours, image in entries:
        edge = 0 if size >= 256 else size
        directory += struct.pack("<BBBBHHII", edge, edge, colours, 0, 1, bpp, len(image), offset)
        offset += len(image)
        images += image
    with open(output, "wb") as out:
        out.write(directory + images)


if __name__ == "__main__":
    main()
