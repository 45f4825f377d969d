#!/usr/bin/env python3
"""Draws the presentation cursors and writes them as Windows .cur/.ani files.

Everything is drawn here in code (Python standard library only):

    0.cur  magnifier icon        1.ani  rotating cone
    2.cur  heartbeat             3.ani  dancing butterfly
    4.cur  electronic pen        5.ani  magic pointer
    6.ani  gender symbol         7.ani  angry shark

Usage: make_cursors.py [output folder]   (default: data/cursor beside tools/)
"""
import math
import os
import struct
import sys

SIZE = 48
SUB = 4  # samples per pixel side (anti-aliasing)


class Canvas:
    def __init__(self, size=SIZE):
        self.size = size
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(size * size)]  # premultiplied RGBA 0..1

    def fill(self, inside, colour, bbox=None):
        """Paints colour (r, g, b, a in 0..255) where inside(x, y) holds."""
        r, g, b, a = (c / 255.0 for c in colour)
        x0, y0, x1, y1 = bbox if bbox else (0, 0, self.size, self.size)
        x0, y0 = max(0, int(math.floor(x0))), max(0, int(math.floor(y0)))
        x1, y1 = min(self.size, int(math.ceil(x1))), min(self.size, int(math.ceil(y1)))
        step = 1.0 / SUB
        for py in range(y0, y1):
            for px in range(x0, x1):
                hits = 0
                for sy in range(SUB):
                    y = py + (sy + 0.5) * step
                    for sx in range(SUB):
                        if inside(px + (sx + 0.5) * step, y):
                            hits += 1
                if hits:
                    cov = a * hits / (SUB * SUB)
                    p = self.px[py * self.size + px]
                    k = 1.0 - cov
                    p[0] = r * cov + p[0] * k
                    p[1] = g * cov + p[1] * k
                    p[2] = b * cov + p[2] * k
                    p[3] = cov + p[3] * k

    # Shapes -----------------------------------------------------------------
    def circle(self, cx, cy, rad, colour):
        self.fill(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= rad * rad, colour,
                  (cx - rad - 1, cy - rad - 1, cx + rad + 1, cy + rad + 1))

    def ring(self, cx, cy, r_in, r_out, colour):
        def inside(x, y):
            d = (x - cx) ** 2 + (y - cy) ** 2
            return r_in * r_in <= d <= r_out * r_out
        self.fill(inside, colour, (cx - r_out - 1, cy - r_out - 1, cx + r_out + 1, cy + r_out + 1))

    def ellipse(self, cx, cy, rx, ry, colour, angle=0.0):
        ca, sa = math.cos(angle), math.sin(angle)
        rx, ry = max(rx, 0.01), max(ry, 0.01)

        def inside(x, y):
            dx, dy = x - cx, y - cy
            u, v = dx * ca + dy * sa, -dx * sa + dy * ca
            return (u / rx) ** 2 + (v / ry) ** 2 <= 1.0
        m = max(rx, ry) + 1
        self.fill(inside, colour, (cx - m, cy - m, cx + m, cy + m))

    def polygon(self, pts, colour):
        def inside(x, y):
            c = False
            j = len(pts) - 1
            for i in range(len(pts)):
                xi, yi = pts[i]
                xj, yj = pts[j]
                if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                    c = not c
                j = i
            return c
        xs, ys = [p[0] for p in pts], [p[1] for p in pts]
        self.fill(inside, colour, (min(xs) - 1, min(ys) - 1, max(xs) + 1, max(ys) + 1))

    def line(self, x1, y1, x2, y2, width, colour):
        dx, dy = x2 - x1, y2 - y1
        length2 = dx * dx + dy * dy or 1e-9
        h = width / 2.0

        def inside(x, y):
            t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / length2))
            qx, qy = x1 + t * dx - x, y1 + t * dy - y
            return qx * qx + qy * qy <= h * h
        self.fill(inside, colour, (min(x1, x2) - h - 1, min(y1, y2) - h - 1,
                                   max(x1, x2) + h + 1, max(y1, y2) + h + 1))

    def polyline(self, pts, width, colour, closed=False):
        seq = pts + [pts[0]] if closed else pts
        for (ax, ay), (bx, by) in zip(seq, seq[1:]):
            self.line(ax, ay, bx, by, width, colour)

    def star(self, cx, cy, r_out, r_in, colour, points=4, turn=0.0):
        pts = []
        for i in range(points * 2):
            rad = r_out if i % 2 == 0 else r_in
            a = turn + math.pi * i / points
            pts.append((cx + rad * math.cos(a), cy + rad * math.sin(a)))
        self.polygon(pts, colour)

    def bgra(self):
        """Straight-alpha BGRA bytes, top row first."""
        out = bytearray()
        for r, g, b, a in self.px:
            if a > 0:
                out += bytes((round(b / a * 255), round(g / a * 255), round(r / a * 255), round(a * 255)))
            else:
                out += bytes(4)
        return out


