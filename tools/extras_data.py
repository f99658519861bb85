#!/usr/bin/env python3
"""Writes the extras screens' data: the gallery's thumbnail container, the
event pictures the sample can unlock, and the gallery's track, from a small
JSON source (sample/extras.json).

  extras_data.py OUT [--source FILE]    writes the files below OUT

Source:
  {"archive": "data_00.pcarc",                the archive that takes them
   "pictures": {"2105": [1280, 720], ...},   event-picture id: size
   "track": {"record": 16, "synth": {...a sound_data.py source...}},
   "tracks": [{"record": 0, "synth": {...}}, ...],   more music-room tracks
   "omit_thumbs": [k, ...],                   thumbnails left out (tests)
   "omit_buttons": [i, ...]}                  special buttons left out (tests)

Names come from the catalogue and gallery tables (catalogue_data.py), so
there is one source of names: "visual/thumb/thumb.arc" holds
"thumb_<name>.ext" for the first picture of every thumbnail of either
variant (a 256x144 8-bit picture: that picture made small, from its source
under the tree's visual/adv (sample/base by default) or from the extras
source's size, or a
landscape of its own for a picture the sample lacks); "visual/adv/<name>.ext"
is an 8-bit landscape of the given size in a sand frame; the track is
"sound/bgm/<stem>.oggl"; "visual/thumb/thumb2.arc" holds the special-scenario
buttons "button_cNN.ext" of the special table (256x144, 8-bit, each the
scene its scenario brings in first, as the tree's script/script.arc/special.txt
places its pictures, made small).
--titles prints the music room's title section of sysgra_mes.mul.txt. Member and file names are Shift-JIS bytes made
with gen_cp932's tables (catalogue_data.sjis), handed to the writers as
bytes. files_from_source() gives {archive path (bytes): data}.
"""

import argparse
import json
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import catalogue_data  # noqa: E402
import image_data  # noqa: E402
import sound_data  # noqa: E402
import vndata  # noqa: E402

THUMB_SIZE = (256, 144)
# Palette: index -> B, G, R, A.
# The sample's palette (B, G, R, A): ink, parchment, night, sky, gold, teal,
# rose, sand, dusk, meadow, mist, plum.
PALETTE = [
    (74, 42, 30, 255), (216, 236, 244, 255), (52, 28, 20, 255), (216, 176, 143, 255),
    (96, 184, 224, 255), (122, 122, 60, 255), (90, 90, 184, 255), (131, 176, 201, 255),
    (108, 120, 184, 255), (44, 106, 58, 255), (200, 200, 170, 255), (120, 70, 110, 255),
]
SKIES = (3, 8, 5, 10, 6, 11, 9, 4)  # a ground colour per category


class ExtrasError(vndata.DataError):
    pass


def sjis(text):
    code = catalogue_data.sjis(text)
    if code is None:
        raise ExtrasError("%r has no Shift-JIS form" % text)
    return code


def fill(pic, x, y, rw, rh, index):
    w, h, px = pic
    x0, y0, x1, y1 = max(0, x), max(0, y), min(w, x + rw), min(h, y + rh)
    if x0 >= x1 or y0 >= y1:
        return
    span = bytes([index]) * (x1 - x0)
    for row in range(y0, y1):
        px[row * w + x0:row * w + x1] = span


def ext8(pic, entries=PALETTE):
    """An 8-bit Ext0Image of the picture, its texture the picture's size;
    entries: its palette, (B, G, R, A) each."""
    w, h, px = pic
    header = bytearray(256)
    struct.pack_into("<4sffiiiiiiB", header, 0, b"EXT0", 0.0, 0.0, w, h, w, h, -9999, -9999, 8)
    palette = bytearray(1024)
    for i, entry in enumerate(entries):
        palette[i * 4:i * 4 + 4] = bytes(entry)
    return bytes(header + palette + px)


def disc(pic, cx, cy, r, index):
    for row in range(cy - r, cy + r + 1):
        half = int(max(0, r * r - (row - cy) * (row - cy)) ** 0.5)
        fill(pic, cx - half, row, 2 * half + 1, 1, index)


