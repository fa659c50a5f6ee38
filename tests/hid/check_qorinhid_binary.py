#!/usr/bin/env python3
"""Checks of Qorinhid.dll and its import libraries read from Linux with
objdump: exports, calling conventions, imports, resources, import libraries.

    check_qorinhid_binary.py WHAT --objdump OBJDUMP --arch ARCH --dll DLL
                             --implib LIB.dll.a --msvc-lib LIB.lib
"""
import argparse
import os
import re
import struct
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "binary"))
from pe_format import archive_bodies, version_nodes  # noqa: E402

EXPORTS = [
    "DllCanUnloadNow",
    "DllGetClassObject",
    "DllRegisterServer",
    "DllUnregisterServer",
    "Qorin_USBReadWriteInit",
    "Qorin_UsbFindHIDDev",
    "Qorin_UsbRegisterForDeviceNotifications",
]
HID_EXPORTS = [name for name in EXPORTS if name.startswith("Qorin_")]
# Callee-popped bytes on i686: stdcall pops its arguments, cdecl none.
POPPED = {
    "DllCanUnloadNow": 0,
    "DllGetClassObject": 12,
    "DllRegisterServer": 0,
    "DllUnregisterServer": 0,
    "Qorin_USBReadWriteInit": 0,
    "Qorin_UsbFindHIDDev": 0,
    "Qorin_UsbRegisterForDeviceNotifications": 0,
}
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "setupapi.dll", "hid.dll",
               "oleaut32.dll", "ole32.dll", "msvcrt.dll"}
LIBID = "dcd8abb48be20548abc2d3194def99bf"  # B4ABD8DC-E28B-4805-ABC2-D3194DEF99BF as stored

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def objdump(args, *options):
    return subprocess.run([args.objdump, *options], check=True, capture_output=True,
                          text=True).stdout


def private_headers(args):
    return objdump(args, "-p", args.dll)


def image_base(headers):
    return int(re.search(r"^ImageBase\s+([0-9a-fA-F]+)", headers, re.M).group(1), 16)


def export_table(headers):
    """{name: (ordinal, rva)} from objdump -p."""
    match = re.search(r"Ordinal Base (\d+)", headers)
    if not match:
        return {}, 0
    base = int(match.group(1))
    addresses = {}
    section = headers.split("Export Address Table -- Ordinal Base", 1)[1]
    for match in re.finditer(r"\[\s*(\d+)\] \+base\[\s*(\d+)\]\s+([0-9a-f]+) Export RVA", section):
        addresses[int(match.group(2))] = int(match.group(3), 16)
    names = {}
    table = headers.split("[Ordinal/Name Pointer] Table", 1)[1]
    for line in table.splitlines()[1:]:
        match = re.match(r"\s*\[\s*(\d+)\] (\S+)", line)
        if not match:
            break
        ordinal = int(match.group(1)) + base
        names[match.group(2)] = (ordinal, addresses.get(ordinal))
    return names, len(addresses)


def check_exports(args):
    names, address_count = export_table(private_headers(args))
    check(list(names) == EXPORTS, f"export names {list(names)}")
    check(address_count == len(EXPORTS), f"{address_count} export addresses")
    for position, name in enumerate(EXPORTS, start=1):
        ordinal = names.get(name, (None,))[0]
        check(ordinal == position, f"{name}: ordinal {ordinal}, expected {position}")
    for name in names:
        check("@" not in name and not name.startswith("_"), f"decorated export {name}")


def check_conventions(args):
    headers = private_headers(args)
    base = image_base(headers)
    names, _ = export_table(headers)
    for name, popped in POPPED.items():
        rva = names[name][1]
        start = base + rva
        listing = objdump(args, "-d", "--no-show-raw-insn", f"--start-address={start:#x}",
                          f"--stop-address={start + 0x400:#x}", args.dll)
        # The first return in the function's straight-line code.
        match = re.search(r"^\s*[0-9a-f]+:\s+ret\s*(\$0x[0-9a-f]+)?\s*$", listing, re.M)
        check(match is not None, f"{name}: no ret within 1 KiB")
        if match:
            found = int(match.group(1)[1:], 16) if match.group(1) else 0
            check(found == popped, f"{name}: returns popping {found} bytes, expected {popped}")


