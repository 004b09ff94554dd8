#!/usr/bin/python3
"""The sounds and bitmaps of the test corpora in one flat folder, for the table that asks
every build's decoder and the checker about each file (tests/tools/check_test.cpp natively,
run_web.py in the browser): the fuzzers' seeds, the BMP suite when it is there, and the
files the tests make (sox in every encoding, the story writers' files, hostile headers).

Usage: decode_corpus.py OUTDIR [--bmpsuite DIR]
Each file is named <source>-<name> and ends in .wav or .bmp, as a story names them.
The memory-cap scenes of the web tests are left out: whether they load is a matter of
each build's memory, not of their format.
"""

import argparse
import os
import random
import shutil
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "fixtures"))

import native  # noqa: E402
import story  # noqa: E402

# sox options of a file of each encoding and layout, some refused by the decoder.
SOX = {
    "pcm-u8": "-r 11025 -c 1 -e unsigned-integer -b 8",
    "pcm-s16-stereo": "-r 22050 -c 2 -e signed-integer -b 16",
    "pcm-s24": "-r 8000 -c 1 -e signed-integer -b 24",
    "pcm-s32": "-r 8000 -c 1 -e signed-integer -b 32",
    "float32": "-r 8000 -c 2 -e floating-point -b 32",
    "float64": "-r 8000 -c 1 -e floating-point -b 64",
    "alaw": "-r 8000 -c 1 -e a-law",
    "ulaw-stereo": "-r 8000 -c 2 -e u-law",
    "ima-adpcm": "-r 16000 -c 1 -e ima-adpcm",
    "ima-adpcm-stereo": "-r 8000 -c 2 -e ima-adpcm",
    "ms-adpcm": "-r 22050 -c 1 -e ms-adpcm",
    "ms-adpcm-stereo": "-r 8000 -c 2 -e ms-adpcm",
    "gsm": "-r 8000 -c 1 -e gsm-full-rate",
    "six-channels": "-r 8000 -c 6 -e signed-integer -b 16",
    "eight-channels": "-r 8000 -c 8 -e signed-integer -b 16",
    "nine-channels": "-r 8000 -c 9 -e signed-integer -b 16",
    "rate-3000": "-r 3000 -c 1 -e signed-integer -b 16",
    "rate-2000": "-r 2000 -c 1 -e signed-integer -b 16",
    "rate-192000": "-r 192000 -c 1 -e signed-integer -b 16",
}


def chunk(name, body):
    return name + struct.pack("<I", len(body)) + body + (b"\0" if len(body) % 2 else b"")


def riff(*chunks):
    body = b"WAVE" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def pcm_format(channels=1, rate=8000, bits=16, tag=1):
    align = channels * ((bits + 7) // 8)
    return chunk(b"fmt ", struct.pack("<HHIIHH", tag, channels, rate, rate * align, align, bits))


def handmade_waves():
    """Headers a story may meet: what the Windows player takes and what it does not find."""
    samples = chunk(b"data", struct.pack("<8h", 0, 9000, 18000, 9000, 0, -9000, -18000, -9000))
    good = riff(pcm_format(), samples)
    extensible = struct.pack("<HHIIHHHHI", 0xFFFE, 1, 8000, 16000, 2, 16, 22, 16, 0) + \
        struct.pack("<H", 1) + b"\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71"
    noise = random.Random(20261208)
    return {
        "pcm.wav": good,
        "only-wave-before-chunks.wav": good[8:],
        "data-before-format.wav": riff(samples, pcm_format()),
        "no-data.wav": riff(pcm_format()),
        "format-cut.wav": good[:30],
        "riff-header-only.wav": good[:12],
        "list-chunk-first.wav": riff(chunk(b"LIST", b"odd"), pcm_format(), samples),
        "riff-length-zero.wav": b"RIFF\0\0\0\0" + good[8:],
        "mp3-inside.wav": riff(pcm_format(tag=0x55, bits=0), samples),
        "extensible-pcm.wav": riff(chunk(b"fmt ", extensible), samples),
        "rate-zero.wav": riff(pcm_format(rate=0), samples),
        "no-channels.wav": riff(pcm_format(channels=0), samples),
        "claims-4-gib.wav": native.wave_claiming(0xFFFFFFF0),
        "id3-tag.wav": b"ID3 an mp3 file",
        "empty.wav": b"",
        "random-bytes.wav": bytes(noise.randrange(256) for _ in range(4096)),
    }


def handmade_bitmaps(folder):
    """The story writers' bitmaps and the bad ones the tests name as scenes."""
    story.write_bmp(os.path.join(folder, "made-24-bit.bmp"), 37, 21, story.scene_pixel)
    story.write_bmp(os.path.join(folder, "made-24-bit-top-down.bmp"), 37, 21, story.scene_pixel,
                    top_down=True)
    story.write_bmp(os.path.join(folder, "made-8-bit.bmp"), 33, 9, lambda x, y: (x + y) % 256,
                    bits=8, palette=story.SMALL_PALETTE)
    with open(os.path.join(folder, "made-24-bit.bmp"), "rb") as f:
        whole = f.read()
    return {
        "rows-cut.bmp": whole[:-5],
        "headers-only.bmp": whole[:54],
        "huge-run-length.bmp": story.huge_rle_bmp(3000000, 2000000),
        "zeros.bmp": b"BM" + b"\x00" * 40,
        "text.bmp": b"BM this is not a bitmap\n",
        "empty.bmp": b"",
    }


def write(folder, name, data):
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def copy_folder(source, folder, prefix, extension):
    for name in sorted(os.listdir(source)):
        path = os.path.join(source, name)
        if os.path.isfile(path):
            target = name if name.endswith(extension) else name + extension
            shutil.copy(path, os.path.join(folder, prefix + target))


def make(folder, bmpsuite=None):
    os.makedirs(folder, exist_ok=True)
    fuzz = os.path.join(ROOT, "fuzz", "corpus")
    copy_folder(os.path.join(fuzz, "wave"), folder, "fuzz-wave-", ".wav")
    copy_folder(os.path.join(fuzz, "wave_decoder"), folder, "fuzz-wave-decoder-", ".wav")
    copy_folder(os.path.join(fuzz, "bmp"), folder, "fuzz-bmp-", ".bmp")
    if bmpsuite and os.path.isdir(bmpsuite):
        for part in ("g", "q", "b", "x"):
            copy_folder(os.path.join(bmpsuite, part), folder, "bmpsuite-%s-" % part, ".bmp")
    if shutil.which("sox"):
        for name, options in SOX.items():
            subprocess.run(["sox", "-D", "-R", "-n"] + options.split() +
                           [os.path.join(folder, "sox-%s.wav" % name), "synth", "0.1", "sine",
                            "440"], check=True, stderr=subprocess.DEVNULL)
    story.write_wave(os.path.join(folder, "made-beep.wav"))
    for name, data in handmade_waves().items():
        write(folder, "made-" + name, data)
    for name, data in handmade_bitmaps(folder).items():
        write(folder, "made-" + name, data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("folder")
    parser.add_argument("--bmpsuite", default=None)
    args = parser.parse_args()
    make(args.folder, args.bmpsuite)
    return 0


if __name__ == "__main__":
    sys.exit(main())
