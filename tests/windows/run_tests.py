#!/usr/bin/env python3
"""End-to-end tests of the Windows player (64-bit build) under Wine, on a
virtual X display, against the Linux player showing the same story.

Usage: run_tests.py --windows build-win64/bexu.exe --linux build/bexu
                    --watch-helper build/tests/e2e_watch_window [--out DIR]
                    [--packed DEMO-windows.zip]

At 1:1 the two players must show the same pixels in every state of the story
(scene, glyphs, advance indicator). Resized frames are checked for geometry
only, since the two smoothing stretches differ in their rounding. The fatal
message boxes are found by caption and dismissed with Return. With --packed, the
demo's release zip (packed with the 64-bit player) is unzipped and its <Title>.exe
played from its own folder: title from its init.bexc, frames equal to the Linux
player's at 1:1. While a story waits for Space, the marker's pace and how soon a
Space and a resize show are timed from the X server's reports, as for the Linux
player (tests/linux/run_e2e.py). The display, the programs on it and the time
limit are tests/fixtures/harness.py's.
"""

import argparse
import os
import shutil
import sys
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))

import expected as ex  # noqa: E402
import geometry  # noqa: E402
import harness  # noqa: E402
import idle  # noqa: E402
import story  # noqa: E402
from harness import Failure  # noqa: E402

WINE_LOADER = os.environ.get("BEXU_WINE64", "/usr/lib/wine/wine64")
WINESERVER = os.environ.get("BEXU_WINESERVER", "/usr/lib/wine/wineserver")
WINE_ENV = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=;winealsa.drv=d"}
LINUX_ENV = {"SDL_VIDEODRIVER": "x11", "SDL_FRAMEBUFFER_ACCELERATION": "0",
             "SDL_AUDIODRIVER": "dummy"}

SETTLE = 0.8  # seconds after a key for the next state to show, at 16 ms per iteration
SAMPLING = 1.6  # long enough for every frame of the four-frame page-turn indicator
START_MATCH = 5.0  # seconds a state may take to show on a slow machine
START_TIMEOUT = 60
# Client sizes for the geometry checks: halves, bars beside and above and below,
# the one-pixel bar of a truncated fit, and slivers too small for the content check
# (one row high draws nothing). The desktop keeps windows at least about 110 pixels
# wide, so narrower sizes would leave the client area wider than the X window.
RESIZES = ((800, 450), (1600, 450), (500, 900), (803, 900), (1600, 950), (160, 90),
           (150, 300), (300, 2), (200, 1))

DEMO_TITLE = "The Keeper of Gull Rock"
# The demo's first key waits, over its run-length coded night scene; the lines
# after them stammer at random and differ from run to run.
DEMO_STATES = ["demo-1", "demo-2", "demo-3"]


