"""A small story made at test time: BMP and WAV files written from formulas, so
the expected pixels are known and no binary asset lives in the repository."""

import os
import shutil
import struct
import time

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


# ---- partial redraws against full ones ---------------------------------------------
#
# A line added or a marker change redraws only some canvas rows, and a scaled window
# stretches only the window pixels that read them. At every key wait of SEAM_SCRIPT the
# window must equal what a full repaint of the same state shows (after a resize away and
# back), everywhere outside the marker's cell: the marker may have blinked in between.

# Client sizes, none a multiple of the canvas: scaled down with bars above and below and
# with bars beside, scaled up with bars beside and with one-pixel bars above and below.
SEAM_SIZES = ((1237, 811), (1100, 520), (1915, 1060), (1900, 1070))
SEAM_SCENES = ("detail.bmp", "other.bmp")
SEAM_STUTTER = ("St/ammers h/ere at r/andom", 3)  # source, intensity
# Per key wait: the lines of the page. A stammered line is (source, intensity); it is
# kept short enough never to wrap, so only the marker's column depends on the stammer.
SEAM_FIRST = "A first line over a detailed scene"
SEAM_STATES = [
    [SEAM_FIRST],
    [SEAM_FIRST, WRAPPED],
    [SEAM_FIRST, WRAPPED, SEAM_STUTTER],
    [SEAM_FIRST, WRAPPED, SEAM_STUTTER, "A new scene came in the middle of the page"],
    [SEAM_FIRST, WRAPPED, SEAM_STUTTER, "A new scene came in the middle of the page",
     "Next the page turns"],
    ["A new page begins"],
]
SEAM_SCRIPT = (
    "{0[cg~detail.bmp][say~" + SEAM_FIRST + "]"
    "[say~" + WRAPPED + "]"
    "[stutter3~" + SEAM_STUTTER[0] + "]"
    "[cg~other.bmp][say~A new scene came in the middle of the page]"
    "[say~Next the page turns][turn~page]"
    "[say~A new page begins]}")


