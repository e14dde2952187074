#!/usr/bin/python3
"""Draws every picture of the installer's skin, and its icon, from code.

Run it after changing a colour or a caption; the pictures it writes are committed, so the build
itself needs no image tool. Needs Pillow (Debian: python3-pil) and the DejaVu and Liberation
fonts. Usage: tools/skin/make_skin.py [resources folder]

Above 100 % DPI a stretched picture turns soft, so the window's parts and the home picture are
also drawn twice as large, saved beside the plain picture with the scale in the name
("btn_start@200.png"); the installer reduces that drawing by area averaging for scales in
between. Markup keeps naming pieces and corners in pixels of the plain picture. The slideshow
and end pictures, the largest ones, are drawn twice as large only ("1@200.jpg"), which the
installer reduces for every smaller scale. They carry no words: the window draws the slides'
and the end page's texts from the string tables over them, so one set serves every language.

Every picture written is then made smaller without changing a pixel, when the tools are there
(Debian: libjpeg-turbo-progs for jpegtran, zopfli for zopflipng).
"""

import math
import os
import shutil
import subprocess
import sys
import tempfile

from PIL import Image, ImageDraw, ImageFilter, ImageFont

BRAND = (0x07, 0xBE, 0x8B)
BRAND_HOT = (0x1F, 0xCC, 0x9B)
BRAND_PUSHED = (0x05, 0xA3, 0x77)
BRAND_DEEP = (0x04, 0x7F, 0x5E)
INK = (0x1F, 0x29, 0x33)
MUTED = (0x6B, 0x77, 0x85)
LINE = (0xD5, 0xDB, 0xE1)
WHITE = (255, 255, 255)

# Pictures are drawn this many times larger and then reduced, which anti-aliases every edge.
SS = 4

# The scale the pictures being drawn are for: 1 for the plain pictures, 1.5 and 2 for the
# variants. Drawing code keeps counting in plain pixels; reduce() lands on the larger size.
VARIANT = 1
VARIANTS = {1: "", 2: "@200"}

FONT_DIRS = ["/usr/share/fonts/truetype/liberation", "/usr/share/fonts/truetype/dejavu"]


def font(name, size):
    for folder in FONT_DIRS:
        path = os.path.join(folder, name)
        if os.path.exists(path):
            return ImageFont.truetype(path, size if VARIANT == 1 else int(round(size * VARIANT)))
    raise SystemExit("font not found: " + name)


def bold(size):
    return font("LiberationSans-Bold.ttf", size)


def regular(size):
    return font("LiberationSans-Regular.ttf", size)


def scaled(value):
    """Plain-pixel coordinates (numbers, or lists and tuples of them) at VARIANT."""
    if isinstance(value, (list, tuple)):
        return type(value)(scaled(v) for v in value)
    return value * VARIANT if VARIANT != 1 else value


def length(face, text):
    """The width of `text` in plain pixels."""
    return face.getlength(text) / VARIANT if VARIANT != 1 else face.getlength(text)


class ScaledDraw:
    """ImageDraw for the illustrations, taking plain-pixel coordinates at any VARIANT."""

    def __init__(self, image):
        self.draw = ImageDraw.Draw(image)

    def _call(self, name, xy, *args, **kwargs):
        if "width" in kwargs and VARIANT != 1:
            kwargs["width"] = max(1, int(round(kwargs["width"] * VARIANT)))
        return getattr(self.draw, name)(scaled(xy), *args, **kwargs)

    def rounded_rectangle(self, xy, radius=0, **kwargs):
        return self._call("rounded_rectangle", xy, scaled(radius), **kwargs)

    def ellipse(self, xy, **kwargs):
        return self._call("ellipse", xy, **kwargs)

    def rectangle(self, xy, **kwargs):
        return self._call("rectangle", xy, **kwargs)

    def line(self, xy, **kwargs):
        return self._call("line", xy, **kwargs)

    def polygon(self, xy, **kwargs):
        return self._call("polygon", xy, **kwargs)

    def arc(self, xy, start, end, **kwargs):
        return self._call("arc", xy, start, end, **kwargs)


