"""What the player must show, worked out from a story's own files: BMP decoding
(24-bit, 8-bit and RLE8, the forms the demo uses), the canvas with its scene,
dialogue glyphs and waiting marker, the fit of the canvas into a client area,
and reading the text back out of a screenshot cell by cell."""

import struct

CANVAS_W, CANVAS_H = 1600, 900
CELL_W, CELL_H = 25, 33
MAGENTA = (255, 0, 255)
PAGE_TURN = (123, 124, 125, 124)
LINE_END = (126, 127)


class Picture:
    """RGB pixels, 3 bytes each, rows top first."""

    def __init__(self, width, height, pixels=None):
        self.width = width
        self.height = height
        self.pixels = bytearray(pixels) if pixels is not None else bytearray(width * height * 3)

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.pixels[i:i + 3])

    def row(self, y, x0=0, x1=None):
        x1 = self.width if x1 is None else x1
        start = (y * self.width) * 3
        return bytes(self.pixels[start + x0 * 3:start + x1 * 3])


def decode_bmp(data):
    """A BMP with a 40-byte or larger info header: 24-bit, 8-bit or RLE8, bottom-up or top-down."""
    if data[:2] != b"BM":
        raise ValueError("not a BMP file")
    offset = struct.unpack_from("<I", data, 10)[0]
    header_size, width, height, _, bits, compression = struct.unpack_from("<IiiHHI", data, 14)
    colours_used = struct.unpack_from("<I", data, 46)[0]
    top_down = height < 0
    height = abs(height)
    palette = []
    if bits == 8:
        count = colours_used or 256
        base = 14 + header_size
        palette = [bytes((data[base + 4 * i + 2], data[base + 4 * i + 1], data[base + 4 * i]))
                   for i in range(count)]
    rows = [None] * height
    if bits == 24 and compression == 0:
        stride = (width * 3 + 3) & ~3
        for stored in range(height):
            raw = bytearray(data[offset + stored * stride:offset + stored * stride + width * 3])
            raw[0::3], raw[2::3] = raw[2::3], raw[0::3]
            rows[stored] = bytes(raw)
    elif bits == 8 and compression == 0:
        stride = (width + 3) & ~3
        for stored in range(height):
            start = offset + stored * stride
            rows[stored] = b"".join(palette[i] for i in data[start:start + width])
    elif bits == 8 and compression == 1:
        indices = [bytearray(width) for _ in range(height)]
        x = y = 0
        i = offset
        while i + 1 < len(data) and y < height:
            count, value = data[i], data[i + 1]
            i += 2
            if count > 0:
                for _ in range(count):
                    if x < width:
                        indices[y][x] = value
                    x += 1
            elif value == 0:
                x, y = 0, y + 1
            elif value == 1:
                break
            elif value == 2:
                x, y = x + data[i], y + data[i + 1]
                i += 2
            else:
                for k in range(value):
                    if x < width:
                        indices[y][x] = data[i + k]
                    x += 1
                i += value + (value & 1)
        for stored in range(height):
            rows[stored] = b"".join(palette[v] for v in indices[stored])
    else:
        raise ValueError("BMP form %d bits, compression %d not handled here" % (bits, compression))
    if not top_down:
        rows.reverse()
    return Picture(width, height, b"".join(rows))


def load_bmp(path):
    with open(path, "rb") as f:
        return decode_bmp(f.read())


