#!/usr/bin/env python3
"""Draws the ten 16 x 16 list icons (pixel art) into this folder as PNG files.

Run it again after changing a drawing; the PNG files are what the program loads.
"""
import math
import os
import struct
import zlib

PALETTE = {
    '.': None,
    'k': (16, 24, 96),      # outline, dark navy
    'b': (24, 80, 216),     # blue
    'l': (120, 168, 255),   # light blue
    'c': (40, 216, 240),    # cyan
    'w': (236, 252, 255),   # near white
    'r': (216, 24, 24),     # red
    'R': (112, 0, 0),       # dark red
    'p': (255, 168, 160),   # red highlight
    'g': (24, 168, 40),     # green
    'G': (0, 80, 16),       # dark green
    'y': (255, 216, 0),     # yellow
    'Y': (120, 88, 0),      # dark yellow
    's': (192, 192, 192),   # grey
    'S': (112, 112, 112),   # dark grey
    'd': (0, 120, 152),     # dark cyan
}

GRIDS = {
    'coclass': """
        ......RRRR......
        ....RRpprrRR....
        ...RppprrrrrR...
        ...RpprrrrrrR...
        ...RrrrrrrrrR...
        ...RrrrrrrrrR...
        ....RRrrrrRR....
        ......RRRR......
        ..kkkkkkkkkkkk..
        .kllllllllllllk.
        .kbbbbbbbbbbbbk.
        .kbbbbbbbbbbbbk.
        .kbbbbbbbbbbbbk.
        .kbbbbbbbbbbbbk.
        .kkkkkkkkkkkkkk.
        ................""",
    'interface': """
        .......kk.......
        ......kbbk......
        .....kbccbk.....
        ....kbc..cbk....
        ...kbc....cbk...
        ..kbc......cbk..
        .kbc........cbk.
        kbc..........cbk
        kbc..........cbk
        .kbc........cbk.
        ..kbc......cbk..
        ...kbc....cbk...
        ....kbc..cbk....
        .....kbccbk.....
        ......kbbk......
        .......kk.......""",
    'enumeration': """
        .......kk.......
        .......kk.......
        ......klbk......
        ......klbk......
        .....klbbbk.....
        .....klbbbk.....
        ....klbbbbbk....
        ....klbbbbbk....
        ...klbbbbbbbk...
        ...klbbbbbbbk...
        ..klbbbbbbbbbk..
        ..klbbbbbbbbbk..
        .klbbbbbbbbbbbk.
        .kllbbbbbbbbbbk.
        ..kkbbbbbbbbkk..
        ....kkkkkkkk....""",
    'record': """
        ................
        ................
        ....kkkkkkkkkkk.
        ...kcwcwcwcwcwk.
        ..kcwcwcwcwcwkk.
        .kkkkkkkkkkkkSk.
        .kssssssssssksk.
        .kkkkkkkkkkkkSk.
        .kssssssssssksk.
        .kkkkkkkkkkkkSk.
        .kssssssssssksk.
        .kkkkkkkkkkkkSk.
        .kssssssssssksk.
        .kkkkkkkkkkkkk..
        ................
        ................""",
    'property': """
        ................
        ....kkkkkkkkkkk.
        ...kcwcwcwcwcwk.
        ..kcwcwcwcwcwkk.
        .kkkkkkkkkkkkbk.
        .kllllllllllkbk.
        .klbbbbbbbbbkbk.
        .klbbbbbbbbbkbk.
        .klbbbbbbbbbkbk.
        .klbbbbbbbbbkbk.
        .klbbbbbbbbbkbk.
        .klbbbbbbbbbkbk.
        .klbbbbbbbbbkk..
        .kkkkkkkkkkkk...
        ................
        ................""",
}


def from_grid(text):
    rows = [r.strip() for r in text.strip().splitlines()]
    assert len(rows) == 16, len(rows)
    for r in rows:
        assert len(r) == 16, r
    return [[PALETTE[ch] for ch in r] for r in rows]


