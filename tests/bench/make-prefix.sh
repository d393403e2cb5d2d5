#!/bin/bash
# Makes a fresh Wine prefix at the given path (never ~/.wine). The prefix's
# user is $USER, so a test can ask for a profile name of its own.
set -euo pipefail
prefix=$1
case "$prefix" in
    "$HOME/.wine"|"$HOME/.wine/"|"") echo "make-prefix: refusing $prefix" >&2; exit 2 ;;
esac
. "$(dirname "$0")/wine-env.sh"
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
WINEPREFIX="$prefix" wineboot -i >/dev/null 2>&1
WINEPREFIX="$prefix" wineserver -w
[ -d "$prefix/drive_c" ] || { echo "make-prefix: wineboot made no prefix at $prefix" >&2; exit 1; }
