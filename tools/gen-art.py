#!/usr/bin/env python3
"""Draws the program's icons and banner into res/art/ (standard library only).

    tools/gen-art.py [--png DIR]   # --png also writes PNG previews there

Shapes are described in continuous coordinates and rendered with 4x4
supersampling, so the same emblem can be drawn at icon size and, larger,
into the banner. Output: icon-app.ico (128), cert-valid.ico (129),
cert-invalid.ico (130), key.ico (131), all 32 x 32 32-bpp with alpha, and
banner.bmp (135), 402 x 108, 24 bpp.
"""
import math
import os
import struct
import sys
import zlib

SS = 4  # supersampling per axis

# ---------------------------------------------------------------- shapes
# A shape is a function (x, y) -> bool plus a bounding box (x0, y0, x1, y1).


class Shape:
    def __init__(self, inside, bbox):
        self.inside = inside
        self.bbox = bbox

    def __or__(self, other):
        a, b = self, other
        return Shape(lambda x, y: a.inside(x, y) or b.inside(x, y),
                     (min(a.bbox[0], b.bbox[0]), min(a.bbox[1], b.bbox[1]),
                      max(a.bbox[2], b.bbox[2]), max(a.bbox[3], b.bbox[3])))

    def __sub__(self, other):
        a, b = self, other
        return Shape(lambda x, y: a.inside(x, y) and not b.inside(x, y), a.bbox)

    def __and__(self, other):
        a, b = self, other
        return Shape(lambda x, y: a.inside(x, y) and b.inside(x, y), a.bbox)


def circle(cx, cy, r):
    return Shape(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r,
                 (cx - r, cy - r, cx + r, cy + r))


def ellipse(cx, cy, rx, ry):
    return Shape(lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0,
                 (cx - rx, cy - ry, cx + rx, cy + ry))


def rrect(x0, y0, x1, y1, rad=0.0):
    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        dx = max(x0 + rad - x, 0, x - (x1 - rad))
        dy = max(y0 + rad - y, 0, y - (y1 - rad))
        return dx * dx + dy * dy <= rad * rad
    return Shape(inside, (x0, y0, x1, y1))


def segment(x0, y0, x1, y1, w):
    h = w / 2.0
    vx, vy = x1 - x0, y1 - y0
    ll = vx * vx + vy * vy or 1e-9

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - x0) * vx + (y - y0) * vy) / ll))
        px, py = x0 + t * vx - x, y0 + t * vy - y
        return px * px + py * py <= h * h
    return Shape(inside, (min(x0, x1) - h, min(y0, y1) - h, max(x0, x1) + h, max(y0, y1) + h))


def polygon(pts):
    def inside(x, y):
        c = False
        n = len(pts)
        for i in range(n):
            ax, ay = pts[i]
            bx, by = pts[(i + 1) % n]
            if (ay > y) != (by > y):
                if x < (bx - ax) * (y - ay) / (by - ay) + ax:
                    c = not c
        return c
    xs = [p[0] for p in pts]
    ys = [p[1] for p in pts]
    return Shape(inside, (min(xs), min(ys), max(xs), max(ys)))


def transformed(shape, sx=1.0, rot=0.0, ox=0.0, oy=0.0, cx=0.0, cy=0.0):
    """shape drawn scaled by sx and rotated by rot degrees about (cx, cy),
    then moved by (ox, oy)."""
    c, s = math.cos(math.radians(rot)), math.sin(math.radians(rot))

    def inv(x, y):
        x, y = x - ox - cx, y - oy - cy
        u = (x * c + y * s) / sx
        v = (-x * s + y * c) / sx
        return u + cx, v + cy

    def fwd(u, v):
        u, v = (u - cx) * sx, (v - cy) * sx
        return u * c - v * s + cx + ox, u * s + v * c + cy + oy

    b = shape.bbox
    corners = [fwd(b[0], b[1]), fwd(b[2], b[1]), fwd(b[0], b[3]), fwd(b[2], b[3])]
    xs = [p[0] for p in corners]
    ys = [p[1] for p in corners]
    return Shape(lambda x, y: shape.inside(*inv(x, y)), (min(xs), min(ys), max(xs), max(ys)))


# ---------------------------------------------------------------- paints
# A paint is a function (x, y) -> (r, g, b, a) with channels 0..1.

def rgb(hexs, a=1.0):
    hexs = hexs.lstrip('#')
    return (int(hexs[0:2], 16) / 255.0, int(hexs[2:4], 16) / 255.0, int(hexs[4:6], 16) / 255.0, a)


def solid(c):
    return lambda x, y: c


def mix(c0, c1, t):
    t = max(0.0, min(1.0, t))
    return tuple(a + (b - a) * t for a, b in zip(c0, c1))