def outlined(fill, outline):
    """fill(x, y) -> colour or None at pixel centres; adds a one-pixel outline around it."""
    img = [[fill(x + 0.5, y + 0.5) for x in range(16)] for y in range(16)]
    out = [row[:] for row in img]
    for y in range(16):
        for x in range(16):
            if img[y][x] is not None:
                continue
            for dy in (-1, 0, 1):
                for dx in (-1, 0, 1):
                    yy, xx = y + dy, x + dx
                    if 0 <= yy < 16 and 0 <= xx < 16 and img[yy][xx] is not None:
                        out[y][x] = outline
    return out


def in_triangle(px, py, a, b, c):
    def side(p, q, r):
        return (p[0] - r[0]) * (q[1] - r[1]) - (q[0] - r[0]) * (p[1] - r[1])
    d1, d2, d3 = side((px, py), a, b), side((px, py), b, c), side((px, py), c, a)
    neg = d1 < 0 or d2 < 0 or d3 < 0
    pos = d1 > 0 or d2 > 0 or d3 > 0
    return not (neg and pos)


def alias():
    blue = ((5.5, 1), (10.5, 10), (0.5, 10))
    red = ((10.5, 5), (15.5, 14.5), (5.5, 14.5))
    k = PALETTE['k']

    def tri_with_edge(tri, fill, edge, x, y):
        if not in_triangle(x, y, *tri):
            return None
        # pixels near the border get the edge colour
        for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
            if not in_triangle(x + dx, y + dy, *tri):
                return edge
        return fill

    img = [[None] * 16 for _ in range(16)]
    for y in range(16):
        for x in range(16):
            cx, cy = x + 0.5, y + 0.5
            c = tri_with_edge(red, PALETTE['r'], PALETTE['R'], cx, cy)
            if c is None:
                c = tri_with_edge(blue, PALETTE['b'], k, cx, cy)
            img[y][x] = c
    return img


def dist_to_segment(px, py, a, b):
    ax, ay = a
    bx, by = b
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


def zigzag_arrow(body, light, outline):
    # a Z: right along the top, back down to the left, right again into the head
    points = [(1.5, 2.5), (9.5, 2.5), (3.0, 11.5), (10.0, 11.5)]
    head = ((15.0, 11.5), (10.0, 7.0), (10.0, 16.0))

    def fill(x, y):
        if in_triangle(x, y, *head):
            return body
        d = min(dist_to_segment(x, y, points[i], points[i + 1]) for i in range(len(points) - 1))
        if d <= 1.0:
            # the top stroke is lit
            return light if y < 4 else body
        return None

    return outlined(fill, outline)


def constant():
    def fill(x, y):
        d = math.hypot(x - 8, y - 8)
        if d <= 3.2:
            return PALETTE['l'] if math.hypot(x - 7, y - 7) < 1.2 else PALETTE['b']
        return None
    return outlined(fill, PALETTE['k'])


def field():
    def fill(x, y):
        if abs(x - 8) / 7.5 + abs(y - 8) / 4.0 <= 1.0:
            return PALETTE['c'] if (int(x) + int(y)) % 2 == 0 else PALETTE['w']
        return None
    return outlined(fill, PALETTE['d'])


def write_png(path, img):
    raw = b''
    for row in img:
        raw += b'\x00'
        for c in row:
            raw += bytes((0, 0, 0, 0)) if c is None else bytes((c[0], c[1], c[2], 255))

    def chunk(tag, data):
        body = tag + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body) & 0xFFFFFFFF)

    png = b'\x89PNG\r\n\x1a\n'
    png += chunk(b'IHDR', struct.pack('>IIBBBBB', 16, 16, 8, 6, 0, 0, 0))
    png += chunk(b'IDAT', zlib.compress(raw, 9))
    png += chunk(b'IEND', b'')
    with open(path, 'wb') as f:
        f.write(png)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    images = {name: from_grid(text) for name, text in GRIDS.items()}
    images['alias'] = alias()
    images['method'] = zigzag_arrow(PALETTE['g'], (120, 232, 120), PALETTE['G'])
    images['event'] = zigzag_arrow(PALETTE['y'], (255, 248, 176), PALETTE['Y'])
    images['constant'] = constant()
    images['field'] = field()
    for name, img in images.items():
        write_png(os.path.join(here, name + '.png'), img)


if __name__ == '__main__':
    main()
