#!/usr/bin/python3
"""Renders every image of an .ico into one preview PNG.

Usage: preview.py <icon.ico> <preview.png>
       preview.py --side-by-side <sheet.png> <icon.ico>...

Rows: each image at its own size on a light and on a dark background, then
the small ones magnified (nearest neighbour) to show their pixels. With
--side-by-side, one column per icon instead: its 64 px image on light and
on dark, then its 32 and 16 px images. Reads
the PNG images itself (stdlib zlib), so it also shows what the file holds.
"""
import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from draw_icon import png_bytes  # noqa: E402

LIGHT = (0xF3, 0xF3, 0xF3)
DARK = (0x20, 0x20, 0x20)
GREY = (0x80, 0x80, 0x80)
GAP = 16
MAGNIFY = ((16, 12), (24, 8), (32, 6), (48, 4))


def decode_png(data):
    """Gives (width, height, rows of RGBA bytes) of an 8-bit RGBA PNG."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if (depth, colour, interlace) != (8, 6, 0):
        raise ValueError("not 8-bit RGBA without interlace")
    raw = zlib.decompress(idat)
    stride = width * 4
    rows, prior = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = prior[i]
            c = prior[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + ((a + b) >> 1)) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else (b if pb <= pc else c))) & 0xFF
        rows.append(bytes(line))
        prior = line
    return width, height, rows


def read_ico(path):
    with open(path, "rb") as f:
        data = f.read()
    _, _, count = struct.unpack("<HHH", data[:6])
    images = []
    for i in range(count):
        _, _, _, _, _, _, size, offset = struct.unpack("<BBBBHHII", data[6 + 16 * i:22 + 16 * i])
        images.append(decode_png(data[offset:offset + size]))
    return images


class Canvas:
    def __init__(self, width, height):
        self.width = width
        self.pixels = bytearray(width * height * 3)

    def fill(self, x0, y0, x1, y1, colour):
        for y in range(y0, y1):
            for x in range(x0, x1):
                self.pixels[(y * self.width + x) * 3:(y * self.width + x) * 3 + 3] = bytes(colour)

    def paint(self, image, left, top, scale=1):
        width, height, rows = image
        for y in range(height * scale):
            row = rows[y // scale]
            for x in range(width * scale):
                r, g, b, a = row[(x // scale) * 4:(x // scale) * 4 + 4]
                at = ((top + y) * self.width + left + x) * 3
                under = self.pixels[at:at + 3]
                self.pixels[at:at + 3] = bytes((c * a + u * (255 - a) + 127) // 255 for c, u in zip((r, g, b), under))

    def rows(self):
        # Opaque RGBA rows, for the shared PNG writer.
        out = []
        for y in range(len(self.pixels) // (self.width * 3)):
            line = self.pixels[y * self.width * 3:(y + 1) * self.width * 3]
            out.append(b"".join(bytes(line[i:i + 3]) + b"\xff" for i in range(0, len(line), 3)))
        return out


def side_by_side(paths, output):
    icons = [{image[0]: image for image in read_ico(path)} for path in paths]
    column = 64 + GAP
    band = 64 + GAP
    width = GAP + column * len(icons)
    height = 3 * band + GAP
    canvas = Canvas(width, height)
    canvas.fill(0, 0, width, band + GAP // 2, LIGHT)
    canvas.fill(0, band + GAP // 2, width, 2 * band + GAP, DARK)
    canvas.fill(0, 2 * band + GAP, width, height, LIGHT)
    for index, images in enumerate(icons):
        left = GAP + index * column
        canvas.paint(images[64], left, GAP)
        canvas.paint(images[64], left, band + GAP)
        canvas.paint(images[32], left, 2 * band + GAP + 16)
        canvas.paint(images[16], left + 32 + GAP, 2 * band + GAP + 32)
    with open(output, "wb") as out:
        out.write(png_bytes(canvas.rows()))
    return 0


def main(argv):
    if len(argv) >= 4 and argv[1] == "--side-by-side":
        return side_by_side(argv[3:], argv[2])
    if len(argv) != 3:
        print("usage: preview.py <icon.ico> <preview.png> | --side-by-side <sheet.png> <icon.ico>...",
              file=sys.stderr)
        return 2
    images = read_ico(argv[1])
    by_size = {image[0]: image for image in images}
    strip = sum(image[0] for image in images) + GAP * (len(images) + 1)
    zoom = sum(size * scale for size, scale in MAGNIFY if size in by_size) + GAP * (len(MAGNIFY) + 1)
    tallest = max(image[1] for image in images)
    zoom_height = max(size * scale for size, scale in MAGNIFY)
    width = max(strip, zoom)
    height = 2 * (tallest + 2 * GAP) + zoom_height + 2 * GAP
    canvas = Canvas(width, height)
    top = 0
    for background in (LIGHT, DARK):
        canvas.fill(0, top, width, top + tallest + 2 * GAP, background)
        left = GAP
        for image in images:
            canvas.paint(image, left, top + GAP + tallest - image[1])
            left += image[0] + GAP
        top += tallest + 2 * GAP
    canvas.fill(0, top, width, height, GREY)
    left = GAP
    for size, scale in MAGNIFY:
        if size in by_size:
            canvas.paint(by_size[size], left, top + GAP, scale)
            left += size * scale + GAP
    with open(argv[2], "wb") as out:
        out.write(png_bytes(canvas.rows()))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
