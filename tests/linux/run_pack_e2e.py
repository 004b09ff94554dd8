#!/usr/bin/env python3
"""End-to-end tests of the Linux release archive that bexu-pack makes.

Usage: run_pack_e2e.py --pack build/bexu-pack --demo examples/demo [--out DIR]
       run_pack_e2e.py --tarball ARCHIVE [--out DIR]

With --tarball, an archive made elsewhere (bexu studio's) is played through its
launcher instead.

Packs the demo (with a stand-in Windows player, and a stand-in web player unless
--web-player names a built one), unpacks the tar.gz as a reader would, and starts it
from another working directory, once through the launcher and once through the
desktop entry's Exec line, on a virtual X display: the window must carry the title of
init.bexc and show the first key wait's canvas, worked out from the unpacked files,
pixel for pixel. The packed player names no library but glibc's: on a machine without
ALSA's library it still plays (silent), and without the X11 libraries it says there is
no display. Those machines are made by hiding a library in a private mount namespace
(root only; skipped else). The web archive beside it holds the web player's files and
the story data. A story whose sound is a link out of its folder is refused, with
--force too; one whose scene is a link inside the folder packs, and plays unpacked.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "fixtures"))

import harness  # noqa: E402
import run_e2e  # noqa: E402
from harness import Failure  # noqa: E402

# The oldest glibc docs/authoring.md promises readers.
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


def stand_in_web_player(folder):
    """Files that begin as the web player build's do."""
    os.makedirs(folder)
    for name, data in (("index.html", b"<!doctype html><title>stand-in</title>"),
                       ("bexu.js", b"// stand-in"), ("bexu.wasm", b"\0asm\1\0\0\0")):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    return folder


