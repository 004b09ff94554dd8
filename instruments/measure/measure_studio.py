#!/usr/bin/python3
"""Measures bexu studio in headless Chromium, beside the native tools run in turn by
this same process: the time to a usable page, the sizes, the findings of a 1.7 MB
script, the pictures of the demo, play from a line (the demo, and the end of a script
of 10,000 lines) and the export of the demo.

Usage: /usr/bin/python3 instruments/measure/measure_studio.py [--site build-web/studio]
       [--tools build] [--demo examples/demo] [--runs 5]
"""

import argparse
import gzip
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "web"))

import browser  # noqa: E402
import native  # noqa: E402

SEED = 100000


def long_check_story(folder, demo):
    """1,300 blocks of dialogue, stammers, waits and page turns (about 1.7 MB), as
    bench_check_story writes."""
    line = "w" * 50
    blocks = []
    for number in range(1300):
        block = "{%d\n" % number
        for i in range(20):
            block += "  [say~%s %d.]\n" % (line, i)
        block += "  [stutter3~I/I don't k/know.][wait~300]\n  [turn~page]\n}\n"
        blocks.append(block)
    return native.story(folder, "".join(blocks), demo)


def ten_thousand_lines(folder, demo):
    """10,000 lines as bench_play_from writes them: pages of 20 lines, a stammer in every
    page, a scene every 50 pages and a short wait every 10. Returns the folder and the
    line of the last key wait."""
    script = "{0\n"
    block = 0
    for line in range(10000):
        on_page, page = line % 20, line // 20
        if on_page == 0 and page % 50 == 0:
            script += "[cg~a.bmp]\n" if page % 100 == 0 else "[cg~b.bmp]\n"
        if on_page == 5:
            script += "[stutter3~And s/so the g/gulls c/came b/back, %d.]\n" % line
        elif on_page == 19:
            script += "[turn~page]\n" + ("[wait~100]\n" if page % 10 == 9 else "")
            block += 1
            script += "}\n{%d\n" % block
        else:
            script += "[say~Line %d of the long story, on page %d.]\n" % (line, page)
    script += "[say~The end.]\n}\n"
    native.story(folder, script, demo)
    for name in ("a.bmp", "b.bmp"):
        shutil.copy(os.path.join(demo, "dawn.bmp"), os.path.join(folder, name))
    return folder, script.count("\n")


def wall(command, cwd=None):
    start = time.monotonic()
    subprocess.run(command, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   check=False, timeout=600)
    return (time.monotonic() - start) * 1000


def median(values):
    return statistics.median(values)


class Studio:
    def __init__(self, site, work):
        self.server = browser.Server(site)
        self.browser = browser.Browser(work)
        self.page = self.browser.open_page()
        self.page.size(1600, 1000)

    def close(self):
        self.browser.close()
        self.server.close()

    def load(self):
        self.page.navigate(self.server.url("index.html?start-tick=%d" % SEED))
        self.page.wait_for("typeof studio == 'object' && studio.ready", 20, "the studio")
        return self.page.evaluate("studio.readyAt")

    def open(self, folder, pictures=True):
        self.load()
        self.page.set_files("#folder-input", [folder])
        done = "studio.generation > 0 && studio.check" + (" && studio.run" if pictures else "")
        self.page.wait_for(done, 600, "the story")
        return self.page.evaluate("studio.timings")

    def play_from(self, place):
        self.page.evaluate("studio.timings.play = undefined; playFrom(%s)" % place)
        self.page.wait_for("studio.timings.play !== undefined", 60, "the first frame")
        return self.page.evaluate("studio.timings.play")

    def export(self, kind):
        self.page.evaluate("studio.timings.export = undefined; exportArchive('%s')" % kind)
        self.page.wait_for("studio.timings.export !== undefined", 120, "the export")
        return self.page.evaluate("studio.timings.export")


