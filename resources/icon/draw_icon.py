#!/usr/bin/python3
"""Draws a place's icon and writes it as a Windows .ico.

Usage: draw_icon.py <icon> <output.ico> [--expect <file.ico>]

<icon> is a place's icon name from the place table: suite (the suite's
grid), chat (speech bubble), camera, contacts (contact card), email
(envelope), friends (two people), map (map pin), music (note), alarm (bell)
or storage (disk). Every icon is one white glyph on the suite's tile.
With --expect it also compares the drawing with that file (the checked-in
icon) and fails when they differ by a byte.

The drawing is analytic: every shape is a signed distance function, and a
pixel's coverage is the share of an 8x8 grid of sample points inside the
shape (pixels far from any edge are decided from the distance alone). Only
+ - * / and sqrt are used, so the result is the same on every IEEE machine,
and the PNGs carry no chunks beyond IHDR, IDAT and IEND (no time, no text),
so every run writes the same bytes.

Each size has its own layout on its own pixel grid: straight edges fall on
pixel boundaries, so 16, 24 and 32 px stay crisp; 256 is the 64 px layout
scaled by four. The speech bubble has a layout per size; the other glyphs
are drawn once on the 64 px grid and scaled onto each size's tile.
"""
import struct
import sys
import zlib

# The suite's palette (sRGB).
SKY = (0x3F, 0x8C, 0xE0)         # tile, top
SUITE_BLUE = (0x2B, 0x6C, 0xB0)  # tile, middle; the dots
DEEP = (0x1F, 0x4E, 0x8A)        # tile, bottom
SHADOW = (0x0F, 0x2E, 0x57)      # the bubble's shadow, translucent
PAPER = (0xFF, 0xFF, 0xFF)       # the bubble
PAPER_SHADE = (0xE4, 0xEE, 0xF9) # the bubble's bottom on large sizes

# The order of the images in the file.
SIZES = (256, 64, 48, 32, 24, 16)

# Layouts, in the pixel units of their own grid:
# tile (x0, y0, x1, y1, radius); body (x0, y0, x1, y1, radius);
# tail: triangle under the body's left part, pointing down;
# dots: centres, half size, corner radius (half size = radius: a circle);
# fillet: rounding where tail meets body; shadow: (offset, blur, opacity) or None;
# shade: whether the bubble gets its faint gradient.
LAYOUTS = {
    16: dict(grid=16, tile=(0, 0, 16, 16, 3), body=(2, 3, 14, 11, 2),
             tail=((4, 10), (8, 10), (4, 14)),
             dots=(((5, 7), (8, 7), (11, 7)), 1, 0.4), fillet=0, shadow=None, shade=False),
    24: dict(grid=24, tile=(1, 1, 23, 23, 4.5), body=(4, 5, 21, 16, 3),
             tail=((6, 15), (11, 15), (6, 20)),
             dots=(((7.5, 10.5), (12.5, 10.5), (17.5, 10.5)), 1.5, 0.7), fillet=0, shadow=None, shade=False),
    32: dict(grid=32, tile=(1, 1, 31, 31, 6.5), body=(5, 7, 27, 21, 4.5),
             tail=((8, 20), (14, 20), (8, 26)),
             dots=(((10, 14), (16, 14), (22, 14)), 2, 2), fillet=0.6, shadow=None, shade=False),
    48: dict(grid=48, tile=(2, 2, 46, 46, 10), body=(8, 10, 40, 32, 7),
             tail=((11, 30), (20, 30), (11, 39)),
             dots=(((15, 21), (24, 21), (33, 21)), 3, 3), fillet=1, shadow=(1.5, 2.5, 0.30), shade=True),
    64: dict(grid=64, tile=(2, 2, 62, 62, 13), body=(10, 14, 54, 42, 9),
             tail=((15, 40), (28, 40), (15, 53)),
             dots=(((20, 28), (32, 28), (44, 28)), 4, 4), fillet=1.5, shadow=(2, 3, 0.30), shade=True),
}
LAYOUTS[256] = dict(LAYOUTS[64], grid=64)  # same drawing, four pixels a unit

SUPERSAMPLE = 8


# Signed distances: negative inside. All are 1-Lipschitz, which the
# coverage shortcut below relies on.
def sd_round_box(px, py, box):
    x0, y0, x1, y1, r = box
    qx = abs(px - (x0 + x1) * 0.5) - ((x1 - x0) * 0.5 - r)
    qy = abs(py - (y0 + y1) * 0.5) - ((y1 - y0) * 0.5 - r)
    ox = qx if qx > 0 else 0.0
    oy = qy if qy > 0 else 0.0
    return (ox * ox + oy * oy) ** 0.5 + min(max(qx, qy), 0.0) - r


