#!/usr/bin/python3
"""Checks that a built launcher is a PE32+ x86-64 GUI program whose import
table names Windows system DLLs from an allow-list only, no runtime DLLs.
Usage: pe_imports.py <launcher.exe>"""
import sys

import pefile

# Static imports: KnownDLLs only, which Windows never looks for beside the
# program. Everything else (winhttp.dll) must be delay-loaded, after the
# launcher has limited the DLL search to the system folder.
ALLOWED = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "shlwapi.dll", "ole32.dll", "advapi32.dll",
    "msvcrt.dll",
}
API_SET_PREFIXES = ("api-ms-win-",)


def check(path):
    pe = pefile.PE(path)
    problems = []
    if pe.FILE_HEADER.Machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"]:
        problems.append("machine is not x86-64")
    if pe.OPTIONAL_HEADER.Magic != 0x20B:
        problems.append("not PE32+")
    if pe.OPTIONAL_HEADER.Subsystem != pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]:
        problems.append("subsystem is not GUI")
    imported = set()
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        imported.add(entry.dll.decode("ascii").lower())
    for dll in sorted(imported):
        if dll not in ALLOWED and not dll.startswith(API_SET_PREFIXES):
            problems.append("imports %s" % dll)
    print("%s imports: %s" % (path, ", ".join(sorted(imported))))
    return problems


def main():
    problems = check(sys.argv[1])
    for problem in problems:
        print("FAIL: " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
