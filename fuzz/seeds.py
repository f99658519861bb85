#!/usr/bin/env python3
"""Writes the seeds of every fuzz target, and the sample game's archives.

  seeds.py OUT            writes OUT/TARGET/ for every target in TARGETS and
                          OUT/game/ (the sample's data_*.pcarc with every
                          sound cut to a quarter second, which the stage
                          target plays its scripts over)
  seeds.py --max-len T    prints target T's largest input in bytes

Each target starts from a few small inputs of its own format, laid out as
the target reads them (selector bytes, headers, separators), none larger than
its -max_len. The files come from the sample's sources (message tables,
scenarios, sounds, texts) and from the data tools (pictures, fonts, movies,
containers, archives, save stores), built small on purpose: a mutation of a
small file reaches the same parser code, many times faster.
Nothing is written when OUT already holds a "done" mark of this version.
"""

import os
import struct
import sys

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(here)
sys.path.insert(0, os.path.join(root, "tools"))
import build_sample  # noqa: E402
import image_data  # noqa: E402
import movie_data  # noqa: E402
import save_data  # noqa: E402
import script_data  # noqa: E402
import sound_data  # noqa: E402
import vndata  # noqa: E402

VERSION = "4"
KIB = 1024

# Every target and its largest input. A format that nests others (archives,
# containers, save stores) gets room for a few small members; a line of text
# gets the engine's text buffer and a little more.
TARGETS = {
    "archive_fuzz": 64 * KIB,
    "charcode_fuzz": 4 * KIB,
    "container_fuzz": 16 * KIB,
    "font_glyph_fuzz": 16 * KIB,
    "font_name_fuzz": 16 * KIB,
    "gzip_fuzz": 32 * KIB,
    "image_fuzz": 64 * KIB,
    "markup_fuzz": 2 * KIB,
    "message_table_fuzz": 32 * KIB,
    "movie_fuzz": 64 * KIB,
    "png_fuzz": 64 * KIB,
    "save_fuzz": 64 * KIB,
    "save_image_fuzz": 64 * KIB,
    "script_flow_fuzz": 4 * KIB,
    "script_fuzz": 16 * KIB,
    "script_stage_fuzz": 4 * KIB,
    "sound_fuzz": 32 * KIB,
    "sound_pack_fuzz": 32 * KIB,
    "sprite_texture_fuzz": 64 * KIB,
    "startup_chain_fuzz": 64 * KIB,
    "system_ini_fuzz": 64 + 16 * 16,
    "text_tags_fuzz": 2 * KIB,
}

# The separator of the start-up archives in one input (startup_chain_fuzz.cpp).
ARCHIVE_SEPARATOR = b"--vn-archive--"


# --- Sources -----------------------------------------------------------------

def sample_file(rel):
    with open(os.path.join(root, "sample", rel), "rb") as f:
        return f.read()


def mul_tables():
    out = {}
    for name in ("system_mes", "sysgra_mes", "script_mes"):
        text = sample_file("base/script/%s.mul.txt" % name).decode("utf-8")
        out[name] = vndata.mul_from_source(text, "utf8", name)
    return out


def scenarios():
    """{name: member bytes} of the sample's scenarios (Shift-JIS, CR LF)."""
    folder = os.path.join(root, "sample", "base", "script", "script.arc")
    out = {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), encoding="utf-8") as f:
            out[name] = script_data.script_bytes(f.read(), name, warn=lambda message: None)
    return out


def message_lines(members):
    """Lines of the scenarios that are not tags or labels: the texts shown."""
    lines = []
    for data in members.values():
        for line in data.split(b"\r\n"):
            if line and not line.startswith((b"*", b";")) and len(line) > 4:
                lines.append(line)
    return lines


def tag_lines(members):
    return [line for data in members.values() for line in data.split(b"\r\n") if line.startswith(b"<")]