class Suite(harness.DisplaySuite):
    def __init__(self, args, work, session):
        super().__init__(args, work, session)
        self.prefix = os.path.join(work, "prefix")
        self.master = os.path.join(work, "story")
        self.references = {}

    # ---- set-up ---------------------------------------------------------------

    def wine_env(self):
        env = dict(WINE_ENV)
        env["WINEPREFIX"] = self.prefix
        return env

    def make_prefix(self):
        harness.run([WINE_LOADER, "wineboot", "--init"], env=self.display.env(self.wine_env()),
                    timeout=180, check=False)
        self.wait_wineserver()
        if not os.path.isdir(os.path.join(self.prefix, "drive_c", "windows")):
            raise Failure("wineboot made no prefix in %s" % self.prefix)

    def wait_wineserver(self):
        env = self.display.env(self.wine_env())
        try:
            harness.run([WINESERVER, "-w"], env=env, timeout=60, check=False)
        except Failure:
            harness.run([WINESERVER, "-k"], env=env, timeout=30, check=False)

    def folder(self, name, omit=(), script=None, title=story.TITLE, extra=None):
        """A story folder for one case: the master story's files, some left out or added."""
        return harness.copy_story(self.master, os.path.join(self.work, name), omit, script,
                                  title, extra)

    def start(self, kind, folder, program=None):
        if kind == "wine":
            return self.session.start([WINE_LOADER, program or self.args.windows], folder,
                                      self.wine_env(), kind)
        return self.session.start([self.args.linux], folder, LINUX_ENV, kind)

    # ---- looking at a state ------------------------------------------------

    def match_state(self, window, state):
        """Once Wine shows one of the Linux frames of `state`, every frame it shows for
        the sampling time must be one of them. A slow start may show the state
        before for a while, up to START_MATCH seconds."""
        references = self.references[state]
        matched = set()
        first_match_by = time.monotonic() + START_MATCH
        end = None
        index = 0
        while end is None or time.monotonic() < end:
            shot = self.display.grab(window)
            index += 1
            if shot in references:
                matched.add(references.index(shot))
                if end is None:
                    end = time.monotonic() + SAMPLING
            elif end is not None or time.monotonic() > first_match_by:
                self.save(shot, "wine-%s-%d" % (state, index))
                closest = min((shot.difference(r) for r in references), key=lambda d: d[0])
                raise Failure("state %s: Wine frame %d differs from every Linux frame (%d) in "
                              "%d pixels, box %s" % (state, index, len(references), closest[0],
                                                     closest[1]))
            time.sleep(0.1)
        self.session.note("%s: %d Wine frames, each equal to a Linux frame; %d of %d indicator "
                          "frames seen" % (state, index, len(matched), len(references)))

    # ---- the cases ------------------------------------------------------------

    def play_states(self, kind, folder, title, states, look, to_the_end=True, program=None):
        """Starts a story, calls look(window, state) in each of its first key waits and,
        when `to_the_end`, plays it out: the last Space must end the process with code 0."""
        player = self.start(kind, folder, program)
        try:
            window = self.session.wait_main(player, title, START_TIMEOUT)
            for index, state in enumerate(states):
                if index > 0:
                    self.display.key(window, "space")
                time.sleep(SETTLE)
                look(window, state)
            if to_the_end:
                self.display.key(window, "space")
                player.expect_exit(0, "the play ran out")
        finally:
            player.stop()

    def collect(self, window, state):
        # Every picture the Linux player shows: screenshots taken in turn, 300 ms or more
        # apart on a busy machine, may miss a frame of the marker, which lasts 300 ms.
        width, height = story.CANVAS
        distinct = []
        for shot in self.display.frames(self.args.watch_helper, window, width, height,
                                        int(SAMPLING * 1000)):
            if shot not in distinct:
                distinct.append(shot)
        for number, image in enumerate(distinct):
            self.save(image, "linux-%s-%d" % (state, number))
        if len(distinct) > 4:
            raise Failure("state %s did not settle: %d different frames" % (state, len(distinct)))
        self.references[state] = distinct

    def case_linux_reference(self):
        self.play_states("linux", self.folder("linux-play"), story.TITLE, story.STATES,
                         self.collect)

    def case_wine_matches_linux(self):
        if any(state not in self.references for state in story.STATES):
            raise Failure("no Linux reference frames to compare with")
        self.play_states("wine", self.folder("wine-play"), story.TITLE, story.STATES,
                         self.match_state)

    def demo_folder(self, kind):
        path = os.path.join(self.work, kind + "-demo")
        shutil.copytree(self.args.demo, path)
        return path

    def case_linux_demo_reference(self):
        self.play_states("linux", self.demo_folder("linux"), DEMO_TITLE, DEMO_STATES,
                         self.collect, to_the_end=False)

    def case_wine_demo_matches_linux(self):
        if any(state not in self.references for state in DEMO_STATES):
            raise Failure("no Linux reference frames of the demo to compare with")
        self.play_states("wine", self.demo_folder("wine"), DEMO_TITLE, DEMO_STATES,
                         self.match_state, to_the_end=False)

    def case_wine_packed_demo(self):
        """The release zip as a reader unzips it: <Title>.exe beside the story."""
        if any(state not in self.references for state in DEMO_STATES):
            raise Failure("no Linux reference frames of the demo to compare with")
        unpacked = os.path.join(self.work, "packed")
        with zipfile.ZipFile(self.args.packed) as archive:
            archive.extractall(unpacked)
        (top,) = os.listdir(unpacked)
        folder = os.path.join(unpacked, top)
        with open(os.path.join(folder, "init.bexc"), "rb") as f:
            title = f.read().decode("latin-1")
        program = os.path.join(folder, top + ".exe")
        if not os.path.isfile(program):
            raise Failure("the zip holds no %s.exe in %s" % (top, os.listdir(folder)))
        self.play_states("wine", folder, title, DEMO_STATES, self.match_state,
                         to_the_end=False, program=program)

    def resize_geometry(self, kind):
        if "hello" not in self.references:
            raise Failure("no Linux reference frame of the first state")
        references = self.references["hello"]
        player = self.start(kind, self.folder("%s-resize-%d" % (kind, self.session.runs + 1)))
        try:
            window = self.session.wait_main(player, story.TITLE, START_TIMEOUT)
            time.sleep(SETTLE)
            for width, height in RESIZES:
                self.display.resize(window, width, height)
                time.sleep(SETTLE)
                image = self.display.screenshot(window)
                self.save(image, "%s-resized-%dx%d" % (kind, width, height))
                geometry.check_geometry(image, width, height, story.tile_picture(), references,
                                        geometry.near_point, geometry.edges_mostly_canvas)
            if kind == "wine":
                # Closing goes through the default close handling to a quit message with code 0.
                self.display.key(window, "alt+F4")
                player.expect_exit(0, "closing the window")
        finally:
            player.stop()

    def case_wine_resize(self):
        self.resize_geometry("wine")

    def case_linux_resize(self):
        self.resize_geometry("linux")

    def case_wine_partial_redraws(self):
        """In scaled windows, a line added or a marker change shows what a full repaint of
        the same state shows."""
        failures = story.seams_on_desktop(
            self.session, lambda folder: self.start("wine", folder), self.work, SETTLE,
            lambda name, width, height, rgb: self.save(harness.Image(width, height, rgb), name))
        if failures:
            raise Failure("; ".join(failures))

    def fatal(self, name, caption, omit=(), script=None, title=None, extra=None, keys=(),
              window_shown=True):
        player = self.start("wine", self.folder("wine-" + name, omit, script, title, extra))
        try:
            box = self.session.fatal_box(player, caption, title if title else "Bexu Game",
                                         window_shown, keys, settle=SETTLE, between=0.3,
                                         timeout=START_TIMEOUT)
            self.save(self.display.screenshot(box), "wine-box-" + name)
            self.display.key(box, "Return")
            player.expect_exit(1, "after the box")
        finally:
            player.stop()

    def case_wine_fatal_boxes(self):
        # The system loader alone would show a cut-off file's missing rows black.
        truncated = open(os.path.join(self.master, "scene.bmp"), "rb").read()[:5000]
        cases = [
            # name, caption, keyword arguments
            ("no-script", "Filenotfound", dict(omit=["script.bexu"], window_shown=False)),
            ("no-font", "Error", dict(omit=["font.bmp"])),
            ("no-tile", "Error", dict(omit=["transparency.bmp"], title="")),
            ("missing-scene", "Error",
             dict(script="{0[say~Press Space][cg~nothere.bmp][say~never]}", keys=["space"],
                  title="Scene test")),
            ("unreadable-scene", "Error",
             dict(script="{0[cg~text.bmp][say~never]}", extra={"text.bmp": b"not a bitmap\n"})),
            ("truncated-scene", "Error",
             dict(script="{0[cg~cut.bmp][say~never]}", extra={"cut.bmp": truncated})),
            # The system loader makes these; the other backends refuse them as too large.
            ("too-wide-scene", "Error",
             dict(script="{0[cg~wide.bmp][say~never]}",
                  extra={"wide.bmp": story.huge_rle_bmp(40000, 100)})),
            ("too-large-scene", "Error",
             dict(script="{0[cg~large.bmp][say~never]}",
                  extra={"large.bmp": story.huge_rle_bmp(16384, 4100)})),
        ]
        failures = []
        for name, caption, options in cases:
            try:
                self.fatal(name, caption, **options)
            except Failure as failure:
                failures.append("%s: %s" % (name, failure))
        if failures:
            raise Failure("; ".join(failures))

    def case_wine_idle(self):
        """While the story waits for Space the player sleeps on its message queue, and
        wakes in time: the marker changes every 300 ms, a Space shows the next line and a
        resize is drawn within 30 ms."""
        folder = self.folder("wine-idle", script=idle.idle_script("scene.bmp"))
        scene, font, tile = (ex.load_bmp(os.path.join(folder, name))
                             for name in ("scene.bmp", "font.bmp", "transparency.bmp"))
        font = ex.Font(font)
        first = {bytes(ex.canvas(scene, font, idle.IDLE_LINES[:1], m)[0].pixels)
                 for m in ex.LINE_END}
        player = self.start("wine", folder)
        try:
            window = self.session.wait_main(player, story.TITLE, START_TIMEOUT)
            deadline = time.monotonic() + START_MATCH
            while self.display.screenshot(window).pixels not in first:
                if time.monotonic() > deadline:
                    raise Failure("the first line never showed as the Linux player shows it")
                time.sleep(0.1)
            self.session.note("wine " + idle.idle_timings(
                self.display, self.args.watch_helper, window, scene, font, tile))
        finally:
            player.stop()

    # ---- running ----------------------------------------------------------------

    def run(self):
        started = time.monotonic()
        story.make(self.master)
        case = self.session.case
        # Room for the windows of the partial-redraw case side by side.
        self.session.open_display(*story.SEAM_DISPLAY)
        try:
            case("linux reference frames", self.case_linux_reference)
            case("linux resize geometry", self.case_linux_resize)
            case("linux demo reference frames", self.case_linux_demo_reference)
            if case("wine prefix", self.make_prefix):
                case("wine frames equal linux frames", self.case_wine_matches_linux)
                case("wine demo frames equal linux frames", self.case_wine_demo_matches_linux)
                if self.args.packed:
                    case("wine packed demo frames equal linux frames", self.case_wine_packed_demo)
                case("wine resize geometry and close", self.case_wine_resize)
                case("wine partial redraws equal full ones", self.case_wine_partial_redraws)
                case("wine sleeps while waiting and wakes in time", self.case_wine_idle)
                case("wine fatal boxes", self.case_wine_fatal_boxes)
        finally:
            # Also when out of time: the Wine server outlives the players' process groups.
            self.wait_wineserver()
            self.session.close_display()
        print("wine end-to-end tests took %.0f s" % (time.monotonic() - started))
        return self.session.finish()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--windows", required=True, help="the 64-bit bexu.exe")
    parser.add_argument("--linux", required=True, help="the Linux bexu")
    parser.add_argument("--watch-helper", required=True,
                        help="tests/linux/helper/watch_window, built (e2e_watch_window)")
    parser.add_argument("--out", default=None, help="screenshots and logs go here")
    parser.add_argument("--packed", default=None,
                        help="the demo's release zip, packed with the 64-bit player")
    parser.add_argument("--demo", default=os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                       "..", "..", "examples", "demo"),
                        help="the demo story's folder")
    parser.add_argument("--time-limit", type=int, default=840,
                        help="seconds for the whole run, after which everything started ends")
    args = parser.parse_args()
    args.windows = os.path.abspath(args.windows)
    args.linux = os.path.abspath(args.linux)
    args.watch_helper = os.path.abspath(args.watch_helper)
    args.demo = os.path.abspath(args.demo)
    if args.packed:
        args.packed = os.path.abspath(args.packed)
    for path in (args.windows, args.linux, args.watch_helper) + \
            ((args.packed,) if args.packed else ()):
        if not os.path.isfile(path):
            print("missing player %s: build it first" % path)
            return 1
    return harness.run_suite(
        "bexu-wine-", args.out, args.time_limit,
        lambda work, out: Suite(args, work, harness.Session(out, "wine")).run())


if __name__ == "__main__":
    sys.exit(main())
