#!/usr/bin/env python3
"""Measures the Linux player on a virtual X display, as a reader would meet it, side by side
with its floor: instruments/measure/floor_window, a bare SDL2 program that shows the story's first
scene in a 1600 x 900 window through the window surface, the path the player takes.

The two are launched in turn, in one run on one X server, and each figure is printed with
the ratio to the floor. The floor is also run polling its events every 16 ms (--poll), as
the player's loop must, which sets apart what that loop alone costs while waiting:

- launch to first picture: from starting the process to the first frame showing the
  story's first scene (one pixel of the window polled through Xlib every millisecond);
  the median of several launches;
- resident memory (VmRSS, and the peak VmHWM) at the 1600 x 900 start size, while the
  story waits for Space;
- CPU while waiting for Space: run time of all the process's threads over a span, as a
  share of one core, and the X server's run time over the same span.

Usage: measure_player.py [--player build/bexu ...] [--floor build/instruments/measure/floor_window]
       [--story examples/demo] [--runs 11] [--idle-rounds 3] [--settle 6] [--idle-seconds 10]
Needs Xvfb and libX11 (Debian: xvfb, libx11-6). Given several players (e.g. --player
build/bexu --player build/bexu-static), it launches them all in turn with the floor, run
after run, and gives each one's figures beside the floor's.
"""

import argparse
import ctypes
import ctypes.util
import os
import re
import signal
import statistics
import subprocess
import sys
import time

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "fixtures"))

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
        lib.XInternAtom.restype = ctypes.c_ulong
        lib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        lib.XGetWindowProperty.argtypes = [
            ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long, ctypes.c_long,
            ctypes.c_int, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
            ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_ulong),
            ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_void_p)]
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
        # The players name their windows in UTF-8 (_NET_WM_NAME), which XFetchName cannot read.
        self.net_wm_name = lib.XInternAtom(self.display, b"_NET_WM_NAME", 0)

    def title(self, window):
        kind, form = ctypes.c_ulong(), ctypes.c_int()
        count, left, data = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p()
        if self.lib.XGetWindowProperty(self.display, window, self.net_wm_name, 0, 1024, 0, 0,
                                       ctypes.byref(kind), ctypes.byref(form), ctypes.byref(count),
                                       ctypes.byref(left), ctypes.byref(data)) != 0:
            return None
        if not data.value:
            return None
        title = ctypes.string_at(data.value, count.value).decode("utf-8", "replace")
        self.lib.XFree(data)
        return title

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
            if self.title(children[i]) == title:
                found = children[i]
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
    # The read end stays open while the server runs: Xvfb ends itself when a later write
    # to the pipe fails.
    pipe = os.fdopen(read_end)
    number = pipe.readline().strip()
    if not number:
        raise RuntimeError("Xvfb did not start")
    process.displayfd = pipe
    return process, ":" + number


def end(process):
    if process.poll() is None:
        os.killpg(process.pid, signal.SIGKILL)
    process.wait()


def first_scene(story):
    """The first scene's path, and a pixel of it that no text covers and that is not black."""
    with open(os.path.join(story, "script.bexu"), "rb") as f:
        script = f.read().decode("latin-1")
    start = script.index("[cg~") + 4
    path = os.path.join(story, script[start:script.index("]", start)])
    scene = ex.load_bmp(path)
    for y in range(899, 400, -7):
        for x in range(1599, 0, -13):
            if scene.pixel(x, y) != (0, 0, 0):
                r, g, b = scene.pixel(x, y)
                return path, (x, y, (r << 16) | (g << 8) | b)
    raise RuntimeError("the first scene is black")


class Program:
    """One of the programs measured: how to start it and the title of its window."""

    def __init__(self, name, command, cwd, title):
        self.name, self.command, self.cwd, self.title = name, command, cwd, title
        self.windows, self.pictures, self.cpu, self.server, self.memory = [], [], [], [], []
        self.groups = {}


