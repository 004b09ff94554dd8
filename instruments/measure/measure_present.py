#!/usr/bin/env python3
"""Times the Windows player's frames under Wine, side by side: each given build of
bexu-present-timing.exe (instruments/measure/present_timing.cpp) runs in turn, round after round,
on one virtual X display, in a story folder over a detailed 1600 x 900 scene, and every
figure is printed with its ratio to the first build's.

Usage: measure_present.py --timing build-win64/bexu-present-timing.exe [--timing OTHER.exe ...]
                          [--rounds 3]
Give the program built from an earlier commit first to read the figures as "after / before".
Needs Wine (wine64) and Xvfb, as the Wine tests do.
"""

import argparse
import os
import re
import statistics
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "fixtures"))

import harness  # noqa: E402
import story  # noqa: E402

WINE_LOADER = os.environ.get("BEXU_WINE64", "/usr/lib/wine/wine64")
WINESERVER = os.environ.get("BEXU_WINESERVER", "/usr/lib/wine/wineserver")
LINE = re.compile(r"^(.*): median ([\d.]+) ms, best ([\d.]+) ms of \d+(.*)$")


def make_story(folder):
    story.make(folder, script="{0[cg~scene.bmp][say~A line over a detailed scene][turn~page]}",
               omit=("scene.bmp", "small.bmp", "big.bmp"))
    story.write_detailed_scene(os.path.join(folder, "scene.bmp"), 0)


def run_timing(display, env, program, folder):
    out = harness.run([WINE_LOADER, program], env=display.env(env), timeout=600, cwd=folder)
    figures = {}
    for line in out.decode(errors="replace").splitlines():
        found = LINE.match(line.strip())
        if found:
            figures[found.group(1)] = (float(found.group(2)), float(found.group(3)),
                                       found.group(4).lstrip(", "))
    if not figures:
        raise harness.Failure("%s printed no figures: %r" % (program, out[-500:]))
    return figures


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--timing", action="append", required=True,
                        help="a build of bexu-present-timing.exe (give several to compare)")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    programs = [os.path.abspath(p) for p in args.timing]
    harness.time_limit(3600)
    with harness.work_folders("bexu-present-") as (work, _):
        folder = os.path.join(work, "story")
        make_story(folder)
        env = {"WINEPREFIX": os.path.join(work, "prefix"), "WINEDEBUG": "-all",
               "WINEDLLOVERRIDES": "mscoree,mshtml=;winealsa.drv=d"}
        display = harness.Display(2000, 1200)
        try:
            harness.run([WINE_LOADER, "wineboot", "--init"], env=display.env(env), timeout=300,
                        check=False)
            harness.run([WINESERVER, "-w"], env=display.env(env), timeout=120, check=False)
            medians = {p: {} for p in programs}
            bests = {p: {} for p in programs}
            notes = {p: {} for p in programs}
            for _ in range(args.rounds):
                for program in programs:
                    figures = run_timing(display, env, program, folder)
                    for name, (median, best, note) in figures.items():
                        medians[program].setdefault(name, []).append(median)
                        bests[program].setdefault(name, []).append(best)
                        notes[program][name] = note
        finally:
            harness.run([WINESERVER, "-k"], env=display.env(env), timeout=60, check=False)
            display.stop()
    first = programs[0]
    print("ms: the median of %d rounds' medians / the best of all runs; ratios to %s"
          % (args.rounds, args.timing[0]))
    for name in medians[first]:
        base = (statistics.median(medians[first][name]), min(bests[first][name]))
        cells = ["%.2f / %.2f" % base]
        for program in programs[1:]:
            if name in medians[program]:
                value = (statistics.median(medians[program][name]), min(bests[program][name]))
                cells.append("%.2f / %.2f (%.2fx / %.2fx)"
                             % (value + (value[0] / base[0], value[1] / base[1])))
        note = notes[first][name]
        print("%-58s %s%s" % (name, "  ".join(cells), "  [%s]" % note if note else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
