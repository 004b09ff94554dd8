#!/usr/bin/env python3
"""End-to-end tests of the Linux player (the SDL2 build) on a virtual X display.

Usage: run_e2e.py --player build/bexu --close-helper build/tests/e2e_close_window
                  --watch-helper build/tests/e2e_watch_window --demo examples/demo
                  [--static-player build/bexu-static]
                  [--case play|resize|scenes|close|hold|fatal|titles|sound_reopen|seams|idle]
                  [--out DIR]

Every expected pixel is worked out from the story's own files (font sheet, tile
pattern, scenes, script), never from stored screenshots. Keys go in with
`xdotool key --window`, screenshots come from `import -window`, message boxes are
found in `xwininfo -root -tree` and dismissed with Return. Every program runs in
its own process group and is killed with it when a limit passes (tests/fixtures/harness.py).
"""

import argparse
import os
import re
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "fixtures"))

import expected as ex  # noqa: E402
import geometry  # noqa: E402
import harness  # noqa: E402
import idle  # noqa: E402
import story  # noqa: E402
from harness import Failure  # noqa: E402

PLAYER_ENV = {"SDL_VIDEODRIVER": "x11", "SDL_AUDIODRIVER": "dummy"}
START_TIMEOUT = 20
STATE_TIMEOUT = 5.0
EXIT_TIMEOUT = 10
MARKER_INTERVAL = 0.3
SETTLE = 0.5  # seconds for a key or a resize to show, at 16 ms per iteration


# ---- the story, read the simple way the demo is written -------------------------


def read_commands(script):
    """Commands of blocks 0, 1, 2 ... in order, for a well-formed script."""
    blocks = {}
    for number, content in re.findall(r"\{(\d+)([^}]*)\}", script):
        blocks.setdefault(int(number), re.findall(r"\[([^\]]*)\]", content))
    commands = []
    number = 0
    while number in blocks:
        commands.append(blocks[number])
        number += 1
    return commands


class Stutter:
    """A stammered line: its source and intensity; the text shown, once read."""

    def __init__(self, source, intensity):
        self.source = source
        self.intensity = intensity
        self.shown = None
        self.read = None  # the last text read that was no stammer of the source


class State:
    """One key wait of the story: what the canvas shows while it lasts."""

    def __init__(self, scene, lines, markers, wait_before):
        self.scene = scene
        self.lines = lines  # texts, and Stutter records for stammered lines
        self.markers = markers
        self.wait_before = wait_before  # ms of timed waits since the previous key wait


def key_waits(commands):
    states = []
    scene = None
    lines = []
    waited = 0
    for block in commands:
        for index, command in enumerate(block):
            name, _, argument = command.partition("~")
            following = block[index + 1] if index + 1 < len(block) else None
            markers = ex.PAGE_TURN if following is not None and "turn" in following \
                else ex.LINE_END
            if "say" in name:
                lines = lines + [argument]
                states.append(State(scene, lines, markers, waited))
                waited = 0
            elif "cg" in name:
                scene = argument
            elif "wait" in name:
                waited += int(re.match(r"\d*", argument).group() or 0)
            elif "stutter" in name:
                digits = re.search(r"\d+", name)
                intensity = int(digits.group()) if digits else 0
                lines = lines + [Stutter(argument, intensity)]
                states.append(State(scene, lines, markers, waited))
                waited = 0
            elif "turn" in name and argument == "page":
                lines = []
    return states


def stutter_pattern(text, intensity):
    """Every text the stammer may make of `text` at this intensity."""
    words = []
    for word in text.split(" "):
        parts = []
        for part in word.split("/"):
            if part.startswith("%"):
                parts.append(re.escape(part[1:]))
            elif part:
                parts.append("(?:%s-){0,%d}%s" % (re.escape(part[0]), intensity - 1,
                                                   re.escape(part)))
        words.append("".join(parts))
    return re.compile(" ".join(words))


# ---- running the player ----------------------------------------------------------


