#!/usr/bin/env python3
"""Checks what a Windows build of the player imports, with objdump.

Usage: check_imports.py OBJDUMP EXE [OBJDUMP EXE ...]

The executable must run on a bare Windows desktop: it may import only DLLs
that come with the system, and from the desktop libraries exactly the calls
the player is built on, so a stray dependency (the compiler's runtime DLLs, a
call that Windows lacks) shows here rather than on a user's machine.
"""

import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "msimg32.dll", "winmm.dll",
               "msvcrt.dll"}

# Every call of the desktop libraries, no more and no fewer. GetObjectA gives the
# size of a loaded bitmap, which the frame needs for scenes smaller than the canvas;
# MsgWaitForMultipleObjectsEx lets the loop sleep through a wait until a message comes.
EXACT_CALLS = {
    "user32.dll": {
        "AdjustWindowRect", "BeginPaint", "CreateWindowExA", "DefWindowProcA",
        "DispatchMessageA", "EndPaint", "FillRect", "GetClientRect", "GetDC", "LoadImageA",
        "MessageBoxA", "MsgWaitForMultipleObjectsEx", "PeekMessageA", "PostQuitMessage",
        "RegisterClassExA", "ReleaseDC", "SetWindowTextA", "ShowWindow", "TranslateMessage",
        "UpdateWindow"},
    "gdi32.dll": {
        "BitBlt", "CreateCompatibleBitmap", "CreateCompatibleDC", "CreateSolidBrush",
        "DeleteDC", "DeleteObject", "GetObjectA", "SelectObject", "SetStretchBltMode",
        "StretchBlt"},
    "msimg32.dll": {"TransparentBlt"},
    "winmm.dll": {"PlaySoundA"},
}

# The kernel calls the player needs; the C runtime's start-up adds others. Text is
# measured, copied and compared byte for byte by the engine itself: lstrcmpA follows the
# locale and may call different bytes equal.
KERNEL_CALLS = {
    "CreateFileA", "GetFileSize", "SetFilePointer", "ReadFile", "CloseHandle", "GetTickCount",
    "Sleep", "GetModuleHandleA", "SetConsoleTitleA", "ExitProcess", "GetProcessHeap",
    "HeapAlloc", "HeapReAlloc", "HeapFree"}


def imports(objdump, exe):
    """{dll name in lower case: set of imported names}."""
    out = subprocess.run([objdump, "-p", exe], capture_output=True, text=True, timeout=60,
                         check=True).stdout
    table = {}
    current = None
    for line in out.splitlines():
        stripped = line.strip()
        if stripped.startswith("DLL Name:"):
            current = table.setdefault(stripped.split(":", 1)[1].strip().lower(), set())
        elif current is not None and not stripped:
            current = None
        elif current is not None:
            words = stripped.split()
            # "vma  hint  name": the header line of each table has no numeric hint.
            if len(words) >= 3 and words[1].isdigit():
                current.add(words[2])
    return table


def problems(table):
    found = []
    for dll in sorted(set(table) - SYSTEM_DLLS):
        found.append("imports %s, which is not a system DLL" % dll)
    for dll, wanted in EXACT_CALLS.items():
        got = table.get(dll, set())
        if got - wanted:
            found.append("%s: unexpected %s" % (dll, ", ".join(sorted(got - wanted))))
        if wanted - got:
            found.append("%s: missing %s" % (dll, ", ".join(sorted(wanted - got))))
    missing = KERNEL_CALLS - table.get("kernel32.dll", set())
    if missing:
        found.append("kernel32.dll: missing %s" % ", ".join(sorted(missing)))
    return found


def main(argv):
    if len(argv) < 2 or len(argv) % 2:
        print(__doc__)
        return 2
    passed = failed = 0
    for objdump, exe in zip(argv[0::2], argv[1::2]):
        found = problems(imports(objdump, exe))
        if found:
            failed += 1
            print("FAIL imports of %s:\n  %s" % (exe, "\n  ".join(found)))
        else:
            passed += 1
            print("PASS imports of %s" % exe)
    print("imports: %d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