def sd_triangle(px, py, tri):
    # Exact distance to a polygon: nearest edge, sign by crossing count.
    best = None
    inside = False
    n = len(tri)
    for i in range(n):
        ax, ay = tri[i]
        bx, by = tri[(i + 1) % n]
        ex, ey = bx - ax, by - ay
        wx, wy = px - ax, py - ay
        t = (wx * ex + wy * ey) / (ex * ex + ey * ey)
        t = 0.0 if t < 0 else (1.0 if t > 1 else t)
        dx, dy = wx - ex * t, wy - ey * t
        d2 = dx * dx + dy * dy
        if best is None or d2 < best:
            best = d2
        if (ay > py) != (by > py) and px < ax + (py - ay) * ex / ey:
            inside = not inside
    d = best ** 0.5
    return -d if inside else d


def smooth_min(a, b, k):
    if k <= 0:
        return min(a, b)
    h = max(k - abs(a - b), 0.0) / k
    return min(a, b) - h * h * k * 0.25


def bubble_distance(layout, px, py):
    return smooth_min(sd_round_box(px, py, layout["body"]), sd_triangle(px, py, layout["tail"]), layout["fillet"])


def dots_distance(layout, px, py):
    centres, half, radius = layout["dots"]
    return min(sd_round_box(px, py, (cx - half, cy - half, cx + half, cy + half, radius)) for cx, cy in centres)


def coverage(distance, x, y, unit):
    """Share of pixel (x, y) inside the shape; unit = grid units per pixel."""
    cx, cy = (x + 0.5) * unit, (y + 0.5) * unit
    d = distance(cx, cy) / unit
    # A pixel's corners lie within 0.71 px of its centre.
    if d >= 0.75:
        return 0.0
    if d <= -0.75:
        return 1.0
    inside = 0
    for j in range(SUPERSAMPLE):
        sy = (y + (j + 0.5) / SUPERSAMPLE) * unit
        for i in range(SUPERSAMPLE):
            if distance((x + (i + 0.5) / SUPERSAMPLE) * unit, sy) < 0:
                inside += 1
    return inside / (SUPERSAMPLE * SUPERSAMPLE)


def mix(a, b, t):
    return tuple(a[k] + (b[k] - a[k]) * t for k in range(3))


def tile_colour(layout, gy):
    # Sky to suite blue over the upper half, suite blue to deep below.
    _, y0, _, y1, _ = layout["tile"]
    t = min(max((gy - y0) / (y1 - y0), 0.0), 1.0)
    return mix(SKY, SUITE_BLUE, t * 2) if t < 0.5 else mix(SUITE_BLUE, DEEP, t * 2 - 1)


def paper_colour(layout, gy):
    if not layout["shade"]:
        return PAPER
    _, y0, _, y1, _ = layout["body"]
    t = min(max((gy - y0) / (y1 - y0), 0.0), 1.0)
    return mix(PAPER, PAPER_SHADE, t * t)


def over(dst, colour, alpha):
    """Paints colour at alpha over dst, a straight-alpha (r, g, b, a) in 0..255 / 0..1."""
    if alpha <= 0:
        return dst
    r, g, b, a = dst
    out_a = alpha + a * (1 - alpha)
    k = a * (1 - alpha)
    return ((colour[0] * alpha + r * k) / out_a, (colour[1] * alpha + g * k) / out_a,
            (colour[2] * alpha + b * k) / out_a, out_a)


def smoothstep(t):
    t = min(max(t, 0.0), 1.0)
    return t * t * (3 - 2 * t)


def union(*distances):
    return min(distances)


def cut(shape, hole):
    return max(shape, -hole)


def sd_circle(px, py, cx, cy, r):
    dx, dy = px - cx, py - cy
    return (dx * dx + dy * dy) ** 0.5 - r


def sd_capsule(px, py, a, b, r):
    ax, ay = a
    ex, ey = b[0] - ax, b[1] - ay
    wx, wy = px - ax, py - ay
    t = (wx * ex + wy * ey) / (ex * ex + ey * ey)
    t = 0.0 if t < 0 else (1.0 if t > 1 else t)
    dx, dy = wx - ex * t, wy - ey * t
    return (dx * dx + dy * dy) ** 0.5 - r


# The other places' glyphs, signed distances on the 64 px grid (the tile
# spans 2..62 there).
def glyph_suite(px, py):
    # A three by three grid of tiles, as the suite's launcher shows its places.
    return union(*(sd_round_box(px, py, (x, y, x + 11, y + 11, 2.5))
                   for y in (11.0, 26.5, 42.0) for x in (11.0, 26.5, 42.0)))