class Suite(harness.DisplaySuite):
    def __init__(self, args, work, session):
        super().__init__(args, work, session)
        self.copies = 0
        demo = args.demo
        self.font = ex.Font(ex.load_bmp(os.path.join(demo, "font.bmp")))
        self.tile = ex.load_bmp(os.path.join(demo, "transparency.bmp"))
        with open(os.path.join(demo, "script.bexu"), "rb") as f:
            self.states = key_waits(read_commands(f.read().decode("latin-1")))
        with open(os.path.join(demo, "init.bexc"), "rb") as f:
            self.title = f.read().decode("latin-1")
        self.scenes = {}

    def scene(self, name):
        if name is None:
            return ex.Picture(ex.CANVAS_W, ex.CANVAS_H)
        if name not in self.scenes:
            self.scenes[name] = ex.load_bmp(os.path.join(self.args.demo, name))
        return self.scenes[name]

    def start(self, folder=None, env=None):
        merged = dict(PLAYER_ENV)
        merged.update(env or {})
        return self.session.start([self.args.player], folder or self.args.demo, merged)

    def wait_main(self, player, title):
        return self.session.wait_main(player, title, START_TIMEOUT)

    # ---- looking at a state ---------------------------------------------------------

    def frames_of(self, state, shot=None):
        """The canvases a state may show, one per marker frame. A stammered line is read
        back from the first screenshot that shows it and must be one the stammer makes."""
        last = state.lines[-1]
        if isinstance(last, Stutter) and last.shown is None:
            if shot is None:
                return {}
            background, _ = ex.canvas(self.scene(state.scene), self.font,
                                      self.texts(state.lines[:-1]))
            row = ex.next_row(self.texts(state.lines[:-1]))
            picture = ex.Picture(shot.width, shot.height, shot.pixels)
            markers = "".join(chr(m) for m in ex.LINE_END + ex.PAGE_TURN)

            def read(y):
                cells = ex.read_row(picture, self.font, background, y)
                return "".join(chr(b) if b is not None else "\0" for b in cells)

            # A stammered line may grow past 64 glyphs and wrap onto the next row.
            first = read(row)
            candidates = [first.rstrip(" ").rstrip(markers)]
            if len(first) == 64 and row + 2 * ex.CELL_H <= ex.CANVAS_H:
                candidates.append(first + read(row + ex.CELL_H).rstrip(" ").rstrip(markers))
            pattern = stutter_pattern(last.source, last.intensity)
            text = next((t for t in candidates if pattern.fullmatch(t)), None)
            if text is None:
                last.read = candidates[-1]
                return {}
            last.shown = text
        scene = self.scene(state.scene)
        lines = self.texts(state.lines)
        return {marker: bytes(ex.canvas(scene, self.font, lines, marker)[0].pixels)
                for marker in set(state.markers)}

    @staticmethod
    def texts(lines):
        return [line.shown if isinstance(line, Stutter) else line for line in lines]

    def wait_state(self, window, state, timeout=STATE_TIMEOUT):
        """Waits until the window shows the state; returns the marker frame and screenshot."""
        start = time.monotonic()
        frames = self.frames_of(state)
        shot = None
        while time.monotonic() - start < timeout:
            shot = self.display.screenshot(window)
            if (shot.width, shot.height) != (ex.CANVAS_W, ex.CANVAS_H):
                raise Failure("client area %dx%d, not 1600x900" % (shot.width, shot.height))
            candidates = frames or self.frames_of(state, shot)
            for marker, pixels in candidates.items():
                if shot.pixels == pixels:
                    return marker, shot
            time.sleep(0.05)
        self.save(shot, "unexpected")
        last = state.lines[-1]
        shown = last.read if isinstance(last, Stutter) and last.shown is None else \
            self.texts(state.lines)[-1]
        raise Failure("the window never showed %r (scene %s, markers %s); last screenshot "
                      "saved as unexpected.png" % (shown, state.scene, state.markers))

    def watch_markers(self, window, state, duration):
        """(taken from, taken until, marker) of each screenshot over `duration` seconds;
        every screenshot must show the state."""
        frames = self.frames_of(state, self.display.screenshot(window))
        shots = []
        end = time.monotonic() + duration
        while time.monotonic() < end:
            taken = time.monotonic()
            shot = self.display.screenshot(window)
            marker = next((m for m, pixels in frames.items() if shot.pixels == pixels), None)
            if marker is None:
                self.save(shot, "unexpected")
                raise Failure("while waiting at %r the window showed something else "
                              "(unexpected.png)" % self.texts(state.lines)[-1])
            shots.append((taken, time.monotonic(), marker))
            time.sleep(0.02)
        return shots

    def check_marker_cycle(self, window, state):
        """Over 3 s, as the X server reports every drawing of the marker's cell: each picture
        is the next frame of the state's sequence, every frame shows, and the marker moves
        on every 300 ms (harness.marker_pace)."""
        shot = self.display.screenshot(window)
        frames = self.frames_of(state, shot)
        if not frames:
            raise Failure("the window does not show %r" % self.texts(state.lines)[-1])
        cursor = ex.draw_text(None, None, "".join(line + "\n" for line in self.texts(
            state.lines)))[0]
        x, y = ex.indicator_position(cursor)
        cell = (x, y, ex.CELL_W, min(ex.CELL_H, ex.CANVAS_H - y))
        markers = {harness.area_crc(ex.CANVAS_W, pixels, cell): marker
                   for marker, pixels in frames.items()}
        shows = self.display.watch(self.args.watch_helper, window, cell, 3000)
        order = [markers.get(crc) for _, crc in shows]
        if None in order:
            raise Failure("the marker's cell showed something else than %s" % state.markers)
        cycle = list(state.markers)
        for previous, current in zip(order, order[1:]):
            at = [i for i, m in enumerate(cycle) if m == previous]
            if not any(cycle[(i + 1) % len(cycle)] == current for i in at):
                raise Failure("marker went from %d to %d, not along %s" % (previous, current,
                                                                          cycle))
        if set(order) != set(cycle):
            raise Failure("marker frames seen %s, wanted all of %s" % (order, cycle))
        harness.marker_intervals(shows, set(markers))

    # ---- the cases --------------------------------------------------------------------

    def case_play(self):
        """The demo from its first line to its end: every key wait's exact canvas,
        the marker's sequences, a timed wait, a sound played, exit code 0."""
        audio = os.path.join(self.work, "audio.raw")
        player = self.start(env={"SDL_AUDIODRIVER": "disk", "SDL_DISKAUDIOFILE": audio})
        try:
            window = self.wait_main(player, self.title)
            first_page_turn = True
            for index, state in enumerate(self.states):
                pressed = time.monotonic()
                if index > 0:
                    self.display.key(window, "space")
                if state.wait_before >= 1000:
                    # Space during a timed wait is dropped.
                    time.sleep(0.4)
                    self.display.key(window, "space")
                _, shot = self.wait_state(window, state,
                                          STATE_TIMEOUT + state.wait_before / 1000)
                # The matching screenshot was finished by now: had the line come early,
                # this would be under the wait.
                elapsed = time.monotonic() - pressed
                if index > 0 and elapsed < state.wait_before / 1000:
                    raise Failure("%r showed after %.2f s, within its %d ms wait"
                                  % (self.texts(state.lines)[-1], elapsed, state.wait_before))
                if index == 0:
                    self.check_marker_cycle(window, state)
                    self.check_sound(audio)
                elif state.markers == ex.PAGE_TURN and first_page_turn:
                    first_page_turn = False
                    self.check_marker_cycle(window, state)
                elif state.wait_before >= 1000:
                    # The Space pressed during the wait did not end this key wait.
                    self.watch_markers(window, state, 0.6)
                self.save(shot, "state-%02d" % index)
            self.display.key(window, "space")
            player.expect_exit(0, "when the story ran out")
        finally:
            player.stop()

    def check_sound(self, path):
        """The first commands start the sea sound: the disk audio driver receives it."""
        deadline = time.monotonic() + 3
        while time.monotonic() < deadline:
            if os.path.exists(path):
                with open(path, "rb") as f:
                    data = f.read()
                if data.strip(b"\0"):
                    return
            time.sleep(0.1)
        raise Failure("no sound reached the audio device within 3 s of the first play")

    def case_resize(self):
        """The canvas fitted into resized client areas, with the tiled bars around it; a
        window laid over it and taken away leaves no trace."""
        player = self.start()
        try:
            window = self.wait_main(player, self.title)
            state = self.states[0]
            self.wait_state(window, state)
            # The marker blinks on: a screenshot shows one of the two canvases.
            canvases = [ex.canvas(self.scene(state.scene), self.font, self.texts(state.lines),
                                  marker)[0]
                        for marker in state.markers]
            for width, height in ((1600, 450), (1600, 950), (803, 900), (500, 900),
                                  (800, 450), (1600, 900)):
                self.display.resize(window, width, height)
                deadline = time.monotonic() + STATE_TIMEOUT
                while True:
                    time.sleep(0.2)
                    shot = self.display.screenshot(window)
                    failure = None
                    for canvas in canvases:
                        try:
                            geometry.check_geometry(shot, width, height, self.tile, [canvas],
                                                    geometry.near_area_mean,
                                                    geometry.edges_at_midpoints)
                            failure = None
                            break
                        except Failure as f:
                            failure = f
                    if failure is None:
                        break
                    if time.monotonic() > deadline:
                        self.save(shot, "resized-%dx%d" % (width, height))
                        raise failure
                self.save(shot, "resized-%dx%d" % (width, height))
            self.check_exposure(window, state)
        finally:
            player.stop()

    def check_exposure(self, window, state):
        """A window laid over the player's and taken away again leaves no trace."""
        cover = subprocess.Popen(["xmessage", "-geometry", "700x400+300+300", "covering"],
                                 env=self.display.env(), stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL, start_new_session=True)
        try:
            self.display.wait_window("^xmessage$", START_TIMEOUT, cover)
            time.sleep(0.5)
        finally:
            harness.kill_group(cover)
        time.sleep(0.5)
        try:
            self.watch_markers(window, state, 0.4)
        except Failure as failure:
            raise Failure("after a window over it went away: %s" % failure)

    def threads_become(self, player, count, within):
        """Waits until the player runs `count` threads: the sound device has a thread
        of its own while it is open."""
        path = "/proc/%d/task" % player.process.pid
        deadline = time.monotonic() + within
        while time.monotonic() < deadline:
            if len(os.listdir(path)) == count:
                return
            time.sleep(0.05)
        raise Failure("the player runs %d threads after %.0f s, wanted %d"
                      % (len(os.listdir(path)), within, count))

    def case_scenes(self):
        """A scene smaller than the canvas shows black beyond it; a larger one shows its
        top-left 1600 x 900, unscaled. A sound device that has played out is closed, so
        no thread of its own wakes while the story waits, and the next sound opens it."""
        folder = self.story_copy("scenes", script="{0[play~chime.wav][cg~small.bmp]"
                                                  "[say~A small scene][play~chime.wav]"
                                                  "[cg~big.bmp][say~A big scene]}")
        palette = [(i * 7 & 0xFF) << 16 | (255 - i) << 8 | (i * 3 & 0xFF) for i in range(256)]
        story.write_bmp(os.path.join(folder, "small.bmp"), 700, 400,
                        lambda x, y: (x // 3 + y) & 0xFF, bits=8, palette=palette)
        story.write_bmp(os.path.join(folder, "big.bmp"), 1700, 1000,
                        lambda x, y: (x * 5 & 0xFF) << 16 | (y * 3 & 0xFF) << 8 | 0x30)
        small = State(os.path.join(folder, "small.bmp"), ["A small scene"], ex.LINE_END, 0)
        big = State(os.path.join(folder, "big.bmp"), ["A small scene", "A big scene"],
                    ex.LINE_END, 0)
        player = self.start(folder)
        try:
            window = self.wait_main(player, self.title)
            self.wait_state(window, small)
            self.threads_become(player, 1, 8)  # 2 s of chime, a second, the closing
            self.display.key(window, "space")
            self.threads_become(player, 2, 1)
            self.wait_state(window, big)
        finally:
            player.stop()

    def case_close(self):
        """Keys other than Space do nothing; closing the window the way a window manager
        does ends the player with 0;
        a script without block 0 ends it at once, with 0 too. The player writes nothing
        into the story's folder."""
        folder = self.story_copy("close")
        files = sorted(os.listdir(folder))
        player = self.start(folder)
        try:
            window = self.wait_main(player, self.title)
            self.wait_state(window, self.states[0])
            # Keys other than Space reach the window and move nothing on.
            for key in ("Return", "a", "Escape", "Right", "F1"):
                self.display.key(window, key)
            self.watch_markers(window, self.states[0], 0.5)
            harness.run([self.args.close_helper, str(window)], env=self.display.env(),
                        timeout=10)
            player.expect_exit(0, "after closing the window")
            if any(w == window for w, _ in self.display.top_level_windows()):
                raise Failure("the window is still there after the player ended")
            if sorted(os.listdir(folder)) != files:
                raise Failure("the player left files behind: %s"
                              % sorted(set(os.listdir(folder)) - set(files)))
        finally:
            player.stop()
        folder = self.story_copy("no-block-0", script="{1[say~never shown]}")
        player = self.start(folder)
        try:
            player.expect_exit(0, "for a script without block 0")
        finally:
            player.stop()

    def case_hold(self):
        """Holding Space: the first key-down and each key repeat end one key wait."""
        lines = ["Line %d" % number for number in range(1, 28)]
        folder = self.story_copy("hold", script="{0" + "".join("[say~%s]" % line
                                                               for line in lines) + "}")
        player = self.start(folder)
        try:
            window = self.wait_main(player, self.title)
            self.wait_state(window, State(None, lines[:1], ex.LINE_END, 0))
            env = self.display.env()
            harness.run(["xdotool", "windowfocus", "--sync", str(window)], env=env, timeout=10)
            harness.run(["xdotool", "keydown", "space"], env=env, timeout=10)
            time.sleep(1.5)
            harness.run(["xdotool", "keyup", "space"], env=env, timeout=10)
            time.sleep(0.5)
            shot = self.display.screenshot(window)
            black = self.scene(None)
            shown = None
            for count in range(1, len(lines) + 1):
                for marker in ex.LINE_END:
                    frame, _ = ex.canvas(black, self.font, lines[:count], marker)
                    if bytes(frame.pixels) == shot.pixels:
                        shown = count
                if shown is not None:
                    break
            if shown is None:
                self.save(shot, "unexpected")
                raise Failure("after holding Space the window shows no run of whole lines "
                              "(unexpected.png)")
            # X repeats a held key after 660 ms, 25 times a second: some 20 key-downs.
            if shown < 5:
                raise Failure("holding Space for 1.5 s moved on %d lines only: key repeats "
                              "were lost" % (shown - 1))
        finally:
            player.stop()

    def case_seams(self):
        """In windows scaled down and up, with bars beside and above and below, a line added
        or a marker change shows what a full repaint of the same state shows."""
        failures = story.seams_on_desktop(
            self.session, self.start, self.work, SETTLE,
            lambda name, width, height, rgb: self.save(harness.Image(width, height, rgb), name))
        if failures:
            raise Failure("; ".join(failures))

    # The bytes of 0x80-0xFF that the Windows code page defines.
    CODE_PAGE_HIGH = bytes(b for b in range(0x80, 0x100) if b not in (0x81, 0x8D, 0x8F, 0x90, 0x9D))

    def case_titles(self):
        """A title in the Windows code page shows on both Linux players: _NET_WM_NAME, the
        name window managers show, holds its UTF-8 form, for a dash and for every byte of
        0x80-0xFF that the code page defines."""
        titles = [b"Part 1 \x96 The Sea", b"High bytes: " + self.CODE_PAGE_HIGH]
        players = [self.args.player] + ([self.args.static_player] if self.args.static_player
                                        else [])
        failures = []
        for program in players:
            for title in titles:
                folder = self.story_copy("title", script="{0[say~A title]}",
                                         title=title.decode("latin-1"))
                player = self.session.start([program], folder, dict(PLAYER_ENV))
                try:
                    window = self.display.wait_window_of(player.process, START_TIMEOUT)
                    wanted = title.decode("cp1252").encode("utf-8")
                    shown = None
                    deadline = time.monotonic() + STATE_TIMEOUT
                    while shown != wanted and time.monotonic() < deadline:
                        shown = self.display.property_bytes(window, "_NET_WM_NAME")
                        time.sleep(0.1)
                    if shown != wanted:
                        failures.append("%s: _NET_WM_NAME %r, wanted %r" % (
                            os.path.basename(program), shown and shown.decode("utf-8", "replace"),
                            wanted.decode("utf-8")))
                finally:
                    player.stop()
        if failures:
            raise Failure("; ".join(failures))
        self.session.note("titles: %d titles right on %s" % (
            len(titles), " and ".join(os.path.basename(p) for p in players)))

    def case_sound_reopen(self):
        """The sound device closes after a second of silence; a play that cannot open it
        again (its output unwritable) plays nothing, and the next play, with the output
        writable again, is heard (SDL's disk driver)."""
        rate = 22050
        tone = b"".join(struct.pack("<h", 8000 if (i // 25) % 2 else -8000)
                        for i in range(rate * 3 // 10))
        fmt = struct.pack("<HHIIHH", 1, 1, rate, rate * 2, 2, 16)
        body = b"WAVEfmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + \
            struct.pack("<I", len(tone)) + tone
        wave = b"RIFF" + struct.pack("<I", len(body)) + body
        lines = ["one", "two", "three"]
        folder = self.story_copy("reopen", script="{0" + "".join(
            "[play~tone.wav][say~%s]" % line for line in lines) + "}", extra={"tone.wav": wave})
        output = os.path.join(self.work, "reopen.raw")
        player = self.start(folder, {"SDL_AUDIODRIVER": "disk", "SDL_DISKAUDIOFILE": output})
        try:
            window = self.wait_main(player, self.title)
            self.wait_state(window, State(None, lines[:1], ex.LINE_END, 0))
            if not self.heard(output):
                raise Failure("the first play was not heard")
            self.wait_closed(output)
            # A folder cannot be opened for writing, not even by root.
            os.rename(output, output + ".first")
            os.mkdir(output)
            self.display.key(window, "space")
            self.wait_state(window, State(None, lines[:2], ex.LINE_END, 0))
            os.rmdir(output)
            self.display.key(window, "space")
            self.wait_state(window, State(None, lines, ex.LINE_END, 0))
            if not self.heard(output):
                raise Failure("the play after a failed reopen was not heard")
        finally:
            player.stop()

    @staticmethod
    def heard(path, timeout=3):
        """Whether the disk driver's output holds a tenth of a second of the tone."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    data = f.read()
                samples = struct.unpack("<%dh" % (len(data) // 2), data[:len(data) // 2 * 2])
                if sum(1 for sample in samples if abs(sample) > 4000) > 44100 * 2 // 10:
                    return True
            time.sleep(0.1)
        return False

    @staticmethod
    def wait_closed(path, timeout=5):
        """Waits until the disk driver's output stops growing: the device was closed."""
        deadline = time.monotonic() + timeout
        size, since = -1, time.monotonic()
        while time.monotonic() < deadline:
            now = os.path.getsize(path)
            if now != size:
                size, since = now, time.monotonic()
            elif time.monotonic() - since > 0.5:
                return
            time.sleep(0.05)
        raise Failure("the sound device was still open %d s after the sound" % timeout)

    def story_copy(self, name, omit=(), script=None, extra=None, title=True):
        """A copy of the demo; `title` True keeps its title file, False leaves it out, a
        text replaces it."""
        self.copies += 1
        if title is True or title is False:
            title = harness.KEEP if title else None
        return harness.copy_story(self.args.demo,
                                  os.path.join(self.work, "%s-%d" % (name, self.copies)), omit,
                                  script, title, extra)

    def fatal(self, name, caption, text, main_title, main_shown, keys=(), **story):
        player = self.start(self.story_copy(name, **story))
        try:
            box = self.session.fatal_box(player, caption, main_title, main_shown, keys,
                                         timeout=START_TIMEOUT)
            self.save(self.display.screenshot(box), "box-" + name)
            line = "%s: %s" % (caption, text)
            if line not in player.output().splitlines():
                raise Failure("standard error lacks the line %r: %r" % (line, player.output()))
            self.display.key(box, "Return")
            player.expect_exit(1, "after the box")
        finally:
            player.stop()

    def case_fatal(self):
        """Each missing file and a bad scene: its box with caption, its line on standard
        error, dismissed with Return, exit code 1."""
        cases = [
            ("no-script", "Filenotfound", "script.bexu could not be located.", "Bexu Game",
             False, dict(omit=["script.bexu"])),
            ("no-font", "Error", "Failed to load font.bmp", self.title, True,
             dict(omit=["font.bmp"])),
            ("no-tile", "Error", "Failed to load transparency.bmp", "Bexu Game", True,
             dict(omit=["transparency.bmp"], title=False)),
            ("missing-scene", "Error", "Failed to load scene.", "Bexu Game", True,
             dict(script="{0[say~Press Space][cg~nothere.bmp][say~never]}", title=False,
                  keys=["space"])),
            ("unreadable-scene", "Error", "Failed to load scene.", self.title, True,
             dict(script="{0[cg~notes.bmp][say~never]}",
                  extra={"notes.bmp": b"BM this is not a bitmap\n"})),
        ]
        failures = []
        for name, caption, text, main_title, main_shown, options in cases:
            keys = options.pop("keys", ())
            try:
                self.fatal(name, caption, text, main_title, main_shown, keys, **options)
            except Failure as failure:
                failures.append("%s: %s" % (name, failure))
        try:
            self.without_display()
        except Failure as failure:
            failures.append("no display: %s" % failure)
        if failures:
            raise Failure("; ".join(failures))

    def without_display(self):
        """With no display the player says so and ends with 1 instead of playing unseen;
        a fatal report that no box can show is still told on standard error."""
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER")}
        env["SDL_AUDIODRIVER"] = "dummy"
        runs = [
            (self.args.demo, {}, "no display to show a window on"),
            (self.story_copy("offscreen", omit=["script.bexu"]), {"SDL_VIDEODRIVER": "offscreen"},
             "Filenotfound: script.bexu could not be located."),
        ]
        for folder, extra, wanted in runs:
            process = subprocess.Popen([self.args.player], cwd=folder, env=dict(env, **extra),
                                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                       stderr=subprocess.PIPE, start_new_session=True)
            try:
                _, err = process.communicate(timeout=EXIT_TIMEOUT)
            except subprocess.TimeoutExpired:
                harness.kill_group(process)
                raise Failure("still running after %d s with %s" % (EXIT_TIMEOUT, extra))
            if process.returncode != 1 or wanted not in err.decode("latin-1"):
                raise Failure("exit code %d and %r, wanted 1 and %r"
                              % (process.returncode, err.decode("latin-1"), wanted))

    def case_idle(self):
        """While the story waits for Space the player sleeps, and wakes in time: the marker
        changes every 300 ms, a Space shows the next line and a resize is drawn within
        30 ms, timed from the X server's reports of what the player drew."""
        folder = self.story_copy("idle", script=idle.idle_script(
            os.path.basename(self.states[0].scene)))
        player = self.start(folder)
        try:
            window = self.wait_main(player, self.title)
            self.wait_state(window, State(self.states[0].scene, idle.IDLE_LINES[:1], ex.LINE_END, 0))
            self.session.note(idle.idle_timings(self.display, self.args.watch_helper, window,
                                           self.scene(self.states[0].scene), self.font,
                                           self.tile))
        finally:
            player.stop()

    # ---- running ------------------------------------------------------------------------

    def run(self, cases):
        # Room for the windows of the partial-redraw case side by side.
        return self.run_on_display(cases,
                                   *(story.SEAM_DISPLAY if "seams" in cases else (1920, 1080)))


CASES = ["play", "resize", "scenes", "close", "hold", "fatal", "titles", "sound_reopen", "seams",
         "idle"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--player", required=True)
    parser.add_argument("--close-helper", required=True)
    parser.add_argument("--watch-helper", required=True)
    parser.add_argument("--static-player", default=None,
                        help="the self-contained player, for the cases that run both")
    parser.add_argument("--demo", required=True)
    parser.add_argument("--case", choices=CASES, action="append")
    parser.add_argument("--out", default=None, help="screenshots and logs go here")
    parser.add_argument("--time-limit", type=int, default=200,
                        help="seconds for the whole run, after which everything started ends")
    args = parser.parse_args()
    args.player = os.path.abspath(args.player)
    args.close_helper = os.path.abspath(args.close_helper)
    args.watch_helper = os.path.abspath(args.watch_helper)
    if args.static_player:
        args.static_player = os.path.abspath(args.static_player)
    args.demo = os.path.abspath(args.demo)
    return harness.run_suite(
        "bexu-e2e-", args.out, args.time_limit,
        lambda work, out: Suite(args, work, harness.Session(out, "e2e")).run(args.case or CASES))


if __name__ == "__main__":
    sys.exit(main())
