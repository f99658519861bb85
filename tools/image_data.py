#!/usr/bin/env python3
"""Writes the engine's picture files: Ext0Image (".ext"), the 18-byte-header
format (".tga", save thumbnails) and PNG, from generated patterns or from a
".pict" source of plain shapes and labels.

  image_data.py ext0 OUT --size W H [--texture TW TH] [--bpp 32|8|4]
                         [--centre X Y] [--offset X Y] [--extra A B C D]
                         [PICTURE OPTIONS] [--broken V ...]
  image_data.py tga  OUT --size W H [--descriptor D] [PICTURE OPTIONS] [--broken V ...]
  image_data.py png  OUT --size W H [PICTURE OPTIONS] [--broken V ...]
  image_data.py pict OUT SOURCE        a picture described by a ".pict" source
  image_data.py batch FILE             one of the commands above per line

Picture options: --pattern coords|solid|index (default coords), --colour
RRGGBBAA (solid's colour, default ffffffff), --pixel X Y RRGGBBAA (repeatable,
applied last).
  coords: red = (7x + 13y) & 255, green = y & 255, blue = x & 255, alpha 255.
  index:  8-bit only: index (x + 3y) & 255 through the palette of entry i =
          red (5i) & 255, green 255 - i, blue i, alpha 255.
  solid:  every pixel the colour.
Colours are straight (not premultiplied) and written as given.

Ext0Image (little-endian): a 256-byte header {"EXT0", f32 offset x, y, i32
texture w, h, image w, h, centre x, y (-9999: none), u8 bits per pixel at 36,
4 x u32 extra at 40}, for 8 bits a 1024-byte palette (B, G, R, A entries; 64
bytes for 4 bits), then texture-width rows top first: B, G, R, A per pixel or
one palette index (4 bits: two pixels a byte, high nibble first). A picture
smaller than its texture lies in the top-left corner, the rest zero.
An 8-bit picture other than "index" takes its palette from its own colours
(at most 256, first seen first; index 0 is transparent black when padded).

18-byte header: 12 zero bytes, u16 w, h, u8 32, u8 descriptor (default
0x10), then w x h B, G, R, A pixels. The rows are stored bottom first when
the descriptor has bit 0x08 set or is 0, else top first, so that the picture
reads upright by that rule.

PNG: 8-bit RGBA (colour type 6), no interlace, filter 0 on every row.

A ".pict" source (JSON) describes one picture:
  {"format": "ext0" | "png" | "tga", "size": [w, h],
   "texture": [tw, th], "bpp": 32 | 8, "centre": [x, y],   (ext0 only)
   "background": "#rrggbb[aa]",
   "shapes": [{"rect": [x, y, w, h], "colour": "#...", "radius": 0},
              {"frame": [x, y, w, h], "width": 4, "colour": "#..."},
              {"circle": [cx, cy, r], "colour": "#..."},
              {"gradient": [x, y, w, h], "from": "#...", "to": "#...",
               "direction": "horizontal" | "vertical"},
              {"text": "SAVE", "at": [x, y], "scale": 4, "colour": "#..."},
              {"type": "はじめから", "face": "gothic", "size": 30, "at": [x, y],
               "colour": "#...", "align": "centre"},
              {"shadow": [x, y, w, h], "radius": 0, "blur": 8, "colour": "#..."},
              {"fade": [x, y, w, h]}]}
Shapes are painted in order, each replacing what lies under it; a rect
with a radius has its corners rounded (quarter circles). Text uses a
5x7 pixel font of letters (upper case), digits and " -_.:/()!?#%+".
A shadow is a rounded rect blended over what lies under it, its alpha
falling off to nothing over "blur" pixels outside its edge.
A fade thins what lies in its rect from whole at the top row to clear
below the bottom row (a figure ending softly above a window).
"Type" is text in a font face of Debian's font packages (FACES; the
packages tools/setup.sh installs), "size" pixels high, its baseline at y,
drawn as written (no "%" expansion) by Debian's ffmpeg tool (its drawtext
filter) and blended over what lies under it; "at" is its left end, or its
centre with "align" "centre".
"""

