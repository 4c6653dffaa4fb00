#!/usr/bin/env python3
"""Draws the document-type icons that data/default-classes.reg names and writes them as
kestrova-types.ico and kestrova-types.dll next to this script (or into --out DIR).

Python 3 standard library only. The output is the same bytes on every run, so the two
generated files are committed and a rerun shows no diff unless the drawing changed.

kestrova-types.dll groups, in resource-directory order (the ",N" position) and by id
(the ",-ID" form):
    position 0  id 1    text
    position 1  id 2    settings (.ini)
    position 2  id 3    web page (.htm, .xml)
    position 3  id 4    PDF
    position 4  id 5    audio
    position 5  id 6    batch / script
    position 6  id 101  registry
    position 7  id 105  archive
    position 8  id 110  image
kestrova-types.ico holds the image icon: a 16x16 DIB entry and a 32x32 PNG entry.
"""

import argparse
import math
import os
import struct
import zlib

# --------------------------------------------------------------------------------------
# A small anti-aliased rasteriser: shapes are inside-tests sampled on a 4x4 grid per pixel.

SAMPLES = 4
OFFSETS = [(i + 0.5) / SAMPLES for i in range(SAMPLES)]


def rgba(hex_colour, alpha=1.0):
    v = int(hex_colour.lstrip("#"), 16)
    return ((v >> 16 & 255) / 255.0, (v >> 8 & 255) / 255.0, (v & 255) / 255.0, alpha)


class Canvas:
    def __init__(self, size):
        self.size = size
        self.px = [[(0.0, 0.0, 0.0, 0.0)] * size for _ in range(size)]

    def blend(self, x, y, colour, coverage):
        r, g, b, a = colour
        sa = a * coverage
        if sa <= 0.0:
            return
        dr, dg, db, da = self.px[y][x]
        oa = sa + da * (1.0 - sa)
        k = da * (1.0 - sa)
        self.px[y][x] = ((r * sa + dr * k) / oa, (g * sa + dg * k) / oa,
                         (b * sa + db * k) / oa, oa)

    def fill(self, inside, colour, box=None):
        """Paints `colour` (a tuple, or a function of x, y giving one) where inside(x, y)."""
        x0, y0, x1, y1 = box or (0, 0, self.size, self.size)
        x0, y0 = max(0, int(math.floor(x0))), max(0, int(math.floor(y0)))
        x1, y1 = min(self.size, int(math.ceil(x1))), min(self.size, int(math.ceil(y1)))
        total = SAMPLES * SAMPLES
        for y in range(y0, y1):
            for x in range(x0, x1):
                hits = sum(1 for oy in OFFSETS for ox in OFFSETS if inside(x + ox, y + oy))
                if hits:
                    c = colour(x + 0.5, y + 0.5) if callable(colour) else colour
                    self.blend(x, y, c, hits / total)

    def rgba8(self):
        """Rows top-down of (r, g, b, a) bytes."""
        out = []
        for row in self.px:
            line = []
            for r, g, b, a in row:
                line.append(tuple(int(round(v * 255.0)) for v in (r, g, b, a)))
            out.append(line)
        return out


# Shapes, each an inside-test plus a bounding box.

def rect(x0, y0, x1, y1):
    return (lambda x, y: x0 <= x < x1 and y0 <= y < y1), (x0, y0, x1, y1)


def ellipse(cx, cy, rx, ry):
    return ((lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0),
            (cx - rx, cy - ry, cx + rx, cy + ry))


def ring(cx, cy, r_out, r_in):
    return ((lambda x, y: r_in ** 2 <= (x - cx) ** 2 + (y - cy) ** 2 <= r_out ** 2),
            (cx - r_out, cy - r_out, cx + r_out, cy + r_out))


def polygon(points):
    """Even-odd fill of a closed polygon."""
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]

    def inside(x, y):
        hit = False
        n = len(points)
        for i in range(n):
            ax, ay = points[i]
            bx, by = points[(i + 1) % n]
            if (ay > y) != (by > y) and x < ax + (y - ay) * (bx - ax) / (by - ay):
                hit = not hit
        return hit

    return inside, (min(xs), min(ys), max(xs), max(ys))


