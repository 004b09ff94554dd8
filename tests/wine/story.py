"""A small story made at test time: BMP and WAV files written from formulas, so
the expected pixels are known and no binary asset lives in the repository."""

import os
import struct

CANVAS = (1600, 900)
TITLE = "Bexu Wine Story"
TILE_COLORS = (0x3A5F7C, 0xC8A050)


def write_bmp(path, width, height, pixel, bits=24, top_down=False, palette=None):
    """pixel(x, y) gives 0xRRGGBB, or a palette index when bits is 8."""
    row_size = (width * bits // 8 + 3) & ~3
    rows = []
    for y in range(height):
        if bits == 8:
            row = bytearray(pixel(x, y) for x in range(width))
        else:
            row = bytearray()
            for x in range(width):
                c = pixel(x, y)
                row += bytes((c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF))
        row += bytes(row_size - len(row))
        rows.append(bytes(row))
    if not top_down:
        rows.reverse()
    colors = b""
    if bits == 8:
        colors = b"".join(struct.pack("<I", c) for c in palette)
    offset = 14 + 40 + len(colors)
    data = b"".join(rows)
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    info_header = struct.pack("<IiiHHIIiiII", 40, width, -height if top_down else height, 1,
                              bits, 0, len(data), 2835, 2835,
                              len(palette) if palette else 0, 0)
    with open(path, "wb") as f:
        f.write(file_header + info_header + colors + data)


def huge_rle_bmp(width, height):
    """A few bytes of run-length coded BMP that ask for a width x height bitmap."""
    palette = bytes(4 * 256)
    data = b"\x00\x01"  # end of bitmap
    offset = 14 + 40 + len(palette)
    return (struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset) +
            struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 1, len(data), 2835, 2835,
                        256, 0) + palette + data)


def glyph_pixel(x, y):
    """Font sheet: each 25 x 33 cell a hatch in its own colours on magenta."""
    cx, cy = x % 25, y % 33
    c = 32 + x // 25 + 16 * (y // 33)
    if cx < 2 or cx > 22 or cy < 3 or cy > 29 or ((cx * 7 + cy * 13 + c * 5) >> 2) % 3 == 0:
        return 0xFF00FF
    return ((c * 37) & 0xFF) << 16 | ((cx * 10) & 0xFF) << 8 | (cy * 7) & 0xFF


def scene_pixel(x, y):
    """A gradient in which every pixel of a row and of a column differs."""
    return (x * 255 // 1599) << 16 | (y * 255 // 899) << 8 | ((x + y) & 0xFF)


def tile_pixel(x, y):
    """The bar pattern; only its top-left 32 x 32 pixels may ever show."""
    if x >= 32 or y >= 32:
        return 0xFF0000
    return TILE_COLORS[((x // 8) + (y // 8)) % 2]


def big_pixel(x, y):
    return ((y * 7) & 0xFF) << 16 | ((x * 3) & 0xFF) << 8 | 0x40


SMALL_PALETTE = [((i * 5) & 0xFF) << 16 | ((255 - i) << 8) | ((i * 11) & 0xFF)
                 for i in range(256)]


def write_wave(path):
    """A tenth of a second of an 8-bit mono square wave."""
    rate = 8000
    samples = bytes(200 if (i // 10) % 2 else 56 for i in range(rate // 10))
    fmt = struct.pack("<HHIIHH", 1, 1, rate, rate, 1, 8)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + \
        struct.pack("<I", len(samples)) + samples
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", len(body)) + body)


WRAPPED = "This line is long enough that it has to wrap onto a second row of the canvas"

# The states a reader sees, in order: each ends with a key wait, and Space
# moves on to the next. The last Space ends the play.
SCRIPT = (
    "A note before the first block is skipped.\r\n"
    "{0\r\n"
    "  [cg~scene.bmp]\r\n"
    "  [say~Hello from the story!]\r\n"
    "  [say~" + WRAPPED + "]\r\n"
    "  [play~beep.wav][play~missing.wav]\r\n"
    "  [say~Next the page turns]\r\n"
    "  [turn~page]\r\n"
    "}\r\n"
    "{1\r\n"
    "  [cg~small.bmp][wait~300]\r\n"
    "  [say~A small scene, black around it]\r\n"
    "  [turn~page][cg~big.bmp]\r\n"
    "  [say~A big scene, cut at the canvas]\r\n"
    "}\r\n")
STATES = ["hello", "wrapped", "page-turn", "small-scene", "big-scene"]


def make(directory, script=SCRIPT, title=TITLE, omit=(), extra=None):
    """Writes the story's files into `directory`, leaving out the names in `omit`;
    `extra` maps more file names to their bytes. A title of None writes no init.bexc."""
    os.makedirs(directory, exist_ok=True)
    files = {
        "font.bmp": lambda p: write_bmp(p, 400, 198, glyph_pixel),
        "transparency.bmp": lambda p: write_bmp(p, 40, 36, tile_pixel),
        "scene.bmp": lambda p: write_bmp(p, 1600, 900, scene_pixel),
        "small.bmp": lambda p: write_bmp(p, 700, 400, lambda x, y: (x + 2 * y) & 0xFF, bits=8,
                                         palette=SMALL_PALETTE),
        "big.bmp": lambda p: write_bmp(p, 1700, 1000, big_pixel),
        "beep.wav": write_wave,
    }
    for name, writer in files.items():
        if name not in omit:
            writer(os.path.join(directory, name))
    if "script.bexu" not in omit:
        with open(os.path.join(directory, "script.bexu"), "wb") as f:
            f.write(script.encode("latin-1"))
    for name, data in (extra or {}).items():
        with open(os.path.join(directory, name), "wb") as f:
            f.write(data)
    if title is not None:
        with open(os.path.join(directory, "init.bexc"), "wb") as f:
            f.write(title.encode("latin-1"))