import argparse
import json
import os
import struct
import subprocess
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vndata  # noqa: E402

NO_CENTRE = -9999
MAX_SIDE = 8192


class ImageError(vndata.DataError):
    pass


# ---------------------------------------------------------------- pictures
#
# A picture is (w, h, bytearray of w * h RGBA pixels, rows top first).


def parse_colour(text):
    t = text.strip().lstrip("#")
    if len(t) == 6:
        t += "ff"
    if len(t) != 8:
        raise ImageError("colour %r is not RRGGBB or RRGGBBAA" % text)
    try:
        return bytes.fromhex(t)
    except ValueError:
        raise ImageError("colour %r is not hexadecimal" % text)


def new_picture(w, h, colour=b"\0\0\0\0"):
    if not (1 <= w <= MAX_SIDE and 1 <= h <= MAX_SIDE):
        raise ImageError("size %dx%d outside 1..%d" % (w, h, MAX_SIDE))
    return w, h, bytearray(colour * (w * h))


def coords_colour(x, y):
    return bytes(((7 * x + 13 * y) & 255, y & 255, x & 255, 255))


def palette_entry(i):
    """RGBA of entry i of the "index" pattern's palette."""
    return bytes(((5 * i) & 255, 255 - i, i, 255))


def pattern_picture(w, h, pattern="coords", colour=b"\xff\xff\xff\xff"):
    if pattern == "solid":
        return new_picture(w, h, colour)
    if pattern not in ("coords", "index"):
        raise ImageError("unknown pattern %r" % pattern)
    pic = new_picture(w, h)
    px = pic[2]
    for y in range(h):
        if pattern == "coords":
            row = b"".join(coords_colour(x, y) for x in range(w))
        else:
            row = b"".join(palette_entry((x + 3 * y) & 255) for x in range(w))
        px[y * w * 4:(y + 1) * w * 4] = row
    return pic


def fill_rect(pic, x, y, rw, rh, colour):
    w, h, px = pic
    x0, y0, x1, y1 = max(0, x), max(0, y), min(w, x + rw), min(h, y + rh)
    if x0 >= x1 or y0 >= y1:
        return
    span = colour * (x1 - x0)
    for row in range(y0, y1):
        at = (row * w + x0) * 4
        px[at:at + len(span)] = span


def set_pixel(pic, x, y, colour):
    fill_rect(pic, x, y, 1, 1, colour)


def fill_circle(pic, cx, cy, r, colour):
    for row in range(cy - r, cy + r + 1):
        d = r * r - (row - cy) * (row - cy)
        half = int(d ** 0.5) if d >= 0 else -1
        if half >= 0:
            fill_rect(pic, cx - half, row, 2 * half + 1, 1, colour)


