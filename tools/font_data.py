"""Font data for the sample game: font files taken from Debian's font
packages, and the add-glyph picture (an EXT0 image of 64x64 picture cells).

Standard library only; the EXT0 layout is written from its description
alone (little-endian):
  0 "EXT0"; 4 f32 offset x; 8 f32 offset y; 12 i32 texture width;
  16 i32 texture height; 20 i32 image width; 24 i32 image height;
  28 i32 centre x (-9999 none); 32 i32 centre y; 36 u8 bits per pixel (32);
  37..255 zero; then rows top to bottom of B, G, R, A bytes.

Sources:
  "<name>.sysfont": candidate paths of a font file, one a line ('#' starts
      a comment); the first that exists is stored as <name>.
  "<name>.addglyph": one picture cell a line, "<shape> <rrggbb>", shapes
      from SHAPES; the cells are stacked top to bottom in a 64-pixel-wide
      picture, cell n at byte 256 + n * 16384.
"""

import math
import os
import struct

CELL = 64
SYSFONT_SOURCE = ".sysfont"
ADDGLYPH_SOURCE = ".addglyph"
SHAPES = ("circle", "ring", "square", "diamond", "heart", "star", "triangle", "cross")


class FontDataError(ValueError):
    """A source that cannot be built."""


def ext0_bytes(width, height, bgra):
    """An EXT0 image of 32-bit pixels (bgra: width * height * 4 bytes)."""
    if len(bgra) != width * height * 4:
        raise FontDataError("pixel data is %d bytes, not %d" % (len(bgra), width * height * 4))
    head = b"EXT0" + struct.pack("<ffiiiiiiB", 0.0, 0.0, width, height, width, height, -9999, -9999, 32)
    return head + bytes(256 - len(head)) + bytes(bgra)


def sysfont_from_source(text, source="<source>"):
    paths = [line.split("#", 1)[0].strip() for line in text.splitlines()]
    paths = [p for p in paths if p]
    for p in paths:
        if os.path.isfile(p):
            with open(p, "rb") as f:
                return f.read()
    raise FontDataError("%s: none of %s exists (tools/setup.sh installs the font packages)"
                        % (source, ", ".join(paths) or "no paths"))


def _inside(shape, x, y):
    """Whether (x, y), both in -1..1 with y up, lies in the shape."""
    if shape == "circle":
        return x * x + y * y <= 0.81
    if shape == "ring":
        return 0.36 <= x * x + y * y <= 0.81
    if shape == "square":
        return abs(x) <= 0.75 and abs(y) <= 0.75
    if shape == "diamond":
        return abs(x) + abs(y) <= 0.9
    if shape == "heart":
        x, y = x * 1.15, y * 1.15 + 0.1
        return (x * x + y * y - 0.6) ** 3 - x * x * y ** 3 <= 0
    if shape == "star":
        r, a = math.hypot(x, y), math.atan2(y, x) - math.pi / 2
        edge = 0.9 * (0.55 + 0.45 * abs(math.cos(2.5 * a)) ** 3)
        return r <= edge
    if shape == "triangle":
        return y >= -0.7 and abs(x) <= (0.8 - y) * 0.6
    if shape == "cross":
        return (abs(x) <= 0.22 or abs(y) <= 0.22) and abs(x) <= 0.85 and abs(y) <= 0.85
    raise FontDataError("unknown shape %r (known: %s)" % (shape, ", ".join(SHAPES)))


def cell_pixels(shape, rgb):
    """A 64x64 BGRA cell: the shape in the colour, alpha from 4x4 samples."""
    out = bytearray(CELL * CELL * 4)
    for py in range(CELL):
        for px in range(CELL):
            hits = 0
            for sy in range(4):
                for sx in range(4):
                    x = ((px + (sx + 0.5) / 4) / CELL) * 2 - 1
                    y = 1 - ((py + (sy + 0.5) / 4) / CELL) * 2
                    hits += _inside(shape, x, y)
            if hits:
                at = (py * CELL + px) * 4
                out[at:at + 4] = bytes((rgb[2], rgb[1], rgb[0], hits * 255 // 16))
    return bytes(out)


def addglyph_from_source(text, source="<source>"):
    cells = []
    for n, line in enumerate(text.splitlines(), 1):
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        parts = line.split()
        if len(parts) != 2 or len(parts[1]) != 6:
            raise FontDataError("%s:%d: expected '<shape> <rrggbb>'" % (source, n))
        try:
            rgb = bytes.fromhex(parts[1])
        except ValueError as e:
            raise FontDataError("%s:%d: bad colour %r" % (source, n, parts[1])) from e
        if parts[0] not in SHAPES:
            raise FontDataError("%s:%d: unknown shape %r" % (source, n, parts[0]))
        cells.append(cell_pixels(parts[0], rgb))
    if not cells:
        raise FontDataError("%s: no cells" % source)
    return ext0_bytes(CELL, CELL * len(cells), b"".join(cells))