def segment(ax, ay, bx, by, width):
    """A straight stroke with round ends."""
    half = width / 2.0
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy

    def inside(x, y):
        t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
        px, py = ax + t * dx - x, ay + t * dy - y
        return px * px + py * py <= half * half

    return inside, (min(ax, bx) - half, min(ay, by) - half, max(ax, bx) + half, max(ay, by) + half)


def inset(points, d):
    """The convex polygon `points` (clockwise on screen) moved inwards by d."""
    n = len(points)
    lines = []
    for i in range(n):
        (ax, ay), (bx, by) = points[i], points[(i + 1) % n]
        length = math.hypot(bx - ax, by - ay)
        nx, ny = -(by - ay) / length, (bx - ax) / length  # inward normal for clockwise order
        lines.append(((ax + nx * d, ay + ny * d), (bx - ax, by - ay)))
    out = []
    for i in range(n):
        (p, r), (q, s) = lines[i - 1], lines[i]
        cross = r[0] * s[1] - r[1] * s[0]
        t = ((q[0] - p[0]) * s[1] - (q[1] - p[1]) * s[0]) / cross
        out.append((p[0] + t * r[0], p[1] + t * r[1]))
    return out


def paint(canvas, shape, colour):
    inside, box = shape
    canvas.fill(inside, colour, box)


def vertical_gradient(top, bottom, y0, y1):
    def colour(_x, y):
        t = max(0.0, min(1.0, (y - y0) / (y1 - y0)))
        return tuple(a + (b - a) * t for a, b in zip(top, bottom))
    return colour


def bitmap(canvas, rows, x0, y0, colour, scale=1):
    """Pixel art: '#' cells of `rows` painted at (x0, y0), each scale x scale pixels."""
    for j, row in enumerate(rows):
        for i, ch in enumerate(row):
            if ch == "#":
                paint(canvas, rect(x0 + i * scale, y0 + j * scale,
                                   x0 + (i + 1) * scale, y0 + (j + 1) * scale), colour)


# --------------------------------------------------------------------------------------
# The page every type icon starts from, and one glyph per type.

BORDER = rgba("#6f7a88")
PAGE_TOP = rgba("#ffffff")
PAGE_BOTTOM = rgba("#e6ebf1")
FOLD = rgba("#d3dae3")
TEXT_LINE = rgba("#9aa7b8")


class Page:
    """Page geometry for one icon size, on whole pixels so edges stay crisp."""

    def __init__(self, s):
        if s == 32:
            self.left, self.top, self.right, self.bottom, self.fold = 5, 1, 27, 31, 8
        else:
            self.left, self.top, self.right, self.bottom, self.fold = 2, 0, 14, 16, 4
        self.s = s

    def outline(self):
        fx = self.right - self.fold
        return [(self.left, self.top), (fx, self.top), (self.right, self.top + self.fold),
                (self.right, self.bottom), (self.left, self.bottom)]

    def lines(self, canvas, ys):
        """Text lines at the rows `ys`, stopping short of the fold on the top rows."""
        for i, y in enumerate(ys):
            x0 = self.left + (3 if self.s == 32 else 2)
            x1 = self.right - (3 if self.s == 32 else 2)
            if y < self.top + self.fold + 1:
                x1 = min(x1, self.right - self.fold - 1)
            # A ragged right edge reads as prose rather than as a table.
            if i % 3 == 2:
                x1 -= 4 if self.s == 32 else 2
            paint(canvas, rect(x0, y, x1, y + 1), TEXT_LINE)


def draw_page(c, s):
    p = Page(s)
    outer = p.outline()
    if s == 32:
        # A soft shadow lifts the page off light backgrounds.
        paint(c, polygon([(x + 1, y + 1) for x, y in outer]), rgba("#000000", 0.18))
    paint(c, polygon(outer), BORDER)
    paint(c, polygon(inset(outer, 1)), vertical_gradient(PAGE_TOP, PAGE_BOTTOM, p.top, p.bottom))
    fx, fy = p.right - p.fold, p.top + p.fold
    fold = [(fx, p.top), (p.right, fy), (fx, fy)]
    paint(c, polygon(fold), BORDER)
    paint(c, polygon(inset(fold, 1)), FOLD)
    return p


