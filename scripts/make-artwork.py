#!/usr/bin/env python3
"""Draw the window artwork and write it as XPM files, and the program's
icon for desktops as PNG files in several sizes.

Every picture is drawn from code here, so the output is reproducible:
run the script again and the files come out byte for byte the same.

    python3 scripts/make-artwork.py [output-dir]

The output directory defaults to resources/art next to this script's
parent directory.
"""

import math
import os
import struct
import sys
import zlib

# --------------------------------------------------------------------------
# Palette
# --------------------------------------------------------------------------

# The sixteen classic colours; push-button and lamp pictures use nothing else
# so they look right on a 16-colour display too.
CLASSIC = {
    "k": (0x00, 0x00, 0x00),  # black
    "m": (0x80, 0x00, 0x00),  # maroon
    "g": (0x00, 0x80, 0x00),  # green
    ".": (0x80, 0x80, 0x00),  # olive: reserved for the background
    "n": (0x00, 0x00, 0x80),  # navy
    "p": (0x80, 0x00, 0x80),  # purple
    "t": (0x00, 0x80, 0x80),  # teal
    "d": (0x80, 0x80, 0x80),  # grey
    "s": (0xC0, 0xC0, 0xC0),  # silver
    "r": (0xFF, 0x00, 0x00),  # red
    "l": (0x00, 0xFF, 0x00),  # lime
    "y": (0xFF, 0xFF, 0x00),  # yellow
    "b": (0x00, 0x00, 0xFF),  # blue
    "f": (0xFF, 0x00, 0xFF),  # fuchsia
    "a": (0x00, 0xFF, 0xFF),  # aqua
    "w": (0xFF, 0xFF, 0xFF),  # white
}

BG = "."  # olive; the loader keys transparency off pixel (0, 15)

# Colours light enough to drop out of the embossed (disabled) rendering,
# the way a monochrome mask of the picture would lose them.
LIGHT = set("wsyal")


# --------------------------------------------------------------------------
# A tiny raster with the drawing primitives the glyphs need
# --------------------------------------------------------------------------

