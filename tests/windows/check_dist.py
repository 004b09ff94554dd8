#!/usr/bin/env python3
"""Checks the release zip of the demo that bexu-pack makes: one folder named after
the title, holding the 32-bit player as <Title>.exe, a plain-text read-me, and every
file of the demo story byte for byte, nothing else.

Usage: check_dist.py ZIP DEMO_FOLDER"""

import os
import sys
import zipfile


def main(zip_path, demo):
    found = []
    with open(os.path.join(demo, "init.bexc"), "rb") as f:
        title = f.read().decode("ascii").replace(" ", "-")
    top = title + "/"
    exe_name = top + title + ".exe"
    with zipfile.ZipFile(zip_path) as archive:
        names = archive.namelist()
        story = sorted(os.listdir(demo))
        wanted = [top, exe_name, top + "README.txt"] + [top + name for name in story]
        if names != wanted:
            found.append("the zip holds %s, not %s" % (names, wanted))
        exe = archive.read(exe_name) if exe_name in names else b""
        # A PE image for the 32-bit machine type (0x14c).
        pe = int.from_bytes(exe[0x3C:0x40], "little") if len(exe) > 0x40 else 0
        if exe[:2] != b"MZ" or exe[pe:pe + 4] != b"PE\0\0" or exe[pe + 4:pe + 6] != b"\x4c\x01":
            found.append("%s is missing or not a 32-bit Windows executable" % exe_name)
        for name in story:
            with open(os.path.join(demo, name), "rb") as f:
                if top + name in names and archive.read(top + name) != f.read():
                    found.append("%s differs from the demo's %s" % (top + name, name))
        read_me = archive.read(top + "README.txt") if top + "README.txt" in names else b""
        if b"Space reads on. Closing the window quits.\r\n" not in read_me:
            found.append("the read-me does not say how to read on and quit: %r" % read_me)
    for problem in found:
        print("FAIL dist: " + problem)
    print("dist: %d passed, %d failed" % (0 if found else 1, 1 if found else 0))
    return 1 if found else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        print(__doc__)
        sys.exit(2)
    sys.exit(main(sys.argv[1], sys.argv[2]))