def launch(program, env, xlib, probe, timeout=10.0):
    """Starts the program; returns (process, seconds to the window, seconds to the scene)."""
    x, y, colour = probe
    started = time.monotonic()
    process = subprocess.Popen(program.command, cwd=program.cwd, env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               start_new_session=True)
    window = None
    window_at = None
    while time.monotonic() - started < timeout:
        if window is None:
            window = xlib.find(program.title)
            if window is not None:
                window_at = time.monotonic() - started
        if window is not None and xlib.pixel(window, x, y) == colour:
            return process, window_at, time.monotonic() - started
        if process.poll() is not None:
            break
        time.sleep(0.001)
    end(process)
    raise RuntimeError("%s: no first picture within %.0f s" % (program.name, timeout))


def cpu_seconds(pid):
    """Run time of all the process's threads, to the nanosecond where the kernel keeps it."""
    total = 0
    try:
        for task in os.listdir("/proc/%d/task" % pid):
            with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
                total += int(f.read().split()[0])
        return total / 1e9
    except (OSError, ValueError):
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


# Resident memory by what it holds, from the names of the process's mappings.
MEMORY_GROUPS = [
    ("the program itself", r"/(bexu[-\w]*|floor_window)$"),
    ("SDL2", r"libSDL2"),
    ("X client libraries", r"/lib(X|xcb|xkb)"),
    ("C and C++ runtime", r"/(libc|libm|libstdc\+\+|libgcc_s|ld-linux[^/]*)\.so"),
    ("sound libraries", r"/lib(asound|pulse|sndfile|FLAC|vorbis|opus|ogg|mpg123|mp3lame|samplerate)"),
    ("other libraries", r"\.so"),
    ("X image shared with the server (SYSV shm)", r"^/SYSV"),
    ("heap (malloc arena)", r"^\[heap\]$"),
    ("anonymous maps (blocks of 128 KiB and more)", r"^$"),
    ("stack and the rest", r"."),
]


def memory_map(pid):
    """{group: resident KiB} from /proc/PID/smaps."""
    groups = {}
    name = ""
    with open("/proc/%d/smaps" % pid) as f:
        for line in f:
            fields = line.split()
            if "-" in fields[0] and len(fields) >= 5 and ":" in fields[3]:
                name = " ".join(fields[5:]) if len(fields) > 5 else ""
            elif fields[0] == "Rss:":
                for group, pattern in MEMORY_GROUPS:
                    if re.search(pattern, name):
                        groups[group] = groups.get(group, 0) + int(fields[1])
                        break
    return groups


def measure_idle(program, env, xlib, probe, server, settle, seconds):
    """CPU of the program and of the X server while the first picture waits, from `settle`
    seconds after the picture on; memory after."""
    process, _, _ = launch(program, env, xlib, probe)
    try:
        time.sleep(settle)
        before, server_before, at = (cpu_seconds(process.pid), cpu_seconds(server.pid),
                                     time.monotonic())
        time.sleep(seconds)
        used = cpu_seconds(process.pid) - before
        server_used = cpu_seconds(server.pid) - server_before
        span = time.monotonic() - at
        program.cpu.append(used / span)
        program.server.append(server_used / span)
        program.memory.append(memory_kib(process.pid))
        program.groups = memory_map(process.pid)
    finally:
        end(process)


