#!/usr/bin/env python3
"""Checks the release zip: the 32-bit player beside every file of the demo story,
byte for byte, in one folder. Usage: check_dist.py ZIP DEMO_FOLDER"""

import os
import sys
import zipfile


def main(zip_path, demo):
    found = []
    with zipfile.ZipFile(zip_path) as archive:
        names = set(archive.namelist())
        exe = archive.read("bexu/bexu.exe") if "bexu/bexu.exe" in names else b""
        # A PE image for the 32-bit machine type (0x14c).
        if exe[:2] != b"MZ":
            found.append("bexu/bexu.exe is missing or not an executable")
        else:
            pe = int.from_bytes(exe[0x3C:0x40], "little")
            if exe[pe:pe + 4] != b"PE\0\0" or exe[pe + 4:pe + 6] != b"\x4c\x01":
                found.append("bexu/bexu.exe is not a 32-bit Windows executable")
        for folder, _, files in os.walk(demo):
            for name in files:
                path = os.path.join(folder, name)
                member = "bexu/" + os.path.relpath(path, demo).replace(os.sep, "/")
                if member not in names:
                    found.append("%s is missing" % member)
                elif archive.read(member) != open(path, "rb").read():
                    found.append("%s differs from %s" % (member, path))
        if "bexu/script.bexu" not in names:
            found.append("the story's script.bexu is missing")
    for problem in found:
        print("FAIL dist: " + problem)
    print("dist: %d passed, %d failed" % (0 if found else 1, 1 if found else 0))
    return 1 if found else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        print(__doc__)
        sys.exit(2)
    sys.exit(main(sys.argv[1], sys.argv[2]))