def fill_rounded(pic, x, y, rw, rh, r, colour):
    """A rectangle whose corners are quarter circles of radius r."""
    r = max(0, min(r, rw // 2, rh // 2))
    if r == 0:
        fill_rect(pic, x, y, rw, rh, colour)
        return
    for i in range(r):
        d = r - i - 0.5
        inset = r - int(round((r * r - d * d) ** 0.5))
        fill_rect(pic, x + inset, y + i, rw - 2 * inset, 1, colour)
        fill_rect(pic, x + inset, y + rh - 1 - i, rw - 2 * inset, 1, colour)
    fill_rect(pic, x, y + r, rw, rh - 2 * r, colour)


def soft_shadow(pic, x, y, rw, rh, r, blur, colour):
    """A rounded rect whose alpha falls off linearly over `blur` pixels
    outside its edge, blended over what lies under it."""
    w, h, px = pic
    r = max(0, min(r, rw // 2, rh // 2))
    blur = max(1, blur)
    for py in range(max(0, y - blur), min(h, y + rh + blur)):
        for qx in range(max(0, x - blur), min(w, x + rw + blur)):
            # Distance from the rounded rect: from the inner rect, less r.
            dx = max(x + r - qx, 0, qx - (x + rw - 1 - r))
            dy = max(y + r - py, 0, py - (y + rh - 1 - r))
            d = (dx * dx + dy * dy) ** 0.5 - r
            if d >= blur:
                continue
            blend_pixel(px, (py * w + qx) * 4, colour, colour[3] if d <= 0 else int(colour[3] * (1 - d / blur)))


def fade_down(pic, x, y, rw, rh):
    """Scales the alpha in the rect from whole at its top row to nearly
    none at its bottom row."""
    w, h, px = pic
    x0, x1 = max(0, x), min(w, x + rw)
    for row in range(max(0, y), min(h, y + rh)):
        keep = 1.0 - (row - y + 1) / (rh + 1)
        for at in range((row * w + x0) * 4 + 3, (row * w + x1) * 4, 4):
            px[at] = int(px[at] * keep)


def blend_pixel(px, at, colour, a):
    """Source-over of colour at alpha a (0..255) onto the pixel at `at`."""
    if a <= 0:
        return
    under = px[at:at + 4]
    out_a = a + under[3] * (255 - a) // 255
    if out_a == 0:
        return
    for k in range(3):
        px[at + k] = (colour[k] * a + under[k] * under[3] * (255 - a) // 255) // out_a
    px[at + 3] = out_a


def fill_gradient(pic, x, y, rw, rh, c0, c1, horizontal):
    steps = rw if horizontal else rh
    colours = []
    for i in range(steps):
        t = i / (steps - 1) if steps > 1 else 0.0
        colours.append(bytes(int(round(a + (b - a) * t)) for a, b in zip(c0, c1)))
    if not horizontal:
        for i, c in enumerate(colours):
            fill_rect(pic, x, y + i, rw, 1, c)
        return
    w, h, px = pic
    x0, x1 = max(0, x), min(w, x + rw)
    if x0 >= x1:
        return
    row = b"".join(colours[x0 - x:x1 - x])
    for r in range(max(0, y), min(h, y + rh)):
        px[(r * w + x0) * 4:(r * w + x1) * 4] = row


# 5 x 7 glyphs, rows top first.
FONT = {
    "A": ".###.|#...#|#...#|#####|#...#|#...#|#...#",
    "B": "####.|#...#|#...#|####.|#...#|#...#|####.",
    "C": ".###.|#...#|#....|#....|#....|#...#|.###.",
    "D": "####.|#...#|#...#|#...#|#...#|#...#|####.",
    "E": "#####|#....|#....|####.|#....|#....|#####",
    "F": "#####|#....|#....|####.|#....|#....|#....",
    "G": ".###.|#...#|#....|#.###|#...#|#...#|.####",
    "H": "#...#|#...#|#...#|#####|#...#|#...#|#...#",
    "I": ".###.|..#..|..#..|..#..|..#..|..#..|.###.",
    "J": "..###|...#.|...#.|...#.|...#.|#..#.|.##..",
    "K": "#...#|#..#.|#.#..|##...|#.#..|#..#.|#...#",
    "L": "#....|#....|#....|#....|#....|#....|#####",
    "M": "#...#|##.##|#.#.#|#.#.#|#...#|#...#|#...#",
    "N": "#...#|#...#|##..#|#.#.#|#..##|#...#|#...#",
    "O": ".###.|#...#|#...#|#...#|#...#|#...#|.###.",
    "P": "####.|#...#|#...#|####.|#....|#....|#....",
    "Q": ".###.|#...#|#...#|#...#|#.#.#|#..#.|.##.#",
    "R": "####.|#...#|#...#|####.|#.#..|#..#.|#...#",
    "S": ".####|#....|#....|.###.|....#|....#|####.",
    "T": "#####|..#..|..#..|..#..|..#..|..#..|..#..",
    "U": "#...#|#...#|#...#|#...#|#...#|#...#|.###.",
    "V": "#...#|#...#|#...#|#...#|#...#|.#.#.|..#..",
    "W": "#...#|#...#|#...#|#.#.#|#.#.#|#.#.#|.#.#.",
    "X": "#...#|#...#|.#.#.|..#..|.#.#.|#...#|#...#",
    "Y": "#...#|#...#|.#.#.|..#..|..#..|..#..|..#..",
    "Z": "#####|....#|...#.|..#..|.#...|#....|#####",
    "0": ".###.|#...#|#..##|#.#.#|##..#|#...#|.###.",
    "1": "..#..|.##..|..#..|..#..|..#..|..#..|.###.",
    "2": ".###.|#...#|....#|...#.|..#..|.#...|#####",
    "3": "#####|...#.|..#..|...#.|....#|#...#|.###.",
    "4": "...#.|..##.|.#.#.|#..#.|#####|...#.|...#.",
    "5": "#####|#....|####.|....#|....#|#...#|.###.",
    "6": "..##.|.#...|#....|####.|#...#|#...#|.###.",
    "7": "#####|....#|...#.|..#..|.#...|.#...|.#...",
    "8": ".###.|#...#|#...#|.###.|#...#|#...#|.###.",
    "9": ".###.|#...#|#...#|.####|....#|...#.|.##..",
    " ": ".....|.....|.....|.....|.....|.....|.....",
    "-": ".....|.....|.....|#####|.....|.....|.....",
    "_": ".....|.....|.....|.....|.....|.....|#####",
    ".": ".....|.....|.....|.....|.....|.##..|.##..",
    ":": ".....|.##..|.##..|.....|.##..|.##..|.....",
    "/": "....#|....#|...#.|..#..|.#...|#....|#....",
    "(": "...#.|..#..|.#...|.#...|.#...|..#..|...#.",
    ")": ".#...|..#..|...#.|...#.|...#.|..#..|.#...",
    "!": "..#..|..#..|..#..|..#..|..#..|.....|..#..",
    "?": ".###.|#...#|....#|...#.|..#..|.....|..#..",
    "#": ".#.#.|.#.#.|#####|.#.#.|#####|.#.#.|.#.#.",
    "%": "##..#|##..#|...#.|..#..|.#...|#..##|#..##",
    "+": ".....|..#..|..#..|#####|..#..|..#..|.....",
}


def draw_text(pic, text, x, y, scale, colour):
    """Glyphs 5 x 7 with one column between them, each pixel scale x scale."""
    for i, ch in enumerate(text.upper()):
        glyph = FONT.get(ch)
        if glyph is None:
            raise ImageError("the label font has no %r" % ch)
        gx = x + i * 6 * scale
        for gy, row in enumerate(glyph.split("|")):
            for k, bit in enumerate(row):
                if bit == "#":
                    fill_rect(pic, gx + k * scale, y + gy * scale, scale, scale, colour)


def text_width(text, scale):
    return (6 * len(text) - 1) * scale if text else 0


# Font faces of "type" shapes: candidate files, the first that exists is used.
FACES = {
    "gothic": ("/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf",
               "/usr/share/fonts/truetype/fonts-japanese-gothic.ttf"),
    "mincho": ("/usr/share/fonts/opentype/ipafont-mincho/ipam.ttf",
               "/usr/share/fonts/truetype/fonts-japanese-mincho.ttf"),
    "pmincho": ("/usr/share/fonts/opentype/ipafont-mincho/ipamp.ttf",),
    "hei": ("/usr/share/fonts/truetype/wqy/wqy-microhei.ttc",),
    "sans": ("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",),
    "serif": ("/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf",),
}


def face_file(face):
    for path in FACES.get(face, ()):
        if os.path.isfile(path):
            return path
    if face not in FACES:
        raise ImageError("unknown face %r (faces: %s)" % (face, ", ".join(FACES)))
    raise ImageError("no file of face %r (tools/setup.sh installs the font packages)" % face)


def type_strips(types, width):
    """The coverage of every "type" shape, drawn white on black by one ffmpeg
    run, one frame a shape: a strip as wide as the picture and twice the
    size high, the baseline at 1.5 sizes, the text's left end at x 0 or its
    centre at x "at" (with "align" "centre"). Returns (rows, baseline row,
    coverage bytes) a shape."""
    if not types:
        return []
    rows = max(int(t.get("size", 24)) for t in types) * 2
    rows += rows % 2
    names, graph = [], []
    try:
        for n, t in enumerate(types):
            with tempfile.NamedTemporaryFile("w", encoding="utf-8", suffix=".txt", delete=False) as f:
                f.write(t["type"])
                names.append(f.name)
            size = int(t.get("size", 24))
            x = "%d-text_w/2" % t["at"][0] if t.get("align") == "centre" else "0"
            graph.append("drawtext=fontfile=%s:textfile=%s:expansion=none:fontsize=%d:fontcolor=white:x=%s:y=%d-max_glyph_a"
                         ":enable='eq(n,%d)'" % (face_file(t.get("face", "sans")), f.name, size, x, rows * 3 // 4, n))
        out = subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "color=black:s=%dx%d:r=1" % (width, rows),
                              "-vf", ",".join(graph), "-frames:v", str(len(types)), "-pix_fmt", "gray",
                              "-f", "rawvideo", "-"], capture_output=True)
    except FileNotFoundError:
        raise ImageError("ffmpeg is not installed (tools/setup.sh installs it)")
    finally:
        for name in names:
            os.unlink(name)
    frame = width * rows
    if out.returncode != 0 or len(out.stdout) != frame * len(types):
        raise ImageError("ffmpeg could not draw the texts: %s" % out.stderr.decode(errors="replace").strip())
    return [(rows, rows * 3 // 4, out.stdout[n * frame:(n + 1) * frame]) for n in range(len(types))]


def draw_type(pic, s, strip):
    """Blends a coverage strip of type_strips() in the shape's colour."""
    w, h, px = pic
    x, y = s["at"]
    colour = parse_colour(s.get("colour", "#ffffff"))
    rows, base, cover = strip
    shift = 0 if s.get("align") == "centre" else x
    for r in range(rows):
        py = y - base + r
        line = cover[r * w:(r + 1) * w]
        if not (0 <= py < h) or not line.strip(b"\0"):
            continue
        for cx, a in enumerate(line):
            px_x = cx + shift
            if a == 0 or not (0 <= px_x < w):
                continue
            blend_pixel(px, (py * w + px_x) * 4, colour, a * colour[3] // 255)


def paint(pic, shapes, where):
    try:
        strips = iter(type_strips([s for s in shapes if "type" in s], pic[0]))
    except (KeyError, TypeError, ValueError, IndexError) as e:
        raise ImageError("%s: a type shape: %s" % (where, e))
    for n, s in enumerate(shapes):
        what = "%s shape %d" % (where, n)
        try:
            if "rect" in s:
                x, y, w, h = s["rect"]
                fill_rounded(pic, x, y, w, h, int(s.get("radius", 0)), parse_colour(s["colour"]))
            elif "frame" in s:
                x, y, w, h = s["frame"]
                t, c = int(s.get("width", 2)), parse_colour(s["colour"])
                for r in ((x, y, w, t), (x, y + h - t, w, t), (x, y, t, h), (x + w - t, y, t, h)):
                    fill_rect(pic, *r, c)
            elif "circle" in s:
                cx, cy, r = s["circle"]
                fill_circle(pic, cx, cy, r, parse_colour(s["colour"]))
            elif "gradient" in s:
                x, y, w, h = s["gradient"]
                fill_gradient(pic, x, y, w, h, parse_colour(s["from"]), parse_colour(s["to"]),
                              s.get("direction", "horizontal") == "horizontal")
            elif "text" in s:
                x, y = s["at"]
                scale = int(s.get("scale", 2))
                if s.get("align") == "centre":
                    x -= text_width(s["text"], scale) // 2
                draw_text(pic, s["text"], x, y, scale, parse_colour(s.get("colour", "#ffffff")))
            elif "shadow" in s:
                x, y, w, h = s["shadow"]
                soft_shadow(pic, x, y, w, h, int(s.get("radius", 0)), int(s.get("blur", 8)),
                            parse_colour(s["colour"]))
            elif "fade" in s:
                fade_down(pic, *s["fade"])
            elif "type" in s:
                draw_type(pic, s, next(strips))
            else:
                raise ImageError("%s: no rect, frame, circle, gradient, text, type, shadow or fade" % what)
        except (KeyError, TypeError, ValueError) as e:
            raise ImageError("%s: %s" % (what, e))


# ---------------------------------------------------------------- formats


def bgra(px):
    """RGBA bytes to BGRA bytes."""
    out = bytearray(px)
    out[0::4], out[2::4] = px[2::4], px[0::4]
    return out


def padded(pic, tw, th, fill=b"\0\0\0\0"):
    w, h, px = pic
    if tw < w or th < h:
        raise ImageError("texture %dx%d is smaller than the picture %dx%d" % (tw, th, w, h))
    out = bytearray(fill * (tw * th))
    for y in range(h):
        out[y * tw * 4:y * tw * 4 + w * 4] = px[y * w * 4:(y + 1) * w * 4]
    return out


def to_indexed(px, pattern_index=False, reserve_clear=False):
    """(palette RGBA bytes of 256 entries, index bytes) of RGBA pixels."""
    if pattern_index:
        palette = b"".join(palette_entry(i) for i in range(256))
        lookup = {palette_entry(i): i for i in range(256)}
        lookup.setdefault(b"\0\0\0\0", 0)  # padding
    else:
        lookup, entries = {}, []
        if reserve_clear:
            lookup[b"\0\0\0\0"] = 0
            entries.append(b"\0\0\0\0")
        for i in range(0, len(px), 4):
            c = bytes(px[i:i + 4])
            if c not in lookup:
                if len(entries) == 256:
                    raise ImageError("more than 256 colours for an 8-bit picture")
                lookup[c] = len(entries)
                entries.append(c)
        palette = b"".join(entries).ljust(1024, b"\0")
    try:
        return palette, bytes(lookup[bytes(px[i:i + 4])] for i in range(0, len(px), 4))
    except KeyError:
        raise ImageError("a pixel is not in the index palette")


EXT0_BROKEN = (
    "truncated",     # the last byte of the pixels cut off
    "short-header",  # the first 100 bytes only
    "bpp-4",         # bits per pixel 4 (recognised, never drawn)
    "bpp-16",        # bits per pixel 16 (unknown)
    "zero-size",     # texture width 0
    "negative-size",  # texture height -1
    "huge-size",     # texture 0x40000000 x 0x40000000 (its pixel size does not fit 32 bits)
)


def ext0_bytes(pic, texture=None, bpp=32, centre=None, offset=(0.0, 0.0), extra=(0, 0, 0, 0),
               pattern_index=False, broken=None):
    bad = vndata.broken_variants(broken, EXT0_BROKEN)
    w, h, px = pic
    tw, th = texture or (w, h)
    if bpp not in (32, 8, 4):
        raise ImageError("bits per pixel must be 32, 8 or 4, not %r" % (bpp,))
    cx, cy = centre if centre is not None else (NO_CENTRE, NO_CENTRE)
    header = bytearray(256)
    struct.pack_into("<4sffiiiiiiB", header, 0, b"EXT0", float(offset[0]), float(offset[1]),
                     tw, th, w, h, int(cx), int(cy), bpp)
    struct.pack_into("<4I", header, 40, *[int(v) & 0xFFFFFFFF for v in extra])
    full = padded(pic, tw, th)
    if bpp == 32:
        body = bgra(full)
    else:
        palette, indices = to_indexed(full, pattern_index, reserve_clear=(tw, th) != (w, h))
        pal = bgra(palette)
        if bpp == 8:
            body = pal + indices
        else:
            if max(indices) > 15:
                raise ImageError("more than 16 colours for a 4-bit picture")
            row = (tw + 1) // 2
            packed = bytearray(row * th)
            for y in range(th):
                for x in range(tw):
                    v = indices[y * tw + x]
                    packed[y * row + x // 2] |= v << 4 if x % 2 == 0 else v
            body = pal[:64] + packed
    out = header + body
    if "bpp-4" in bad:
        out[36] = 4
    if "bpp-16" in bad:
        out[36] = 16
    if "zero-size" in bad:
        struct.pack_into("<i", out, 12, 0)
    if "negative-size" in bad:
        struct.pack_into("<i", out, 16, -1)
    if "huge-size" in bad:
        struct.pack_into("<ii", out, 12, 0x40000000, 0x40000000)
    if "truncated" in bad:
        out = out[:-1]
    if "short-header" in bad:
        out = out[:100]
    return bytes(out)


H18_BROKEN = (
    "truncated",     # the last byte of the pixels cut off
    "short-header",  # the first 10 bytes only
    "zero-size",     # width 0
)


def header18_bytes(pic, descriptor=0x10, broken=None):
    bad = vndata.broken_variants(broken, H18_BROKEN)
    w, h, px = pic
    if w > 0xFFFF or h > 0xFFFF:
        raise ImageError("the 18-byte header holds sides up to 65535")
    rows = [bgra(px[y * w * 4:(y + 1) * w * 4]) for y in range(h)]
    if descriptor & 0x08 or descriptor == 0:
        rows.reverse()
    out = bytearray(12) + struct.pack("<HHBB", w, h, 32, descriptor & 0xFF) + b"".join(rows)
    if "zero-size" in bad:
        struct.pack_into("<H", out, 12, 0)
    if "truncated" in bad:
        out = out[:-1]
    if "short-header" in bad:
        out = out[:10]
    return bytes(out)


PNG_BROKEN = (
    "truncated",  # cut in the middle of the image data
    "short",      # the first 20 bytes (the IHDR sizes missing)
    "huge-size",  # IHDR width 100000 (CRC kept right)
    "bad-crc",    # the IDAT chunk's CRC altered
)


def _chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png_bytes(pic, broken=None):
    bad = vndata.broken_variants(broken, PNG_BROKEN)
    w, h, px = pic
    raw = bytearray()
    for y in range(h):
        raw += b"\0" + px[y * w * 4:(y + 1) * w * 4]
    width = 100000 if "huge-size" in bad else w
    ihdr = _chunk(b"IHDR", struct.pack(">IIBBBBB", width, h, 8, 6, 0, 0, 0))
    idat = bytearray(_chunk(b"IDAT", zlib.compress(bytes(raw), 6)))
    if "bad-crc" in bad:
        idat[-1] ^= 0xFF
    out = b"\x89PNG\r\n\x1a\n" + ihdr + bytes(idat) + _chunk(b"IEND", b"")
    if "truncated" in bad:
        out = out[:33 + len(idat) // 2]
    if "short" in bad:
        out = out[:20]
    return out


# ---------------------------------------------------------------- .pict sources


def _painted(src, where):
    size = src.get("size")
    if not isinstance(size, list) or len(size) != 2 or not all(type(v) is int for v in size):
        raise ImageError('%s: "size" is [width, height] in pixels, not %s' % (where, json.dumps(size)))
    if not isinstance(src.get("background", ""), str):
        raise ImageError('%s: "background" is a colour, "#RRGGBB" or "#RRGGBBAA"' % where)
    w, h = size
    pic = new_picture(int(w), int(h), parse_colour(src.get("background", "#000000ff")))
    paint(pic, src.get("shapes", []), where)
    return pic


def pixels_from_source(text, where="<source>"):
    """The picture (w, h, RGBA bytes) a ".pict" source draws."""
    src = _source(text, where)
    try:
        return _painted(src, where)
    except (KeyError, TypeError, ValueError, AttributeError) as e:
        raise ImageError(str(e) if str(e).startswith(where) else "%s: %s" % (where, e))


def picture_from_source(text, where="<source>"):
    """The file bytes of a picture described by a ".pict" source."""
    src = _source(text, where)
    try:
        fmt = src.get("format", "ext0")
        pic = _painted(src, where)
        if fmt == "ext0":
            return ext0_bytes(pic, tuple(src["texture"]) if "texture" in src else None, int(src.get("bpp", 32)),
                              tuple(src["centre"]) if "centre" in src else None)
        if fmt == "png":
            return png_bytes(pic)
        if fmt == "tga":
            return header18_bytes(pic, int(src.get("descriptor", 0x10)))
        raise ImageError("unknown format %r" % fmt)
    except (KeyError, TypeError, ValueError, AttributeError) as e:
        raise ImageError(str(e) if str(e).startswith(where) else "%s: %s" % (where, e))


def _source(text, where):
    """The JSON object of a ".pict" source."""
    return vndata.json_source(text, where, "a picture", ImageError)


# ---------------------------------------------------------------- command line


def _parser():
    p = argparse.ArgumentParser(prog="image_data.py", description="Writes the engine's picture files.")
    sub = p.add_subparsers(dest="kind", required=True)

    def picture_args(sp, broken):
        sp.add_argument("out")
        sp.add_argument("--size", nargs=2, type=int, required=True, metavar=("W", "H"))
        sp.add_argument("--pattern", default="coords", choices=("coords", "solid", "index"))
        sp.add_argument("--colour", default="ffffffff")
        sp.add_argument("--pixel", nargs=3, action="append", default=[], metavar=("X", "Y", "RRGGBBAA"))
        sp.add_argument("--broken", action="append", choices=broken, metavar="V",
                        help="damage the file: " + ", ".join(broken))

    e = sub.add_parser("ext0", help="an Ext0Image")
    picture_args(e, EXT0_BROKEN)
    e.add_argument("--texture", nargs=2, type=int, metavar=("TW", "TH"))
    e.add_argument("--bpp", type=int, default=32, choices=(32, 8, 4))
    e.add_argument("--centre", nargs=2, type=int, metavar=("X", "Y"))
    e.add_argument("--offset", nargs=2, type=float, default=(0.0, 0.0), metavar=("X", "Y"))
    e.add_argument("--extra", nargs=4, type=int, default=(0, 0, 0, 0), metavar="N")
    t = sub.add_parser("tga", help="an 18-byte-header picture")
    picture_args(t, H18_BROKEN)
    t.add_argument("--descriptor", type=lambda s: int(s, 0), default=0x10)
    g = sub.add_parser("png", help="a PNG picture")
    picture_args(g, PNG_BROKEN)
    s = sub.add_parser("pict", help="a picture from a .pict source")
    s.add_argument("out")
    s.add_argument("source")
    b = sub.add_parser("batch", help="one command per line")
    b.add_argument("file")
    return p


def run(argv):
    args = _parser().parse_args(argv)
    if args.kind == "batch":
        vndata.run_batch(args.file, run)
        return
    if args.kind == "pict":
        with open(args.source, encoding="utf-8") as f:
            vndata.write_file(args.out, picture_from_source(f.read(), args.source))
        return
    w, h = args.size
    pic = pattern_picture(w, h, args.pattern, parse_colour(args.colour))
    for x, y, c in args.pixel:
        set_pixel(pic, int(x), int(y), parse_colour(c))
    if args.kind == "ext0":
        data = ext0_bytes(pic, tuple(args.texture) if args.texture else None, args.bpp,
                          tuple(args.centre) if args.centre else None, args.offset, args.extra,
                          args.pattern == "index", args.broken)
    elif args.kind == "tga":
        data = header18_bytes(pic, args.descriptor, args.broken)
    else:
        data = png_bytes(pic, args.broken)
    vndata.write_file(args.out, data)


def main(argv=None):
    try:
        run(sys.argv[1:] if argv is None else argv)
    except (vndata.DataError, OSError) as e:
        print("image_data.py: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