def print_figures(player, floor, loop):
    """One player's figures beside the floor's, each with its ratio to the floor."""
    print("%-44s %14s %14s %8s" % ("figure", player.name, "floor", "ratio"))

    def row(label, value, floor_value, unit, scale=1.0, digits=1):
        print("%-44s %11.*f %-2s %11.*f %-2s %8s" % (label, digits, value * scale, unit, digits,
                                                   floor_value * scale, unit,
                                                   ratio(value, floor_value)))

    for label, key in (("launch to window (median)", "windows"),
                       ("launch to first picture (median)", "pictures")):
        row(label, statistics.median(getattr(player, key)),
            statistics.median(getattr(floor, key)), "ms", 1000)
    for label, key in (("  min", min), ("  max", max)):
        row(label, key(player.pictures), key(floor.pictures), "ms", 1000)

    def memory(program, key):
        return statistics.median(m.get(key, 0) for m in program.memory) / 1024

    for label, key in (("resident memory at 1600x900 (VmRSS)", "VmRSS"),
                       ("  peak (VmHWM)", "VmHWM"), ("  anonymous", "RssAnon"),
                       ("  files", "RssFile"), ("  shared (the X image)", "RssShmem")):
        row(label, memory(player, key), memory(floor, key), "MB")
    row("CPU while waiting for Space (median)", statistics.median(player.cpu),
        statistics.median(floor.cpu), "%", 100, 3)
    row("  the X server meanwhile", statistics.median(player.server),
        statistics.median(floor.server), "%", 100, 3)
    # The format's loop takes the events and sleeps 16 ms, waiting or not: its cost alone.
    row("  against the floor polling every 16 ms", statistics.median(player.cpu),
        statistics.median(loop.cpu), "%", 100, 3)
    row("    the X server meanwhile", statistics.median(player.server),
        statistics.median(loop.server), "%", 100, 3)
    for program in (player, floor, loop):
        print("CPU of each span, %s: %s (%% of one core)"
              % (program.name, ", ".join("%.3f" % (100 * c) for c in program.cpu)))
    print("resident memory by what it holds, at the end of the last idle span:")
    for group, _ in MEMORY_GROUPS:
        row("  " + group, player.groups.get(group, 0) / 1024, floor.groups.get(group, 0) / 1024,
            "MB", 1, 2)


def ratio(value, floor):
    return "%.2f x" % (value / floor) if floor > 0 else "-"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--player", action="append")
    parser.add_argument("--floor", default=os.path.join(ROOT, "build", "instruments", "measure",
                                                        "floor_window"))
    parser.add_argument("--story", default=os.path.join(ROOT, "examples", "demo"))
    parser.add_argument("--runs", type=int, default=11, help="launches of each program")
    parser.add_argument("--idle-rounds", type=int, default=3, help="idle spans of each program")
    parser.add_argument("--settle", type=float, default=6.0,
                        help="seconds from the first picture to the idle span; the demo's first "
                             "sound, 4 s of sea, has played out by 6 s and its device is closed")
    parser.add_argument("--idle-seconds", type=float, default=10.0)
    args = parser.parse_args()
    players = [os.path.abspath(p) for p in args.player or [os.path.join(ROOT, "build", "bexu")]]
    story = os.path.abspath(args.story)
    title = "Bexu Game"
    if os.path.exists(os.path.join(story, "init.bexc")):
        with open(os.path.join(story, "init.bexc"), "rb") as f:
            title = f.read().split(b"\0")[0].decode("latin-1") or title
    scene, probe = first_scene(story)
    floor_title = "bexu floor"
    floor = Program("floor", [os.path.abspath(args.floor), scene, floor_title], story,
                    floor_title)
    loop = Program("floor loop", [os.path.abspath(args.floor), scene, floor_title + " loop",
                                  "--poll"], story, floor_title + " loop")
    measured = [Program(os.path.basename(player), [player], story, title) for player in players]
    programs = [floor] + measured + [loop]

    server, display = start_xvfb()
    try:
        env = dict(os.environ, DISPLAY=display, SDL_VIDEODRIVER="x11", SDL_AUDIODRIVER="dummy",
                   SDL_FRAMEBUFFER_ACCELERATION="0")
        xlib = Xlib(display)
        # Interleaved, the order turned each round, so neither profits from a warmer machine.
        launched = [floor] + measured
        for run in range(args.runs):
            for program in (launched if run % 2 == 0 else launched[::-1]):
                process, window_at, picture_at = launch(program, env, xlib, probe)
                program.windows.append(window_at)
                program.pictures.append(picture_at)
                end(process)
                time.sleep(0.2)
        for run in range(args.idle_rounds):
            for program in (programs if run % 2 == 0 else programs[::-1]):
                measure_idle(program, env, xlib, probe, server, args.settle, args.idle_seconds)
    finally:
        end(server)

    print("%d launches and %d idle spans of %.0f s each (from %.0f s after the first picture), "
          "interleaved, on one Xvfb"
          % (args.runs, args.idle_rounds, args.idle_seconds, args.settle))
    for player in measured:
        print()
        print_figures(player, floor, loop)
    return 0


if __name__ == "__main__":
    sys.exit(main())
