#!/usr/bin/env python3
"""What a newcomer does, on a Debian 12 minbase root made anew for this run.

A clean clone of the checkout is copied in, the README's prerequisites and its play command
run inside the root (chroot) with a display lent by an Xvfb outside it, and the demo's window
must show its first picture, checked pixel for pixel against the story's own files. With
--archive, a packed Linux archive is first played in the same root before anything else is
installed there but the X11 client libraries. With --test-setup, the test command's install
and configure steps follow in the same root.

The root is torn down whatever happens: the processes started here are ended by their ids,
every mount is undone, and the root is deleted only once nothing is mounted inside it.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "fixtures"))

import expected as ex  # noqa: E402
import harness  # noqa: E402
from harness import Failure, anchored  # noqa: E402

MIRROR = "http://deb.debian.org/debian"
# What the README asks a newcomer to install before its first command.
PREREQUISITES = "apt-get update && apt-get install -y make git"
PLAY_COMMAND = "make play"
# The libraries a desktop without SDL2 has: SDL opens them at run time.
X11_CLIENT_LIBRARIES = "libx11-6 libxext6 libxcursor1 libxi6 libxrandr2 libxss1 libxfixes3"


def log(message):
    print("fresh-root: " + message, flush=True)


class Root:
    """A Debian 12 minbase root in a temporary folder, with /proc, /dev and one X socket
    bind-mounted in; `close` undoes it all."""

    def __init__(self, cache, parent):
        self.path = tempfile.mkdtemp(prefix="bexu-fresh-", dir=parent)
        self.mounts = []
        self.processes = []
        self.unpack(cache)

    def unpack(self, cache):
        if not os.path.isfile(cache):
            os.makedirs(os.path.dirname(cache), exist_ok=True)
            scratch = tempfile.mkdtemp(prefix="bexu-debootstrap-")
            log("caching the Debian 12 base packages in " + cache)
            try:
                harness.run(["debootstrap", "--variant=minbase", "--make-tarball=" + cache + ".part",
                             "bookworm", scratch, MIRROR], timeout=600)
            finally:
                shutil.rmtree(scratch, ignore_errors=True)
            os.rename(cache + ".part", cache)
        started = time.monotonic()
        harness.run(["debootstrap", "--variant=minbase", "--unpack-tarball=" + cache, "bookworm",
                     self.path, MIRROR], timeout=900)
        shutil.copyfile("/etc/resolv.conf", os.path.join(self.path, "etc/resolv.conf"))
        log("made a new root in %.0f s" % (time.monotonic() - started))
        self.mount(["-t", "proc", "proc"], "proc")
        self.mount(["--bind", "/dev"], "dev")

    def mount(self, how, inside):
        target = os.path.join(self.path, inside)
        harness.run(["mount"] + how + [target], timeout=30)
        self.mounts.append(target)

    def lend_display(self, display):
        """Bind-mounts the X server's socket, and only it, into the root."""
        number = display.name.lstrip(":")
        socket = "/tmp/.X11-unix/X" + number
        folder = os.path.join(self.path, "tmp/.X11-unix")
        os.makedirs(folder, exist_ok=True)
        open(os.path.join(folder, "X" + number), "w").close()
        self.mount(["--bind", socket], "tmp/.X11-unix/X" + number)

    def env(self, display):
        return {"PATH": "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
                "HOME": "/root", "LANG": "C.UTF-8", "TERM": "dumb", "DISPLAY": display.name,
                "DEBIAN_FRONTEND": "noninteractive"}

    def start(self, script, display, log_path):
        """A shell command run inside the root in its own process group."""
        out = open(log_path, "ab")
        process = subprocess.Popen(["chroot", self.path, "/bin/bash", "-c", script],
                                   env=self.env(display), stdin=subprocess.DEVNULL, stdout=out,
                                   stderr=subprocess.STDOUT, start_new_session=True)
        out.close()
        self.processes.append(process)
        return process

    def run(self, script, display, log_path, timeout):
        started = time.monotonic()
        process = self.start(script, display, log_path)
        try:
            code = process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            harness.kill_group(process)
            raise Failure("timed out after %d s inside the root: %s (log %s)"
                          % (timeout, script, log_path))
        if code != 0:
            raise Failure("exit %d inside the root: %s (log %s)" % (code, script, log_path))
        return time.monotonic() - started

    def close(self):
        for process in self.processes:
            harness.kill_group(process)
        for target in reversed(self.mounts):
            subprocess.run(["umount", target], check=False)
        with open("/proc/self/mounts") as f:
            live = [line.split()[1] for line in f
                    if line.split()[1].startswith(self.path.rstrip("/") + "/")]
        if live:
            # Deleting through a live bind mount would delete the host's own files.
            log("NOT deleting %s: still mounted there: %s" % (self.path, ", ".join(live)))
            return False
        shutil.rmtree(self.path, ignore_errors=True)
        return True