def sizes(site):
    def size(path):
        with open(path, "rb") as f:
            data = f.read()
        return len(data), len(gzip.compress(data, 6))
    rows = []
    for name in ("bexu-studio-core.wasm", "play/bexu.wasm", "bexu-studio-core.js", "play/bexu.js",
                 "studio.js", "studio-worker.js", "vendor/pako_deflate.min.js"):
        raw, packed = size(os.path.join(site, name))
        rows.append((name, raw, packed))
    total = players = 0
    for folder, _, files in os.walk(site):
        for name in files:
            bytes_ = os.path.getsize(os.path.join(folder, name))
            total += bytes_
            if os.path.relpath(folder, site).startswith("players"):
                players += bytes_
    return rows, total, players


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--site", default=os.path.join(ROOT, "build-web", "studio"))
    parser.add_argument("--tools", default=os.path.join(ROOT, "build"))
    parser.add_argument("--demo", default=os.path.join(ROOT, "examples", "demo"))
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    tools = os.path.abspath(args.tools)
    demo = os.path.abspath(args.demo)
    work = tempfile.mkdtemp(prefix="bexu-measure-studio-")
    studio = Studio(os.path.abspath(args.site), work)
    out = []
    try:
        ready = [studio.load() for _ in range(args.runs)]
        out.append(("studio usable after load (median of %d)" % args.runs,
                    "%.0f ms" % median(ready), ""))

        long_story = long_check_story(os.path.join(work, "long-check"), demo)
        page, native_ms = [], []
        for _ in range(args.runs):
            page.append(studio.open(long_story, pictures=False)["check"])
            native_ms.append(wall([os.path.join(tools, "bexu-check"), "long-check"], cwd=work))
        out.append(("findings of a 1.7 MB script (median of %d)" % args.runs,
                    "%.0f ms" % median(page), "bexu-check %.0f ms: %.1f x" % (
                        median(native_ms), median(page) / median(native_ms))))

        page, native_ms = [], []
        for _ in range(args.runs):
            page.append(studio.open(demo)["pages"])
            native_ms.append(wall([os.path.join(tools, "bexu-shot"), demo, "--out",
                                   os.path.join(work, "shots")]))
        out.append(("pictures of the demo's 14 pages (median of %d)" % args.runs,
                    "%.0f ms" % median(page), "bexu-shot %.0f ms: %.1f x" % (
                        median(native_ms), median(page) / median(native_ms))))

        line = open(os.path.join(demo, "script.bexu"), "rb").read().split(b"\n").index(
            b"  [say~A voice came out of the fog:]") + 1
        page = [studio.play_from("{line: %d, column: 0}" % line) for _ in range(args.runs)]
        out.append(("play from line %d of the demo (median of %d)" % (line, args.runs),
                    "%.0f ms" % median(page), "request to first frame"))

        export_page, native_ms = [], []
        for _ in range(args.runs):
            export_page.append(studio.export("windows") + studio.export("linux"))
            native_ms.append(wall([os.path.join(tools, "bexu-pack"), demo, "--out",
                                   os.path.join(work, "packed"), "--windows-player",
                                   os.path.join(args.site, "players", "bexu.exe"),
                                   "--linux-player",
                                   os.path.join(args.site, "players", "bexu-static")]))
        out.append(("export of the demo, both archives (median of %d)" % args.runs,
                    "%.0f ms" % median(export_page), "bexu-pack %.0f ms: %.1f x" % (
                        median(native_ms), median(export_page) / median(native_ms))))

        lines, last = ten_thousand_lines(os.path.join(work, "ten-thousand"), demo)
        studio.open(lines, pictures=False)
        page = [studio.play_from("{line: %d, column: 0}" % (last - 1))
                for _ in range(args.runs)]
        out.append(("play from the last line of a 10,000-line script (median of %d)" %
                    args.runs, "%.0f ms" % median(page), "request to first frame"))
        bench = os.path.join(tools, "bench", "bench_play_from")
        if os.path.exists(bench):
            done = subprocess.run([bench, "--benchmark_filter=RunAhead",
                                   "--benchmark_format=csv"], stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL, text=True, timeout=300)
            row = done.stdout.strip().split("\n")[-1].split(",")
            out.append(("  native run ahead to the same page (bench_play_from)",
                        "%.1f ms" % float(row[3]), "%.0f x" % (median(page) / float(row[3]))))
    finally:
        studio.close()
        shutil.rmtree(work, ignore_errors=True)

    rows, total, players = sizes(os.path.abspath(args.site))
    print("| Figure | Studio | Native, side by side |")
    print("|---|---|---|")
    for figure, value, baseline in out:
        print("| %s | %s | %s |" % (figure, value, baseline))
    print()
    print("| File | Bytes | gzip -6 |")
    print("|---|---|---|")
    for name, raw, packed in rows:
        print("| %s | %d | %d |" % (name, raw, packed))
    print("| the site, players included | %d | |" % total)
    print("| the players it exports | %d | |" % players)
    return 0


if __name__ == "__main__":
    sys.exit(main())
