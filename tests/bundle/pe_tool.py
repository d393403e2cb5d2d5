#!/usr/bin/python3
"""Helpers for the bundling tool's tests, built on pefile (a parser of its own,
not the tool's):
  checksum <file>          exit 0 when the PE checksum field is right
"""
import sys

import pefile


def checksum(path):
    pe = pefile.PE(path, fast_load=True)
    stored = pe.OPTIONAL_HEADER.CheckSum
    computed = pe.generate_checksum()
    print("%s: checksum field %08X, computed %08X" % (path, stored, computed))
    return 0 if stored == computed else 1


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "checksum":
        return checksum(sys.argv[2])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
