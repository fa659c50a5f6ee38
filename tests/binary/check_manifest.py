#!/usr/bin/env python3
"""The application manifest of a shipped executable, read from Linux: one
RT_MANIFEST resource (id 1, language neutral) that runs the program as the
invoker, names Windows 7 to 11 as supported, asks for Common Controls 6 and
is per-monitor DPI aware (V2, with the older dpiAware form beside it).

    check_manifest.py --exe Tovane.exe [--exe hidprobe.exe ...]
    check_manifest.py --cases kelvo.manifest
--cases breaks the given manifest one way at a time and fails unless the
check refuses every broken copy and passes the manifest as it is.
"""
import argparse
import os
import sys
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pe_format import resources  # noqa: E402

RT_MANIFEST = 24
CREATEPROCESS_MANIFEST_RESOURCE_ID = 1

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"

SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}
COMMON_CONTROLS = {
    "type": "win32",
    "name": "Microsoft.Windows.Common-Controls",
    "version": "6.0.0.0",
    "processorArchitecture": "*",
    "publicKeyToken": "6595b64144ccf1df",
    "language": "*",
}


def manifest_problems(xml):
    """What is wrong with the manifest's text; empty when nothing is."""
    problems = []
    try:
        root = ET.fromstring(xml)
    except ET.ParseError as e:
        return ["not well-formed XML: %s" % e]
    if root.tag != ASM_V1 + "assembly" or root.get("manifestVersion") != "1.0":
        problems.append("the root is not an asm.v1 assembly of manifestVersion 1.0")

    levels = root.findall("%strustInfo/%ssecurity/%srequestedPrivileges/%srequestedExecutionLevel" %
                          ((ASM_V3,) * 4))
    if len(levels) != 1:
        problems.append("%d requestedExecutionLevel elements (trustInfo asm.v3), not 1" % len(levels))
    else:
        if levels[0].get("level") != "asInvoker":
            problems.append("level is %r, not asInvoker" % levels[0].get("level"))
        if levels[0].get("uiAccess") != "false":
            problems.append("uiAccess is %r, not false" % levels[0].get("uiAccess"))

    ids = [os_.get("Id", "").lower() for os_ in
           root.findall("%scompatibility/%sapplication/%ssupportedOS" % ((COMPATIBILITY,) * 3))]
    for guid, system in SUPPORTED_OS.items():
        if guid not in ids:
            problems.append("%s is not among the supportedOS ids" % system)
    unknown = sorted(set(ids) - set(SUPPORTED_OS))
    if unknown or len(ids) != len(set(ids)):
        problems.append("supportedOS ids other than the four, or twice: %s" % ids)

    identities = root.findall("%sdependency/%sdependentAssembly/%sassemblyIdentity" %
                              ((ASM_V1,) * 3))
    controls = [i for i in identities if i.get("name") == COMMON_CONTROLS["name"]]
    if len(controls) != 1:
        problems.append("%d Common Controls dependencies, not 1" % len(controls))
    else:
        for key, wanted in COMMON_CONTROLS.items():
            if controls[0].get(key) != wanted:
                problems.append("Common Controls %s is %r, not %r" %
                                (key, controls[0].get(key), wanted))

    settings = root.findall("%sapplication/%swindowsSettings" % (ASM_V3, ASM_V3))
    if len(settings) != 1:
        problems.append("%d windowsSettings (application asm.v3), not 1" % len(settings))
    else:
        aware = [e.text for e in settings[0].findall(SETTINGS_2005 + "dpiAware")]
        if [(t or "").strip().lower() for t in aware] != ["true/pm"]:
            problems.append("dpiAware (2005) is %r, not true/pm" % aware)
        awareness = [e.text for e in settings[0].findall(SETTINGS_2016 + "dpiAwareness")]
        if len(awareness) != 1:
            problems.append("%d dpiAwareness (2016) elements, not 1" % len(awareness))
        else:
            # A list: Windows takes the first value it knows.
            first = (awareness[0] or "").split(",")[0].strip().lower()
            if first != "permonitorv2":
                problems.append("dpiAwareness starts with %r, not PerMonitorV2" % first)
    return problems


