#!/usr/bin/env python3
"""Draws the raster images of the resource bundle and the hover icon twins.

    python3 tools/draw_images.py        (from anywhere; writes into resources/)

Writes the 20 x 20 indicator PNGs under resources/qss/default/, the
multi-size application icon resources/image/logo.ico, and every
resources/image/*-hover.svg from its plain twin, so that the two always show
the same drawing.  Standard library only.
"""

import math
import struct
import zlib
from pathlib import Path

RESOURCES = Path(__file__).resolve().parent.parent / "resources"

BORDER = "#b6b6b6"
MARK = "#57595b"
BORDER_DISABLED = "#d2d2d2"
MARK_DISABLED = "#969698"
WHITE = "#ffffff"

NAV_COLOUR = "#34495e"
NAV_HOVER_COLOUR = "#00b688"
NAV_ICONS = ("tcpc", "tcps", "udp", "serial")


def rgb(hex_colour):
    value = int(hex_colour[1:], 16)
    return (value >> 16) & 255, (value >> 8) & 255, value & 255


# --- PNG ------------------------------------------------------------------

def png_bytes(width, height, rgba_rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\0" + bytes(row) for row in rgba_rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


# --- Rasteriser -----------------------------------------------------------
# A picture is a list of (shape, colour) layers, later layers on top; a shape
# is a predicate on a point.  Pixels are sampled on a 4 x 4 grid for smooth
# edges.

SAMPLES = 4


def rasterise(size, layers, scale=1.0):
    """RGBA rows of a size x size picture; shapes use units of size/scale."""
    rows = []
    step = 1.0 / SAMPLES
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) * step) / scale
                    y = (py + (sy + 0.5) * step) / scale
                    for shape, colour in reversed(layers):
                        if shape(x, y):
                            cr, cg, cb = rgb(colour)
                            r, g, b, a = r + cr, g + cg, b + cb, a + 1
                            break
            if a:
                row += [round(r / a), round(g / a), round(b / a),
                        round(255 * a / SAMPLES ** 2)]
            else:
                row += [0, 0, 0, 0]
        rows.append(row)
    return rows


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def disc(cx, cy, radius):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def stroke(points, width):
    """A polyline of the given width with round joins."""
    half = width / 2

    def near_segment(x, y, ax, ay, bx, by):
        dx, dy = bx - ax, by - ay
        t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
        return math.hypot(x - ax - t * dx, y - ay - t * dy) <= half

    segments = list(zip(points, points[1:]))
    return lambda x, y: any(near_segment(x, y, *a, *b) for a, b in segments)


def triangle(a, b, c):
    def side(p, q, x, y):
        return (q[0] - p[0]) * (y - p[1]) - (q[1] - p[1]) * (x - p[0])

    def inside(x, y):
        s = (side(a, b, x, y), side(b, c, x, y), side(c, a, x, y))
        return all(v >= 0 for v in s) or all(v <= 0 for v in s)
    return inside


# --- Indicator images (20 x 20) -------------------------------------------

def check_box(border, mark=None, partial=False):
    layers = [(rect(1.5, 1.5, 18.5, 18.5), border), (rect(3, 3, 17, 17), WHITE)]
    if mark and partial:
        layers.append((rect(6, 6, 14, 14), mark))
    elif mark:
        layers.append((stroke([(5.5, 10.5), (8.5, 13.5), (14.5, 6.5)], 2.2), mark))
    return layers


def radio_button(border, mark=None):
    layers = [(disc(10, 10, 8.5), border), (disc(10, 10, 7), WHITE)]
    if mark:
        layers.append((disc(10, 10, 3.5), mark))
    return layers


def indicator_images():
    chevron_width = 2.4
    images = {
        "checkbox_unchecked": check_box(BORDER),
        "checkbox_checked": check_box(BORDER, MARK),
        "checkbox_parcial": check_box(BORDER, MARK, partial=True),
        "checkbox_unchecked_disable": check_box(BORDER_DISABLED),
        "checkbox_checked_disable": check_box(BORDER_DISABLED, MARK_DISABLED),
        "checkbox_parcial_disable": check_box(BORDER_DISABLED, MARK_DISABLED, partial=True),
        "radiobutton_unchecked": radio_button(BORDER),
        "radiobutton_checked": radio_button(BORDER, MARK),
        "radiobutton_unchecked_disable": radio_button(BORDER_DISABLED),
        "radiobutton_checked_disable": radio_button(BORDER_DISABLED, MARK_DISABLED),
        "add_top": [(triangle((10, 5), (17, 14), (3, 14)), BORDER)],
        "add_bottom": [(triangle((3, 6), (17, 6), (10, 15)), BORDER)],
        "add_left": [(triangle((5, 10), (14, 3), (14, 17)), BORDER)],
        "add_right": [(triangle((6, 3), (15, 10), (6, 17)), BORDER)],
        "branch_close": [(rect(4, 9, 16, 11), MARK)],
        "branch_open": [(rect(4, 9, 16, 11), MARK), (rect(9, 4, 11, 16), MARK)],
        "calendar_prevmonth": [(stroke([(12.5, 4.5), (7, 10), (12.5, 15.5)], chevron_width), MARK)],
        "calendar_nextmonth": [(stroke([(7.5, 4.5), (13, 10), (7.5, 15.5)], chevron_width), MARK)],
    }
    folder = RESOURCES / "qss" / "default"
    folder.mkdir(parents=True, exist_ok=True)
    for name, layers in images.items():
        (folder / f"{name}.png").write_bytes(png_bytes(20, 20, rasterise(20, layers)))


