#!/usr/bin/env python3
"""Draws the skin bitmaps (24-bit BMP) of the frame and the buttons. Deterministic: the same
pictures on every build. Magenta is transparent in the frame pieces, black in button faces."""
import struct
import sys

MAGENTA = (255, 0, 255)
BLACK = (0, 0, 0)


def write_bmp(path, w, h, pixel):
    row = (w * 3 + 3) & ~3
    data = bytearray()
    for y in range(h - 1, -1, -1):
        line = bytearray()
        for x in range(w):
            r, g, b = pixel(x, y)
            line += bytes((b, g, r))
        line += b"\0" * (row - w * 3)
        data += line
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


CAPTION_TOP = (92, 132, 196)
CAPTION_BOTTOM = (52, 86, 146)
EDGE = (40, 64, 110)


def caption_colour(y, h=29):
    if y == 0:
        return EDGE
    return mix(CAPTION_TOP, CAPTION_BOTTOM, (y - 1) / (h - 2))


def side_border(x, y):
    # Column 0 is painted; column 1 is the second variant (lighter).
    if y < 29:
        c = caption_colour(y)
    else:
        c = EDGE
    if x == 1:
        c = mix(c, (255, 255, 255), 0.3)
    # Rounded top corners: the first rows of the outer column are cut away.
    if y < 3:
        return MAGENTA
    return c


def caption(x, y, w=131):
    # Rounded corners: a few transparent pixels at the top-left and top-right.
    for cx, rows in ((0, 3), (1, 2), (2, 1)):
        if (x == cx or x == w - 2 - cx or x == w - 1) and y < rows:
            return MAGENTA
    if x == w - 1:
        return MAGENTA  # the last column is never copied
    c = caption_colour(y)
    # A soft highlight band under the top edge.
    if 1 <= y <= 2:
        c = mix(c, (255, 255, 255), 0.25)
    return c


def bottom(x, y):
    return EDGE if y == 0 else mix(EDGE, (255, 255, 255), 0.3)


def glyph_close(x, y):
    return (abs(x - y) <= 0 or abs(x + y - 15) <= 0) and 4 <= x <= 11 and 4 <= y <= 11


def glyph_min(x, y):
    return 4 <= x <= 11 and 10 <= y <= 11


def glyph_menu(x, y):
    # A small downward triangle.
    return 6 <= y <= 10 and abs(x - 7.5) <= (10 - y) + 0.5


