#!/usr/bin/env python3
"""Measures bexu-pack: the wall time to check and pack a story into its archives
(median of several runs, each into a fresh folder), and the archives' sizes.

Usage: measure_pack.py [--pack build/bexu-pack] [--story examples/demo] [--runs 11]
       [--windows-player build-win32/bexu.exe] [--web-player build-web]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--pack", default=os.path.join(ROOT, "build", "bexu-pack"))
    parser.add_argument("--story", default=os.path.join(ROOT, "examples", "demo"))
    parser.add_argument("--runs", type=int, default=11)
    parser.add_argument("--windows-player", default=None)
    parser.add_argument("--web-player", default=None)
    args = parser.parse_args()
    command = [os.path.abspath(args.pack), os.path.abspath(args.story)]
    if args.windows_player:
        command += ["--windows-player", os.path.abspath(args.windows_player)]
    if args.web_player:
        command += ["--web-player", os.path.abspath(args.web_player)]
    times = []
    with tempfile.TemporaryDirectory(prefix="bexu-measure-pack-") as work:
        for run in range(args.runs):
            out = os.path.join(work, "out-%d" % run)
            started = time.monotonic()
            subprocess.run(command + ["--out", out], check=True, stdout=subprocess.DEVNULL)
            times.append(time.monotonic() - started)
            if run + 1 < args.runs:
                shutil.rmtree(out)
        print("packing %s: median %.0f ms (min %.0f, max %.0f, %d runs)"
              % (os.path.basename(args.story.rstrip("/")), 1000 * statistics.median(times),
                 1000 * min(times), 1000 * max(times), len(times)))
        for name in sorted(os.listdir(out)):
            print("  %s: %.2f MB" % (name, os.path.getsize(os.path.join(out, name)) / 1e6))
    return 0


if __name__ == "__main__":
    sys.exit(main())