def rgba(color, alpha=255):
    return tuple(color[:3]) + (alpha,)


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def canvas(width, height, fill=(0, 0, 0, 0)):
    """A supersampled RGBA canvas and its drawing context."""
    image = Image.new("RGBA", (width * SS, height * SS), fill)
    return image, ImageDraw.Draw(image)


def reduce(image, width, height):
    return image.resize((int(round(width * VARIANT)), int(round(height * VARIANT))), Image.LANCZOS)


def box(x0, y0, x1, y1):
    """A rectangle in final pixels, scaled to the supersampled canvas."""
    return [x0 * SS, y0 * SS, x1 * SS - 1, y1 * SS - 1]


def save(image, root, relative, quality=None):
    stem, extension = os.path.splitext(relative)
    relative = stem + VARIANTS[VARIANT] + extension
    path = os.path.join(root, relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if relative.endswith(".jpg"):
        image.convert("RGB").save(path, "JPEG", quality=quality or 90, optimize=True,
                                  progressive=False)
    else:
        image.save(path, "PNG", optimize=True)
    shrink_losslessly(path)
    print("wrote", relative)


def shrink_losslessly(path):
    """Recompresses a written picture in place, keeping the smaller file; pixels stay as drawn."""
    with tempfile.TemporaryDirectory() as folder:
        candidates = []
        if path.endswith(".jpg") and shutil.which("jpegtran"):
            for mode in ([], ["-progressive"]):
                out = os.path.join(folder, "%d.jpg" % len(candidates))
                subprocess.run(["jpegtran", "-optimize", "-copy", "none"] + mode + ["-outfile", out,
                                path], check=True)
                candidates.append(out)
        elif path.endswith(".png") and shutil.which("zopflipng"):
            out = os.path.join(folder, "z.png")
            subprocess.run(["zopflipng", "-y", "-m", path, out], check=True,
                           stdout=subprocess.DEVNULL)
            candidates.append(out)
        best = min(candidates, key=os.path.getsize, default=None)
        if best and os.path.getsize(best) < os.path.getsize(path):
            before = Image.open(path).convert("RGBA").tobytes()
            if Image.open(best).convert("RGBA").tobytes() != before:
                raise SystemExit("recompressing changed the pixels of " + path)
            shutil.copyfile(best, path)


def sprite(states):
    """Puts state pictures side by side: normal, hot, pushed (source thirds in the markup)."""
    width, height = states[0].size
    out = Image.new("RGBA", (width * len(states), height), (0, 0, 0, 0))
    for index, state in enumerate(states):
        out.paste(state, (index * width, 0))
    return out


# ---------------------------------------------------------------------------------------------
# Buttons and frames


def solid_button(width, height, color, radius=4):
    image, draw = canvas(width, height)
    draw.rounded_rectangle(box(0, 0, width, height), radius * SS, fill=rgba(color))
    return reduce(image, width, height)


def outline_button(width, height, border, fill, radius=4):
    image, draw = canvas(width, height)
    draw.rounded_rectangle(box(0, 0, width, height), radius * SS, fill=rgba(border))
    draw.rounded_rectangle([SS, SS, width * SS - SS - 1, height * SS - SS - 1], (radius - 1) * SS,
                           fill=rgba(fill))
    return reduce(image, width, height)


def frame(width, height, border, arrow=None):
    """An input frame with a transparent middle; `arrow` draws the drop-down chevron."""
    image, draw = canvas(width, height)
    draw.rounded_rectangle(box(0, 0, width, height), 3 * SS, outline=rgba(border), width=SS)
    if arrow:
        cx, cy = (width - 15) * SS, height * SS // 2
        half = 4 * SS
        draw.line([(cx - half, cy - half // 2), (cx, cy + half // 2), (cx + half, cy - half // 2)],
                  fill=rgba(arrow), width=int(1.6 * SS), joint="curve")
    return reduce(image, width, height)


def folder_glyph(draw, x, y, color, scale=1.0):
    """A small folder, 14 by 11 pixels at scale 1, top-left at (x, y) in final pixels."""
    s = SS * scale
    draw.rounded_rectangle([x * SS, y * SS, x * SS + 6 * s, y * SS + 4 * s], 1 * s, fill=rgba(color))
    draw.rounded_rectangle([x * SS, y * SS + 2 * s, x * SS + 14 * s, y * SS + 11 * s], 1.5 * s,
                           fill=rgba(color))


def path_button(state):
    size = 28
    image, draw = canvas(size, size)
    tint = {0: None, 1: (0xEA, 0xF8, 0xF3), 2: (0xD3, 0xF1, 0xE6)}[state]
    if tint:
        draw.rounded_rectangle(box(1, 1, size - 1, size - 1), 2 * SS, fill=rgba(tint))
    color = MUTED if state == 0 else BRAND if state == 1 else BRAND_PUSHED
    folder_glyph(draw, 7, 8.5, color)
    return reduce(image, size, size)


def caption_button(kind, state):
    width, height = 40, 32
    image, draw = canvas(width, height)
    if kind == "close" and state > 0:
        draw.rectangle(box(0, 0, width, height), fill=rgba((0xE8, 0x4A, 0x4A) if state == 1
                                                           else (0xC9, 0x3A, 0x3A)))
        glyph = WHITE
    else:
        if state > 0:
            draw.rectangle(box(0, 0, width, height),
                           fill=rgba((0, 0, 0), 14 if state == 1 else 28))
        glyph = (0x4B, 0x55, 0x60) if state == 0 else INK
    cx, cy = width * SS // 2, height * SS // 2
    half = 5 * SS
    stroke = int(1.4 * SS)
    if kind == "close":
        draw.line([(cx - half, cy - half), (cx + half, cy + half)], fill=rgba(glyph), width=stroke)
        draw.line([(cx - half, cy + half), (cx + half, cy - half)], fill=rgba(glyph), width=stroke)
    else:
        draw.line([(cx - half, cy), (cx + half, cy)], fill=rgba(glyph), width=stroke)
    return reduce(image, width, height)


def check_box(selected, hot=False):
    size = 16
    image, draw = canvas(size, size)
    if selected:
        draw.rounded_rectangle(box(0, 0, size, size), 3 * SS,
                               fill=rgba(BRAND_HOT if hot else BRAND))
        draw.line([(3.6 * SS, 8.2 * SS), (6.6 * SS, 11.2 * SS), (12.4 * SS, 4.8 * SS)],
                  fill=rgba(WHITE), width=int(1.9 * SS), joint="curve")
    else:
        draw.rounded_rectangle(box(0, 0, size, size), 3 * SS,
                               fill=rgba(BRAND if hot else (0xB4, 0xBC, 0xC5)))
        draw.rounded_rectangle([1.2 * SS, 1.2 * SS, (size - 1.2) * SS - 1, (size - 1.2) * SS - 1],
                               2 * SS, fill=rgba(WHITE))
    return reduce(image, size, size)


def bar(width, height, left, right):
    image, draw = canvas(width, height)
    radius = height * SS // 2
    draw.rounded_rectangle(box(0, 0, width, height), radius, fill=rgba(left))
    gradient = Image.new("RGBA", image.size)
    for x in range(image.size[0]):
        color = mix(left, right, x / (image.size[0] - 1))
        ImageDraw.Draw(gradient).line([(x, 0), (x, image.size[1])], fill=rgba(color))
    mask = Image.new("L", image.size, 0)
    ImageDraw.Draw(mask).rounded_rectangle(box(0, 0, width, height), radius, fill=255)
    image = Image.composite(gradient, image, mask)
    return reduce(image, width, height)


def shadow(size=64, margin=14):
    """The window's soft shadow: transparent at the outer edge, densest where the content sits.

    The window draws it as a nine-slice with 30-pixel corners behind its content, which covers
    everything but the outer `margin` pixels."""
    k = VARIANT
    full = int(round(size * k))
    mask = Image.new("L", (full, full), 0)
    ImageDraw.Draw(mask).rounded_rectangle([(margin - 2) * k, (margin - 1) * k,
                                            (size - margin + 1) * k, (size - margin + 2) * k],
                                           6 * k, fill=110)
    mask = mask.filter(ImageFilter.GaussianBlur(5.5 * k))
    # Keep the middle solid so the corners of the content never show a lighter ring.
    ImageDraw.Draw(mask).rectangle([(margin + 2) * k, (margin + 2) * k,
                                    full - 1 - (margin + 2) * k, full - 1 - (margin + 2) * k],
                                   fill=110)
    image = Image.new("RGBA", (full, full), rgba((0x10, 0x2A, 0x22), 0))
    image.putalpha(mask)
    return image


# ---------------------------------------------------------------------------------------------
# Illustrations


def logo(size, background=True):
    """Clipmint's mark: a clipboard whose clip is a mint leaf, on a brand-green tile."""
    image, draw = canvas(size, size)
    s = size * SS / 64.0
    if background:
        tile = Image.new("RGBA", image.size)
        for y in range(image.size[1]):
            ImageDraw.Draw(tile).line([(0, y), (image.size[0], y)],
                                      fill=rgba(mix(BRAND_HOT, BRAND_PUSHED, y / image.size[1])))
        mask = Image.new("L", image.size, 0)
        ImageDraw.Draw(mask).rounded_rectangle([0, 0, image.size[0] - 1, image.size[1] - 1],
                                               14 * s, fill=255)
        image.paste(tile, (0, 0), mask)
        draw = ImageDraw.Draw(image)
        board, paper, accent = WHITE, WHITE, BRAND
    else:
        board, paper, accent = BRAND, BRAND, WHITE
    # Board.
    draw.rounded_rectangle([17 * s, 13 * s, 47 * s, 53 * s], 5 * s, fill=rgba(board))
    # Lines of text on it.
    for row, length in ((27, 20), (34, 16), (41, 12)):
        draw.rounded_rectangle([22 * s, row * s, (22 + length) * s, (row + 3) * s], 1.5 * s,
                               fill=rgba(accent if background else WHITE))
    # The leaf-shaped clip at the top.
    leaf = [(32 * s + math.sin(t) * 9 * s * math.sin(t / 2) * 1.0, 7 * s + (t / math.pi) * 12 * s)
            for t in [i * math.pi / 24 for i in range(25)]]
    leaf += [(64 * s - x, y) for x, y in reversed(leaf)]
    draw.polygon(leaf, fill=rgba(BRAND_DEEP if background else BRAND_DEEP))
    draw.line([(32 * s, 9 * s), (32 * s, 18 * s)], fill=rgba(mix(BRAND_HOT, WHITE, 0.4)),
              width=max(1, int(1.2 * s)))
    return reduce(image, size, size)


def vertical_gradient(width, height, top, bottom):
    width, height = int(round(width * VARIANT)), int(round(height * VARIANT))
    image = Image.new("RGB", (width, height))
    draw = ImageDraw.Draw(image)
    for y in range(height):
        draw.line([(0, y), (width, y)], fill=mix(top, bottom, y / max(1, height - 1)))
    return image


def soft_blobs(image, blobs, blur=40):
    """Large blurred circles: a quiet, brand-coloured backdrop (plain-pixel coordinates)."""
    blobs = [(x * VARIANT, y * VARIANT, r * VARIANT, color, alpha)
             for (x, y, r, color, alpha) in blobs]
    blur = blur * VARIANT
    base = image.convert("RGBA")
    for (x, y, r, color, alpha) in blobs:
        # Each blob blurs on a layer of its own colour, so its fading edge never turns grey.
        layer = Image.new("RGBA", image.size, rgba(color, 0))
        ImageDraw.Draw(layer).ellipse([x - r, y - r, x + r, y + r], fill=rgba(color, alpha))
        base.alpha_composite(layer.filter(ImageFilter.GaussianBlur(blur)))
    return base


def card(base, xy, size, radius=10, fill=WHITE, shadow_alpha=40):
    """A white card with a soft drop shadow, pasted onto `base` (RGBA, final pixels)."""
    x, y = xy
    w, h = size
    shade = Image.new("RGBA", base.size, (0x0B, 0x3D, 0x2E, 0))
    ScaledDraw(shade).rounded_rectangle([x, y + 4, x + w, y + h + 4], radius,
                                        fill=(0x0B, 0x3D, 0x2E, shadow_alpha))
    base.alpha_composite(shade.filter(ImageFilter.GaussianBlur(8 * VARIANT)))
    plain = (int(round(base.size[0] / VARIANT)), int(round(base.size[1] / VARIANT)))
    layer, draw = canvas(*plain)
    draw.rounded_rectangle([x * SS, y * SS, (x + w) * SS, (y + h) * SS], radius * SS,
                           fill=rgba(fill))
    base.alpha_composite(reduce(layer, *plain))


def draw_text(base, xy, text, face, color, anchor="la"):
    ImageDraw.Draw(base).text(scaled(tuple(xy)), text, font=face, fill=rgba(color), anchor=anchor)


def paste(base, image, xy):
    """Composites `image` (drawn at VARIANT) at a plain-pixel position."""
    base.alpha_composite(image, tuple(int(round(v * VARIANT)) for v in xy))


def wrap(text, face, width):
    words, lines, line = text.split(), [], ""
    for word in words:
        trial = (line + " " + word).strip()
        if length(face, trial) <= width:
            line = trial
        else:
            lines.append(line)
            line = word
    if line:
        lines.append(line)
    return lines


def history_mockup(base, x, y, words):
    """A clipboard history panel: the feature the first slide presents."""
    card(base, (x, y), (250, 196))
    layer = ScaledDraw(base)
    draw_text(base, (x + 16, y + 14), "Clipmint", bold(13), INK)
    draw_text(base, (x + 234, y + 15), "• • •", regular(11), MUTED, anchor="ra")
    colors = [BRAND, (0x5B, 0x8D, 0xEF), (0xF2, 0x9D, 0x38), (0x9B, 0x6A, 0xE8)]
    for index, ((text, kind), color) in enumerate(zip(words["history"], colors)):
        top = y + 44 + index * 37
        fill = (0xEC, 0xFA, 0xF5) if index == 0 else (0xF6, 0xF8, 0xFA)
        layer.rounded_rectangle([x + 12, top, x + 238, top + 30], 6, fill=rgba(fill))
        layer.rounded_rectangle([x + 20, top + 9, x + 32, top + 21], 3, fill=rgba(color))
        draw_text(base, (x + 40, top + 8), text, regular(12), INK)
        draw_text(base, (x + 230, top + 9), kind, regular(10), MUTED, anchor="ra")


def search_mockup(base, x, y, words):
    """A search box with matching results."""
    card(base, (x, y), (252, 176))
    layer = ScaledDraw(base)
    layer.rounded_rectangle([x + 14, y + 14, x + 238, y + 44], 15, fill=rgba((0xF2, 0xF5, 0xF7)),
                            outline=rgba(BRAND), width=2)
    layer.ellipse([x + 26, y + 22, x + 36, y + 32], outline=rgba(MUTED), width=2)
    layer.line([(x + 35, y + 31), (x + 40, y + 36)], fill=rgba(MUTED), width=2)
    query = words["query"]
    draw_text(base, (x + 48, y + 21), query, regular(13), INK)
    caret = x + 50 + int(length(regular(13), query))
    layer.line([(caret, y + 21), (caret, y + 37)], fill=rgba(BRAND), width=1)
    for index, text in enumerate(words["results"]):
        top = y + 56 + index * 30
        layer.rounded_rectangle([x + 14, top, x + 238, top + 24], 5,
                                fill=rgba((0xEC, 0xFA, 0xF5) if index == 0 else WHITE))
        draw_text(base, (x + 24, top + 5), text, regular(12), INK)


def sync_mockup(base, x, y, words):
    """Pinned snippets on a laptop and a second PC, kept in sync."""
    def device(dx, dy, w, h, pins):
        card(base, (dx, dy), (w, h), radius=8)
        layer = ScaledDraw(base)
        layer.rounded_rectangle([dx + 8, dy + 8, dx + w - 8, dy + 20], 3,
                                fill=rgba((0xEC, 0xFA, 0xF5)))
        for index, text in enumerate(pins):
            top = dy + 28 + index * 24
            layer.rounded_rectangle([dx + 8, top, dx + w - 8, top + 19], 4,
                                    fill=rgba((0xF6, 0xF8, 0xFA)))
            # A pin: a small filled circle with a stem.
            layer.ellipse([dx + 14, top + 5, dx + 22, top + 13], fill=rgba(BRAND))
            draw_text(base, (dx + 28, top + 3), text, regular(11), INK)

    device(x, y + 10, 150, 120, words["pins"])
    device(x + 118, y + 70, 136, 104, words["pins"][:3])
    layer = ScaledDraw(base)
    # Two arrows in a circle: the sync badge between the devices.
    cx, cy, r = x + 150, y + 52, 17
    layer.ellipse([cx - r, cy - r, cx + r, cy + r], fill=rgba(WHITE))
    layer.arc([cx - 9, cy - 9, cx + 9, cy + 9], 200, 340, fill=rgba(BRAND), width=3)
    layer.arc([cx - 9, cy - 9, cx + 9, cy + 9], 20, 160, fill=rgba(BRAND), width=3)
    layer.polygon([(cx + 9, cy - 7), (cx + 13, cy + 1), (cx + 4, cy)], fill=rgba(BRAND))
    layer.polygon([(cx - 9, cy + 7), (cx - 13, cy - 1), (cx - 4, cy)], fill=rgba(BRAND))


# What the pictured product shows: names, numbers and code read the same in every language, so
# the slides need no copy per language. Kind labels are left to the coloured marks.
MOCKUP_WORDS = {
    "history": [("https://nolt.example/clipmint", ""), ("+49 30 2041 3300", ""),
                ("screenshot-0412.png", ""), ("SELECT * FROM orders", "SQL")],
    "query": "2041",
    "results": ["#2041 – Nolt GmbH", "2041.pdf", "INV-2041.xlsx", "nolt.example/2041"],
    "pins": ["IBAN DE89 3704", "+49 30 2041", "nolt.example", "•••• •••• 2041"],
}

SLIDE_SIZE = (640, 250)


# Where the window puts the slides' texts (plain pixels): a column at the left, centred above the
# dots, which stay in one place whatever the words' length.
SLIDE_DOTS_Y = 204


def slide(index, words):
    width, height = SLIDE_SIZE
    tops = [(0x0B, 0xC9, 0x93), (0x0A, 0xB8, 0x96), (0x12, 0xB0, 0x86)]
    bottoms = [(0x05, 0x9E, 0x74), (0x06, 0x8F, 0x80), (0x07, 0x8E, 0x69)]
    base = vertical_gradient(width, height, tops[index], bottoms[index])
    base = soft_blobs(base, [(560, 20, 150, (0x7D, 0xF0, 0xC8), 120),
                             (80, 260, 170, (0x03, 0x6E, 0x52), 110),
                             (330, -40, 90, WHITE, 40)])
    # Where the slideshow stands: three dots, the current one wide.
    dots = ScaledDraw(base)
    for i in range(3):
        x = 40 + i * 14 + (10 if i > index else 0)
        if i == index:
            dots.rounded_rectangle([x, SLIDE_DOTS_Y, x + 20, SLIDE_DOTS_Y + 6], 3, fill=rgba(WHITE))
        else:
            dots.ellipse([x, SLIDE_DOTS_Y, x + 6, SLIDE_DOTS_Y + 6], fill=rgba(WHITE, 110))
    [history_mockup, search_mockup, sync_mockup][index](base, 352, 34 if index != 1 else 37, words)
    return base


def end_picture():
    """The end page's backdrop: the mark with a check badge; the window writes the words below."""
    width, height = 640, 360
    base = vertical_gradient(width, height, (0xF3, 0xFC, 0xF8), WHITE).convert("RGBA")
    base = soft_blobs(base, [(540, 30, 140, (0xB9, 0xF2, 0xDD), 150),
                             (70, 330, 150, (0xD8, 0xF7, 0xEC), 140)])
    # The product's mark with a check badge.
    mark = logo(88)
    paste(base, mark, (width // 2 - 44, 58))
    badge, draw = canvas(32, 32)
    draw.ellipse(box(0, 0, 32, 32), fill=rgba(WHITE))
    draw.ellipse(box(3, 3, 29, 29), fill=rgba(BRAND_DEEP))
    draw.line([(10 * SS, 16.5 * SS), (14 * SS, 20.5 * SS), (22 * SS, 11.5 * SS)],
              fill=rgba(WHITE), width=int(2.6 * SS), joint="curve")
    paste(base, reduce(badge, 32, 32), (width // 2 + 26, 124))
    return base


def home_picture():
    """The home page: the product's mark and name on a calm, light backdrop."""
    width, height = 640, 360
    base = vertical_gradient(width, height, (0xE9, 0xFA, 0xF3), WHITE).convert("RGBA")
    base = soft_blobs(base, [(600, 10, 160, (0xA8, 0xEE, 0xD4), 150),
                             (40, 40, 120, (0xD4, 0xF6, 0xEA), 150)])
    # The small title at the top left, as a window title would be.
    paste(base, logo(18), (14, 9))
    draw_text(base, (38, 11), "Clipmint", bold(13), INK)
    mark = logo(84)
    paste(base, mark, (width // 2 - 42, 58))
    draw_text(base, (width // 2, 154), "Clipmint", bold(34), INK, anchor="ma")
    draw_text(base, (width // 2, 196), "by Nolt", regular(14), MUTED, anchor="ma")
    return base


def icon(path):
    sizes = [16, 24, 32, 48, 64, 128, 256]
    big = logo(256)
    big.save(path, "ICO", sizes=[(s, s) for s in sizes])
    print("wrote", os.path.basename(path))


def window_parts(theme):
    """The pictures of the window's controls and frame, and the home page, at VARIANT."""
    public = os.path.join(theme, "public")

    save(sprite([solid_button(280, 48, c, radius=6) for c in (BRAND, BRAND_HOT, BRAND_PUSHED)]),
         public, "button/btn_start.png")
    save(sprite([outline_button(96, 30, LINE, WHITE), outline_button(96, 30, BRAND, (0xF0, 0xFB, 0xF7)),
                 outline_button(96, 30, BRAND_PUSHED, (0xDC, 0xF5, 0xEC))]),
         public, "button/btn_global_line.png")
    save(sprite([solid_button(96, 30, c) for c in (BRAND, BRAND_HOT, BRAND_PUSHED)]),
         public, "button/btn_global_green.png")
    save(sprite([path_button(s) for s in range(3)]), public, "button/btn_path.png")
    save(sprite([caption_button("min", s) for s in range(3)]), public, "button/btn_wnd_min.png")
    save(sprite([caption_button("close", s) for s in range(3)]), public, "button/btn_wnd_close.png")
    save(check_box(False), public, "CheckBox/check_no.png")
    save(check_box(False, hot=True), public, "CheckBox/check_no_hover.png")
    save(check_box(True), public, "CheckBox/check_yes.png")
    save(check_box(True, hot=True), public, "CheckBox/check_yes_hover.png")
    save(frame(120, 28, LINE, arrow=MUTED), public, "combo/combo_normal.png")
    save(frame(120, 28, BRAND, arrow=BRAND), public, "combo/combo_hover.png")
    save(frame(120, 28, LINE), public, "edit/edit_frame.png")
    save(frame(120, 28, BRAND), public, "edit/edit_frame_hover.png")
    save(bar(24, 6, (0xE4, 0xE9, 0xED), (0xE4, 0xE9, 0xED)), public, "progress/progress_bk.png")
    save(bar(24, 6, BRAND_HOT, BRAND), public, "progress/progress_fore.png")
    save(shadow(), public, "bk/bk_shadow.png")
    save(home_picture(), os.path.join(theme, "form"), "home.png")


def main():
    global VARIANT
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "..", "resources")
    root = os.path.normpath(root)
    theme = os.path.join(root, "themes", "default")
    for VARIANT in sorted(VARIANTS):
        window_parts(theme)

    # The photographs are drawn at the largest scale only, which the installer reduces for the
    # others: they are the largest pictures, and each size adds to the download.
    form = os.path.join(theme, "form")
    VARIANT = 2
    for index in range(3):
        save(slide(index, MOCKUP_WORDS), form, "bkimage/slide/%d.jpg" % (index + 1))
    save(end_picture(), form, "bkimage/end.jpg")
    VARIANT = 1

    icon(os.path.join(root, "installer.ico"))


if __name__ == "__main__":
    main()
