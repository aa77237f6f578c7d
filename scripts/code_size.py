"""Prints the size of an executable's own code: the file's size less its resource section."""

import struct
import sys


def code_size(path):
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional = struct.unpack_from("<H", data, pe + 20)[0]
    table = pe + 24 + optional
    resources = 0
    for i in range(sections):
        entry = table + 40 * i
        if data[entry : entry + 8].rstrip(b"\0") == b".rsrc":
            resources = struct.unpack_from("<I", data, entry + 16)[0]
    return len(data), resources, len(data) - resources


if __name__ == "__main__":
    for path in sys.argv[1:]:
        total, resources, code = code_size(path)
        print(f"{path}: {total} bytes, resources {resources}, code {code} ({code / 1024:.1f} KiB)")
