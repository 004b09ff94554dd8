"""The desktop test harness: a virtual X display and the programs on it.

The end-to-end tests of the Linux player (tests/e2e), of the Windows player
under Wine (tests/wine) and of a fresh Debian root (tests/fresh) use it:

    sys.path.insert(0, os.path.join(checkout, "tests", "desktop"))
    import harness

    def first_picture(session, work):
        folder = harness.copy_story(os.path.join(checkout, "examples", "demo"),
                                    os.path.join(work, "one-line"), script="{0[say~Hi]}")
        player = session.start([os.path.join(checkout, "build", "bexu")], folder,
                               env={"SDL_AUDIODRIVER": "dummy"})
        try:
            window = session.wait_main(player, "The Keeper of Gull Rock")
            session.save(session.display.screenshot(window), "first")
            session.display.key(window, "space")
            player.expect_exit(0, "after the last Space")
        finally:
            player.stop()

    harness.time_limit(300)  # then OutOfTime unwinds through every `finally`
    with harness.work_folders("bexu-mine-") as (work, out):
        session = harness.Session(out, "mine")
        session.open_display(1920, 1080)
        try:
            session.case("first picture", lambda: first_picture(session, work))
        finally:
            session.close_display()
        passed = session.finish()  # prints "mine: 1 passed, 0 failed"

What it holds:
  Failure          a check that did not hold; the message says what was seen.
  OutOfTime        raised by time_limit(seconds) when the run takes too long; not an
                   Exception, so no case catches it and every `finally` runs.
  run(args, env, timeout, check)   a short command in its own process group; its
                   standard output as bytes.
  kill_group(process)   ends a process and everything it started.
  anchored(title)  a window-name pattern that matches `title` and nothing longer.
  Display(width, height)   an Xvfb server: env(extra), find_windows(regex),
                   wait_window(regex, timeout, process), wait_window_of(process, timeout),
                   property_bytes(window, name), top_level_windows(),
                   is_viewable(window), shown(title), wait_box(caption, timeout, process),
                   key(window, key), focus_key(window, key), resize(window, w, h),
                   window_size(window), screenshot(window) -> Image, stop().
  Player(display, command, folder, log_path, env)   one program run, output to a log:
                   wait_exit(timeout), expect_exit(code, after), output(), stop().
  Image            RGB pixels of a screenshot: pixel(x, y), difference(other),
                   save_png(path), ==.
  copy_story(source, path, omit, script, title, extra)   a story folder for one case.
  Session(out, label)   one run of cases: open_display(), start(command, folder, env,
                   kind), wait_main(player, title), save(image, name), case(name,
                   function), note(text), fatal_box(player, caption, main_title,
                   main_shown, keys), close_display(), finish().
  work_folders(prefix, out)   a temporary work folder and the output folder.
  missing_tool(names)   the first of the programs the harness runs that is not installed.

Every child runs in its own process group so a hung one can be ended with
everything it started, by its id; every wait has a limit.
"""

import contextlib
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import traceback


class Failure(Exception):
    """A check that did not hold; the message says what was seen."""


class OutOfTime(BaseException):
    """Not an Exception: no case catches it, so it ends the run whatever runs."""


def time_limit(seconds):
    """After `seconds`, or on SIGTERM, OutOfTime unwinds through every `finally`, which
    ends each program's process group."""
    def out_of_time(number, frame):
        raise OutOfTime()

    signal.signal(signal.SIGALRM, out_of_time)
    signal.signal(signal.SIGTERM, out_of_time)
    signal.alarm(seconds)


