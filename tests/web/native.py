"""Reference frames of the native headless player, and the story files the web
cases need, made at test time."""

import glob
import hashlib
import math
import os
import random
import re
import shutil
import struct
import subprocess
import tempfile


def rgba_digest(width, height, rgb):
    """SHA-256 of the RGBA bytes a canvas of these RGB pixels holds (alpha 255)."""
    rgba = bytearray(b"\xff" * (width * height * 4))
    rgba[0::4] = rgb[0::3]
    rgba[1::4] = rgb[1::3]
    rgba[2::4] = rgb[2::3]
    return hashlib.sha256(bytes(rgba)).hexdigest()


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    found = re.match(rb"P6\s+(\d+)\s+(\d+)\s+255\s", data)
    width, height = int(found.group(1)), int(found.group(2))
    return width, height, data[found.end():]


class Wait:
    """The frames of one key wait, in the order the native player showed them."""

    def __init__(self):
        self.sequence = []  # digests, consecutive repeats dropped
        self.pixels = {}  # digest -> (width, height, rgb), for reports

    def add(self, width, height, rgb):
        digest = rgba_digest(width, height, rgb)
        if not self.sequence or self.sequence[-1] != digest:
            self.sequence.append(digest)
        self.pixels.setdefault(digest, (width, height, rgb))

    def follows(self, before, after, steps=1):
        """True when `after` may show `steps` frames or fewer after `before` in this wait."""
        if before == after:
            return True
        pairs = set(zip(self.sequence, self.sequence[1:]))
        reached = {before}
        for _ in range(steps):
            reached |= {b for a, b in pairs if a in reached}
        return after in reached