class Canvas:
    def __init__(self, width, height, fill=BG):
        self.w = width
        self.h = height
        self.px = [[fill] * width for _ in range(height)]

    def get(self, x, y):
        return self.px[y][x]

    def set(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def hline(self, x0, x1, y, c):
        for x in range(min(x0, x1), max(x0, x1) + 1):
            self.set(x, y, c)

    def vline(self, x, y0, y1, c):
        for y in range(min(y0, y1), max(y0, y1) + 1):
            self.set(x, y, c)

    def rect(self, x0, y0, x1, y1, c):
        """Outline of the rectangle with corners (x0, y0) and (x1, y1)."""
        self.hline(x0, x1, y0, c)
        self.hline(x0, x1, y1, c)
        self.vline(x0, y0, y1, c)
        self.vline(x1, y0, y1, c)

    def fill_rect(self, x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            self.hline(x0, x1, y, c)

    def line(self, x0, y0, x1, y1, c):
        dx, dy = abs(x1 - x0), -abs(y1 - y0)
        sx = 1 if x0 < x1 else -1
        sy = 1 if y0 < y1 else -1
        err = dx + dy
        while True:
            self.set(x0, y0, c)
            if x0 == x1 and y0 == y1:
                return
            e2 = 2 * err
            if e2 >= dy:
                err += dy
                x0 += sx
            if e2 <= dx:
                err += dx
                y0 += sy

    def fill_where(self, inside, c):
        """Paint every pixel whose centre satisfies inside(x, y)."""
        for y in range(self.h):
            for x in range(self.w):
                if inside(x + 0.5, y + 0.5):
                    self.px[y][x] = c

    def fill_polygon(self, pts, c):
        self.fill_where(lambda x, y: point_in_polygon(x, y, pts), c)

    def outline(self, inner, c):
        """Paint c on pixels outside `inner` that touch it (4-neighbours).

        `inner` is a set of (x, y) pixels; used to give filled shapes a crisp
        one-pixel border without hand-placing every border pixel.
        """
        for (x, y) in inner:
            for nx, ny in ((x - 1, y), (x + 1, y), (x, y - 1), (x, y + 1)):
                if (nx, ny) not in inner:
                    self.set(nx, ny, c)

    def blit(self, other, ox, oy, transparent=None):
        for y in range(other.h):
            for x in range(other.w):
                c = other.px[y][x]
                if c != transparent:
                    self.set(ox + x, oy + y, c)

    def pixels_where(self, inside):
        return {(x, y) for y in range(self.h) for x in range(self.w)
                if inside(x + 0.5, y + 0.5)}


def point_in_polygon(x, y, pts):
    inside = False
    n = len(pts)
    for i in range(n):
        x0, y0 = pts[i]
        x1, y1 = pts[(i + 1) % n]
        if (y0 > y) != (y1 > y):
            if x < x0 + (y - y0) * (x1 - x0) / (y1 - y0):
                inside = not inside
    return inside


def from_rows(rows):
    """Canvas from a list of equal-length strings in palette keys."""
    cv = Canvas(len(rows[0]), len(rows))
    for y, row in enumerate(rows):
        if len(row) != cv.w:
            raise ValueError("ragged picture row %d: %r" % (y, row))
        for x, ch in enumerate(row):
            if ch not in CLASSIC:
                raise ValueError("unknown colour key %r" % ch)
            cv.px[y][x] = ch
    return cv


# --------------------------------------------------------------------------
# Disabled rendering
# --------------------------------------------------------------------------

def embossed(glyph, shape_keys=None):
    """Grey shape over a white copy shifted one pixel down-right.

    The shape is every drawn pixel that is not light (or, when given, only
    the pixels in shape_keys), which is how the classic disabled look comes
    about: light fills drop out, outlines and dark fills remain.
    """
    out = Canvas(glyph.w, glyph.h)
    shape = []
    for y in range(glyph.h):
        for x in range(glyph.w):
            c = glyph.get(x, y)
            if c == BG:
                continue
            if shape_keys is not None:
                if c in shape_keys:
                    shape.append((x, y))
            elif c not in LIGHT:
                shape.append((x, y))
    for x, y in shape:
        out.set(x + 1, y + 1, "w")
    for x, y in shape:
        out.set(x, y, "d")
    return out


def button_strip(glyph, shape_keys=None):
    """32x16 picture: the glyph, then its disabled twin."""
    if (glyph.w, glyph.h) != (16, 16):
        raise ValueError("button glyphs are 16x16")
    # the disabled twin's white shadow needs the last row and column
    if any(glyph.get(15, i) != BG or glyph.get(i, 15) != BG
           for i in range(16)):
        raise ValueError("button glyph reaches its last row or column")
    strip = Canvas(32, 16)
    strip.blit(glyph, 0, 0)
    strip.blit(embossed(glyph, shape_keys), 16, 0)
    # The loader takes the transparent colour from the bottom-left pixel.
    assert strip.get(0, 15) == BG and strip.get(16, 15) == BG
    return strip


# --------------------------------------------------------------------------
# Push-button glyphs (16x16 each)
# --------------------------------------------------------------------------
# Drawings stay inside columns 0..14 and rows 0..14 so the white shadow of
# the disabled twin still fits in its half.

def page(cv, x0, y0, x1, y1):
    """A sheet with a dog-eared top-right corner and a few text lines."""
    cv.fill_rect(x0, y0, x1, y1, "w")
    cv.rect(x0, y0, x1, y1, "k")
    # dog-ear
    cv.set(x1, y0, BG)
    cv.set(x1 - 1, y0, "k")
    cv.set(x1, y0 + 1, "k")
    cv.set(x1 - 1, y0 + 1, "k")
    for y in range(y0 + 2, y1 - 1, 2):
        cv.hline(x0 + 2, x1 - 2, y, "d")


def glyph_send():
    cv = Canvas(16, 16)
    page(cv, 0, 0, 7, 10)
    page(cv, 2, 4, 9, 14)
    # arrow leaving the sheets to the right
    cv.fill_rect(9, 8, 10, 9, "r")
    for i, x in enumerate(range(11, 15)):
        cv.vline(x, 5 + i, 12 - i, "r")
    cv.hline(9, 10, 10, "m")
    cv.line(11, 12, 13, 10, "m")  # shade the underside
    return cv


def glyph_quit():
    cv = Canvas(16, 16)
    cv.rect(1, 1, 14, 14, "k")
    cv.fill_rect(2, 2, 13, 13, "r")
    cv.fill_rect(4, 7, 11, 8, "w")
    return cv


def glyph_clear():
    cv = Canvas(16, 16)
    # Diagonal coordinates: u = x + y runs across the broom, v = x - y
    # along it (the handle is at the top right, the bristles bottom left).
    def uv(x, y):
        return x + y, x - y

    def handle(x, y):
        u, v = uv(int(x), int(y))
        return 13 <= u <= 14 and 2 <= v <= 14

    def binding(x, y):
        u, v = uv(int(x), int(y))
        return 10 <= u <= 17 and 0 <= v <= 1

    def bristles(x, y):
        u, v = uv(int(x), int(y))
        if v == -7 and u % 2:
            return False  # ragged tips
        return -7 <= v <= -1 and abs(u - 13.5) <= 3.5 + (-v) * 0.3

    head = cv.pixels_where(lambda x, y: binding(x, y) or bristles(x, y))
    cv.fill_where(bristles, "y")
    cv.fill_where(binding, "k")
    # a darker strand line just under the binding
    cv.fill_where(lambda x, y: bristles(x, y) and uv(int(x), int(y))[1] == -2,
                  "m")
    cv.outline(head, "k")
    cv.fill_where(handle, "m")
    # dust swept off to the side
    cv.hline(10, 13, 13, "k")
    cv.hline(11, 14, 11, "k")
    return cv


def monitor(cv, x0, y0):
    """A 7-wide screen on a foot, 8 rows tall."""
    cv.rect(x0, y0, x0 + 6, y0 + 5, "k")
    cv.fill_rect(x0 + 1, y0 + 1, x0 + 5, y0 + 4, "t")
    cv.set(x0 + 1, y0 + 1, "a")
    cv.set(x0 + 2, y0 + 1, "a")
    cv.set(x0 + 1, y0 + 2, "a")
    cv.set(x0 + 3, y0 + 6, "k")
    cv.hline(x0 + 1, x0 + 5, y0 + 7, "k")


def glyph_smtpconnect():
    cv = Canvas(16, 16)
    monitor(cv, 0, 0)
    monitor(cv, 8, 7)
    # the wire from one machine round to the other
    cv.hline(7, 11, 3, "r")
    cv.vline(11, 3, 6, "r")
    cv.set(7, 2, "k")
    cv.set(7, 4, "k")
    return cv


def glyph_popconnect():
    return from_rows([
        "..........kkkkk.",
        "..........krrrk.",
        "..........krrrk.",
        "..........kkkkk.",
        "...kkkkkkkk...k.",
        "..kwwwwwwwwk..k.",
        ".kskssssssssk.k.",
        ".kskssssssssk.k.",
        ".kwkssssssssk.k.",
        ".kskddddddddkkk.",
        ".kkkkkkkkkkkk...",
        "......kmmk......",
        "......kmmk......",
        "......kmmk......",
        "...gggkmmkggg...",
        "................",
    ])


HAND_WITH_PEN = [
    "............kk..",
    "...........kbnk.",
    "..........kbnk..",
    "......kkkkbnk...",
    ".....kwwwkbkkk..",
    "....kwwwwwkwwwk.",
    "...kkkwwwwwwwwk.",
    "..kwwwkwwwwwwwk.",
    "..kkkkkwwwwwwk..",
    "..kbwwkwwwwwk...",
    "..bn.kkkkkk.....",
    ".bn.............",
    ".k..............",
    "................",
    "................",
    "................",
]


def glyph_save():
    cv = Canvas(16, 16)
    page(cv, 0, 5, 10, 14)
    cv.hline(2, 5, 13, "b")  # the line just written
    cv.blit(from_rows(HAND_WITH_PEN), 0, 0, transparent=BG)
    return cv


def glyph_led():
    cv = Canvas(16, 16)
    cx = cy = 7.5

    def dist(x, y):
        return math.hypot(x - cx, y - cy)

    lamp = cv.pixels_where(lambda x, y: dist(x, y) <= 5.6)
    cv.outline(lamp, "k")
    cv.fill_where(lambda x, y: dist(x, y) <= 5.6, "g")
    cv.fill_where(lambda x, y: math.hypot(x - 6.8, y - 6.8) <= 4.6, "l")
    cv.fill_rect(4, 4, 5, 5, "w")
    cv.set(6, 4, "w")
    cv.set(4, 6, "w")
    return cv


def led_strip():
    lit = glyph_led()
    strip = Canvas(32, 16)
    strip.blit(lit, 0, 0)
    # unlit: just the rim, embossed like a disabled button
    strip.blit(embossed(lit, shape_keys={"k"}), 16, 0)
    # the window shows one column of the right half; it must stay clear
    assert all(strip.get(16, y) == BG for y in range(16))
    assert strip.get(0, 15) == BG
    return strip


# --------------------------------------------------------------------------
# Application icon (32x32, transparent around the envelope)
# --------------------------------------------------------------------------

def icon_orvmail():
    cv = Canvas(32, 32, fill=" ")
    # envelope seen from the back: body, the two lower folds, the flap
    cv.fill_rect(1, 7, 30, 25, "w")
    cv.fill_polygon([(1, 26), (15.5, 15), (16.5, 15), (31, 26)], "s")
    cv.line(1, 25, 13, 16, "d")
    cv.line(30, 25, 18, 16, "d")
    cv.fill_polygon([(1, 7), (31, 7), (16, 19.5)], "s")
    cv.line(1, 7, 15, 18, "k")
    cv.line(30, 7, 16, 18, "k")
    cv.rect(1, 7, 30, 25, "k")
    # the seal on the flap: a red disc with an O pressed into it
    seal = cv.pixels_where(lambda x, y: math.hypot(x - 16, y - 17) <= 7.0)
    cv.fill_where(lambda x, y: math.hypot(x - 16, y - 17) <= 7.0, "r")
    cv.outline(seal, "m")
    letter_o = from_rows([
        "..wwww..",
        ".wwwwww.",
        "www..www",
        "ww....ww",
        "ww....ww",
        "ww....ww",
        "ww....ww",
        "www..www",
        ".wwwwww.",
        "..wwww..",
    ])
    cv.blit(letter_o, 12, 12, transparent=BG)
    return cv


# --------------------------------------------------------------------------
# Vendor banner (140x34, truecolour)
# --------------------------------------------------------------------------

# Bold lettering for the name: capital height 17, x-height 12.
BIG_FONT = {
    "H": [
        "###......###",
        "###......###",
        "###......###",
        "###......###",
        "###......###",
        "###......###",
        "###......###",
        "############",
        "############",
        "############",
        "###......###",
        "###......###",
        "###......###",
        "###......###",
        "###......###",
        "###......###",
        "###......###",
    ],
    "a": [
        "..######..",
        ".########.",
        ".##....###",
        ".......###",
        "..########",
        ".#########",
        "###....###",
        "###....###",
        "###....###",
        "###...####",
        ".#########",
        "..#####.##",
    ],
    "l": ["###"] * 17,
    "v": [
        "###.....###",
        "###.....###",
        "###.....###",
        ".###...###.",
        ".###...###.",
        ".###...###.",
        "..###.###..",
        "..###.###..",
        "..#######..",
        "...#####...",
        "...#####...",
        "....###....",
    ],
    "e": [
        "..######..",
        ".########.",
        "###....###",
        "###....###",
        "##########",
        "##########",
        "###.......",
        "###.......",
        "###.....#.",
        ".###...###",
        ".#########",
        "..######..",
    ],
    "x": [
        "###.....###",
        "###.....###",
        ".###...###.",
        "..###.###..",
        "...#####...",
        "....###....",
        "....###....",
        "...#####...",
        "..###.###..",
        ".###...###.",
        "###.....###",
        "###.....###",
    ],
}

# Small lettering for the web address: x-height 5, two rows of ascender
# above and two of descender below (9 rows in all).
SMALL_FONT = {
    "w": ["#...#", "#...#", "#.#.#", "#.#.#", ".#.#."],
    "h": ["#..", "#..", "##.", "#.#", "#.#", "#.#", "#.#"],
    "a": ["##.", "..#", ".##", "#.#", ".##"],
    "l": ["#", "#", "#", "#", "#", "#", "#"],
    "v": ["#.#", "#.#", "#.#", "#.#", ".#."],
    "e": [".#.", "#.#", "###", "#..", ".##"],
    "x": ["#.#", "#.#", ".#.", "#.#", "#.#"],
    "m": ["##.#.", "#.#.#", "#.#.#", "#.#.#", "#.#.#"],
    "p": ["##.", "#.#", "#.#", "#.#", "##.", "#..", "#.."],
    ".": [".", ".", ".", ".", "#"],
}


def text_mask(text, font, ascenders, ascent, gap):
    """Set of (x, y) pixels for text; y = 0 is the top of the ascenders.

    Letters in `ascenders` start at the top; the rest start `ascent` rows
    lower, and descenders simply run on below the x-height.
    """
    pix = set()
    x = 0
    for ch in text:
        rows = font[ch]
        top = 0 if ch in ascenders else ascent
        for dy, row in enumerate(rows):
            for dx, c in enumerate(row):
                if c == "#":
                    pix.add((x + dx, top + dy))
        x += len(rows[0]) + gap
    return pix


def lerp(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def shade(rgb, f):
    return tuple(int(round(c * f)) for c in rgb)


def banner_halvex():
    W, H = 140, 34
    # background: deep blue to sea blue, quantised so the palette stays small
    c0, c1 = (0x0A, 0x22, 0x52), (0x2A, 0x7C, 0xBA)
    steps = 40
    img = []
    for y in range(H):
        row = []
        for x in range(W):
            t = 0.8 * x / (W - 1) + 0.2 * (1 - y / (H - 1))
            row.append(lerp(c0, c1, round(t * steps) / steps))
        img.append(row)

    def put(pixels, colour_at):
        for x, y in pixels:
            if 0 <= x < W and 0 <= y < H:
                img[y][x] = colour_at(x, y)

    # logo: a cube seen corner-on, which outlines a hexagon
    cx, cy, r = 16.0, 16.5, 13.0
    hexv = [(cx + r * math.cos(math.radians(a)), cy + r * math.sin(math.radians(a)))
            for a in (-90, -30, 30, 90, 150, 210)]
    centre = (cx, cy)
    faces = [
        ([centre, hexv[5], hexv[0], hexv[1]], (0xFF, 0xD8, 0x70)),  # top
        ([centre, hexv[3], hexv[4], hexv[5]], (0xF0, 0x90, 0x20)),  # left
        ([centre, hexv[1], hexv[2], hexv[3]], (0xA8, 0x48, 0x10)),  # right
    ]
    whole = set()
    for poly, colour in faces:
        pix = {(x, y) for y in range(H) for x in range(40)
               if point_in_polygon(x + 0.5, y + 0.5, poly)}
        whole |= pix
        put(pix, lambda x, y, c=colour: c)
    edge = {(x + dx, y + dy) for x, y in whole
            for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))} - whole
    dark = (0x10, 0x0C, 0x20)
    put(edge, lambda x, y: dark)

    # the name, with a soft drop shadow and a dark rim
    ox, oy = 36, 3
    name = {(x + ox, y + oy) for x, y in
            text_mask("Halvex", BIG_FONT, set("Hl"), 5, 2)}
    rim = {(x + dx, y + dy) for x, y in name
           for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))} - name
    shadow = {(x + 2, y + 2) for x, y in name | rim} - name - rim
    put(shadow, lambda x, y: shade(img[y][x], 0.45))
    put(rim, lambda x, y: (0x06, 0x14, 0x2E))
    top, bottom = oy, oy + 16
    put(name, lambda x, y: lerp((0xFF, 0xFF, 0xFF), (0xFF, 0xC8, 0x50),
                                (y - top) / (bottom - top)))

    # the web address underneath
    ux, uy = 37, 23
    url = {(x + ux, y + uy) for x, y in
           text_mask("www.halvex.example", SMALL_FONT, set("hl"), 2, 1)}
    put({(x + 1, y + 1) for x, y in url} - url,
        lambda x, y: shade(img[y][x], 0.5))
    put(url, lambda x, y: (0xD8, 0xE8, 0xFF))

    # only the top-left 137x33 is ever shown; nothing may spill beyond it
    for y in range(H):
        for x in range(W):
            if x >= 137 or y >= 33:
                t = 0.8 * x / (W - 1) + 0.2 * (1 - y / (H - 1))
                assert img[y][x] == lerp(c0, c1, round(t * steps) / steps)
    return img


