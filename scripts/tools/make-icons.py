#!/usr/bin/env python3
"""Draws the toolbar pictures and the window icon (32 x 32 XPM) of the utility.

Run from the repository root: scripts/tools/make-icons.py app/resources
"""
import math
import sys

SIZE = 32
PALETTE = {
    ' ': 'None',      # transparent
    'k': '#000000',
    'w': '#FFFFFF',
    'g': '#00C000',
    'd': '#006000',
    'r': '#E00000',
    'b': '#2050C0',
    'y': '#F0C020',
    'e': '#808080',
    'l': '#D8D8D8',
}


def canvas():
    return [[' '] * SIZE for _ in range(SIZE)]


def rect(c, x0, y0, x1, y1, ch):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            c[y][x] = ch


def frame(c, x0, y0, x1, y1, ch):
    for x in range(x0, x1 + 1):
        c[y0][x] = c[y1][x] = ch
    for y in range(y0, y1 + 1):
        c[y][x0] = c[y][x1] = ch


def disc(c, cx, cy, r, ch, inner=-1.0):
    for y in range(SIZE):
        for x in range(SIZE):
            d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
            if inner <= d <= r:
                c[y][x] = ch


def polygon(c, pts, ch):
    for y in range(SIZE):
        for x in range(SIZE):
            px, py = x + 0.5, y + 0.5
            inside = False
            j = len(pts) - 1
            for i in range(len(pts)):
                xi, yi = pts[i]
                xj, yj = pts[j]
                if (yi > py) != (yj > py) and px < (xj - xi) * (py - yi) / (yj - yi) + xi:
                    inside = not inside
                j = i
            if inside:
                c[y][x] = ch


def page(c):
    polygon(c, [(6, 2), (21, 2), (27, 8), (27, 30), (6, 30)], 'w')
    frame(c, 6, 2, 26, 29, 'k')
    polygon(c, [(21, 2), (27, 8), (21, 8)], 'l')


def add_file():
    c = canvas()
    page(c)
    rect(c, 9, 8, 18, 8, 'e')
    rect(c, 9, 11, 20, 11, 'e')
    rect(c, 9, 14, 16, 14, 'e')
    disc(c, 22, 23, 8, 'g')
    rect(c, 21, 18, 23, 28, 'w')
    rect(c, 17, 22, 27, 24, 'w')
    return c


def update():
    c = canvas()
    rect(c, 6, 16, 26, 28, 'k')          # the module
    for x in range(8, 26, 3):
        rect(c, x, 29, x, 31, 'e')        # its pins
    rect(c, 9, 19, 23, 25, 'e')
    polygon(c, [(16, 15), (8, 7), (13, 7), (13, 1), (19, 1), (19, 7), (24, 7)], 'g')
    return c


def spare():
    c = canvas()
    disc(c, 16, 16, 13, 'e')
    disc(c, 16, 16, 5, ' ')
    for k in range(8):
        a = k * math.pi / 4
        disc(c, 16 + 13 * math.cos(a), 16 + 13 * math.sin(a), 3, ' ')
    return c


def exit_door():
    c = canvas()
    rect(c, 4, 2, 18, 30, 'e')
    polygon(c, [(4, 2), (14, 6), (14, 30), (4, 30)], 'b')
    rect(c, 11, 17, 12, 18, 'y')
    polygon(c, [(31, 16), (23, 8), (23, 13), (16, 13), (16, 19), (23, 19), (23, 24)], 'r')
    return c


def expert_key():
    c = canvas()
    disc(c, 10, 12, 8, 'y')
    disc(c, 10, 12, 3, ' ')
    polygon(c, [(15, 15), (18, 12), (30, 24), (27, 27)], 'y')
    polygon(c, [(22, 22), (25, 19), (28, 22), (25, 25)], 'y')
    rect(c, 24, 25, 25, 28, 'y')
    return c


def app_icon():
    c = canvas()
    disc(c, 16, 16, 15, 'g', inner=7)
    polygon(c, [(16, 16), (32, 0), (32, 13)], ' ')
    polygon(c, [(16, 0), (16, 11), (24, 6)], 'g')
    return c


def write_xpm(path, name, c):
    used = sorted({ch for row in c for ch in row})
    lines = ['/* XPM */', 'static const char *%s[] = {' % name,
             '"%d %d %d 1",' % (SIZE, SIZE, len(used))]
    lines += ['"%s c %s",' % (ch, PALETTE[ch]) for ch in used]
    rows = ['"%s"' % ''.join(row) for row in c]
    lines.append(',\n'.join(rows))
    lines.append('};')
    with open(path, 'w') as f:
        f.write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    out = sys.argv[1] if len(sys.argv) > 1 else '.'
    for file, draw in [('addfile', add_file), ('update', update), ('spare', spare), ('exit', exit_door),
                       ('expert', expert_key), ('app', app_icon)]:
        write_xpm('%s/%s.xpm' % (out, file), file + '_xpm', draw())
