#!/usr/bin/python3
"""End-to-end tests of the web player in headless Chromium, over its DevTools
protocol, with the pages served on 127.0.0.1.

Usage: run_web.py --build build-web --headless build/bexu-headless --pack build/bexu-pack
                  --demo examples/demo [--check build/bexu-check] [--out DIR] [--case NAME ...]

Each story's page is the web archive bexu-pack makes of it, unpacked.

The demo is played at several canvas sizes; at every key wait the canvas must equal,
pixel for pixel, one of the frames the native headless player shows in the same wait,
and the frames must follow each other as they do there (the marker's sequence).
"""

import argparse
import itertools
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))

import browser  # noqa: E402
import cases  # noqa: E402
import decode_corpus  # noqa: E402
import native  # noqa: E402
import story as story_files  # noqa: E402  (BMP and WAV writing of the shared fixtures)
from browser import Failure  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
START_TICK = 100000
DEMO_TITLE = "The Keeper of Gull Rock"
DEMO_FILE_TITLE = "The-Keeper-of-Gull-Rock"
STATE_TIMEOUT = 8.0  # seconds for a key wait to show: the longest timed wait is 2.6 s
SAMPLES = 6  # canvas captures per key wait, about 60 ms apart
MEMORY_CAP = 256 << 20
SEAM_SETTLE = 0.2  # seconds for a key or a resize to show


class KeptCanvas:
    """A canvas kept in the page: equal to another whose pixels agree with it outside the
    rectangles cleared when both were kept."""

    def __init__(self, page, slot, digest):
        self.page, self.slot, self.digest = page, slot, digest

    def __eq__(self, other):
        return self.digest == other.digest

    def pixels(self):
        return self.page.canvas_pixels(slot=self.slot)[2]
MARKER_INTERVAL_MS = 300
MARKER_TOLERANCE_MS = 40
PROMPT_MS = 30
IDLE_LINES = ["Line %d" % number for number in range(1, 9)]

# Times, in the page's own clock, of each key-down and window resize as the page first hears
# of it (before the player's handlers), and of each put of pixels on the canvas: [time, first
# row, rows, canvas width, canvas height, hash of the marker's cell at window.__cell].
TIMING = """
(() => {
  window.__keys = []; window.__resizes = []; window.__puts = [];
  addEventListener("keydown", () => window.__keys.push(performance.now()), true);
  addEventListener("resize", () => window.__resizes.push(performance.now()), true);
  const put = CanvasRenderingContext2D.prototype.putImageData;
  CanvasRenderingContext2D.prototype.putImageData = function(image, x, y, dx, dy, dw, dh) {
    const result = put.apply(this, arguments);
    let hash = 0;
    const cell = window.__cell;
    if (cell && image.width >= cell[0] + 25 && image.height >= cell[1] + 33) {
      for (let row = cell[1]; row < cell[1] + 33; ++row)
        for (let i = (row * image.width + cell[0]) * 4, end = i + 100; i < end; ++i)
          hash = (Math.imul(hash, 31) + image.data[i]) | 0;
    }
    window.__puts.push([performance.now(), dy === undefined ? 0 : dy,
                        dh === undefined ? image.height : dh, image.width, image.height, hash]);
    return result;
  };
})();
"""

# What the page tells of its loading: bytes loaded, the total, whether it is hidden, its text.
PROGRESS = ("[document.getElementById('bexu-progress').value,"
            " document.getElementById('bexu-progress').max,"
            " document.getElementById('bexu-loading').hidden,"
            " document.getElementById('bexu-loading-text').textContent]")
# Records the page's asking for the whole screen and for landscape, and lets them through.
FULLSCREEN_PROBE = """
(() => {
  window.__asked = [];
  const request = Element.prototype.requestFullscreen;
  Element.prototype.requestFullscreen = function() {
    window.__asked.push("fullscreen");
    return request.apply(this, arguments);
  };
  if (screen.orientation && screen.orientation.lock) {
    const lock = screen.orientation.lock.bind(screen.orientation);
    screen.orientation.lock = function(kind) {
      window.__asked.push("lock " + kind);
      return lock(kind);
    };
  }
})();
"""


