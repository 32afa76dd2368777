#!/usr/bin/env python3
"""Draws the updater's icon: a small window with a blue title bar and a
progress bar, and a green arrow pointing down in front of it.

Writes a 64 x 64, 8-bit RGBA PNG with a transparent background using only the
standard library. Run by hand; the output is committed as src/res/icon.png.

    tools/icon/make-icon.py [OUTPUT]
"""

import math
import os
import struct
import sys
import zlib

SIZE = 64
SUBSAMPLES = 4  # per axis; every pixel is the average of 16 samples

# Colours (R, G, B, A).
WINDOW_BORDER = (58, 64, 74, 255)
WINDOW_BODY = (246, 248, 251, 255)
TITLE_BAR = (38, 104, 214, 255)
TITLE_BUTTON = (226, 236, 252, 255)
BAR_BORDER = (120, 128, 140, 255)
BAR_TROUGH = (222, 227, 234, 255)
BAR_FILL = (74, 144, 226, 255)
ARROW_HALO = (255, 255, 255, 255)
ARROW_EDGE = (22, 112, 38, 255)
ARROW_FILL = (52, 178, 72, 255)
ARROW_SHINE = (118, 214, 128, 255)


def in_rounded_rect(x, y, left, top, right, bottom, radius):
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def in_rect(x, y, left, top, right, bottom):
    return left <= x <= right and top <= y <= bottom


def in_polygon(x, y, points):
    inside = False
    j = len(points) - 1
    for i in range(len(points)):
        xi, yi = points[i]
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def distance_to_segment(x, y, a, b):
    ax, ay = a
    bx, by = b
    dx, dy = bx - ax, by - ay
    length2 = dx * dx + dy * dy
    t = 0.0 if length2 == 0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / length2))
    px, py = ax + t * dx, ay + t * dy
    return math.hypot(x - px, y - py)


def near_polygon(x, y, points, width):
    """Inside the polygon or within 'width' of its outline."""
    if in_polygon(x, y, points):
        return True
    return any(distance_to_segment(x, y, points[i - 1], points[i]) <= width
               for i in range(len(points)))


# The arrow: a shaft and a head, pointing down, over the lower right corner of
# the window.
ARROW = [(39.0, 22.0), (51.0, 22.0), (51.0, 40.0), (60.0, 40.0),
         (45.0, 59.0), (30.0, 40.0), (39.0, 40.0)]
ARROW_SHINE_STRIP = [(40.5, 23.5), (43.5, 23.5), (43.5, 41.5), (40.5, 41.5)]


def colour_at(x, y):
    """Colour of the topmost shape at (x, y); None where nothing is drawn."""
    colour = None
    # The window, with a border and rounded corners.
    if in_rounded_rect(x, y, 3, 6, 49, 47, 3.5):
        colour = WINDOW_BORDER
    if in_rounded_rect(x, y, 4.5, 7.5, 47.5, 45.5, 2.2):
        colour = WINDOW_BODY
        if y <= 16:
            colour = TITLE_BAR
            for cx in (35.5, 41.0):
                if (x - cx) ** 2 + (y - 11.75) ** 2 <= 2.0 ** 2:
                    colour = TITLE_BUTTON
    # Two lines of text-like marks and the progress bar.
    if in_rect(x, y, 9, 21, 30, 23) or in_rect(x, y, 9, 26, 24, 28):
        colour = BAR_BORDER
    if in_rect(x, y, 8, 33, 44, 41):
        colour = BAR_BORDER
    if in_rect(x, y, 9.5, 34.5, 42.5, 39.5):
        colour = BAR_TROUGH
    if in_rect(x, y, 9.5, 34.5, 27.5, 39.5):
        colour = BAR_FILL
    # The arrow in front: a white halo, a dark green edge, the green body and
    # a lighter strip that gives it some depth.
    if near_polygon(x, y, ARROW, 3.2):
        colour = ARROW_HALO
    if near_polygon(x, y, ARROW, 1.6):
        colour = ARROW_EDGE
    if in_polygon(x, y, ARROW):
        colour = ARROW_FILL
    if in_polygon(x, y, ARROW_SHINE_STRIP):
        colour = ARROW_SHINE
    return colour


def render():
    rows = []
    samples = SUBSAMPLES * SUBSAMPLES
    for py in range(SIZE):
        row = bytearray()
        for px in range(SIZE):
            r = g = b = a = 0
            for sy in range(SUBSAMPLES):
                for sx in range(SUBSAMPLES):
                    c = colour_at(px + (sx + 0.5) / SUBSAMPLES, py + (sy + 0.5) / SUBSAMPLES)
                    if c is None:
                        continue
                    # Accumulate premultiplied so that edges do not darken.
                    r += c[0] * c[3]
                    g += c[1] * c[3]
                    b += c[2] * c[3]
                    a += c[3]
            if a == 0:
                row += bytes(4)
            else:
                row += bytes((round(r / a), round(g / a), round(b / a), round(a / samples)))
        rows.append(bytes(row))
    return rows


def png(rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)  # 8-bit RGBA
    raw = b"".join(b"\x00" + row for row in rows)  # filter type 0 on every row
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default = os.path.join(here, "..", "..", "src", "res", "icon.png")
    output = sys.argv[1] if len(sys.argv) > 1 else default
    data = png(render())
    temporary = output + ".tmp"
    with open(temporary, "wb") as file:
        file.write(data)
    os.replace(temporary, output)


if __name__ == "__main__":
    main()