def write_detailed_scene(path, variant):
    """A 1600 x 900 scene with detail in every pixel: neighbours differ by up to the
    whole range, so a pixel stretched from a wrong place stands out. Rows are made by
    byte translation tables, so that the scene takes no time to write."""
    width, height = CANVAS
    blue = bytes((x * 37) & 0xFF for x in range(width))
    green = bytes((x * x >> 3) & 0xFF for x in range(width))
    stripes = [bytes(255 if (x // (3 + variant) + parity) % 2 else 0 for x in range(width))
               for parity in (0, 1)]
    rows = []
    for y in range(height):
        row = bytearray(width * 3)  # blue, green, red
        row[0::3] = blue.translate(bytes(i ^ (y * (11 + variant) & 0xFF) for i in range(256)))
        row[1::3] = green.translate(bytes((i + y * (5 + variant)) & 0xFF for i in range(256)))
        row[2::3] = stripes[y // 2 % 2]
        rows.append(bytes(row))
    rows.reverse()  # bottom-up
    data = b"".join(rows)
    offset = 14 + 40
    with open(path, "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset) +
                struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 2835, 2835,
                            0, 0) + data)


def make_seam_story(folder):
    """The story of the partial-redraw case: this module's font and tile, two detailed
    scenes, SEAM_SCRIPT. Returns `folder`."""
    make(folder, script=SEAM_SCRIPT, omit=("scene.bmp", "small.bmp", "big.bmp"))
    for variant, name in enumerate(SEAM_SCENES):
        write_detailed_scene(os.path.join(folder, name), variant)
    return folder


def make_seam_stories(directory):
    """The story of make_seam_story once per SEAM_SIZES, each titled after its size
    (seam_title), so that their windows can be told apart."""
    master = make_seam_story(os.path.join(directory, "seams"))
    folders = []
    for width, height in SEAM_SIZES:
        folder = "%s-%dx%d" % (master, width, height)
        shutil.copytree(master, folder)
        with open(os.path.join(folder, "init.bexc"), "wb") as f:
            f.write(seam_title(width, height).encode("latin-1"))
        folders.append(folder)
    return folders


def seam_title(width, height):
    return "%s %dx%d" % (TITLE, width, height)


def fit(width, height):
    """(left, top, width, height) of the canvas in a client area, as the player fits it."""
    scale = min(width / CANVAS[0], height / CANVAS[1])
    drawn_width, drawn_height = int(scale * CANVAS[0]), int(scale * CANVAS[1])
    return (width - drawn_width) // 2, (height - drawn_height) // 2, drawn_width, drawn_height


def marker_cells(lines):
    """The canvas cells (x, y) where the marker may stand after `lines`: after the last
    glyph, at the start of the next row when that is past the right edge. A stammered
    line may come out of any length its stammers allow."""
    source, intensity = SEAM_STUTTER
    shortest = len(source.replace("/", ""))
    syllables = source.count("/") + source.count(" ") + 1
    cells = set()
    for stammered in range(shortest, shortest + 2 * (intensity - 1) * syllables + 1):
        x = y = 0
        cursor = (0, 0)
        for line in lines:
            for _ in range(len(line) if isinstance(line, str) else stammered):
                if x > CANVAS[0] - 25:
                    x, y = 0, y + 33
                x += 25
                cursor = (x, y)
            x, y = 0, y + 33
        x, y = cursor
        cells.add((0, y + 33) if x > CANVAS[0] - 25 else (x, y))
    return cells


def cell_footprints(cells, width, height, margin=1):
    """Window rectangles (x0, y0, x1, y1) of the pixels whose stretch may read the cells."""
    left, top, drawn_width, drawn_height = fit(width, height)
    sx, sy = drawn_width / CANVAS[0], drawn_height / CANVAS[1]
    return [(left + int(x * sx) - margin, top + int(y * sy) - margin,
             left + int((x + 25) * sx) + 1 + margin, top + int((y + 33) * sy) + 1 + margin)
            for x, y in cells]


def seams(width, height, partial, full, lines):
    """None when the window after partial redraws (`partial`, RGB bytes) equals the one a
    full repaint shows (`full`) outside the marker's cell; else what differs."""
    if len(partial) != len(full) or len(full) != width * height * 3:
        return "the screenshots are %d and %d bytes, not %d" % (len(partial), len(full),
                                                                width * height * 3)
    allowed = cell_footprints(marker_cells(lines), width, height)
    row_size = width * 3
    count = 0
    worst = 0
    rows = []
    for y in range(height):
        a = partial[y * row_size:(y + 1) * row_size]
        b = full[y * row_size:(y + 1) * row_size]
        if a == b:
            continue
        spans = [(x0, x1) for x0, y0, x1, y1 in allowed if y0 <= y < y1]
        outside = [i for i in range(0, row_size, 3) if a[i:i + 3] != b[i:i + 3] and
                   not any(x0 <= i // 3 < x1 for x0, x1 in spans)]
        if outside:
            count += len(outside)
            worst = max(worst, max(abs(a[i] - b[i]) for j in outside for i in (j, j + 1, j + 2)))
            rows.append(y)
    if not rows:
        return None
    runs = []
    for y in rows:
        if runs and runs[-1][1] == y - 1:
            runs[-1][1] = y
        else:
            runs.append([y, y])
    shown = ", ".join("%d" % a if a == b else "%d-%d" % (a, b) for a, b in runs[:8])
    return ("%d pixels in %d rows (%s%s) differ from a full repaint, by up to %d levels"
            % (count, len(rows), shown, ", ..." if len(runs) > 8 else "", worst))


class Picture:
    """A window's RGB pixels while the page shows `lines`: equal to another picture whose
    pixels agree with them outside the marker's cell."""

    def __init__(self, width, height, rgb, lines):
        self.rgb = rgb
        outside = bytearray(rgb)
        for x0, y0, x1, y1 in cell_footprints(marker_cells(lines), width, height):
            x0, x1 = max(x0, 0), min(x1, width)
            for y in range(max(y0, 0), min(y1, height)):
                outside[(y * width + x0) * 3:(y * width + x1) * 3] = bytes(3 * (x1 - x0))
        self.outside = (width, height, bytes(outside))

    def __eq__(self, other):
        return self.outside == other.outside


def play_seam_states(sizes, advance, shots, repaint, save, pixels=lambda picture: picture.rgb,
                     slow_pixels=False):
    """Plays SEAM_STATES in windows of `sizes` at once: advance(lines) moves each on from its
    key wait to the one that shows `lines`; shots(lines) gives each one's picture while the
    page shows `lines`: a Picture, or what compares equal as one and pixels(picture) turns
    into RGB bytes (given `slow_pixels`, only a window's first difference is read);
    repaint() forces a full repaint of each; save(name, width, height, rgb) keeps a
    screenshot. Returns a text per window and key wait whose partial redraws differ from
    the full repaint."""
    failures = []
    failed = set()
    for index, lines in enumerate(SEAM_STATES):
        if index > 0:
            advance(lines)
        partial = shots(lines)
        repaint()
        full = shots(lines)
        for (width, height), before, after in zip(sizes, partial, full):
            if before == after:
                continue
            where = "%dx%d, key wait %d" % (width, height, index + 1)
            if slow_pixels and (width, height) in failed:
                failures.append(where + ": differs too")
                continue
            before, after = pixels(before), pixels(after)
            found = seams(width, height, before, after, lines)
            if found is not None:
                name = "seams-%dx%d-wait-%d" % (width, height, index + 1)
                save(name + "-partial", width, height, before)
                save(name + "-full", width, height, after)
                failures.append("%s: %s" % (where, found))
                failed.add((width, height))
    return failures


# Where the windows of SEAM_SIZES stand side by side on a display of SEAM_DISPLAY.
SEAM_PLACES = ((1920, 0), (1920, 830), (0, 0), (0, 1080))
SEAM_DISPLAY = (3200, 2200)


def seams_on_desktop(session, start, directory, settle, save):
    """The partial-redraw case on an X display of SEAM_DISPLAY (a tests/desktop/harness.py
    session): start(folder) runs a player on each story of make_seam_stories(directory),
    all at once, each window placed and sized as SEAM_PLACES and SEAM_SIZES say. The last
    Space ends each play with 0. Returns the texts of what differed."""
    display = session.display
    players = []
    try:
        windows = []
        for folder in make_seam_stories(directory):
            players.append(start(folder))
        for player, (width, height), (x, y) in zip(players, SEAM_SIZES, SEAM_PLACES):
            window = session.wait_main(player, seam_title(width, height), 60)
            display.move(window, x, y)
            display.resize(window, width, height)
            windows.append(window)
        time.sleep(settle)

        def each(action):
            for window, (width, height) in zip(windows, SEAM_SIZES):
                action(window, width, height)

        def advance(lines=None):
            each(lambda window, width, height: display.click_key(window, "space"))
            time.sleep(settle)

        def shots(lines):
            pictures = []
            for window, (width, height) in zip(windows, SEAM_SIZES):
                image = display.grab(window)
                if (image.width, image.height) != (width, height):
                    raise RuntimeError("a window of %dx%d, sized %dx%d"
                                       % (image.width, image.height, width, height))
                pictures.append(Picture(width, height, image.pixels, lines))
            return pictures

        def repaint():
            each(lambda window, width, height: display.resize(window, width - 37, height - 23))
            time.sleep(settle / 2)
            each(display.resize)
            time.sleep(settle)

        failures = play_seam_states(SEAM_SIZES, advance, shots, repaint, save)
        advance()
        for player, size in zip(players, SEAM_SIZES):
            if player.wait_exit() != 0:
                failures.append("%dx%d: the play did not end with 0 after the last Space" % size)
        return failures
    finally:
        for player in players:
            player.stop()
