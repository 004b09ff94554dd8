#!/usr/bin/python3
"""End-to-end tests of bexu studio in headless Chromium, over its DevTools protocol,
the site served on 127.0.0.1 (by a server of this process, or by bexu-studio).

Usage: run_studio.py --site build-web/studio --tools build --demo examples/demo
                     [--out DIR] [--case NAME ...]

Stories are opened through the page's folder input, as an author who picks a folder.
What the page shows is held against the native tools run on the same folder: the
findings against bexu-check's output, the pages against bexu-shot's PNGs pixel for
pixel, the archives against bexu-pack's byte for byte; the exported Linux archive is
played under Xvfb through its launcher (tests/linux/run_pack_e2e.py).
"""

import argparse
import ctypes
import http.client
import io
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

from PIL import Image  # Debian's python3-pil

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "fixtures"))

import browser  # noqa: E402
import cases  # noqa: E402
import native  # noqa: E402
from browser import Failure  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(HERE))
SHOT_SEED = 100000
READY_TIMEOUT = 60  # seconds for a story to be checked and pictured, on a busy machine
PLAYER = "document.querySelector('#player-frame iframe.playing')"
PLAYER_CANVAS = PLAYER + ".contentDocument.getElementById('canvas')"
PLAYER_LINES = ("Array.from(" + PLAYER + ".contentDocument.querySelectorAll('#bexu-lines p'),"
                " p => p.textContent)")

# A story full of the checker's traps: keywords inside names, stutters that never
# stammer, UTF-8, backslashes, missing and outside sounds, brackets and braces inside
# commands, an unclosed command, a scene named in the wrong case (which stops the Linux
# player) and one that is not a bitmap, a stray brace, a title with a line break.
TRAP_SCRIPT = (
    b"{0\n"
    b"  [cg~harbour.bmp]\n"
    b"  [say~Ahoy!]\n"
    b"  [essay~Who goes there?]\n"
    b"  [wait~1 second]\n"
    b"  [stutter~I/I don't know.]\n"
    b"  [stutter1~Never stammers]\n"
    b"  [sya~typo]\n"
    b"  [say~Caf\xc3\xa9 \xe2\x80\x9cquoted\xe2\x80\x9d]\n"
    b"  [play~sounds\\bell.wav]\n"
    b"  [play~missing.wav]\n"
    b"  [play~../outside.wav]\n"
    b"  [turn~Page]\n"
    b"  [say~a [b] c]\n"
    b"  [say~A line far longer than the sixty-four glyphs that the page holds across, cut.]\n"
    b"  [say~tab\there\x01]\n"
    b"  [nothing~at all]\n"
    b"  [say~unclosed\n"
    b"  [say~next]\n"
    b"}\n"
    b"{1 [say~Before the bad scene] [cg~Harbour.bmp] [cg~notabitmap.bmp]"
    b" [say~Tea, 2 sugars {please}]"
    b" [turn~page]}\n"
    b"{ note {\n"
    b"{3 [say~The end.]}\n")


def trap_story(folder, demo):
    native.story(folder, TRAP_SCRIPT.decode("latin-1"), demo,
                 {"init.bexc": b"Traps\n", "notabitmap.bmp": b"not a bitmap\n"})
    os.makedirs(os.path.join(folder, "sounds"), exist_ok=True)
    shutil.copy(os.path.join(demo, "harbour.bmp"), folder)
    shutil.copy(os.path.join(demo, "bell.wav"), os.path.join(folder, "sounds"))
    return folder


def png_rgb(data):
    """(width, height, RGB bytes) of a PNG."""
    image = Image.open(io.BytesIO(data))
    return image.width, image.height, image.convert("RGB").tobytes()


def differing(a, b):
    return sum(1 for i in range(0, min(len(a), len(b)), 3) if a[i:i + 3] != b[i:i + 3])


class OpenWatch:
    """Every open and read of the files in a folder, through inotify (ctypes)."""

    IN_ACCESS = 0x1
    IN_OPEN = 0x20

    def __init__(self, folder):
        self.libc = ctypes.CDLL(None, use_errno=True)
        self.fd = self.libc.inotify_init1(os.O_NONBLOCK)
        if self.fd < 0 or self.libc.inotify_add_watch(
                self.fd, folder.encode(), self.IN_ACCESS | self.IN_OPEN) < 0:
            raise Failure("inotify cannot watch %s" % folder)

    def names(self):
        """The files opened or read since the last call."""
        seen = []
        while True:
            try:
                data = os.read(self.fd, 65536)
            except BlockingIOError:
                return seen
            at = 0
            while at < len(data):
                _, _, _, length = struct.unpack_from("iIII", data, at)
                seen.append(data[at + 16:at + 16 + length].rstrip(b"\0").decode())
                at += 16 + length

    def close(self):
        os.close(self.fd)


