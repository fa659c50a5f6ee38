"""Pieces of the PE and COFF formats that the binary checks read from Linux:
version-resource nodes and the members of an ar archive (import libraries)."""
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
