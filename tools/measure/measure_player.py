#!/usr/bin/env python3
"""Measures the Linux player on a virtual X display, as a reader would meet it:

- launch to first picture: from starting the process to the first frame showing the
  story's first scene (one pixel of the window polled through Xlib every millisecond);
  the median of several launches;
- resident memory (VmRSS, and the peak VmHWM) at the 1600 x 900 start size, while the
  story waits for Space;
- CPU while waiting for Space: user + system time over a span, as a share of one core.

Usage: measure_player.py [--player build/bexu ...] [--story examples/demo] [--runs 11]
       [--idle-seconds 10]
Needs Xvfb and libX11 (Debian: xvfb, libx11-6). Prints one line per figure. Given
several players (e.g. --player build/bexu --player build/bexu-static), it launches
them in turn on the same display, run after run, and gives each one's figures and
its launch time against the first's.
"""

import argparse
import ctypes
import ctypes.util
import os
import signal
import statistics
import subprocess
import sys
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

import expected as ex  # noqa: E402

CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


class Xlib:
    """The few Xlib calls needed to find a window by title and read one of its pixels."""

    def __init__(self, display_name):
        self.lib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        lib = self.lib
        lib.XOpenDisplay.restype = ctypes.c_void_p
        lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        lib.XDefaultRootWindow.restype = ctypes.c_ulong
        lib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        lib.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                   ctypes.POINTER(ctypes.c_ulong),
                                   ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                                   ctypes.POINTER(ctypes.c_uint)]
        lib.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                   ctypes.POINTER(ctypes.c_char_p)]
        lib.XFree.argtypes = [ctypes.c_void_p]
        lib.XGetImage.restype = ctypes.c_void_p
        lib.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                  ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        lib.XGetPixel.restype = ctypes.c_ulong
        lib.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
        lib.XDestroyImage.argtypes = [ctypes.c_void_p]
        lib.XSetErrorHandler.argtypes = [ctypes.c_void_p]
        self.handler = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)(
            lambda display, error: 0)  # a window that goes away mid-call is no failure
        lib.XSetErrorHandler(ctypes.cast(self.handler, ctypes.c_void_p))
        self.display = lib.XOpenDisplay(display_name.encode())
        if not self.display:
            raise RuntimeError("cannot open display %s" % display_name)
        self.root = lib.XDefaultRootWindow(self.display)

    def find(self, title):
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        children = ctypes.POINTER(ctypes.c_ulong)()
        count = ctypes.c_uint()
        if not self.lib.XQueryTree(self.display, self.root, ctypes.byref(root),
                                   ctypes.byref(parent), ctypes.byref(children),
                                   ctypes.byref(count)):
            return None
        found = None
        for i in range(count.value):
            name = ctypes.c_char_p()
            if self.lib.XFetchName(self.display, children[i], ctypes.byref(name)) and name.value:
                if name.value.decode("latin-1") == title:
                    found = children[i]
                self.lib.XFree(name)
        if children:
            self.lib.XFree(children)
        return found

    def pixel(self, window, x, y):
        """0xRRGGBB at (x, y) of the window, or None while it cannot be read."""
        image = self.lib.XGetImage(self.display, window, x, y, 1, 1, 0xFFFFFFFF, 2)  # ZPixmap
        if not image:
            return None
        value = self.lib.XGetPixel(image, 0, 0)
        self.lib.XDestroyImage(image)
        return value & 0xFFFFFF


def start_xvfb():
    read_end, write_end = os.pipe()
    process = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                "1920x1080x24", "-nolisten", "tcp", "-noreset"],
                               pass_fds=(write_end,),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               start_new_session=True)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        number = pipe.readline().strip()
    if not number:
        raise RuntimeError("Xvfb did not start")
    return process, ":" + number


def end(process):
    if process.poll() is None:
        os.killpg(process.pid, signal.SIGKILL)
    process.wait()


def first_scene_pixel(story):
    """A pixel of the first scene that no text covers and that is not black."""
    with open(os.path.join(story, "script.bexu"), "rb") as f:
        script = f.read().decode("latin-1")
    start = script.index("[cg~") + 4
    scene = ex.load_bmp(os.path.join(story, script[start:script.index("]", start)]))
    for y in range(899, 400, -7):
        for x in range(1599, 0, -13):
            if scene.pixel(x, y) != (0, 0, 0):
                r, g, b = scene.pixel(x, y)
                return x, y, (r << 16) | (g << 8) | b
    raise RuntimeError("the first scene is black")


