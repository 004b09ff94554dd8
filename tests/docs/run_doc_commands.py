#!/usr/bin/env python3
"""Runs the commands of a guide in docs/ on a scratch story, in the order the guide gives them.

In a temporary folder that holds `build/` (the built programs), `examples/` (the checkout's) and
the art an author brings (`art.png`, `art.jpg`, `door.flac`), each fenced block is taken in turn:

  ```sh        run with bash -e; it must end with exit code 0
  ```console   each `$ ` line is run, and every other line of the block must appear in what
               the commands print (standard output and error together)
  other fences ignored

A comment on the line before a block changes that: `<!-- docs-check: skip, REASON -->` (not
run; the reason is printed), `exit N` (the commands end with N), `file PATH` (the block is
written to PATH in the scratch folder), `output varies` (a console block's output is not
compared). Several may stand in one comment, separated by `;`.

bexu-pack is given stand-ins for the Windows and web players (other presets build those), and
the Linux player beside it when the build has no self-contained one. Exits 1 at the first block
that fails, naming its line in the guide.
"""

import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

MARKER = re.compile(r"^<!--\s*docs-check:\s*(.*?)\s*-->\s*$")
FENCE = re.compile(r"^```(\S*)\s*$")
BLOCK_TIMEOUT = 120


class Failure(Exception):
    pass


class Block:
    def __init__(self, kind, line, text, marks):
        self.kind = kind  # the fence's language: "sh", "console", "" ...
        self.line = line  # of the opening fence, 1-based
        self.text = text
        self.skip = None
        self.exit_code = 0
        self.file = None
        self.output_varies = False
        for mark in marks:
            self.take_mark(mark)

    def take_mark(self, mark):
        words = mark.split(None, 1)
        if mark.startswith("skip"):
            self.skip = mark[len("skip"):].lstrip(" ,") or "no reason given"
        elif words[0] == "exit" and len(words) == 2 and words[1].isdigit():
            self.exit_code = int(words[1])
        elif words[0] == "file" and len(words) == 2:
            self.file = words[1]
        elif mark == "output varies":
            self.output_varies = True
        else:
            raise Failure("line %d: unknown docs-check mark '%s'" % (self.line, mark))


def read_blocks(path):
    """The guide's fenced blocks, each with the marks of the comments just before it."""
    with open(path, encoding="utf-8") as guide:
        lines = guide.read().split("\n")
    blocks = []
    marks = []
    at = 0
    while at < len(lines):
        line = lines[at]
        marker = MARKER.match(line)
        fence = FENCE.match(line)
        if marker:
            marks += [m.strip() for m in marker.group(1).split(";") if m.strip()]
        elif fence:
            end = at + 1
            while end < len(lines) and lines[end].rstrip() != "```":
                end += 1
            if end == len(lines):
                raise Failure("line %d: a fence that is never closed" % (at + 1))
            blocks.append(Block(fence.group(1), at + 1, "\n".join(lines[at + 1:end]) + "\n", marks))
            marks = []
            at = end
        elif line.strip():
            if marks:
                raise Failure("line %d: a docs-check mark stands before text, not a block" % at)
        at += 1
    if marks:
        raise Failure("a docs-check mark at the end of the guide, before no block")
    return blocks


def run(command, folder, environment):
    try:
        done = subprocess.run(["bash", "-e", "-o", "pipefail", "-c", command], cwd=folder,
                              env=environment, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=BLOCK_TIMEOUT)
    except subprocess.TimeoutExpired:
        raise Failure("did not end within %d s" % BLOCK_TIMEOUT)
    return done.returncode, done.stdout.decode("utf-8", "replace")


def check_exit(block, code, output):
    if code != block.exit_code:
        raise Failure("ended with exit code %d, not %d; it printed:\n%s"
                      % (code, block.exit_code, output))


def run_block(block, folder, environment):
    if block.file:
        target = os.path.normpath(block.file)
        if os.path.isabs(target) or target.startswith(".."):
            raise Failure("a file outside the scratch folder: %s" % block.file)
        with open(os.path.join(folder, target), "w", encoding="utf-8") as written:
            written.write(block.text)
        return "wrote " + block.file
    if block.kind == "sh":
        code, output = run(block.text, folder, environment)
        check_exit(block, code, output)
        return "ran"
    if block.kind == "console":
        commands = []  # (command, its expected output lines)
        for line in block.text.rstrip("\n").split("\n"):
            if line.startswith("$ "):
                commands.append((line[2:], []))
            elif not commands:
                raise Failure("output before the first `$` line")
            else:
                commands[-1][1].append(line.rstrip())
        for command, expected in commands:
            code, output = run(command, folder, environment)
            check_exit(block, code, output)
            printed = [line.rstrip() for line in output.split("\n")]
            missing = [line for line in expected if line not in printed]
            if missing and not block.output_varies:
                raise Failure("`%s` did not print, as the guide shows:\n  %s\nit printed:\n%s"
                              % (command, "\n  ".join(missing), output))
        return "ran"
    return None


