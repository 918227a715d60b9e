#!/usr/bin/env python3
"""Draws the program's artwork as XPM text and the hand cursor as a .cur file.

Run from anywhere; it rewrites the files beside it. The art is kept as
character grids so that a change is a readable diff.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# Toolbar art: '.' is the silver background, which the toolbar masks out.
PALETTE = {
    '.': '#C0C0C0', 'k': '#000000', 'w': '#FFFFFF', 'y': '#FFFF00', 'Y': '#808000',
    'b': '#0000FF', 'B': '#000080', 'g': '#00C000', 'G': '#008000', 'r': '#FF0000',
    'R': '#800000', 'd': '#808080', 'l': '#E0E0E0', 'c': '#00FFFF', 'C': '#008080',
    'o': '#FF8000', 's': '#A0A0A0',
}

TOOLBAR = {
    '01_open': [
        "................", "................", "..........kkk...", ".........k...k.k",
        "..............kk", ".kkk.........kkk", "kyykkkkkkk......", "kywyywyywk......",
        "kwyykkkkkkkkkk..", "kyykYYYYYYYYYk..", "kwkYYYYYYYYYk...", "kykYYYYYYYYk....",
        "kkYYYYYYYYYk....", "kkkkkkkkkkk.....", "................", "................"],
    '02_save': [
        "................", ".kkkkkkkkkkkkkk.", ".kBkwwwwwwwwkBk.", ".kBkwwwwwwwwkkk.",
        ".kBkwwwwwwwwkBk.", ".kBkwwwwwwwwkBk.", ".kBBkkkkkkkkBBk.", ".kBBBBBBBBBBBBk.",
        ".kBBkkkkkkkkBBk.", ".kBBkddkllllkBk.", ".kBBkddkllllkBk.", ".kBBkddkllllkBk.",
        "..kkkkkkkkkkkkk.", "................", "................", "................"],
    '03_first': [
        "................", "................", "...kk.......kk..", "...kk......kbk..",
        "...kk.....kbbk..", "...kk....kbbbk..", "...kk...kbbbbk..", "...kk..kbbbbbk..",
        "...kk..kbbbbbk..", "...kk...kbbbbk..", "...kk....kbbbk..", "...kk.....kbbk..",
        "...kk......kbk..", "...kk.......kk..", "................", "................"],
    '04_previous': [
        "................", "................", ".........kk.....", "........kbk.....",
        ".......kbbk.....", "......kbbbkkkkk.", ".....kbbbbbbbbk.", "....kbbbbbbbbbk.",
        "....kbbbbbbbbbk.", ".....kbbbbbbbbk.", "......kbbbkkkkk.", ".......kbbk.....",
        "........kbk.....", ".........kk.....", "................", "................"],
    '05_next': [
        "................", "................", ".....kk.........", ".....kbk........",
        ".....kbbk.......", ".kkkkkbbbk......", ".kbbbbbbbbk.....", ".kbbbbbbbbbk....",
        ".kbbbbbbbbbk....", ".kbbbbbbbbk.....", ".kkkkkbbbk......", ".....kbbk.......",
        ".....kbk........", ".....kk.........", "................", "................"],
    '06_last': [
        "................", "................", "..kk.......kk...", "..kbk......kk...",
        "..kbbk.....kk...", "..kbbbk....kk...", "..kbbbbk...kk...", "..kbbbbbk..kk...",
        "..kbbbbbk..kk...", "..kbbbbk...kk...", "..kbbbk....kk...", "..kbbk.....kk...",
        "..kbk......kk...", "..kk.......kk...", "................", "................"],
    '07_delete': [
        "................", ".rr..........rr.", ".rrr........rrr.", "..rrr......rrr..",
        "...rrr....rrr...", "....rrr..rrr....", ".....rrrrrr.....", "......rrrr......",
        "......rrrr......", ".....rrrrrr.....", "....rrr..rrr....", "...rrr....rrr...",
        "..rrr......rrr..", ".rrr........rrr.", ".rr..........rr.", "................"],
    '08_print': [
        "................", "....kkkkkkkk....", "....kwwwwwwk....", "....kwkkkkwk....",
        "....kwwwwwwk....", ".kkkkkkkkkkkkkk.", "kllllllllllllllk", "klllllllllllgglk",
        "kddddddddddddddk", "kddddddddddddddk", "kdddkkkkkkkkdddk", ".kkkkwwwwwwkkkk.",
        "....kwkkkkwk....", "....kwwwwwwk....", "....kkkkkkkk....", "................"],
    '09_start': [
        "................", "...kk...........", "...kgk..........", "...kggk.........",
        "...kgggk........", "...kggggk.......", "...kgggggk......", "...kggggggk.....",
        "...kggggggk.....", "...kgggggk......", "...kggggk.......", "...kgggk........",
        "...kggk.........", "...kgk..........", "...kk...........", "................"],
    '10_stop': [
        "................", "................", "..kkkkkkkkkkkk..", "..krrrrrrrrrrk..",
        "..krrrrrrrrrrk..", "..krrrrrrrrrrk..", "..krrrrrrrrrrk..", "..krrrrrrrrrrk..",
        "..krrrrrrrrrrk..", "..krrrrrrrrrrk..", "..krrrrrrrrrrk..", "..krrrrrrrrrrk..",
        "..krrrrrrrrrrk..", "..kkkkkkkkkkkk..", "................", "................"],
    '11_magnify': [
        "................", "....kkkkk.......", "...kwwwwwk......", "..kwwwkwwwk.....",
        ".kwwwwkwwwwk....", ".kwwkkkkkwwk....", ".kwwwwkwwwwk....", "..kwwwkwwwk.....",
        "...kwwwwwkk.....", "....kkkkkkkk....", ".........kkkk...", "..........kkkk..",
        "...........kkkk.", "............kkk.", "................", "................"],
    '12_shrink': [
        "................", "....kkkkk.......", "...kwwwwwk......", "..kwwwwwwwk.....",
        ".kwwwwwwwwwk....", ".kwwkkkkkwwk....", ".kwwwwwwwwwk....", "..kwwwwwwwk.....",
        "...kwwwwwkk.....", "....kkkkkkkk....", ".........kkkk...", "..........kkkk..",
        "...........kkkk.", "............kkk.", "................", "................"],
    '13_about': [
        "................", ".....kkkkkk.....", "...kkbbbbbbkk...", "..kbbbbwwbbbbk..",
        "..kbbbbwwbbbbk..", ".kbbbbbbbbbbbbk.", ".kbbbbwwwbbbbbk.", ".kbbbbbwwbbbbbk.",
        ".kbbbbbwwbbbbbk.", ".kbbbbbwwbbbbbk.", "..kbbbbwwbbbbk..", "..kbbbwwwwbbbk..",
        "...kkbbbbbbkk...", ".....kkkkkk.....", "................", "................"],
    '14_exit': [
        "................", ".kkkkkkkkk......", ".kYYYYYYYk......", ".kYYYYYYYk......",
        ".kYYYYYYYk...k..", ".kYYYYYYYk...kk.", ".kYYYkYkkkkkkrk.", ".kYYYYYkrrrrrrrk",
        ".kYYYYYkrrrrrrrk", ".kYYYkYkkkkkkrk.", ".kYYYYYYYk...kk.", ".kYYYYYYYk...k..",
        ".kYYYYYYYk......", ".kYYYYYYYk......", ".kkkkkkkkk......", "................"],
}


def write_xpm(path, rows, palette):
    used = sorted({c for row in rows for c in row})
    name = os.path.splitext(os.path.basename(path))[0]
    lines = ['/* XPM */', 'static const char *%s[] = {' % ('art_' + name),
             '"%d %d %d 1",' % (len(rows[0]), len(rows), len(used))]
    lines += ['"%s c %s",' % (c, palette[c]) for c in used]
    lines += ['"%s",' % row for row in rows[:-1]] + ['"%s"' % rows[-1], '};']
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'w') as f:
        f.write('\n'.join(lines) + '\n')


def canvas(w, h, fill):
    return [[fill] * w for _ in range(h)]


def rect(c, x0, y0, x1, y1, col):
    for y in range(y0, y1):
        for x in range(x0, x1):
            c[y][x] = col


def frame_icon():
    """A framed landscape: sky, sun, green hills."""
    c = canvas(32, 32, ' ')
    rect(c, 1, 4, 31, 28, 'k')
    rect(c, 2, 5, 30, 27, 'c')
    for y in range(5, 27):  # hills
        for x in range(2, 30):
            if y > 18 + ((x - 10) ** 2) // 40 or y > 21 + ((x - 24) ** 2) // 30:
                c[y][x] = 'G' if (x + y) % 5 else 'g'
    for y in range(7, 14):  # sun
        for x in range(20, 28):
            if (x - 23.5) ** 2 + (y - 10) ** 2 <= 10:
                c[y][x] = 'y'
    return [''.join(r) for r in c], {' ': 'None', 'k': '#000000', 'c': '#80C0FF', 'G': '#008000', 'g': '#00A000', 'y': '#FFE000'}


def child_icon():
    """A photo print with a magnifier over it."""
    c = canvas(32, 32, ' ')
    rect(c, 2, 2, 24, 22, 'k')
    rect(c, 3, 3, 23, 21, 'w')
    rect(c, 5, 5, 21, 17, 'b')
    rect(c, 5, 13, 21, 17, 'g')
    for y in range(12, 31):
        for x in range(12, 31):
            d = (x - 19) ** 2 + (y - 19) ** 2
            if 30 <= d <= 45:
                c[y][x] = 'k'
            elif d < 30:
                c[y][x] = 'l'
    for i in range(5):
        for t in range(3):
            x, y = 24 + i + t // 2, 24 + i + (t + 1) // 2
            if x < 32 and y < 32:
                c[y][x] = 'R'
    return [''.join(r) for r in c], {' ': 'None', 'k': '#000000', 'w': '#FFFFFF', 'b': '#4080FF', 'g': '#00A000', 'l': '#C0E0FF', 'R': '#800000'}


def logo():
    """48 x 36, 16-colour: a film frame with a large teal V."""
    c = canvas(48, 36, 'k')
    rect(c, 0, 2, 48, 34, 'd')
    for x in range(2, 48, 6):
        rect(c, x, 3, x + 3, 5, 'k')
        rect(c, x, 31, x + 3, 33, 'k')
    rect(c, 3, 7, 45, 29, 'B')
    for y in range(8, 28):
        half = (28 - y) * 9 // 20 + 1
        for x in range(24 - half - 3, 24 - half + 1):
            c[y][x] = 'C'
        for x in range(24 + half - 1, 24 + half + 3):
            c[y][x] = 'c'
    rect(c, 35, 9, 40, 12, 'y')
    return [''.join(r) for r in c], {'k': '#000000', 'd': '#808080', 'B': '#000080', 'C': '#008080', 'c': '#00FFFF', 'y': '#FFFF00'}


HAND = [
    "................................", "................................",
    "................................", "................................",
    "................................", "................................",
    "...........XX.XX.XX.............", "..........XooXooXooXX............",
    "..........XooXooXooXoX..........", "..........XooXooXooXoX..........",
    "........XXXoooooooooooX.........", ".......XoXXoooooooooooX.........",
    ".......XooXoooooooooooX.........", "........XooooooooooooX..........",
    "........XooooooooooooX..........", ".........XoooooooooooX..........",
    "..........XooooooooX............", "...........XoooooooX............",
    "...........XoooooooX............", "...........XXXXXXXXX............",
] + ["................................"] * 12
HAND = [row.ljust(32, ".")[:32] for row in HAND]
HOTSPOT = (15, 13)


def write_cursor(path):
    h, w = len(HAND), len(HAND[0])
    pixels = b''
    mask_rows = []
    for row in reversed(HAND):  # bottom-up, as bitmaps are stored
        bits = 0
        for x, ch in enumerate(row):
            if ch == 'X':
                pixels += b'\x00\x00\x00\xff'
            elif ch == 'o':
                pixels += b'\xff\xff\xff\xff'
            else:
                pixels += b'\x00\x00\x00\x00'
                bits |= 1 << (31 - x)
        mask_rows.append(struct.pack('>I', bits))
    header = struct.pack('<IiiHHIIiiII', 40, w, h * 2, 1, 32, 0, len(pixels), 0, 0, 0, 0)
    image = header + pixels + b''.join(mask_rows)
    directory = struct.pack('<HHH', 0, 2, 1) + struct.pack('<BBBBHHII', w, h, 0, 0, HOTSPOT[0], HOTSPOT[1], len(image), 22)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(directory + image)
    write_xpm(os.path.splitext(path)[0] + '.xpm', HAND, {'.': 'None', 'X': '#000000', 'o': '#FFFFFF'})


def write_png(path, rows, palette, size):
    """The pixel art scaled by whole steps (nearest neighbour), as RGBA PNG."""
    n = len(rows)

    def rgba(ch):
        col = palette[ch]
        if col == 'None':
            return b'\0\0\0\0'
        return bytes.fromhex(col[1:]) + b'\xff'

    raw = b''
    for y in range(size):
        row = rows[y * n // size]
        raw += b'\0' + b''.join(rgba(row[x * n // size]) for x in range(size))

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff)

    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0))
                + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def main():
    for name, rows in TOOLBAR.items():
        assert len(rows) == 16 and all(len(r) == 16 for r in rows), name
        write_xpm(os.path.join(HERE, 'toolbar', name + '.xpm'), rows, PALETTE)
    rows, pal = frame_icon()
    write_xpm(os.path.join(HERE, 'icons', 'vellupix.xpm'), rows, pal)
    for size in (16, 32, 48, 64, 128, 256):
        write_png(os.path.join(HERE, 'hicolor', '%dx%d' % (size, size), 'apps', 'org.vellupix.Vellupix.png'),
                  rows, pal, size)
    rows, pal = child_icon()
    write_xpm(os.path.join(HERE, 'icons', 'picture_window.xpm'), rows, pal)
    rows, pal = logo()
    write_xpm(os.path.join(HERE, 'about', 'logo.xpm'), rows, pal)
    write_cursor(os.path.join(HERE, 'cursors', 'hand.cur'))


if __name__ == '__main__':
    main()
