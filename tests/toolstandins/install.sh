#!/bin/bash
# Puts the stand-in tar.exe and powershell.exe into a Wine prefix, where
# Windows keeps the real ones: the launcher starts them by these full paths.
# Usage: install.sh <prefix> <build dir>
set -euo pipefail
prefix=$1
standins="$2/tests/standins"
system32="$prefix/drive_c/windows/system32"
cp "$standins/tar.exe" "$system32/tar.exe"
mkdir -p "$system32/WindowsPowerShell/v1.0"
cp "$standins/powershell.exe" "$system32/WindowsPowerShell/v1.0/powershell.exe"
