#!/usr/bin/python3
"""Helpers for the bundling tool's tests, built on pefile (a parser of its own,
not the tool's):
  checksum <file>          exit 0 when the PE checksum field is right
  move-headers <in> <out> <end>
                           writes <in> with its PE headers (signature, COFF and
                           optional header, section table) moved so that the
                           optional header ends at file offset <end>; the bytes
                           they cover there are lost, so <out> does not run
"""
import sys

import pefile


def checksum(path):
    pe = pefile.PE(path, fast_load=True)
    stored = pe.OPTIONAL_HEADER.CheckSum
    computed = pe.generate_checksum()
    print("%s: checksum field %08X, computed %08X" % (path, stored, computed))
    return 0 if stored == computed else 1


def move_headers(source, target, end):
    data = bytearray(open(source, "rb").read())
    pe = pefile.PE(data=bytes(data), fast_load=True)
    old = pe.DOS_HEADER.e_lfanew
    optional_end = 4 + 20 + pe.FILE_HEADER.SizeOfOptionalHeader
    length = optional_end + 40 * pe.FILE_HEADER.NumberOfSections
    new = end - optional_end
    block = bytes(data[old:old + length])
    data[old:old + length] = bytes(length)
    if len(data) < new + length:
        data.extend(bytes(new + length - len(data)))
    data[new:new + length] = block
    data[0x3C:0x40] = new.to_bytes(4, "little")
    open(target, "wb").write(data)
    print("%s: PE header at %d, optional header ends at %d" % (target, new, end))
    return 0


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "checksum":
        return checksum(sys.argv[2])
    if len(sys.argv) == 5 and sys.argv[1] == "move-headers":
        return move_headers(sys.argv[2], sys.argv[3], int(sys.argv[4], 0))
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