class Suite(cases.Suite):
    def __init__(self, args, work):
        super().__init__(args, work, cases.Cases("web"))
        self.sites = os.path.join(work, "sites")
        os.makedirs(self.sites)
        self.server = browser.Server(self.sites)
        self.browser = browser.Browser(work)
        self.page = self.browser.open_page()

    def close(self):
        self.browser.close()
        self.server.close()

    # ---- pages ------------------------------------------------------------------

    def pack(self, story, out, options=("--force",)):
        """bexu-pack's three archives of `story` in `out` (the story as it is, errors and
        all, unless other options are given); returns the run."""
        stand_in = os.path.join(self.work, "stand-in.exe")
        if not os.path.exists(stand_in):
            with open(stand_in, "wb") as f:
                f.write(b"MZ" + bytes(62))
        return subprocess.run([self.args.pack, story, "--out", out, "--windows-player", stand_in,
                               "--web-player", self.args.build] + list(options),
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)

    def web_archive(self, story, out):
        """The web archive bexu-pack makes of `story`, written into `out`."""
        os.makedirs(out, exist_ok=True)
        run = self.pack(story, out)
        if run.returncode != 0:
            raise Failure("bexu-pack failed: %s" % run.stdout.decode("latin-1"))
        archives = [n for n in os.listdir(out) if n.endswith("-web.zip")]
        if len(archives) != 1:
            raise Failure("no single web archive among %s" % os.listdir(out))
        return os.path.join(out, archives[0])

    def site(self, name, story, edit=None):
        """A page of its own for `story`: its web archive unpacked. `edit(folder)` may
        change the page's files first. Returns the page's URL."""
        archive = self.web_archive(story, os.path.join(self.work, "archives", name))
        out = os.path.join(self.sites, name)
        with zipfile.ZipFile(archive) as z:
            z.extractall(out)
        if edit is not None:
            edit(out)
        return self.server.url(name + "/index.html?start-tick=%d" % START_TICK)

    def open(self, url, width=1600, height=900, scale=1):
        self.page.size(width, height, scale)
        self.page.navigate(url)
        self.page.wait_for("typeof Module == 'object' && Module.calledRun", 10, "the player to run")

    def exit_code(self):
        return self.page.evaluate("document.documentElement.getAttribute('data-bexu-exit')")

    def wait_exit(self, code, timeout=5):
        self.page.wait_for("document.documentElement.getAttribute('data-bexu-exit') !== null",
                           timeout, "the play to end")
        if self.exit_code() != str(code):
            raise Failure("exit code %s, expected %d" % (self.exit_code(), code))

    def lines(self):
        return self.page.evaluate(
            "Array.from(document.querySelectorAll('#bexu-lines p'), p => p.textContent)")

    # ---- key waits against the native frames -----------------------------------

    def report_mismatch(self, wait, name):
        width, height, rgb = self.page.canvas_pixels()
        best = None
        for w, h, reference in wait.pixels.values():
            if (w, h) != (width, height):
                continue
            differing = sum(1 for i in range(0, len(rgb), 3) if rgb[i:i + 3] != reference[i:i + 3])
            best = differing if best is None else min(best, differing)
        path = os.path.join(self.args.out, name + ".ppm")
        with open(path, "wb") as f:
            f.write(b"P6\n%d %d\n255\n" % (width, height) + rgb)
        return "canvas %dx%d differs from every native frame (closest: %s pixels); saved %s" % (
            width, height, best, path)

    def match_wait(self, wait, name, timeout=STATE_TIMEOUT):
        """Waits until the canvas shows one of the wait's native frames, then checks
        that each capture is one of them and follows the one before."""
        end = time.monotonic() + timeout
        while True:
            digest = self.page.canvas_digest()[2]
            if digest in wait.pixels:
                break
            if time.monotonic() > end:
                raise Failure("%s: %s" % (name, self.report_mismatch(wait, name)))
            time.sleep(0.05)
        seen = {digest}
        taken = time.monotonic()
        for _ in range(SAMPLES):
            time.sleep(0.06)
            following = self.page.canvas_digest()[2]
            now = time.monotonic()
            if following not in wait.pixels:
                raise Failure("%s: %s" % (name, self.report_mismatch(wait, name)))
            # A marker frame lasts 300 ms: a busy machine that took longer between two
            # captures may have missed one.
            steps = 1 + int((now - taken) / 0.3)
            if not wait.follows(digest, following, steps):
                raise Failure("%s: the marker went out of its sequence" % name)
            digest, taken = following, now
            seen.add(digest)
        return len(seen)

    def play_demo(self, width, height, advance):
        """Plays the demo at width x height; advance(index) moves on from key wait `index`."""
        pages = native.demo_lines(os.path.join(self.args.demo, "script.bexu"))
        waits = native.key_waits(self.args.headless, self.args.demo, (width, height),
                                 len(pages), START_TICK)
        self.open(self.demo_url, width, height)
        # The title comes with init.bexc, which the page may still be loading.
        try:
            self.page.wait_for("document.title == %r" % DEMO_TITLE, 5, "the story's title")
        except Failure:
            pass
        title = self.page.evaluate("document.title")
        if title != DEMO_TITLE:
            raise Failure("title %r, expected %r" % (title, DEMO_TITLE))
        for index, wait in enumerate(waits):
            self.match_wait(wait, "demo-%dx%d-wait-%d" % (width, height, index + 1))
            shown = self.lines()
            expected = pages[index]
            if len(shown) != len(expected) or any(
                    e is not None and e != s for e, s in zip(expected, shown)):
                raise Failure("wait %d: live region holds %r, expected %r" % (index + 1, shown,
                                                                               expected))
            advance(index)
        self.wait_exit(0)
        if self.page.evaluate("document.getElementById('bexu-end').hidden"):
            raise Failure("no 'The end' after the play ran out")
        self.notes.append("demo at %dx%d: %d key waits equal to the native frames" %
                          (width, height, len(waits)))

    # ---- the cases ---------------------------------------------------------------

    def case_play_1600x900(self):
        """Space advances; a Space in the timed wait after wait 3 is dropped; a key
        repeat advances too."""
        def advance(index):
            if index == 2:
                self.page.key_space()
                time.sleep(0.5)  # inside the 1.8 s wait: dropped
                self.page.key_space()
                return
            self.page.key_space(repeat=index == 5)
        self.play_demo(1600, 900, advance)

    def case_play_1200x900(self):
        """A click on the canvas advances as Space does."""
        self.play_demo(1200, 900, lambda index: self.page.click(600, 450))

    def case_play_1920x1080(self):
        self.play_demo(1920, 1080, lambda index: self.page.key_space())

    def case_resize(self):
        """Resizes keep the canvas's shape and paint the tiled bars, as natively; a
        device pixel ratio of 2 doubles the backing store."""
        self.open(self.demo_url, 1600, 900)
        for width, height in ((1600, 450), (500, 900), (803, 900), (1600, 950)):
            wait = native.key_waits(self.args.headless, self.args.demo, (width, height), 1,
                                    START_TICK)[0]
            self.page.size(width, height)
            self.match_wait(wait, "resize-%dx%d" % (width, height))
        wait = native.key_waits(self.args.headless, self.args.demo, (1600, 900), 1, START_TICK)[0]
        self.page.size(800, 450, 2)
        self.match_wait(wait, "resize-800x450-ratio-2")

    def case_seams(self):
        """In canvases scaled down and up, with bars beside and above and below, a line added
        or a marker change shows what a full repaint of the same state shows (after a
        resize away and back)."""
        url = self.site("seams", story_files.make_seam_story(os.path.join(self.work, "seams")))
        failures = []
        slots = itertools.cycle(["partial", "full"])  # kept in the page until compared
        for width, height in story_files.SEAM_SIZES:
            self.open(url, width, height)
            self.page.wait_for("document.querySelectorAll('#bexu-lines p').length == 1", 5,
                               "the first line")
            time.sleep(SEAM_SETTLE)

            def advance(lines):
                # The page's live region takes the dialogue in the frame that draws it.
                self.page.key_space()
                self.page.wait_for("document.querySelectorAll('#bexu-lines p').length == %d"
                                   % len(lines), 5, "%d lines" % len(lines))

            def shots(lines):
                slot = next(slots)
                cleared = story_files.cell_footprints(story_files.marker_cells(lines), width,
                                                      height)
                kept = self.page.keep_canvas(slot, cleared)
                if kept[:2] != (width, height):
                    raise Failure("a canvas of %dx%d in a page of %dx%d" % (kept[0], kept[1],
                                                                            width, height))
                return [KeptCanvas(self.page, slot, kept[2])]

            def repaint():
                self.page.size(width - 37, height - 23)
                time.sleep(SEAM_SETTLE)
                self.page.size(width, height)
                time.sleep(SEAM_SETTLE)

            def save(name, shown_width, shown_height, rgb):
                with open(os.path.join(self.args.out, name + ".ppm"), "wb") as f:
                    f.write(b"P6\n%d %d\n255\n" % (shown_width, shown_height) + rgb)

            failures += story_files.play_seam_states([(width, height)], advance, shots, repaint,
                                                     save, KeptCanvas.pixels, slow_pixels=True)
            self.page.key_space()
            self.wait_exit(0)
        if failures:
            raise Failure("; ".join(failures))

    def case_missing_script(self):
        # bexu-pack packs no story without a script: the story data loses its script here.
        def lose_script(folder):
            path = os.path.join(folder, "story.bexw")
            with open(path, "rb") as f:
                data = f.read()
            with open(path, "wb") as f:
                f.write(data.replace(b"script.bexu", b"script.lost", 1))
        url = self.site("missing-script", native.story(os.path.join(self.work, "missing"),
                                                       "{0[say~a]}", self.args.demo),
                        lose_script)
        self.open(url)
        self.expect_box("Filenotfound", "script.bexu could not be located.")
        if self.page.evaluate("document.getElementById('canvas').style.visibility") == "visible":
            raise Failure("the canvas shows before the script was found")

    def case_bad_scene(self):
        folder = native.story(os.path.join(self.work, "bad-scene"), "{0[say~Next: a bad scene]"
                              "[cg~bad.bmp][say~never]}", self.args.demo,
                              {"bad.bmp": b"BM" + b"\x00" * 40})
        self.open(self.site("bad-scene", folder))
        self.page.wait_for("document.querySelectorAll('#bexu-lines p').length == 1", 5,
                           "the first line")
        title = self.page.evaluate("document.title")
        if title != "Bexu Game":
            raise Failure("title without init.bexc is %r" % title)
        self.page.key_space()
        self.expect_box("Error", "Failed to load scene.", by_key=True)

    def expect_box(self, caption, text, by_key=False):
        self.page.wait_for("!document.getElementById('bexu-box').hidden", 5, "the message box")
        shown = self.page.evaluate("[document.getElementById('bexu-box-caption').textContent,"
                                   " document.getElementById('bexu-box-text').textContent]")
        if shown != [caption, text]:
            raise Failure("box says %r, expected %r" % (shown, [caption, text]))
        time.sleep(0.3)
        if self.exit_code() is not None:
            raise Failure("the play ended before OK was pressed")
        if by_key:
            # The box has the focus: Space presses its OK.
            self.page.key_space()
        else:
            box = self.page.evaluate("(() => { const r = document.getElementById('bexu-box-ok')"
                                     ".getBoundingClientRect(); return [r.x + r.width / 2,"
                                     " r.y + r.height / 2]; })()")
            self.page.click(*box)
        self.wait_exit(1)

    def case_archive(self):
        """<Title>-web.zip holds the page's files and the story data, and plays unpacked
        anywhere."""
        archive = os.path.join(self.work, "archives", "demo", DEMO_FILE_TITLE + "-web.zip")
        with zipfile.ZipFile(archive) as z:
            names = z.namelist()
            z.extractall(os.path.join(self.sites, "unpacked"))
        wanted = ["README.txt", "bexu.js", "bexu.wasm", "index.html", "story.bexw"]
        if names != wanted:
            raise Failure("archive holds %r, expected %r" % (names, wanted))
        self.open(self.server.url("unpacked/index.html"))
        self.page.wait_for("document.querySelectorAll('#bexu-lines p').length == 1", 5,
                           "the first line")
        if self.page.evaluate("document.title") != DEMO_TITLE:
            raise Failure("the unpacked page's title is %r" % self.page.evaluate("document.title"))

    def case_page_failures(self):
        """A page opened from a file, or whose story data does not come, says so in the box."""
        site = os.path.join(self.sites, "demo")
        self.page.navigate("file://" + os.path.join(site, "index.html"))
        self.page.wait_for("!document.getElementById('bexu-box').hidden", 5, "the file:// box")
        text = self.page.evaluate("document.getElementById('bexu-box-text').textContent")
        if "web server" not in text or self.exit_code() != "1":
            raise Failure("file:// page says %r, exit %s" % (text, self.exit_code()))
        broken = os.path.join(self.sites, "no-data")
        shutil.copytree(site, broken)
        os.remove(os.path.join(broken, "story.bexw"))
        self.page.navigate(self.server.url("no-data/index.html"))
        self.page.wait_for("!document.getElementById('bexu-box').hidden", 5, "the box")
        text = self.page.evaluate("document.getElementById('bexu-box-text').textContent")
        if "story.bexw" not in text or self.exit_code() != "1":
            raise Failure("page without its data says %r, exit %s" % (text, self.exit_code()))

    def case_page_texts(self):
        """The title's bytes in the stories' code page; the live region leaves out what the
        font cannot draw, takes each line as it comes and is emptied by a page turn; keys
        other than Space do nothing."""
        folder = native.story(os.path.join(self.work, "texts"),
                              "{0[say~Caf\xe9 |tab|\there\x01!][say~two\nlines][turn~page]"
                              "[say~after the turn]}", self.args.demo,
                              {"init.bexc": "Caf\xe9 \x80 story".encode("latin-1")})
        self.open(self.site("texts", folder))
        self.page.wait_for("document.querySelectorAll('#bexu-lines p').length == 1", 5,
                           "the first line")
        title = self.page.evaluate("document.title")
        if title != "Caf\xe9 \u20ac story":
            raise Failure("title %r" % title)
        # Other keys do nothing: Return, a letter and an arrow leave the wait as it is.
        for key, code, virtual in (("Enter", "Enter", 13), ("a", "KeyA", 65),
                                   ("ArrowDown", "ArrowDown", 40)):
            self.page.key(key, code, virtual)
        time.sleep(0.3)
        expected = [["Caf tabhere!"], ["Caf tabhere!", "two", "lines"], ["after the turn"]]
        for index, lines in enumerate(expected):
            if index > 0:
                self.page.key_space()
            self.page.wait_for("document.querySelectorAll('#bexu-lines p').length == %d" %
                               len(lines), 5, "%d lines" % len(lines))
            time.sleep(0.1)
            if self.lines() != lines:
                raise Failure("live region %r, expected %r" % (self.lines(), lines))

    def case_hostile(self):
        """A scene claiming 3,000,000 x 2,000,000 pixels is refused; a wave claiming
        4 GiB plays what it holds."""
        folder = native.story(os.path.join(self.work, "huge-wave"),
                              "{0[play~huge.wav][say~still here]}", self.args.demo,
                              {"huge.wav": native.wave_claiming(0xFFFFFFF0)})
        self.open(self.site("huge-wave", folder))
        self.page.wait_for("document.querySelectorAll('#bexu-lines p').length == 1", 5,
                           "the line after the sound")
        self.page.key_space()
        self.wait_exit(0)
        folder = native.story(os.path.join(self.work, "huge-bmp"),
                              "{0[cg~huge.bmp][say~never]}", self.args.demo,
                              {"huge.bmp": story_files.huge_rle_bmp(3000000, 2000000)})
        self.open(self.site("huge-bmp", folder))
        self.expect_box("Error", "Failed to load scene.")

    def case_memory_cap(self):
        """Memory grows up to the cap and no further: a 48 MB scene loads, a 260 MB one,
        which the native player loads, is refused without a crash."""
        folder = native.story(os.path.join(self.work, "big-scenes"),
                              "{0[cg~big.bmp][say~big loaded][cg~bigger.bmp][say~never]}",
                              self.args.demo, {"big.bmp": story_files.huge_rle_bmp(4000, 3000),
                                               "bigger.bmp": story_files.huge_rle_bmp(10000, 6500)})
        native_run = subprocess.run([self.args.headless], cwd=folder, timeout=60,
                                    env=dict(os.environ, BEXU_HEADLESS_KEYS="1000",
                                             BEXU_HEADLESS_LIMIT="3000"),
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if native_run.returncode != 3:  # held at the last wait until the time limit
            raise Failure("the native player did not load the 260 MB scene (exit %d)" %
                          native_run.returncode)
        self.open(self.site("big-scenes", folder))
        self.page.wait_for("document.querySelectorAll('#bexu-lines p').length == 1", 5,
                           "the 48 MB scene")
        self.page.key_space()
        self.expect_box("Error", "Failed to load scene.")
        memory = self.page.evaluate("HEAPU8.length")
        if memory > MEMORY_CAP:
            raise Failure("wasm memory grew to %d bytes, over the cap" % memory)
        self.notes.append("memory cap: %d MiB in use when the 260 MB scene was refused" %
                          (memory >> 20))

    def listen(self):
        """What the analyser hears: the context's state, the loudest frequency in Hz,
        the levels (dB) at 440 and 3000 Hz, and the largest sample."""
        return self.page.evaluate(
            "(() => { const a = Module.bexuAudio; if (!a || !a.context) return null;"
            " const n = a.analyser; const f = new Float32Array(n.frequencyBinCount);"
            " n.getFloatFrequencyData(f); const t = new Float32Array(n.fftSize);"
            " n.getFloatTimeDomainData(t); let peak = 0;"
            " for (let i = 1; i < f.length; ++i) if (f[i] > f[peak]) peak = i;"
            " const hz = a.context.sampleRate / n.fftSize;"
            " return [a.context.state, peak * hz, f[Math.round(440 / hz)],"
            " f[Math.round(3000 / hz)], Math.max(...t.map(Math.abs))]; })()")

    def hear(self, what, check, timeout=4):
        end = time.monotonic() + timeout
        heard = None
        while time.monotonic() < end:
            heard = self.listen()
            if heard is not None and check(heard):
                return heard
            time.sleep(0.1)
        raise Failure("never heard %s; last heard %r" % (what, heard))

    def case_sound(self):
        """No audio before the first gesture; then the sound asked for meanwhile plays
        on, and a second sound replaces the first (IMA and MS ADPCM files)."""
        self.open(self.demo_url)
        self.page.wait_for("document.querySelectorAll('#bexu-lines p').length == 1", 5,
                           "the first line")
        if self.listen() is not None:
            raise Failure("an audio context before any key press")
        self.page.key_space()
        self.hear("the demo's waves after the first key",
                  lambda h: h[0] == "running" and h[4] > 0.01)
        folder = native.story(os.path.join(self.work, "sounds"),
                              "{0[say~zero][play~low.wav][say~one][play~high.wav][say~two]}",
                              self.args.demo)
        for name, encoding, tone in (("low.wav", "ms-adpcm", "440"),
                                     ("high.wav", "ima-adpcm", "3000")):
            subprocess.run(["sox", "-D", "-n", "-r", "22050", "-c", "1", "-e", encoding,
                            os.path.join(folder, name), "synth", "8", "sine", tone, "vol",
                            "0.5"], check=True)
        self.open(self.site("sounds", folder))
        self.page.wait_for("document.querySelectorAll('#bexu-lines p').length == 1", 5,
                           "the first line")
        self.page.key_space()
        low = self.hear("440 Hz", lambda h: h[0] == "running" and abs(h[1] - 440) < 30)
        self.page.key_space()
        # The 440 Hz tone stopped: what is left there is the ADPCM noise of the new one.
        # Measured against the 3000 Hz level, since the analyser's smoothing may have
        # caught the 440 Hz tone still rising; both playing at once differ by ~13 dB.
        high = self.hear("3000 Hz alone",
                         lambda h: abs(h[1] - 3000) < 30 and h[2] < h[3] - 25)
        self.notes.append("sound: 440 Hz at %.0f dB, then 3000 Hz at %.0f dB with 440 Hz at "
                          "%.0f dB" % (low[2], high[3], high[2]))

    # ---- while the story waits ------------------------------------------------------

    def case_idle(self):
        """While the story waits for Space the page sleeps, and wakes in time: the marker
        changes every 300 ms, a Space shows the next line and a resize is drawn within
        30 ms (medians of six), in the page's own clock."""
        script = "{0[cg~night.bmp]%s}" % "".join("[say~%s]" % line for line in IDLE_LINES)
        folder = native.story(os.path.join(self.work, "idle"), script, self.args.demo,
                              keep=("font.bmp", "transparency.bmp", "night.bmp"))
        url = self.site("idle", folder)
        script_id = self.page.send("Page.addScriptToEvaluateOnNewDocument",
                                   source=TIMING)["identifier"]
        try:
            self.open(url)
            self.page.wait_for("document.querySelectorAll('#bexu-lines p').length == 1", 5,
                               "the first line")
            self.page.evaluate("window.__cell = [%d, 0]" % (25 * len(IDLE_LINES[0])))
            time.sleep(0.4)
            self.page.evaluate("window.__puts = []")
            time.sleep(2.4)
            intervals = self.marker_intervals(self.page.evaluate("window.__puts"))
            spaces = []
            # The first Space is the page's first gesture, which also starts its sound.
            for count in range(2, 9):
                self.page.evaluate("window.__puts = []; window.__keys = []")
                self.page.key_space()
                self.page.wait_for("document.querySelectorAll('#bexu-lines p').length == %d"
                                   % count, 5, "line %d" % count)
                time.sleep(0.1)
                keys, puts = self.page.evaluate("[window.__keys, window.__puts]")
                # Only rows that changed are put: those of the new line's glyphs.
                row = (count - 1) * 33
                shown = [p[0] for p in puts if p[1] < row + 33 and p[1] + p[2] > row]
                if not keys or not shown:
                    raise Failure("line %d: no key-down heard or no put of its rows" % count)
                if count > 2:
                    spaces.append(round(shown[0] - keys[0]))
                time.sleep(0.15)
            # Small sizes, the canvas scaled, cost the least to draw: what is timed is how soon
            # the page wakes to the resize.
            resizes = []
            for _ in range(6):
                self.page.size(320, 200)
                time.sleep(0.3)
                self.page.evaluate("window.__puts = []; window.__resizes = []")
                self.page.size(400, 250)
                self.page.wait_for("window.__puts.some(p => p[4] == 250 && p[2] == 250)", 5,
                                   "the canvas drawn at 400x250")
                resized, puts = self.page.evaluate("[window.__resizes, window.__puts]")
                drawn = [p[0] for p in puts if p[4] == 250 and p[2] == 250]
                resizes.append(round(drawn[0] - resized[0]))
        finally:
            self.page.send("Page.removeScriptToEvaluateOnNewDocument", identifier=script_id)
        note = "idle: marker intervals %s ms; Space to the next line %s ms; resize to drawn " \
            "%s ms" % (intervals, spaces, resizes)
        self.notes.append(note)
        for samples, what in ((spaces, "the next line after a Space"),
                              (resizes, "the canvas resized")):
            if statistics.median(samples) > PROMPT_MS:
                raise Failure("%s showed after %s ms, not within %d (median); %s"
                              % (what, samples, PROMPT_MS, note))

    @staticmethod
    def marker_intervals(puts):
        """The intervals between the puts of a key wait, each of the marker's cell alone, in
        turn of two pictures: the median within 40 ms of 300, and all but two, since a busy
        machine may be late once, which lengthens one interval and shortens the next."""
        strange = [p for p in puts if p[1] + p[2] > 33]
        pictures = {p[5] for p in puts}
        if strange or len(pictures) != 2:
            raise Failure("while waiting the page put %s" % puts)
        times = [p[0] for p in puts]
        intervals = [round(b - a) for a, b in zip(times, times[1:])]
        off = [i for i in intervals if abs(i - MARKER_INTERVAL_MS) > MARKER_TOLERANCE_MS]
        if len(intervals) < 5 or len(off) > 2 or \
                abs(statistics.median(intervals) - MARKER_INTERVAL_MS) > MARKER_TOLERANCE_MS:
            raise Failure("the marker changed after %s ms, not every %d (within %d)"
                          % (intervals, MARKER_INTERVAL_MS, MARKER_TOLERANCE_MS))
        return intervals
    # ---- loading over a slow link --------------------------------------------------

    def scene_state(self, name):
        return self.page.evaluate("Module.bexuStory.entries.get(%r).state" % name)

    def case_loading(self):
        """Over a 1.6 Mbit/s link, three truecolour scenes of 4.3 MB: the progress bar
        tells the bytes loaded of the total and moves; the first picture, equal to the
        native player's, shows before the last scene has come; a cg of a scene still on
        its way holds the frame until the scene comes, then shows the native frame."""
        folder = native.scenes_story(os.path.join(self.work, "scenes"), self.args.demo)
        waits = native.key_waits(self.args.headless, folder, (1600, 900), 3, START_TICK)
        url = self.site("scenes", folder)
        total = os.path.getsize(os.path.join(self.sites, "scenes", "story.bexw"))
        self.page.size(1600, 900)
        self.page.throttle()
        try:
            started = time.monotonic()
            self.page.navigate(url)
            bars = []
            first = None
            while first is None:
                if time.monotonic() - started > 60:
                    raise Failure("no first picture within 60 s; the bar said %r" % bars[-1:])
                bars.append(self.page.evaluate(PROGRESS))
                if self.page.evaluate("!!(window.Module && Module.bexuContext)") and \
                        self.page.canvas_digest()[2] in waits[0].pixels:
                    first = time.monotonic() - started
                time.sleep(0.2)
            if self.scene_state("scene3.bmp") != "coming":
                raise Failure("the first picture came only after the last scene (%s)" %
                              self.scene_state("scene3.bmp"))
            told = [(loaded, most) for loaded, most, hidden, text in bars if most > 1]
            moved = sorted({loaded for loaded, _ in told})
            if len(moved) < 3 or any(most != total for _, most in told) or \
                    [loaded for loaded, _ in told] != sorted(loaded for loaded, _ in told):
                raise Failure("the progress bar said %r; the total is %d" % (told, total))
            if not any(" of %.1f MB" % (total / 1e6) in text for _, _, _, text in bars):
                raise Failure("the progress text said %r" % bars[-1][3])
            # A cg of a scene on its way: the frame holds, then the scene shows.
            if self.scene_state("scene2.bmp") != "coming":
                raise Failure("scene 2 came too soon to be waited for")
            self.page.key_space()
            held = 0
            while self.scene_state("scene2.bmp") == "coming":
                if self.page.canvas_digest()[2] not in waits[0].pixels:
                    raise Failure("the frame changed while scene 2 was on its way: %s" %
                                  self.report_mismatch(waits[0], "loading-held"))
                held += 1
                time.sleep(0.2)
            self.match_wait(waits[1], "loading-wait-2", timeout=30)
            self.page.key_space()
            self.match_wait(waits[2], "loading-wait-3", timeout=30)
            self.page.wait_for("document.getElementById('bexu-loading').hidden", 30,
                               "the progress bar to go when all is in")
            self.notes.append("loading at 1.6 Mbit/s: first picture after %.1f s, the bar at "
                              "%d steps, the frame held %d looks while scene 2 came" %
                              (first, len(moved), held))
        finally:
            self.page.unthrottle()

    def case_png_scenes(self):
        """Scenes that travel as PNG, one of a palette and one of true colour, come out of
        the browser's decoder as the very pixels the native player shows."""
        folder = native.story(os.path.join(self.work, "png"),
                              "{0[cg~blocks.bmp][say~Blocks.][cg~drawn.bmp][say~Drawn.]}",
                              self.args.demo)
        native.blocks_scene(os.path.join(folder, "blocks.bmp"), 5)
        native.truecolour_scene(os.path.join(folder, "drawn.bmp"), 4)
        waits = native.key_waits(self.args.headless, folder, (1600, 900), 2, START_TICK)
        self.open(self.site("png", folder))
        for index, wait in enumerate(waits):
            if index > 0:
                self.page.key_space()
            self.match_wait(wait, "png-wait-%d" % (index + 1))
        codings = self.page.evaluate("['blocks.bmp', 'drawn.bmp'].map(n =>"
                                     " Module.bexuStory.entries.get(n).coding)")
        if codings != [2, 2]:
            raise Failure("the scenes travelled in codings %r, not as PNG" % codings)
        with open(os.path.join(self.sites, "png", "story.bexw"), "rb") as f:
            data = f.read()
        start = data.index(b"\x89PNG")
        if data[start + 25] != 3:  # the first PNG's colour type: a palette
            raise Failure("the blocks' PNG has colour type %d, not a palette" % data[start + 25])

    def case_data_cut_short(self):
        """Story data that ends in the middle of a scene: what came plays, the progress
        text says the rest did not come, and the scene that never came is missing, so
        the player's own message shows."""
        scenes = {}
        for name in ("night.bmp", "dawn.bmp"):
            with open(os.path.join(self.args.demo, name), "rb") as f:
                scenes[name] = f.read()
        folder = native.story(os.path.join(self.work, "cut"),
                              "{0[cg~night.bmp][say~Night.][cg~dawn.bmp][say~Dawn.]}",
                              self.args.demo, scenes)

        def cut(site):
            path = os.path.join(site, "story.bexw")
            with open(path, "rb") as f:
                data = f.read()
            with open(path, "wb") as f:
                f.write(data[:len(data) - 1000])
        self.open(self.site("cut", folder, cut))
        self.page.wait_for("document.querySelectorAll('#bexu-lines p').length == 1", 10,
                           "the first line")
        self.page.wait_for("document.getElementById('bexu-loading-text').textContent =="
                           " 'The rest of the story could not be loaded.'", 10,
                           "the page to tell the rest did not come")
        self.page.key_space()
        self.expect_box("Error", "Failed to load scene.")

    # ---- phones ---------------------------------------------------------------------

    def turn_hint_shown(self):
        return self.page.evaluate("getComputedStyle(document.getElementById('bexu-turn'))"
                                  ".display != 'none'")

    def centre_of(self, element):
        return self.page.evaluate("(() => { const r = document.getElementById(%r)"
                                  ".getBoundingClientRect(); return [r.x + r.width / 2,"
                                  " r.y + r.height / 2]; })()" % element)

    def open_phone(self, width, height):
        """The demo on a phone's screen of width x height, at its first line."""
        self.page.phone(width, height)
        self.page.navigate(self.demo_url)
        self.page.wait_for("document.querySelectorAll('#bexu-lines p').length == 1", 10,
                           "the first line")

    def case_phone_portrait(self):
        """412 x 915 with touch: the hint to turn the phone shows, above the picture; the
        first tap on the picture reads on, starts the sound and takes the hint away; the
        fullscreen button asks for the whole screen and landscape, and reads nothing on."""
        self.page.send("Page.addScriptToEvaluateOnNewDocument", source=FULLSCREEN_PROBE)
        self.open_phone(412, 915)
        if not self.turn_hint_shown():
            raise Failure("no hint to turn the phone in portrait")
        hint = self.page.evaluate("document.getElementById('bexu-turn').getBoundingClientRect()"
                                  ".bottom")
        picture_top = (915 - 412 * 9 / 16) / 2
        if hint > picture_top:
            raise Failure("the hint (to %.0f px) covers the picture (from %.0f px)" %
                          (hint, picture_top))
        if self.page.evaluate("Module.bexuAudio && Module.bexuAudio.context") is not None:
            raise Failure("sound allowed before any tap")
        self.page.tap(206, 457)
        self.page.wait_for("document.querySelectorAll('#bexu-lines p').length == 2", 5,
                           "the tap to read on")
        if self.turn_hint_shown():
            raise Failure("the hint stayed after a tap")
        if not self.page.evaluate("!!(Module.bexuAudio && Module.bexuAudio.context)"):
            raise Failure("the first tap did not let the sound start")
        self.page.tap(*self.centre_of("bexu-fullscreen"))
        self.page.wait_for("window.__asked.length > 0", 5, "the page to ask for the screen")
        time.sleep(0.3)
        asked = self.page.evaluate("window.__asked")
        if asked != ["fullscreen", "lock landscape"]:
            raise Failure("the button asked for %r" % asked)
        if len(self.lines()) != 2:
            raise Failure("the fullscreen button read on: %r" % self.lines())

    def case_phone_landscape(self):
        """915 x 412 with touch: no hint; a tap reads on. A phone turned from portrait
        takes the hint away."""
        self.open_phone(915, 412)
        if self.turn_hint_shown():
            raise Failure("a hint to turn the phone in landscape")
        self.page.tap(457, 206)
        self.page.wait_for("document.querySelectorAll('#bexu-lines p').length == 2", 5,
                           "the tap to read on")
        self.open_phone(412, 915)
        if not self.turn_hint_shown():
            raise Failure("no hint to turn the phone in portrait")
        self.page.phone(915, 412)
        self.page.wait_for("getComputedStyle(document.getElementById('bexu-turn')).display"
                           " == 'none'", 5, "the hint to go when the phone is turned")
        self.page.phone(412, 915)
        time.sleep(0.3)
        if self.turn_hint_shown():
            raise Failure("the hint came back after the phone was turned")

    # ---- the stretch's paths -------------------------------------------------------

    def case_stretch_paths(self):
        """The smoothing stretch's wasm loops give the pixels of its SSE2 and portable
        ones, over enlargements and reductions of many sizes (bexu-stretch-paths)."""
        folder = os.path.join(self.sites, "stretch")
        os.makedirs(folder, exist_ok=True)
        for name in ("bexu-stretch-paths.js", "bexu-stretch-paths.wasm"):
            shutil.copy(os.path.join(self.args.build, name), folder)
        with open(os.path.join(folder, "index.html"), "w") as f:
            f.write("<!doctype html><script src='bexu-stretch-paths.js'></script>\n")
        self.page.navigate(self.server.url("stretch/index.html"))
        said = self.console_lines("stretch paths:", 60)[-1]
        if "equal" not in said:
            raise Failure(said)
        self.notes.append(said)

    # ---- one answer per file from every decoder --------------------------------------

    def checker_answers(self, folder, names):
        """The native checker's answer for each corpus file: the reason it gives for not
        loading it, or "loaded"."""
        lines = ["{0"] + [("[play~corpus/%s]" if name.endswith(".wav") else "[cg~corpus/%s]")
                          % name for name in names] + ["}"]
        with open(os.path.join(folder, "script.bexu"), "w") as f:
            f.write("\n".join(lines) + "\n")
        for name in ("font.bmp", "transparency.bmp"):
            shutil.copy(os.path.join(self.args.demo, name), folder)
        out = subprocess.run([self.args.check, "--json", folder], stdout=subprocess.PIPE,
                             timeout=120).stdout
        answers = {name: "loaded" for name in names}
        for finding in json.loads(out)["diagnostics"]:
            line = finding["line"]
            if finding["code"] in ("scene-unloadable", "sound-unreadable") and \
                    2 <= line < 2 + len(names):
                message = finding["message"]
                reason = message[message.index("(", message.index("does not load")) + 1:]
                answers[names[line - 2]] = reason[:reason.index(")")]
        return answers

    def case_decode_table(self):
        """The players' WAV and BMP decoders compiled to wasm give every file of the test
        corpora (decode_corpus.py) the answer and reason the native checker gives."""
        folder = os.path.join(self.work, "decode-table")
        corpus = os.path.join(folder, "corpus")
        decode_corpus.make(corpus, os.path.join(os.environ.get(
            "BEXU_TESTDATA_DIR", os.path.join(ROOT, "..", "shared", "testdata")), "bmpsuite"))
        names = sorted(name for name in os.listdir(corpus) if name.endswith((".wav", ".bmp")))
        wanted = self.checker_answers(folder, names)
        site = os.path.join(self.sites, "decode")
        os.makedirs(site)
        for name in ("bexu-decode-answers.js", "bexu-decode-answers.wasm"):
            shutil.copy(os.path.join(self.args.build, name), site)
        subprocess.run([sys.executable, "/usr/share/emscripten/tools/file_packager.py",
                        os.path.join(site, "corpus.data"), "--preload", corpus + "@/corpus",
                        "--js-output=" + os.path.join(site, "corpus.js"), "--no-node"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       env=dict(os.environ, NODE_PATH="/usr/share/nodejs"))
        with open(os.path.join(site, "index.html"), "w") as f:
            f.write("<!doctype html><script>var Module = {};</script>"
                    "<script src='corpus.js'></script>"
                    "<script src='bexu-decode-answers.js'></script>\n")
        self.page.navigate(self.server.url("decode/index.html"))
        said = self.console_lines("decode answers:", 60)
        answers = dict(line[len("decode answer: "):].rsplit(": ", 1) for line in said
                       if line.startswith("decode answer: "))
        if said[-1] != "decode answers: %d files" % len(names):
            raise Failure("bexu-decode-answers ended with %r for %d files" % (said[-1],
                                                                             len(names)))
        differing = ["%s: %s in wasm, %s natively" % (name, answers.get(name), wanted[name])
                     for name in names if answers.get(name) != wanted[name]]
        if differing:
            raise Failure("; ".join(differing))
        refused = sum(1 for answer in wanted.values() if answer != "loaded")
        self.notes.append("decode table: %d files, %d of them refused, the same answers in wasm "
                          "and natively" % (len(names), refused))

    def console_lines(self, last, timeout):
        """The page's console lines up to the first that starts with `last`."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            said = [str(e["params"]["args"][0].get("value", "")) for e in self.page.events
                    if e["method"] == "Runtime.consoleAPICalled"]
            finished = [i for i, line in enumerate(said) if line.startswith(last)]
            if finished:
                return said[:finished[0] + 1]
            self.page.evaluate("1")  # takes in the events that came meanwhile
            time.sleep(0.2)
        raise Failure("no console line %r in %d s" % (last, timeout))

    # ---- running -----------------------------------------------------------------

    def run(self, names):
        self.demo_url = self.site("demo", self.args.demo)
        return self.run_cases(names)


CASES = ["play_1600x900", "play_1200x900", "play_1920x1080", "resize", "missing_script",
         "bad_scene", "archive", "page_failures", "page_texts", "hostile", "memory_cap", "sound",
         "idle", "loading", "png_scenes", "data_cut_short", "phone_portrait", "phone_landscape",
         "stretch_paths", "decode_table", "seams"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True, help="build folder of the web preset")
    parser.add_argument("--headless", required=True, help="the native bexu-headless")
    parser.add_argument("--pack", required=True, help="the native bexu-pack")
    parser.add_argument("--check", default=None,
                        help="the native bexu-check (default: beside bexu-headless)")
    parser.add_argument("--demo", required=True)
    parser.add_argument("--out", default=None, help="where mismatching canvases are saved")
    parser.add_argument("--case", action="append", choices=CASES)
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.headless = os.path.abspath(args.headless)
    args.pack = os.path.abspath(args.pack)
    args.check = os.path.abspath(args.check or os.path.join(os.path.dirname(args.headless),
                                                             "bexu-check"))
    args.demo = os.path.abspath(args.demo)
    work = tempfile.mkdtemp(prefix="bexu-web-")
    args.out = os.path.abspath(args.out or os.path.join(work, "out"))
    os.makedirs(args.out, exist_ok=True)
    suite = Suite(args, work)
    try:
        suite.run(args.case or CASES)
    finally:
        suite.close()
        shutil.rmtree(work, ignore_errors=True)
    return 0 if suite.cases.finish() else 1


if __name__ == "__main__":
    sys.exit(main())
