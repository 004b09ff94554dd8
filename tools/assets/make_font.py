#!/usr/bin/python3
"""Makes a font sheet for the player from a TrueType font: 25 x 33 cells, 16 to a
row from byte 32, glyphs in a light fill with a dark outline on magenta (the
transparent colour), and the frames of the waiting marker in the cells of bytes
123 to 127: a page that turns ({ | } |) and an arrow that bobs (~ and 127).

Usage: make_font.py OUT.bmp [FONT.ttf]   (Debian: fonts-dejavu-core, python3-pil)
"""

import sys

from PIL import Image, ImageDraw, ImageFilter, ImageFont

from bmpwrite import write_bmp24

CELL_W, CELL_H = 25, 33
SCALE = 4  # glyphs are drawn 4x larger and averaged down, for smooth edges
MAGENTA = (255, 0, 255)
FILL = (250, 246, 232)
MARKER = (255, 200, 64)
OUTLINE = (24, 18, 34)
DEFAULT_FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf"
FONT_PX = 27
STRETCH = 1.25  # a monospaced glyph is narrower than the 25 x 33 cell: widen it a little
BASELINE = 25


def glyph_coverage(font, char):
    """Coverage 0..255 of one character in a cell, as an L image of the cell's size."""
    big = Image.new("L", (CELL_W * SCALE, CELL_H * SCALE), 0)
    advance = font.getlength(char)
    narrow = Image.new("L", (int(advance) + 8 * SCALE, CELL_H * SCALE), 0)
    ImageDraw.Draw(narrow).text((4 * SCALE, BASELINE * SCALE), char, font=font, fill=255,
                                anchor="ls")
    wide = narrow.resize((int(narrow.width * STRETCH), narrow.height), Image.LANCZOS)
    big.paste(wide, ((big.width - wide.width) // 2, 0))
    return big.resize((CELL_W, CELL_H), Image.BOX)


def marker_coverage(byte):
    """The waiting marker's frames, drawn as shapes."""
    big = Image.new("L", (CELL_W * SCALE, CELL_H * SCALE), 0)
    draw = ImageDraw.Draw(big)
    s = SCALE
    if byte in (123, 125):
        # A page lying flat, its folded corner on the right ({) or on the left (}).
        left, top, right, bottom = 5 * s, 8 * s, 20 * s, 28 * s
        fold = 5 * s
        if byte == 123:
            shape = [(left, top), (right - fold, top), (right, top + fold), (right, bottom),
                     (left, bottom)]
            corner = [(right - fold, top), (right - fold, top + fold), (right, top + fold)]
        else:
            shape = [(left + fold, top), (right, top), (right, bottom), (left, bottom),
                     (left, top + fold)]
            corner = [(left + fold, top), (left + fold, top + fold), (left, top + fold)]
        draw.polygon(shape, fill=255)
        draw.polygon(corner, fill=0)
        for row in range(3):
            y = top + (7 + 5 * row) * s
            draw.rectangle([left + 3 * s, y, right - 3 * s, y + s - 1], fill=0)
    elif byte == 124:
        # The page half way over: seen on its edge, leaning.
        draw.polygon([(11 * s, 7 * s), (15 * s, 9 * s), (15 * s, 29 * s), (11 * s, 27 * s)],
                     fill=255)
    else:
        # An arrow pointing down; the frame of byte 127 holds it a little lower.
        drop = 0 if byte == 126 else 5 * s
        draw.polygon([(5 * s, (12 * s) + drop), (20 * s, (12 * s) + drop),
                      (12.5 * s, (22 * s) + drop)], fill=255)
    return big.resize((CELL_W, CELL_H), Image.BOX)


def paint_cell(sheet, column, row, coverage, colour):
    """Outlined glyph: fill blended into the outline by coverage, magenta outside."""
    ink = coverage.point(lambda v: 255 if v >= 40 else 0)
    ring = ink.filter(ImageFilter.MaxFilter(5))
    cov = coverage.load()
    inside = ring.load()
    pixels = sheet.load()
    for y in range(CELL_H):
        for x in range(CELL_W):
            if not inside[x, y]:
                continue
            a = cov[x, y] / 255.0
            pixels[column * CELL_W + x, row * CELL_H + y] = tuple(
                int(round(o + (f - o) * a)) for f, o in zip(colour, OUTLINE))


def make_sheet(font_path):
    font = ImageFont.truetype(font_path, FONT_PX * SCALE)
    sheet = Image.new("RGB", (16 * CELL_W, 6 * CELL_H), MAGENTA)
    for byte in range(33, 128):
        column, row = (byte - 32) % 16, (byte - 32) // 16
        if byte >= 123:
            paint_cell(sheet, column, row, marker_coverage(byte), MARKER)
        else:
            paint_cell(sheet, column, row, glyph_coverage(font, chr(byte)), FILL)
    return sheet


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    sheet = make_sheet(sys.argv[2] if len(sys.argv) == 3 else DEFAULT_FONT)
    write_bmp24(sys.argv[1], sheet)


if __name__ == "__main__":
    main()