def check_imports(args):
    dlls = [name.lower() for name in re.findall(r"DLL Name: (\S+)", private_headers(args))]
    check(dlls, "no imports found")
    for dll in dlls:
        check(dll in SYSTEM_DLLS or dll.startswith("api-ms-win-"), f"non-system import {dll}")
    for needed in ("hid.dll", "setupapi.dll", "oleaut32.dll", "user32.dll"):
        check(needed in dlls, f"{needed} not imported")


def resource_leaves(headers):
    """[(type, id, language, rva, size)] from objdump's resource listing, whose
    entries are indented by their depth: type, name, language."""
    leaves = []
    path = {}
    listing = headers.split("The .rsrc Resource Directory section:", 1)[1]
    for line in listing.splitlines():
        match = re.match(r"^[0-9a-f]+( +)Entry: (?:name: \[val: [0-9a-f]+ len \d+\]: (\S+)|ID: 0x([0-9a-f]+)),",
                         line)
        if match:
            depth = len(match.group(1))
            path[depth] = match.group(2) if match.group(2) else int(match.group(3), 16)
            continue
        match = re.search(r"Leaf: Addr: 0x([0-9a-f]+), Size: 0x([0-9a-f]+)", line)
        if match:
            rtype, rid, lang = (path[depth] for depth in sorted(path)[:3])
            leaves.append((rtype, rid, lang, int(match.group(1), 16), int(match.group(2), 16)))
    return leaves


def section_bytes(args, rva, size):
    headers = objdump(args, "-h", args.dll)
    base = image_base(private_headers(args))
    with open(args.dll, "rb") as image:
        data = image.read()
    for match in re.finditer(r"^\s*\d+\s+(\S+)\s+([0-9a-f]+)\s+([0-9a-f]+)\s+[0-9a-f]+\s+([0-9a-f]+)",
                             headers, re.M):
        vsize, vma, offset = (int(match.group(i), 16) for i in (2, 3, 4))
        start = vma - base
        if start <= rva < start + vsize:
            return data[offset + rva - start: offset + rva - start + size]
    raise ValueError(f"rva {rva:#x} in no section")


def check_resources(args):
    leaves = resource_leaves(private_headers(args))
    keys = sorted((str(t), i, l) for t, i, l, _, _ in leaves)
    check(keys == [("16", 1, 0x804), ("TYPELIB", 1, 0x804)], f"resources {keys}")
    for rtype, _, _, rva, size in leaves:
        content = section_bytes(args, rva, size)
        if rtype == "TYPELIB":
            check_typelib(args, content)
        elif rtype == 16:
            check_version(content)


def check_typelib(args, tlb):
    check(tlb[:4] == b"MSFT", "type library is not in MSFT format")
    lcid, _lcid2, varflags, version, flags, typeinfos = struct.unpack_from("<6I", tlb, 0x0C)
    check(lcid == 0, f"type library lcid {lcid:#x}")
    syskind = varflags & 0xF
    expected = 1 if args.arch == "i686" else 3  # SYS_WIN32 / SYS_WIN64
    check(syskind == expected, f"type library syskind {syskind}, expected {expected}")
    check(version == 0x00000001, f"type library version {version:#x} (minor<<16|major)")
    check(flags == 0, f"type library flags {flags:#x}")
    check(typeinfos == 0, f"type library has {typeinfos} type descriptions")
    check(bytes.fromhex(LIBID) in tlb, "LIBID not in the type library")
    check(b"Qorinhid" in tlb, "library name not in the type library")


def check_version(block):
    (key, fixed, _, children), _ = version_nodes(block)
    check(key == "VS_VERSION_INFO", f"version root {key}")
    fields = struct.unpack_from("<13I", fixed)
    check(fields[0] == 0xFEEF04BD, "no VS_FIXEDFILEINFO")
    check(fields[2:6] == (0x00010000, 0x00000001, 0x00010000, 0x00000001),
          f"file/product version {[hex(f) for f in fields[2:6]]}")
    check(fields[6] == 0x3F and fields[7] == 0x1, f"flags mask/flags {fields[6]:#x}/{fields[7]:#x}")
    check(fields[8] == 0x40004 and fields[9] == 2 and fields[10] == 0,
          f"os/type/subtype {fields[8]:#x}/{fields[9]}/{fields[10]}")
    by_key = {child[0]: child for child in children}
    string_info = by_key.get("StringFileInfo")
    check(string_info is not None and [t[0] for t in string_info[3]] == ["080404B0"],
          "string table is not 080404B0 alone")
    if string_info and string_info[3]:
        strings = {node[0]: node[1].decode("utf-16-le").rstrip("\0")
                   for node in string_info[3][0][3]}
        for name, value in (("FileVersion", "1.0.0.1"), ("ProductVersion", "1.0.0.1"),
                            ("InternalName", "Qorinhid.dll"), ("OriginalFilename", "Qorinhid.dll")):
            check(strings.get(name) == value, f"{name} = {strings.get(name)!r}")
        for name in ("CompanyName", "FileDescription", "LegalCopyright", "ProductName"):
            text = strings.get(name, "")
            check(text and "TODO" not in text, f"{name} = {text!r}")
    var_info = by_key.get("VarFileInfo")
    translation = var_info[3][0][1] if var_info and var_info[3] else b""
    check(translation == struct.pack("<HH", 0x0804, 0x04B0), f"translation {translation.hex()}")