# --------------------------------------------------------------------------
# XPM output
# --------------------------------------------------------------------------

# Characters usable as XPM colour keys (no quote, backslash or space).
KEY_CHARS = (".#abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
             "0123456789+@$%&*=-;:>,<")


def hexcol(rgb):
    return "#%02X%02X%02X" % rgb


def xpm_text(name, width, height, colours, rows, cpp):
    """colours: list of (key, value) with value '#RRGGBB' or 'None'."""
    out = ["/* XPM */",
           "static const char *%s[] = {" % name,
           "/* width height ncolors chars-per-pixel */",
           '"%d %d %d %d",' % (width, height, len(colours), cpp),
           "/* colors */"]
    for key, value in colours:
        out.append('"%s c %s",' % (key, value))
    out.append("/* pixels */")
    for i, row in enumerate(rows):
        out.append('"%s"%s' % (row, "," if i + 1 < len(rows) else ""))
    out.append("};")
    return "\n".join(out) + "\n"


def classic_xpm(name, cv, none_key=None):
    """XPM in the classic palette.

    Button pictures declare all sixteen colours.  With a transparent key the
    unused ones are left out, so the count (None included) stays within 16.
    """
    colours = [(k, hexcol(v)) for k, v in CLASSIC.items()]
    if none_key is not None:
        used = {c for row in cv.px for c in row}
        colours = [(none_key, "None")] + [kv for kv in colours if kv[0] in used]
    rows = ["".join(r) for r in cv.px]
    return xpm_text(name, cv.w, cv.h, colours, rows, 1)