def linear(x0, y0, c0, x1, y1, c1):
    vx, vy = x1 - x0, y1 - y0
    ll = vx * vx + vy * vy or 1e-9
    return lambda x, y: mix(c0, c1, ((x - x0) * vx + (y - y0) * vy) / ll)


def radial(cx, cy, r, c0, c1):
    return lambda x, y: mix(c0, c1, math.hypot(x - cx, y - cy) / r)


# ---------------------------------------------------------------- canvas

class Canvas:
    """RGBA float canvas; layers are composited per subsample ("over")."""

    def __init__(self, w, h, background=None):
        self.w, self.h = w, h
        self.layers = []
        self.background = background  # paint or None (transparent)

    def add(self, shape, paint):
        self.layers.append((shape, paint))

    def render(self):
        out = []
        step = 1.0 / SS
        for py in range(self.h):
            row = []
            for px in range(self.w):
                active = [(s, p) for s, p in self.layers
                          if s.bbox[0] <= px + 1 and s.bbox[2] >= px and s.bbox[1] <= py + 1 and s.bbox[3] >= py]
                acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied
                for sy in range(SS):
                    y = py + (sy + 0.5) * step
                    for sx in range(SS):
                        x = px + (sx + 0.5) * step
                        if self.background:
                            r, g, b, a = self.background(x, y)
                            cr, cg, cb, ca = r * a, g * a, b * a, a
                        else:
                            cr = cg = cb = ca = 0.0
                        for s, p in active:
                            if s.inside(x, y):
                                r, g, b, a = p(x, y)
                                cr = r * a + cr * (1 - a)
                                cg = g * a + cg * (1 - a)
                                cb = b * a + cb * (1 - a)
                                ca = a + ca * (1 - a)
                        acc[0] += cr
                        acc[1] += cg
                        acc[2] += cb
                        acc[3] += ca
                n = SS * SS
                a = acc[3] / n
                if a <= 0:
                    row.append((0, 0, 0, 0))
                else:
                    row.append(tuple(int(round(min(1.0, c / n / a) * 255)) for c in acc[:3]) +
                               (int(round(a * 255)),))
            out.append(row)
        return out


# ---------------------------------------------------------------- file formats

def write_ico(path, pixels):
    h, w = len(pixels), len(pixels[0])
    xor = bytearray()
    for row in reversed(pixels):
        for r, g, b, a in row:
            xor += bytes((b, g, r, a)) if a else b'\0\0\0\0'
    mask_stride = ((w + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack('<IiiHHIIiiII', 40, w, h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    with open(path, 'wb') as f:
        f.write(struct.pack('<HHH', 0, 1, 1))
        f.write(struct.pack('<BBBBHHII', w % 256, h % 256, 0, 0, 1, 32, len(image), 6 + 16))
        f.write(image)


def write_bmp24(path, pixels):
    h, w = len(pixels), len(pixels[0])
    stride = (w * 3 + 3) & ~3
    data = bytearray()
    for row in reversed(pixels):
        line = bytearray()
        for r, g, b, _ in row:
            line += bytes((b, g, r))
        line += b'\0' * (stride - len(line))
        data += line
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, 'wb') as f:
        f.write(struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(data), 0, 0, 14 + len(info)))
        f.write(info)
        f.write(data)


def write_png(path, pixels, scale=1):
    h, w = len(pixels), len(pixels[0])
    raw = bytearray()
    for row in pixels:
        line = bytearray(b'\0')
        for p in row:
            line += bytes(p) * scale
        for _ in range(scale):
            raw += line
    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff)
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n')
        f.write(chunk(b'IHDR', struct.pack('>IIBBBBB', w * scale, h * scale, 8, 6, 0, 0, 0)))
        f.write(chunk(b'IDAT', zlib.compress(bytes(raw), 9)))
        f.write(chunk(b'IEND', b''))


# ---------------------------------------------------------------- artwork
# Palette: the product's blue (the list captions start at RGB(37, 119, 227)).
BLUE = rgb('#2577E3')
BLUE_DARK = rgb('#0E3F8C')
BLUE_DEEP = rgb('#0A2A5E')
GOLD_LIGHT = rgb('#FFE08A')
GOLD = rgb('#E9B431')
GOLD_DARK = rgb('#8A5A00')
PAPER = rgb('#FFFFFF')
PAPER_SHADE = rgb('#E6EEF8')
INK = rgb('#9AA8BA')
RED = rgb('#D9312B')
RED_DARK = rgb('#7A1010')