def kill_group(process):
    if process.poll() is None:
        try:
            os.killpg(process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        pass


def run(args, env=None, timeout=30, check=True):
    """Runs a short command in its own group; returns its standard output as bytes."""
    process = subprocess.Popen(args, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               start_new_session=True)
    try:
        out, err = process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        kill_group(process)
        raise Failure("timed out after %d s: %s" % (timeout, " ".join(args)))
    if check and process.returncode != 0:
        raise Failure("%s exited %d: %s" % (" ".join(args), process.returncode,
                                            err.decode(errors="replace").strip()))
    return out


# What Display and Image run.
TOOLS = ("Xvfb", "xdotool", "xwininfo", "xprop", "import", "convert")


def missing_tool(names=TOOLS):
    """The first of `names` not found on the PATH, or None."""
    return next((name for name in names if shutil.which(name) is None), None)


def anchored(title):
    """A window-name pattern that matches `title` and nothing longer."""
    return "^" + re.escape(title) + "$"


KEEP = object()  # copy_story: leave the title file as the source has it


def copy_story(source, path, omit=(), script=None, title=KEEP, extra=None):
    """A copy of the story folder `source` at `path`, without the files in `omit`, with
    `script` as its script, `title` as its title file (None: no title file) and the
    files of `extra` ({name: bytes}) added. Returns `path`."""
    shutil.copytree(source, path)
    for file_name in omit:
        os.remove(os.path.join(path, file_name))
    if script is not None:
        with open(os.path.join(path, "script.bexu"), "wb") as f:
            f.write(script.encode("latin-1"))
    title_path = os.path.join(path, "init.bexc")
    if title is None:
        if os.path.exists(title_path):
            os.remove(title_path)
    elif title is not KEEP:
        with open(title_path, "wb") as f:
            f.write(title.encode("latin-1"))
    for file_name, data in (extra or {}).items():
        with open(os.path.join(path, file_name), "wb") as f:
            f.write(data)
    return path


@contextlib.contextmanager
def work_folders(prefix, out=None):
    """(work, out): a temporary folder removed afterwards, and `out` made absolute and
    created (by default a folder inside work)."""
    with tempfile.TemporaryDirectory(prefix=prefix) as work:
        out = os.path.abspath(out or os.path.join(work, "out"))
        os.makedirs(out, exist_ok=True)
        yield work, out


class Player:
    """One run of a program in a folder, output to a log; ended with its process group."""

    def __init__(self, display, command, folder, log_path, env=None):
        self.log_path = log_path
        self.log = open(log_path, "ab")
        self.process = subprocess.Popen(command, cwd=folder, env=display.env(env),
                                        stdin=subprocess.DEVNULL, stdout=self.log,
                                        stderr=self.log, start_new_session=True)

    def wait_exit(self, timeout=20):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("the player did not end within %d s" % timeout)

    def expect_exit(self, wanted, after, timeout=20):
        code = self.wait_exit(timeout)
        if code != wanted:
            raise Failure("%s: exit code %d, not %d" % (after, code, wanted))

    def output(self):
        self.log.flush()
        with open(self.log_path, "rb") as f:
            return f.read().decode("latin-1")

    def stop(self):
        kill_group(self.process)
        self.log.close()


class Display:
    """An Xvfb server on a free display number, 24-bit colour. It never resets: a server
    that resets when its last client leaves refuses the next program for a moment."""

    def __init__(self, width=1920, height=1200):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
             "%dx%dx24" % (width, height), "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 30
        with os.fdopen(read_end, "rb") as pipe:
            while not number.endswith(b"\n") and time.monotonic() < deadline:
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip():
            kill_group(self.process)
            raise Failure("Xvfb did not start")
        self.name = ":" + number.decode().strip()

    def env(self, extra=None):
        env = dict(os.environ)
        env["DISPLAY"] = self.name
        env.update(extra or {})
        return env

    def stop(self):
        kill_group(self.process)

    # ---- windows -----------------------------------------------------------

    def find_windows(self, name_regex, visible_only=True):
        args = ["xdotool", "search"]
        if visible_only:
            args.append("--onlyvisible")
        args += ["--name", name_regex]
        out = run(args, env=self.env(), timeout=10, check=False)
        return [int(word) for word in out.split()]

    def wait_window(self, name_regex, timeout, process=None, visible_only=True):
        """The one window whose title matches; fails if the program ends first."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            found = self.find_windows(name_regex, visible_only)
            if found:
                return found[0]
            if process is not None and process.poll() is not None:
                raise Failure("program ended (code %s) before a window %r showed"
                              % (process.returncode, name_regex))
            time.sleep(0.2)
        raise Failure("no window %r within %d s" % (name_regex, timeout))

    def wait_window_of(self, process, timeout):
        """The shown window of `process`, found by the process id it sets on it."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            out = run(["xdotool", "search", "--onlyvisible", "--pid", str(process.pid)],
                      env=self.env(), timeout=10, check=False)
            if out.split():
                return int(out.split()[0])
            if process.poll() is not None:
                raise Failure("program ended (code %s) before its window showed"
                              % process.returncode)
            time.sleep(0.2)
        raise Failure("no window of process %d within %d s" % (process.pid, timeout))

    def property_bytes(self, window, name):
        """The bytes of a window's 8-bit property, as xprop reads them (no locale in the
        way); None when the window has no such property."""
        out = run(["xprop", "-id", str(window), "-notype", "-f", name, "8x", name],
                  env=self.env(), timeout=10).decode()
        values = out.partition(" = ")[2].strip()
        if not values or "not found" in out:
            return None
        return bytes(int(value, 16) for value in values.split(", "))

    def top_level_windows(self):
        """(id, name) of the root's children, from xwininfo -root -tree."""
        out = run(["xwininfo", "-root", "-tree"], env=self.env(), timeout=10)
        found = []
        for line in out.decode("latin-1").splitlines():
            match = re.match(r'\s+(0x[0-9a-f]+) "(.*)": ', line)
            if match:
                found.append((int(match.group(1), 16), match.group(2)))
        return found

    def is_viewable(self, window):
        out = run(["xwininfo", "-id", str(window)], env=self.env(), timeout=10, check=False)
        return b"IsViewable" in out

    def shown(self, title):
        """Whether a top-level window named exactly `title` is on the screen."""
        return any(self.is_viewable(w) for w, name in self.top_level_windows() if name == title)

    def wait_box(self, caption, timeout, process):
        """The shown top-level window named exactly `caption` (a message box); fails if
        the program ends first."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if process.poll() is not None:
                raise Failure("ended with %s before any box showed" % process.returncode)
            box = next((w for w, name in self.top_level_windows()
                        if name == caption and self.is_viewable(w)), None)
            if box is not None:
                return box
            time.sleep(0.1)
        raise Failure("no box captioned %r" % caption)

    def key(self, window, key):
        run(["xdotool", "key", "--window", str(window), key], env=self.env(), timeout=10)

    def focus_key(self, window, key):
        """Types through the server's keyboard into the focused window."""
        run(["xdotool", "windowfocus", "--sync", str(window)], env=self.env(), timeout=10,
            check=False)
        run(["xdotool", "key", key], env=self.env(), timeout=10)

    def resize(self, window, width, height):
        run(["xdotool", "windowsize", str(window), str(width), str(height)], env=self.env(),
            timeout=10)

    def window_size(self, window):
        out = run(["xdotool", "getwindowgeometry", "--shell", str(window)], env=self.env(),
                  timeout=10).decode()
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["WIDTH"]), int(values["HEIGHT"])

    def screenshot(self, window):
        """The window's pixels as an Image."""
        data = run(["import", "-silent", "-window", str(window), "-depth", "8", "ppm:-"],
                   env=self.env(), timeout=20)
        return Image.from_ppm(data)


