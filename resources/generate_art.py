#!/usr/bin/env python3
"""Draws the program's artwork as XPM text and the hand cursor as a .cur file,
and renders the PNGs drawn as SVG: the application icon's sizes and the
images for a device pixel ratio of 2 (the @2x files).

Run from anywhere; it rewrites the files beside it (rsvg-convert, from
Debian's librsvg2-bin, must be on the PATH). The 16-pixel art is kept as
character grids and the rest as SVG text, so that a change is a readable diff.
"""
import os
import struct
import subprocess

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


# The same fourteen images drawn for a device pixel ratio of 2: 32 x 32, one
# unit one device pixel, in the colours of the 16-pixel art. Outlines are two
# units wide on whole coordinates, so straight edges stay sharp.
OUTLINE = 'stroke="#000000" stroke-width="2" stroke-linejoin="miter"'
TOOLBAR_2X = {
    '01_open': f"""
        <path d="M18 9 C 20 3, 27 3, 28 9" fill="none" stroke="#000000" stroke-width="2"/>
        <path d="M24 8 L 31 8 L 28 13 Z" fill="#000000"/>
        <path d="M2 11 H 8 L 10 13 H 20 V 27 H 2 Z" fill="#FFFF00" {OUTLINE}/>
        <path d="M5 15 H 9 M5 18 H 7 M5 21 H 9 M5 24 H 7" stroke="#FFFFFF" stroke-width="1.5"/>
        <path d="M8 17 H 29 L 23 27 H 2 Z" fill="#808000" {OUTLINE}/>""",
    '02_save': f"""
        <rect x="3" y="3" width="26" height="24" fill="#000080" {OUTLINE}/>
        <rect x="8" y="3" width="15" height="10" fill="#FFFFFF" {OUTLINE}/>
        <path d="M10 6 H 21 M10 9 H 18" stroke="#808080" stroke-width="1"/>
        <rect x="25" y="5" width="2" height="3" fill="#000000"/>
        <rect x="9" y="18" width="15" height="9" fill="#E0E0E0" {OUTLINE}/>
        <rect x="11" y="20" width="4" height="6" fill="#808080"/>""",
    '03_first': f"""
        <rect x="5" y="5" width="4" height="22" fill="#000000"/>
        <path d="M12 16 L 26 5 V 27 Z" fill="#0000FF" {OUTLINE}/>""",
    '04_previous': f"""
        <path d="M3 16 L 15 5 V 11 H 29 V 21 H 15 V 27 Z" fill="#0000FF" {OUTLINE}/>""",
    '05_next': f"""
        <path d="M29 16 L 17 5 V 11 H 3 V 21 H 17 V 27 Z" fill="#0000FF" {OUTLINE}/>""",
    '06_last': f"""
        <path d="M6 5 L 20 16 L 6 27 Z" fill="#0000FF" {OUTLINE}/>
        <rect x="23" y="5" width="4" height="22" fill="#000000"/>""",
    '07_delete': """
        <path d="M4 4 L 28 28 M28 4 L 4 28" stroke="#FF0000" stroke-width="5"/>""",
    '08_print': f"""
        <rect x="9" y="3" width="14" height="9" fill="#FFFFFF" {OUTLINE}/>
        <path d="M12 6 H 20 M12 9 H 18" stroke="#808080" stroke-width="1"/>
        <rect x="2" y="12" width="28" height="11" fill="#808080" {OUTLINE}/>
        <rect x="3" y="13" width="26" height="4" fill="#E0E0E0"/>
        <rect x="24" y="14" width="3" height="2" fill="#00C000"/>
        <rect x="7" y="19" width="18" height="2" fill="#000000"/>
        <rect x="9" y="21" width="14" height="8" fill="#FFFFFF" {OUTLINE}/>
        <path d="M12 24 H 20 M12 27 H 18" stroke="#000000" stroke-width="1"/>""",
    '09_start': f"""
        <path d="M7 3 L 27 16 L 7 29 Z" fill="#00C000" {OUTLINE}/>""",
    '10_stop': f"""
        <rect x="5" y="5" width="22" height="22" fill="#FF0000" {OUTLINE}/>""",
    '11_magnify': f"""
        <path d="M19 19 L 28 28" stroke="#000000" stroke-width="5" stroke-linecap="round"/>
        <circle cx="12" cy="12" r="9" fill="#FFFFFF" {OUTLINE}/>
        <rect x="7" y="11" width="10" height="2" fill="#000000"/>
        <rect x="11" y="7" width="2" height="10" fill="#000000"/>""",
    '12_shrink': f"""
        <path d="M19 19 L 28 28" stroke="#000000" stroke-width="5" stroke-linecap="round"/>
        <circle cx="12" cy="12" r="9" fill="#FFFFFF" {OUTLINE}/>
        <rect x="7" y="11" width="10" height="2" fill="#000000"/>""",
    '13_about': f"""
        <circle cx="16" cy="16" r="13" fill="#0000FF" {OUTLINE}/>
        <circle cx="16" cy="9" r="2.5" fill="#FFFFFF"/>
        <path d="M12 13 H 18 V 23 H 20 V 25 H 12 V 23 H 14 V 15 H 12 Z" fill="#FFFFFF"/>""",
    '14_exit': f"""
        <rect x="3" y="3" width="16" height="26" fill="#808000" {OUTLINE}/>
        <rect x="8" y="15" width="2" height="2" fill="#000000"/>
        <path d="M13 13 H 22 V 8 L 30 16 L 22 24 V 19 H 13 Z" fill="#FF0000" {OUTLINE}/>""",
}

