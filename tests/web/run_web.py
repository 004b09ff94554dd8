#!/usr/bin/python3
"""End-to-end tests of the web player in headless Chromium, over its DevTools
protocol, with the pages served on 127.0.0.1.

Usage: run_web.py --build build-web --headless build/bexu-headless --demo examples/demo
                  [--check build/bexu-check] [--out DIR] [--case NAME ...]

The demo is played at several canvas sizes; at every key wait the canvas must equal,
pixel for pixel, one of the frames the native headless player shows in the same wait,
and the frames must follow each other as they do there (the marker's sequence).
"""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "wine"))

import browser  # noqa: E402
import decode_corpus  # noqa: E402
import native  # noqa: E402
import story as story_files  # noqa: E402  (BMP writing of the Wine tests)
from browser import Failure  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
START_TICK = 100000
DEMO_TITLE = "The Keeper of Gull Rock"
STATE_TIMEOUT = 8.0  # seconds for a key wait to show: the longest timed wait is 2.6 s
SAMPLES = 6  # canvas captures per key wait, about 60 ms apart
MEMORY_CAP = 256 << 20


class Suite:
    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.sites = os.path.join(work, "sites")
        os.makedirs(self.sites)
        self.server = browser.Server(self.sites)
        self.browser = browser.Browser(work)
        self.page = self.browser.open_page()
        self.notes = []

    def close(self):
        self.browser.close()
        self.server.close()

    # ---- pages ------------------------------------------------------------------

    def site(self, name, story):
        """Packs `story` into a page of its own with scripts/web.sh; returns its URL."""
        out = os.path.join(self.sites, name)
        env = dict(os.environ, BEXU_WEB_BUILD=self.args.build)
        subprocess.run(["bash", os.path.join(ROOT, "scripts", "web.sh"), story, out], env=env,
                       check=True, stdout=subprocess.DEVNULL, timeout=300)
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

    def match_wait(self, wait, name):
        """Waits until the canvas shows one of the wait's native frames, then checks
        that each capture is one of them and follows the one before."""
        end = time.monotonic() + STATE_TIMEOUT
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

    def case_missing_script(self):
        url = self.site("missing-script", native.story(os.path.join(self.work, "missing"), None,
                                                       self.args.demo))
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
        """<Title>-web.zip holds the page's five files and plays unpacked anywhere."""
        archive = os.path.join(self.sites, "demo", DEMO_TITLE + "-web.zip")
        with zipfile.ZipFile(archive) as z:
            names = sorted(z.namelist())
            z.extractall(os.path.join(self.sites, "unpacked"))
        wanted = ["bexu.js", "bexu.wasm", "index.html", "story.data", "story.js"]
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
        os.remove(os.path.join(broken, "story.data"))
        self.page.navigate(self.server.url("no-data/index.html"))
        self.page.wait_for("!document.getElementById('bexu-box').hidden", 5, "the box")
        text = self.page.evaluate("document.getElementById('bexu-box-text').textContent")
        if "story.data" not in text or self.exit_code() != "1":
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
        return browser.run_cases(self, names)


CASES = ["play_1600x900", "play_1200x900", "play_1920x1080", "resize", "missing_script",
         "bad_scene", "archive", "page_failures", "page_texts", "hostile", "memory_cap", "sound",
         "stretch_paths", "decode_table"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True, help="build folder of the web preset")
    parser.add_argument("--headless", required=True, help="the native bexu-headless")
    parser.add_argument("--check", default=None,
                        help="the native bexu-check (default: beside bexu-headless)")
    parser.add_argument("--demo", required=True)
    parser.add_argument("--out", default=None, help="where mismatching canvases are saved")
    parser.add_argument("--case", action="append", choices=CASES)
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    args.headless = os.path.abspath(args.headless)
    args.check = os.path.abspath(args.check or os.path.join(os.path.dirname(args.headless),
                                                             "bexu-check"))
    args.demo = os.path.abspath(args.demo)
    work = tempfile.mkdtemp(prefix="bexu-web-")
    args.out = os.path.abspath(args.out or os.path.join(work, "out"))
    os.makedirs(args.out, exist_ok=True)
    suite = Suite(args, work)
    try:
        failures = suite.run(args.case or CASES)
    finally:
        suite.close()
        shutil.rmtree(work, ignore_errors=True)
    print("%d of %d web cases failed" % (failures, len(args.case or CASES)) if failures else
          "all %d web cases passed" % len(args.case or CASES))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