def key_waits(headless, story, size, count, start_tick, first=2000, spacing=4500, look=1300):
    """Plays `story` natively at `size` (w, h), Space at `first` and every `spacing` ms,
    `count` times; returns one Wait per key press, with the frames shown in the `look`
    ms before it. The spacing outlasts the demo's longest timed wait."""
    keys = [first + i * spacing for i in range(count)]
    dump = tempfile.mkdtemp(prefix="native-")
    env = dict(os.environ, BEXU_HEADLESS_START_TICK=str(start_tick),
               BEXU_HEADLESS_SIZE="%dx%d" % size, BEXU_HEADLESS_KEYS=",".join(map(str, keys)),
               BEXU_HEADLESS_LIMIT=str(keys[-1] + 2000), BEXU_HEADLESS_DUMP=dump)
    try:
        run = subprocess.run([headless], cwd=story, env=env, timeout=120,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # 0: the play ran out; 3: held at a later wait when the time limit came.
        if run.returncode not in (0, 3):
            raise RuntimeError("bexu-headless ended with %d in %s" % (run.returncode, story))
        frames = []
        for path in sorted(glob.glob(os.path.join(dump, "frame-*.ppm"))):
            tick = int(os.path.basename(path)[12:22])
            frames.append((tick, path))
        waits = []
        for key in keys:
            wait = Wait()
            showing = [f for f in frames if f[0] <= key - look]
            inside = [f for f in frames if key - look < f[0] < key]
            for _, path in showing[-1:] + inside:
                wait.add(*read_ppm(path))
            waits.append(wait)
        return waits
    finally:
        shutil.rmtree(dump, ignore_errors=True)


def demo_lines(script_path):
    """Per key wait of the demo: the lines of its page so far; None for a stammered line."""
    with open(script_path, "rb") as f:
        text = f.read().decode("latin-1")
    pages = []
    lines = []
    for number in range(1000):
        block = re.search(r"\{%d(.*?)\}" % number, text, re.S)
        if block is None:
            break
        for command in re.findall(r"\[([^\]]*)\]", block.group(1)):
            name, _, argument = command.partition("~")
            if name == "say":
                lines.append(argument)
                pages.append(list(lines))
            elif name.startswith("stutter"):
                lines.append(None)
                pages.append(list(lines))
            elif name == "turn" and argument == "page":
                lines = []
    return pages


def wave_claiming(data_length, samples=b"\x40" * 100):
    """An 8 kHz 8-bit mono wave whose data chunk claims `data_length` bytes."""
    fmt = struct.pack("<HHIIHH", 1, 1, 8000, 8000, 1, 8)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + \
        struct.pack("<I", data_length) + samples
    return b"RIFF" + struct.pack("<I", 0xFFFFFFFF) + body


def story(folder, script, demo, extra=None, keep=("font.bmp", "transparency.bmp")):
    """A story folder: the demo's font and tile, the script, and `extra` files."""
    os.makedirs(folder, exist_ok=True)
    for name in keep:
        shutil.copy(os.path.join(demo, name), os.path.join(folder, name))
    if script is not None:
        with open(os.path.join(folder, "script.bexu"), "wb") as f:
            f.write(script.encode("latin-1"))
    for name, data in (extra or {}).items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    return folder


def truecolour_scene(path, seed, width=1600, height=900):
    """A drawn 1600 x 900 scene in 24-bit colour, 4.3 MB as a BMP: a sky gradient, a
    glowing sun, hills, and a painted texture over its lower half, as an author's
    illustration might have. The same seed gives the same pixels."""
    from PIL import Image, ImageChops, ImageDraw, ImageFilter  # Debian's python3-pil
    rng = random.Random(seed)
    top = [rng.randrange(20, 120) for _ in range(3)]
    bottom = [rng.randrange(120, 255) for _ in range(3)]
    sky = Image.new("RGB", (1, height))
    for y in range(height):
        t = y / (height - 1)
        sky.putpixel((0, y), tuple(int(a + (b - a) * t) for a, b in zip(top, bottom)))
    image = sky.resize((width, height))
    glow = Image.new("L", (width, height), 0)
    draw = ImageDraw.Draw(glow)
    cx, cy = rng.randrange(300, 1300), rng.randrange(150, 400)
    for r in range(260, 0, -4):
        draw.ellipse((cx - r, cy - r, cx + r, cy + r), fill=int(255 * (1 - r / 260) ** 1.5))
    image = Image.composite(Image.new("RGB", (width, height), (255, 236, 190)), image, glow)
    draw = ImageDraw.Draw(image)
    for layer in range(3):
        base = 480 + layer * 130
        colour = tuple(rng.randrange(20, 140) for _ in range(3))
        phase, freq, amp = rng.random() * 6.28, 0.002 + rng.random() * 0.006, 40 + layer * 20
        points = [(x, base + amp * math.sin(phase + x * freq) + 15 * math.sin(x * freq * 5.3))
                  for x in range(0, width + 8, 8)]
        draw.polygon(points + [(width, height), (0, height)], fill=colour)
    textured = height // 2
    noise = bytes(rng.randrange(0, 40) for _ in range(width * textured))
    texture = Image.frombytes("L", (width, textured), noise).filter(ImageFilter.GaussianBlur(0.7))
    lower = image.crop((0, height - textured, width, height))
    image.paste(ImageChops.add(lower, Image.merge("RGB", (texture,) * 3)),
                (0, height - textured))
    image.save(path, "BMP")


def blocks_scene(path, seed, colours=200, width=1600, height=900):
    """A 24-bit scene of `colours` colours in 16 x 16 blocks: a PNG of it takes a palette."""
    from PIL import Image  # Debian's python3-pil
    rng = random.Random(seed)
    palette = [tuple(rng.randrange(256) for _ in range(3)) for _ in range(colours)]
    small = Image.new("RGB", (width // 16, height // 16))
    small.putdata([palette[rng.randrange(colours)] for _ in range(small.width * small.height)])
    small.resize((width, height), Image.NEAREST).save(path, "BMP")


def scenes_story(folder, demo, count=3):
    """A story of `count` truecolour scenes, a line after each."""
    script = "{0" + "".join("[cg~scene%d.bmp][say~Scene %d.]" % (i, i)
                            for i in range(1, count + 1)) + "}"
    story(folder, script, demo)
    for i in range(1, count + 1):
        truecolour_scene(os.path.join(folder, "scene%d.bmp" % i), i)
    return folder
