#!/bin/bash
# Puts the stand-in tar.exe and powershell.exe into a Wine prefix.
# Usage: install.sh <prefix> <build dir>
set -euo pipefail
prefix=$1
standins="$2/tests/standins"
system32="$prefix/drive_c/windows/system32"
cp "$standins/tar.exe" "$system32/tar.exe"
# CreateProcessW finds "powershell.exe" through PATH; Wine has copies in both places.
for target in "$system32/powershell.exe" "$system32/WindowsPowerShell/v1.0/powershell.exe"; do
    [ -d "$(dirname "$target")" ] && cp "$standins/powershell.exe" "$target"
done
