#!/usr/bin/python3
"""Reads back the Start menu shortcuts that the launcher's CreateShortcuts()
writes, with lnkinfo (liblnk), an independent reader of the file format.
Runs inside the bench: WINEPREFIX and PIVRA_BUILD_DIR are set."""
import os
import shutil
import subprocess
import sys
import zipfile

BUILD = os.environ["PIVRA_BUILD_DIR"]
BENCHCTL = os.path.join(BUILD, "tests", "benchctl.exe")

# display name, arguments, icon base name
PLACES = [
    ("Pivra Suite All In One", "", "suite"),
    ("Pivra Suite Messaging", "--place messages", "chat"),
    ("Pivra Suite Camera", "--place camera", "camera"),
    ("Pivra Suite Contacts", "--place contacts", "contacts"),
    ("Pivra Suite Email", "--place email", "email"),
    ("Pivra Suite Friends In Common", "--place them", "friends"),
    ("Pivra Suite Map", "--place map", "map"),
    ("Pivra Suite Music", "--place music", "music"),
    ("Pivra Suite Alarm and Reminders", "--place alarm", "alarm"),
    ("Pivra Suite Storage Management", "--place storage", "storage"),
]
MISSING_ICON = "camera"  # removed from the suite: that shortcut shows the exe's icon


def wine(*args):
    return subprocess.run(["wine", BENCHCTL, *args], check=True, capture_output=True, text=True).stdout.strip()


def unix(windows_path):
    return subprocess.run(["winepath", "-u", windows_path], check=True, capture_output=True, text=True).stdout.strip()


def lnk_fields(path):
    out = subprocess.run(["lnkinfo", path], check=True, capture_output=True, text=True).stdout
    fields = {}
    for line in out.splitlines():
        key, sep, value = line.strip().partition(":")
        if sep and key.strip() in ("Local path", "Description", "Working directory", "Command line arguments",
                                   "Icon location", "Icon index") and key.strip() not in fields:
            fields[key.strip()] = value.strip()
    return fields


def main():
    install_dir = wine("path", "install-dir")
    suite_exe = wine("path", "suite-exe")
    programs = unix(wine("path", "programs"))
    start_menu = unix(wine("path", "start-menu"))
    shutil.rmtree(os.path.join(programs, "Pivra Suite All In One"), ignore_errors=True)
    shutil.rmtree(start_menu, ignore_errors=True)
    os.makedirs(programs, exist_ok=True)
    zipfile.ZipFile(os.path.join(BUILD, "tests", "PivraSuite-Windows.zip")).extractall(programs)
    os.remove(os.path.join(programs, "Pivra Suite All In One", "icons", MISSING_ICON + ".ico"))

    problems = []
    for run in (1, 2):
        wine("make-shortcuts")
        names = sorted(os.listdir(start_menu))
        expected = sorted(name + ".lnk" for name, _, _ in PLACES)
        if names != expected:
            problems.append("run %d: the folder holds %s, expected %s" % (run, names, expected))
        for name, arguments, icon in PLACES:
            path = os.path.join(start_menu, name + ".lnk")
            if not os.path.exists(path):
                continue
            fields = lnk_fields(path)
            want = {
                "Local path": suite_exe,
                "Working directory": install_dir,
                "Command line arguments": arguments,
                "Description": name,
                "Icon location": suite_exe if icon == MISSING_ICON else install_dir + "\\icons\\" + icon + ".ico",
                "Icon index": "0",
            }
            for key, value in want.items():
                if fields.get(key, "") != value:
                    problems.append("run %d, %s: %s is %r, expected %r" % (run, name, key, fields.get(key), value))
        if run == 1:
            for name in os.listdir(start_menu):
                os.utime(os.path.join(start_menu, name), (0, 0))
        else:
            stale = [n for n in os.listdir(start_menu) if os.stat(os.path.join(start_menu, n)).st_mtime == 0]
            if stale:
                problems.append("the second run did not rewrite %s" % stale)
    shutil.rmtree(os.path.join(programs, "Pivra Suite All In One"), ignore_errors=True)
    shutil.rmtree(start_menu, ignore_errors=True)
    for problem in problems:
        print("FAIL: " + problem)
    print("%d shortcuts read back twice with lnkinfo, %d problems" % (len(PLACES), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