def key_parts(grow=0.0):
    """A key lying horizontally in a 32-unit box: bow at the left, bit at the right."""
    g = grow
    bow = circle(9.0, 16.0, 6.6 + g)
    shaft = rrect(13.0 - g, 14.2 - g, 29.0 + g, 17.8 + g, 1.0 + g)
    teeth = rrect(21.0 - g, 17.0 - g, 23.4 + g, 21.6 + g, 0.6 + g) | rrect(25.4 - g, 17.0 - g, 27.8 + g, 22.8 + g, 0.6 + g)
    return bow | shaft | teeth


def add_key(cv, scale=1.0, rot=-45.0, ox=0.0, oy=0.0):
    def t(s):
        return transformed(s, sx=scale, rot=rot, ox=ox, oy=oy, cx=16.0, cy=16.0)
    hole = circle(6.9, 16.0, 2.4)
    cv.add(t(key_parts(1.0) - circle(6.9, 16.0, 1.4)), solid(GOLD_DARK))
    body = key_parts() - hole
    # light from the top left of the final picture
    cv.add(t(body), linear(ox + 16 - 12 * scale, oy + 16 - 12 * scale, GOLD_LIGHT,
                           ox + 16 + 12 * scale, oy + 16 + 12 * scale, GOLD))
    # a highlight along the upper edge of the shaft and a ring on the bow
    cv.add(t(rrect(14.0, 14.6, 28.0, 15.4, 0.4)), solid(rgb('#FFF4C8', 0.85)))
    cv.add(t(circle(9.0, 16.0, 4.6) - circle(9.0, 16.0, 3.6) - hole), solid(rgb('#B98312', 0.55)))


def cert_layers(cv, grey=False):
    def c(col):
        if not grey:
            return col
        l = 0.3 * col[0] + 0.59 * col[1] + 0.11 * col[2]
        l = 0.55 + 0.45 * l
        return (l, l, l, col[3])
    # paper with a shadow and a blue double border
    cv.add(rrect(3.0, 4.0, 30.0, 27.5, 2.0), solid(rgb('#000000', 0.22)))
    cv.add(rrect(2.0, 3.0, 29.0, 26.5, 2.0), solid(c(BLUE_DARK)))
    cv.add(rrect(3.0, 4.0, 28.0, 25.5, 1.4), linear(0, 4, c(PAPER), 0, 26, c(PAPER_SHADE)))
    cv.add(rrect(4.6, 5.6, 26.4, 23.9, 0.8) - rrect(5.4, 6.4, 25.6, 23.1, 0.5), solid(c(BLUE)))
    # heading and text lines
    cv.add(rrect(9.0, 8.4, 22.0, 10.2, 0.9), solid(c(BLUE_DARK)))
    for y, x1 in ((12.6, 23.5), (15.4, 23.5), (18.2, 15.5)):
        cv.add(rrect(8.0, y, x1, y + 1.2, 0.6), solid(c(INK)))
    # seal: ribbons, then a rosette
    cv.add(polygon([(19.5, 22.0), (22.0, 22.0), (21.2, 30.5), (19.6, 28.9), (17.6, 30.2)]), solid(c(rgb('#1F5FBF'))))
    cv.add(polygon([(23.0, 22.0), (25.5, 22.0), (27.6, 30.2), (25.6, 28.9), (24.0, 30.5)]), solid(c(rgb('#1A4E9E'))))
    star = []
    for i in range(24):
        r = 6.2 if i % 2 == 0 else 5.3
        a = math.pi * 2 * i / 24
        star.append((22.5 + r * math.cos(a), 20.5 + r * math.sin(a)))
    cv.add(polygon(star), solid(c(GOLD_DARK)))
    cv.add(circle(22.5, 20.5, 4.9), radial(21.3, 19.3, 6.0, c(GOLD_LIGHT), c(GOLD)))
    cv.add(circle(22.5, 20.5, 3.3) - circle(22.5, 20.5, 2.6), solid(c(rgb('#B98312', 0.8))))


def icon_cert_valid():
    cv = Canvas(32, 32)
    cert_layers(cv)
    return cv.render()


def icon_cert_invalid():
    cv = Canvas(32, 32)
    cert_layers(cv, grey=True)
    # a red cross over the whole certificate, with a light edge to lift it off
    for grow, col in ((1.6, rgb('#FFFFFF', 0.9)), (0.0, RED)):
        w = 4.2 + grow
        cv.add(segment(5.5, 5.5, 26.5, 26.5, w) | segment(26.5, 5.5, 5.5, 26.5, w), solid(col))
    cv.add(segment(6.4, 5.9, 26.0, 25.5, 1.0), solid(rgb('#FF8A80', 0.7)))
    return cv.render()


def icon_key():
    cv = Canvas(32, 32)
    add_key(cv, scale=1.08)
    return cv.render()