# Colours
INK = (20, 24, 40, 255)
WHITE = (255, 255, 255, 255)


def magnifier(c, t):
    c.line(29, 29, 43, 43, 9, INK)
    c.line(30, 30, 42, 42, 5.5, (150, 90, 40, 255))
    c.circle(18, 18, 15, INK)
    c.circle(18, 18, 11.5, (170, 220, 255, 200))
    c.ring(18, 18, 11.5, 13.5, (40, 110, 210, 255))
    c.ellipse(13, 12, 4.5, 2.2, (255, 255, 255, 200), angle=-0.7)
    return (18, 18)


def rotating_cone(c, t):
    # A cone lying along the diagonal, its tip at the top left; coloured bands
    # on its surface travel round to show the spin.
    tip = (2.0, 2.0)
    axis = (1 / math.sqrt(2), 1 / math.sqrt(2))
    normal = (-axis[1], axis[0])
    length, radius = 38.0, 11.0
    bx, by = tip[0] + axis[0] * length, tip[1] + axis[1] * length
    base_l = (bx + normal[0] * radius, by + normal[1] * radius)
    base_r = (bx - normal[0] * radius, by - normal[1] * radius)
    c.polygon([tip, base_l, base_r], INK)
    c.ellipse(bx, by, 4.5, radius + 1.5, INK, angle=math.atan2(axis[1], axis[0]))
    colours = [(255, 90, 60, 255), (255, 200, 40, 255), (60, 190, 90, 255), (60, 140, 255, 255)]
    bands = 8
    for i in range(bands):
        # Each band covers a slice of the visible half of the cone.
        a0 = (i / bands + t) * 2 * math.pi
        a1 = a0 + 2 * math.pi / bands
        s0, s1 = math.sin(a0), math.sin(a1)
        if math.cos((a0 + a1) / 2) < 0:
            continue  # on the far side
        inset = 0.86
        p0 = (bx + normal[0] * radius * inset * s0, by + normal[1] * radius * inset * s0)
        p1 = (bx + normal[0] * radius * inset * s1, by + normal[1] * radius * inset * s1)
        c.polygon([(tip[0] + axis[0] * 3, tip[1] + axis[1] * 3), p0, p1], colours[i % len(colours)])
    c.ellipse(bx, by, 3.2, radius * 0.86, (250, 240, 220, 255), angle=math.atan2(axis[1], axis[0]))
    return (2, 2)


def heart_inside(cx, cy, s):
    def inside(x, y):
        u, v = (x - cx) / s, -(y - cy) / s
        return (u * u + v * v - 1) ** 3 - u * u * v ** 3 <= 0
    return inside


def heartbeat(c, t):
    c.fill(heart_inside(24, 22, 19.5), INK, (2, 2, 46, 46))
    c.fill(heart_inside(24, 22, 17), (225, 30, 60, 255), (2, 2, 46, 46))
    c.ellipse(15, 14, 4, 2.5, (255, 160, 170, 220), angle=-0.6)
    trace = [(3, 24), (14, 24), (18, 16), (22, 33), (27, 10), (31, 28), (34, 24), (45, 24)]
    c.polyline(trace, 3.6, INK)
    c.polyline(trace, 1.8, WHITE)
    return (24, 24)


def butterfly(c, t):
    flap = 0.35 + 0.65 * abs(math.cos(math.pi * t))   # wings open and close
    bob = 2.5 * math.sin(2 * math.pi * t)              # the dance: up and down
    sway = 0.18 * math.sin(2 * math.pi * t)            # and a little tilt
    cx, cy = 24.0, 25.0 + bob

    def wing(dx, dy, rx, ry, angle, colour):
        for side in (-1, 1):
            x = cx + side * dx * flap
            c.ellipse(x, cy + dy, rx * flap + 1.4, ry + 1.4, INK, angle=side * angle + sway)
            c.ellipse(x, cy + dy, rx * flap, ry, colour, angle=side * angle + sway)
    wing(10, -7, 10, 8, 0.5, (250, 140, 30, 255))
    wing(8, 7, 7, 6.5, -0.5, (240, 90, 150, 255))
    for side in (-1, 1):
        c.circle(cx + side * 11 * flap, cy - 8, 2.5 * flap + 0.5, (255, 240, 120, 255))
    c.ellipse(cx, cy, 2.6, 11, INK)
    c.circle(cx, cy - 12, 3, INK)
    c.line(cx, cy - 13, cx - 6, cy - 21, 1.4, INK)
    c.line(cx, cy - 13, cx + 6, cy - 21, 1.4, INK)
    c.circle(cx - 6, cy - 21, 1.6, INK)
    c.circle(cx + 6, cy - 21, 1.6, INK)
    return (24, int(round(13 + bob)))