def image_problems(path):
    with open(path, "rb") as f:
        image = f.read()
    manifests = [r for r in resources(image) if r[0] == RT_MANIFEST]
    if len(manifests) != 1:
        return ["%d RT_MANIFEST resources (id, language): %s, not 1" %
                (len(manifests), [(m[1], m[2]) for m in manifests])]
    _, name, language, xml = manifests[0]
    problems = []
    if name != CREATEPROCESS_MANIFEST_RESOURCE_ID:
        problems.append("the manifest's id is %r, not 1: the loader would not read it" % (name,))
    if language != 0:
        problems.append("the manifest's language is 0x%x, not neutral" % language)
    return problems + manifest_problems(xml)


# Each case: what is broken, the text replaced and its replacement.
BROKEN = [
    ("no manifest at all", None, None),
    ("requireAdministrator", 'level="asInvoker"', 'level="requireAdministrator"'),
    ("uiAccess true", 'uiAccess="false"', 'uiAccess="true"'),
    ("trustInfo outside asm.v3", 'trustInfo xmlns="urn:schemas-microsoft-com:asm.v3"',
     "trustInfo"),
    ("Windows 7 missing", '<supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>', ""),
    ("Windows 8 missing", '<supportedOS Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"/>', ""),
    ("Windows 8.1 missing", '<supportedOS Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}"/>', ""),
    ("Windows 10 missing", '<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>', ""),
    ("Windows 10 id mistyped", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a",
     "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9b"),
    ("Common Controls 5", 'version="6.0.0.0"', 'version="5.82.0.0"'),
    ("Common Controls for x86 only", 'processorArchitecture="*"', 'processorArchitecture="x86"'),
    ("Common Controls key token", "6595b64144ccf1df", "6595b64144ccf1de"),
    ("no Common Controls", "Microsoft.Windows.Common-Controls", "Microsoft.Windows.GdiPlus"),
    ("system-aware only", ">true/pm<", ">true<"),
    ("PerMonitor before V2", ">PerMonitorV2, PerMonitor<", ">PerMonitor, PerMonitorV2<"),
    ("dpiAwareness in the 2005 namespace", "SMI/2016/WindowsSettings", "SMI/2005/WindowsSettings"),
    ("not XML", "</assembly>", "</assembly"),
]


def run_cases(path):
    with open(path, "rb") as f:
        good = f.read().decode("utf-8")
    failures = []
    if manifest_problems(good.encode("utf-8")):
        failures.append("the manifest as it is: %s" % manifest_problems(good.encode("utf-8")))
    for what, old, new in BROKEN:
        if old is None:
            broken = '<?xml version="1.0"?><assembly xmlns="urn:schemas-microsoft-com:asm.v1"/>'
        else:
            if old not in good:
                failures.append("%s: %r is not in the manifest" % (what, old))
                continue
            broken = good.replace(old, new)
        if not manifest_problems(broken.encode("utf-8")):
            failures.append("%s: not refused" % what)
    for f in failures:
        print("FAIL:", f)
    print("%s: %d broken copies, %d failure(s)" % (path, len(BROKEN), len(failures)))
    return 1 if failures else 0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", action="append", default=[])
    ap.add_argument("--cases")
    args = ap.parse_args()
    if args.cases:
        return run_cases(args.cases)
    status = 0
    for exe in args.exe:
        problems = image_problems(exe)
        for p in problems:
            print("FAIL: %s: %s" % (exe, p))
        print("%s: %d problem(s) in its manifest" % (exe, len(problems)))
        status |= 1 if problems else 0
    return status


if __name__ == "__main__":
    sys.exit(main())