# The About logo drawn for a device pixel ratio of 2 (96 x 72) in the
# 48 x 36 logo's own coordinates: the same film frame and V, with the V's
# slopes and the sprocket holes drawn at the finer pixels instead of doubled.
LOGO_2X = """<svg xmlns="http://www.w3.org/2000/svg" width="96" height="72" viewBox="0 0 48 36">
  <rect width="48" height="36" fill="#000000"/>
  <rect y="2" width="48" height="32" fill="#808080"/>
  %s
  <rect x="3" y="7" width="42" height="22" fill="#000080"/>
  <path d="M11 8 H 15 L 24 28 H 20 Z" fill="#008080"/>
  <path d="M33 8 H 37 L 28 28 H 24 Z" fill="#00FFFF"/>
  <rect x="35" y="9" width="5" height="3" fill="#FFFF00"/>
</svg>
""" % '\n  '.join('<rect x="%d" y="%d" width="3" height="2" rx="0.5" fill="#000000"/>' % (x, y)
                  for x in range(2, 48, 6) for y in (3, 31))


def render_svg(svg, path, width, height):
    """Renders SVG text (or an SVG file) to a PNG with librsvg's rsvg-convert."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if os.path.exists(svg):
        subprocess.run(['rsvg-convert', '-w', str(width), '-h', str(height), '-o', path, svg], check=True)
    else:
        subprocess.run(['rsvg-convert', '-w', str(width), '-h', str(height), '-o', path],
                       input=svg.encode(), check=True)


def main():
    for name, rows in TOOLBAR.items():
        assert len(rows) == 16 and all(len(r) == 16 for r in rows), name
        write_xpm(os.path.join(HERE, 'toolbar', name + '.xpm'), rows, PALETTE)
        svg = ('<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">%s\n</svg>\n'
               % TOOLBAR_2X[name])
        render_svg(svg, os.path.join(HERE, 'toolbar', name + '@2x.png'), 32, 32)
    rows, pal = frame_icon()
    write_xpm(os.path.join(HERE, 'icons', 'vellupix.xpm'), rows, pal)
    # The application icon: every size from the scalable drawing but 16
    # pixels, which has a drawing of its own so that its frame stays whole.
    scalable = os.path.join(HERE, 'hicolor', 'scalable', 'apps', 'org.vellupix.Vellupix.svg')
    for size in (16, 32, 48, 64, 128, 256):
        source = os.path.join(HERE, 'icons', 'org.vellupix.Vellupix-16.svg') if size == 16 else scalable
        render_svg(source, os.path.join(HERE, 'hicolor', '%dx%d' % (size, size), 'apps', 'org.vellupix.Vellupix.png'),
                   size, size)
    rows, pal = child_icon()
    write_xpm(os.path.join(HERE, 'icons', 'picture_window.xpm'), rows, pal)
    rows, pal = logo()
    write_xpm(os.path.join(HERE, 'about', 'logo.xpm'), rows, pal)
    render_svg(LOGO_2X, os.path.join(HERE, 'about', 'logo@2x.png'), 96, 72)
    write_cursor(os.path.join(HERE, 'cursors', 'hand.cur'))


if __name__ == '__main__':
    main()
