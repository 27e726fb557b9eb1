#!/usr/bin/python3
"""Draws the Velmora skin: the control-panel background, every button picture
and the program icon, into skin/images/.

Run with Debian's interpreter (it needs python3-pil and fonts-dejavu-core):

    /usr/bin/python3 skin/generate.py

The output is deterministic: the same packages give byte-identical files, so
the generated pictures are committed next to this script.

Everything is drawn as RGBA layers at SS times the final size and reduced
with a Lanczos filter, then laid over the panel background at the spot where
the button sits, so the opaque bitmaps blend into the panel seamlessly.
"""

import os
import random

from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont

SS = 4  # supersampling factor

HERE = os.path.dirname(os.path.abspath(__file__))
OUT_DIR = os.path.join(HERE, "images")
# The desktop's icon theme: the program icon at every size it asks for.
ICON_DIR = os.path.join(HERE, "icons", "hicolor")
ICON_SIZES = (16, 32, 48, 64, 128, 256)

FONT_DIR = "/usr/share/fonts/truetype/dejavu"
FONT_REGULAR = os.path.join(FONT_DIR, "DejaVuSans.ttf")
FONT_BOLD = os.path.join(FONT_DIR, "DejaVuSans-Bold.ttf")

PANEL_W, PANEL_H = 418, 113
WINDOW_GREY = (0x40, 0x40, 0x40)  # background colour of both windows

# Palette
FRAME = (22, 22, 22)
FACE_TOP = (68, 68, 68)
FACE_BOTTOM = (54, 54, 54)
WELL_TOP = (34, 34, 35)
WELL_BOTTOM = (42, 42, 43)
GLYPH = (214, 216, 220)
GLYPH_PRESSED = (150, 178, 214)
ACCENT = (150, 205, 255)
ACCENT_GLOW = (70, 150, 255)
CLOSE_ACCENT = (255, 150, 140)
CLOSE_GLOW = (235, 70, 60)

# Where the pictures sit on the panel (left, top), by the normal picture's name.
SPOTS = {
    "pn": (82, 47),
    "PausN": (82, 47),
    "tdN": (115, 48),
    "PrevN": (157, 48),
    "SBiN": (192, 48),
    "SFiN": (227, 48),
    "NextN": (262, 48),
    "EjectN": (297, 48),
    "Opn": (350, 64),
    "Moni": (308, 83),
    "Mn": (308, 83),
    "MinusN": (321, 83),
    "PlusN": (395, 83),
    "MinN": (313, 0),
    "MaxN": (348, 0),
    "CrssN": (383, 0),
}
SEEK_BOX = (136, 16, 136 + 273, 16 + 9)
SLIDER_BOX = (334, 85, 334 + 58, 85 + 9)
WINDOW_BUTTONS_BOX = (313, 0, PANEL_W, 11)
# Spot of the pictures that no button shows: a bare stretch of the panel.
SPARE_SPOT = (150, 80)


# --------------------------------------------------------------------------
# Drawing primitives. Coordinates are in final pixels; a box is
# (left, top, right, bottom) with right and bottom exclusive.

def sc(v):
    return v * SS


def sbox(box):
    x0, y0, x1, y1 = box
    return [sc(x0), sc(y0), sc(x1) - 1, sc(y1) - 1]


def lerp(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(len(a)))


def new_layer(w, h):
    return Image.new("RGBA", (sc(w), sc(h)), (0, 0, 0, 0))


def new_mask(size):
    return Image.new("L", size, 0)


def vgradient(size, top, bottom, y0=0, y1=None):
    """An RGBA image of `size` shading from `top` at row y0 to `bottom` at y1."""
    w, h = size
    y1 = h if y1 is None else y1
    column = Image.new("RGBA", (1, h))
    span = max(1, y1 - y0 - 1)
    for y in range(h):
        t = min(1.0, max(0.0, (y - y0) / span))
        c = lerp(top, bottom, t)
        column.putpixel((0, y), c if len(c) == 4 else c + (255,))
    return column.resize((w, h), Image.NEAREST)