def first_picture_check(display, title, story, process, timeout):
    """Waits for the window titled `title` and for its first key wait: the first scene, the
    first line and a marker glyph, every pixel as the story's files say."""
    started = time.monotonic()
    window = display.wait_window(anchored(title), timeout, process)
    window_seen = time.monotonic() - started
    scene_name, first_line = first_scene_and_line(story)
    font = ex.Font(ex.load_bmp(os.path.join(story, "font.bmp")))
    scene = ex.load_bmp(os.path.join(story, scene_name))
    wanted = [ex.canvas(scene, font, [first_line], marker)[0] for marker in range(123, 128)]
    deadline = time.monotonic() + 30
    shot = None
    while time.monotonic() < deadline:
        shot = display.screenshot(window)
        if any(shot.width == w.width and shot.height == w.height and shot.pixels == bytes(w.pixels)
               for w in wanted):
            return window_seen
        if process.poll() is not None:
            break
        time.sleep(0.2)
    differing = wanted[0].width * wanted[0].height
    if shot is not None and (shot.width, shot.height) == (wanted[0].width, wanted[0].height):
        differing = min(harness.Image(w.width, w.height, w.pixels).difference(shot)[0]
                        for w in wanted)
    raise Failure("the window %r never showed the first picture: %d pixels differ"
                  % (title, differing))


def first_scene_and_line(story):
    """The demo's first `cg` file and first `say` line, read from its script's first block."""
    with open(os.path.join(story, "script.bexu"), "rb") as f:
        text = f.read().decode("latin-1")
    block = text[text.index("{0"):]
    scene = block[block.index("[cg~") + 4:]
    line = block[block.index("[say~") + 5:]
    return scene[:scene.index("]")], line[:line.index("]")]


def title_of(story):
    path = os.path.join(story, "init.bexc")
    if not os.path.exists(path):
        return "Bexu Game"
    with open(path, "rb") as f:
        return f.read().split(b"\0")[0].decode("latin-1")


def play_archive(root, display, archive, launcher, story, out):
    """The packed Linux player inside the root, started from another folder through its
    launcher, with only the X11 client libraries installed."""
    took = root.run("apt-get update -qq && apt-get install -y -qq --no-install-recommends "
                    + X11_CLIENT_LIBRARIES, display, out, 600)
    log("installed the X11 client libraries in %.0f s" % took)
    inside = os.path.join(root.path, "root/reader")
    os.makedirs(inside)
    harness.run(["tar", "-xzf", archive, "-C", inside], timeout=120)
    launcher = "/root/reader/" + launcher
    # Without this the check would prove nothing.
    root.run("! ldconfig -p | grep -q libSDL2", display, out, 30)
    process = root.start("cd / && '%s'" % launcher, display, out)
    try:
        first_picture_check(display, title_of(story), story, process, 60)
    finally:
        harness.kill_group(process)
    log("the packed Linux player showed the first picture, started as " + launcher)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--checkout", required=True, help="the git checkout to clone")
    parser.add_argument("--cache", default="/var/cache/bexu/bookworm-minbase.tgz")
    parser.add_argument("--work", default="/var/tmp", help="where the root is made")
    parser.add_argument("--out", required=True, help="folder for the logs")
    parser.add_argument("--archive", help="a packed Linux archive to play first")
    parser.add_argument("--launcher", help="the launcher's path inside the archive")
    parser.add_argument("--test-setup", action="store_true",
                        help="also run the test command's install and configure steps")
    parser.add_argument("--time-limit", type=int, default=1200,
                        help="seconds for the prerequisites and the play command together")
    args = parser.parse_args()

    os.makedirs(args.out, exist_ok=True)
    out = os.path.abspath(os.path.join(args.out, "fresh-root.log"))
    open(out, "wb").close()
    story = os.path.join(args.checkout, "examples/demo")
    display = harness.Display(1920, 1080)
    root = None
    try:
        root = Root(args.cache, args.work)
        root.lend_display(display)
        if args.archive:
            play_archive(root, display, os.path.abspath(args.archive), args.launcher, story, out)
        clone = os.path.join(root.path, "root/bexu")
        harness.run(["git", "clone", "-q", "--no-hardlinks", args.checkout, clone], timeout=120)

        started = time.monotonic()
        root.run(PREREQUISITES, display, out, args.time_limit)
        log("README prerequisites (%s) in %.0f s" % (PREREQUISITES, time.monotonic() - started))
        remaining = max(60, args.time_limit - int(time.monotonic() - started))
        process = root.start("cd /root/bexu && " + PLAY_COMMAND, display, out)
        seen = first_picture_check(display, title_of(story), story, process, remaining)
        harness.kill_group(process)
        log("'%s' showed the demo's first picture %.0f s after it began"
            % (PLAY_COMMAND, seen))

        if args.test_setup:
            took = root.run("cd /root/bexu && bash scripts/install-deps.sh test", display, out,
                            1800)
            log("the test command's install step in %.0f s" % took)
            took = root.run("cd /root/bexu && cmake --preset default", display, out, 300)
            log("the test command's configure step in %.0f s" % took)
    except Failure as failure:
        log("FAILED: %s" % failure)
        with open(out, "rb") as f:
            sys.stdout.write(f.read()[-4000:].decode("latin-1"))
        return 1
    finally:
        if root is not None and not root.close():
            return 1
        display.stop()
    log("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
