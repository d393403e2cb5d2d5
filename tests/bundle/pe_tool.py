#!/usr/bin/python3
"""Helpers for the bundling tool's tests, built on pefile (a parser of its own,
not the tool's):
  checksum <file>          exit 0 when the PE checksum field is right
  store <in.zip> <out.zip> the same members, every one stored uncompressed
  tamper <in.exe> <out.exe>
                           a copy of a bundled (and signed) launcher with one
                           byte changed in the middle of the carried zip's
                           largest stored member, and that member's CRC-32
                           fixed, so the zip stays valid and as long
  move-headers <in> <out> <end>
                           writes <in> with its PE headers (signature, COFF and
                           optional header, section table) moved so that the
                           optional header ends at file offset <end>; the bytes
                           they cover there are lost, so <out> does not run
"""
import io
import struct
import sys
import zipfile
import zlib

import pefile


def checksum(path):
    pe = pefile.PE(path, fast_load=True)
    stored = pe.OPTIONAL_HEADER.CheckSum
    computed = pe.generate_checksum()
    print("%s: checksum field %08X, computed %08X" % (path, stored, computed))
    return 0 if stored == computed else 1


def store(source, target):
    with zipfile.ZipFile(source) as zin, zipfile.ZipFile(target, "w", zipfile.ZIP_STORED) as zout:
        for info in zin.infolist():
            copy = zipfile.ZipInfo(info.filename, info.date_time)
            copy.external_attr = info.external_attr
            zout.writestr(copy, zin.read(info), zipfile.ZIP_STORED)
    return 0


def archive_region(data):
    """(start, length) of the archive a bundled file carries, found as the
    launcher finds it: the trailer ends the file or its certificate table."""
    pe = pefile.PE(data=data, fast_load=True)
    security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    end = security.VirtualAddress if security.Size else len(data)
    if data[end - 16:end - 8] != b"PIVRAZIP":
        raise ValueError("no trailer at %d" % (end - 16))
    (length,) = struct.unpack("<Q", data[end - 8:end])
    return end - 16 - length, length


def tamper(source, target):
    data = bytearray(open(source, "rb").read())
    start, length = archive_region(data)
    archive = zipfile.ZipFile(io.BytesIO(bytes(data[start:start + length])))
    stored = [i for i in archive.infolist() if i.compress_type == zipfile.ZIP_STORED and i.file_size > 0]
    if not stored:
        print("tamper: the carried zip has no stored member with data", file=sys.stderr)
        return 1
    info = max(stored, key=lambda i: i.file_size)
    local = start + info.header_offset
    name_length, extra_length = struct.unpack("<HH", data[local + 26:local + 30])
    first = local + 30 + name_length + extra_length
    middle = first + info.file_size // 2
    data[middle] ^= 0x01
    crc = zlib.crc32(data[first:first + info.file_size]) & 0xFFFFFFFF
    if info.flag_bits & 0x08:  # the CRC in a data descriptor after the data
        descriptor = first + info.file_size
        if data[descriptor:descriptor + 4] == b"PK\x07\x08":
            descriptor += 4
        struct.pack_into("<I", data, descriptor, crc)
    else:
        struct.pack_into("<I", data, local + 14, crc)
    # The central directory's entry for the same member.
    central = data.find(b"PK\x01\x02", start, start + length)
    while central != -1:
        (offset,) = struct.unpack("<I", data[central + 42:central + 46])
        if offset == info.header_offset:
            struct.pack_into("<I", data, central + 16, crc)
            break
        central = data.find(b"PK\x01\x02", central + 4, start + length)
    else:
        print("tamper: no central directory entry for %s" % info.filename, file=sys.stderr)
        return 1
    changed = zipfile.ZipFile(io.BytesIO(bytes(data[start:start + length])))
    bad = changed.testzip()
    if bad is not None:
        print("tamper: the changed zip does not test clean: %s" % bad, file=sys.stderr)
        return 1
    open(target, "wb").write(data)
    print("tamper: %s: byte %d of %s changed, CRC-32 now %08X" % (target, middle - first, info.filename, crc))
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
    if len(sys.argv) == 4 and sys.argv[1] == "store":
        return store(sys.argv[2], sys.argv[3])
    if len(sys.argv) == 4 and sys.argv[1] == "tamper":
        return tamper(sys.argv[2], sys.argv[3])
    if len(sys.argv) == 5 and sys.argv[1] == "move-headers":
        return move_headers(sys.argv[2], sys.argv[3], int(sys.argv[4], 0))
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
