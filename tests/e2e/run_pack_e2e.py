#!/usr/bin/env python3
"""End-to-end tests of the Linux release archive that bexu-pack makes.

Usage: run_pack_e2e.py --pack build/bexu-pack --demo examples/demo [--out DIR]
       run_pack_e2e.py --tarball ARCHIVE [--out DIR]

With --tarball, an archive made elsewhere (bexu studio's) is played through its
launcher instead.

Packs the demo (with a stand-in Windows player), unpacks the tar.gz as a reader
would, and starts it from another working directory, once through the launcher
and once through the desktop entry's Exec line, on a virtual X display: the
window must carry the title of init.bexc and show the first key wait's canvas,
worked out from the unpacked files, pixel for pixel. The packed player names no
library but glibc's: on a machine without ALSA's library it still plays (silent),
and without the X11 libraries it says there is no display. Those machines are
made by hiding a library in a private mount namespace (root only; skipped else).
"""

import argparse
import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "desktop"))

import harness  # noqa: E402
import run_e2e  # noqa: E402
from harness import Failure  # noqa: E402

# The oldest glibc the README promises readers.
GLIBC_FLOOR = (2, 34)
GLIBC_LIBRARIES = ("libc.so.6", "libm.so.6", "ld-linux-x86-64.so.2")
LIBRARY_FOLDERS = ("/usr/lib/x86_64-linux-gnu", "/lib/x86_64-linux-gnu", "/usr/lib64", "/usr/lib")


def hidden(library, command):
    """`command` on a machine without `library`: the file is covered by an empty one in
    a mount namespace of its own, which ends with the command. None where that cannot be."""
    path = next((os.path.realpath(os.path.join(folder, library)) for folder in LIBRARY_FOLDERS
                 if os.path.exists(os.path.join(folder, library))), None)
    if path is None or subprocess.run(["unshare", "-m", "true"], stderr=subprocess.DEVNULL,
                                      stdout=subprocess.DEVNULL).returncode != 0:
        return None
    return ["unshare", "-m", "sh", "-c", 'mount --bind /dev/null "$0" && exec "$@"',
            path] + command


def desktop_exec(entry_path):
    """The command of a desktop entry's Exec key, parsed by the entry format's rules:
    the value's escapes first, then quoting, then %k becomes the entry's own path."""
    with open(entry_path, encoding="utf-8") as f:
        line = next(l for l in f.read().splitlines() if l.startswith("Exec="))
    value = line[len("Exec="):]
    unescaped = ""
    i = 0
    while i < len(value):
        if value[i] == "\\" and i + 1 < len(value):
            unescaped += {"s": " ", "n": "\n", "t": "\t", "r": "\r", "\\": "\\"}.get(
                value[i + 1], "\\" + value[i + 1])
            i += 2
        else:
            unescaped += value[i]
            i += 1
    args, current, quoted, i = [], None, False, 0
    while i < len(unescaped):
        c = unescaped[i]
        if quoted:
            if c == "\\" and i + 1 < len(unescaped) and unescaped[i + 1] in '"`$\\':
                current += unescaped[i + 1]
                i += 1
            elif c == '"':
                quoted = False
            else:
                current += c
        elif c == '"':
            quoted, current = True, current or ""
        elif c == " ":
            if current is not None:
                args.append(current)
            current = None
        else:
            current = (current or "") + c
        i += 1
    if current is not None:
        args.append(current)
    return [os.path.abspath(entry_path) if a == "%k" else a for a in args]


