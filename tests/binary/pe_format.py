"""Pieces of the PE and COFF formats that the binary checks read from Linux:
the resource tree of an image, version-resource nodes and the members of an
ar archive (import libraries)."""
import struct


def version_nodes(block, offset=0):
    """One VS_VERSIONINFO-style node: ((key, value bytes, is_text, children), end)."""
    length, value_length, is_text = struct.unpack_from("<HHH", block, offset)
    end = offset + length
    key_start = offset + 6
    key_end = key_start
    while block[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = block[key_start:key_end].decode("utf-16-le")
    position = (key_end + 2 + 3) & ~3
    value_size = value_length * 2 if is_text else value_length
    value = block[position:position + value_size]
    position = (position + value_size + 3) & ~3
    children = []
    while position < end:
        child, child_end = version_nodes(block, position)
        children.append(child)
        position = (child_end + 3) & ~3
    return (key, value, is_text, children), end


def archive_bodies(data):
    """Bodies of the members of an ar archive, its symbol and name tables left out."""
    position = 8
    while position + 60 <= len(data):
        name = data[position:position + 16].rstrip()
        size = int(data[position + 48:position + 58])
        if name not in (b"/", b"//"):
            yield data[position + 60:position + 60 + size]
        position += 60 + size + (size & 1)


def resources(image):
    """Every resource leaf of a PE image as (type, name, language, bytes), each
    of the first three a number or a string, in the order of the directory."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE image")
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    root_rva, root_size = struct.unpack_from("<II", image, directories + 2 * 8)
    if root_rva == 0 or root_size == 0:
        return []
    table = optional + optional_size
    spans = [struct.unpack_from("<8xIIII", image, table + 40 * i) for i in range(sections)]

    def offset(rva):
        for virtual_size, virtual_address, raw_size, raw_pointer in spans:
            if virtual_address <= rva < virtual_address + max(virtual_size, raw_size):
                return raw_pointer + rva - virtual_address
        raise ValueError("RVA 0x%x lies in no section" % rva)

    root = offset(root_rva)

    def name(value):
        if not value & 0x80000000:
            return value
        at = root + (value & 0x7FFFFFFF)
        length = struct.unpack_from("<H", image, at)[0]
        return image[at + 2:at + 2 + 2 * length].decode("utf-16-le")

    def walk(directory, path):
        named, numbered = struct.unpack_from("<12xHH", image, directory)
        for i in range(named + numbered):
            key, target = struct.unpack_from("<II", image, directory + 16 + 8 * i)
            here = path + (name(key),)
            if target & 0x80000000:
                yield from walk(root + (target & 0x7FFFFFFF), here)
            else:
                data_rva, size = struct.unpack_from("<II", image, root + target)
                start = offset(data_rva)
                yield here + (image[start:start + size],)

    return list(walk(root, ()))
