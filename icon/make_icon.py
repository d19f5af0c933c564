#!/usr/bin/env python3
"""Writes Quorin.ico (16, 20, 24, 32, 40 and 48 pixels, 32-bit BGRA with AND
mask) from the pixel grids below.  Standard library only, so it runs on any
build machine.

    python3 icon/make_icon.py             # rewrites icon/Quorin.ico
    python3 icon/make_icon.py --png DIR   # also writes PNGs and a preview sheet into DIR
    python3 icon/make_icon.py --check     # fails unless Quorin.ico is what the grids draw
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

# 125 %: the 16x16's layout one pixel roomier, a two-pixel shaft and a chin.
ICON_20 = [
    ".KKKKKKKKKKKKKKKKKK.",
    "KLLLLLLLLLLLLLLLLLLK",
    "KLbbbbbbbbbbbbbbbbLK",
    "KLBBBBBBBBBBBBBBBBLK",
    "KLBBBBBBBBWWWWWBBBLK",
    "KLBBBBBBBBBWWWWBBBLK",
    "KLBBBBBBBBBBWWWBBBLK",
    "KLBBBBBBBBBWWWWBBBLK",
    "KLBBBBBBBBWWBBWBBBLK",
    "KLBBBWBBBWWBBBBBBBLK",
    "KLBBBWWBWWBBBBBBBBLK",
    "KLBBBWWWWBBBBBBBBBLK",
    "KLBBBWWWWBBBBBBBBBLK",
    "KLBBBWWWWWBBBBBBBBLK",
    "KLBBBBBBBBBBBBBBBBLK",
    "KMMMMMMMMMMMMMMMMMMK",
    ".KKKKKKKKKKKKKKKKKK.",
    "........KGGK........",
    "....KGGGGGGGGGGK....",
    "....KKKKKKKKKKKK....",
]

# 150 %: the arrow's shaft three pixels wide.
ICON_24 = [
    ".KKKKKKKKKKKKKKKKKKKKKK.",
    "KLLLLLLLLLLLLLLLLLLLLLLK",
    "KLbbbbbbbbbbbbbbbbbbbbLK",
    "KLBBBBBBBBBBBBBBBBBBBBLK",
    "KLBBBBBBBBBBWWWWWWWBBBLK",
    "KLBBBBBBBBBBBWWWWWWBBBLK",
    "KLBBBBBBBBBBBBWWWWWBBBLK",
    "KLBBBBBBBBBBBBBWWWWBBBLK",
    "KLBBBBBBBBBBBBWWWWWBBBLK",
    "KLBBBBBBBBBBBWWWBWWBBBLK",
    "KLBBBBBBBBBBWWWBBBWBBBLK",
    "KLBBBWBBBBBWWWBBBBBBBBLK",
    "KLBBBWWBBBWWWBBBBBBBBBLK",
    "KLBBBWWWBWWWBBBBBBBBBBLK",
    "KLBBBWWWWWWBBBBBBBBBBBLK",
    "KLBBBWWWWWBBBBBBBBBBBBLK",
    "KLBBBWWWWWWBBBBBBBBBBBLK",
    "KLBBBWWWWWWWBBBBBBBBBBLK",
    "KLBBBBBBBBBBBBBBBBBBBBLK",
    "KMMMMMMMMMMMMMMMMMMMMMMK",
    ".KKKKKKKKKKKKKKKKKKKKKK.",
    ".........KGGGGK.........",
    ".....KGGGGGGGGGGGGK.....",
    ".....KKKKKKKKKKKKKK.....",
]

# 200 %: seen at the size of the 16x16 at 100 %, so the arrow is as bold as
# there (four-pixel shaft, nine-pixel heads); a thicker bezel, an inset screen
# edge and a drop shadow under the arrow.
ICON_32 = [
    ".KKKKKKKKKKKKKKKKKKKKKKKKKKKKKK.",
    "KKLLLLLLLLLLLLLLLLLLLLLLLLLLLLKK",
    "KLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLK",
    "KLLNNNNNNNNNNNNNNNNNNNNNNNNNNLLK",
    "KLLNbbbbbbbbbbbbbbbbbbbbbbbbNLLK",
    "KLLNbbbbbbbbbbbbbbbbbbbbbbbbNLLK",
    "KLLNBBBBBBBBBBBWWWWWWWWWBBBBNLLK",
    "KLLNBBBBBBBBBBBBWWWWWWWWnBBBNLLK",
    "KLLNBBBBBBBBBBBBBWWWWWWWnBBBNLLK",
    "KLLNBBBBBBBBBBBBBBWWWWWWnBBBNLLK",
    "KLLNBBBBBBBBBBBBBBBWWWWWnBBBNLLK",
    "KLLNBBBBBBBBBBBBBBWWWWWWnBBBNLLK",
    "KLLNBBBBBBBBBBBBBWWWWWWWnBBBNLLK",
    "KLLNBBBBWBBBBBBBWWWWnnWWnBBBNLLK",
    "KLLNBBBBWWBBBBBWWWWnnBBWnBBBNLLK",
    "KLLNBBBBWWWBBBWWWWnnBBBBnBBBNLLK",
    "KLLNBBBBWWWWBWWWWnnBBBBBBBBBNLLK",
    "KLLNBBBBWWWWWWWWnnBBBBBBBBBBNLLK",
    "KLLNBBBBWWWWWWWnnBBBBBBBBBBBNLLK",
    "KLLNBBBBWWWWWWWnBBBBBBBBBBBBNLLK",
    "KLLNBBBBWWWWWWWWBBBBBBBBBBBBNLLK",
    "KLLNBBBBWWWWWWWWWBBBBBBBBBBBNLLK",
    "KLLNBBBBBnnnnnnnnnBBBBBBBBBBNLLK",
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

# 250 %, and the large icon at 125 %.
ICON_40 = [
    "..KKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKK..",
    ".KLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLK.",
    "KLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLK",
    "KLLNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNLLK",
    "KLLNbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbNLLK",
    "KLLNbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbNLLK",
    "KLLNBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBNLLK",
    "KLLNBBBBBBBBBBBBBBBWWWWWWWWWWWWBBBBBNLLK",
    "KLLNBBBBBBBBBBBBBBBBWWWWWWWWWWWnBBBBNLLK",
    "KLLNBBBBBBBBBBBBBBBBBWWWWWWWWWWnBBBBNLLK",
    "KLLNBBBBBBBBBBBBBBBBBBWWWWWWWWWnBBBBNLLK",
    "KLLNBBBBBBBBBBBBBBBBBBBWWWWWWWWnBBBBNLLK",
    "KLLNBBBBBBBBBBBBBBBBBBBBWWWWWWWnBBBBNLLK",
    "KLLNBBBBBBBBBBBBBBBBBBBBWWWWWWWnBBBBNLLK",
    "KLLNBBBBBBBBBBBBBBBBBBBWWWWWWWWnBBBBNLLK",
    "KLLNBBBBBBBBBBBBBBBBBBWWWWWWWWWnBBBBNLLK",
    "KLLNBBBBBBBBBBBBBBBBBWWWWWnnWWWnBBBBNLLK",
    "KLLNBBBBBWBBBBBBBBBBWWWWWnnBBWWnBBBBNLLK",
    "KLLNBBBBBWWBBBBBBBBWWWWWnnBBBBWnBBBBNLLK",
    "KLLNBBBBBWWWBBBBBBWWWWWnnBBBBBBnBBBBNLLK",
    "KLLNBBBBBWWWWBBBBWWWWWnnBBBBBBBBBBBBNLLK",
    "KLLNBBBBBWWWWWBBWWWWWnnBBBBBBBBBBBBBNLLK",
    "KLLNBBBBBWWWWWWWWWWWnnBBBBBBBBBBBBBBNLLK",
    "KLLNBBBBBWWWWWWWWWWnnBBBBBBBBBBBBBBBNLLK",
    "KLLNBBBBBWWWWWWWWWnnBBBBBBBBBBBBBBBBNLLK",
    "KLLNBBBBBWWWWWWWWWnBBBBBBBBBBBBBBBBBNLLK",
    "KLLNBBBBBWWWWWWWWWWBBBBBBBBBBBBBBBBBNLLK",
    "KLLNBBBBBWWWWWWWWWWWBBBBBBBBBBBBBBBBNLLK",
    "KLLNBBBBBWWWWWWWWWWWWBBBBBBBBBBBBBBBNLLK",
    "KLLNBBBBBBnnnnnnnnnnnnBBBBBBBBBBBBBBNLLK",
    "KLLNBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBNLLK",
    "KLLNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNLLK",
    "KMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMK",
    ".KMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMK.",
    "..KKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKK..",
    "...............KGGGGGGGGK...............",
    "...............KGGGGGGGGK...............",
    ".......KGGGGGGGGGGGGGGGGGGGGGGGGK.......",
    ".......KGGGGGGGGGGGGGGGGGGGGGGGGK.......",
    ".......KKKKKKKKKKKKKKKKKKKKKKKKKK.......",
]

# 300 %, and the large icon at 150 %.
ICON_48 = [
    "..KKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKK..",
    ".KLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLK.",
    "KLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLK",
    "KLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLK",
    "KLLLNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNLLLK",
    "KLLLNbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbNLLLK",
    "KLLLNbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbNLLLK",
    "KLLLNBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBNLLLK",
    "KLLLNBBBBBBBBBBBBBBBBBBWWWWWWWWWWWWWWBBBBBBNLLLK",
    "KLLLNBBBBBBBBBBBBBBBBBBBWWWWWWWWWWWWWnBBBBBNLLLK",
    "KLLLNBBBBBBBBBBBBBBBBBBBBWWWWWWWWWWWWnBBBBBNLLLK",
    "KLLLNBBBBBBBBBBBBBBBBBBBBBWWWWWWWWWWWnBBBBBNLLLK",
    "KLLLNBBBBBBBBBBBBBBBBBBBBBBWWWWWWWWWWnBBBBBNLLLK",
    "KLLLNBBBBBBBBBBBBBBBBBBBBBBBWWWWWWWWWnBBBBBNLLLK",
    "KLLLNBBBBBBBBBBBBBBBBBBBBBBBBWWWWWWWWnBBBBBNLLLK",
    "KLLLNBBBBBBBBBBBBBBBBBBBBBBBBWWWWWWWWnBBBBBNLLLK",
    "KLLLNBBBBBBBBBBBBBBBBBBBBBBBWWWWWWWWWnBBBBBNLLLK",
    "KLLLNBBBBBBBBBBBBBBBBBBBBBBWWWWWWWWWWnBBBBBNLLLK",
    "KLLLNBBBBBBBBBBBBBBBBBBBBBWWWWWWnWWWWnBBBBBNLLLK",
    "KLLLNBBBBBBBBBBBBBBBBBBBBWWWWWWnnBWWWnBBBBBNLLLK",
    "KLLLNBBBBBBWBBBBBBBBBBBBWWWWWWnnBBBWWnBBBBBNLLLK",
    "KLLLNBBBBBBWWBBBBBBBBBBWWWWWWnnBBBBBWnBBBBBNLLLK",
    "KLLLNBBBBBBWWWBBBBBBBBWWWWWWnnBBBBBBBnBBBBBNLLLK",
    "KLLLNBBBBBBWWWWBBBBBBWWWWWWnnBBBBBBBBBBBBBBNLLLK",
    "KLLLNBBBBBBWWWWWBBBBWWWWWWnnBBBBBBBBBBBBBBBNLLLK",
    "KLLLNBBBBBBWWWWWWBBWWWWWWnnBBBBBBBBBBBBBBBBNLLLK",
    "KLLLNBBBBBBWWWWWWWWWWWWWnnBBBBBBBBBBBBBBBBBNLLLK",
    "KLLLNBBBBBBWWWWWWWWWWWWnnBBBBBBBBBBBBBBBBBBNLLLK",
    "KLLLNBBBBBBWWWWWWWWWWWnnBBBBBBBBBBBBBBBBBBBNLLLK",
    "KLLLNBBBBBBWWWWWWWWWWnnBBBBBBBBBBBBBBBBBBBBNLLLK",
    "KLLLNBBBBBBWWWWWWWWWWWBBBBBBBBBBBBBBBBBBBBBNLLLK",
    "KLLLNBBBBBBWWWWWWWWWWWWBBBBBBBBBBBBBBBBBBBBNLLLK",
    "KLLLNBBBBBBWWWWWWWWWWWWWBBBBBBBBBBBBBBBBBBBNLLLK",
    "KLLLNBBBBBBWWWWWWWWWWWWWWBBBBBBBBBBBBBBBBBBNLLLK",
    "KLLLNBBBBBBBnnnnnnnnnnnnnnBBBBBBBBBBBBBBBBBNLLLK",
    "KLLLNBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBNLLLK",
    "KLLLNBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBNLLLK",
    "KLLLNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNLLLK",
    "KMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMK",
    "KMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMK",
    ".KMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMK.",
    "..KKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKKK..",
    "..................KGGGGGGGGGGK..................",
    "..................KGGGGGGGGGGK..................",
    "..................KGGGGGGGGGGK..................",
    ".........KGGGGGGGGGGGGGGGGGGGGGGGGGGGGK.........",
    ".........KGGGGGGGGGGGGGGGGGGGGGGGGGGGGK.........",
    ".........KKKKKKKKKKKKKKKKKKKKKKKKKKKKKK.........",
]

# Ascending: the order in the file.
IMAGES = [ICON_16, ICON_20, ICON_24, ICON_32, ICON_40, ICON_48]

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


# 32-bit BGRA with an AND mask, read by every Windows from XP on and by Wine.
# 16 colours with the mask would hold these pictures in a fifth of the bytes,
# but Wine's Shell_NotifyIcon hands the notification area only width x height
# bits of the mask, whose rows are padded to 16 bits: at 20, 24 or 40 pixels
# the bottom rows' mask comes out of the colour bits, garbling the stand.  The
# alpha channel is drawn instead of the mask and arrives whole.
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
    """Every size enlarged and at actual size, on a light and a dark taskbar."""
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
                        help="also write each size and a preview sheet (8x and actual size) as PNG into DIR")
    parser.add_argument("--check", action="store_true",
                        help="write nothing; fail unless Quorin.ico holds exactly these grids")
    args = parser.parse_args()

    for grid in IMAGES:
        check_grid(grid)
    sizes = [len(g) for g in IMAGES]
    if sizes != sorted(set(sizes)):
        sys.exit("the images must grow in size: %s" % sizes)

    here = pathlib.Path(__file__).resolve().parent
    if args.check:
        if (here / "Quorin.ico").read_bytes() != ico(IMAGES):
            sys.exit("icon/Quorin.ico is not what the grids draw: run python3 icon/make_icon.py")
        return
    (here / "Quorin.ico").write_bytes(ico(IMAGES))

    if args.png:
        out = pathlib.Path(args.png)
        out.mkdir(parents=True, exist_ok=True)
        for grid in IMAGES:
            (out / ("quorin-%d.png" % len(grid))).write_bytes(grid_png(grid))
        (out / "quorin-preview.png").write_bytes(preview_png(IMAGES))


if __name__ == "__main__":
    main()