def icon_text(c, s):
    p = draw_page(c, s)
    if s == 32:
        p.lines(c, [6, 9, 12, 15, 18, 21, 24, 27])
    else:
        p.lines(c, [3, 5, 7, 9, 11, 13])


def gear(c, cx, cy, r_body, r_tip, r_hole, teeth, colour, light):
    tooth = math.pi / teeth * 0.95

    def inside(x, y):
        dx, dy = x - cx, y - cy
        d2 = dx * dx + dy * dy
        if d2 < r_hole * r_hole or d2 > r_tip * r_tip:
            return False
        if d2 <= r_body * r_body:
            return True
        a = math.atan2(dy, dx) % (2 * math.pi / teeth)
        return a < tooth
    box = (cx - r_tip, cy - r_tip, cx + r_tip, cy + r_tip)
    c.fill(inside, vertical_gradient(light, colour, cy - r_tip, cy + r_tip), box)


def icon_settings(c, s):
    p = draw_page(c, s)
    if s == 32:
        p.lines(c, [6, 9, 12])
        gear(c, 16.5, 21.5, 6.2, 8.3, 2.6, 8, rgba("#3f4f63"), rgba("#8596ab"))
    else:
        p.lines(c, [2, 4])
        # Drawn by hand: at this size a sampled gear blurs into a grey disc.
        bitmap(c, ["...###...",
                   ".#.###.#.",
                   ".#######.",
                   "###...###",
                   "###...###",
                   "###...###",
                   ".#######.",
                   ".#.###.#.",
                   "...###..."], 4, 6, vertical_gradient(rgba("#7d8ea4"), rgba("#3f4f63"), 6, 15))


def icon_web(c, s):
    p = draw_page(c, s)
    if s == 32:
        p.lines(c, [6, 9])
        cx, cy, r, w = 16.0, 20.5, 8.5, 1.0
    else:
        p.lines(c, [3])
        # Centred on a pixel so the grid lines fall on whole pixels.
        cx, cy, r, w = 8.5, 10.5, 4.5, 1.0
    paint(c, ellipse(cx, cy, r, r),
          vertical_gradient(rgba("#5fb2f2"), rgba("#1c5fae"), cy - r, cy + r))
    grid = rgba("#e8f4ff", 0.85)
    # Meridians and parallels: the outline of a globe that reads at 16 pixels too.
    paint(c, segment(cx - r + 0.6, cy, cx + r - 0.6, cy, w), grid)
    inner_rx = r * 0.42
    c.fill(lambda x, y: abs(((x - cx) / inner_rx) ** 2 + ((y - cy) / (r - 0.3)) ** 2 - 1.0)
           < w * 0.9 / inner_rx, grid, (cx - r, cy - r, cx + r, cy + r))
    paint(c, segment(cx, cy - r + 0.5, cx, cy + r - 0.5, w), grid)
    if s == 32:
        for dy in (-4.6, 4.6):
            half = math.sqrt(r * r - dy * dy) - 0.8
            paint(c, segment(cx - half, cy + dy, cx + half, cy + dy, w), grid)
    paint(c, ring(cx, cy, r, r - (1.0 if s == 32 else 0.7)), rgba("#174b8a", 0.9))


PDF_GLYPHS = {
    "P": ["###", "#.#", "###", "#..", "#.."],
    "D": ["##.", "#.#", "#.#", "#.#", "##."],
    "F": ["###", "#..", "##.", "#..", "#.."],
}


def icon_pdf(c, s):
    p = draw_page(c, s)
    red = vertical_gradient(rgba("#e5483f"), rgba("#b3221b"), 0, s)
    if s == 32:
        p.lines(c, [6, 9, 12])
        paint(c, rect(2, 16, 28, 29), red)
        paint(c, rect(2, 28, 28, 29), rgba("#7d1510"))
        x = 4
        for letter in "PDF":
            bitmap(c, PDF_GLYPHS[letter], x, 17, rgba("#ffffff"), scale=2)
            x += 8
    else:
        p.lines(c, [3, 5])
        paint(c, rect(0, 8, 15, 15), red)
        x = 2
        for letter in "PDF":
            bitmap(c, PDF_GLYPHS[letter], x, 9, rgba("#ffffff"))
            x += 4