class Font:
    """The font sheet's cells as lists of opaque runs (x, y, colours of the run)."""

    def __init__(self, sheet):
        self.cells = {}
        self.masks = {}
        for byte in range(32, 128):
            left = (byte - 32) % 16 * CELL_W
            top = (byte - 32) // 16 * CELL_H
            runs = []
            for y in range(CELL_H):
                x = 0
                while x < CELL_W:
                    if sheet.pixel(left + x, top + y) == MAGENTA:
                        x += 1
                        continue
                    start = x
                    while x < CELL_W and sheet.pixel(left + x, top + y) != MAGENTA:
                        x += 1
                    runs.append((start, y, sheet.row(top + y, left + start, left + x)))
            self.cells[byte] = runs

    def draw(self, picture, x, y, byte):
        """Keyed copy of one cell, clipped to the picture."""
        for dx, dy, colours in self.cells[byte]:
            py = y + dy
            if not 0 <= py < picture.height:
                continue
            px0 = x + dx
            px1 = px0 + len(colours) // 3
            c0, c1 = max(px0, 0), min(px1, picture.width)
            if c0 >= c1:
                continue
            start = (py * picture.width + c0) * 3
            picture.pixels[start:start + (c1 - c0) * 3] = colours[(c0 - px0) * 3:(c1 - px0) * 3]


def draw_text(picture, font, text):
    """The dialogue from (0, 0): rows of 33, wrap after x 1575, stop below y 867.
    Returns the cursor after the last glyph drawn and the pen's row at the end;
    with no picture nothing is drawn."""
    x = y = 0
    cursor = (0, 0)
    for byte in text.encode("latin-1"):
        if byte == 10:
            x, y = 0, y + CELL_H
        elif 32 <= byte <= 122:
            if x > 1575:
                x, y = 0, y + CELL_H
                if y > 867:
                    break
            if picture is not None:
                font.draw(picture, x, y, byte)
            x += CELL_W
            cursor = (x, y)
    return cursor, y


def next_row(lines):
    """The row where a line after these lines starts."""
    return draw_text(None, None, "".join(line + "\n" for line in lines))[1]


def indicator_position(cursor):
    x, y = cursor
    if x > 1575:
        x, y = 0, y + CELL_H
    return (x, y) if y <= 867 else None


def canvas(scene, font, lines, marker=None):
    """The 1600 x 900 canvas: scene from the top-left (black beyond it), the dialogue
    lines, and the marker glyph `marker` after the last glyph when given."""
    picture = Picture(CANVAS_W, CANVAS_H)
    width = min(scene.width, CANVAS_W)
    for y in range(min(scene.height, CANVAS_H)):
        start = y * CANVAS_W * 3
        picture.pixels[start:start + width * 3] = scene.row(y, 0, width)
    cursor, _ = draw_text(picture, font, "".join(line + "\n" for line in lines))
    if marker is not None:
        position = indicator_position(cursor)
        if position is not None:
            font.draw(picture, position[0], position[1], marker)
    return picture, cursor


def fit(width, height):
    """(x, y, w, h) of the canvas in a client area, the smaller scale, truncated."""
    sx, sy = width / CANVAS_W, height / CANVAS_H
    s = sx if sy > sx else sy
    dw, dh = int(s * CANVAS_W), int(s * CANVAS_H)
    return (width - dw) // 2, (height - dh) // 2, dw, dh


def tile_row(tile, y, width):
    """One row of the bar pattern across a client area: the tile's top-left 32 x 32."""
    pattern = tile.row(y % 32, 0, 32)
    return (pattern * (width // 32 + 1))[:width * 3]


def read_row(shot, font, background, y, columns=64):
    """The bytes drawn in text row y of a 1:1 screenshot: each cell must equal the
    background with exactly one glyph (or the space) drawn over it. None where a
    cell matches no glyph."""
    text = []
    for column in range(columns):
        x = column * CELL_W
        if x + CELL_W > shot.width:
            break
        want_cell = [shot.row(y + dy, x, x + CELL_W) for dy in range(CELL_H)]
        found = None
        for byte in range(32, 128):
            probe = Picture(CELL_W, CELL_H)
            for dy in range(CELL_H):
                probe.pixels[dy * CELL_W * 3:(dy + 1) * CELL_W * 3] = background.row(
                    y + dy, x, x + CELL_W)
            font.draw(probe, 0, 0, byte)
            if all(probe.row(dy) == want_cell[dy] for dy in range(CELL_H)):
                found = byte
                if byte != 32:
                    break
        text.append(found)
    return text
