"""Resources of a PE image (a Windows .exe or .dll), read from its bytes."""

import struct
from pathlib import Path

RT_MANIFEST = 24


def resources(path):
    """{(type id, name id, language id): bytes} of every resource with numeric ids."""
    data = Path(path).read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    opt_size = struct.unpack_from("<H", data, pe + 20)[0]
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    dirs = pe + 24 + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", data, dirs + 2 * 8)[0]
    table = pe + 24 + opt_size
    for i in range(sections):
        vsize, va, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        if va <= rsrc_rva < va + max(vsize, raw_size):
            base, delta = raw + (rsrc_rva - va), va - raw
            break
    else:
        return {}

    def entries(offset):
        named, ids = struct.unpack_from("<HH", data, base + offset + 12)
        for k in range(named + ids):
            yield struct.unpack_from("<II", data, base + offset + 16 + 8 * k)

    found = {}
    for kind, kinds in entries(0):
        for name, names in entries(kinds & 0x7FFFFFFF):
            for language, leaf in entries(names & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                found[(kind, name, language)] = data[rva - delta:rva - delta + size]
    return found


def manifest(path):
    """The application manifest (resource 1 of type 24) as text, or None."""
    for (kind, name, _), blob in resources(path).items():
        if kind == RT_MANIFEST and name == 1:
            return blob.decode("utf-8")
    return None