def icon_audio(c, s):
    draw_page(c, s)
    purple = vertical_gradient(rgba("#a25ee0"), rgba("#5b2a92"), 0, s)
    if s == 32:
        heads = [(11.0, 24.5), (21.0, 22.5)]
        rx, ry, stem_w, tops, beam = 3.2, 2.4, 1.6, (11.0, 9.0), 3.2
    else:
        heads = [(5.3, 12.6), (10.6, 11.4)]
        rx, ry, stem_w, tops, beam = 1.9, 1.45, 1.0, (4.6, 3.4), 2.0
    stems = []
    for (hx, hy), top in zip(heads, tops):
        # A note head leans back, so it is an ellipse turned by about 20 degrees.
        ca, sa = math.cos(-0.35), math.sin(-0.35)
        c.fill(lambda x, y, hx=hx, hy=hy: (((x - hx) * ca + (y - hy) * sa) / rx) ** 2
               + ((-(x - hx) * sa + (y - hy) * ca) / ry) ** 2 <= 1.0,
               purple, (hx - rx - 1, hy - rx - 1, hx + rx + 1, hy + rx + 1))
        sx = hx + rx - stem_w / 2 - 0.15
        stems.append((sx, top))
        paint(c, rect(sx - stem_w / 2, top, sx + stem_w / 2, hy), purple)
    (ax, at), (bx, bt) = stems
    half = stem_w / 2
    paint(c, polygon([(ax - half, at), (bx + half, bt), (bx + half, bt + beam),
                      (ax - half, at + beam)]), purple)


def icon_script(c, s):
    draw_page(c, s)
    frame = rgba("#1f242b")
    screen = vertical_gradient(rgba("#36404c"), rgba("#1b2027"), 0, s)
    green = rgba("#6ee07a")
    if s == 32:
        paint(c, rect(7, 11, 26, 28), frame)
        paint(c, rect(8, 14, 25, 27), screen)
        for i, dot in enumerate(["#ff6b5e", "#ffc13b", "#3ecf5a"]):
            paint(c, ellipse(9.5 + i * 2.6, 12.5, 0.9, 0.9), rgba(dot))
        paint(c, segment(10.5, 16.5, 13.5, 18.5, 1.4), green)
        paint(c, segment(13.5, 18.5, 10.5, 20.5, 1.4), green)
        paint(c, rect(15, 20, 21, 21.5), green)
        paint(c, rect(10, 23.5, 22, 24.5), rgba("#6ee07a", 0.45))
    else:
        paint(c, rect(3, 5, 14, 14), frame)
        paint(c, rect(4, 7, 13, 13), screen)
        bitmap(c, ["#..", ".#.", "#.."], 5, 8, green)
        paint(c, rect(8, 10, 11, 11), green)


def icon_registry(c, s):
    draw_page(c, s)
    stem = rgba("#4d5968")
    keys = [("#2f7fd6", "#1a56a0"), ("#33b36b", "#1d7d45"), ("#f0a030", "#b86f0e")]
    if s == 32:
        nodes = [(8, 6, 14), (14, 14, 19), (14, 22, 19)]
        stem_x, first, joints = 10.5, 11.5, [16.5, 24.5]
        paint(c, rect(stem_x - 0.5, first, stem_x + 0.5, joints[-1] + 0.5), stem)
        for jy in joints:
            paint(c, rect(stem_x - 0.5, jy - 0.5, 14, jy + 0.5), stem)
        for i, ((x, y, x1), (light, dark)) in enumerate(zip(nodes, keys)):
            size = 6 if i == 0 else 5
            paint(c, rect(x, y, x + size, y + size), rgba(dark))
            paint(c, rect(x + 1, y + 1, x + size - 1, y + size - 1), rgba(light))
            if i:
                # Each key carries a value line beside it.
                paint(c, rect(x1 + 2, y + 2, 26 - i, y + 3), TEXT_LINE)
    else:
        paint(c, rect(4, 4, 5, 13), stem)
        for jy in (8, 12):
            paint(c, rect(5, jy, 7, jy + 1), stem)
        for (x, y, size), (light, dark) in zip([(3, 1, 4), (7, 6, 4), (7, 10, 4)], keys):
            paint(c, rect(x, y, x + size, y + size), rgba(dark))
            paint(c, rect(x + 1, y + 1, x + size - 1, y + size - 1), rgba(light))