def glyph_camera(px, py):
    body = smooth_min(sd_round_box(px, py, (9, 20, 55, 51, 6)), sd_round_box(px, py, (22, 13, 42, 26, 3)), 2)
    lens = sd_circle(px, py, 32, 36, 11)
    return union(cut(body, lens), sd_circle(px, py, 32, 36, 6.5))


def glyph_contacts(px, py):
    card = sd_round_box(px, py, (8, 14, 56, 50, 5))
    person = union(sd_circle(px, py, 22, 27, 5.5), sd_round_box(px, py, (12, 36, 32, 44, 5)))
    lines = union(sd_capsule(px, py, (38, 27), (49, 27), 2.25), sd_capsule(px, py, (38, 36), (46, 36), 2.25))
    return cut(card, union(person, lines))


def glyph_email(px, py):
    envelope = sd_round_box(px, py, (8, 16, 56, 49, 4.5))
    flap = union(sd_capsule(px, py, (12, 20), (32, 35), 2.5), sd_capsule(px, py, (32, 35), (52, 20), 2.5))
    return cut(envelope, flap)


def glyph_friends(px, py):
    front = union(sd_circle(px, py, 39, 23, 7.5), max(sd_round_box(px, py, (24, 35, 54, 66, 12)), py - 53))
    back = union(sd_circle(px, py, 23, 20, 6.5), max(sd_round_box(px, py, (10, 30, 36, 62, 10)), py - 47))
    # A gap around the one in front keeps the two apart.
    return union(front, cut(back, front - 3))


def glyph_map(px, py):
    pin = smooth_min(sd_circle(px, py, 32, 26, 15), sd_triangle(px, py, ((19.5, 34), (44.5, 34), (32, 56))), 3)
    return cut(pin, sd_circle(px, py, 32, 26, 6))


def glyph_music(px, py):
    heads = union(sd_circle(px, py, 20, 45, 6.5), sd_circle(px, py, 42, 40, 6.5))
    stems = union(sd_round_box(px, py, (22.5, 18, 26.5, 45, 0)), sd_round_box(px, py, (44.5, 13, 48.5, 40, 0)))
    beam = sd_triangle(px, py, ((22.5, 17), (48.5, 11), (48.5, 19.5), (22.5, 25.5)))
    return union(heads, stems, beam)


def glyph_alarm(px, py):
    dome = smooth_min(sd_circle(px, py, 32, 28, 12), sd_triangle(px, py, ((20, 28), (44, 28), (48, 44), (16, 44))), 2)
    rim = sd_round_box(px, py, (11, 41, 53, 47, 3))
    return union(smooth_min(dome, rim, 2), sd_circle(px, py, 32, 15, 3.5), sd_circle(px, py, 32, 52, 4))


def glyph_storage(px, py):
    # A disk drive: its case, the platter and its hub, a seam and the light.
    case = sd_round_box(px, py, (11, 9, 53, 55, 6))
    marks = union(sd_circle(px, py, 32, 25, 11), sd_round_box(px, py, (11, 41, 53, 44, 0)),
                  sd_circle(px, py, 44, 49, 2.5))
    return union(cut(case, marks), sd_circle(px, py, 32, 25, 3.5))


GLYPHS = {"suite": glyph_suite, "camera": glyph_camera, "contacts": glyph_contacts, "email": glyph_email,
          "friends": glyph_friends, "map": glyph_map, "music": glyph_music, "alarm": glyph_alarm,
          "storage": glyph_storage}
ICONS = ("suite", "chat") + tuple(name for name in GLYPHS if name != "suite")


def rgba_bytes(pixel):
    """A pixel's four bytes; fully transparent ones all zero."""
    r, g, b, a = pixel
    alpha = int(a * 255 + 0.5)
    if alpha == 0:
        return b"\0\0\0\0"
    return bytes((int(r + 0.5), int(g + 0.5), int(b + 0.5), alpha))


def render_on_tile(size, shape, foreground):
    """Rows of (r, g, b, a) bytes: the size's tile, the shadow of shape (a
    distance in the size's layout) and what foreground paints over them."""
    layout = LAYOUTS[size]
    unit = layout["grid"] / size
    tile = layout["tile"]
    rows = []
    for y in range(size):
        gy = (y + 0.5) * unit
        row = bytearray()
        for x in range(size):
            gx = (x + 0.5) * unit
            pixel = (0.0, 0.0, 0.0, 0.0)
            pixel = over(pixel, tile_colour(layout, gy), coverage(lambda u, v: sd_round_box(u, v, tile), x, y, unit))
            if layout["shadow"] is not None:
                offset, blur, opacity = layout["shadow"]
                d = shape(layout, gx, gy - offset)
                pixel = over(pixel, SHADOW, opacity * smoothstep(0.5 - d / blur))
            row += rgba_bytes(foreground(layout, pixel, x, y, gy, unit))
        rows.append(bytes(row))
    return rows