def paint(layer, mask, fill, opacity=1.0):
    """Lays `fill` (a colour or an image of the layer's size) through `mask`."""
    if isinstance(fill, tuple):
        fill = Image.new("RGBA", layer.size, fill if len(fill) == 4 else fill + (255,))
    if opacity != 1.0:
        mask = mask.point(lambda v: round(v * opacity))
    src = fill.copy()
    src.putalpha(ImageChops.multiply(fill.getchannel("A"), mask))
    layer.alpha_composite(src)


def rrect_mask(size, box, radius):
    m = new_mask(size)
    ImageDraw.Draw(m).rounded_rectangle(sbox(box), radius=sc(radius), fill=255)
    return m


def ellipse_mask(size, box):
    m = new_mask(size)
    ImageDraw.Draw(m).ellipse(sbox(box), fill=255)
    return m


def shape_mask(size, shapes, dx=0.0, dy=0.0):
    """Mask of a glyph given as a list of shapes in final-pixel coordinates."""
    m = new_mask(size)
    d = ImageDraw.Draw(m)

    def p(x, y):
        return (sc(x + dx), sc(y + dy))

    for shape in shapes:
        kind = shape[0]
        if kind == "poly":
            d.polygon([p(x, y) for x, y in shape[1]], fill=255)
        elif kind == "rect":
            x0, y0, x1, y1 = shape[1]
            d.rectangle(sbox((x0 + dx, y0 + dy, x1 + dx, y1 + dy)), fill=255)
        elif kind == "hole":  # clears a rectangle out of what is drawn so far
            x0, y0, x1, y1 = shape[1]
            d.rectangle(sbox((x0 + dx, y0 + dy, x1 + dx, y1 + dy)), fill=0)
        elif kind == "line":
            d.line([p(x, y) for x, y in shape[1]], fill=255, width=round(sc(shape[2])))
        elif kind == "arc":
            x0, y0, x1, y1 = shape[1]
            d.arc(sbox((x0 + dx, y0 + dy, x1 + dx, y1 + dy)), shape[2], shape[3],
                  fill=255, width=round(sc(shape[4])))
        elif kind == "text":
            _, (cx, cy), text, font_path, px = shape
            font = ImageFont.truetype(font_path, round(sc(px)))
            d.text(p(cx, cy), text, font=font, fill=255, anchor="mm")
        else:
            raise ValueError(kind)
    return m


def shrink(layer, w, h):
    return layer.resize((w, h), Image.LANCZOS)


def blur(mask, radius):
    return mask.filter(ImageFilter.GaussianBlur(sc(radius)))


def offset(mask, dx, dy):
    """The mask moved by (dx, dy) pixels; what moves out of it is dropped."""
    moved = new_mask(mask.size)
    moved.paste(mask, (sc(dx), sc(dy)))
    return moved


# --------------------------------------------------------------------------
# The panel background