def icon_archive(c, s):
    p = draw_page(c, s)
    tape = vertical_gradient(rgba("#e9b949"), rgba("#c98a1c"), 0, s)
    teeth = rgba("#55606e")
    if s == 32:
        x0, x1 = 12, 20
        paint(c, rect(x0, p.top + 1, x1, p.bottom - 1), tape)
        # Interlocking teeth, alternately from the left and the right.
        for k, y in enumerate(range(p.top + 2, 17, 2)):
            paint(c, rect(13, y, 17, y + 1) if k % 2 == 0 else rect(15, y, 19, y + 1), teeth)
        # The pull tab: a metal slider with a hole, where the teeth open.
        paint(c, rect(13, 17, 19, 25), rgba("#5c6673"))
        paint(c, rect(14, 18, 18, 24), vertical_gradient(rgba("#dfe5ec"), rgba("#9aa5b2"), 18, 24))
        paint(c, rect(15, 21, 17, 23), rgba("#5c6673"))
    else:
        x0, x1 = 6, 10
        paint(c, rect(x0, p.top + 1, x1, p.bottom - 1), tape)
        for y in range(1, 8):
            left = y % 2 == 0
            paint(c, rect(7 if left else 8, y, 8 if left else 9, y + 1), teeth)
        paint(c, rect(6, 8, 10, 13), rgba("#5c6673"))
        paint(c, rect(7, 9, 9, 12), rgba("#c7d0da"))
        paint(c, rect(7, 10, 9, 11), rgba("#5c6673"))


def icon_image(c, s):
    draw_page(c, s)
    sky = vertical_gradient(rgba("#8fd0ff"), rgba("#d9f0ff"), 0, s)
    if s == 32:
        x0, y0, x1, y1 = 8, 11, 24, 27
        paint(c, rect(x0 - 1, y0 - 1, x1 + 1, y1 + 1), rgba("#55606e"))
        paint(c, rect(x0, y0, x1, y1), sky)
        paint(c, ellipse(19.5, 15.5, 2.3, 2.3), rgba("#ffc533"))
        paint(c, polygon([(x0, y1), (x0, 21), (13, 16.5), (18.5, 22), (21, 19.5), (x1, 22.5),
                          (x1, y1)]), vertical_gradient(rgba("#4cbf4a"), rgba("#23823a"), 16, y1))
    else:
        x0, y0, x1, y1 = 4, 5, 12, 13
        paint(c, rect(x0 - 1, y0 - 1, x1 + 1, y1 + 1), rgba("#55606e"))
        paint(c, rect(x0, y0, x1, y1), sky)
        paint(c, rect(9, 6, 11, 8), rgba("#ffc533"))
        paint(c, polygon([(x0, y1), (x0, 10.5), (6.5, 8), (9.5, 11), (x1, 9.5), (x1, y1)]),
              rgba("#2f9e42"))


# Group id -> drawing, in the order of the library's directory.
GROUPS = [
    (1, icon_text),
    (2, icon_settings),
    (3, icon_web),
    (4, icon_pdf),
    (5, icon_audio),
    (6, icon_script),
    (101, icon_registry),
    (105, icon_archive),
    (110, icon_image),
]


def render(draw, size):
    c = Canvas(size)
    draw(c, size)
    return c.rgba8()


# --------------------------------------------------------------------------------------
# Image encodings.

def dib32(pixels):
    """A 32-bpp icon DIB: BITMAPINFOHEADER (height doubled for the mask), BGRA rows
    bottom-up, then the AND mask, set where a pixel is fully transparent for readers that
    ignore alpha."""
    size = len(pixels)
    and_stride = ((size + 31) // 32) * 4
    out = bytearray(struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                                size * size * 4 + size * and_stride, 0, 0, 0, 0))
    for row in reversed(pixels):
        for r, g, b, a in row:
            out += bytes((b, g, r, a))
    for row in reversed(pixels):
        mask = bytearray(and_stride)
        for x, (_r, _g, _b, a) in enumerate(row):
            if a == 0:
                mask[x // 8] |= 0x80 >> (x % 8)
        out += mask
    return bytes(out)


def png(pixels):
    """An 8-bit RGBA PNG. Fixed zlib settings keep the bytes stable from run to run."""
    size = len(pixels)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    raw = bytearray()
    for row in pixels:
        raw.append(0)  # filter type None
        for px in row:
            raw += bytes(px)
    compressor = zlib.compressobj(9, zlib.DEFLATED, 15, 8, zlib.Z_DEFAULT_STRATEGY)
    data = compressor.compress(bytes(raw)) + compressor.flush()
    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", data)
            + chunk(b"IEND", b""))