class PackSuite(harness.DisplaySuite):
    def __init__(self, args, work, session):
        super().__init__(args, work, session)
        self.stand_in = os.path.join(work, "stand-in.exe")
        with open(self.stand_in, "wb") as f:
            f.write(b"MZ" + bytes(62))
        self.web_player = args.web_player or stand_in_web_player(os.path.join(work, "web"))
        self.archives = os.path.join(work, "archives")
        if args.tarball:
            os.makedirs(self.archives)
            shutil.copy(args.tarball, self.archives)
        else:
            done = self.pack(args.demo, self.archives)
            if done.returncode != 0:
                raise Failure("bexu-pack failed: %s" % done.stdout.decode("latin-1"))
        # A blank in the path, as in many home folders.
        self.folder, self.launcher = self.unpack(self.archives,
                                                 os.path.join(work, "unpacked here"))
        # Somewhere else to start from, holding no story.
        self.elsewhere = os.path.join(work, "elsewhere")
        os.makedirs(self.elsewhere)

    def pack(self, story, out, *options):
        return subprocess.run([self.args.pack, story, "--out", out, "--windows-player",
                               self.stand_in, "--web-player", self.web_player] + list(options),
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)

    def unpack(self, archives, unpacked):
        """The Linux archive in `archives`, unpacked into `unpacked`: its folder and launcher."""
        tarball = [n for n in os.listdir(archives) if n.endswith("-linux-x86_64.tar.gz")]
        if len(tarball) != 1:
            raise Failure("no single Linux archive among %s" % os.listdir(archives))
        os.makedirs(unpacked)
        subprocess.run(["tar", "xzf", os.path.join(archives, tarball[0]), "-C", unpacked],
                       check=True, timeout=60)
        (top,) = os.listdir(unpacked)
        return os.path.join(unpacked, top), os.path.join(unpacked, top, top)

    def first_picture(self, command, name, env=None, folder=None):
        """Starts `command` from elsewhere; the first key wait must show exactly."""
        suite = run_e2e.Suite(argparse.Namespace(demo=folder or self.folder, player=None),
                              self.work, self.session)
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
            raise Failure("the packed player needs glibc %s, newer than the %s docs/authoring.md "
                          "promises" % (".".join(map(str, newest)),
                                        ".".join(map(str, GLIBC_FLOOR))))

    def case_web_archive(self):
        """The web archive beside the others: the web player's files as built, a read-me
        and the story data, at its top."""
        (web,) = [n for n in os.listdir(self.archives) if n.endswith("-web.zip")]
        with zipfile.ZipFile(os.path.join(self.archives, web)) as z:
            names = z.namelist()
            if names != ["README.txt", "bexu.js", "bexu.wasm", "index.html", "story.bexw"]:
                raise Failure("the web archive holds %s" % names)
            for name in ("bexu.js", "bexu.wasm", "index.html"):
                with open(os.path.join(self.web_player, name), "rb") as f:
                    if z.read(name) != f.read():
                        raise Failure("the web archive's %s is not the web player's" % name)
            if b"static" not in z.read("README.txt") or not z.read("story.bexw").startswith(
                    b"BEXUWEB1"):
                raise Failure("the web archive's read-me or story data is not theirs")

    def case_links(self):
        """A sound that is a link out of the story folder: refused, --force or not, with
        its place, and nothing written. A scene that is a link inside the folder: packed,
        and the unpacked story plays it."""
        outside = os.path.join(self.work, "outside")
        os.makedirs(outside)
        leaky = os.path.join(self.work, "leaky")
        shutil.copytree(self.args.demo, leaky)
        shutil.move(os.path.join(leaky, "waves.wav"), os.path.join(outside, "waves.wav"))
        os.symlink(os.path.join(outside, "waves.wav"), os.path.join(leaky, "waves.wav"))
        for options in ((), ("--force",)):
            out = os.path.join(self.work, "leaky-archives" + "".join(options))
            done = self.pack(leaky, out, *options)
            said = done.stdout.decode("latin-1")
            if done.returncode != 1 or not re.search(
                    r"leaky/script\.bexu:\d+:\d+: error: 'waves\.wav' is a link to '.*/outside/"
                    r"waves\.wav', outside the story folder.*\[path-link-outside\]", said) or \
                    (os.path.isdir(out) and os.listdir(out)):
                raise Failure("a link out, %s: exit %d, %r" % (options, done.returncode, said))
        linked = os.path.join(self.work, "linked")
        shutil.copytree(self.args.demo, linked)
        os.makedirs(os.path.join(linked, "art"))
        shutil.move(os.path.join(linked, "night.bmp"), os.path.join(linked, "art", "night.bmp"))
        os.symlink(os.path.join("art", "night.bmp"), os.path.join(linked, "night.bmp"))
        archives = os.path.join(self.work, "linked-archives")
        done = self.pack(linked, archives)
        if done.returncode != 0:
            raise Failure("a link inside was refused: %s" % done.stdout.decode("latin-1"))
        folder, launcher = self.unpack(archives, os.path.join(self.work, "linked unpacked"))
        if os.path.islink(os.path.join(folder, "night.bmp")):
            raise Failure("the archive holds the link, not the scene")
        self.first_picture([launcher], "linked-inside", folder=folder)

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
        return self.run_on_display(cases, 1920, 1080)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--pack")
    parser.add_argument("--demo")
    parser.add_argument("--web-player", default=None,
                        help="a built web player's folder (default: stand-in files)")
    parser.add_argument("--tarball", help="play this Linux archive instead of packing the demo")
    parser.add_argument("--out", default=None)
    parser.add_argument("--time-limit", type=int, default=120)
    args = parser.parse_args()
    if not args.tarball and not (args.pack and args.demo):
        parser.error("--pack and --demo, or --tarball, are needed")
    args.pack = args.pack and os.path.abspath(args.pack)
    args.demo = args.demo and os.path.abspath(args.demo)
    args.tarball = args.tarball and os.path.abspath(args.tarball)
    if args.web_player:
        args.web_player = os.path.abspath(args.web_player)
    cases = ["launcher"] if args.tarball else [
        "self_contained", "launcher", "desktop_entry", "web_archive", "links", "without_alsa",
        "without_x11"]
    return harness.run_suite(
        "bexu-pack-e2e-", args.out, args.time_limit,
        lambda work, out: PackSuite(args, work, harness.Session(out, "pack e2e")).run(cases),
        harness.TOOLS + ("readelf", "objdump", "desktop-file-validate"))

if __name__ == "__main__":
    sys.exit(main())