def electronic_pen(c, t):
    # A stylus along the diagonal, writing tip at the bottom left.
    tip = (3.0, 45.0)
    end = (42.0, 6.0)
    c.line(tip[0] + 5, tip[1] - 5, end[0], end[1], 11, INK)
    c.line(tip[0] + 6, tip[1] - 6, end[0] - 1, end[1] + 1, 7.5, (40, 120, 230, 255))
    c.line(tip[0] + 10, tip[1] - 10, end[0] - 4, end[1] + 4, 2.2, (140, 200, 255, 255))
    c.polygon([tip, (tip[0] + 2, tip[1] - 10), (tip[0] + 10, tip[1] - 2)], INK)
    c.polygon([(tip[0] + 1.2, tip[1] - 1.2), (tip[0] + 3, tip[1] - 8), (tip[0] + 8, tip[1] - 3)],
              (200, 200, 210, 255))
    c.circle(31, 17, 2.8, (80, 255, 120, 255))   # the pen's light
    c.ring(31, 17, 2.8, 4.2, (80, 255, 120, 110))
    c.line(end[0] - 3, end[1] + 3, end[0] + 2, end[1] - 2, 5, (220, 220, 230, 255))
    return (int(tip[0]), int(tip[1]))


ARROW = [(2, 2), (2, 34), (10, 26), (16, 40), (21, 38), (15, 24), (26, 24)]


def magic_pointer(c, t):
    c.polyline(ARROW, 3.2, INK, closed=True)
    c.polygon(ARROW, (120, 60, 220, 255))
    c.polygon([(5, 9), (5, 25), (11, 19)], (200, 170, 255, 200))
    sparkles = [(32, 8, 0.0), (38, 22, 0.33), (28, 34, 0.66), (42, 38, 0.2), (22, 12, 0.5)]
    for x, y, phase in sparkles:
        k = 0.5 + 0.5 * math.sin(2 * math.pi * (t + phase))
        if k < 0.15:
            continue
        c.star(x, y, 2 + 4.5 * k, 0.9 + 0.8 * k, INK, turn=t * math.pi)
        c.star(x, y, 1.2 + 3.6 * k, 0.6 + 0.5 * k, (255, 225, 60, 255), turn=t * math.pi)
    return (2, 2)


def gender_symbol(c, t):
    # Mars and Venus take turns, rocking as they change.
    phase = (math.sin(2 * math.pi * t) + 1) / 2        # 0 Mars .. 1 Venus
    turn = math.pi / 10 * math.sin(2 * math.pi * t)
    mars = phase < 0.5
    cx, cy, r = (19.0, 28.0, 10.0) if mars else (24.0, 18.0, 10.0)
    colour = (40, 120, 240, 255) if mars else (235, 70, 150, 255)
    if mars:
        a = -math.pi / 4 + turn
        ux, uy = math.cos(a), math.sin(a)
        nx, ny = -uy, ux
        sx, sy = cx + r * ux, cy + r * uy
        ex, ey = cx + (r + 15) * ux, cy + (r + 15) * uy
        bx, by = ex - 9 * ux, ey - 9 * uy
        for w, grow, col in ((8, 2.0, INK), (4.5, 0.0, colour)):
            c.line(sx, sy, bx, by, w, col)
            c.polygon([(ex + grow * ux, ey + grow * uy),
                       (bx + (7 + grow) * nx - grow * ux, by + (7 + grow) * ny - grow * uy),
                       (bx - (7 + grow) * nx - grow * ux, by - (7 + grow) * ny - grow * uy)], col)
    else:
        a = math.pi / 2 + turn
        ux, uy = math.cos(a), math.sin(a)
        nx, ny = -uy, ux
        sx, sy = cx + r * ux, cy + r * uy
        ex, ey = cx + (r + 14) * ux, cy + (r + 14) * uy
        mx, my = cx + (r + 7) * ux, cy + (r + 7) * uy
        for w, col in ((8, INK), (4.5, colour)):
            c.line(sx, sy, ex, ey, w, col)
            c.line(mx - 6 * nx, my - 6 * ny, mx + 6 * nx, my + 6 * ny, w, col)
    c.ring(cx, cy, r - 4.2, r + 2.2, INK)
    c.ring(cx, cy, r - 2.6, r + 0.6, colour)
    return (int(cx), int(cy))