def make_art(folder, environment):
    """What an author brings: a flat picture of another shape than the canvas, and a sound."""
    steps = [
        "convert -size 2400x1200 xc:'#203048' -fill '#d08030' -draw 'circle 1200,500 1200,300' "
        "-fill '#304020' -draw 'rectangle 0,900 2400,1200' art.png",
        "convert art.png -quality 90 art.jpg",
        "sox -n -r 44100 -c 2 door.flac synth 0.6 brownnoise fade 0 0.6 0.3 vol 0.5",
    ]
    for step in steps:
        code, output = run(step, folder, environment)
        if code != 0:
            raise Failure("the scratch story's input could not be made (`%s`):\n%s"
                          % (step, output))


def make_build_folder(folder, programs):
    """build/ with the built programs; bexu-pack through a wrapper that names its players."""
    build = os.path.join(folder, "build")
    os.mkdir(build)
    for name in sorted(os.listdir(programs)):
        path = os.path.join(programs, name)
        if name.startswith("bexu") and os.path.isfile(path) and os.access(path, os.X_OK):
            os.symlink(path, os.path.join(build, name))
    if not os.path.exists(os.path.join(build, "bexu-pack")):
        raise Failure("no bexu-pack in %s" % programs)
    stand_ins = os.path.join(folder, ".players")
    os.makedirs(os.path.join(stand_ins, "web"))
    with open(os.path.join(stand_ins, "bexu.exe"), "wb") as exe:
        exe.write(b"MZ stand-in for the Windows player")
    for name, content in (("index.html", b"<!doctype html><title>stand-in</title>"),
                          ("bexu.js", b"// stand-in for the web player"),
                          ("bexu.wasm", b"\0asm\x01\0\0\0")):
        with open(os.path.join(stand_ins, "web", name), "wb") as made:
            made.write(content)
    players = ["--windows-player", os.path.join(stand_ins, "bexu.exe"),
               "--web-player", os.path.join(stand_ins, "web")]
    if not os.path.exists(os.path.join(programs, "bexu-static")):
        players += ["--linux-player", os.path.join(programs, "bexu")]
    wrapper = os.path.join(build, "bexu-pack")
    os.unlink(wrapper)
    with open(wrapper, "w") as script:
        script.write("#!/bin/sh\nexec %s \"$@\" %s\n" % (
            shlex.quote(os.path.join(programs, "bexu-pack")),
            " ".join(shlex.quote(p) for p in players)))
    os.chmod(wrapper, 0o755)
    return build


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--guide", required=True, help="the guide, e.g. docs/authoring.md")
    parser.add_argument("--programs", required=True, help="the folder of the built programs")
    parser.add_argument("--examples", required=True, help="the checkout's examples/")
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder")
    arguments = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="bexu-docs-")
    failed = False
    try:
        blocks = read_blocks(arguments.guide)
        programs = os.path.abspath(arguments.programs)
        environment = dict(os.environ)
        build = make_build_folder(folder, programs)
        environment["PATH"] = build + os.pathsep + environment.get("PATH", "")
        os.symlink(os.path.abspath(arguments.examples), os.path.join(folder, "examples"))
        make_art(folder, environment)
        ran = skipped = 0
        for block in blocks:
            where = "%s:%d" % (arguments.guide, block.line)
            if block.skip is not None:
                if block.kind in ("sh", "console"):
                    print("%s: skipped: %s" % (where, block.skip))
                    skipped += 1
                continue
            started = time.monotonic()
            try:
                done = run_block(block, folder, environment)
            except Failure as failure:
                print("%s: the %s block failed: %s" % (where, block.kind or "file", failure))
                failed = True
                break
            if done:
                print("%s: %s in %.1f s" % (where, done, time.monotonic() - started))
                ran += 1
        if not failed:
            print("%d blocks ran, %d skipped" % (ran, skipped))
    except Failure as failure:
        print("%s: %s" % (arguments.guide, failure))
        failed = True
    finally:
        if arguments.keep:
            print("scratch folder kept: " + folder)
        else:
            shutil.rmtree(folder, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