def shield(cx, top, w, h):
    """A badge shield: a low dome on top, straight flanks, a curved point."""
    hw = w / 2.0
    n = 32
    right = []
    for i in range(n + 1):  # top edge, centre to right corner
        u = i / n
        right.append((cx + hw * u, top + 0.07 * h * u * u))
    for i in range(1, n + 1):  # right flank down to the tip
        t = i / n
        y = top + 0.07 * h + t * 0.93 * h
        k = 0.0 if t < 0.38 else (t - 0.38) / 0.62
        right.append((cx + hw * (1 - k ** 1.7) ** 0.75, y))
    left = [(2 * cx - x, y) for x, y in reversed(right)]
    return polygon(right + left[1:-1])


def add_emblem(cv, s=1.0, ox=0.0, oy=0.0):
    """The program's mark in a 32-unit box scaled by s: a shield with a key."""
    def sh(cx, top, w, h):
        return transformed(shield(cx, top, w, h), sx=s, ox=ox, oy=oy)
    cv.add(sh(16.0, 1.5, 27.0, 29.5), solid(BLUE_DEEP))
    cv.add(sh(16.0, 2.7, 24.6, 27.2), linear(ox + 6 * s, oy + 2 * s, rgb('#5FA2FF'), ox + 26 * s, oy + 30 * s, BLUE_DARK))
    cv.add(sh(16.0, 4.6, 20.8, 23.4) - sh(16.0, 5.5, 19.0, 21.6), solid(rgb('#BFD8FF', 0.55)))
    add_key(cv, scale=0.8 * s, rot=-50.0, ox=ox + 2.2 * s - 16 * (1 - s), oy=oy - 0.6 * s - 16 * (1 - s))


def icon_app():
    cv = Canvas(32, 32)
    add_emblem(cv)
    return cv.render()


def banner():
    W, H = 402, 108
    top = rgb('#0B3A86')
    mid = rgb('#1F66CF')
    right = rgb('#6FB2F5')

    def bg(x, y):
        t = x / W
        c = mix(top, mid, t / 0.55) if t < 0.55 else mix(mid, right, (t - 0.55) / 0.45)
        # a soft light from the top
        return mix(c, rgb('#FFFFFF'), 0.10 * (1 - y / H))
    cv = Canvas(W, H, background=bg)
    # large translucent rings on the right
    for cx, cy, r, wdt, a in ((352, 112, 96, 14, 0.10), (352, 112, 64, 8, 0.12), (300, -30, 80, 6, 0.08),
                              (396, 20, 40, 5, 0.12)):
        cv.add(circle(cx, cy, r + wdt / 2) - circle(cx, cy, r - wdt / 2), solid(rgb('#FFFFFF', a)))
    # a dotted track running across, like a circuit trace
    for i in range(20):
        x = 124 + i * 14
        y = 78 + 10 * math.sin(i / 3.0)
        cv.add(circle(x, y, 1.6), solid(rgb('#FFFFFF', 0.28)))
    cv.add(segment(124, 30, 250, 30, 1.2) | segment(250, 30, 266, 46, 1.2) | segment(266, 46, 330, 46, 1.2),
           solid(rgb('#FFFFFF', 0.22)))
    cv.add(circle(330, 46, 3.0) - circle(330, 46, 1.6), solid(rgb('#FFFFFF', 0.35)))
    cv.add(circle(124, 30, 2.4), solid(rgb('#FFFFFF', 0.35)))
    # a bright horizon line at the bottom
    cv.add(rrect(0, 102, W, 104, 0), linear(0, 0, rgb('#FFFFFF', 0.0), W, 0, rgb('#FFFFFF', 0.55)))
    # the emblem on the left, in a soft halo
    cv.add(circle(62, 54, 50), radial(62, 54, 50, rgb('#FFFFFF', 0.22), rgb('#FFFFFF', 0.0)))
    add_emblem(cv, s=2.9, ox=62 - 16 * 2.9, oy=54 - 16 * 2.9)
    return cv.render()


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = os.path.join(root, 'res', 'art')
    os.makedirs(out, exist_ok=True)
    png = None
    if len(sys.argv) > 2 and sys.argv[1] == '--png':
        png = sys.argv[2]
        os.makedirs(png, exist_ok=True)
    icons = {'icon-app': icon_app(), 'cert-valid': icon_cert_valid(), 'cert-invalid': icon_cert_invalid(),
             'key': icon_key()}
    for name, px in icons.items():
        write_ico(os.path.join(out, name + '.ico'), px)
        if png:
            write_png(os.path.join(png, name + '.png'), px, scale=4)
    b = banner()
    write_bmp24(os.path.join(out, 'banner.bmp'), b)
    if png:
        write_png(os.path.join(png, 'banner.png'), b, scale=2)


if __name__ == '__main__':
    main()
