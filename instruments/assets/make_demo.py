#!/usr/bin/python3
"""Makes every asset of the demo story in examples/demo: the font sheet (by
bexu-font, built beside the player), the tile pattern, three 1600 x 900 scenes
(flat-shaded shapes, stored as RLE8 BMP) and the sounds (sox tones and espeak-ng
speech, small WAV files).

Usage: make_demo.py [OUT_DIR]   (Debian: python3-pil, fonts-dejavu-core, sox, espeak-ng)
The font tool is taken from $BEXU_FONT, else build/bexu-font of this checkout.
"""

import math
import os
import random
import subprocess
import sys
import tempfile

from PIL import Image, ImageDraw

from bmpwrite import write_bmp24, write_bmp_rle8

W, H = 1600, 900
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf"


def lerp(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


def bands(draw, top, bottom, colours, count):
    """Flat horizontal bands stepping through the colours, top to bottom."""
    for i in range(count):
        t = i / max(count - 1, 1)
        segment = min(int(t * (len(colours) - 1)), len(colours) - 2)
        local = t * (len(colours) - 1) - segment
        colour = lerp(colours[segment], colours[segment + 1], local)
        y0 = top + (bottom - top) * i // count
        y1 = top + (bottom - top) * (i + 1) // count
        draw.rectangle([0, y0, W, y1], fill=colour)


def rings(draw, cx, cy, radius, colours):
    """A glow: concentric discs from the outside in."""
    for i, colour in enumerate(colours):
        r = radius * (len(colours) - i) / len(colours)
        draw.ellipse([cx - r, cy - r, cx + r, cy + r], fill=colour)


def lighthouse(draw, x, base, top, width, body, stripe, lamp, roof):
    half_bottom, half_top = width / 2, width * 0.36
    draw.polygon([(x - half_bottom, base), (x + half_bottom, base), (x + half_top, top),
                  (x - half_top, top)], fill=body)
    for k in range(1, 4):
        y0 = base - (base - top) * (k * 2 - 1) / 7
        y1 = base - (base - top) * (k * 2) / 7
        w0 = half_bottom + (half_top - half_bottom) * (base - y0) / (base - top)
        w1 = half_bottom + (half_top - half_bottom) * (base - y1) / (base - top)
        draw.polygon([(x - w0, y0), (x + w0, y0), (x + w1, y1), (x - w1, y1)], fill=stripe)
    draw.rectangle([x - half_top - 6, top - 8, x + half_top + 6, top], fill=roof)
    draw.rectangle([x - half_top + 6, top - 58, x + half_top - 6, top - 8], fill=lamp)
    draw.polygon([(x - half_top - 4, top - 58), (x + half_top + 4, top - 58), (x, top - 100)],
                 fill=roof)


def waves(draw, top, colours, rng):
    bands(draw, top, H, colours, 9)
    for _ in range(140):
        x = rng.randrange(W)
        y = rng.randrange(top + 10, H)
        length = 20 + (y - top) // 3
        draw.line([(x, y), (x + length, y)], fill=colours[0], width=2 + (y - top) // 120)


def night_scene():
    rng = random.Random(7)
    image = Image.new("RGB", (W, H))
    draw = ImageDraw.Draw(image)
    bands(draw, 0, 620, [(8, 12, 36), (20, 30, 72), (44, 52, 98)], 14)
    for _ in range(160):
        x, y = rng.randrange(W), rng.randrange(560)
        size = rng.choice((1, 1, 2, 2, 3))
        draw.rectangle([x, y, x + size, y + size], fill=(230, 230, 210))
    rings(draw, 1380, 150, 120, [(30, 40, 86), (40, 50, 96), (52, 60, 104)])
    draw.ellipse([1320, 90, 1440, 210], fill=(246, 238, 200))
    draw.ellipse([1350, 78, 1462, 190], fill=(24, 34, 80))
    waves(draw, 620, [(12, 40, 60), (6, 22, 40)], rng)
    draw.polygon([(820, 900), (900, 690), (1010, 650), (1250, 640), (1380, 700), (1460, 900)],
                 fill=(24, 22, 30))
    # The beam of the lamp, swept to the left over the sea.
    draw.polygon([(1130, 250), (80, 150), (60, 420)], fill=(64, 70, 96))
    draw.polygon([(1130, 250), (300, 205), (290, 330)], fill=(96, 96, 104))
    lighthouse(draw, 1130, 660, 300, 120, (232, 228, 216), (178, 40, 44), (255, 214, 96),
               (40, 36, 44))
    return image


def harbour_scene():
    rng = random.Random(11)
    image = Image.new("RGB", (W, H))
    draw = ImageDraw.Draw(image)
    bands(draw, 0, 560, [(28, 34, 52), (70, 82, 100), (120, 130, 140)], 12)
    lighthouse(draw, 1420, 545, 420, 34, (150, 150, 156), (120, 70, 74), (255, 214, 96),
               (80, 80, 88))
    waves(draw, 560, [(30, 52, 66), (14, 28, 40)], rng)
    # Fog lying over the water.
    for y, colour in ((520, (104, 114, 126)), (600, (88, 100, 114)), (690, (70, 84, 98))):
        for x in range(-100, W, 260):
            draw.ellipse([x, y, x + 360, y + 60], fill=colour)
    # The jetty running in from the right, with its posts.
    draw.polygon([(W, 700), (520, 760), (520, 790), (W, 770)], fill=(86, 60, 40))
    draw.polygon([(W, 770), (520, 790), (520, 805), (W, 800)], fill=(54, 36, 26))
    for x in range(560, W, 110):
        draw.rectangle([x, 740, x + 18, 900], fill=(62, 42, 30))
    # A small boat with its lantern, waiting at the end.
    draw.polygon([(250, 760), (520, 760), (480, 815), (290, 815)], fill=(60, 30, 26))
    draw.rectangle([380, 640, 386, 760], fill=(50, 34, 26))
    rings(draw, 420, 700, 70, [(96, 90, 76), (150, 130, 90), (220, 180, 100)])
    draw.ellipse([408, 688, 432, 712], fill=(255, 232, 150))
    return image


def dawn_scene():
    rng = random.Random(3)
    image = Image.new("RGB", (W, H))
    draw = ImageDraw.Draw(image)
    bands(draw, 0, 600, [(48, 30, 86), (140, 70, 120), (236, 130, 110), (252, 196, 120)], 18)
    rings(draw, 560, 600, 150, [(250, 180, 110), (252, 206, 130), (255, 226, 160)])
    waves(draw, 600, [(120, 76, 110), (50, 36, 80)], rng)
    for i in range(8):
        y = 610 + i * 22
        half = 150 - i * 14
        draw.rectangle([560 - half, y, 560 + half, y + 6], fill=(252, 206, 140))
    draw.polygon([(900, 900), (980, 700), (1100, 660), (1330, 650), (1480, 720), (1560, 900)],
                 fill=(40, 24, 52))
    lighthouse(draw, 1220, 665, 330, 116, (60, 36, 72), (60, 36, 72), (90, 60, 96),
               (60, 36, 72))
    # Two figures sitting on the steps.
    for x in (1040, 1080):
        draw.ellipse([x, 606, x + 22, 628], fill=(40, 24, 52))
        draw.rounded_rectangle([x - 4, 626, x + 26, 668], radius=10, fill=(40, 24, 52))
    return image


def save_scene(image, path):
    write_bmp_rle8(path, image.quantize(colors=255, dither=Image.Dither.NONE))


def tile():
    """Checks of two deep blues with a light dot in each: the bars around the canvas."""
    image = Image.new("RGB", (32, 32))
    pixels = image.load()
    for y in range(32):
        for x in range(32):
            dark = ((x // 16) + (y // 16)) % 2
            pixels[x, y] = (30, 30, 52) if dark else (44, 44, 74)
            if x % 16 in (7, 8) and y % 16 in (7, 8):
                pixels[x, y] = (92, 96, 140)
    return image


def sox(*args):
    # -R: the same noise on every run, so the assets come out the same.
    subprocess.run(["sox", "-R", *args], check=True)


def make_sounds(out):
    with tempfile.TemporaryDirectory() as work:
        # The sea: filtered noise that swells and fades, 8-bit mono.
        sox("-n", "-r", "11025", "-c", "1", "-b", "8", os.path.join(out, "waves.wav"),
            "synth", "4", "brownnoise", "tremolo", "0.5", "60", "fade", "q", "1", "4", "1.5",
            "vol", "0.6")
        # A ship's bell: two struck partials that ring out.
        sox("-n", "-r", "22050", "-c", "1", "-b", "16", os.path.join(out, "bell.wav"),
            "synth", "2.2", "sine", "660", "sine", "1584", "remix", "-", "fade", "p", "0",
            "2.2", "2.1", "vol", "0.5")
        # A rising chime for the morning.
        notes = []
        for i, pitch in enumerate(("C5", "E5", "G5", "C6")):
            note = os.path.join(work, "n%d.wav" % i)
            sox("-n", "-r", "22050", "-c", "1", "-b", "16", note, "synth", "0.5", "pluck",
                pitch, "fade", "0", "0.5", "0.4", "vol", "0.6")
            notes.append(note)
        sox(*notes, os.path.join(out, "chime.wav"))
        # A voice out of the fog, stored IMA ADPCM (4 bits per sample).
        spoken = os.path.join(work, "ahoy.wav")
        subprocess.run(["espeak-ng", "-v", "en-us+m3", "-s", "150", "-w", spoken,
                        "Ahoy! Is the light still burning?"], check=True)
        sox(spoken, "-r", "16000", "-e", "ima-adpcm", os.path.join(out, "ahoy.wav"))


def make_font(path):
    """Light glyphs with a dark outline, a little wider than the monospaced font, and an
    amber waiting marker."""
    tool = os.environ.get("BEXU_FONT", os.path.join(ROOT, "build", "bexu-font"))
    subprocess.run([tool, FONT, "-o", path, "--stretch", "1.25", "--color", "FAF6E8",
                    "--outline", "2", "--outline-color", "181222", "--marker-color", "FFC840"],
                   check=True, stdout=subprocess.DEVNULL)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "examples", "demo")
    os.makedirs(out, exist_ok=True)
    make_font(os.path.join(out, "font.bmp"))
    write_bmp24(os.path.join(out, "transparency.bmp"), tile())
    save_scene(night_scene(), os.path.join(out, "night.bmp"))
    save_scene(harbour_scene(), os.path.join(out, "harbour.bmp"))
    save_scene(dawn_scene(), os.path.join(out, "dawn.bmp"))
    make_sounds(out)


if __name__ == "__main__":
    main()