def ico_file(images):
    """An .ico file from (side, blob) pairs."""
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for side, blob in images:
        out += struct.pack("<BBBBHHII", side % 256, side % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    for _side, blob in images:
        out += blob
    return bytes(out)


# --------------------------------------------------------------------------------------
# A resource-only PE32 library.

RT_ICON = 3
RT_GROUP_ICON = 14
LANG_NEUTRAL = 0
SECTION_RVA = 0x1000
SECTION_ALIGN = 0x1000
FILE_ALIGN = 0x200
IMAGE_BASE = 0x10000000

# The usual MS-DOS stub: prints a line and exits when run under DOS.
DOS_STUB_CODE = bytes.fromhex("0e1fba0e00b409cd21b8014ccd21")
DOS_STUB_TEXT = b"This program cannot be run in DOS mode.\r\r\n$"


def align(value, to):
    return (value + to - 1) // to * to


def resource_section(groups):
    """The .rsrc section for `groups` [(group id, [(side, dib)])]: a type directory
    (RT_ICON, RT_GROUP_ICON), a name directory per type with ids ascending, one language
    per name, the data entries, then the data."""
    icons = []        # (icon id, blob)
    group_dirs = []   # (group id, GRPICONDIR bytes)
    next_icon = 1
    for group_id, images in sorted(groups):
        grp = bytearray(struct.pack("<HHH", 0, 1, len(images)))
        for side, blob in images:
            grp += struct.pack("<BBBBHHIH", side % 256, side % 256, 0, 0, 1, 32, len(blob),
                               next_icon)
            icons.append((next_icon, blob))
            next_icon += 1
        group_dirs.append((group_id, bytes(grp)))
    types = [(RT_ICON, icons), (RT_GROUP_ICON, group_dirs)]

    def directory(count):
        # Characteristics, TimeDateStamp, Major/MinorVersion, named entries, id entries.
        return struct.pack("<IIHHHH", 0, 0, 0, 0, 0, count)

    # Lay out the directories first to know where the data entries start.
    root_size = 16 + 8 * len(types)
    type_dir_at, at = [], root_size
    for _type, names in types:
        type_dir_at.append(at)
        at += 16 + 8 * len(names)
    lang_dir_at = []
    for _type, names in types:
        lang_dir_at.append([])
        for _ in names:
            lang_dir_at[-1].append(at)
            at += 16 + 8
    data_entry_at = []
    for _type, names in types:
        data_entry_at.append([])
        for _ in names:
            data_entry_at[-1].append(at)
            at += 16
    data_at = []
    for _type, names in types:
        data_at.append([])
        for _name, blob in names:
            at = align(at, 8)
            data_at[-1].append(at)
            at += len(blob)
    total = at

    sec = bytearray(total)
    sec[0:16] = directory(len(types))
    for t, (type_id, names) in enumerate(types):
        struct.pack_into("<II", sec, 16 + 8 * t, type_id, 0x80000000 | type_dir_at[t])
        sec[type_dir_at[t]:type_dir_at[t] + 16] = directory(len(names))
        for n, (name_id, blob) in enumerate(names):
            struct.pack_into("<II", sec, type_dir_at[t] + 16 + 8 * n, name_id,
                             0x80000000 | lang_dir_at[t][n])
            sec[lang_dir_at[t][n]:lang_dir_at[t][n] + 16] = directory(1)
            struct.pack_into("<II", sec, lang_dir_at[t][n] + 16, LANG_NEUTRAL,
                             data_entry_at[t][n])
            struct.pack_into("<IIII", sec, data_entry_at[t][n],
                             SECTION_RVA + data_at[t][n], len(blob), 0, 0)
            sec[data_at[t][n]:data_at[t][n] + len(blob)] = blob
    return bytes(sec)


def pe_checksum(image, checksum_offset):
    """The PE image checksum: 16-bit one's-complement-style sum, skipping the field itself,
    plus the file length."""
    total = 0
    data = image + (b"\0" if len(image) % 2 else b"")
    for i in range(0, len(data), 2):
        if checksum_offset <= i < checksum_offset + 4:
            continue
        total += data[i] | data[i + 1] << 8
        total = (total & 0xFFFF) + (total >> 16)
    total = (total & 0xFFFF) + (total >> 16)
    return (total + len(image)) & 0xFFFFFFFF


def pe_library(groups):
    rsrc = resource_section(groups)
    raw_size = align(len(rsrc), FILE_ALIGN)

    dos = bytearray(0x80)
    struct.pack_into("<2sHHHHHHHHHHHHH", dos, 0, b"MZ", 0x90, 3, 0, 4, 0, 0xFFFF, 0, 0xB8,
                     0, 0, 0, 0x40, 0)
    pe_offset = len(dos)
    struct.pack_into("<I", dos, 0x3C, pe_offset)
    dos[0x40:0x40 + len(DOS_STUB_CODE)] = DOS_STUB_CODE
    dos[0x4E:0x4E + len(DOS_STUB_TEXT)] = DOS_STUB_TEXT

    optional_size = 224
    coff = struct.pack("<4sHHIIIHH", b"PE\0\0",
                       0x014C,   # i386
                       1,        # one section
                       0,        # no timestamp, so reruns give the same bytes
                       0, 0,
                       optional_size,
                       0x0002 | 0x0100 | 0x2000)  # executable image, 32-bit machine, DLL
    headers_size = align(pe_offset + len(coff) + optional_size + 40, FILE_ALIGN)
    image_size = align(SECTION_RVA + len(rsrc), SECTION_ALIGN)
    optional = bytearray(struct.pack(
        "<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII",
        0x10B, 14, 0,            # PE32, linker version
        0, raw_size, 0,          # code, initialised data, uninitialised data
        0,                       # no entry point: a resource-only library
        SECTION_RVA, SECTION_RVA,  # base of code, base of data
        IMAGE_BASE, SECTION_ALIGN, FILE_ALIGN,
        6, 0, 0, 0, 6, 0,        # OS, image and subsystem versions
        0, image_size, headers_size,
        0,                       # checksum, filled in below
        2,                       # Windows GUI subsystem
        0x0100 | 0x0400,         # NX compatible, no SEH: there is no code at all
        0x100000, 0x1000, 0x100000, 0x1000,
        0, 16))
    directories = bytearray(16 * 8)
    struct.pack_into("<II", directories, 2 * 8, SECTION_RVA, len(rsrc))
    optional += directories
    assert len(optional) == optional_size
    section = struct.pack("<8sIIIIIIHHI", b".rsrc", len(rsrc), SECTION_RVA, raw_size,
                          headers_size, 0, 0, 0, 0,
                          0x00000040 | 0x40000000)  # initialised data, readable

    image = bytearray(dos + coff + optional + section)
    image += bytes(headers_size - len(image))
    image += rsrc + bytes(raw_size - len(rsrc))
    checksum_offset = pe_offset + len(coff) + 64
    struct.pack_into("<I", image, checksum_offset, pe_checksum(bytes(image), checksum_offset))
    return bytes(image)


# --------------------------------------------------------------------------------------

def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=here, help="folder to write into (default: %(default)s)")
    args = parser.parse_args()

    groups = []
    for group_id, draw in GROUPS:
        groups.append((group_id, [(16, dib32(render(draw, 16))), (32, dib32(render(draw, 32)))]))
    outputs = {
        "kestrova-types.dll": pe_library(groups),
        # Both entry kinds: a DIB with its mask for the small size, a PNG for the large.
        "kestrova-types.ico": ico_file([(16, dib32(render(icon_image, 16))),
                                        (32, png(render(icon_image, 32)))]),
    }
    os.makedirs(args.out, exist_ok=True)
    for name, data in outputs.items():
        with open(os.path.join(args.out, name), "wb") as f:
            f.write(data)
        print(f"{name}: {len(data)} bytes")


if __name__ == "__main__":
    main()
