"""Writes uncompressed cabinets with any entry names, times and attributes, and reads the
entries of a cabinet: test input that the packing tool cannot make."""

import struct
from dataclasses import dataclass

BLOCK = 32768


@dataclass
class Entry:
    name: bytes
    data: bytes
    date: int = (44 << 9) | (1 << 5) | 2  # 2024-01-02
    time: int = (3 << 11) | (4 << 5) | 3  # 03:04:06
    attribs: int = 0x20


NEXT_CABINET_FLAG = 0x0002
CONTINUED_TO_NEXT = 0xFFFE


def write_cabinet(entries, set_id=0, continues_in=None):
    """A single-folder cabinet; with `continues_in` (a cabinet name) it is the first of a set and
    its last entry is cut, to be continued in that cabinet, as a cabinet maker splits a set."""
    header_size, folder_size = 36, 8
    files = b""
    offset = 0
    for i, e in enumerate(entries):
        last_cut = continues_in is not None and i == len(entries) - 1
        size = len(e.data) * 2 if last_cut else len(e.data)
        files += struct.pack("<IIHHHH", size, offset, CONTINUED_TO_NEXT if last_cut else 0,
                             e.date, e.time, e.attribs)
        files += e.name + b"\0"
        offset += len(e.data)
    stream = b"".join(e.data for e in entries)
    blocks = [stream[i : i + BLOCK] for i in range(0, len(stream), BLOCK)] or [b""]
    # A block split between two cabinets has no uncompressed size in the first one.
    sizes = [len(b) for b in blocks]
    if continues_in is not None:
        sizes[-1] = 0
    data = b"".join(struct.pack("<IHH", 0, len(b), size) + b for b, size in zip(blocks, sizes))
    names = b"" if continues_in is None else continues_in + b"\0" + b"disk 2\0"
    coff_files = header_size + len(names) + folder_size
    coff_data = coff_files + len(files)
    total = coff_data + len(data)
    flags = 0 if continues_in is None else NEXT_CABINET_FLAG
    header = struct.pack("<4sIIIIIBBHHHHH", b"MSCF", 0, total, 0, coff_files, 0, 3, 1, 1,
                         len(entries), flags, set_id, 0)
    folder = struct.pack("<IHH", coff_data, len(blocks), 0)
    return header + names + folder + files + data


def read_entries(cabinet):
    """(name, size, date, time, attribs) of each entry."""
    (files_offset,) = struct.unpack_from("<I", cabinet, 16)
    (count,) = struct.unpack_from("<H", cabinet, 28)
    entries, pos = [], files_offset
    for _ in range(count):
        size, _, _, date, time, attribs = struct.unpack_from("<IIHHHH", cabinet, pos)
        end = cabinet.index(b"\0", pos + 16)
        entries.append((cabinet[pos + 16 : end], size, date, time, attribs))
        pos = end + 1
    return entries


def dos_to_local_struct(date, time):
    """The stored DOS date and time as a time tuple (local time)."""
    return ((date >> 9) + 1980, (date >> 5) & 15, date & 31, time >> 11, (time >> 5) & 63,
            (time & 31) * 2, 0, 0, -1)
