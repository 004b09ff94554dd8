#!/usr/bin/env python3
"""End-to-end test of bexu-preview: a story played from a line, and again after a save.

Usage: run_preview_e2e.py --preview build/bexu-preview --shot build/bexu-shot
                          --demo examples/demo [--out DIR]

bexu-shot pictures every page of the demo. bexu-preview, started at the line of a page in
the middle, must show that page's picture (outside the marker's cell, whose frame depends
on the clock) under a title naming the line; then that line is changed on disk, and within
a second the window must show the changed page's picture, as bexu-shot pictures it.
"""

import argparse
import os
import re
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "fixtures"))

import harness  # noqa: E402
from harness import Failure  # noqa: E402

TITLE = "The Keeper of Gull Rock"
SEED = "100000"
CELL = (25, 33)
RELOAD_LIMIT = 1.0
ENV = {"SDL_AUDIODRIVER": "dummy", "SDL_FRAMEBUFFER_ACCELERATION": "0"}


def shoot(shot, story, out):
    done = subprocess.run([shot, story, "--out", out, "--seed", SEED], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, timeout=120)
    if done.returncode != 0:
        raise Failure("bexu-shot: %s" % done.stdout.decode("latin-1"))
    with open(os.path.join(out, "index.html"), encoding="ascii") as f:
        sheet = f.read()
    # Each caption names the script from the folder as given: <b>shot-0001.png</b> DIR/script.bexu:L:C
    pages = re.findall(r"<b>(shot-\d+\.png)</b> [^<]*?script\.bexu:(\d+):\d+ ", sheet)
    if not pages:
        raise Failure("no pages in %s/index.html" % out)
    return [(os.path.join(out, name), int(line)) for name, line in pages]


def picture(path):
    return harness.Image.from_ppm(harness.run(["convert", path, "-depth", "8", "ppm:-"]))


def outside_marker_cell(screen, wanted):
    """Whether the two pictures agree but for one glyph cell, where the marker stands."""
    if (screen.width, screen.height) != (wanted.width, wanted.height):
        return False
    count, box = screen.difference(wanted)
    if count == 0:
        return True
    left, top = box[0] // CELL[0] * CELL[0], box[1] // CELL[1] * CELL[1]
    return box[2] < left + CELL[0] and box[3] < top + CELL[1]


def wait_picture(display, window, wanted, within, name, session, since=None):
    """Waits until the window shows `wanted`; returns when the screenshot that showed it was
    begun, in seconds after `since`, which must be `within` or less."""
    since = time.monotonic() if since is None else since
    while True:
        taken = time.monotonic()
        shot = display.screenshot(window)
        if outside_marker_cell(shot, wanted):
            return taken - since
        if taken - since > within:
            session.save(shot, name)
            raise Failure("the window did not show the expected page within %.1f s (%s.png)"
                          % (within, name))
        time.sleep(0.05)


def changed_line(script, line):
    """The script with the say command of `line` saying something else."""
    lines = script.split("\n")
    edited = re.sub(r"\[say~[^\]]*\]", "[say~This line was changed on disk.]", lines[line - 1],
                    count=1)
    if edited == lines[line - 1]:
        raise Failure("line %d holds no say command: %r" % (line, lines[line - 1]))
    lines[line - 1] = edited
    return "\n".join(lines)


def case_reload(args, work, session):
    story = harness.copy_story(args.demo, os.path.join(work, "story"))
    pages = shoot(args.shot, story, os.path.join(work, "pages"))
    page, line = pages[len(pages) // 2]
    with open(os.path.join(story, "script.bexu"), encoding="latin-1") as f:
        script = f.read()
    edited_story = harness.copy_story(args.demo, os.path.join(work, "edited"))
    with open(os.path.join(edited_story, "script.bexu"), "w", encoding="latin-1") as f:
        f.write(changed_line(script, line))
    edited_page = shoot(args.shot, edited_story, os.path.join(work, "edited-pages"))[
        len(pages) // 2][0]

    display = session.display
    preview = session.start([args.preview, story, "--at", "script.bexu:%d" % line,
                             "--seed", SEED], work, ENV, "preview")
    try:
        title = "script.bexu:%d \u2014 %s" % (line, TITLE)
        window = session.wait_main(preview, title)
        wait_picture(display, window, picture(page), 10, "before", session)
        # As an editor saves: a new file renamed over the old one.
        saved = os.path.join(story, "script.bexu.new")
        with open(saved, "w", encoding="latin-1") as f:
            f.write(changed_line(script, line))
        edited = picture(edited_page)
        started = time.monotonic()
        os.rename(saved, os.path.join(story, "script.bexu"))
        shown = wait_picture(display, window, edited, RELOAD_LIMIT, "after", session, started)
        session.note("the changed line showed %.2f s after the save" % shown)
        if not display.find_windows(harness.anchored(title)):
            raise Failure("after the save the title is no longer %r" % title)
    finally:
        preview.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--preview", required=True)
    parser.add_argument("--shot", required=True)
    parser.add_argument("--demo", required=True)
    parser.add_argument("--out", default=None)
    parser.add_argument("--time-limit", type=int, default=150)
    args = parser.parse_args()
    args.preview = os.path.abspath(args.preview)
    args.shot = os.path.abspath(args.shot)
    args.demo = os.path.abspath(args.demo)

    def run(work, out):
        session = harness.Session(out, "preview")
        session.open_display(1920, 1080)
        try:
            session.case("reload", lambda: case_reload(args, work, session))
        finally:
            session.close_display()
        return session.finish()

    return harness.run_suite("bexu-preview-", args.out, args.time_limit, run)


if __name__ == "__main__":
    sys.exit(main())