def idata_strings(args, library):
    """Import-name strings of the members of an import library."""
    dump = objdump(args, "-s", "-j", ".idata$6", library)
    names = []
    current = bytearray()
    for line in dump.splitlines():
        if line.startswith("Contents of section"):
            if current:
                names.append(bytes(current))
            current = bytearray()
            continue
        match = re.match(r"^ [0-9a-f]{4,} ((?:[0-9a-f]{2,8} ?){1,4})", line)
        if match:
            current += bytes.fromhex(match.group(1).replace(" ", ""))
    if current:
        names.append(bytes(current))
    # Each .idata$6 is a two-byte hint, the name, NUL padding.
    return {chunk[2:].split(b"\0", 1)[0].decode() for chunk in names if len(chunk) > 2}


def archive_members(library):
    """Bodies of the members of an ar archive, its symbol and name tables left out."""
    with open(library, "rb") as archive:
        data = archive.read()
    check(data[:8] == b"!<arch>\n", f"{library}: not an ar archive")
    yield from archive_bodies(data)


def short_imports(library):
    """(symbols, import names) of the short import members that MSVC-style
    librarians write (binutils' objdump cannot read all of them), or None when
    the library has none."""
    symbols, imported = set(), set()
    for body in archive_members(library):
        if len(body) < 20 or struct.unpack_from("<HH", body) != (0, 0xFFFF):
            continue
        kind = struct.unpack_from("<H", body, 18)[0]
        symbol = body[20:].split(b"\0", 1)[0].decode()
        symbols.add(f"__imp_{symbol}")
        if kind & 3 == 0:  # code: a thunk under the plain name as well
            symbols.add(symbol)
        name_type = (kind >> 2) & 7
        name = symbol
        if name_type in (2, 3):  # no prefix / undecorated
            name = name.lstrip("?@_")
        if name_type == 3:
            name = name.split("@", 1)[0]
        if name_type != 0:  # 0: by ordinal, no name
            imported.add(name)
    return (symbols, imported) if symbols else None


def check_implib(args):
    prefix = "_" if args.arch == "i686" else ""
    for library in (args.implib, args.msvc_lib):
        short = short_imports(library)
        if short:
            symbols, imported = short
        else:
            symbols = set(re.findall(r"\) 0x[0-9a-f]+ (\S+)$", objdump(args, "-t", library), re.M))
            imported = idata_strings(args, library)
        for name in HID_EXPORTS:
            check(f"{prefix}{name}" in symbols, f"{library}: no {prefix}{name}")
            check(f"__imp_{prefix}{name}" in symbols, f"{library}: no __imp_{prefix}{name}")
        for name in EXPORTS[:4]:
            check(not any(name in symbol for symbol in symbols),
                  f"{library}: private export {name} offered for linking")
        check(imported == set(HID_EXPORTS), f"{library}: import names {sorted(imported)}")
        with open(library, "rb") as archive:
            check(b"Qorinhid.dll" in archive.read(), f"{library}: does not name Qorinhid.dll")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("what", choices=["exports", "conventions", "imports", "resources", "implib"])
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--arch", required=True)
    parser.add_argument("--dll", required=True)
    parser.add_argument("--implib", required=True)
    parser.add_argument("--msvc-lib", required=True)
    args = parser.parse_args()
    {"exports": check_exports, "conventions": check_conventions, "imports": check_imports,
     "resources": check_resources, "implib": check_implib}[args.what](args)
    for failure in failures:
        print("FAIL:", failure)
    if not failures:
        print(f"{args.what}: ok")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