# --- Application icon -----------------------------------------------------
# The same globe as image/logo.svg, in its 200 x 200 units: a sphere of
# radius 90 cut along the parallels at 0 and +-40 degrees and, inside the two
# bands, along the meridians at 0 and +-50 degrees, with 6-unit gaps.

CAP = "#BDC8E0"
NORTH = "#FFAA00"
SOUTH = "#00B688"
RADIUS = 90.0
PARALLEL = RADIUS * math.sin(math.radians(40))
MERIDIAN = RADIUS * math.sin(math.radians(50))
HALF_GAP = 3.0


def globe_colour(x, y):
    dx, dy = x - 100, y - 100
    if dx * dx + dy * dy > RADIUS * RADIUS:
        return None
    if min(abs(dy), abs(abs(dy) - PARALLEL)) < HALF_GAP:
        return None
    if abs(dy) > PARALLEL:
        return CAP
    meridian = MERIDIAN * math.sqrt(1 - (dy / RADIUS) ** 2)
    if min(abs(dx), abs(abs(dx) - meridian)) < HALF_GAP:
        return None
    return NORTH if dy < 0 else SOUTH


def globe_layers():
    return [(lambda x, y, c=c: globe_colour(x, y) == c, c) for c in (CAP, NORTH, SOUTH)]


def bmp_entry(size, rows, bits):
    """An icon directory image as a bottom-up DIB with its AND mask."""
    opaque = [[row[4 * i + 3] >= 128 for i in range(size)] for row in rows]
    if bits == 32:
        palette = b""
        pixels = b"".join(bytes(v for i in range(size)
                                for v in (row[4 * i + 2], row[4 * i + 1], row[4 * i], row[4 * i + 3]))
                          for row in reversed(rows))
    else:
        # The globe has three colours; index 0 (black) sits under the mask.
        colours = [(0, 0, 0)] + [rgb(c) for c in (CAP, NORTH, SOUTH)]
        colours += [(0, 0, 0)] * ((1 << bits) - len(colours))
        palette = b"".join(bytes((b, g, r, 0)) for r, g, b in colours)

        def index(row, i):
            if row[4 * i + 3] < 128:
                return 0
            pixel = tuple(row[4 * i:4 * i + 3])
            return min(range(1, 4), key=lambda k: sum((p - q) ** 2 for p, q in zip(pixel, colours[k])))

        packed = []
        for row in reversed(rows):
            indices = [index(row, i) for i in range(size)]
            if bits == 4:
                line = bytes((indices[i] << 4) | indices[i + 1] for i in range(0, size, 2))
            else:
                line = bytes(indices)
            packed.append(line + b"\0" * (-len(line) % 4))
        pixels = b"".join(packed)
    # One bit per pixel, set where transparent, rows padded to 32 bits.
    mask_lines = []
    for line in reversed(opaque):
        bits_row = "".join("0" if o else "1" for o in line)
        bits_row += "1" * (-len(bits_row) % 32)
        mask_lines.append(int(bits_row, 2).to_bytes(len(bits_row) // 8, "big"))
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bits, 0,
                         len(pixels) + sum(map(len, mask_lines)), 0, 0,
                         (1 << bits) if bits < 32 else 0, 0)
    return header + palette + pixels + b"".join(mask_lines)


def application_icon():
    entries = [(s, b) for b in (4, 8) for s in (16, 32, 48)]
    entries += [(s, 32) for s in (16, 20, 24, 32, 40, 48, 64, 256)]
    pictures = {}
    images = []
    for size, bits in entries:
        if size not in pictures:
            pictures[size] = rasterise(size, globe_layers(), scale=size / 200)
        rows = pictures[size]
        data = png_bytes(size, size, rows) if size == 256 else bmp_entry(size, rows, bits)
        images.append((size, bits, data))

    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    body = b""
    for size, bits, data in images:
        colour_count = (1 << bits) if bits < 8 else 0
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, colour_count, 0,
                                 1, bits, len(data), offset + len(body))
        body += data
    (RESOURCES / "image" / "logo.ico").write_bytes(directory + body)


# --- Hover icons ----------------------------------------------------------

def hover_icons():
    folder = RESOURCES / "image"
    for name in NAV_ICONS:
        plain = (folder / f"{name}.svg").read_text(encoding="utf-8")
        assert NAV_COLOUR in plain, f"{name}.svg is not drawn in {NAV_COLOUR}"
        hover = plain.replace(NAV_COLOUR, NAV_HOVER_COLOUR)
        (folder / f"{name}-hover.svg").write_text(hover, encoding="utf-8")


if __name__ == "__main__":
    indicator_images()
    application_icon()
    hover_icons()