def panel_noise(w, h, seed):
    """Fine horizontal brushing: long streaks plus a little grain, in -2..2."""
    rnd = random.Random(seed)
    streak = Image.new("L", (max(1, w // 12), h))
    streak.putdata([128 + round(rnd.gauss(0, 30)) for _ in range(streak.width * h)])
    streak = streak.resize((w, h), Image.BICUBIC)
    grain = [round(rnd.gauss(0, 0.6)) for _ in range(w * h)]
    values = [round((s - 128) / 30) + g for s, g in zip(streak.getdata(), grain)]
    return [max(-2, min(2, v)) for v in values]


def recess(layer, box, radius, top=WELL_TOP, bottom=WELL_BOTTOM):
    """A well sunk into the face: shadowed rim above, lit lip below."""
    size = layer.size
    x0, y0, x1, y1 = box
    paint(layer, rrect_mask(size, (x0, y0, x1, y1 + 1), radius), (255, 255, 255, 34))
    paint(layer, rrect_mask(size, box, radius), (18, 18, 18))
    inner = (x0 + 1, y0 + 1, x1 - 1, y1 - 1)
    paint(layer, rrect_mask(size, inner, max(0, radius - 1)),
          vgradient(size, top, bottom, sc(y0), sc(y1)))
    # inner shadow along the top edge
    paint(layer, rrect_mask(size, (x0 + 1, y0 + 1, x1 - 1, y0 + 2), 0), (0, 0, 0, 60))


def emblem(layer, cx, cy, r):
    """A disc in a shallow round bed, lit from above, with an accent sheen."""
    size = layer.size
    # the bed it sits in
    rb = r + 2
    paint(layer, ellipse_mask(size, (cx - rb, cy - rb + 1, cx + rb, cy + rb + 1)), (255, 255, 255, 30))
    paint(layer, ellipse_mask(size, (cx - rb, cy - rb, cx + rb, cy + rb)), (20, 20, 20))
    paint(layer, ellipse_mask(size, (cx - rb + 1, cy - rb + 1, cx + rb - 1, cy + rb - 1)),
          vgradient(size, WELL_TOP, WELL_BOTTOM, sc(cy - rb), sc(cy + rb)))
    # the disc
    paint(layer, ellipse_mask(size, (cx - r, cy - r + 1, cx + r, cy + r + 1)), (0, 0, 0, 120))
    paint(layer, ellipse_mask(size, (cx - r, cy - r, cx + r, cy + r)), (24, 24, 25))
    paint(layer, ellipse_mask(size, (cx - r + 1, cy - r + 1, cx + r - 1, cy + r - 1)),
          vgradient(size, (96, 98, 103), (50, 51, 55), sc(cy - r), sc(cy + r)))
    hub = round(r * 0.3)
    # fine grooves of the data area
    rr = r - 2.5
    while rr > hub + 3:
        m = new_mask(size)
        ImageDraw.Draw(m).ellipse(sbox((cx - rr, cy - rr, cx + rr, cy + rr)), outline=255, width=2)
        paint(layer, m, (0, 0, 0, 34))
        rr -= 2.5
    # sheen: soft light arcs, upper left and lower right
    for start, end, alpha in ((195, 255, 170), (20, 60, 70)):
        m = new_mask(size)
        ImageDraw.Draw(m).arc(sbox((cx - r + 4, cy - r + 4, cx + r - 4, cy + r - 4)), start, end,
                              fill=255, width=sc(3))
        paint(layer, blur(m, 1.0), ACCENT + (alpha,))
    # hub
    paint(layer, ellipse_mask(size, (cx - hub - 1, cy - hub - 1, cx + hub + 1, cy + hub + 1)),
          (22, 22, 22))
    paint(layer, ellipse_mask(size, (cx - hub, cy - hub, cx + hub, cy + hub)),
          vgradient(size, (124, 126, 130), (72, 74, 78), sc(cy - hub), sc(cy + hub)))
    paint(layer, ellipse_mask(size, (cx - 2.5, cy - 2.5, cx + 2.5, cy + 2.5)), (28, 28, 28))
    paint(layer, ellipse_mask(size, (cx - 2, cy - 2, cx + 2, cy + 2)), WELL_BOTTOM)


def engraved_text(layer, xy, text, font_path, px, colour, anchor="lm", tracking=0.0):
    """Text pressed into the face: a dark edge above, a light one below."""
    size = layer.size
    font = ImageFont.truetype(font_path, round(sc(px)))

    def draw_into(m, dx, dy):
        d = ImageDraw.Draw(m)
        x, y = xy
        if tracking:
            widths = [d.textlength(ch, font=font) for ch in text]
            total = sum(widths) + sc(tracking) * (len(text) - 1)
            cur = sc(x) - (total / 2 if anchor[0] == "m" else 0)
            for ch, cw in zip(text, widths):
                d.text((cur + sc(dx), sc(y + dy)), ch, font=font, fill=255, anchor="l" + anchor[1])
                cur += cw + sc(tracking)
        else:
            d.text((sc(x + dx), sc(y + dy)), text, font=font, fill=255, anchor=anchor)
        return m

    paint(layer, draw_into(new_mask(size), 0, 1), (255, 255, 255, 28))
    paint(layer, draw_into(new_mask(size), 0, -0.5), (0, 0, 0, 110))
    paint(layer, draw_into(new_mask(size), 0, 0), colour)


def draw_panel():
    w, h = PANEL_W, PANEL_H
    base = vgradient((w, h), FACE_TOP, FACE_BOTTOM).convert("RGB")
    px = base.load()
    noise = panel_noise(w, h, 1977)
    for y in range(h):
        for x in range(w):
            n = noise[y * w + x]
            r, g, b = px[x, y]
            px[x, y] = (r + n, g + n, b + n)

    # The window buttons hang from the top right corner; they are also shown
    # on the video window, so that corner is the plain window grey.
    bx0, by0, bx1, by1 = WINDOW_BUTTONS_BOX
    for y in range(by0, by1 + 2):
        for x in range(bx0 - 2, bx1):
            fade = 1.0 if (y <= by1 and x >= bx0) else 0.5
            r, g, b = px[x, y]
            px[x, y] = lerp((r, g, b), WINDOW_GREY, fade)

    layer = new_layer(w, h)
    size = layer.size

    # Face bevel: light rim on top and left, shade on the bottom and right.
    paint(layer, rrect_mask(size, (1, 1, WINDOW_BUTTONS_BOX[0] - 2, 2), 0), (255, 255, 255, 40))
    paint(layer, rrect_mask(size, (1, 1, 2, h - 1), 0), (255, 255, 255, 28))
    paint(layer, rrect_mask(size, (1, h - 2, w - 1, h - 1), 0), (0, 0, 0, 70))
    paint(layer, rrect_mask(size, (w - 2, 12, w - 1, h - 1), 0), (0, 0, 0, 55))

    # Seek groove, one pixel wider than the seek bar on every side.
    sx0, sy0, sx1, sy1 = SEEK_BOX
    recess(layer, (sx0 - 2, sy0 - 2, sx1 + 2, sy1 + 2), 2.5)

    # Transport bay under play, stop and the five-button row.
    recess(layer, (77, 43, 337, 75), 5, top=(44, 44, 45), bottom=(50, 50, 51))

    # Volume well: mute, volume down, the slider and volume up.
    recess(layer, (304, 80, 409, 97), 4, top=(38, 38, 39), bottom=(46, 46, 47))
    # groove for the slider's thumb to run in
    gx0, _, gx1, _ = SLIDER_BOX
    gy = 88
    paint(layer, rrect_mask(size, (gx0 + 2, gy + 1, gx1 - 2, gy + 3), 1), (255, 255, 255, 26))
    paint(layer, rrect_mask(size, (gx0 + 2, gy, gx1 - 2, gy + 2), 1), (12, 12, 12, 230))

    # The disc emblem on the left, set off from the controls by a hairline.
    emblem(layer, 37, 56, 25)
    paint(layer, rrect_mask(size, (72, 14, 73, 100), 0), (0, 0, 0, 70))
    paint(layer, rrect_mask(size, (73, 14, 74, 100), 0), (255, 255, 255, 22))

    # Wordmark under the transport bay, level with the volume well.
    font = ImageFont.truetype(FONT_BOLD, round(sc(13)))
    word_w = ImageDraw.Draw(new_mask(size)).textlength("Velmora", font=font) / SS
    engraved_text(layer, (82, 89), "Velmora", FONT_BOLD, 13, (200, 202, 206), anchor="lm")
    engraved_text(layer, (82 + word_w + 7, 89.5), "DVD PLAYER", FONT_REGULAR, 6,
                  (128, 158, 196), anchor="lm", tracking=1.3)

    img = base.convert("RGBA")
    img.alpha_composite(shrink(layer, w, h))
    img = img.convert("RGB")

    # Crisp one-pixel frame.
    d = ImageDraw.Draw(img)
    d.rectangle([0, 0, w - 1, h - 1], outline=FRAME)
    return img


# --------------------------------------------------------------------------
# Buttons

LOOKS = ("N", "M", "D")


def cap_colours(look):
    if look == "N":
        return dict(rim=(255, 255, 255, 50), top=(88, 88, 90), bottom=(56, 56, 58), edge=(20, 20, 20))
    if look == "M":
        return dict(rim=(255, 255, 255, 66), top=(98, 99, 102), bottom=(62, 63, 66), edge=(20, 22, 26))
    return dict(rim=None, top=(36, 36, 37), bottom=(50, 50, 52), edge=(14, 14, 14))


def draw_cap(layer, kind, box, look, radius=3.0, accent=ACCENT):
    """The raised face of a button; pressed, it is sunk and unlit."""
    if kind is None:
        return
    size = layer.size
    c = cap_colours(look)
    x0, y0, x1, y1 = box

    def mask(b, inset=0.0):
        bx = (b[0] + inset, b[1] + inset, b[2] - inset, b[3] - inset)
        if kind == "round":
            return ellipse_mask(size, bx)
        if kind == "tab":  # flat top, rounded bottom corners
            m = rrect_mask(size, bx, max(0.0, radius - inset))
            ImageDraw.Draw(m).rectangle(sbox((bx[0], bx[1], bx[2], bx[1] + radius)), fill=255)
            return m
        return rrect_mask(size, bx, max(0.0, radius - inset))

    if look != "D":
        paint(layer, mask((x0, y0 + 1, x1, y1 + 1)), (0, 0, 0, 90))  # drop shadow
    else:
        paint(layer, mask((x0, y0 + 1, x1, y1 + 1)), (255, 255, 255, 20))  # lit lip below
    paint(layer, mask(box), c["edge"])
    if c["rim"]:
        paint(layer, mask(box, 1), c["rim"])
        inner = mask((x0, y0 + 1, x1, y1), 1)
    else:
        inner = mask(box, 1)
    paint(layer, inner, vgradient(size, c["top"], c["bottom"], sc(y0), sc(y1)))
    if look == "D":
        paint(layer, mask((x0, y0, x1, y0 + 3), 1), (0, 0, 0, 70))  # inner shadow
    if look == "M":
        m = ImageChops.subtract(mask(box), mask(box, 1))
        paint(layer, m, accent + (60,))


def draw_glyph(layer, shapes, look, accent=ACCENT, glow=ACCENT_GLOW):
    size = layer.size
    if look == "D":
        m = shape_mask(size, shapes, 1, 1)
        paint(layer, offset(m, 0, -1), (0, 0, 0, 90))
        paint(layer, m, GLYPH_PRESSED if accent == ACCENT else lerp(accent, (60, 60, 60), 0.3))
        return
    m = shape_mask(size, shapes)
    if look == "M":
        paint(layer, blur(m, 1.3), glow, opacity=0.95)
        paint(layer, m, accent)
    else:
        paint(layer, offset(m, 0, 1), (0, 0, 0, 130))
        paint(layer, m, GLYPH)


def render_button(bg, kind, cap_box, shapes, look, radius=3.0, close=False):
    """One picture: the panel patch `bg`, a cap and a glyph, at final size."""
    w, h = bg.size
    layer = new_layer(w, h)
    accent, glow = (CLOSE_ACCENT, CLOSE_GLOW) if close else (ACCENT, ACCENT_GLOW)
    draw_cap(layer, kind, cap_box, look, radius, accent)
    draw_glyph(layer, shapes, look, accent, glow)
    out = bg.convert("RGBA")
    out.alpha_composite(shrink(layer, w, h))
    return out.convert("RGB")


# Glyphs, in final pixels, for a 32 x 19 cap centred on (16, 9.5).

def tri_right(x0, x1, yc, half):
    return ("poly", [(x0, yc - half), (x1, yc), (x0, yc + half)])


def tri_left(x0, x1, yc, half):
    return ("poly", [(x1, yc - half), (x0, yc), (x1, yc + half)])


YC = 9.5
PREV = [("rect", (9, 5, 11, 14)), tri_left(11, 17, YC, 4.5), tri_left(17, 23, YC, 4.5)]
NEXT = [tri_right(9, 15, YC, 4.5), tri_right(15, 21, YC, 4.5), ("rect", (21, 5, 23, 14))]
FBACK = [tri_left(9, 16, YC, 4.5), tri_left(16, 23, YC, 4.5)]
FFWD = [tri_right(9, 16, YC, 4.5), tri_right(16, 23, YC, 4.5)]
EJECT = [("poly", [(10, 11), (16, 4), (22, 11)]), ("rect", (10, 13, 22, 15))]
STEP = [tri_right(10, 18, YC, 4.5), ("rect", (19, 5, 21, 14)), ("rect", (22, 5, 24, 14))]
PLAY_WIDE = [tri_right(12.5, 20.5, YC, 4.5)]
STOP_WIDE = [("rect", (12, 5, 20, 14))]

ROW_CAP = (0, 0, 32, 19)


def round_cap(cx, cy, d):
    return (cx - d / 2, cy - d / 2, cx + d / 2, cy + d / 2)


def speaker():
    return [("rect", (0, 3, 2, 7)), ("poly", [(2, 3), (4.5, 0.5), (4.5, 9.5), (2, 7)])]


# Room is left on the right for the pressed look's one-pixel shift.
MUTE_ON = speaker() + [("arc", (1.5, 1.5, 8.5, 8.5), -55, 55, 1.2)]
MUTE_OFF = speaker() + [("rect", (5 + i, 3 + i, 6 + i, 4 + i)) for i in range(4)] \
    + [("rect", (8 - i, 3 + i, 9 - i, 4 + i)) for i in range(4)]
PLUS = [("rect", (1, 4, 9, 6)), ("rect", (4, 1, 6, 9))]
MINUS = [("rect", (1, 4, 9, 6))]

TAB_CAP = (1, 0, 33, 10)
WIN_MIN = [("rect", (13, 5, 22, 7))]
WIN_MAX = [("rect", (13, 2, 22, 8)), ("hole", (14, 4, 21, 7))]
WIN_CLOSE = [("rect", (14 + c, 2 + r, 15 + c, 3 + r))
             for r, cols in enumerate(((0, 1, 5, 6), (1, 2, 4, 5), (2, 3, 4), (1, 2, 4, 5), (0, 1, 5, 6)))
             for c in cols]


def pictures():
    """name -> (format, width, height, spot of the normal picture, painter)."""
    table = {}

    def row_button(stem, names, shapes, fmt="BMP", w=32, h=20):
        for look, name in zip(LOOKS, names):
            if name:
                table[name] = (fmt, w, h, stem, look,
                               dict(kind="rrect", cap=ROW_CAP, shapes=shapes, radius=4))

    # play, pause, stop: round caps of one size, centred on the transport row
    play_cap = round_cap(9.5, 10, 18)
    play = [tri_right(7, 15, 10, 4.5)]
    for look, name in zip(LOOKS, ("pn", "pm", "pd")):
        table[name] = ("BMP", 19, 20, "pn", look, dict(kind="round", cap=play_cap, shapes=play))
    pause = [("rect", (6.5, 6, 8.5, 14)), ("rect", (10.5, 6, 12.5, 14))]
    for look, name in zip(LOOKS, ("PausN", "PausM", "PausD")):
        table[name] = ("BMP", 25, 25, "PausN", look, dict(kind="round", cap=play_cap, shapes=pause))
    stop_cap = round_cap(14, 10, 18)
    stop = [("rect", (11, 7, 17, 13))]
    for look, name in zip(LOOKS, ("tdN", "tdM", "tdd")):
        table[name] = ("BMP", 24, 23, "tdN", look, dict(kind="round", cap=stop_cap, shapes=stop))

    row_button("PrevN", ("PrevN", "PrevM", "PrevD"), PREV)
    row_button("NextN", ("NextN", "NextM", "NextD"), NEXT)
    row_button("SBiN", ("SBiN", "SBiM", "SBiD"), FBACK)
    row_button("SFiN", ("SFiN", "SFiM", "SFiD"), FFWD)
    row_button("EjectN", ("EjectN", "EjectM", "EjectD"), EJECT)

    open_text = [("text", (19, 5.6), "OPEN", FONT_BOLD, 8)]
    for look, name in zip(("N", "M"), ("Opn", "Opm")):
        table[name] = ("BMP", 38, 13, "Opn", look,
                       dict(kind="rrect", cap=(0, 0, 38, 12), shapes=open_text, radius=6))

    for looks, stem, shapes, fmt in (
            (("Moni", "Momi", "Modi"), "Moni", MUTE_ON, "GIF"),
            (("Mn", "Mm", "Md"), "Mn", MUTE_OFF, "GIF"),
            (("PlusN", "PlusM", "PlusD"), "PlusN", PLUS, "BMP"),
            (("MinusN", "MinusM", "MinusD"), "MinusN", MINUS, "BMP")):
        for look, name in zip(LOOKS, looks):
            table[name] = (fmt, 10, 10, stem, look, dict(kind=None, cap=None, shapes=shapes))

    for looks, stem, shapes in ((("MinN", "MinM", "MinD"), "MinN", WIN_MIN),
                                (("MaxN", "MaxM", "MaxD"), "MaxN", WIN_MAX),
                                (("CrssN", "CrssM", "CrssD"), "CrssN", WIN_CLOSE)):
        for look, name in zip(LOOKS, looks):
            table[name] = ("GIF", 34, 11, stem, look,
                           dict(kind="tab", cap=TAB_CAP, shapes=shapes, radius=3,
                                close=(stem == "CrssN")))

    # Pictures that the store keeps but no button shows.
    row_button(None, (None, "StepM", "StepD"), STEP)
    row_button(None, ("StopN", None, None), STOP_WIDE)
    row_button(None, ("PlayN", "Playm", None), PLAY_WIDE)
    small_plus = [("rect", (6, 6, 14, 8)), ("rect", (9, 3, 11, 11))]
    small_minus = [("rect", (6, 6, 14, 8))]
    for looks, shapes in ((("AddN", "AddM", "AddD"), small_plus),
                          (("RemN", "RemM", "RemD"), small_minus)):
        for look, name in zip(LOOKS, looks):
            table[name] = ("BMP", 20, 15, None, look,
                           dict(kind="rrect", cap=(0, 0, 20, 14), shapes=shapes, radius=3))
    s_glyph = [("text", (6.5, 6.2), "S", FONT_BOLD, 8)]
    for look, name in (("D", "SD"), ("M", "sm")):
        table[name] = ("GIF", 13, 13, None, look,
                       dict(kind="round", cap=(0.5, 0, 12.5, 12), shapes=s_glyph))
    table["PlN"] = ("GIF", 16, 22, None, "N",
                    dict(kind="rrect", cap=(0, 0, 16, 21), shapes=[tri_right(5.5, 11.5, 10.5, 4)],
                         radius=4))
    table["Plm"] = ("GIF", 20, 28, None, "M",
                    dict(kind="rrect", cap=(0, 0, 20, 27), shapes=[tri_right(7, 14, 13.5, 5)],
                         radius=5))
    return table


# --------------------------------------------------------------------------
# Program icon

def draw_icon(px=64):
    u = px / 64.0
    layer = Image.new("RGBA", (sc(px), sc(px)), (0, 0, 0, 0))
    size = layer.size

    def b(x0, y0, x1, y1):
        return (x0 * u, y0 * u, x1 * u, y1 * u)

    paint(layer, rrect_mask(size, b(2, 3, 62, 63), 12 * u), (0, 0, 0, 110))
    paint(layer, rrect_mask(size, b(2, 2, 62, 62), 12 * u), (18, 18, 18))
    paint(layer, rrect_mask(size, b(3, 3, 61, 61), 11 * u), (110, 110, 112))
    paint(layer, rrect_mask(size, b(3, 4, 61, 61), 11 * u),
          vgradient(size, (84, 84, 86), (46, 46, 48), sc(3 * u), sc(61 * u)))
    # disc
    cx, cy, r = 32 * u, 32 * u, 22 * u
    paint(layer, ellipse_mask(size, (cx - r, cy - r + u, cx + r, cy + r + u)), (0, 0, 0, 120))
    paint(layer, ellipse_mask(size, (cx - r, cy - r, cx + r, cy + r)), (22, 22, 24))
    paint(layer, ellipse_mask(size, (cx - r + u, cy - r + u, cx + r - u, cy + r - u)),
          vgradient(size, (150, 154, 162), (70, 72, 78), sc(cy - r), sc(cy + r)))
    rr = r - 3 * u
    while rr > 11 * u:
        m = new_mask(size)
        ImageDraw.Draw(m).ellipse(sbox((cx - rr, cy - rr, cx + rr, cy + rr)), outline=255, width=2)
        paint(layer, m, (0, 0, 0, 30))
        rr -= 2.5 * u
    m = new_mask(size)
    ImageDraw.Draw(m).arc(sbox((cx - r + 4 * u, cy - r + 4 * u, cx + r - 4 * u, cy + r - 4 * u)),
                          195, 260, fill=255, width=round(sc(3 * u)))
    paint(layer, blur(m, 1.0 * u), (200, 230, 255, 200))
    paint(layer, ellipse_mask(size, (cx - 8 * u, cy - 8 * u, cx + 8 * u, cy + 8 * u)), (24, 24, 26))
    paint(layer, ellipse_mask(size, (cx - 7 * u, cy - 7 * u, cx + 7 * u, cy + 7 * u)),
          vgradient(size, (60, 120, 220), (30, 70, 160), sc(cy - 7 * u), sc(cy + 7 * u)))
    m = shape_mask(size, [tri_right((cx - 2.5 * u), (cx + 4.5 * u), cy, 4.5 * u)])
    paint(layer, blur(m, 0.8 * u), ACCENT_GLOW, opacity=0.8)
    paint(layer, m, (235, 245, 255))
    return shrink(layer, px, px)


# --------------------------------------------------------------------------
# Output

def to_palette(img):
    """Exact palette when the picture has at most 256 colours, else quantised."""
    colours = img.getcolors(256)
    if colours is None:
        return img.quantize(colors=256, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
    pal_img = Image.new("P", img.size)
    palette = [c for _, c in sorted(colours, key=lambda nc: nc[1])]
    index = {c: i for i, c in enumerate(palette)}
    pal_img.putdata([index[p] for p in img.getdata()])
    flat = [v for c in palette for v in c]
    pal_img.putpalette(flat + [0] * (768 - len(flat)))
    return pal_img


def save(img, name, fmt):
    if fmt == "BMP":
        path = os.path.join(OUT_DIR, name + ".bmp")
        img.convert("RGB").save(path, "BMP")
    else:
        path = os.path.join(OUT_DIR, name + ".gif")
        to_palette(img.convert("RGB")).save(path, "GIF", optimize=False)
    return path


def build():
    os.makedirs(OUT_DIR, exist_ok=True)
    panel = draw_panel()
    panel.save(os.path.join(OUT_DIR, "panel.bmp"), "BMP")

    written = ["panel.bmp"]
    for name, (fmt, w, h, stem, look, art) in sorted(pictures().items()):
        x, y = SPOTS[stem] if stem else SPARE_SPOT
        bg = panel.crop((x, y, x + w, y + h))
        img = render_button(bg, art["kind"], art["cap"], art["shapes"], look,
                            art.get("radius", 3.0), art.get("close", False))
        assert img.size == (w, h), name
        written.append(os.path.basename(save(img, name, fmt)))

    icon = draw_icon(64)
    icon.save(os.path.join(OUT_DIR, "velmora.png"), "PNG", optimize=False)
    written.append("velmora.png")

    for px in ICON_SIZES:
        folder = os.path.join(ICON_DIR, "%dx%d" % (px, px), "apps")
        os.makedirs(folder, exist_ok=True)
        draw_icon(px).save(os.path.join(folder, "velmora.png"), "PNG", optimize=False)

    stale = set(os.listdir(OUT_DIR)) - set(written)
    for f in stale:
        os.remove(os.path.join(OUT_DIR, f))
    write_qrc(sorted(written))
    print("wrote %d files to %s and %d icons to %s" % (len(written), OUT_DIR, len(ICON_SIZES), ICON_DIR))


def write_qrc(files):
    """Lists every picture under /skin, named without the images/ folder."""
    lines = ["<!DOCTYPE RCC>", "<!-- Written by generate.py; do not edit. -->",
             '<RCC version="1.0">', '    <qresource prefix="/skin">']
    lines += ['        <file alias="%s">images/%s</file>' % (f, f) for f in files]
    lines += ["    </qresource>", "</RCC>", ""]
    with open(os.path.join(HERE, "skin.qrc"), "w", encoding="utf-8", newline="\n") as fh:
        fh.write("\n".join(lines))


if __name__ == "__main__":
    build()
