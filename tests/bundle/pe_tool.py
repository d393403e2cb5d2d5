#!/usr/bin/python3
"""Helpers for the bundling tool's tests, built on pefile (a parser of its own,
not the tool's):
  checksum <file>          exit 0 when the PE checksum field is right
  two-certs <in> <out>     a copy whose certificate table holds two entries
"""
import struct
import sys

import pefile

SECURITY = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]


def checksum(path):
    pe = pefile.PE(path, fast_load=True)
    stored = pe.OPTIONAL_HEADER.CheckSum
    computed = pe.generate_checksum()
    print("%s: checksum field %08X, computed %08X" % (path, stored, computed))
    return 0 if stored == computed else 1


def two_certs(source, target):
    data = bytearray(open(source, "rb").read())
    pe = pefile.PE(data=bytes(data), fast_load=True)
    entry = pe.OPTIONAL_HEADER.DATA_DIRECTORY[SECURITY]
    start, size = entry.VirtualAddress, entry.Size
    if size == 0 or start + size != len(data):
        print("%s is not signed with its certificate table last" % source)
        return 1
    (length,) = struct.unpack_from("<I", data, start)
    first = bytes(data[start:start + ((length + 7) & ~7)])
    data += first
    struct.pack_into("<I", data, entry.get_file_offset() + 4, size + len(first))
    open(target, "wb").write(data)
    return 0


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "checksum":
        return checksum(sys.argv[2])
    if len(sys.argv) == 4 and sys.argv[1] == "two-certs":
        return two_certs(sys.argv[2], sys.argv[3])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