def sounds():
    tone = sound_data.tone(2205, 22050, 441.0, 0.5)
    short = sound_data.tone(400, 22050, 661.5, 0.5)
    stereo = [sound_data.tone(1000, 44100, 441.0, 0.25), sound_data.tone(1000, 44100, 661.5, 0.25)]
    return {
        "tone.wav": sound_data.wav_bytes([short], 22050),
        "tone8.wav": sound_data.wav_bytes([tone], 22050, bits=8),
        "stereo.wav": sound_data.wav_bytes(stereo, 44100),
        "loop.wav": sound_data.wav_bytes([short * 2], 22050, loop=(100, 600)),
        "loop18.wav": sound_data.wav_bytes([short * 2], 22050, fmt18=True, loop=(100, 600)),
        "tone.ogg": sound_data.ogg_bytes([tone], 22050, quality=0.0),
        "loop.oggl": sound_data.ogg_bytes(stereo, 44100, quality=0.0) + sound_data.loop_trailer(100, 900),
    }


def pictures():
    """Small pictures in every stored form: EXT0 (32 and 8 bits), the 18-byte
    header (top and bottom first) and PNG."""
    pic = image_data.pattern_picture(24, 16)
    odd = image_data.pattern_picture(13, 7)
    flat = image_data.new_picture(16, 8, b"\x10\x20\x30\xff")
    return {
        "coords.ext": image_data.ext0_bytes(pic),
        "odd.ext": image_data.ext0_bytes(odd, texture=(16, 8)),
        "flat8.ext": image_data.ext0_bytes(flat, bpp=8),
        "coords.tga": image_data.header18_bytes(pic),
        "bottom.tga": image_data.header18_bytes(odd, descriptor=0x00),
        "coords.png": image_data.png_bytes(pic),
        "odd.png": image_data.png_bytes(odd),
        "dialog.png": image_data.picture_from_source(sample_file("base/utility/dialog/dialog.png.pict").decode("utf-8"),
                                                     "dialog.png"),
    }


