#!/usr/bin/env python3
"""Draws the main window's animation pictures (brix1.bmp .. brix6.bmp) and the
program's icon (ferobrixlan-<size>.png) into app/assets/.

The pictures show a PC sending a program down a cable to a milling machine:
the highlighted line on the PC's screen moves down, a data pulse runs along
the cable and the cutter turns. Only the Python standard library is used, so
the committed files can be redrawn on any machine:

    scripts/make-pictures.py [OUTPUT_DIR]
"""

import math
import os
import struct
import sys
import zlib

WIDTH, HEIGHT = 240, 150   # picture size in pixels
FRAMES = 6
SS = 4                     # supersampling factor (anti-aliasing)


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def hexrgb(h):
    return (int(h[0:2], 16), int(h[2:4], 16), int(h[4:6], 16))


class Canvas:
    """An RGB(A) raster drawn at SS times the final size, then averaged down."""

    def __init__(self, width, height, background=None):
        self.w, self.h = width, height
        self.sw, self.sh = width * SS, height * SS
        self.rgb = [[0.0, 0.0, 0.0] for _ in range(self.sw * self.sh)]
        self.alpha = [0.0] * (self.sw * self.sh)
        if background is not None:
            for i in range(self.sw * self.sh):
                self.rgb[i] = list(background)
                self.alpha[i] = 1.0

    # Every shape paints the subpixels whose centres it covers; `shade` gives
    # the colour at a point (final-pixel coordinates) and may return None.
    def _paint(self, x0, y0, x1, y1, inside, shade, opacity=1.0):
        sx0 = max(0, int(math.floor(x0 * SS)))
        sy0 = max(0, int(math.floor(y0 * SS)))
        sx1 = min(self.sw, int(math.ceil(x1 * SS)) + 1)
        sy1 = min(self.sh, int(math.ceil(y1 * SS)) + 1)
        for sy in range(sy0, sy1):
            y = (sy + 0.5) / SS
            row = sy * self.sw
            for sx in range(sx0, sx1):
                x = (sx + 0.5) / SS
                cover = inside(x, y)
                if cover <= 0:
                    continue
                colour = shade(x, y)
                if colour is None:
                    continue
                a = min(1.0, cover) * opacity
                i = row + sx
                px = self.rgb[i]
                old = self.alpha[i]
                out = a + old * (1 - a)
                if out > 0:
                    for c in range(3):
                        px[c] = (colour[c] * a + px[c] * old * (1 - a)) / out
                self.alpha[i] = out

    def rect(self, x0, y0, x1, y1, colour, opacity=1.0):
        self._paint(x0, y0, x1, y1, lambda x, y: 1 if x0 <= x < x1 and y0 <= y < y1 else 0,
                    colour if callable(colour) else (lambda x, y: colour), opacity)

    def round_rect(self, x0, y0, x1, y1, r, colour, opacity=1.0):
        def inside(x, y):
            if not (x0 <= x < x1 and y0 <= y < y1):
                return 0
            cx = min(max(x, x0 + r), x1 - r)
            cy = min(max(y, y0 + r), y1 - r)
            return 1 if (x - cx) ** 2 + (y - cy) ** 2 <= r * r else 0
        self._paint(x0, y0, x1, y1, inside,
                    colour if callable(colour) else (lambda x, y: colour), opacity)

    def circle(self, cx, cy, r, colour, opacity=1.0):
        self._paint(cx - r, cy - r, cx + r, cy + r,
                    lambda x, y: 1 if (x - cx) ** 2 + (y - cy) ** 2 <= r * r else 0,
                    colour if callable(colour) else (lambda x, y: colour), opacity)

    def glow(self, cx, cy, r, colour, strength=1.0):
        def inside(x, y):
            d = math.hypot(x - cx, y - cy) / r
            return max(0.0, 1 - d) ** 2 * strength
        self._paint(cx - r, cy - r, cx + r, cy + r, inside, lambda x, y: colour)

    def polygon(self, points, colour, opacity=1.0):
        xs = [p[0] for p in points]
        ys = [p[1] for p in points]

        def inside(x, y):
            hit = False
            j = len(points) - 1
            for i in range(len(points)):
                xi, yi = points[i]
                xj, yj = points[j]
                if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                    hit = not hit
                j = i
            return 1 if hit else 0
        self._paint(min(xs), min(ys), max(xs), max(ys), inside,
                    colour if callable(colour) else (lambda x, y: colour), opacity)

    def line(self, x0, y0, x1, y1, width, colour, opacity=1.0):
        r = width / 2
        dx, dy = x1 - x0, y1 - y0
        length2 = dx * dx + dy * dy or 1e-9

        def inside(x, y):
            t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
            px, py = x0 + t * dx, y0 + t * dy
            return 1 if (x - px) ** 2 + (y - py) ** 2 <= r * r else 0
        self._paint(min(x0, x1) - r, min(y0, y1) - r, max(x0, x1) + r, max(y0, y1) + r,
                    inside, lambda x, y: colour, opacity)

    def polyline(self, points, width, colour):
        for a, b in zip(points, points[1:]):
            self.line(a[0], a[1], b[0], b[1], width, colour)

    def pixels(self):
        """Final pixels as rows of (r, g, b, a) tuples, 0..255."""
        rows = []
        n = SS * SS
        for y in range(self.h):
            row = []
            for x in range(self.w):
                r = g = b = a = 0.0
                for sy in range(y * SS, y * SS + SS):
                    base = sy * self.sw + x * SS
                    for i in range(base, base + SS):
                        al = self.alpha[i]
                        px = self.rgb[i]
                        r += px[0] * al
                        g += px[1] * al
                        b += px[2] * al
                        a += al
                if a > 0:
                    r, g, b = r / a, g / a, b / a
                row.append(tuple(int(round(min(255, max(0, v)))) for v in (r, g, b))
                           + (int(round(255 * a / n)),))
            rows.append(row)
        return rows