def caption_button(glyph, hot_colour, w=16, h=16):
    def pixel(x, y):
        state, lx = divmod(x, w)
        inside = 1 <= lx <= w - 2 and 1 <= y <= h - 2
        rounded = (lx in (1, w - 2)) and (y in (1, h - 2))
        if glyph(lx * 16 // w, y * 16 // h):
            return (255, 255, 255)
        if state == 1 and inside and not rounded:
            return hot_colour
        return MAGENTA
    return pixel


def face(top, bottom_colour, border):
    w, h = 75, 23

    def pixel(x, y):
        corner = (x in (0, w - 1)) and (y in (0, h - 1))
        if corner:
            return BLACK
        if x in (0, w - 1) or y in (0, h - 1):
            return border
        return mix(top, bottom_colour, y / (h - 1))
    return w, h, pixel


def float_panel():
    """The floating window's background: a light-blue rounded panel with an upload arrow at the
    left; the status line is drawn from x 20."""
    w, h = 160, 22
    border = (96, 146, 206)
    outside = (244, 248, 253)

    def inside_round(x, y, r):
        # Distance test against the nearest corner circle (radius r) for the rounded outline.
        cx = r if x < r else (w - 1 - r if x > w - 1 - r else x)
        cy = r if y < r else (h - 1 - r if y > h - 1 - r else y)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r + 0.5

    def arrow(x, y):
        # An upward arrow: a triangle head over a two-pixel stem.
        mid = 9.5
        if 4 <= y <= 9 and abs(x - mid) <= (y - 4) + 0.5:
            return True
        return 10 <= y <= 16 and 9 <= x <= 10

    def pixel(x, y):
        if not inside_round(x, y, 4):
            return outside
        # The outline: panel pixels with a neighbour outside the panel.
        if not all(0 <= nx < w and 0 <= ny < h and inside_round(nx, ny, 4)
                   for nx, ny in ((x - 1, y), (x + 1, y), (x, y - 1), (x, y + 1))):
            return border
        if arrow(x, y):
            return (52, 120, 210)
        return mix((236, 244, 253), (204, 223, 246), y / (h - 1))
    return w, h, pixel


def glyph_face(glyph, top, bottom_colour, border, ink):
    """A button face with a small glyph left of where the text sits (the text is offset right)."""
    w, h, base = face(top, bottom_colour, border)

    def pixel(x, y):
        if glyph(x - 8, y - 6):
            return ink
        return base(x, y)
    return w, h, pixel


def glyph_download(x, y):
    # A down arrow over a tray line, 11 x 11.
    if 0 <= y <= 5 and 4 <= x <= 6:
        return True
    if 5 <= y <= 8 and abs(x - 5) <= 8 - y:
        return True
    return y == 10 and 0 <= x <= 10


def glyph_delete(x, y):
    # A cross, 11 x 11.
    return 0 <= x <= 10 and 0 <= y <= 10 and (abs(x - y) <= 0 or abs(x - (10 - y)) <= 0 or
                                              abs(x - y) == 1 or abs(x - (10 - y)) == 1)


def column_face(top, bottom_colour, line):
    """A column header face: a vertical gradient with a line at the bottom and a divider at the
    right; wide enough for the widest column and even across, so a narrower button looks alike."""
    w, h = 240, 23

    def pixel(x, y):
        if y == h - 1 or x == w - 1:
            return line
        return mix(top, bottom_colour, y / (h - 1))
    return w, h, pixel


def head_strip(x, y):
    # The header bar's select-all area, copied one column at a time.
    return mix((255, 255, 255), (226, 233, 244), y / 25)


def separator(x, y):
    return (204, 214, 228)


# The main dialog's colours: its background and the line under the tab strip.
MAIN_BACKGROUND = (0xEB, 0xF0, 0xF8)
MAIN_LINE = (0xBE, 0xCC, 0xE2)


def header_band(w, h):
    """The main dialog's header picture: a light band over the dialog's top area, fading into the
    dialog's background, with a faint line at its foot; the greeting and the address go on it."""
    def pixel(x, y):
        if y == h - 1:
            return mix(MAIN_BACKGROUND, MAIN_LINE, 0.35)
        return mix((255, 255, 255), MAIN_BACKGROUND, y / (h - 2))
    return pixel


def write_ico(path, sizes, pixel):
    """A 32-bit icon with one image per size; pixel(x, y, size) gives (r, g, b, a)."""
    images = []
    for size in sizes:
        xor = bytearray()
        mask = bytearray()
        mask_row = ((size + 31) // 32) * 4
        for y in range(size - 1, -1, -1):
            bits = 0
            row = bytearray()
            for x in range(size):
                r, g, b, a = pixel(x, y, size)
                xor += bytes((b, g, r, a))
                bits = (bits << 1) | (1 if a == 0 else 0)
                if x % 8 == 7:
                    row.append(bits)
                    bits = 0
            if size % 8:
                row.append(bits << (8 - size % 8))
            mask += row + b"\0" * (mask_row - len(row))
        info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
        images.append((size, info + xor + mask))
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = bytearray()
    for size, data in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(head + entries + b"".join(data for _, data in images))


def app_icon(x, y, size):
    """The program's icon: a blue rounded square with a white upward arrow."""
    s = size / 32.0
    r = 6 * s
    cx = min(max(x + 0.5, r), size - r)
    cy = min(max(y + 0.5, r), size - r)
    if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 > r * r:
        return (0, 0, 0, 0)
    u, v = (x + 0.5) / s, (y + 0.5) / s
    head = 6 <= v <= 16 and abs(u - 16) <= (v - 6) + 0.5
    stem = 16 <= v <= 25 and 13 <= u <= 19
    if head or stem:
        return (255, 255, 255, 255)
    return mix((92, 150, 226), (36, 94, 176), y / (size - 1)) + (255,)


def main(out):
    write_bmp(f"{out}/skin_155.bmp", 2, 41, side_border)
    write_bmp(f"{out}/skin_157.bmp", 2, 41, lambda x, y: side_border(x, y))
    write_bmp(f"{out}/skin_171.bmp", 131, 29, caption)
    write_bmp(f"{out}/skin_158.bmp", 170, 2, bottom)
    write_bmp(f"{out}/skin_172.bmp", 32, 16, caption_button(glyph_close, (214, 72, 64)))
    write_bmp(f"{out}/skin_173.bmp", 32, 16, caption_button(glyph_min, (120, 160, 220)))
    write_bmp(f"{out}/skin_174.bmp", 32, 16, caption_button(glyph_menu, (120, 160, 220)))
    write_bmp(f"{out}/skin_161.bmp", 63, 21,
              caption_button(glyph_min, (120, 160, 220), w=31, h=21))
    # Button faces: 180 normal, 181 hovered/pressed.
    for name, (top, bot, border) in {
        180: ((250, 251, 253), (222, 229, 240), (150, 168, 196)),
        181: ((255, 255, 255), (196, 214, 240), (90, 124, 180)),
    }.items():
        w, h, pixel = face(top, bot, border)
        write_bmp(f"{out}/skin_{name}.bmp", w, h, pixel)
    # The floating window's background.
    w, h, pixel = float_panel()
    write_bmp(f"{out}/skin_188.bmp", w, h, pixel)
    # The uploaded-files tab, in the order the buttons take them (hovered, normal): "下载" 178
    # and 176, "删除" 177 and 175.
    light = ((250, 251, 253), (222, 229, 240), (150, 168, 196))
    lit = ((255, 255, 255), (196, 214, 240), (90, 124, 180))
    for name, glyph, colours in ((178, glyph_download, lit), (176, glyph_download, light),
                                 (177, glyph_delete, lit), (175, glyph_delete, light)):
        w, h, pixel = glyph_face(glyph, *colours, (58, 82, 130))
        write_bmp(f"{out}/skin_{name}.bmp", w, h, pixel)
    # Column headers (hovered 185, normal 183); 186 the strip left of them.
    w, h, pixel = column_face((255, 255, 255), (206, 221, 244), (150, 170, 206))
    write_bmp(f"{out}/skin_185.bmp", w, h, pixel)
    w, h, pixel = column_face((255, 255, 255), (226, 233, 244), (190, 204, 226))
    write_bmp(f"{out}/skin_183.bmp", w, h, pixel)
    write_bmp(f"{out}/skin_186.bmp", 1, 26, head_strip)
    # The login dialog's separator line.
    write_bmp(f"{out}/skin_182.bmp", 320, 1, separator)
    # The main dialog: its header picture (190), the second picture it keeps (192: the band's
    # colours, one column) and the program's icon (187).
    write_bmp(f"{out}/skin_190.bmp", 480, 40, header_band(480, 40))
    write_bmp(f"{out}/skin_192.bmp", 1, 40, header_band(1, 40))
    write_ico(f"{out}/skin_187.ico", (16, 32), app_icon)


if __name__ == "__main__":
    main(sys.argv[1])
