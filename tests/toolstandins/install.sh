#!/bin/bash
# Puts the system tools the launcher starts into a Wine prefix, at the full
# paths Windows keeps them at: Windows' own tar.exe (libarchive's bsdtar,
# built by tests/bench/bsdtar.sh into the build tree), and the stand-in
# powershell.exe, since Wine's is a stub that extracts nothing. The stand-in
# tar.exe stays in the build tree (tests/standins) for the tests that need
# tar to fail, hang or stop halfway (e2e::StandinTar puts it in place).
# Usage: install.sh <prefix> <build dir>
set -euo pipefail
prefix=$1
standins="$2/tests/standins"
real_tar="$2/bsdtar/bsdtar.exe"
system32="$prefix/drive_c/windows/system32"
[ -f "$real_tar" ] || { echo "install.sh: no $real_tar (tests/bench/bsdtar.sh builds it)" >&2; exit 1; }
cp "$real_tar" "$system32/tar.exe"
mkdir -p "$system32/WindowsPowerShell/v1.0"
cp "$standins/powershell.exe" "$system32/WindowsPowerShell/v1.0/powershell.exe"