def render(size, icon="chat"):
    """Gives the icon at size x size as rows of (r, g, b, a) bytes."""
    if icon != "chat":
        return render_glyph(size, GLYPHS[icon])

    def bubble_and_dots(layout, pixel, x, y, gy, unit):
        pixel = over(pixel, paper_colour(layout, gy), coverage(lambda u, v: bubble_distance(layout, u, v), x, y, unit))
        return over(pixel, SUITE_BLUE, coverage(lambda u, v: dots_distance(layout, u, v), x, y, unit))

    return render_on_tile(size, bubble_distance, bubble_and_dots)


def render_glyph(size, glyph):
    """Like render, with one white glyph of the 64 px grid on the size's tile."""
    def distance(layout, u, v):
        scale = 64 / layout["grid"]
        return glyph(u * scale, v * scale) / scale

    def white_glyph(layout, pixel, x, y, gy, unit):
        return over(pixel, PAPER, coverage(lambda u, v: distance(layout, u, v), x, y, unit))

    return render_on_tile(size, distance, white_glyph)


def _paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def _filtered(kind, row, prior, bpp=4):
    out = bytearray(len(row))
    for i, value in enumerate(row):
        a = row[i - bpp] if i >= bpp else 0
        b = prior[i]
        c = prior[i - bpp] if i >= bpp else 0
        if kind == 0:
            predicted = 0
        elif kind == 1:
            predicted = a
        elif kind == 2:
            predicted = b
        elif kind == 3:
            predicted = (a + b) >> 1
        else:
            predicted = _paeth(a, b, c)
        out[i] = (value - predicted) & 0xFF
    return out


def _filtered_rows(rows, kind):
    """The rows as PNG filters them: each with one filter kind, or with None
    each with the filter whose output has the smallest sum (the usual
    heuristic)."""
    raw = bytearray()
    prior = bytes(len(rows[0]))
    for row in rows:
        best = None
        for candidate_kind in range(5) if kind is None else (kind,):
            candidate = _filtered(candidate_kind, row, prior)
            score = sum(v if v < 128 else 256 - v for v in candidate)
            if best is None or score < best[0]:
                best = (score, candidate_kind, candidate)
        raw.append(best[1])
        raw += best[2]
        prior = row
    return bytes(raw)


def _deflated(raw, strategy):
    deflate = zlib.compressobj(9, zlib.DEFLATED, 15, 9, strategy)
    return deflate.compress(raw) + deflate.flush()


def png_bytes(rows):
    """An 8-bit RGBA PNG with nothing but IHDR, IDAT and IEND."""
    height = len(rows)
    width = len(rows[0]) // 4
    # Flat tiles and glyphs often deflate smaller with one filter throughout
    # than with the heuristic's: the smallest of a few tries, losslessly
    # each, the first of equals.
    data = min((_deflated(_filtered_rows(rows, kind), strategy)
                for kind in (None, 0, 2, 4) for strategy in (zlib.Z_DEFAULT_STRATEGY, zlib.Z_FILTERED)), key=len)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", data) + chunk(b"IEND", b""))


def ico_bytes(images):
    """images: (size, png) pairs, written in the given order."""
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries = b""
    for size, png in images:
        side = 0 if size == 256 else size  # a byte: 0 stands for 256
        entries += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(png), offset)
        offset += len(png)
    return header + entries + b"".join(png for _, png in images)


def main(argv):
    if len(argv) not in (3, 5) or argv[1] not in ICONS or (len(argv) == 5 and argv[3] != "--expect"):
        print("usage: draw_icon.py <%s> <output.ico> [--expect <file.ico>]" % "|".join(ICONS), file=sys.stderr)
        return 2
    icon = argv[1]
    data = ico_bytes([(size, png_bytes(render(size, icon))) for size in SIZES])
    with open(argv[2], "wb") as out:
        out.write(data)
    if len(argv) == 5:
        with open(argv[4], "rb") as f:
            expected = f.read()
        if expected != data:
            at = next((i for i, (a, b) in enumerate(zip(data, expected)) if a != b), min(len(data), len(expected)))
            print("FAIL: %s (%d bytes) differs from the drawing %s (%d bytes) from byte %d on; "
                  "redraw it with: /usr/bin/python3 %s %s %s"
                  % (argv[4], len(expected), argv[2], len(data), at, sys.argv[0], icon, argv[4]))
            return 1
        print("%s is the drawing of %s, byte for byte" % (argv[4], icon))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