class Session:
    """One run of cases on one display: players' logs and screenshots go to `out`, each
    case's result is printed as it ends and summed up under `label` by finish()."""

    def __init__(self, out, label):
        self.out = out
        self.label = label
        self.display = None
        self.results = []
        self.notes = []
        self.runs = 0

    def open_display(self, width=1920, height=1200):
        self.display = Display(width, height)
        return self.display

    def close_display(self):
        if self.display is not None:
            self.display.stop()
            self.display = None

    def start(self, command, folder, env=None, kind="player"):
        """Starts `command` in `folder` on the display, its output in <out>/<kind>-<n>.log."""
        self.runs += 1
        log = os.path.join(self.out, "%s-%d.log" % (kind, self.runs))
        return Player(self.display, command, folder, log, env)

    def save(self, image, name):
        image.save_png(os.path.join(self.out, name + ".png"))

    def wait_main(self, player, title, timeout=20):
        """The player's window titled exactly `title`; a failure tells what the player
        wrote."""
        try:
            return self.display.wait_window(anchored(title), timeout, player.process)
        except Failure as failure:
            raise Failure("%s; the player wrote: %r" % (failure, player.output()))

    def note(self, text):
        """A line printed under the results."""
        self.notes.append(text)

    def case(self, name, function):
        """Runs function(); a Failure or any other Exception fails the case. Returns
        whether it passed."""
        start = time.monotonic()
        try:
            function()
            self.results.append((name, None))
            print("PASS %s (%.1f s)" % (name, time.monotonic() - start), flush=True)
            return True
        except Failure as failure:
            self.results.append((name, str(failure)))
            print("FAIL %s (%.1f s): %s" % (name, time.monotonic() - start, failure),
                  flush=True)
        except Exception:  # a fault of the driver itself is a failure too
            self.results.append((name, traceback.format_exc()))
            print("FAIL %s: %s" % (name, traceback.format_exc()), flush=True)
        return False

    def finish(self):
        """Prints the notes and the count of passed and failed cases; True if none failed."""
        for note in self.notes:
            print("  " + note)
        failed = sum(1 for _, error in self.results if error is not None)
        print("%s: %d passed, %d failed" % (self.label, len(self.results) - failed, failed))
        return failed == 0

    def fatal_box(self, player, caption, main_title, main_shown, keys=(), settle=0.5,
                  between=0.0, timeout=20):
        """A fatal report: after `keys` typed into the window titled `main_title`, the box
        captioned `caption` shows while the player still runs, with the main window
        shown or not as `main_shown` says. Returns the box, for the caller to look at
        and dismiss."""
        if keys:
            window = self.wait_main(player, main_title, timeout)
            time.sleep(settle)
            for key in keys:
                self.display.key(window, key)
                time.sleep(between)
        box = self.display.wait_box(caption, timeout, player.process)
        shown = self.display.shown(main_title)
        if shown != main_shown:
            raise Failure("the window %r is %s while the box shows"
                          % (main_title, "shown" if shown else "not shown"))
        if player.process.poll() is not None:
            raise Failure("the player ended while its box still showed")
        return box