def border(pic, width, index):
    w, h, _ = pic
    fill(pic, 0, 0, w, width, index)
    fill(pic, 0, h - width, w, width, index)
    fill(pic, 0, 0, width, h, index)
    fill(pic, w - width, 0, width, h, index)


def scene(w, h, sky, seed):
    """A small landscape: a sky, a sun or moon placed by seed, two hills."""
    pic = (w, h, bytearray([sky]) * (w * h))
    disc(pic, w * (2 + seed % 7) // 10, h * (2 + seed % 3) // 10, max(4, h // 9), 1 if seed % 2 else 4)
    disc(pic, w // 4, h + h // 3, h * 2 // 3, 2)
    disc(pic, w * 3 // 4, h + h // 2, h * 3 // 4, 0)
    return pic


def thumbnail(category, index, first_id):
    """The thumbnail of a picture the sample does not hold: a landscape."""
    w, h = THUMB_SIZE
    pic = scene(w, h, SKIES[category % len(SKIES)], index + first_id)
    border(pic, 4, 7)
    return ext8(pic)


def event_scene(pid, size):
    w, h = size
    pic = scene(w, h, SKIES[pid % len(SKIES)], pid)
    border(pic, 8, 7)
    return pic


def event_picture(pid, size):
    return ext8(event_scene(pid, size))


# The sample's tree: the story's own pictures are the ".pict" sources under
# its visual/adv.
SAMPLE_TREE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "sample", "base")


def story_pictures(tree=SAMPLE_TREE):
    """{picture name: ".pict" source text} of the pictures the tree draws
    from sources of their own."""
    out, adv = {}, os.path.join(tree, "visual", "adv")
    for n in sorted(os.listdir(adv)) if os.path.isdir(adv) else ():
        if n.endswith(".ext.pict"):
            with open(os.path.join(adv, n), encoding="utf-8") as f:
                out[n[:-len(".ext.pict")]] = f.read()
    return out


def _sampled(w, h, at):
    """Thumbnail-sized point samples of a w x h picture, scaled to cover
    the thumbnail from its top-left corner (as the viewer first shows it)."""
    tw, th = THUMB_SIZE
    scale = max(tw / w, th / h)
    return [at(min(w - 1, int(x / scale)), min(h - 1, int(y / scale))) for y in range(th) for x in range(tw)]


def _nearest(colour, choices):
    return min(range(len(choices)), key=lambda i: sum((a - b) * (a - b) for a, b in zip(colour, choices[i])))


def thumb_from_pixels(pic):
    """A thumbnail of an RGBA picture: 8-bit, its palette the picture's most
    frequent colours (in 16 steps a channel when there are more than fit),
    the sand border of every thumbnail around it."""
    w, h, px = pic
    return _thumb_from_samples(_sampled(w, h, lambda x, y: bytes(px[(y * w + x) * 4:(y * w + x) * 4 + 4])))


def _thumb_from_samples(samples):
    """The thumbnail of THUMB_SIZE RGBA samples (bytes each), as above."""
    sand = bytes((PALETTE[7][2], PALETTE[7][1], PALETTE[7][0], 255))
    counts = {}
    for c in samples:
        counts[c] = counts.get(c, 0) + 1
    if len(counts) > 255:
        samples = [bytes(v & 0xF0 | 0x08 for v in c[:3]) + c[3:] for c in samples]
        counts = {}
        for c in samples:
            counts[c] = counts.get(c, 0) + 1
    kept = [sand] + sorted(counts, key=lambda c: -counts[c])[:255]
    index = {c: i for i, c in enumerate(kept)}
    for c in counts:
        if c not in index:
            index[c] = _nearest(c, kept)
    tw, th = THUMB_SIZE
    thumb = (tw, th, bytearray(index[c] for c in samples))
    border(thumb, 4, 0)
    return ext8(thumb, [(c[2], c[1], c[0], c[3]) for c in kept])


def thumb_from_scene(pic):
    """A thumbnail of a picture drawn in the sample's palette."""
    w, h, px = pic
    tw, th = THUMB_SIZE
    thumb = (tw, th, bytearray(_sampled(w, h, lambda x, y: px[y * w + x])))
    border(thumb, 4, 7)
    return ext8(thumb)


# The stage a scenario draws on.
STAGE_SIZE = (1280, 720)


def special_stages(tree=SAMPLE_TREE):
    """{label: [(picture, x, y), ...]} of the special scenarios' script
    (script/script.arc/special.txt of the tree): the pictures each label's
    first transition brings in, the background first, then its layers in
    the order they are drawn (their numbers rising). "<image L,PAGE,NAME,,X,Y>"
    places NAME's top-left corner at (X, Y) on layer L ("base": the
    background, at the stage's corner); "<freeimage L>" takes it away."""
    path = os.path.join(tree, "script", "script.arc", "special.txt")
    if not os.path.isfile(path):
        return {}
    stages, label, layers = {}, None, None
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line.startswith("*"):
                label, layers = line, {}
            elif layers is None:
                continue
            elif line.startswith("<image "):
                args = [a.strip() for a in line[len("<image "):].rstrip(">").split(",")]
                base = args[0] == "base"
                at = [int(args[i]) if len(args) > i and args[i] and not base else 0 for i in (4, 5)]
                layers[-1 if base else int(args[0])] = (args[2], at[0], at[1])
            elif line.startswith("<freeimage "):
                layers.pop(int(line[len("<freeimage "):].rstrip(">")), None)
            elif line.startswith("<trans"):
                stages[label] = [layers[k] for k in sorted(layers)]
                layers = None
    return stages


class Pictures:
    """The sample's pictures by name, each drawn once: a story picture from
    its source, an unlockable one from the extras source's sizes."""

    def __init__(self, sizes, tree=SAMPLE_TREE):
        self.sizes, self.story, self.drawn, self.pixels = sizes, story_pictures(tree), {}, {}
        self.tree = tree

    def _pixels(self, name):
        if name not in self.pixels:
            self.pixels[name] = image_data.pixels_from_source(self.story[name], name)
        return self.pixels[name]

    def stage_thumb(self, stage):
        """The thumbnail of a stage [(picture, x, y), ...] (story pictures,
        drawn in turn over black, each blended by its alpha), None when
        the sample lacks one of them."""
        if not stage or any(name not in self.story for name, _, _ in stage):
            return None
        pics = [(self._pixels(name), x, y) for name, x, y in stage]

        def at(x, y):
            r = g = b = 0.0
            for (w, h, px), left, top in pics:
                if left <= x < left + w and top <= y < top + h:
                    i = ((y - top) * w + x - left) * 4
                    a = px[i + 3] / 255.0
                    r, g, b = (r + (px[i] - r) * a, g + (px[i + 1] - g) * a, b + (px[i + 2] - b) * a)
            return bytes((int(r + 0.5), int(g + 0.5), int(b + 0.5), 255))
        return _thumb_from_samples(_sampled(*STAGE_SIZE, at))

    def thumb(self, name, pid):
        """The thumbnail of the picture, None when the sample lacks it."""
        if name not in self.drawn:
            if name in self.story:
                pic = image_data.pixels_from_source(self.story[name], name)
                self.drawn[name] = thumb_from_pixels(pic)
            elif pid is not None and str(pid) in self.sizes:
                self.drawn[name] = thumb_from_scene(event_scene(pid, self.sizes[str(pid)]))
            else:
                self.drawn[name] = None
        return self.drawn[name]


def thumbnails(omit=()):
    """[(member name bytes, category, global index, first id)] of both variants."""
    pics = catalogue_data.pictures()
    r18, aa = catalogue_data.gallery()
    seen, out = set(), []
    for cats in (r18, aa):
        k = 0
        for c, cat in enumerate(cats):
            for run in cat:
                name = b"thumb_" + sjis(pics[run[0] - 2000]) + b".ext"
                if name not in seen and k not in omit:
                    seen.add(name)
                    out.append((name, c, k, run[0]))
                k += 1
    return out


# The music room's titles by catalogue record: ja, en, zh-hans, zh-hant.
MUSIC_TITLES = [
    ("セファのテーマ", "Sefa's Theme", "塞法的主题", "塞法的主題"),
    ("風の行方", "Where the Wind Goes", "风的去向", "風的去向"),
    ("ドーヴァのテーマ", "Dova's Theme", "多瓦的主题", "多瓦的主題"),
    ("静かな午後", "A Quiet Afternoon", "宁静的午后", "寧靜的午後"),
    ("ペンブルのテーマ", "Pemble's Theme", "彭布尔的主题", "彭布爾的主題"),
    ("雨の窓辺", "Rain on the Window", "雨中的窗边", "雨中的窗邊"),
    ("リラのテーマ", "Lirra's Theme", "莉拉的主题", "莉拉的主題"),
    ("街角の灯", "Street-Corner Lights", "街角的灯火", "街角的燈火"),
    ("クォリンのテーマ", "Quorin's Theme", "奎林的主题", "奎林的主題"),
    ("遠い記憶", "A Distant Memory", "遥远的记忆", "遙遠的記憶"),
    ("緊張", "Tension", "紧张", "緊張"),
    ("陽だまり", "A Patch of Sunlight", "向阳处", "向陽處"),
    ("夜想曲", "Nocturne", "夜曲", "夜曲"),
    ("追憶", "Remembrance", "追忆", "追憶"),
    ("セーブとロード", "Save and Load", "存档与读档", "存檔與讀檔"),
    ("哀しみの森　～降りやまぬ長い雨の夜～", "The Forest of Sorrow and Long Rain",
     "悲伤之森　～漫长的雨夜～", "悲傷之森　～漫長的雨夜～"),
    ("思い出の頁", "Pages of Memory", "回忆之页", "回憶之頁"),
    ("約束の空", "The Promised Sky ☆ Reprise", "约定的天空", "約定的天空"),
    ("クイルミア", "Quillmere", "奎尔米尔", "奎爾米爾"),
    ("序曲", "Overture", "序曲", "序曲"),
    ("夢想", "Reverie", "梦想", "夢想"),
]
MUSIC_PAGES = [list(range(0, 16)), list(range(16, 21))]  # catalogue records by page
LANGUAGES = ("ja", "en", "zh-hans", "zh-hant")


def music_display_index(i, n):
    """The number slot i of a page of n tracks shows, less one and the page's 16s."""
    return i // 2 if i % 2 == 0 else i // 2 + (n + 1) // 2


def music_titles_block():
    """Section 4 of the system picture message table: index 16 * page + d(i)
    holds the title of the track that slot i of the page plays. Each title
    begins with a space (written "\\s"), so that the room's "NN." number
    stands apart from it."""
    order = {}
    for page, records in enumerate(MUSIC_PAGES):
        for i, record in enumerate(records):
            order[16 * page + music_display_index(i, len(records))] = record
    lines = ["[section 4]",
             "# music room titles, written by tools/extras_data.py --titles (the slot order of the page table)"]
    for k in sorted(order):
        lines.append("# %d: catalogue record %d" % (k, order[k]))
        for lang, title in zip(LANGUAGES, MUSIC_TITLES[order[k]]):
            lines.append("%d.%s = \\s%s" % (k, lang, title))
    return "\n".join(lines) + "\n"


# The special-scenario buttons: "button_cNN.ext" of row i of the special table,
# whose scenario starts at label "*m<i + 1>".
SPECIAL_BUTTONS = [8, 11, 13, 20, 23, 25, 33, 34, 37, 46, 49, 52, 60, 64, 66]


def special_buttons(omit=(), pictures=None):
    """[(member name bytes, picture)] of thumb2.arc, rows in `omit` left out:
    each row's scene as its scenario first shows it, or a landscape when
    the scenario shows none of the sample's pictures."""
    pictures = pictures or Pictures({})
    stages = special_stages(pictures.tree)
    return [(b"button_c%d.ext" % n, pictures.stage_thumb(stages.get("*m%d" % (i + 1))) or thumbnail(6, i, 0))
            for i, n in enumerate(SPECIAL_BUTTONS) if i not in omit]


def _event_path(pics, pid):
    if not 2000 <= pid < 2376:
        raise ExtrasError("picture id %d outside 2000..2375" % pid)
    return b"visual/adv/" + sjis(pics[pid - 2000]) + b".ext"


def _track_path(track):
    return b"sound/bgm/" + sjis(catalogue_data.TRACKS[int(track["record"])]) + b".oggl"


def _tracks(desc):
    return list(desc.get("tracks", ())) + ([desc["track"]] if desc.get("track") else [])


def read_source(path):
    """The extras source at path, checked: each setting of the kind above,
    picture ids and track records the tables hold."""
    desc = vndata.read_json(path)
    def fault(text):
        raise ExtrasError("%s: %s" % (path, text))
    if not isinstance(desc, dict):
        fault("the extras are described by a JSON object")
    if not isinstance(desc.get("archive", ""), str):
        fault('"archive" is the file name of the archive that takes them')
    pictures = desc.get("pictures", {})
    if not isinstance(pictures, dict):
        fault('"pictures" is an object of event-picture ids and sizes')
    for pid, size in pictures.items():
        if not (pid.isascii() and pid.isdigit()) or not 2000 <= int(pid) < 2376:
            fault('picture id %s is no number from 2000 to 2375' % json.dumps(pid))
        if not isinstance(size, list) or len(size) != 2 or not all(type(v) is int and v > 0 for v in size):
            fault('picture %s: its size is [width, height], not %s' % (pid, json.dumps(size)))
    tracks = desc.get("tracks", [])
    if not isinstance(tracks, list):
        fault('"tracks" is a list of {"record": n, "synth": {...}}')
    for n, track in enumerate(tracks + ([desc["track"]] if "track" in desc else []), 1):
        record = track.get("record") if isinstance(track, dict) else None
        if type(record) is not int or not 0 <= record < len(catalogue_data.TRACKS) or \
                not isinstance(track.get("synth"), dict):
            fault('track %d is {"record": 0 to %d, "synth": {...a sound source...}}' % (
                n, len(catalogue_data.TRACKS) - 1))
    for key in ("omit_thumbs", "omit_buttons"):
        if not isinstance(desc.get(key, []), list) or not all(type(v) is int for v in desc.get(key, [])):
            fault('"%s" is a list of numbers' % key)
    return desc


def paths_from_source(desc):
    """The archive paths files_from_source() gives, without building them."""
    pics = catalogue_data.pictures()
    return ([b"visual/thumb/thumb2.arc", b"visual/thumb/thumb.arc"] +
            [_event_path(pics, int(pid)) for pid in desc.get("pictures", {})] +
            [_track_path(track) for track in _tracks(desc)])


def files_from_source(desc, tree=SAMPLE_TREE, where="extras track"):
    pics = catalogue_data.pictures()
    files = {}
    drawn = Pictures(desc.get("pictures", {}), tree)
    files[b"visual/thumb/thumb2.arc"] = vndata.arc_bytes(
        sorted(special_buttons(set(desc.get("omit_buttons", ())), drawn)))
    members = [(name, drawn.thumb(pics[first - 2000], first) or thumbnail(c, k, first))
               for name, c, k, first in thumbnails(set(desc.get("omit_thumbs", ())))]
    files[b"visual/thumb/thumb.arc"] = vndata.arc_bytes(sorted(members))
    for pid, size in desc.get("pictures", {}).items():
        files[_event_path(pics, int(pid))] = event_picture(int(pid), size)
    for track in _tracks(desc):
        files[_track_path(track)] = sound_data.synth_from_source(json.dumps(track["synth"]), "%s: record %d" % (
            where, track["record"]))
    return files


def main(argv=None):
    p = argparse.ArgumentParser(description="Writes the extras screens' data.")
    p.add_argument("out", nargs="?")
    p.add_argument("--titles", action="store_true", help="print the music room's title section and stop")
    p.add_argument("--source", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "sample",
                                                     "extras.json"))
    args = p.parse_args(argv)
    if args.titles:
        sys.stdout.write(music_titles_block())
        return 0
    if not args.out:
        p.error("OUT is needed")
    try:
        desc = read_source(args.source)
        for path, data in files_from_source(desc, where=args.source).items():
            full = os.path.join(os.fsencode(args.out), path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(data)
    except (vndata.DataError, sound_data.SoundError, OSError) as e:
        print(vndata.located("error", e.strerror or str(e) if isinstance(e, OSError) else str(e),
                             getattr(e, "filename", None) or args.source), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
