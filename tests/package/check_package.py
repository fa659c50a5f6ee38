#!/usr/bin/env python3
"""Builds the release ZIP with CPack and checks it from Linux: the exact file
list, the architecture of every PE file, the version number in each one's
version resource and, when a test CA is given, each Authenticode signature.

    check_package.py --cpack CPACK --build DIR --work DIR --version X.Y.Z.W
                     --name PACKAGE --header qorinhid.h [--file EXTRA ...]
                     [--osslsigncode PROG --ca CA.pem --unsigned SAMPLE.exe]
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "binary"))
from pe_format import archive_bodies, version_nodes  # noqa: E402

I386, AMD64 = 0x14C, 0x8664
# Present in every package; --file adds the optional ones.
BASE_FILES = {
    "SHIPPING.txt": None,
    "Tovane.exe": I386,
    "Qorinhid.dll": I386,
    "hidprobe.exe": I386,
    "include/qorinhid.h": None,
    "lib/libQorinhid.dll.a": None,
    "lib/Qorinhid.lib": None,
}

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


class PeImage:
    """The few parts of a PE file this check reads: machine and resources."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + {0x10B: 96, 0x20B: 112}[magic]
        self.resource_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
        table = optional + optional_size
        self.sections = [struct.unpack_from("<8sIIII", data, table + 40 * i) for i in range(sections)]

    def offset(self, rva):
        for _, vsize, address, raw_size, raw in self.sections:
            if address <= rva < address + max(vsize, raw_size):
                return raw + rva - address
        raise ValueError(f"rva {rva:#x} in no section")

    def resources(self, rtype):
        """Data of every resource of one numeric type, all names and languages."""
        if not self.resource_rva:
            return []
        base = self.offset(self.resource_rva)
        found = []

        def walk(directory, depth):
            named, ids = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                if depth == 0 and ident != rtype:
                    continue
                if target & 0x80000000:
                    walk(target & 0x7FFFFFFF, depth + 1)
                else:
                    rva, size = struct.unpack_from("<II", self.data, base + target)
                    start = self.offset(rva)
                    found.append(self.data[start:start + size])

        walk(0, 0)
        return found


def check_version(name, image, version):
    blocks = image.resources(16)  # RT_VERSION
    if not check(len(blocks) == 1, f"{name}: {len(blocks)} version resources"):
        return
    (key, fixed, _, children), _ = version_nodes(blocks[0])
    check(key == "VS_VERSION_INFO", f"{name}: version root {key!r}")
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", fixed)
    check(signature == 0xFEEF04BD, f"{name}: no VS_FIXEDFILEINFO")
    parts = [int(p) for p in version.split(".")]
    expected = ((parts[0] << 16) | parts[1], (parts[2] << 16) | parts[3])
    check((file_ms, file_ls) == expected, f"{name}: FILEVERSION {file_ms:#x} {file_ls:#x}")
    check((product_ms, product_ls) == expected, f"{name}: PRODUCTVERSION {product_ms:#x} {product_ls:#x}")
    tables = [table for child in children if child[0] == "StringFileInfo" for table in child[3]]
    if not check(tables, f"{name}: no string table"):
        return
    for table in tables:
        strings = {node[0]: node[1].decode("utf-16-le").rstrip("\0") for node in table[3]}
        for field in ("FileVersion", "ProductVersion"):
            check(strings.get(field) == version,
                  f"{name}: {table[0]} {field} = {strings.get(field)!r}, expected {version}")


def archive_machines(data):
    """COFF machine of every member of an import library: the short import
    members of MSVC-style libraries and the objects of binutils' ones."""
    machines = set()
    for body in archive_bodies(data):
        if len(body) < 20:
            continue
        if struct.unpack_from("<HH", body) == (0, 0xFFFF):
            machines.add(struct.unpack_from("<H", body, 6)[0])
        else:
            machines.add(struct.unpack_from("<H", body)[0])
    return machines