class Image:
    """RGB pixels, 3 bytes each, rows top first."""

    def __init__(self, width, height, pixels):
        self.width = width
        self.height = height
        self.pixels = bytes(pixels)

    @staticmethod
    def from_ppm(data):
        fields = []
        position = 0
        while len(fields) < 4:
            while data[position:position + 1].isspace():
                position += 1
            if data[position:position + 1] == b"#":
                position = data.index(b"\n", position)
                continue
            end = position
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[position:end])
            position = end
        position += 1
        if fields[0] != b"P6" or fields[3] != b"255":
            raise Failure("unexpected screenshot format %r" % fields)
        width, height = int(fields[1]), int(fields[2])
        return Image(width, height, data[position:position + width * height * 3])

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.pixels[i:i + 3])

    def __eq__(self, other):
        return (self.width, self.height, self.pixels) == (other.width, other.height,
                                                          other.pixels)

    def __hash__(self):
        return hash((self.width, self.height, self.pixels))

    def difference(self, other):
        """(pixels that differ, their bounding box) against a same-sized image."""
        if (self.width, self.height) != (other.width, other.height):
            return self.width * self.height, None
        count = 0
        box = None
        row = self.width * 3
        for y in range(self.height):
            a = self.pixels[y * row:(y + 1) * row]
            b = other.pixels[y * row:(y + 1) * row]
            if a == b:
                continue
            for x in range(self.width):
                if a[x * 3:x * 3 + 3] != b[x * 3:x * 3 + 3]:
                    count += 1
                    if box is None:
                        box = [x, y, x, y]
                    else:
                        box = [min(box[0], x), box[1], max(box[2], x), y]
        return count, box

    def save_png(self, path):
        header = b"P6\n%d %d\n255\n" % (self.width, self.height)
        process = subprocess.run(["convert", "ppm:-", path], input=header + self.pixels,
                                 timeout=60, check=False)
        return process.returncode == 0
