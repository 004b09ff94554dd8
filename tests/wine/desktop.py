"""A virtual X display and the programs on it: start, find windows, type, look.

Every child runs in its own process group so a hung one can be ended with
everything it started; every wait has a limit.
"""

import os
import re
import signal
import subprocess
import time


class Failure(Exception):
    """A check that did not hold; the message says what was seen."""


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


def anchored(title):
    """A window-name pattern that matches `title` and nothing longer."""
    return "^" + re.escape(title) + "$"


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
