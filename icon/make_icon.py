#!/usr/bin/env python3
"""Writes Quorin.ico (16x16 and 32x32, 32-bit BGRA with AND mask) from the
pixel grids below.  Standard library only, so it runs on any build machine.

    python3 icon/make_icon.py             # rewrites icon/Quorin.ico
    python3 icon/make_icon.py --png DIR   # also writes PNG previews into DIR
"""

import argparse
import pathlib
import struct
import sys
import zlib

# One character per pixel; '.' is fully transparent.
PALETTE = {
    ".": (0x00, 0x00, 0x00, 0x00),
    "K": (0x14, 0x19, 0x22, 0xFF),  # outline: carries the shape on light taskbars
    "L": (0xDD, 0xE3, 0xEB, 0xFF),  # bezel: carries the shape on dark taskbars
    "M": (0xB9, 0xC2, 0xCE, 0xFF),  # bezel chin
    "N": (0x0F, 0x4C, 0x9E, 0xFF),  # screen inset edge
    "b": (0x3D, 0x96, 0xF2, 0xFF),  # screen glare
    "B": (0x1F, 0x78, 0xE0, 0xFF),  # screen
    "n": (0x16, 0x59, 0xB4, 0xFF),  # arrow shadow
    "W": (0xFF, 0xFF, 0xFF, 0xFF),  # resize arrow
    "G": (0x9A, 0xA4, 0xB2, 0xFF),  # stand: mid grey reads on both taskbars
}

# Hand-placed for the notification area; every pixel is deliberate.
ICON_16 = [
    ".KKKKKKKKKKKKKK.",
    "KLLLLLLLLLLLLLLK",
    "KLbbbbbbbbbbbbLK",
    "KLBBBBBBWWWWBBLK",
    "KLBBBBBBBWWWBBLK",
    "KLBBBBBBBWWWBBLK",
    "KLBBBBBBWBBWBBLK",
    "KLBBWBBWBBBBBBLK",
    "KLBBWWWBBBBBBBLK",
    "KLBBWWWBBBBBBBLK",
    "KLBBWWWWBBBBBBLK",
    "KLBBBBBBBBBBBBLK",
    "KLLLLLLLLLLLLLLK",
    ".KKKKKKKKKKKKKK.",
    "......KGGK......",
    "...KGGGGGGGGK...",
]

# The 16x16 at double scale, with a 1px outline, a thicker bezel, an inset
# screen edge and a drop shadow under the arrow.
ICON_32 = [
    ".KKKKKKKKKKKKKKKKKKKKKKKKKKKKKK.",
    "KKLLLLLLLLLLLLLLLLLLLLLLLLLLLLKK",
    "KLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLK",
    "KLLNNNNNNNNNNNNNNNNNNNNNNNNNNLLK",
    "KLLNbbbbbbbbbbbbbbbbbbbbbbbbNLLK",
    "KLLNbbbbbbbbbbbbbbbbbbbbbbbbNLLK",
    "KLLNBBBBBBBBBBBBWWWWWWWWBBBBNLLK",
    "KLLNBBBBBBBBBBBBBWWWWWWWnBBBNLLK",
    "KLLNBBBBBBBBBBBBBBWWWWWWnBBBNLLK",
    "KLLNBBBBBBBBBBBBBBBWWWWWnBBBNLLK",
    "KLLNBBBBBBBBBBBBBBWWWWWWnBBBNLLK",
    "KLLNBBBBBBBBBBBBBWWWnWWWnBBBNLLK",
    "KLLNBBBBBBBBBBBBWWWnnBWWnBBBNLLK",
    "KLLNBBBBBBBBBBBWWWnnBBBWnBBBNLLK",
    "KLLNBBBBWBBBBBWWWnnBBBBBnBBBNLLK",
    "KLLNBBBBWWBBBWWWnnBBBBBBBBBBNLLK",
    "KLLNBBBBWWWBWWWnnBBBBBBBBBBBNLLK",
    "KLLNBBBBWWWWWWnnBBBBBBBBBBBBNLLK",
    "KLLNBBBBWWWWWnnBBBBBBBBBBBBBNLLK",
    "KLLNBBBBWWWWWWBBBBBBBBBBBBBBNLLK",
    "KLLNBBBBWWWWWWWBBBBBBBBBBBBBNLLK",
    "KLLNBBBBWWWWWWWWBBBBBBBBBBBBNLLK",
    "KLLNBBBBBnnnnnnnnBBBBBBBBBBBNLLK",
    "KLLNBBBBBBBBBBBBBBBBBBBBBBBBNLLK",
    "KLLNNNNNNNNNNNNNNNNNNNNNNNNNNLLK",
    "KMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMK",
    "KKMMMMMMMMMMMMMMMMMMMMMMMMMMMMKK",
    ".KKKKKKKKKKKKKKKKKKKKKKKKKKKKKK.",
    "............KGGGGGGK............",
    "............KGGGGGGK............",
    "......KGGGGGGGGGGGGGGGGGGK......",
    "......KKKKKKKKKKKKKKKKKKKK......",
]

