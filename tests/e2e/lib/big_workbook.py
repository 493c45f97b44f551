#!/usr/bin/env python3
"""Writes a BIFF8 workbook in a compound file (4096-byte sectors, the
Workbook stream in one run of sectors) with two worksheets: the first holds
a small table (labels in row 1, values in row 2), the second the same
table and then BULK bytes of long text cells below it. With "scattered",
each pair of the stream's sectors is stored the other way round, as a
writer that updates files in place may leave them.
usage: big_workbook.py OUT BULK_BYTES [scattered]"""
import struct
import sys

ENDOFCHAIN, FREESECT, FATSECT, NOSTREAM = 0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFD, 0xFFFFFFFF
SECTOR = 4096


def record(rid, body=b""):
    return struct.pack("<HH", rid, len(body)) + body


def bof(kind):
    return record(0x0809, struct.pack("<HHHHII", 0x0600, kind, 0x0DBB, 0x07CC, 0, 0x0206))


def label(row, col, text):
    return record(0x0204, struct.pack("<HHHHB", row, col, 0, len(text), 0) + text.encode("latin-1"))


def number(row, col, value):
    return record(0x0203, struct.pack("<HHHd", row, col, 0, value))


def xf():
    # One cell format (index 0): the cells' colour lookups find it.
    return record(0x00E0, bytes(20))


def boundsheet(offset, name):
    return record(0x0085, struct.pack("<IBBBB", offset, 0, 0, len(name), 0) + name.encode("latin-1"))


def stream(bulk):
    eof = record(0x000A)
    small = bof(0x0010) + b"".join(label(0, c, t) for c, t in enumerate(["Nord", "Sued", "West"]))
    small += b"".join(number(1, c, v) for c, v in enumerate([12, 7, 30])) + eof
    text = label(2, 0, "x" * 8000)
    big = bof(0x0010) + label(0, 0, "Masse") + number(1, 0, 5) + text * max(1, bulk // len(text)) + eof
    globals_size = len(bof(0x0005)) + len(xf()) + len(boundsheet(0, "Klein")) + len(boundsheet(0, "Gross")) + len(eof)
    first = globals_size
    second = first + len(small)
    head = bof(0x0005) + xf() + boundsheet(first, "Klein") + boundsheet(second, "Gross") + eof
    assert len(head) == globals_size
    return head + small + big


def compound(data, out, scattered=False):
    n = (len(data) + SECTOR - 1) // SECTOR
    # place[k]: where the stream's sector k is stored (its own inverse).
    place = [k ^ 1 if scattered and (k ^ 1) < n else k for k in range(n)]
    fat_sectors = 1
    while fat_sectors * (SECTOR // 4) < n + fat_sectors + 1:
        fat_sectors += 1
    assert fat_sectors <= 109, "needs DIFAT sectors"
    fat = [0] * n
    for k in range(n):
        fat[place[k]] = place[k + 1] if k + 1 < n else ENDOFCHAIN
    fat += [FATSECT] * fat_sectors + [ENDOFCHAIN]
    fat += [FREESECT] * (fat_sectors * (SECTOR // 4) - len(fat))
    directory_sector = n + fat_sectors
    difat = list(range(n, n + fat_sectors)) + [FREESECT] * (109 - fat_sectors)
    header = bytes([0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1]) + bytes(16)
    header += struct.pack("<HHHHH", 0x003E, 4, 0xFFFE, 12, 6) + bytes(6)
    header += struct.pack("<IIIIIIIII", 1, fat_sectors, directory_sector, 0, 4096, ENDOFCHAIN, 0, ENDOFCHAIN, 0)
    header += struct.pack("<109I", *difat)

    def entry(name, kind, child, start, size):
        raw = (name + "\0").encode("utf-16-le") if name else b""
        return (raw.ljust(64, b"\0") + struct.pack("<HBB", len(raw), kind, 1)
                + struct.pack("<III", NOSTREAM, NOSTREAM, child) + bytes(16) + bytes(4) + bytes(16)
                + struct.pack("<IQ", start, size))

    directory = entry("Root Entry", 5, 1, ENDOFCHAIN, 0) + entry("Workbook", 2, NOSTREAM, place[0], len(data))
    directory += entry("", 0, NOSTREAM, 0, 0) * (SECTOR // 128 - 2)
    with open(out, "wb") as f:
        f.write(header.ljust(SECTOR, b"\0"))
        padded = data.ljust(n * SECTOR, b"\0")
        for j in range(n):
            k = place[j]  # the stream sector stored at j
            f.write(padded[k * SECTOR:(k + 1) * SECTOR])
        f.write(struct.pack("<%dI" % len(fat), *fat))
        f.write(directory)


if __name__ == "__main__":
    compound(stream(int(sys.argv[2])), sys.argv[1], len(sys.argv) > 3 and sys.argv[3] == "scattered")