class PackSuite:
    def __init__(self, args, work, session):
        self.args = args
        self.work = work
        self.session = session
        archives = os.path.join(work, "archives")
        if args.tarball:
            os.makedirs(archives)
            shutil.copy(args.tarball, archives)
        else:
            self.pack(archives)
        tarball = [n for n in os.listdir(archives) if n.endswith("-linux-x86_64.tar.gz")]
        if len(tarball) != 1:
            raise Failure("no single Linux archive among %s" % os.listdir(archives))
        # A blank in the path, as in many home folders.
        self.unpacked = os.path.join(work, "unpacked here")
        os.makedirs(self.unpacked)
        subprocess.run(["tar", "xzf", os.path.join(archives, tarball[0]), "-C", self.unpacked],
                       check=True, timeout=60)
        (top,) = os.listdir(self.unpacked)
        self.folder = os.path.join(self.unpacked, top)
        self.launcher = os.path.join(self.folder, top)
        # Somewhere else to start from, holding no story.
        self.elsewhere = os.path.join(work, "elsewhere")
        os.makedirs(self.elsewhere)

    def pack(self, archives):
        """The demo packed by bexu-pack, with a stand-in Windows player."""
        args = self.args
        stand_in = os.path.join(self.work, "stand-in.exe")
        with open(stand_in, "wb") as f:
            f.write(b"MZ" + bytes(62))
        done = subprocess.run([args.pack, args.demo, "--out", archives,
                               "--windows-player", stand_in],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
        if done.returncode != 0:
            raise Failure("bexu-pack failed: %s" % done.stdout.decode("latin-1"))

    def first_picture(self, command, name, env=None):
        """Starts `command` from elsewhere; the first key wait must show exactly."""
        suite = run_e2e.Suite(argparse.Namespace(demo=self.folder, player=None), self.work,
                              self.session)
        player = self.session.start(command, self.elsewhere,
                                    dict(run_e2e.PLAYER_ENV, **(env or {})), name)
        try:
            window = suite.wait_main(player, suite.title)
            _, shot = suite.wait_state(window, suite.states[0])
            suite.save(shot, name)
        finally:
            player.stop()

    def case_launcher(self):
        self.first_picture([self.launcher], "launcher")

    def case_desktop_entry(self):
        entry = self.launcher + ".desktop"
        checked = subprocess.run(["desktop-file-validate", entry], stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, timeout=30)
        if checked.returncode != 0 or checked.stdout.strip():
            raise Failure("desktop-file-validate: %s" % checked.stdout.decode("latin-1"))
        # Sound through SDL's ALSA driver and the library bound at start, to ALSA's null
        # device (there is no sound card here).
        self.first_picture(desktop_exec(self.launcher + ".desktop"), "desktop-entry",
                           {"SDL_AUDIODRIVER": "alsa", "AUDIODEV": "null"})

    def case_self_contained(self):
        out = harness.run(["readelf", "-d", os.path.join(self.folder, "bexu")]).decode()
        needed = [l.split("[")[1].rstrip("]") for l in out.splitlines() if "(NEEDED)" in l]
        if not needed or any(library not in GLIBC_LIBRARIES for library in needed):
            raise Failure("the packed player needs %s, not only glibc" % needed)
        symbols = harness.run(["objdump", "-T", os.path.join(self.folder, "bexu")]).decode()
        newest = max(tuple(int(n) for n in v.split("."))
                     for v in re.findall(r"GLIBC_([0-9]+(?:\.[0-9]+)+)", symbols))
        if newest > GLIBC_FLOOR:
            raise Failure("the packed player needs glibc %s, newer than the %s the README "
                          "promises" % (".".join(map(str, newest)),
                                        ".".join(map(str, GLIBC_FLOOR))))

    def case_without_alsa(self):
        command = hidden("libasound.so.2", [self.launcher])
        if command is None:
            print("SKIP without_alsa: no private mount namespace here")
            return
        self.first_picture(command, "without-alsa", {"SDL_AUDIODRIVER": "alsa"})

    def case_without_x11(self):
        command = hidden("libX11.so.6", [self.launcher])
        if command is None:
            print("SKIP without_x11: no private mount namespace here")
            return
        done = subprocess.run(command, cwd=self.elsewhere, env=self.session.display.env(),
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=20)
        said = done.stdout.decode("latin-1")
        if done.returncode != 1 or "no display to show a window on" not in said:
            raise Failure("without libX11: exit code %d and %r, wanted 1 and no display"
                          % (done.returncode, said))

    def run(self, cases):
        self.session.open_display(1920, 1080)
        try:
            for name in cases:
                self.session.case(name, getattr(self, "case_" + name))
        finally:
            self.session.close_display()
        return self.session.finish()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--pack")
    parser.add_argument("--demo")
    parser.add_argument("--tarball", help="play this Linux archive instead of packing the demo")
    parser.add_argument("--out", default=None)
    parser.add_argument("--time-limit", type=int, default=120)
    args = parser.parse_args()
    tool = harness.missing_tool(harness.TOOLS + ("readelf", "objdump", "desktop-file-validate"))
    if tool is not None:
        print("FAIL: %s is missing (scripts/install-deps.sh test installs it)" % tool)
        return 1

    if not args.tarball and not (args.pack and args.demo):
        parser.error("--pack and --demo, or --tarball, are needed")
    harness.time_limit(args.time_limit)
    args.pack = args.pack and os.path.abspath(args.pack)
    args.demo = args.demo and os.path.abspath(args.demo)
    args.tarball = args.tarball and os.path.abspath(args.tarball)
    with harness.work_folders("bexu-pack-e2e-", args.out) as (work, out):
        try:
            suite = PackSuite(args, work, harness.Session(out, "pack e2e"))
            cases = ["launcher"] if args.tarball else [
                "self_contained", "launcher", "desktop_entry", "without_alsa", "without_x11"]
            return 0 if suite.run(cases) else 1
        except Failure as failure:
            print("FAIL: %s" % failure)
            return 1
        except harness.OutOfTime:
            print("FAIL: the run took longer than %d s; everything it started is ended"
                  % args.time_limit)
            return 1


if __name__ == "__main__":
    sys.exit(main())