IMAGES = [ICON_16, ICON_32]

LIGHT_TASKBAR = (0xF3, 0xF3, 0xF3)
DARK_TASKBAR = (0x20, 0x20, 0x20)


def check_grid(grid):
    size = len(grid)
    for y, row in enumerate(grid):
        if len(row) != size:
            sys.exit("%dx%d grid: row %d has %d pixels" % (size, size, y, len(row)))
        for x, ch in enumerate(row):
            if ch not in PALETTE:
                sys.exit("%dx%d grid: unknown colour %r at %d,%d" % (size, size, ch, x, y))


def dib(grid):
    size = len(grid)
    xor = bytearray()
    mask = bytearray()
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(grid):
        bits = bytearray(mask_stride)
        for x, ch in enumerate(row):
            r, g, b, a = PALETTE[ch]
            xor += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + bytes(xor) + bytes(mask)


def ico(grids):
    blobs = [dib(g) for g in grids]
    out = struct.pack("<HHH", 0, 1, len(grids))
    offset = 6 + 16 * len(grids)
    for grid, blob in zip(grids, blobs):
        size = len(grid)
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32,
                           len(blob), offset)
        offset += len(blob)
    return out + b"".join(blobs)


def png(width, height, rgba_rows):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data)))

    raw = b"".join(b"\x00" + bytes(row) for row in rgba_rows)
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def grid_png(grid):
    rows = [b"".join(bytes(PALETTE[ch]) for ch in row) for row in grid]
    return png(len(grid), len(grid), rows)


def preview_png(grids, scale=8, pad=16):
    """Both sizes enlarged and at actual size, on a light and a dark taskbar."""
    big = sum(len(g) * scale for g in grids) + pad * (len(grids) + 1)
    small = sum(len(g) for g in grids) + pad * (len(grids) + 1)
    width = big + small
    band = max(len(g) for g in grids) * scale + 2 * pad
    canvas = []
    for background in (LIGHT_TASKBAR, DARK_TASKBAR):
        band_rows = [[background] * width for _ in range(band)]
        for zoom, x_start in ((scale, pad), (1, big + pad)):
            x0 = x_start
            for grid in grids:
                for y, row in enumerate(grid):
                    for x, ch in enumerate(row):
                        r, g, b, a = PALETTE[ch]
                        if a == 0:
                            continue
                        for dy in range(zoom):
                            for dx in range(zoom):
                                band_rows[pad + y * zoom + dy][x0 + x * zoom + dx] = (r, g, b)
                x0 += len(grid) * zoom + pad
        canvas += band_rows
    rows = [b"".join(bytes(p + (0xFF,)) for p in row) for row in canvas]
    return png(width, len(rows), rows)


def main():
    parser = argparse.ArgumentParser(description="Write Quorin.ico from its pixel grids.")
    parser.add_argument("--png", metavar="DIR",
                        help="also write 16x16, 32x32 and an 8x preview PNG into DIR")
    args = parser.parse_args()

    for grid in IMAGES:
        check_grid(grid)

    here = pathlib.Path(__file__).resolve().parent
    (here / "Quorin.ico").write_bytes(ico(IMAGES))

    if args.png:
        out = pathlib.Path(args.png)
        out.mkdir(parents=True, exist_ok=True)
        for grid in IMAGES:
            (out / ("quorin-%d.png" % len(grid))).write_bytes(grid_png(grid))
        (out / "quorin-preview.png").write_bytes(preview_png(IMAGES))


if __name__ == "__main__":
    main()