def write_bmp(path, rows):
    """24-bit uncompressed BMP, bottom-up rows padded to 4 bytes."""
    height, width = len(rows), len(rows[0])
    stride = (width * 3 + 3) & ~3
    image = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b, _a in row:
            line += bytes((b, g, r))
        line += b"\0" * (stride - len(line))
        image += line
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(image), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(image), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + image)


def write_png(path, rows):
    """8-bit RGBA PNG."""
    height, width = len(rows), len(rows[0])
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for px in row:
            raw += bytes(px)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


# Palette
NAVY_TOP = hexrgb("0e1c2e")
NAVY_LOW = hexrgb("23466b")
FRAME = hexrgb("7f9bb8")
STEEL = hexrgb("b9c3cc")
STEEL_DARK = hexrgb("6f7c88")
STEEL_LIGHT = hexrgb("e3e8ec")
MACHINE = hexrgb("d8dde2")
MACHINE_SHADE = hexrgb("9aa6b1")
ACCENT = hexrgb("2f8fd8")
SCREEN = hexrgb("0b2a1a")
CODE = hexrgb("5fe08a")
CODE_HOT = hexrgb("fff27a")
CABLE = hexrgb("1a1f24")
PULSE = hexrgb("ffd23f")
CHIP = hexrgb("ffb347")
WORK = hexrgb("c9a36a")
WORK_SHADE = hexrgb("9c7a45")

# Lengths of the code lines on the PC's screen (in pixels).
CODE_LINES = [30, 22, 40, 34, 26, 38, 18]

# The cable from the PC into the machine's base, as a polyline.
CABLE_PATH = [(86, 96), (96, 96), (100, 100), (100, 127), (104, 131), (129, 131)]


def point_along(path, t):
    lengths = [math.dist(a, b) for a, b in zip(path, path[1:])]
    goal = t * sum(lengths)
    for (a, b), seg in zip(zip(path, path[1:]), lengths):
        if goal <= seg:
            f = goal / seg if seg else 0
            return (a[0] + (b[0] - a[0]) * f, a[1] + (b[1] - a[1]) * f)
        goal -= seg
    return path[-1]


def draw_pc(c, frame):
    # Monitor with its stand.
    c.polygon([(44, 100), (56, 100), (60, 110), (40, 110)], STEEL_DARK)
    c.round_rect(30, 109, 70, 114, 2, STEEL)
    c.round_rect(12, 38, 88, 102, 4, MACHINE)
    c.round_rect(12, 98, 88, 102, 2, MACHINE_SHADE)
    c.round_rect(17, 43, 83, 95, 2, SCREEN)
    c.rect(17, 43, 83, 48, hexrgb("164d2e"))
    hot = frame % len(CODE_LINES)
    for i, length in enumerate(CODE_LINES):
        y = 52 + i * 6
        colour = CODE_HOT if i == hot else CODE
        c.rect(21, y, 25, y + 3, hexrgb("3fae66"))      # sequence number
        c.rect(27, y, 27 + length, y + 3, colour)
        if i == hot:
            c.glow(27 + length / 2, y + 1.5, length / 2 + 6, CODE_HOT, 0.35)
    c.circle(80, 99.5, 1.3, hexrgb("49d36b"))           # power lamp