def launch(player, story, env, xlib, title, probe, timeout=10.0):
    """Starts the player; returns (process, seconds to the window, seconds to the scene)."""
    x, y, colour = probe
    started = time.monotonic()
    process = subprocess.Popen([player], cwd=story, env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, start_new_session=True)
    window = None
    window_at = None
    while time.monotonic() - started < timeout:
        if window is None:
            window = xlib.find(title)
            if window is not None:
                window_at = time.monotonic() - started
        if window is not None and xlib.pixel(window, x, y) == colour:
            return process, window_at, time.monotonic() - started
        if process.poll() is not None:
            break
        time.sleep(0.001)
    end(process)
    raise RuntimeError("no first picture within %.0f s" % timeout)


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLOCK_TICKS  # utime, stime


def memory_kib(pid):
    values = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, rest = line.partition(":")
            if key in ("VmRSS", "VmHWM", "RssAnon", "RssFile", "RssShmem"):
                values[key] = int(rest.split()[0])
    return values


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--player", action="append")
    parser.add_argument("--story", default=os.path.join(ROOT, "examples", "demo"))
    parser.add_argument("--runs", type=int, default=11)
    parser.add_argument("--idle-seconds", type=float, default=10.0)
    args = parser.parse_args()
    players = [os.path.abspath(p) for p in args.player or [os.path.join(ROOT, "build", "bexu")]]
    story = os.path.abspath(args.story)
    title = "Bexu Game"
    if os.path.exists(os.path.join(story, "init.bexc")):
        with open(os.path.join(story, "init.bexc"), "rb") as f:
            title = f.read().split(b"\0")[0].decode("latin-1") or title
    probe = first_scene_pixel(story)

    server, display = start_xvfb()
    try:
        env = dict(os.environ, DISPLAY=display, SDL_VIDEODRIVER="x11", SDL_AUDIODRIVER="dummy")
        xlib = Xlib(display)
        windows = {player: [] for player in players}
        pictures = {player: [] for player in players}
        for _ in range(args.runs):
            for player in players:
                process, window_at, picture_at = launch(player, story, env, xlib, title, probe)
                windows[player].append(window_at)
                pictures[player].append(picture_at)
                end(process)
                time.sleep(0.2)
        first = statistics.median(pictures[players[0]])
        for player in players:
            name = os.path.basename(player)
            print("%s: launch to window: median %.0f ms (min %.0f, max %.0f, %d runs)"
                  % (name, 1000 * statistics.median(windows[player]),
                     1000 * min(windows[player]), 1000 * max(windows[player]),
                     len(windows[player])))
            print("%s: launch to first picture: median %.0f ms (min %.0f, max %.0f, %d runs)%s"
                  % (name, 1000 * statistics.median(pictures[player]),
                     1000 * min(pictures[player]), 1000 * max(pictures[player]),
                     len(pictures[player]),
                     "" if player == players[0] else ", %.2f times %s's"
                     % (statistics.median(pictures[player]) / first,
                        os.path.basename(players[0]))))
        for player in players:
            idle_figures(os.path.basename(player), player, story, env, xlib, title, probe,
                         server, args.idle_seconds)
    finally:
        end(server)
    return 0


def idle_figures(name, player, story, env, xlib, title, probe, server, idle_seconds):
    process, _, _ = launch(player, story, env, xlib, title, probe)
    try:
        time.sleep(1.0)  # the first key wait has begun: the marker blinks
        before, at = cpu_seconds(process.pid), time.monotonic()
        server_before = cpu_seconds(server.pid)
        time.sleep(idle_seconds)
        used = cpu_seconds(process.pid) - before
        server_used = cpu_seconds(server.pid) - server_before
        span = time.monotonic() - at
        memory = memory_kib(process.pid)
        print("%s: CPU while waiting for Space at 1600x900: %.1f %% of one core (%.2f s in "
              "%.1f s); the X server meanwhile: %.1f %%"
              % (name, 100 * used / span, used, span, 100 * server_used / span))
        print("%s: resident memory at 1600x900: %.1f MB (peak %.1f MB; anonymous %.1f, "
              "files %.1f, shared %.1f)" % (name, memory["VmRSS"] / 1024,
                                           memory["VmHWM"] / 1024,
                                           memory.get("RssAnon", 0) / 1024,
                                           memory.get("RssFile", 0) / 1024,
                                           memory.get("RssShmem", 0) / 1024))
    finally:
        end(process)

if __name__ == "__main__":
    sys.exit(main())