def truecolour_xpm(name, img):
    """XPM for an image of RGB tuples; picks one or two chars per pixel."""
    order = []
    seen = {}
    for row in img:
        for rgb in row:
            if rgb not in seen:
                seen[rgb] = len(order)
                order.append(rgb)
    if len(order) > 256:
        raise ValueError("%s: %d colours, at most 256 allowed"
                         % (name, len(order)))
    alphabet = KEY_CHARS
    if len(order) <= len(alphabet):
        keys = [alphabet[i] for i in range(len(order))]
        cpp = 1
    else:
        keys = [alphabet[i // len(alphabet)] + alphabet[i % len(alphabet)]
                for i in range(len(order))]
        cpp = 2
    colours = [(keys[i], hexcol(rgb)) for i, rgb in enumerate(order)]
    rows = ["".join(keys[seen[rgb]] for rgb in row) for row in img]
    return xpm_text(name, len(img[0]), len(img), colours, rows, cpp)


# --------------------------------------------------------------------------
# The icon as PNG for desktop launchers (standard library only)
# --------------------------------------------------------------------------

# Sizes a desktop's icon theme looks for; the artwork is 32x32.
ICON_SIZES = (32, 48, 64, 128, 256)


def icon_rgba(cv, transparent_key):
    """Rows of (r, g, b, a) for a classic-palette canvas."""
    return [[(0, 0, 0, 0) if k == transparent_key else CLASSIC[k] + (255,)
             for k in row] for row in cv.px]


def enlarge(img, k):
    """Each pixel becomes a k x k block: the artwork stays crisp."""
    return [[px for px in row for _ in range(k)] for row in img for _ in range(k)]


def halve(img):
    """2x2 box average, weighted by alpha so clear pixels add no colour."""
    out = []
    for y in range(0, len(img), 2):
        row = []
        for x in range(0, len(img[0]), 2):
            block = [img[y][x], img[y][x + 1], img[y + 1][x], img[y + 1][x + 1]]
            alpha = sum(p[3] for p in block)
            if alpha == 0:
                row.append((0, 0, 0, 0))
                continue
            rgb = tuple((sum(p[i] * p[3] for p in block) + alpha // 2) // alpha
                        for i in range(3))
            row.append(rgb + ((alpha + 2) // 4,))
        out.append(row)
    return out


def icon_at(img, size):
    """The 32x32 icon at size: whole multiples by blocks, 48 as 96 halved."""
    base = len(img)
    if size % base == 0:
        return enlarge(img, size // base)
    if (2 * size) % base == 0:
        return halve(enlarge(img, 2 * size // base))
    raise ValueError("no clean way to draw the icon at %d" % size)


def png_bytes(img):
    """An 8-bit RGBA PNG of the rows, unfiltered, zlib level 9."""
    h, w = len(img), len(img[0])
    raw = b"".join(b"\x00" + bytes(v for px in row for v in px) for row in img)

    def chunk(tag, data):
        return (struct.pack(">I", len(data)) + tag + data
                + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF))

    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def check_png(fname, data, size):
    """Reads back the header and pixels png_bytes wrote."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("%s: not a PNG" % fname)
    w, h, depth, colour = struct.unpack(">IIBB", data[16:26])
    if (w, h, depth, colour) != (size, size, 8, 6):
        raise ValueError("%s: %dx%d depth %d colour type %d"
                         % (fname, w, h, depth, colour))
    n = struct.unpack(">I", data[33:37])[0]
    if len(zlib.decompress(data[41:41 + n])) != h * (1 + 4 * w):
        raise ValueError("%s: pixel data of the wrong length" % fname)


def parse_xpm(text):
    """Read back what xpm_text wrote: (width, height, {key: value}, rows)."""
    strings = []
    for line in text.splitlines():
        line = line.strip()
        if line.startswith('"'):
            strings.append(line[1:line.rindex('"')])
    w, h, n, cpp = (int(v) for v in strings[0].split())
    colours = {}
    for entry in strings[1:1 + n]:
        key, rest = entry[:cpp], entry[cpp:].split()
        if rest[0] != "c" or len(rest) != 2 or key in colours:
            raise ValueError("bad colour entry %r" % entry)
        colours[key] = rest[1]
    rows = [[r[i:i + cpp] for i in range(0, len(r), cpp)]
            for r in strings[1 + n:]]
    if len(rows) != h or any(len(r) != w or len(r) * cpp != len(s)
                             for r, s in zip(rows, strings[1 + n:])):
        raise ValueError("pixel rows do not match %dx%d" % (w, h))
    for r in rows:
        for k in r:
            if k not in colours:
                raise ValueError("undeclared colour key %r" % k)
    return w, h, colours, rows


def check_button(fname, text, size=(32, 16)):
    """What the window relies on when it loads a button or lamp picture."""
    w, h, colours, rows = parse_xpm(text)
    classic = {hexcol(v) for v in CLASSIC.values()}
    if (w, h) != size:
        raise ValueError("%s: %dx%d, want %dx%d" % ((fname, w, h) + size))
    if len(colours) != 16 or set(colours.values()) != classic:
        raise ValueError("%s: palette is not the sixteen classic colours"
                         % fname)
    key = rows[15][0]
    if colours[key] != hexcol(CLASSIC[BG]) or rows[15][16] != key:
        raise ValueError("%s: bottom-left of a half is not background"
                         % fname)


def check_exact(fname, text, size, max_colours, transparent):
    w, h, colours, rows = parse_xpm(text)
    if (w, h) != size or len(colours) > max_colours:
        raise ValueError("%s: %dx%d with %d colours" % (fname, w, h,
                                                        len(colours)))
    if ("None" in colours.values()) != transparent:
        raise ValueError("%s: transparency %s unexpected" % (fname,
                         "present" if not transparent else "missing"))


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    outdir = argv[1] if len(argv) > 1 else os.path.normpath(
        os.path.join(here, os.pardir, "resources", "art"))
    os.makedirs(outdir, exist_ok=True)

    files = {
        "send.xpm": classic_xpm("send_xpm", button_strip(glyph_send())),
        "quit.xpm": classic_xpm("quit_xpm", button_strip(glyph_quit())),
        "clear.xpm": classic_xpm("clear_xpm", button_strip(glyph_clear())),
        "smtpconnect.xpm": classic_xpm("smtpconnect_xpm",
                                       button_strip(glyph_smtpconnect())),
        "popconnect.xpm": classic_xpm("popconnect_xpm",
                                      button_strip(glyph_popconnect())),
        "save.xpm": classic_xpm("save_xpm", button_strip(glyph_save())),
        "led.xpm": classic_xpm("led_xpm", led_strip()),
        "orvmail.xpm": classic_xpm("orvmail_xpm", icon_orvmail(),
                                   none_key=" "),
        "halvex.xpm": truecolour_xpm("halvex_xpm", banner_halvex()),
    }
    for fname, text in files.items():
        if fname == "halvex.xpm":
            check_exact(fname, text, (140, 34), 256, transparent=False)
        elif fname == "orvmail.xpm":
            check_exact(fname, text, (32, 32), 16, transparent=True)
        else:
            check_button(fname, text)
            if fname == "led.xpm":
                _, _, colours, rows = parse_xpm(text)
                if any(rows[y][16] != rows[15][0] for y in range(16)):
                    raise ValueError("led.xpm: column 16 must stay clear")

    icon = icon_rgba(icon_orvmail(), " ")
    pngs = {}
    for size in ICON_SIZES:
        fname = "orvanta-mail-%d.png" % size
        pngs[fname] = png_bytes(icon_at(icon, size))
        check_png(fname, pngs[fname], size)

    for fname, text in sorted(files.items()):
        path = os.path.join(outdir, fname)
        with open(path, "w", newline="\n") as f:
            f.write(text)
        print(path)
    for fname, data in sorted(pngs.items()):
        path = os.path.join(outdir, fname)
        with open(path, "wb") as f:
            f.write(data)
        print(path)


if __name__ == "__main__":
    main(sys.argv)