def draw_machine(c, frame):
    # Base, column and head of a vertical mill.
    c.round_rect(128, 124, 232, 138, 3, MACHINE_SHADE)
    c.round_rect(196, 26, 226, 126, 3, MACHINE)
    c.rect(196, 26, 201, 126, STEEL_LIGHT)
    c.round_rect(150, 24, 212, 52, 4, MACHINE)
    c.rect(150, 45, 212, 52, MACHINE_SHADE)
    c.rect(150, 30, 212, 33, ACCENT)
    # Control panel on the column: small screen and a lamp that lights when
    # the pulse arrives.
    c.round_rect(203, 60, 223, 96, 2, hexrgb("39434d"))
    c.rect(206, 63, 220, 74, SCREEN)
    for i in range(3):
        c.rect(208, 65 + i * 3, 208 + (4, 10, 7)[(i + frame) % 3], 66.5 + i * 3, CODE)
    lamp = PULSE if frame == FRAMES - 1 else hexrgb("6b5a1e")
    c.circle(213, 86, 2.6, lamp)
    if frame == FRAMES - 1:
        c.glow(213, 86, 8, PULSE, 0.6)
    # Spindle and cutter; the flutes shift each frame so that the cutter turns.
    c.rect(172, 52, 190, 60, STEEL_DARK)
    c.rect(175, 60, 187, 66, STEEL)
    phase = frame / FRAMES

    def flutes(x, y):
        band = ((x - 177) / 8.0 + (y - 66) / 6.0 - phase) % 1.0
        return STEEL_LIGHT if band < 0.45 else STEEL_DARK
    c.rect(177, 66, 185, 90, flutes)
    c.polygon([(177, 90), (185, 90), (183, 93), (179, 93)], STEEL_DARK)
    # Table and workpiece, with the slot the cutter has made.
    c.round_rect(140, 110, 210, 118, 2, STEEL_DARK)
    c.rect(140, 118, 210, 124, hexrgb("4e5962"))
    c.rect(150, 92, 204, 110, WORK)
    c.rect(150, 105, 204, 110, WORK_SHADE)
    c.rect(150, 92, 179, 95, hexrgb("6d5530"))
    # Chips thrown off the cutter.
    for k in range(4):
        angle = math.radians(200 + 35 * k + 50 * frame)
        reach = 7 + 4 * ((k + frame) % 3)
        x = 181 + math.cos(angle) * reach
        y = 92 + math.sin(angle) * reach * 0.45 - 2
        c.line(x, y, x + 2 * math.cos(angle), y + 1.2 * math.sin(angle), 1.4, CHIP)


def draw_frame(frame):
    c = Canvas(WIDTH, HEIGHT)

    def sky(x, y):
        return mix(NAVY_TOP, NAVY_LOW, y / HEIGHT)
    c.rect(0, 0, WIDTH, HEIGHT, sky)
    # Faint grid, as on a drawing board.
    for gx in range(0, WIDTH, 20):
        c.rect(gx, 0, gx + 0.5, HEIGHT, FRAME, 0.12)
    for gy in range(0, HEIGHT, 20):
        c.rect(0, gy, WIDTH, gy + 0.5, FRAME, 0.12)
    c.rect(0, 140, WIDTH, HEIGHT, hexrgb("101a26"))
    draw_pc(c, frame)
    c.polyline(CABLE_PATH, 3.2, CABLE)
    c.polyline(CABLE_PATH, 1.0, hexrgb("46525e"))
    draw_machine(c, frame)
    # The data pulse on the cable, with a fading trail behind it.
    t = (frame + 0.5) / FRAMES
    for k, fade in ((0.09, 0.25), (0.05, 0.5)):
        x, y = point_along(CABLE_PATH, max(0.0, t - k))
        c.circle(x, y, 2.0, PULSE, fade)
    x, y = point_along(CABLE_PATH, t)
    c.glow(x, y, 9, PULSE, 0.9)
    c.circle(x, y, 2.8, hexrgb("fff7c8"))
    # Border.
    for (x0, y0, x1, y1) in ((0, 0, WIDTH, 1), (0, HEIGHT - 1, WIDTH, HEIGHT),
                             (0, 0, 1, HEIGHT), (WIDTH - 1, 0, WIDTH, HEIGHT)):
        c.rect(x0, y0, x1, y1, FRAME)
    return c.pixels()


def draw_icon(size):
    """The cutter above a workpiece on a blue tile, fed by three data dots."""
    c = Canvas(size, size)
    s = size / 64.0

    def tile(x, y):
        return mix(hexrgb("2a6fb0"), hexrgb("123a66"), y / size)
    c.round_rect(2 * s, 2 * s, 62 * s, 62 * s, 12 * s, tile)
    c.rect(24 * s, 8 * s, 44 * s, 18 * s, STEEL)                 # spindle nose
    c.rect(27 * s, 18 * s, 41 * s, 22 * s, STEEL_DARK)

    def flutes(x, y):
        band = ((x / s - 29) / 8.0 + (y / s - 22) / 6.0) % 1.0
        return STEEL_LIGHT if band < 0.45 else STEEL_DARK
    c.rect(29 * s, 22 * s, 39 * s, 42 * s, flutes)
    c.polygon([(29 * s, 42 * s), (39 * s, 42 * s), (37 * s, 45 * s), (31 * s, 45 * s)],
              STEEL_DARK)
    c.round_rect(10 * s, 44 * s, 56 * s, 55 * s, 2 * s, WORK)
    c.rect(10 * s, 51 * s, 56 * s, 55 * s, WORK_SHADE)
    for i, x in enumerate((8, 14, 20)):
        c.circle(x * s, 32 * s, (1.6 + 0.5 * i) * s, PULSE)
    c.glow(20 * s, 32 * s, 6 * s, PULSE, 0.6)
    return c.pixels()


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "app", "assets")
    os.makedirs(out, exist_ok=True)
    for frame in range(FRAMES):
        write_bmp(os.path.join(out, "brix%d.bmp" % (frame + 1)), draw_frame(frame))
    for size in (48, 64, 128):
        write_png(os.path.join(out, "ferobrixlan-%d.png" % size), draw_icon(size))


if __name__ == "__main__":
    main()