class Suite(cases.Suite):
    def __init__(self, args, work):
        super().__init__(args, work, cases.Cases("studio"))
        self.server = browser.Server(args.site)
        self.browser = browser.Browser(work)
        self.page = self.browser.open_page()
        self.studio = None  # bexu-studio, while a case runs it

    def close(self):
        self.stop_studio()
        self.browser.close()
        self.server.close()

    def tool(self, name):
        return os.path.join(self.args.tools, name)

    # ---- the page -------------------------------------------------------------------

    def open_site(self, url=None, width=1600, height=1000, query=""):
        self.page.size(width, height)
        # The player's clock starts where bexu-shot's does: the same stammers.
        self.page.navigate((url or self.server.url("index.html")) + "?start-tick=%d%s" % (
            SHOT_SEED, query))
        self.page.wait_for("typeof studio == 'object' && studio.ready", 20, "the studio")

    def open_story(self, folder, pictures=True, query=""):
        """Opens `folder` through the folder input; waits for its findings (and pages)."""
        self.open_site(query=query)
        generation = self.page.evaluate("studio.generation")
        self.page.set_files("#folder-input", [folder])
        self.wait_story(generation, pictures)

    def wait_story(self, generation, pictures=True):
        done = "studio.generation > %d && studio.check" % generation
        if pictures:
            done += " && studio.run"
        self.page.wait_for(done, READY_TIMEOUT, "the story's findings and pages")

    def shown_findings(self):
        lines = self.page.evaluate(
            "Array.from(document.querySelectorAll('#findings li'), li => li.textContent)")
        return "".join(line + "\n" for line in lines)

    def status(self):
        return self.page.evaluate("document.getElementById('status').textContent")

    # ---- the native tools -------------------------------------------------------------

    def bexu_check(self, folder, *options):
        """bexu-check FOLDER's output, run from the folder's parent as the page names it."""
        done = subprocess.run([self.tool("bexu-check"), os.path.basename(folder)] + list(options),
                              cwd=os.path.dirname(folder), stdout=subprocess.PIPE, timeout=60)
        return done.stdout.decode("utf-8")

    def bexu_shot(self, folder):
        """bexu-shot's pictures of `folder`, in order, and its exit code and message."""
        out = os.path.join(self.work, "shots-" + os.path.basename(folder))
        # Run from the folder's parent, as the studio names the story by its folder.
        done = subprocess.run([self.tool("bexu-shot"), os.path.basename(folder), "--out", out],
                              cwd=os.path.dirname(folder), stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, timeout=120)
        names = sorted(n for n in os.listdir(out) if re.match(r"shot-\d+\.png$", n))
        pictures = []
        for name in names:
            with open(os.path.join(out, name), "rb") as f:
                pictures.append(png_rgb(f.read()))
        # Each picture's place on the contact sheet: the first after its file's name.
        with open(os.path.join(out, "index.html"), encoding="utf-8") as f:
            sheet = f.read()
        self.sheet_places = [re.search(r"[^\s<>]*script\.bexu:\d+:\d+", sheet[sheet.rindex(name):])
                             .group(0) for name in names]
        return pictures, done.returncode, done.stderr.decode("utf-8")

    def bexu_pack(self, folder, out, force=False):
        players = os.path.join(self.args.site, "players")
        command = [self.tool("bexu-pack"), os.path.basename(folder), "--out", out,
                   "--windows-player", os.path.join(players, "bexu.exe"),
                   "--linux-player", os.path.join(players, "bexu-static"),
                   "--web-player", os.path.join(players, "web")]
        done = subprocess.run(command + (["--force"] if force else []),
                              cwd=os.path.dirname(folder), stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=120)
        return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8")

    # ---- findings -----------------------------------------------------------------------

    def check_findings(self, folder):
        self.open_story(folder, pictures=False)
        wanted = self.bexu_check(folder)
        shown = self.shown_findings()
        if shown != wanted:
            raise Failure("the page shows findings\n%s\nbexu-check says\n%s" % (shown, wanted))
        return wanted

    def case_findings_demo(self):
        folder = os.path.join(self.work, "demo")
        shutil.copytree(self.args.demo, folder)
        self.check_findings(folder)
        self.notes.append("findings of the demo equal bexu-check's")

    def case_findings_traps(self):
        """Every line bexu-check prints, and the findings under their script lines."""
        folder = trap_story(os.path.join(self.work, "traps"), self.args.demo)
        wanted = self.check_findings(folder)
        codes = set(re.findall(r"\[([a-z0-9-]+)\]$", wanted, re.M))
        if len(codes) < 15:
            raise Failure("the trap story springs only %d traps: %s" % (len(codes), codes))
        marked = self.page.evaluate(
            "(() => { document.getElementById('script').scrollTop = 0; drawScript();"
            " return Array.from(document.querySelectorAll('#script-rows .row.finding'),"
            " r => r.textContent); })()")
        if not any("keyword-inside-name" in row for row in marked):
            raise Failure("no finding under line 4 of the script: %r" % marked[:5])
        # With the notes on style, as bexu-check --notes.
        self.page.evaluate("document.getElementById('notes').click()")
        wanted = self.bexu_check(folder, "--notes")
        self.page.wait_for("document.querySelectorAll('#findings li').length == %d" %
                           wanted.count("\n"), 10, "the notes")
        if self.shown_findings() != wanted or "[long-line]" not in wanted:
            raise Failure("with notes the page shows\n%s\nbexu-check --notes says\n%s" % (
                self.shown_findings(), wanted))
        self.notes.append("findings of the trap story (%d codes) equal bexu-check's" % len(codes))

    # ---- pages ------------------------------------------------------------------------

    def check_pages(self, folder, query="", more=0):
        """The page's pictures against bexu-shot's; `more`: times to ask for the next pages."""
        pictures, code, said = self.bexu_shot(folder)
        self.open_story(folder, query=query)
        for _ in range(more):
            shown = self.page.evaluate("studio.pictures.length")
            self.page.evaluate("document.getElementById('more-pages').click()")
            self.page.wait_for("studio.pictures.length > %d && studio.run && studio.run.end != "
                               "'more' || !document.getElementById('more-pages').hidden && "
                               "studio.pictures.length > %d" % (shown, shown), READY_TIMEOUT,
                               "the next pages")
        count = self.page.evaluate("studio.pictures.length")
        if count != len(pictures):
            raise Failure("the page made %d pictures, bexu-shot %d" % (count, len(pictures)))
        # Each picture decoded by the browser and digested in the page; the bytes come over
        # only when they differ.
        digests = self.page.evaluate(
            "(async () => { const out = []; for (const p of studio.pictures) {"
            " const b = await createImageBitmap(p.blob, {colorSpaceConversion: 'none',"
            " premultiplyAlpha: 'none'}); const c = new OffscreenCanvas(b.width, b.height);"
            " const g = c.getContext('2d'); g.drawImage(b, 0, 0);"
            " const d = g.getImageData(0, 0, b.width, b.height).data;"
            " const h = new Uint8Array(await crypto.subtle.digest('SHA-256', d));"
            " out.push(Array.from(h, x => x.toString(16).padStart(2, '0')).join('')); }"
            " return out; })()", wait=True)
        captions = self.page.evaluate(
            "Array.from(document.querySelectorAll('#pages figcaption'), c => c.textContent)")
        wanted = ["%d \u00b7 %s" % (i + 1, place) for i, place in enumerate(self.sheet_places)]
        if captions != wanted:
            raise Failure("the pictures' places %r differ from bexu-shot's sheet's %r" % (
                captions[:4], wanted[:4]))
        for index, (width, height, rgb) in enumerate(pictures):
            if digests[index] == native.rgba_digest(width, height, rgb):
                continue
            shown = png_rgb(self.page.blob_bytes("studio.pictures[%d].blob" % index))
            if shown[:2] != (width, height) or shown[2] != rgb:
                path = os.path.join(self.args.out, "page-%d.png" % (index + 1))
                Image.frombytes("RGB", shown[:2], shown[2]).save(path)
                raise Failure("page %d differs from bexu-shot's in %s pixels (saved %s)" % (
                    index + 1, differing(shown[2], rgb) if shown[:2] == (width, height)
                    else "size", path))
        return len(pictures), code, said

    def case_pages_demo(self):
        count, code, _ = self.check_pages(self.args.demo)
        end = self.page.evaluate("studio.run.end")
        if code != 0 or end != "finished":
            raise Failure("bexu-shot ended %d, the page's play %s" % (code, end))
        self.notes.append("%d pages of the demo equal bexu-shot's pixel for pixel" % count)

    def case_pages_long(self):
        """A story of 50 pages with stammers, scenes and timed waits on the way, pictured
        30 pages at a time: each play makes a few pictures and the next runs ahead to the
        page after them. Every page equals bexu-shot's."""
        script = "{0[cg~night.bmp]"
        for page in range(50):
            if page % 7 == 3:
                script += "[stutter3~Th/the g/gulls c/came, page %d.]" % (page + 1)
            else:
                script += "[say~Page %d of the long story.]" % (page + 1)
            if page % 9 == 8:
                script += "[turn~page][wait~400][cg~%s.bmp]" % ("dawn", "harbour")[page % 2]
            if page % 20 == 19:
                script += "}{%d" % (page // 20 + 1)
        folder = native.story(os.path.join(self.work, "long"), script + "}", self.args.demo)
        for scene in ("night.bmp", "dawn.bmp", "harbour.bmp"):
            shutil.copy(os.path.join(self.args.demo, scene), folder)
        count, code, _ = self.check_pages(folder, "&pages-at-once=30", more=1)
        if count != 50 or code != 0:
            raise Failure("%d pages, bexu-shot's exit %d" % (count, code))
        self.notes.append("50 pages of a long story, made a few at a time, equal bexu-shot's")

    def case_pages_traps(self):
        """The play stops at the scene that is not a bitmap, as bexu-shot's does, and says
        why as bexu-shot says it."""
        folder = trap_story(os.path.join(self.work, "traps-pages"), self.args.demo)
        count, code, said = self.check_pages(folder)
        shown = self.page.evaluate("document.getElementById('pages-count').textContent")
        message = said.strip().split("\n")[-1].replace("bexu-shot: ", "", 1)
        if code != 1 or message not in shown:
            raise Failure("the page says %r; bexu-shot ended %d saying %r" % (shown, code, said))
        self.notes.append("%d pages of the trap story equal bexu-shot's, and its stop" % count)

    # ---- play from a line or a page -------------------------------------------------------

    def wait_canvas(self, picture, what, timeout=8):
        """Waits until the player shows `picture` (bexu-shot's); the time it took."""
        wanted = native.rgba_digest(*picture)
        start = time.monotonic()
        while True:
            try:
                shown = self.page.canvas_digest(PLAYER_CANVAS)
            except Failure:
                shown = None  # the player's page is on its way in
            if shown is not None and shown[2] == wanted:
                return time.monotonic() - start
            if time.monotonic() - start > timeout:
                width, height, rgb = self.page.canvas_pixels(PLAYER_CANVAS)
                path = os.path.join(self.args.out, what.replace(" ", "-") + ".ppm")
                with open(path, "wb") as f:
                    f.write(b"P6\n%d %d\n255\n" % (width, height) + rgb)
                raise Failure("%s: the player shows %dx%d, not bexu-shot's picture (%s pixels "
                              "differ; saved %s)" % (what, width, height, differing(
                                  rgb, picture[2]) if (width, height) == picture[:2] else "all",
                                  path))
            time.sleep(0.02)

    def check_play_from(self, folder, name):
        """From the line of a page in the middle, and from a page picture: the first frame
        is bexu-shot's picture of that page, and Space goes on to the next one's."""
        pictures, _, _ = self.bexu_shot(folder)
        self.open_story(folder)
        # A 1600 x 900 player, as bexu-shot's window.
        self.page.evaluate("document.getElementById('player-frame').style.width = '1600px'")
        middle = len(pictures) // 2
        line = self.page.evaluate("studio.pictures[%d].line" % middle)
        self.page.evaluate("playFrom({line: %d, column: 0})" % line)
        took = self.wait_canvas(pictures[middle], "%s from line %d" % (name, line))
        self.page.key_space()
        self.wait_canvas(pictures[middle + 1], "%s after Space" % name)
        place = self.page.evaluate("studio.showing")
        if place["page"] != middle + 2:
            raise Failure("%s: after Space the player says it shows page %s, not %d" % (
                name, place["page"], middle + 2))
        self.page.evaluate("document.querySelectorAll('#pages figure')[%d].click()" % (middle - 1))
        self.wait_canvas(pictures[middle - 1], "%s from page %d" % (name, middle))
        self.notes.append("%s: from line %d the player shows page %d as bexu-shot does (%.0f ms),"
                          " Space goes on; from page %d too" % (name, line, middle + 1,
                                                                took * 1000, middle))

    def case_play_from_demo(self):
        self.check_play_from(self.args.demo, "demo")

    def case_play_from_traps(self):
        self.check_play_from(trap_story(os.path.join(self.work, "traps-play"), self.args.demo),
                             "trap story")

    # ---- export -------------------------------------------------------------------------

    def export(self, kind):
        """Runs the export of `kind`; the archive's name, or None when refused."""
        self.page.evaluate("studio.exported = undefined; exportArchive('%s')"
                           ".then(name => studio.exported = name || null)" % kind)
        self.page.wait_for("studio.exported !== undefined", 120, "the export")
        return self.page.evaluate("studio.exported")

    def case_export_demo(self):
        """The three archives equal bexu-pack's byte for byte; the Linux one plays under
        Xvfb."""
        folder = os.path.join(self.work, "demo-export")
        shutil.copytree(self.args.demo, folder)
        packed = os.path.join(self.work, "packed")
        code, out, err = self.bexu_pack(folder, packed)
        if code != 0:
            raise Failure("bexu-pack failed: %s" % err)
        self.open_story(folder, pictures=False)
        made = []
        for kind in ("windows", "linux", "web"):
            name = self.export(kind)
            if name is None:
                raise Failure("the %s export was refused: %s" % (kind, self.page.evaluate(
                    "document.getElementById('export-log').textContent")))
            data = self.page.blob_bytes("studio.exports[%r]" % name)
            path = os.path.join(packed, name)
            if not os.path.exists(path):
                raise Failure("the page named its archive %r; bexu-pack made %s" % (
                    name, os.listdir(packed)))
            with open(path, "rb") as f:
                wanted = f.read()
            if data != wanted:
                mine = os.path.join(self.args.out, name)
                with open(mine, "wb") as f:
                    f.write(data)
                raise Failure("%s differs from bexu-pack's (%d and %d bytes; saved %s)" % (
                    name, len(data), len(wanted), mine))
            made.append((name, data))
        log = self.page.evaluate("document.getElementById('export-log').textContent")
        if not log.startswith(out.split("\n  ")[0]):
            raise Failure("the export says\n%s\nbexu-pack says\n%s" % (log, out))
        tarball = os.path.join(self.work, made[1][0])
        with open(tarball, "wb") as f:
            f.write(made[1][1])
        played = subprocess.run(
            [sys.executable, os.path.join(ROOT, "tests", "linux", "run_pack_e2e.py"),
             "--tarball", tarball, "--out",
             os.path.join(self.args.out, "exported-linux")],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
        if played.returncode != 0:
            raise Failure("the exported Linux archive did not play:\n%s" %
                          played.stdout.decode("utf-8", "replace")[-2000:])
        self.play_web_export(made[2][1])
        self.notes.append("exported %s equal bexu-pack's byte for byte; the tar.gz plays "
                          "through its launcher, the web zip in Chromium"
                          % " and ".join(n for n, _ in made))

    def play_web_export(self, data):
        """The exported web zip, unpacked and served, plays the demo's first line."""
        site = os.path.join(self.work, "exported-web")
        with zipfile.ZipFile(io.BytesIO(data)) as z:
            z.extractall(site)
        server = browser.Server(site)
        try:
            self.page.navigate(server.url("index.html"))
            self.page.wait_for("document.querySelectorAll('#bexu-lines p').length == 1", 20,
                               "the exported web page's first line")
        finally:
            server.close()

    def case_export_refused(self):
        """A story with errors is refused as bexu-pack refuses it, and packed as bexu-pack
        --force packs it."""
        folder = trap_story(os.path.join(self.work, "traps-export"), self.args.demo)
        code, out, err = self.bexu_pack(folder, os.path.join(self.work, "refused"))
        self.open_story(folder, pictures=False)
        if self.export("windows") is not None:
            raise Failure("the page exported a story bexu-pack refuses")
        log = self.page.evaluate("document.getElementById('export-log').textContent")
        if code != 1 or log != out + err:
            raise Failure("the export says\n%s\nbexu-pack (exit %d) says\n%s%s" % (
                log, code, out, err))
        forced = os.path.join(self.work, "forced")
        code, out, err = self.bexu_pack(folder, forced, force=True)
        self.page.evaluate("document.getElementById('force').checked = true")
        name = self.export("windows")
        with open(os.path.join(forced, name), "rb") as f:
            if self.page.blob_bytes("studio.exports[%r]" % name) != f.read():
                raise Failure("the forced %s differs from bexu-pack --force's" % name)
        self.notes.append("a story with errors is refused in bexu-pack's words; --force packs "
                          "the same bytes")

    # ---- local mode -------------------------------------------------------------------------

    def start_studio(self, folder):
        self.studio = subprocess.Popen(
            [self.tool("bexu-studio"), folder, "--port", "0", "--site", self.args.site],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, start_new_session=True)
        line = self.studio.stdout.readline().decode()
        found = re.search(r"http://127\.0\.0\.1:(\d+)/", line)
        if not found:
            raise Failure("bexu-studio said %r" % line)
        return found.group(0), int(found.group(1))

    def stop_studio(self):
        if self.studio is not None:
            os.killpg(self.studio.pid, signal.SIGTERM)
            self.studio.wait(10)
            self.studio.stdout.close()
            self.studio = None

    def case_local_mode(self):
        """bexu-studio serves the story: the page opens it by itself; played from a line in
        the middle, the line changed on disk shows in the player at the same place within
        1 s."""
        folder = os.path.join(self.work, "local", "demo")
        shutil.copytree(self.args.demo, folder)
        script = os.path.join(folder, "script.bexu")
        with open(script, "rb") as f:
            text = f.read()
        old = b"A voice came out of the fog:"
        line = text[:text.index(old)].count(b"\n") + 1
        url, _ = self.start_studio(folder)
        try:
            self.open_site(url)
            self.wait_story(0)
            if self.shown_findings() != self.bexu_check(folder):
                raise Failure("served findings differ from bexu-check's")
            self.page.evaluate("playFrom({line: %d, column: 0})" % line)
            last_line = ("(() => { try { const l = %s; return l[l.length - 1]; }"
                         " catch (e) { return null; } })()" % PLAYER_LINES)
            self.page.wait_for(last_line + " == %r" % old.decode(), 10, "line %d played" % line)
            start = time.monotonic()
            with open(script, "wb") as f:
                f.write(text.replace(old, b"A voice came out of the changed fog:"))
            self.page.wait_for(last_line + " == 'A voice came out of the changed fog:'", 10,
                               "the changed line in the player")
            took = time.monotonic() - start
            shown = self.page.evaluate("studio.showing")
            if shown is None or shown["line"] != line:
                raise Failure("after the change the player shows %r, not line %d" % (shown, line))
            if took > 1.0:
                raise Failure("the changed line showed after %.2f s, more than 1 s" % took)
            self.notes.append("local mode: a changed line shows in the player at its place %.0f "
                              "ms after the save" % (took * 1000))
        finally:
            self.stop_studio()

    def case_dropped_folder(self):
        """A folder dropped on the page opens as a folder handle (Chromium): a line changed
        on disk is read again by itself and shows in the player at its place."""
        folder = os.path.join(self.work, "dropped", "demo")
        shutil.copytree(self.args.demo, folder)
        script = os.path.join(folder, "script.bexu")
        with open(script, "rb") as f:
            text = f.read()
        old = b"She took her lantern and ran down the spiral stairs."
        line = text[:text.index(old)].count(b"\n") + 1
        self.open_site()
        data = {"items": [], "files": [folder], "dragOperationsMask": 1}
        for kind in ("dragEnter", "dragOver", "drop"):
            self.page.send("Input.dispatchDragEvent", type=kind, x=400, y=500, data=data)
        self.wait_story(0)
        if self.page.evaluate("studio.story.source") != "handle":
            raise Failure("the dropped folder opened as %r, not as a folder handle" %
                          self.page.evaluate("studio.story.source"))
        if self.shown_findings() != self.bexu_check(folder):
            raise Failure("the dropped folder's findings differ from bexu-check's")
        self.page.evaluate("playFrom({line: %d, column: 0})" % line)
        last_line = ("(() => { try { const l = %s; return l[l.length - 1]; }"
                     " catch (e) { return null; } })()" % PLAYER_LINES)
        self.page.wait_for(last_line + " == %r" % old.decode(), 10, "line %d played" % line)
        with open(script, "wb") as f:
            f.write(text.replace(old, b"She ran down the changed stairs."))
        start = time.monotonic()
        self.page.wait_for(last_line + " == 'She ran down the changed stairs.'", 10,
                           "the changed line in the player")
        self.notes.append("a dropped folder is read again by itself: the changed line shows "
                          "%.0f ms after the save" % ((time.monotonic() - start) * 1000))

    def case_path_escapes(self):
        """Every way out of the story folder gets 404, and nothing outside is opened."""
        base = os.path.join(self.work, "escapes")
        folder = os.path.join(base, "story")
        shutil.copytree(self.args.demo, folder)
        outside = os.path.join(base, "outside")
        os.makedirs(outside)
        with open(os.path.join(outside, "secret.txt"), "w") as f:
            f.write("SECRET\n")
        os.symlink(os.path.join(outside, "secret.txt"), os.path.join(folder, "link.txt"))
        os.symlink(outside, os.path.join(folder, "linked-folder"))
        os.makedirs(os.path.join(folder, "sub"))
        os.symlink("../script.bexu", os.path.join(folder, "sub", "inside.bexu"))
        secret = os.path.join(outside, "secret.txt")
        escapes = [
            "/story/../outside/secret.txt", "/story/%2e%2e/outside/secret.txt",
            "/story/%2E%2E%2Foutside%2Fsecret.txt", "/story/%252e%252e/outside/secret.txt",
            "/story/..%2f..%2f" + secret.lstrip("/").replace("/", "%2f"),
            "/story/" + secret, "/story/%2f" + secret.lstrip("/"),
            "/story/link.txt", "/story/linked-folder/secret.txt", "/story/sub/../../outside",
            "/story/./script.bexu", "/story/sub//inside.bexu", "/story/sub\\..\\script.bexu",
            "/../outside/secret.txt", "/%2e%2e/outside/secret.txt", "/story%2f..%2foutside",
            "/story/", "/story/sub", "/story/script.bexu%00.txt",
        ]
        watch = OpenWatch(outside)
        _, port = self.start_studio(folder)
        try:
            answers = {}
            for path in escapes + ["/story/script.bexu", "/story/sub/inside.bexu", "/"]:
                connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
                connection.putrequest("GET", path, skip_accept_encoding=True)
                connection.endheaders()
                answer = connection.getresponse()
                body = answer.read()
                connection.close()
                answers[path] = answer.status
                if b"SECRET" in body:
                    raise Failure("%s gave the file outside the folder" % path)
            wrong = {p: s for p, s in answers.items() if (s != 404) == (p in escapes)}
            if wrong:
                raise Failure("answers that should be otherwise: %s" % wrong)
            listing = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
            listing.request("GET", "/api/story")
            body = listing.getresponse().read().decode()
            listing.close()
            if "secret" in body or "sub/inside.bexu" not in body:
                raise Failure("the listing shows what is outside, or not a link inside: %s"
                              % body[:400])
            opened = watch.names()
            if opened:
                raise Failure("bexu-studio opened or read outside the folder: %s" % opened)
        finally:
            self.stop_studio()
            watch.close()
        self.notes.append("%d ways out of the folder get 404; nothing outside was opened"
                          % len(escapes))

    # ---- bad input ------------------------------------------------------------------------

    def player_box(self, timeout=10):
        """The caption and text of the player's message box, once it shows."""
        box = PLAYER + ".contentDocument.getElementById('bexu-box')"
        self.page.wait_for("(() => { try { return !%s.hidden; } catch (e) { return false; } })()"
                           % box, timeout, "the player's message box")
        return self.page.evaluate("[%s.querySelector('#bexu-box-caption').textContent, "
                                  "%s.querySelector('#bexu-box-text').textContent]" % (box, box))

    def case_bad_input(self):
        """Each gives a clear message in the page, and nothing hangs."""
        demo = self.args.demo
        base = os.path.join(self.work, "bad")
        empty = native.story(os.path.join(base, "no-script"), None, demo)
        self.open_story(empty, pictures=False)
        if "No script.bexu in 'no-script'" not in self.status():
            raise Failure("a folder without a script says %r" % self.status())

        bitmap = native.story(os.path.join(base, "not-a-bitmap"),
                              "{0[say~first][cg~scene.bmp][say~never]}", demo,
                              {"scene.bmp": b"GIF89a" + bytes(100)})
        self.open_story(bitmap)
        expected = "scene 'scene.bmp' does not load as a bitmap (not a BMP file)"
        pages = self.page.evaluate("document.getElementById('pages-count').textContent")
        if expected not in self.shown_findings() or "does not load as a bitmap" not in pages:
            raise Failure("a scene that is not a bitmap: %r, %r" % (self.shown_findings(), pages))
        self.page.wait_for(PLAYER_LINES + ".length == 1", 10, "the line before the scene")
        self.page.key_space()
        if self.player_box() != ["Error", "Failed to load scene."]:
            raise Failure("the player says %r for a scene that is not a bitmap" %
                          self.player_box())

        # 300 MB of scene: 10,000 x 7,500 at 32 bits.
        huge = native.story(os.path.join(base, "huge-scene"), "{0[cg~huge.bmp][say~huge]}", demo)
        with open(os.path.join(huge, "huge.bmp"), "wb") as f:
            width, height = 10000, 7500
            f.write(b"BM" + struct.pack("<IHHI", 54 + width * height * 4, 0, 0, 54) +
                    struct.pack("<IiiHHIIiiII", 40, width, height, 1, 32, 0, 0, 0, 0, 0, 0))
            f.truncate(54 + width * height * 4)
        start = time.monotonic()
        self.open_story(huge)
        took = time.monotonic() - start
        if self.shown_findings() != self.bexu_check(huge) or \
                "scene 'huge.bmp' does not load" not in self.shown_findings():
            raise Failure("a 300 MB scene: %r" % self.shown_findings())
        if self.player_box() != ["Error", "Failed to load scene."]:
            raise Failure("the player says %r for a 300 MB scene" % self.player_box())
        self.notes.append("a 300 MB scene: checked and pictured in %.1f s" % took)

        many = native.story(os.path.join(base, "many-files"), "{0[say~many]}", demo)
        for i in range(10000):
            with open(os.path.join(many, "file-%05d.txt" % i), "wb") as f:
                f.write(b"x")
        start = time.monotonic()
        self.open_story(many)
        took = time.monotonic() - start
        said = self.page.evaluate("document.getElementById('story-files').textContent")
        if not said.startswith("10,003 files, 3 used by the story") or \
                self.shown_findings() != self.bexu_check(many):
            raise Failure("10,000 files: the page says %r" % said)
        self.page.wait_for(PLAYER_LINES + ".length == 1", 10, "the player's line")
        self.notes.append("a folder of 10,000 files: opened, checked and pictured in %.1f s "
                          "(Chromium's own reading of the folder included)" % took)

CASES = ["findings_demo", "findings_traps", "pages_demo", "pages_long", "pages_traps",
         "play_from_demo", "play_from_traps", "export_demo", "export_refused", "local_mode",
         "dropped_folder", "path_escapes", "bad_input"]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--site", required=True, help="the studio's site folder")
    parser.add_argument("--tools", required=True,
                        help="the native build holding bexu-check, bexu-shot, bexu-pack, "
                             "bexu-studio")
    parser.add_argument("--demo", required=True)
    parser.add_argument("--out", default=None, help="where mismatching results are saved")
    parser.add_argument("--case", action="append", choices=CASES)
    args = parser.parse_args()
    args.site = os.path.abspath(args.site)
    args.tools = os.path.abspath(args.tools)
    args.demo = os.path.abspath(args.demo)
    work = tempfile.mkdtemp(prefix="bexu-studio-")
    args.out = os.path.abspath(args.out or os.path.join(work, "out"))
    os.makedirs(args.out, exist_ok=True)
    suite = Suite(args, work)
    try:
        suite.run_cases(args.case or CASES)
    finally:
        suite.close()
        shutil.rmtree(work, ignore_errors=True)
    return 0 if suite.cases.finish() else 1


if __name__ == "__main__":
    sys.exit(main())