def font():
    """A TrueType font of five glyphs (.notdef, space, a triangle for 'A', a
    square for 'g' and for two CJK characters) named "Fuzz Seed"."""
    def glyph(points):
        if not points:
            return b""
        xs, ys = [p[0] for p in points], [p[1] for p in points]
        out = struct.pack(">hhhhhH", 1, min(xs), min(ys), max(xs), max(ys), len(points) - 1)
        out += struct.pack(">H", 0) + bytes([1] * len(points))
        last = 0
        for x in xs:
            out += struct.pack(">h", x - last)
            last = x
        last = 0
        for y in ys:
            out += struct.pack(">h", y - last)
            last = y
        return out + b"\0" * (len(out) & 1)

    glyphs = [[], [], [(50, 0), (300, 700), (550, 0)], [(50, -200), (50, 500), (450, 500), (450, -200)],
              [(100, 0), (100, 800), (900, 800), (900, 0)]]
    cmap_codes = [(0x20, 1), (0x41, 2), (0x67, 3), (0x3042, 4), (0x4E00, 4)]
    glyf, loca = b"", []
    for points in glyphs:
        loca.append(len(glyf) // 2)
        glyf += glyph(points)
    loca.append(len(glyf) // 2)
    n = len(glyphs)
    head = struct.pack(">IIIIHHqqhhhhHHhhh", 0x10000, 0x10000, 0, 0x5F0F3CF5, 0x000B, 1000, 0, 0,
                       0, -200, 900, 800, 0, 8, 2, 0, 0)
    hhea = struct.pack(">IhhhHhhhhhhhhhhhH", 0x10000, 800, -200, 0, 1000, 0, 0, 900, 1, 0, 0, 0, 0, 0, 0, 0, n)
    maxp = struct.pack(">IHHHHHHHHHHHHHH", 0x10000, n, 4, 1, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0)
    hmtx = b"".join(struct.pack(">Hh", 600 if i < 4 else 1000, 0) for i in range(n))
    segs = cmap_codes + [(0xFFFF, 0)]
    seg2 = 2 * len(segs)
    sel = max(k for k in range(16) if (1 << k) <= len(segs))
    sub = struct.pack(">HHH", 4, 0, 0)  # length filled in below
    sub += struct.pack(">HHHH", seg2, 2 << sel, sel, seg2 - (2 << sel))
    sub += b"".join(struct.pack(">H", c) for c, _ in segs) + b"\0\0"
    sub += b"".join(struct.pack(">H", c) for c, _ in segs)
    sub += b"".join(struct.pack(">H", (g - c) & 0xFFFF if c != 0xFFFF else 1) for c, g in segs)
    sub += b"\0\0" * len(segs)
    sub = sub[:2] + struct.pack(">H", len(sub)) + sub[4:]
    cmap = struct.pack(">HHHHI", 0, 1, 3, 1, 12) + sub
    names = [(1, 0, 0, 1, b"Fuzz Seed"), (3, 1, 0x409, 1, "Fuzz Seed".encode("utf-16-be")),
             (3, 1, 0x409, 4, "Fuzz Seed Regular".encode("utf-16-be"))]
    strings, records = b"", b""
    for platform, encoding, language, name_id, text in names:
        records += struct.pack(">HHHHHH", platform, encoding, language, name_id, len(text), len(strings))
        strings += text
    name = struct.pack(">HHH", 0, len(names), 6 + len(records)) + records + strings
    post = struct.pack(">IIhhIIIII", 0x30000, 0, -100, 50, 0, 0, 0, 0, 0)
    loca_bytes = b"".join(struct.pack(">H", v) for v in loca)
    tables = sorted({"cmap": cmap, "glyf": glyf, "head": head, "hhea": hhea, "hmtx": hmtx, "loca": loca_bytes,
                     "maxp": maxp, "name": name, "post": post}.items())
    sel = max(k for k in range(16) if (1 << k) <= len(tables))
    out = struct.pack(">IHHHH", 0x10000, len(tables), 16 << sel, sel, 16 * len(tables) - (16 << sel))
    at = 12 + 16 * len(tables)
    body = b""
    for tag, data in tables:
        padded = data + b"\0" * (-len(data) % 4)
        checksum = sum(struct.unpack(">%dI" % (len(padded) // 4), padded)) & 0xFFFFFFFF
        out += struct.pack(">4sIII", tag.encode("ascii"), checksum, at + len(body), len(data))
        body += padded
    return out + body


def movies():
    small = {"size": "32x24", "rate": 30, "seconds": 0.1, "quality": 10}
    return {
        "mpeg4.avi": movie_data.avi_bytes(dict(small), "mpeg4.avi"),
        "mjpeg.avi": movie_data.avi_bytes(dict(small, video="mjpeg", audio="none"), "mjpeg.avi"),
        "silent.avi": movie_data.avi_bytes(dict(small, audio="none", size="16x16"), "silent.avi"),
    }


def store_files(slots=()):
    """(save.cdf, registry.cdf) of a store holding patterned slots."""
    image = bytearray(save_data.empty_image())
    table = bytearray(20 * save_data.SLOTS)
    for slot, seed in slots:
        save_data.put_slot(image, table, slot, save_data.patterned(slot, seed))
    return vndata.gz_bytes(bytes(image)), vndata.gz_bytes(bytes(table))


# --- Targets' inputs -----------------------------------------------------------

def startup_archives(files):
    base = vndata.pcarc_bytes(vndata.tables_from_files(files), "0100")
    patch = vndata.pcarc_bytes(vndata.tables_from_files({"doc/about.txt": b"patched\n"}), "0101")
    r18 = vndata.pcarc_bytes(vndata.tables_from_files({"doc/about.txt": b"r18\n",
                                                       "sound/se/se_decide.wav": files["sound/se/se_cancel.wav"]},
                                                      ("sound",)), "0102")
    return base, patch, r18


def save_input(mode, registry, nxt, save):
    """The save targets' layout: a mode byte, the registry's and the next
    registry's lengths (10 bits each), the three files."""
    return bytes([mode, len(registry) & 255, len(registry) >> 8, len(nxt) & 255, len(nxt) >> 8]) + registry + nxt + save


def target_seeds():
    members = scenarios()
    small_members = {k: v for k, v in members.items() if len(v) <= 3 * KIB}
    tables = mul_tables()
    snd = sounds()
    pics = pictures()
    ttf = font()
    lines = message_lines(small_members)
    tags = tag_lines(small_members)
    texts = {"about.txt": sample_file("base/doc/about.txt"), "credits.txt": sample_file("base/doc/credits.txt")}
    chain = {"script/system_mes.mul": tables["system_mes"], "script/sysgra_mes.mul": tables["sysgra_mes"],
             "doc/about.txt": texts["about.txt"], "sound/se/se_decide.wav": snd["tone.wav"],
             "sound/se/se_cancel.wav": snd["tone8.wav"], "sound/bgm/title.oggl": snd["loop.oggl"]}
    base, patch, r18 = startup_archives(chain)
    seeds = {t: {} for t in TARGETS}

    seeds["archive_fuzz"] = {"base.pcarc": base, "patch.pcarc": patch, "r18.pcarc": r18,
                             "text.pcarc": vndata.pcarc_bytes(vndata.tables_from_files(
                                 {"doc/about.txt": texts["about.txt"], "doc/credits.txt": texts["credits.txt"],
                                  "visual/system/a.ext": pics["flat8.ext"]}, ("doc",)), "0100")}
    seeds["startup_chain_fuzz"] = {"chain": ARCHIVE_SEPARATOR.join([base, patch, r18]),
                                   "base_only": base, "two": ARCHIVE_SEPARATOR.join([base, patch])}
    seeds["charcode_fuzz"] = dict(list(small_members.items())[:4], **texts)
    seeds["charcode_fuzz"].update({"line%d" % i: line for i, line in enumerate(lines[:8])})

    arc_members = [("a.txt", texts["about.txt"]), ("b.wav", snd["tone.wav"]), ("sub.txt", members["sub.txt"])]
    arc = vndata.arc_bytes(arc_members)
    seeds["container_fuzz"] = {"%s_%d" % (name, i): bytes([len(name)]) + arc + name.encode()
                               for i, (name, _) in enumerate(arc_members + [("missing.txt", b"")])}
    seeds["font_glyph_fuzz"] = {"seed.ttf": ttf}
    seeds["font_name_fuzz"] = {"seed.ttf": ttf}
    seeds["gzip_fuzz"] = {"text.gz": vndata.gz_bytes(b"fixture text\n" * 20),
                          "mes.gz": vndata.gz_bytes(tables["system_mes"]),
                          "plain.gz": vndata.gz_bytes(members["sub.txt"], trailer=False)}
    seeds["image_fuzz"] = dict(pics)
    seeds["sprite_texture_fuzz"] = dict(pics)
    seeds["png_fuzz"] = {name: bytes([0x80 | 16]) + data for name, data in pics.items() if name.endswith(".png")}
    seeds["png_fuzz"]["small_dst.png"] = bytes([0]) + pics["coords.png"]

    # Language (bits 1-3 of byte 0), text size, columns, indent and capacity.
    heads = [bytes([0x02, 0x09, 40, 0x41, 20, 0]), bytes([0x03, 0x3F, 0, 0x80, 3, 0]),
             bytes([0x04, 0x00, 79, 0x01, 200, 7])]
    seeds["markup_fuzz"] = {"line%d" % i: heads[i % 3] + line for i, line in enumerate(lines[:12])}
    seeds["text_tags_fuzz"] = {"text%d" % i: bytes([i * 37 & 255, 1, 2 + i, 0, 3, 0, 0, 0]) + line
                               for i, line in enumerate(lines[:12])}
    seeds["message_table_fuzz"] = {"%s_%d" % (name, s): struct.pack("<iiiI", s, s * 3, 0, 600) + data
                                   for name, data in tables.items() for s in (0, 1, 2)}
    seeds["movie_fuzz"] = movies()

    one = store_files([(0, 1), (32, 7)])
    empty = store_files()
    seeds["save_fuzz"] = {"one": save_input(0, one[1], b"", one[0]),
                          "empty": save_input(0, empty[1], b"", empty[0]),
                          "next": save_input(32, one[1], one[1], one[0]),
                          "missing": save_input(8 | 16, b"", b"", b"")}
    seeds["save_image_fuzz"] = dict(seeds["save_fuzz"])

    # Part 0: conditions and statements; 1: block skips; 2: restores.
    flow = {"cond": b"\x00[2000]==1&&[2001]!=0||[10]<3", "expr": b"\x00[2000]=rand(1,3),[2001]=[2000]*2",
            "restore0": b"\x02" + bytes(32), "restore1": b"\x02\x01\x00\x10\x00\x20\x03\x02" + bytes(range(64))}
    for name in ("sub.txt", "msgwin.txt", "ending.txt", "scene_choice.txt"):
        flow["blocks_" + name] = b"\x01" + members[name]
    seeds["script_flow_fuzz"] = flow
    seeds["script_fuzz"] = {name: data for name, data in members.items() if len(data) <= 16 * KIB}
    seeds["script_stage_fuzz"] = {name: data for name, data in members.items() if len(data) <= 4 * KIB}
    seeds["script_stage_fuzz"]["tags"] = b"\r\n".join(tags[:40]) + b"\r\n"

    # Byte 0 picks ".wav" (0), ".ogg" (1) or ".oggl" (2).
    seeds["sound_fuzz"] = {name: bytes([0 if name.endswith(".wav") else 2 if name.endswith(".oggl") else 1]) + data
                           for name, data in snd.items()}
    seeds["sound_pack_fuzz"] = {
        "pack.arc": vndata.arc_bytes([("a.wav", snd["loop.wav"]), ("b.oggl", snd["loop.oggl"]),
                                      ("c.ogg", snd["tone.ogg"]), ("d.wav", snd["tone8.wav"])]),
        "wavs.arc": vndata.arc_bytes([("a.wav", snd["stereo.wav"]), ("b.wav", snd["loop18.wav"])])}

    def display(x, y, w, h):
        return struct.pack("<iiii", x, y, w, h)
    ini = struct.pack("<iiIIB", 100, 80, 1280, 720, 0) + bytes(47)
    seeds["system_ini_fuzz"] = {"zero.ini": bytes(64), "window.ini": ini + display(0, 0, 1920, 1080),
                                "full.ini": struct.pack("<iiIIB", -50, 3000, 4000, 100, 1) + bytes(47) +
                                display(0, 0, 1280, 720) + display(1280, 0, 800, 600)}
    for target, files in seeds.items():
        for name, data in files.items():
            if len(data) > TARGETS[target]:
                raise ValueError("seed %s of %s is %d bytes, above its -max_len" % (name, target, len(data)))
    return seeds


def main(argv):
    if len(argv) == 2 and argv[0] == "--max-len":
        if argv[1] not in TARGETS:
            print("seeds.py: no target %s" % argv[1], file=sys.stderr)
            return 2
        print(TARGETS[argv[1]])
        return 0
    if len(argv) != 1:
        print("usage: seeds.py OUT | seeds.py --max-len TARGET", file=sys.stderr)
        return 2
    out = argv[0]
    done = os.path.join(out, "done")
    if os.path.exists(done) and open(done).read() == VERSION:
        return 0
    for target, files in target_seeds().items():
        folder = os.path.join(out, target)
        os.makedirs(folder, exist_ok=True)
        for name, data in files.items():
            vndata.write_file(os.path.join(folder, name), data)
    # The game the stage target plays over: every sound a quarter second
    # (rebuilt only where its sources changed).
    build_sample.main([os.path.join(out, "game"), "--sound-seconds", "0.25"])
    with open(done, "w") as f:
        f.write(VERSION)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