def angry_shark(c, t):
    # Side view, facing left; the jaw snaps open and shut.
    bite = abs(math.sin(math.pi * t))
    body = [(2, 26), (10, 17), (22, 13), (34, 15), (42, 11), (46, 6), (45, 18), (47, 30),
            (41, 27), (32, 31), (20, 33), (10, 31)]
    c.polyline(body, 3, INK, closed=True)
    c.polygon(body, (110, 130, 150, 255))
    c.polygon([(18, 14), (27, 3), (30, 14)], INK)          # dorsal fin
    c.polygon([(20, 14), (26.5, 5.5), (28.5, 14)], (110, 130, 150, 255))
    c.polygon([(8, 27), (22, 28), (32, 30), (20, 32), (10, 31)], (235, 240, 245, 255))  # belly
    c.polygon([(22, 29), (27, 38), (30, 30)], INK)         # pectoral fin
    jaw = 3 + 7 * bite
    mouth = [(4, 26), (15, 26 - 1), (15, 26 + jaw * 0.4), (6, 26 + jaw)]
    c.polygon(mouth, (120, 20, 30, 255))
    for i in range(3):
        x = 6.5 + i * 3
        c.polygon([(x, 25.5), (x + 1.5, 28), (x + 3, 25.5)], WHITE)
        c.polygon([(x, 26 + jaw * (0.95 - i * 0.18)), (x + 1.5, 23.5 + jaw * (0.95 - i * 0.18)),
                   (x + 3, 26 + jaw * (0.95 - i * 0.18))], WHITE)
    c.circle(13, 19, 2.4, WHITE)
    c.circle(12.5, 19.3, 1.3, INK)
    c.line(9, 15, 17, 18, 2.2, INK)                        # the angry brow
    for i in range(3):
        c.line(20 + i * 3, 19, 19 + i * 3, 25, 1.1, (60, 70, 90, 255))  # gills
    return (2, 26)


# File formats -----------------------------------------------------------------

def cur_bytes(canvas, hotspot):
    w = h = canvas.size
    pixels = canvas.bgra()
    rows = [pixels[y * w * 4:(y + 1) * w * 4] for y in range(h)]
    xor = b"".join(reversed(rows))
    mask_stride = (w + 31) // 32 * 4
    mask = bytearray()
    for y in reversed(range(h)):
        row = bytearray(mask_stride)
        for x in range(w):
            if pixels[(y * w + x) * 4 + 3] == 0:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + bytes(mask)
    directory = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, hotspot[0], hotspot[1], len(image), 6 + 16)
    return directory + entry + image


def chunk(tag, data):
    pad = b"\0" if len(data) % 2 else b""
    return tag + struct.pack("<I", len(data)) + data + pad


def ani_bytes(frames, jiffies, title):
    icons = b"".join(chunk(b"icon", cur_bytes(c, hs)) for c, hs in frames)
    n = len(frames)
    anih = struct.pack("<9I", 36, n, n, 0, 0, 0, 0, jiffies, 1)
    info = b"INFO" + chunk(b"INAM", title.encode() + b"\0") + chunk(b"IART", b"Lumacro3\0")
    body = b"ACON" + chunk(b"LIST", info) + chunk(b"anih", anih) + \
        chunk(b"rate", struct.pack("<%dI" % n, *([jiffies] * n))) + chunk(b"LIST", b"fram" + icons)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def render(draw, t):
    c = Canvas()
    hotspot = draw(c, t)
    return c, (max(0, min(SIZE - 1, hotspot[0])), max(0, min(SIZE - 1, hotspot[1])))


CURSORS = [
    ("0.cur", magnifier, 1, 0, "Magnifier"),
    ("1.ani", rotating_cone, 8, 6, "Rotating cone"),
    ("2.cur", heartbeat, 1, 0, "Heartbeat"),
    ("3.ani", butterfly, 8, 7, "Dancing butterfly"),
    ("4.cur", electronic_pen, 1, 0, "Electronic pen"),
    ("5.ani", magic_pointer, 8, 8, "Magic pointer"),
    ("6.ani", gender_symbol, 8, 12, "Gender symbol"),
    ("7.ani", angry_shark, 8, 7, "Angry shark"),
]


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "data", "cursor")
    os.makedirs(out, exist_ok=True)
    for name, draw, frames, jiffies, title in CURSORS:
        if name.endswith(".cur"):
            data = cur_bytes(*render(draw, 0.0))
        else:
            data = ani_bytes([render(draw, i / frames) for i in range(frames)], jiffies, title)
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        print("%s: %d bytes" % (name, len(data)))


if __name__ == "__main__":
    main()
