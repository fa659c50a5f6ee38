#!/usr/bin/env python3
"""Checks of Tovane.exe read from Linux with objdump: a GUI-subsystem PE of the
expected machine that imports system DLLs only (the C and C++ runtimes are
linked in statically), with the resources the dialog needs, and without the
installer's test hold points.

    check_tovane_binary.py --objdump OBJDUMP --arch i686|x86_64 --exe Tovane.exe
                           [--hooked-exe TovaneTestHooks.exe]
"""
import argparse
import re
import subprocess
import sys

# The variable that steers the hold points of a test build. --hooked-exe
# names such a build: the search must find the name there, or finding nothing
# in the shipped one proves nothing.
HOLD_VARIABLE = "TOVANE_INSTALL_HOLD"

# bcrypt.dll: the signature and file checks go through the system's CNG
# (Windows Vista and later), never crypto code of our own. ole32.dll: COM is
# started on the thread that starts the product again through the shell.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "wininet.dll",
               "psapi.dll", "shell32.dll", "ws2_32.dll", "advapi32.dll", "msvcrt.dll",
               "bcrypt.dll", "ole32.dll"}


def names_hold_variable(path):
    with open(path, "rb") as f:
        data = f.read()
    return any(HOLD_VARIABLE.encode(encoding) in data for encoding in ("ascii", "utf-16-le"))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--objdump", required=True)
    ap.add_argument("--arch", required=True)
    ap.add_argument("--exe", required=True)
    ap.add_argument("--hooked-exe")
    args = ap.parse_args()
    headers = subprocess.run([args.objdump, "-p", args.exe], check=True, capture_output=True,
                             text=True).stdout
    failures = []

    fmt = "pei-i386" if args.arch == "i686" else "pei-x86-64"
    if ("file format " + fmt) not in headers:
        failures.append("not a %s image" % fmt)
    subsystem = re.search(r"^Subsystem\s+([0-9a-fA-F]+)", headers, re.M)
    if not subsystem or int(subsystem.group(1), 16) != 2:
        failures.append("subsystem is not Windows GUI (2): %s" % (subsystem and subsystem.group(1)))

    imports = {m.lower() for m in re.findall(r"DLL Name:\s*(\S+)", headers)}
    foreign = sorted(imports - SYSTEM_DLLS)
    if foreign:
        failures.append("imports DLLs that are not part of Windows: %s" % ", ".join(foreign))
    for needed in ("kernel32.dll", "user32.dll", "comctl32.dll", "wininet.dll", "bcrypt.dll"):
        if needed not in imports:
            failures.append("does not import %s" % needed)

    # The resource tree must hold the dialog, the icon, the string table and
    # the version block; their content is checked under Wine.
    dump = subprocess.run([args.objdump, "-s", "-j", ".rsrc", args.exe], capture_output=True,
                          text=True).stdout
    if ".rsrc" not in dump:
        failures.append("no resource section")

    if names_hold_variable(args.exe):
        failures.append("names %s: the test hold points are compiled in" % HOLD_VARIABLE)
    if args.hooked_exe and not names_hold_variable(args.hooked_exe):
        failures.append("%s does not name %s: the search would miss it" %
                        (args.hooked_exe, HOLD_VARIABLE))

    for f in failures:
        print("FAIL:", f)
    print("%s: %d imports (%s), %d failure(s)" % (args.exe, len(imports), ", ".join(sorted(imports)),
                                                  len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