def verify_signature(args, path):
    result = subprocess.run([args.osslsigncode, "verify", "-CAfile", args.ca, "-in", path],
                            capture_output=True, text=True, timeout=120)
    return result.returncode == 0, result.stdout + result.stderr


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cpack", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--name", required=True)
    parser.add_argument("--header", required=True)
    parser.add_argument("--file", action="append", default=[])
    parser.add_argument("--osslsigncode")
    parser.add_argument("--ca")
    parser.add_argument("--unsigned")
    args = parser.parse_args()

    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    result = subprocess.run([args.cpack, "-G", "ZIP", "--config", "CPackConfig.cmake", "-B", args.work],
                            cwd=args.build, capture_output=True, text=True, timeout=240)
    if result.returncode != 0:
        print(result.stdout + result.stderr)
        print("FAIL: cpack failed")
        return 1

    zips = sorted(f for f in os.listdir(args.work) if f.endswith(".zip"))
    if not check(zips == [args.name + ".zip"], f"packages {zips}, expected {args.name}.zip"):
        print("\n".join("FAIL: " + f for f in failures))
        return 1
    expected = dict(BASE_FILES)
    for extra in args.file:
        expected[extra] = AMD64 if extra.startswith("x64/") and extra.endswith(".dll") else (
            I386 if extra.endswith((".exe", ".dll")) else None)

    unpacked = os.path.join(args.work, "unpacked")
    with zipfile.ZipFile(os.path.join(args.work, zips[0])) as package:
        names = [n for n in package.namelist() if not n.endswith("/")]
        prefix = args.name + "/"
        check(all(n.startswith(prefix) for n in names), f"entries outside {prefix}: {names}")
        contents = {n[len(prefix):]: package.read(n) for n in names}
        package.extractall(unpacked)
    check(sorted(contents) == sorted(expected),
          f"contents {sorted(contents)}, expected {sorted(expected)}")

    for name, machine in sorted(expected.items()):
        data = contents.get(name)
        if data is None:
            continue
        if name.endswith((".a", ".lib")):
            if check(data.startswith(b"!<arch>\n") and b"Qorinhid.dll" in data,
                     f"{name}: not an import library of Qorinhid.dll"):
                wanted = AMD64 if name.startswith("x64/") else I386
                machines = archive_machines(data)
                check(machines == {wanted}, f"{name}: members for machines {sorted(machines)}, "
                      f"expected {wanted:#x}")
        if machine is None:
            continue
        try:
            image = PeImage(data)
        except (ValueError, struct.error, KeyError) as error:
            check(False, f"{name}: unreadable PE file: {error}")
            continue
        check(image.machine == machine, f"{name}: machine {image.machine:#x}, expected {machine:#x}")
        check_version(name, image, args.version)

    with open(args.header, "rb") as header:
        check(contents.get("include/qorinhid.h") == header.read(), "include/qorinhid.h differs from the source")
    shipping = contents.get("SHIPPING.txt", b"").decode("utf-8", "replace")
    check(args.version in shipping, "SHIPPING.txt does not name the version")
    for name in expected:
        if name != "SHIPPING.txt":
            check(name.replace("/", "\\") in shipping, f"SHIPPING.txt does not mention {name}")

    if args.ca:
        binaries = [n for n, m in sorted(expected.items()) if m is not None]
        for name in binaries:
            ok, output = verify_signature(args, os.path.join(unpacked, prefix, name))
            check(ok, f"{name}: signature does not verify:\n{output}")
        # The same verification must refuse a binary nobody signed.
        ok, _ = verify_signature(args, args.unsigned)
        check(not ok, f"unsigned {args.unsigned} passes verification")
        print(f"signatures: {len(binaries)} verified against {args.ca}")

    for failure in failures:
        print("FAIL:", failure)
    if not failures:
        print(f"package {zips[0]}: {len(contents)} files, version {args.version}: ok")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
