#!/bin/sh
# Saves the X screen, or a piece of it, as an image whose format the file's
# extension names (png, ppm). It goes under a temporary name first, so a test
# that waits for the file never reads half of it.
# Usage: screenshot.sh <out.png|out.ppm> [WxH+X+Y]     (DISPLAY names the screen)
out=${1:?usage: screenshot.sh <out.png|out.ppm> [WxH+X+Y]}
crop=${2:-}
format=${out##*.}
mkdir -p "$(dirname "$out")"
if [ -n "$crop" ]; then
    set -- -crop "$crop" +repage
else
    set --
fi
if import -window root "$@" -depth 8 "$format:$out.part" 2>"$out.log"; then
    mv -f "$out.part" "$out" && rm -f "$out.log"
fi
