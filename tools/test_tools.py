#!/usr/bin/env python3
"""Self-check of the data tools: python3 tools/test_tools.py

Each format is read back by a small reader written here from the layout
alone, which also names the fault it finds in a damaged file."""

import contextlib
import glob
import io
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import unittest.mock
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import build_sample  # noqa: E402
import catalogue_data  # noqa: E402
import check_run_state  # noqa: E402
import extras_data  # noqa: E402
import font_data  # noqa: E402
import image_data  # noqa: E402
import pack  # noqa: E402
import script_check  # noqa: E402
import script_data  # noqa: E402
import vndata  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class Bad(Exception):
    pass


def u32(b, at):
    return struct.unpack_from("<I", b, at)[0]


def cstr(b, at, what):
    end = b.find(b"\0", at, at + 64)
    if end < 0:
        raise Bad(what)
    return b[at:end]


def read_gz(b):
    if len(b) < 18:
        raise Bad("short")
    d = zlib.decompressobj(31)
    try:
        out = d.decompress(b)
    except zlib.error:
        raise Bad("crc")
    if not d.eof:
        raise Bad("truncated")
    if len(out) != u32(b, len(b) - 4):
        raise Bad("size")
    return out


def open_pcarc(b):
    """[(dir, compressed, {name: stored data})] in table order, and the version."""
    if len(b) < 400:
        raise Bad("header")
    t, base = struct.unpack_from("<iQ", b, 4)
    if not 0 <= t <= 32:
        raise Bad("t")
    if base > len(b):
        raise Bad("base")
    tables = []
    for j in range(t):
        off, size = struct.unpack_from("<Q", b, 16 + 8 * j)[0], u32(b, 272 + 4 * j)
        if size < 80:
            raise Bad("table-size")
        if off + size > len(b):
            raise Bad("table-bounds")
        tab = b[off:off + size]
        e, packed = struct.unpack_from("<iB", tab, 64)
        if e < 0 or 80 + 80 * e > size:
            raise Bad("entries")
        files = {}
        for k in range(e):
            at = 80 + 80 * k
            name = cstr(tab, at, "name")
            data_off, n = struct.unpack_from("<QI", tab, at + 64)
            if base + data_off + n > len(b):
                raise Bad("data-bounds")
            files[name] = b[base + data_off:base + data_off + n]
        tables.append((cstr(tab, 0, "dir-name"), bool(packed), files))
    return tables, b[:4].decode()


def pcarc_get(tables, path):
    folder, _, name = path.lower().encode().rpartition(b"/")
    for d, packed, files in tables:
        if d == folder:  # only the first table of a directory counts
            stored = files.get(name + b".gz" if packed else name)
            return None if stored is None else read_gz(stored) if packed else stored
    return None


def open_arc(b):
    n = u32(b, 4)
    if 8 + 72 * n > len(b):
        raise Bad("n")
    members = []
    for k in range(n):
        name = cstr(b, 8 + 72 * k, "name")
        size, off = struct.unpack_from("<II", b, 8 + 72 * k + 64)
        if off + size > len(b):
            raise Bad("bounds")
        members.append((name, off, b[off:off + size]))
    return members


def open_mul(b):
    """get(section, index, language) -> bytes, or None for a missing text."""
    if len(b) < 48:
        raise Bad("header")
    lang, n = b[0], u32(b, 4)
    counts = struct.unpack_from("<10I", b, 8)
    if 48 + 8 * n > len(b):
        raise Bad("n")
    if lang * sum(counts) > n:
        raise Bad("counts")
    strings = b[48 + 8 * n:]
    for e in range(n):
        off, ln = struct.unpack_from("<II", b, 48 + 8 * e)
        if ln and off + ln > len(strings):
            raise Bad("text-bounds")

    def get(s, i, g):
        e = lang * sum(counts[:s]) + lang * i + g
        off, ln = struct.unpack_from("<II", b, 48 + 8 * e)
        return strings[off:off + ln] if ln else None
    return get


def open_info(b):
    """[(label, file, offset)] of a label index."""
    if len(b) < 8:
        raise Bad("header")
    n, zero = struct.unpack_from("<iI", b, 0)
    if n < 0 or zero or 8 + 136 * n != len(b):
        raise Bad("count")
    out = []
    for k in range(n):
        at = 8 + 136 * k
        out.append((cstr(b, at, "label"), cstr(b, at + 64, "file"), struct.unpack_from("<Q", b, at + 128)[0]))
    return out


def fault(reader, data):
    try:
        reader(data)
    except Bad as e:
        return str(e)
    return None


class GzTest(unittest.TestCase):
    def test_round_trip_and_trailer(self):
        for data in (b"", b"x", bytes(range(256)) * 4, os.urandom(5000)):
            self.assertEqual(read_gz(vndata.gz_bytes(data)), data)
        f = vndata.gz_bytes(b"a" * 1000)
        self.assertEqual(f[-8:], bytes.fromhex("00000000e8030000"))
        self.assertEqual(f[:4], b"\x1f\x8b\x08\x00")
        plain = vndata.gz_bytes(b"abc" * 100, trailer=False)
        self.assertEqual(plain, vndata.gz_member(b"abc" * 100))
        self.assertEqual(read_gz(plain), b"abc" * 100)

    def test_broken(self):
        want = {"truncated": "truncated", "short": "short", "tiny": "short", "empty": "short",
                "bad-crc": "crc", "bad-size": "size"}
        for variant, why in want.items():
            self.assertEqual(fault(read_gz, vndata.gz_bytes(os.urandom(400), broken=variant)), why, variant)
        self.assertEqual(len(vndata.gz_bytes(b"abc", broken="tiny")), 3)


def make_tree(root, files):
    for rel, data in files.items():
        os.makedirs(os.path.dirname(os.path.join(root, rel)), exist_ok=True)
        with open(os.path.join(root, rel), "wb") as f:
            f.write(data)


class PcArcTest(unittest.TestCase):
    FILES = {"script/script.arc": b"S" * 3000, "script/b.txt": b"",
             "visual/system/sys_00.ext": b"picture", "visual/system#2/only2.ext": b"hidden",
             "Doc/ReadMe.TXT": b"hello"}

    def build(self, broken=None, version="0123"):
        with tempfile.TemporaryDirectory() as tmp:
            make_tree(os.path.join(tmp, "t"), self.FILES)
            vndata.write_pcarc(os.path.join(tmp, "a.pcarc"), os.path.join(tmp, "t"),
                               ["script"], version, broken)
            with open(os.path.join(tmp, "a.pcarc"), "rb") as f:
                return f.read()

    def test_round_trip(self):
        b = self.build()
        tables, version = open_pcarc(b)
        self.assertEqual(version, "0123")
        self.assertGreater(struct.unpack_from("<Q", b, 8)[0], 400)
        self.assertEqual([(d, p) for d, p, _ in tables],
                         [(b"doc", False), (b"script", True), (b"visual/system", False),
                          (b"visual/system", False)])
        self.assertIn(b"script.arc.gz", tables[1][2])
        self.assertEqual(pcarc_get(tables, "script/script.arc"), b"S" * 3000)
        self.assertEqual(pcarc_get(tables, "script/b.txt"), b"")
        self.assertEqual(pcarc_get(tables, "visual/system/sys_00.ext"), b"picture")
        self.assertEqual(pcarc_get(tables, "doc/readme.txt"), b"hello")
        self.assertIsNone(pcarc_get(tables, "visual/system/only2.ext"))  # second table
        self.assertIn(b"only2.ext", tables[3][2])

    def test_broken(self):
        want = {"truncated-header": "header", "t33": "t", "base-past-eof": "base", "table-size-10": "table-size",
                "table-past-eof": "table-bounds", "e-beyond-table": "entries",
                "dir-no-nul": "dir-name", "name-no-nul": "name", "offset-past-eof": "data-bounds",
                "size-past-eof": "data-bounds"}
        for variant, why in want.items():
            self.assertEqual(fault(open_pcarc, self.build(variant)), why, variant)
        for variant, why in (("short-gz", "short"), ("bad-crc", "crc"), ("huge-size", "size")):
            tables, _ = open_pcarc(self.build(variant))
            self.assertEqual(fault(lambda t: pcarc_get(t, "script/b.txt"), tables), why, variant)

    def test_refuses_bad_input(self):
        long_name = vndata.Table("d", True, [("n" * 61, b"")])  # 61 + ".gz" does not fit 63
        for tables in ([long_name], [vndata.Table("d")] * 33):
            self.assertRaises(vndata.DataError, vndata.pcarc_bytes, tables)
        self.assertRaises(vndata.DataError, vndata.pcarc_bytes, [], "12a4")
        self.assertRaises(vndata.DataError, vndata.tables_from_files, {"top.txt": b""})


class ArcTest(unittest.TestCase):
    MEMBERS = [("00_info.bin", b"info"), ("X" * 63, b"long"), ("empty", b""), ("c.bin", b"c" * 33)]

    def test_round_trip(self):
        members = open_arc(vndata.arc_bytes(self.MEMBERS))
        self.assertEqual([(n.decode(), d) for n, _, d in members], self.MEMBERS)
        self.assertTrue(all(off % 16 == 0 for _, off, _ in members))
        self.assertEqual(open_arc(vndata.arc_bytes([])), [])
        self.assertRaises(vndata.DataError, vndata.arc_bytes, [("Y" * 64, b"")])

    def test_broken(self):
        want = {"n-too-large": "n", "n-huge": "n", "offset-past-end": "bounds",
                "size-past-end": "bounds", "offset-wrap": "bounds", "long-name": "name"}
        for variant, why in want.items():
            self.assertEqual(fault(open_arc, vndata.arc_bytes(self.MEMBERS, variant)), why, variant)


MUL_SOURCE = """\
# test table
languages = ja en zh-hans zh-hant
[section 0]
count = 10
0.ja = 日本語のテキスト
0.en =   two  words\\s
0.zh-hans = 简体
[ Section 1 ]
count = 20
3.2 = line\\nbreak \\\\ \\x82\\xA0
[section 2]
count = 30
[section 9]
0.3 = last
"""


class MulTest(unittest.TestCase):
    def test_lookup_in_both_encodings(self):
        for enc, codec in (("utf8", "utf-8"), ("sjis", "cp932")):
            b = vndata.mul_from_source(MUL_SOURCE.replace("简体", "漢字"), enc)
            get = open_mul(b)
            self.assertEqual(b[0], 4)
            self.assertEqual(struct.unpack_from("<10I", b, 8), (10, 20, 30) + (0,) * 6 + (1,))
            self.assertEqual(get(0, 0, 0).decode(codec), "日本語のテキスト")
            self.assertEqual(get(0, 0, 1), b"two  words ")
            self.assertEqual(get(0, 0, 2).decode(codec), "漢字")
            self.assertIsNone(get(0, 0, 3))
            e54 = struct.unpack_from("<II", b, 48 + 8 * 54)
            self.assertEqual(b[48 + 8 * u32(b, 4) + e54[0]:][:e54[1]], b"line\nbreak \\ \x82\xa0")
            self.assertEqual(get(9, 0, 3), b"last")

    def test_source_errors(self):
        for src in ("[section 0]\n0.ja = x", "languages = ja\n[section 0]\n0.fr = x",
                    "languages = 2\n[section 10]", "languages = 2\n[section 0]\ncount = 1\n1.0 = x",
                    "languages = 2\n[section 0]\n0.0 = a\\q", "languages = ja\n[section 0]\n0.0 = a\n0.ja = b"):
            self.assertRaises(vndata.DataError, vndata.parse_mul_source, src)
        self.assertRaises(vndata.DataError, vndata.mul_from_source, MUL_SOURCE, "sjis")  # 简 has no SJIS code

    def test_broken(self):
        want = {"truncated": "header", "n-too-large": "n", "n-huge": "n", "counts-exceed-n": "counts",
                "offset-past-end": "text-bounds", "length-past-end": "text-bounds"}
        for variant, why in want.items():
            self.assertEqual(fault(open_mul, vndata.mul_from_source(MUL_SOURCE, broken=variant)), why, variant)


class FrontEndTest(unittest.TestCase):
    def test_pack_and_sample(self):
        with tempfile.TemporaryDirectory() as tmp:
            src = os.path.join(tmp, "m.txt")
            with open(src, "w", encoding="utf-8") as f:
                f.write(MUL_SOURCE)
            self.assertEqual(pack.main(["mul", os.path.join(tmp, "m.mul.gz"), src, "--gzip"]), 0)
            with open(os.path.join(tmp, "m.mul.gz"), "rb") as f:
                self.assertEqual(open_mul(read_gz(f.read()))(9, 0, 3), b"last")
            self.assertEqual(pack.main(["arc", os.path.join(tmp, "x.arc"), src]), 0)
            # A language typo is named at its line, from the current folder.
            with open(src, "a", encoding="utf-8") as f:
                f.write("505.zh-hnat = x\n")
            with contextlib.redirect_stderr(io.StringIO()) as err:
                self.assertEqual(pack.main(["mul", os.path.join(tmp, "m.mul"), src]), 1)
            self.assertEqual(err.getvalue(), os.path.relpath(src) + ":%d: error: unknown language 'zh-hnat'\n"
                             % (MUL_SOURCE.count("\n") + 1))
            # The writers' cache of CTest's own sample build (VN_SAMPLE_BUILDS) spares making its media again.
            caches = glob.glob(os.path.join(glob.escape(os.environ["VN_SAMPLE_BUILDS"]), "*", ".build-cache")
                               ) if os.environ.get("VN_SAMPLE_BUILDS") else []
            if caches:
                shutil.copytree(max(caches, key=os.path.getmtime), os.path.join(tmp, ".build-cache"))
            self.assertEqual(build_sample.main([tmp]), 0)
            with open(os.path.join(tmp, "data", "data_00.pcarc"), "rb") as f:
                base, v0 = open_pcarc(f.read())
            with open(os.path.join(tmp, "data", "data_p00.pcarc"), "rb") as f:
                patch, v1 = open_pcarc(f.read())
        get = open_mul(pcarc_get(base, "script/system_mes.mul"))
        self.assertEqual(get(2, 29, 1), b"Do you want to quit the game?")
        self.assertTrue(all(get(2, i, g) for i in (29, 30) for g in range(4)))
        self.assertEqual(get(2, 30, 0).decode(), "終了確認")
        self.assertNotEqual(pcarc_get(base, "doc/about.txt"), pcarc_get(patch, "doc/about.txt"))
        self.assertLess(int(v0), int(v1))
        members = {name: data for name, _, data in open_arc(pcarc_get(base, "script/script.arc"))}
        labels = open_info(members[b"00_info.bin"])
        self.assertEqual([(l, f) for l, f, _ in labels if f in (b"00_init.txt", b"sub.txt")],
                         [(b"*top", b"00_init.txt"), (b"*branch", b"00_init.txt"), (b"*end", b"00_init.txt"),
                          (b"*sub_top", b"sub.txt")])
        self.assertEqual([l for l, f, _ in labels if f == b"special.txt"], [b"*m%d" % i for i in range(1, 16)])
        self.assertEqual([l for l, f, _ in labels if f == b"voices.txt"], [b"*voices_top"])
        for label, file, offset in labels:
            text = members[file]
            self.assertTrue(text[offset:].startswith(label + b"\r\n<label"), label)


# The interpreter's command table, as the engine's syntax test reads it too:
# {index: name} and the names of the plain commands.
def _command_table():
    names, plain = {}, set()
    with open(os.path.join(ROOT, "tests", "data", "commands.txt"), encoding="ascii") as f:
        for line in f.read().splitlines():
            if line and not line.startswith("#"):
                index, name, kind = line.split("\t")
                names[int(index)] = name
                if kind == "plain":
                    plain.add(name)
    return names, plain


COMMANDS, PLAIN = _command_table()


def tag_names(text):
    """The command names of the tags that begin the lines of a script member
    (Shift-JIS, CR LF); a tag written by its index counts by its name."""
    names = set()
    for line in text.split(b"\r\n"):
        if not line.startswith(b"<"):
            continue
        word = line[1:].split(b">")[0].split(b" ")[0].decode("ascii", "replace")
        names.add(COMMANDS.get(int(word), word) if word.isdigit() else word)
    return names


class SampleScenarioTest(unittest.TestCase):
    def test_every_command_has_a_tag_in_the_sample(self):
        self.assertEqual(COMMANDS, {v: k for k, v in script_data.COMMANDS.items()})
        self.assertEqual(PLAIN, script_data.PLAIN)
        root = ROOT
        folder = os.path.join(root, "sample", "base", "script", "script.arc")
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "script.arc")
            self.assertEqual(pack.main(["script", folder, out]), 0)
            with open(out, "rb") as f:
                members = open_arc(f.read())
        # The tags that begin the lines of the built members, and the
        # listing of which source line uses which command: both agree.
        seen = set()
        for name, _, data in members:
            if name.endswith(b".txt"):
                seen |= tag_names(data)
        uses = script_data.command_uses(folder)
        listing = "\n".join("%s: %s" % (c, " ".join(uses.get(c, ["-"]))) for c in COMMANDS.values())
        missing = sorted(set(COMMANDS.values()) - seen)
        self.assertEqual(missing, [], "commands no tag of the sample uses: %s\n%s" % (", ".join(missing), listing))
        self.assertEqual(script_data.unused_commands(uses), [], listing)
        self.assertEqual(set(uses), set(COMMANDS.values()), listing)

    def test_every_shown_text_is_a_key_in_every_language(self):
        # A line written into the script is in one language only; a key that
        # lacks a language shows nothing in that interface language.
        root = ROOT
        script = os.path.join(root, "sample", "base", "script")
        tables = {}
        for name in ("script_mes", "sysgra_mes", "system_mes"):
            with open(os.path.join(script, name + ".mul.txt"), encoding="utf-8") as f:
                langs, _, texts = vndata.parse_mul_source(f.read(), source=name)
            self.assertEqual(langs, 4, name)
            tables[name] = texts
            for (s, i, _) in texts:
                missing = [g for g in range(langs) if not texts.get((s, i, g))]
                self.assertEqual(missing, [], "%s section %d text %d lacks languages %s" % (name, s, i, missing))
        section = {"NAME": 0, "SELECT": 1, "TEXT": 2}
        folder = os.path.join(script, "script.arc")
        for member in sorted(os.listdir(folder)):
            with open(os.path.join(folder, member), encoding="utf-8") as f:
                for n, line in enumerate(f, 1):
                    # [2003] is the story screen's "backlog off": no choice may set it.
                    self.assertNotRegex("" if line.startswith(";") else line, r"\[0*2003\]\s*([-+]?=(?!=)|\+\+|--)",
                                        "%s:%d" % (member, n))
                    m = re.match(r"<(text|name|menuadd [01],)(?: ([^,>]*))?[,>]", line)
                    if not m or m.group(2) in (None, "", "#n"):
                        continue
                    key = re.fullmatch(r"(NAME|SELECT|TEXT)_([0-9]+)", m.group(2))
                    where = "%s:%d %s" % (member, n, line.strip())
                    self.assertTrue(key, "%s: a text written in place, not a key of script_mes" % where)
                    self.assertIn((section[key.group(1)], int(key.group(2)), 0), tables["script_mes"], where)

    def test_every_special_scenario_is_a_scene_of_the_story(self):
        # Each label of special.txt sets its window frame and music, brings
        # in a background and at least one of the story's people, shows two
        # to four lines of its own and goes back to the menu; its button
        # shows that stage. The player sees the people come in with the
        # place: both are drawn on the back page, the place first, before
        # the first transition, and the scene waits for that transition
        # before its first line.
        root = ROOT
        base = os.path.join(root, "sample", "base")
        stages = extras_data.special_stages(base)
        adv = set(extras_data.story_pictures(base))
        tracks = {t.lower() for t in catalogue_data.TRACKS}
        with open(os.path.join(base, "script", "script.arc", "special.txt"), encoding="utf-8") as f:
            labels = re.split(r"^(\*m[0-9]+)$", f.read(), flags=re.M)[1:]
        self.assertEqual(labels[0::2], ["*m%d" % i for i in range(1, 16)])
        lines = []
        for label, body in zip(labels[0::2], labels[1::2]):
            tags = [t for t in body.splitlines() if t.startswith("<")]
            self.assertEqual(tags[:2], ["<label>", "<winframe 1>"], label)
            self.assertEqual(tags[-1], "<returnmenu>", label)
            music = [t for t in tags if t.startswith("<playbgm ")]
            self.assertEqual(len(music), 1, label)
            self.assertIn(music[0][len("<playbgm "):].split(",")[0].lower(), tracks, label)
            stage = stages.get(label, [])
            self.assertTrue(stage and stage[0][0].startswith("bg_"), label)
            self.assertTrue(all(name in adv for name, _, _ in stage), label)
            self.assertTrue(any(name.startswith("chara_") for name, _, _ in stage[1:]), label)
            shown = next(i for i, t in enumerate(tags) if t.startswith("<trans "))
            drawn = [[a.strip() for a in t[len("<image "):-1].split(",")] for t in tags[:shown]
                     if t.startswith("<image ")]
            self.assertEqual([(d[0], d[1]) for d in drawn[:1]], [("base", "back")], label)
            for d in drawn[1:]:
                self.assertEqual((d[1], d[2][:6]), ("back", "chara_"), "%s %s" % (label, d))
            self.assertEqual(tags[shown + 1], "<wt>", label)
            first_line = next(i for i, t in enumerate(tags) if t.startswith(("<name ", "<text ")))
            self.assertLess(shown, first_line, label)
            self.assertFalse([t for t in tags[shown:first_line] if t.startswith("<image ")], label)
            said = [int(t[len("<keywait "):-1]) for t in tags if t.startswith("<keywait ")]
            self.assertTrue(2 <= len(said) <= 4, label)
            self.assertEqual(said, [int(t[len("<text TEXT_"):-1]) for t in tags if t.startswith("<text ")], label)
            lines += said
        self.assertEqual(len(lines), len(set(lines)))
        self.assertFalse({0, 1} & set(lines))

    def test_listing_names_the_lines_and_the_unused_commands(self):
        with tempfile.TemporaryDirectory() as tmp:
            with open(os.path.join(tmp, "a.txt"), "w", encoding="utf-8") as f:
                f.write("; <text> in a comment is no tag\n*a\n<label>\n<text x>\n<11 y>\n<wait 1><keywait 0>\n")
            with open(os.path.join(tmp, "b.txt"), "w", encoding="utf-8") as f:
                f.write("<name ウェルム>\n")
            uses = script_data.command_uses(tmp, lambda m: None)
            self.assertEqual(uses, {"label": ["a.txt:3"], "text": ["a.txt:4", "a.txt:5"], "wait": ["a.txt:6"],
                                    "keywait": ["a.txt:6"], "name": ["b.txt:1"]})
            unused = script_data.unused_commands(uses)
            self.assertEqual(set(unused), set(script_data.COMMANDS) - {"label", "text", "wait", "keywait", "name"})
            self.assertEqual(unused[:3], ["analyze_00", "voice", "font"])
            out = io.StringIO()
            with contextlib.redirect_stdout(out):
                self.assertEqual(script_data.main(["uses", tmp]), 1)
            printed = out.getvalue().splitlines()
            self.assertIn("text             a.txt:4 a.txt:5", printed)
            self.assertIn("voice            -", printed)
            self.assertTrue(printed[-1].startswith("no tag uses: analyze_00, voice, font,"))


class ScriptDataTest(unittest.TestCase):
    def convert(self, text, name="t.txt"):
        warnings = []
        data = script_data.script_bytes(text, name, warnings.append)
        return data, warnings

    def refused(self, text, part):
        with self.assertRaises(vndata.DataError) as caught:
            self.convert(text)
        self.assertIn(part, str(caught.exception))

    def folder(self, tmp, files):
        root = os.path.join(tmp, "script.arc")
        os.makedirs(root, exist_ok=True)
        for name, text in files.items():
            with open(os.path.join(root, name), "wb") as f:
                f.write(text.encode("utf-8") if isinstance(text, str) else text)
        return root

    def test_shift_jis_with_cr_lf(self):
        data, warnings = self.convert("\ufeff*top\n<label>\r\n<text \"こんにちは、ｱ\">\r; 注\n")
        self.assertEqual(data, "*top\r\n<label>\r\n<text \"こんにちは、ｱ\">\r\n; 注\r\n".encode("cp932"))
        self.assertEqual(warnings, [])
        # The engine's own table decides: U+FF5E is 0x81 0x60; U+301C has no code there.
        self.assertEqual(self.convert("～")[0], b"\x81\x60")
        self.refused("〜", "no Shift-JIS code")

    def test_refusals_name_file_line_and_column(self):
        self.refused("<wait>\nab\U0001F600", "t.txt:2:3")
        self.refused("<text " + "x" * 1529 + ">", "tag of 1536 bytes")
        self.convert("<text " + "x" * 1528 + ">")
        self.refused("<" + "a" * 32 + ">", "command name of 32 bytes")
        self.refused("<wait " + ",".join("1" * 34) + ">", "34 arguments")
        self.convert("<wait " + ",".join("1" * 33) + ">")
        self.refused("<wait 1\n<text a>", "t.txt:1:1: tag not closed")
        self.refused("ok\n  <wait 1", "t.txt:2:3: tag not closed")
        self.refused("x" * (1 << 20), "1 MiB")
        # A quoted '>' does not close the tag: the quote left open is named.
        self.refused('<text "a>b', "t.txt:1:7: double quote not closed")
        self.refused('<eval "[2000]=1>\n<text a>', "t.txt:1:7: double quote not closed: the '>' behind it is read")
        self.refused('<eval "[2000]=1>\n<text "a">', "t.txt:1:7: double quote not closed")
        self.refused("<wait 1\n<text a>", "t.txt:1:1: tag not closed by '>' on its line: the game reads on to the "
                                            "'>' on line 2, taking the tags between in as its arguments")
        # A '<' or '>' inside quotes, or a '<' on the tag's own line, is part
        # of the tag, as the engine reads it.
        self.assertEqual(self.convert('<if "[2000]>1&&[2000]<3">\n<if [2000]<3>\n<text "a\nb">\n')[1], [])

    def test_tags_cut_as_the_shared_table_says(self):
        # The engine's syntax test cuts the same table with the interpreter.
        def unescape(field):
            if field == "\\e":
                return b""
            return re.sub(rb"\\(x[0-9A-Fa-f]{2}|.)", lambda m: bytes([int(m.group(1)[1:], 16)]) if len(m.group(1)) == 3
                          else {b"r": b"\r", b"n": b"\n", b"t": b"\t"}.get(m.group(1), m.group(1)),
                          field.encode("latin-1"))
        rows = 0
        with open(os.path.join(ROOT, "tests", "data", "tag_cuts.txt"), encoding="latin-1") as f:
            for line in f.read().splitlines():
                if not line or line.startswith("#"):
                    continue
                fields = [unescape(field) for field in line.split("\t")]
                end, _, words, _ = script_data.cut_tag(fields[0], 0)
                closed = fields[1] != b"-"
                self.assertEqual(end, int(fields[1]) if closed else None, line)
                if closed:
                    self.assertEqual(words, fields[2:], line)
                rows += 1
        self.assertGreaterEqual(rows, 15)

    def test_warnings(self):
        _, w = self.convert("<imagex 1>\n<10 a>\n*top\n<wait>\n; <no>\r\n<text a><3 x>")
        self.assertEqual(len(w), 4, w)
        self.assertIn("t.txt:1:1: unknown command 'imagex'", w[0])
        self.assertIn("t.txt:5:3: '<' inside a ';' comment", w[1])
        self.assertIn("t.txt:6:9: unknown command '3'", w[2])
        self.assertIn("t.txt:3:1: label line not followed by <label>", w[3])

    def test_label_index(self):
        a = script_data.script_bytes("*top\n<label>\n; \u3042\n*next x\n<label>\n", "a.txt")
        b = script_data.script_bytes("<wait>\n*b1\t\n<label>\n", "b.txt")
        labels = open_info(script_data.info_bytes([("a.txt", a), ("b.txt", b)]))
        self.assertEqual(labels, [(b"*top", b"a.txt", 0), (b"*next", b"a.txt", a.index(b"*next")),
                                  (b"*b1", b"b.txt", 8)])
        with self.assertRaises(vndata.DataError):
            script_data.info_bytes([("a.txt", b"*x\r\n*x\r\n")])
        with self.assertRaises(vndata.DataError):
            script_data.info_bytes([("a.txt", b"*" + b"l" * 63 + b"\r\n")])
        script_data.info_bytes([("a.txt", b"*" + b"l" * 62 + b"\r\n")])

    def test_container_and_its_refusals(self):
        with tempfile.TemporaryDirectory() as tmp:
            root = self.folder(tmp, {"00_init.txt": "*top\n<label>\n<call sub,*s>\n<jump gone>\n<jump \"\",*nope>",
                                     "sub.txt": "*s\n<label>\n"})
            warnings = []
            members = open_arc(script_data.script_arc_bytes(root, warnings.append))
            self.assertEqual([m[0] for m in members], [b"00_info.bin", b"00_init.txt", b"sub.txt"])
            self.assertEqual(len(warnings), 2, warnings)
            self.assertIn("names gone.txt", warnings[0])
            self.assertIn("names label *nope", warnings[1])
            out = os.path.join(tmp, "s.arc")
            with contextlib.redirect_stderr(io.StringIO()):
                self.assertEqual(pack.main(["script", root, out, "--check"]), 1)
            self.assertFalse(os.path.exists(out))
            with contextlib.redirect_stderr(io.StringIO()) as err:
                self.assertEqual(pack.main(["script", root, out]), 0)
            self.assertIn(os.path.relpath(root) + "/00_init.txt:4:1: warning: jump names gone.txt", err.getvalue())
            with open(out, "rb") as f:
                self.assertEqual(len(open_arc(f.read())), 3)
            for bad in ({"00_info.bin": "x"}, {"b.dat": "x"}, {"\u00e9.txt": "x"}, {"n" * 44 + ".txt": "x"},
                        {"u.txt": b"\xff\xfe"}):
                with tempfile.TemporaryDirectory() as other:
                    with self.assertRaises(vndata.DataError, msg=str(bad)):
                        script_data.script_arc_bytes(self.folder(other, bad))
            with tempfile.TemporaryDirectory() as other:
                script_data.script_arc_bytes(self.folder(other, {"n" * 43 + ".txt": "x"}))
            limit = script_data.MEMBER_COUNT_LIMIT
            try:
                script_data.MEMBER_COUNT_LIMIT = 3
                with tempfile.TemporaryDirectory() as other:
                    self.assertEqual(pack.main(["script", self.folder(other, {"a.txt": "", "b.txt": "", "c.txt": ""}),
                                                os.path.join(other, "o.arc")]), 1)
            finally:
                script_data.MEMBER_COUNT_LIMIT = limit


# The table of conditions and statements that the engine's own test
# (tests/script/vars_test.cpp) runs with the engine's evaluation, each with
# what the checker reads: its value for the variables given and, for a
# condition, whether it is always true (T) or always false (F).
CONDITION_CASES = os.path.join(ROOT, "tests", "data", "condition_cases.txt")
CASE_VARIABLES = (2000, 2001, 2002, 2023, 0, 5, 23)


def escaped(data):
    """A table field: \\r \\n \\t \\\\ and \\xHH for other bytes outside ASCII
    print; \\e alone an empty field."""
    if not data:
        return "\\e"
    return "".join({9: "\\t", 10: "\\n", 13: "\\r", 92: "\\\\"}.get(b, chr(b) if 32 <= b < 127 else "\\x%02X" % b)
                   for b in data)


def condition_cases(seed=75, conditions=2500, statements=1000, number_words=600):
    """The lines of the table, made from a fixed seed."""
    import random
    rnd = random.Random(seed)
    refs = [b"[2000]", b"[2001]", b"[05]", b"[0005]", b"[5]", b"[24]", b"[2023]", b"[2024]", b"[1999]", b"[23]",
            b"[00]", b"[2002]"]
    numbers = [b"0", b"1", b"-1", b"2", b"3", b"+3", b"127", b"128", b"-128", b"-129", b"200", b"255", b"-300",
               b"99999999999", b"-99999999999", b"2147483647", b"2147483648"]
    odd = [b"", b"R18", b"true", b"false", b"abc", b"1a", b"[2000", b"x[2000]", b"[2000]x", b"]+[", b"\x83[",
           b"\xb2", b"\x81\x40", b"[2000]+[2001]", b"[2000]+[05]+[2001]", b"[2001]+[2001]", b"[2000]+1", b"R18 "]
    ops = [b"==", b"=", b"!=", b">=", b"<=", b">", b"<"] * 2 + [b"!", b"", b"=>", b"<>", b"==!", b"!!", b"=<"]

    def operand():
        return rnd.choice(rnd.choice((refs, refs, refs, numbers, numbers, odd)))

    def values():
        chosen = rnd.sample(CASE_VARIABLES, rnd.randrange(len(CASE_VARIABLES) + 1))
        return {n: rnd.choice((0, 1, 2, 3, -1, -128, 127, rnd.randrange(-128, 128))) for n in chosen}

    def shown(vals):
        return ",".join("%d=%d" % kv for kv in sorted(vals.items()) if kv[1]) or "-"

    def spaced(text):
        if rnd.random() < 0.2:
            at = rnd.randrange(len(text) + 1)
            text = text[:at] + rnd.choice((b" ", b"  ", b'"')) + text[at:]
        return text

    lines = []
    for _ in range(conditions):
        count = rnd.choice((1, 1, 1, 2, 2, 3, 4, rnd.randrange(1, 19)))
        parts = []
        for _ in range(count):
            part = operand() + rnd.choice(ops) + operand()
            if rnd.random() < 0.05:
                part += rnd.choice(ops) + operand()
            parts.append(spaced(part))
        text = parts[0]
        for part in parts[1:]:
            text += rnd.choice((b"&&", b"||", b" && ", b" || ")) + part
        word = b'"' + text + b'"' if rnd.random() < 0.5 else text
        vals = values()
        verdict = script_check.condition_verdict(word)
        lines.append("c\t%s\t%s\t%d\t%s" % (escaped(word), shown(vals), script_check.condition_value(word, vals),
                                            "-" if verdict is None else "TF"[not verdict]))
    targets = [b"[2000]", b"[2001]", b"[05]", b"[5]", b"[24]", b"[2000]*", b"x", b"", b"[2023]", b"[2001"]
    assign = [b"=", b"+=", b"-=", b"++", b"--", b"==", b"=+", b"+", b"-", b"=-", b"+-", b"++=", b"", b"*="]
    exprs = numbers + refs[:4] + [b"[2000]+1-[05]", b"rand(1,6)", b"rand(6,1)", b"rand(-3,300)", b"rand(5)",
                                  b"rand(1,6)+1", b"true", b"false", b"", b"abc", b"-5", b"1-", b"[2000]+rand(1,2)",
                                  b"--3", b"+", b"[2001]-[2001]-[2001]", b"x[2000]"]
    for _ in range(statements):
        count = rnd.choice((1, 1, 2, 3, rnd.randrange(1, 19)))
        text = b"&".join(spaced(rnd.choice(targets) + rnd.choice(assign) +
                                (rnd.choice(exprs) if rnd.random() < 0.8 else b"")) for _ in range(count))
        if rnd.random() < 0.1:
            text += b"&"
        word = b'"' + text + b'"' if rnd.random() < 0.5 else text
        vals = values()
        after = script_check.statements_run(word, dict(vals))
        lines.append("s\t%s\t%s\t%s" % (escaped(word), shown(vals), shown(after)))
    digits = [b"0", b"1", b"7", b"12", b"255", b"2147483647", b"2147483648", b"99999999999", b"", b"x", b"0.5",
              b"\xb2", b"-", b"+"]
    for _ in range(number_words):
        word = rnd.choice((b"", b"-", b"+")) + rnd.choice(digits)
        for _ in range(rnd.choice((0, 1, 2, 3, 4, 5))):
            word += rnd.choice((b"+", b"-", b"*", b"/")) + rnd.choice(digits)
        word = word or b"0"
        lines.append("n\t%s\t%d" % (escaped(word), script_check.arg_int(word)))
    return lines


# Loops of plain tags (statements, condition, the variables they start from) the engine must end where the
# checker warns of them and leave where it passes them: tests/script/vars_test.cpp plays each LOOP_SCENARIO.
LOOPS = [("[2001]+=1", "[2002]==0", "-"), ("[2001]=1-[2001]", "[2002]==0", "-"), ("[2001]+=0", "[2001]==0", "-"),
         ("[2001]=[2001]", "[2001]==0", "-"), ("[2001]++&[2001]--", "[2001]!=1", "2001=3"),
         ("[2001]=1-[2001]", "[2001]==0", "-"), ("[2001]+=1", "[2001]<5", "-"), ("[2001]=5", "[2001]!=5", "-"),
         ("[2001]=[2003]&[2003]+=2", "[2001]!=6", "-")]
LOOP_SCENARIO = '*c\n<label>\n<eval "%s">\n<jump 00_init,*c,"%s">\n<eval "[2023]=1">\n*w\n<wait 50>\n<jump 00_init,*w>\n'


def loop_cases():
    """The table's rows of LOOPS, each with whether the checker warns of it."""
    return ["l\t%s\t%s\t%s\t%s" % (escaped(statements.encode()), escaped(condition.encode()), start,
                                    loop_verdict(LOOP_SCENARIO % (statements, condition), tail=""))
            for statements, condition, start in LOOPS]


# Whole 00_init.txt loops for the engine's loop watch (tests/script/vars_test.cpp), each followed by LOOP_TAIL:
# h rows by hand (E: the checker warns and the engine ends it, -: the engine plays on), g rows from a seed.
LOOP_TAIL = '<eval "[2023]=1">\n*w\n<wait 50>\n<jump 00_init,*w>\n'
HAND_LOOPS = [(body + '<jump 00_init,*c,"%s">\n' % until, want) for body, until, want in [
    ('<eval "[2001]=5">\n*c\n<label>\n<clearvar>\n', "[2001]!=0", "-"),  # clearvar clears [2000] to [2023]
    ('*c\n<label>\n<if "[2001]==0">\n<eval "[2001]=1">\n<endif>\n', "[2001]==0", "-"),  # stores an if guards
    ('*c\n<label>\n<if "[2001]==0">\n<eval "[2002]+=1">\n<endif>\n', "[2002]!=3", "-"),
    ('<eval "[2001]=100">\n*c\n<eval "[2001]+=1">\n', "[2001]!=-128", "-"),  # wrapping round to the exit
    ('*c\n<label>\n<eval "[2001]+=2">\n', "[2001]!=5", "E"),  # steps that never meet it
    ('<eval "[2001]=1">\n*c\n<eval "[2001]-=2">\n', "[2001]!=5", "-"),
    ('*c\n<eval "[2001]=1-[2001]">\n', "[2001]!=5", "E"),  # a toggle that never takes the exit's value
    ('<eval "[2001]=3">\n*c\n<eval "[2001]=[2001]">\n', "[2001]==3", "E"),  # a copy of itself
    ('<eval "[2002]=3">\n*c\n<clearvar>\n<eval "[2001]+=1">\n', "[2001]<3", "E"),  # a count cleared each pass
    ('*c\n<wait 1>\n<eval "[2001]+=2">\n', "[2001]!=5", "-"),  # a wait: the engine never ends it
]]


def generated_loops(seed=89, count=300):
    """count small loops over [2001] and [2002] made from seed: counters, toggles, copies, clearvar, ifs, waits."""
    import random
    rnd = random.Random(seed)
    value = lambda: rnd.choice((0, 1, 2, 3, 5, -1, 100, 126, 127, -128))  # noqa: E731
    var = lambda: rnd.choice(("[2001]", "[2002]"))  # noqa: E731
    cond = lambda: "%s%s%d" % (var(), rnd.choice(("==", "!=", "<", ">", "<=", ">=")), value())  # noqa: E731

    def statement(v):
        return v + rnd.choice(("+=%d" % rnd.choice((1, 2, 3, 5, 64, 127)), "-=%d" % rnd.choice((1, 2, 5, 127)),
                               "=%d" % value(), "=1-" + v, "=" + v, "=" + var(), "++", "+=0"))
    out = []
    for _ in range(count):
        text = '<eval "[2001]=%d&[2002]=%d">\n' % (value(), value()) if rnd.random() < 0.7 else ""
        text += "*c\n" + "<label>\n" * rnd.randrange(2)
        for _ in range(rnd.choice((1, 1, 2, 3))):
            text += rnd.choice(['<eval "%s">\n' % "&".join(statement(var()) for _ in range(rnd.randrange(1, 3)))] * 5 +
                               ["<clearvar>\n", '<if "%s">\n<eval "%s">\n<endif>\n' % (cond(), statement(var())),
                                '<if "%s">\n<eval "%s">\n<else>\n<eval "%s">\n<endif>\n' % (
                                    cond(), statement(var()), statement(var()))] + [""] * 2)
        text += "<wait 1>\n" * (rnd.random() < 0.15)
        out.append(text + '<jump 00_init,*c,"%s">\n' % rnd.choice((cond(), cond(), cond() + "&&" + cond(),
                                                                   cond() + "||" + cond())))
    return out


def loop_verdict(text, tail=LOOP_TAIL):
    """E when the checker warns that the engine ends the loop of text (a whole 00_init.txt), else -."""
    with tempfile.TemporaryDirectory() as tmp:
        make_tree(tmp, {"00_init.txt": (text + tail).encode()})
        return "E" if any("comes back here" in message for _, _, message in script_check.check(tmp)) else "-"


def differential_cases(seed=89, count=300):
    """The table's h rows (with the verdict written above) and g rows (the checker's)."""
    return (["h\t%s\t%s" % (escaped((text + LOOP_TAIL).encode()), want) for text, want in HAND_LOOPS] +
            ["g\t%s\t%s" % (escaped((text + LOOP_TAIL).encode()), loop_verdict(text))
             for text in generated_loops(seed, count)])


def write_condition_cases():
    with open(CONDITION_CASES, "w", encoding="ascii", newline="\n") as f:
        f.write("# Conditions and statements as the author's checker reads them (tools/script_check.py), made by\n"
                "# python3 tools/test_tools.py --write-condition-cases; the engine's test (tests/script/vars_test.cpp)\n"
                "# evaluates each with the engine's code and must agree. Fields are TAB-separated, escaped as in\n"
                "# tag_cuts.txt; variables are n=value pairs (- for none: every variable is 0).\n"
                "# c  condition  variables  value (1 holds)  verdict (T always true, F always false, - neither)\n"
                "# s  statements  variables before  variables after (rand draws its lowest number)\n"
                "# n  a number argument  the number the checker reads\n"
                "# l  statements  condition  variables  E when the checker warns that the engine ends the loop\n"
                "#    *c <label> <eval \"statements\"> <jump 00_init,*c,\"condition\">, - when it passes it and the\n"
                "#    engine leaves it\n"
                "# h  a whole 00_init.txt with a loop  E when the checker warns of it and the engine ends it, - when\n"
                "#    the checker passes it and the engine plays on (made by hand)\n"
                "# g  the same, made from a seed, with the checker's verdict: the engine ends every loop warned\n")
        f.write("\n".join(condition_cases() + loop_cases() + differential_cases()) + "\n")


def write_game(root, scenario):
    """A small game source folder: two archives, a picture, a sound, a rule,
    a message table and one scenario."""
    files = {
        "archives.json": json.dumps({"archives": [
            {"file": "data_00.pcarc", "tree": "base", "version": "0100", "compressed": ["script"]},
            {"file": "data_p00.pcarc", "tree": "patch", "version": "0101"}]}),
        "base/visual/adv/bg_hall.ext.pict": json.dumps({"format": "ext0", "bpp": 32, "size": [8, 8],
                                                        "background": "#203050"}),
        "base/visual/wipe/wipe_000.ext.pict": json.dumps({"format": "ext0", "bpp": 8, "size": [8, 8],
                                                          "background": "#808080"}),
        "base/sound/bgm/hall.oggl.synth": json.dumps({"format": "wav", "rate": 8000, "channels": 1,
                                                      "parts": [{"wave": "sine", "amp": 0.3, "tempo": 240,
                                                                 "notes": "C4:1"}]}),
        "base/script/script_mes.mul.txt": ("languages = ja en\n[section 0]\n40.ja = 船長\n40.en = Captain\n"
                                           "[section 1]\n40.ja = 乗る\n40.en = Go aboard\n41.en = Stay ashore\n"
                                           "[section 2]\n400.ja = こんにちは。\n400.en = Hello.\n"),
        "base/script/system_mes.mul.txt": "languages = ja en\n[section 1]\n14.ja = はい\n14.en = Yes\n",
        "base/script/script.arc/00_init.txt": scenario,
        "patch/doc/about.txt": "patch",
    }
    for rel, text in files.items():
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
    return os.path.join(root, "base", "script", "script.arc")


def write_story(folder, chapters):
    """00_init.txt calling chapters files in turn, each with a count, a choice of its own part or a route into the
    next, a call of one of ten common files and a held page; the last spins in a loop the engine ends."""
    files = {"00_init.txt": "<clearvar>\n" + "".join("<call ch%04d>\n" % k for k in range(chapters)) +
             "<returnmenu>\n"}
    for k in range(chapters):
        me = "ch%04d" % k
        spin = '*spin\n<label>\n<eval "[2003]+=1">\n<jump %s,*spin,"[2004]==0">\n' % me if k == chapters - 1 else ""
        files[me + ".txt"] = (
            '*top\n<label>\n<name NAME_0>\n<text TEXT_%d>\n<keywait %d>\n<eval "[2000]+=1">\n<if "[05]>3">\n'
            '<eval "[2001]=1">\n<jump_endif>\n<else>\n<eval "[2001]=0">\n<endif>\n<menuadd 0,SELECT_0,%s,*a>\n'
            '<menuadd 1,SELECT_1,ch%04d,*route>\n<menustart 0>\n*a\n<label>\n<text TEXT_1>\n<keywait 1>\n'
            '<call common%d>\n<jump %s,*end>\n*route\n<label>\n<text TEXT_2>\n<keywait 2>\n'
            '<jump %s,*end,"[2001]==1">\n*hold\n<wait time:1000>\n<jump %s,*hold,"[02]==0">\n%s'
            '*end\n<label>\n<return>\n' % (k, k, me, (k + 1) % chapters, k % 10, me, me, me, spin))
    files.update({"common%d.txt" % c: "*c\n<label>\n<text TEXT_3>\n<keywait 3>\n<return>\n" for c in range(10)})
    make_tree(folder, {name: text.encode() for name, text in files.items()})


def story_check_cost(chapters):
    """(problems, cost as script_check.check counts it, processor seconds) of the check of write_story."""
    with tempfile.TemporaryDirectory() as tmp:
        write_story(tmp, chapters)
        cost, start = {}, time.process_time()
        problems = script_check.check(tmp, cost=cost)
        return problems, cost, time.process_time() - start


VARIABLES = ("a variable is written in brackets with a number that begins with 0, 1 or 2: [00] to [23] or "
             "[2000] to [2023]")
def _loop(where, what, to, changed=None):
    """The warning of a loop of plain tags the engine ends (changed=None: one
    with no way out)."""
    why = ("and no condition that leaves it: the engine ends the script here (where a variable still changes, "
           "the story never goes on)" if changed is None else "and no condition of it ever leaves: with the "
           "values the story comes here with, its variables come back round to the same values first (no rand(), and "
           "no count that reaches a value that leaves), so the engine ends the script here")
    return ("%s:1: warning: %s goes to %s, and the story comes back here again and again with no tag between that "
            "waits or reads the player's input or the clock %s: put a wait in the loop, or a condition that leaves it "
            "and a statement that changes what it reads" % (where, what, to, why))


def _hold(where, back):
    """The warning of a <label> in a hold that only a click ends."""
    return ("%s:1: warning: <label> is passed on each pass of a loop that waits and that only a click ends (the loop "
            "goes back on line %d): with skip on, it fills the game's label history (400 labels) in seconds and "
            "pushes out the labels passed before it, so neither the backlog nor a save made after that can go back "
            "to a line before the loop: take the <label> out of the loop (a jump finds a label line without one)" % (
                where, back))


CLEAN_SCENARIO = ("*top\n<label>\n<playbgm hall,true,80>\n<image base,back,bg_hall>\n<trans crossfade,500>\n"
                  "<wt>\n<text TEXT_400>\n<text \"Wind, rain.\">\n<keywait 400>\n<returnmenu>\n")


class AuthorCheckTest(unittest.TestCase):
    def check(self, scenario, files=None):
        """(exit code, lines printed) of the check of a game whose 00_init.txt
        is scenario (None: no such file) beside the scenario files given."""
        with tempfile.TemporaryDirectory() as tmp:
            folder = write_game(tmp, scenario or "")
            if scenario is None:
                os.remove(os.path.join(folder, "00_init.txt"))
            for name, text in (files or {}).items():
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(text if isinstance(text, bytes) else text.encode("utf-8"))
            err = io.StringIO()
            with contextlib.redirect_stderr(err):
                code = pack.main(["script", folder, "--check"])
            return code, [line.replace(os.path.relpath(folder) + os.sep, "") for line in err.getvalue().splitlines()]

    def test_each_mistake_is_named_with_its_place_and_sets_the_exit_code(self):
        self.assertEqual(self.check(CLEAN_SCENARIO), (0, []))
        cases = [
            ("<playbmg hall>", 2, "00_init.txt:11:1: warning: unknown command 'playbmg'"),
            ("<text Storms come, storms go.>", 2,
             "00_init.txt:11:1: warning: ',' separates arguments, so the text loses it: write $2 for a comma"),
            ("<jump 00_init,*misspelt>", 1, "00_init.txt:11:1: error: jump names label *misspelt, which 00_init.txt lacks"),
            ("<jump story,*top>", 1, "00_init.txt:11:1: error: jump names story.txt, which the container lacks"),
            ("<image base,back,bg_hal>", 1,
             "00_init.txt:11:1: error: image names 'bg_hal', but no archive holds visual/adv/bg_hal.ext"),
            ("<trans wipe_001,500>", 1,
             "00_init.txt:11:1: error: trans names 'wipe_001', but no archive holds visual/wipe/wipe_001.ext"),
            ("<playse 1,se_door>", 1,
             "00_init.txt:11:1: error: playse names 'se_door', but no archive holds sound/se/se_door.ogg"),
            ("<voice 0,V_0001>", 1,
             "00_init.txt:11:1: error: voice names 'V_0001', but no archive holds sound/voice/v_0001.ogg"),
            ("<openvideo opening.mpg>", 1,
             "00_init.txt:11:1: error: openvideo names 'opening.mpg', but no archive holds movie/opening.avi"),
            ("<menuadd 1,SELECT_40,00_init,*stya>", 1,
             "00_init.txt:11:1: error: menuadd names label *stya, which 00_init.txt lacks"),
            ("<menuadd 0,SELECT_40,story,*top>", 1,
             "00_init.txt:11:1: error: menuadd names story.txt, which the container lacks"),
            ("<menuadd 0,SELECT_40>", 1,
             "00_init.txt:11:1: error: menuadd names no file or label: taking the choice runs this file from its top"),
            ("<text TEXT_499>", 1, "00_init.txt:11:1: error: TEXT_499: base/script/script_mes.mul.txt has no text 499 "
                                   "in section 2, in any language (the game shows \"No text\")"),
            ("<name NAME_99>", 1, "00_init.txt:11:1: error: NAME_99: base/script/script_mes.mul.txt has no text 99 "
                                  "in section 0, in any language (the game shows \"No text\")"),
            ("<menuadd 1,SELECT_41,00_init,*top>", 2, "00_init.txt:11:1: warning: SELECT_41: base/script/"
             "script_mes.mul.txt has no text 41 in section 1 in ja (that language shows \"No text\")"),
            ("<image base,back,bg_hall,,0,0,1,2,3,4,5>", 2, "00_init.txt:11:1: warning: image reads 10 arguments, "
             "11 are given: <image layer,page,name,priority,x,y,-,-,-,effect>"),
            ("<text TEXT_400 extra>", 2, "00_init.txt:11:1: warning: text reads a message key alone, 2 arguments "
             "are given: the words behind TEXT_400 are shown after its text"),
            ("<stopbgm tiem:1000>", 2,
             "00_init.txt:11:1: warning: stopbgm has no argument named tiem: <stopbgm time> (by name too: time:)"),
            ("<windowex 1>", 2, "00_init.txt:11:1: warning: windowex reads no arguments, 1 is given: <windowex>"),
            ("<playse 1>", 1,
             "00_init.txt:11:1: error: playse lacks its name argument: <playse bank,name,loop,volume>"),
            ("<quake time:500>", 1, "00_init.txt:11:1: error: quake lacks its amplitude argument: "
                                    "<quake time,amplitude> (by name too: time:, amplitude:)"),
            ('<eval "[2000]=1>', 1, "00_init.txt:11:7: error: double quote not closed: the '>' behind it is read "
                                    "as quoted text (a '\"' in a text is written $4)"),
            ("<jump 00_INIT,*TOP>", 1, "00_init.txt:11:1: error: jump names label *TOP, which 00_init.txt lacks "
                                       "(labels match as written: it has *top)"),
            ("<menustart 0>", 1, "00_init.txt:11:1: error: menustart has no menuadd before it: there is no choice "
                                 "to take, and the game goes on past the menu"),
            ("*all done\n<label>", 2, "00_init.txt:11:1: warning: label line *all done: a label ends at a space or "
             "tab, so this one is *all, and a tag naming the whole line reads done as further arguments"),
            ("\uff1ctext TEXT_400\uff1e", 2, "00_init.txt:11:1: warning: full-width '\uff1c' starts no tag, so the "
             "game passes the line by as text: write <text ...> with the ASCII '<' and '>'"),
            ("<text text_400>", 2, "00_init.txt:11:1: warning: text_400 is no message key, so the player sees it as "
                                   "written: keys are written in capitals (TEXT_400)"),
            ("<image bg,back,bg_hall>", 1, "00_init.txt:11:1: error: image's layer bg is neither base nor a number "
                                           "from 0 to 11: the picture is not shown"),
            ("<freeimage 12>", 1, "00_init.txt:11:1: error: freeimage's layer 12 is neither base nor a number from "
                                  "0 to 11: no picture is taken away"),
            ("<text " + " ".join(["word"] * 40) + ">", 1, "00_init.txt:11:1: error: a sentence of 40 words stands "
             "where a message key belongs: text reads a key (TEXT_n from the message table) or one text in place, "
             "whose spaces and commas separate arguments (at most 33)"),
            ("<image\t3,back,bg_hall>", 2, "00_init.txt:11:1: warning: unknown command 'image<TAB>3,back,bg_hall': "
                                          "a tab does not end a command's name, write a space after image"),
            ("*top\n<label>", 1, "00_init.txt:11: error: label '*top' twice (first on line 1)"),
            ("<image base,back,bg_hall,,x:100>", 2, "00_init.txt:11:1: warning: image reads no argument by name, "
             "so x:100 is read as it stands, as its x: <image layer,page,name,priority,x,y,-,-,-,effect>"),
            ("<voice 0,voic:a01>", 1, ("00_init.txt:11:1: warning: voice has no argument named voic: <voice slot,"
             "voice,vol> (by name too: voice:, vol:)", "00_init.txt:11:1: error: voice names 'voic:a01', but no "
             "archive holds sound/voice/voic:a01.ogg")),
            # The blocks of if, as the engine skips through them.
            ('<if "[2000]==1">\n<text TEXT_400>', 1, "00_init.txt:11:1: error: if with no <endif> in its file: a "
             "failed condition or a <jump_endif> finds no endif to skip to, so the story runs on into every branch"),
            ("<endif>", 2, "00_init.txt:11:1: warning: endif with no <if> before it: the game passes it by"),
            ("<else>", 2, "00_init.txt:11:1: warning: else with no <if> before it: the game passes it by, and the "
                          "lines behind it always run"),
            ("<elseif \"[2000]==1\">", 1, "00_init.txt:11:1: error: elseif with no <if> before it"),
            # A condition that reads no variable, as the engine reads it.
            ('<if "2000==2">\n<endif>', 2, "00_init.txt:11:1: warning: the condition \"2000==2\" reads no variable, so "
             "it is always false: " + VARIABLES),
            ('<if "[2000]==1 && [2024]==0">\n<endif>', 2, "00_init.txt:11:1: warning: the part \"[2024]==0\" of the "
             "condition \"[2000]==1 && [2024]==0\" reads no variable, so it is always true: [2024] is no variable, "
             "so it is read as 0 and keeps no value: the variables are [00] to [23] and [2000] to [2023]"),
            ("<jump 00_init,*top,true>", 2, "00_init.txt:11:1: warning: the condition \"true\" reads no variable, so "
             "it is always false: " + VARIABLES),
            ("<call 00_init>", 2, "00_init.txt:11:1: warning: call runs its own file 00_init.txt from the top again, "
             "and a return goes back behind the newest call into its file, so the scene comes back to this call for "
             "ever: repeat a part with a label and <jump 00_init,*label,\"condition\"> back to it"),
            # Loops of tags that never wait, which the engine ends: one with
            # no way out, one whose condition reads nothing it changes, one
            # that stores constants alone.
            ("*a\n<label>\n<jump 00_init,*a>", 2,
             _loop("00_init.txt:13", "<jump>", "*a in 00_init.txt (line 11)")),
            ('*a\n<label>\n<text TEXT_400>\n<if "[2001]==0">\n<jump 00_init,*a>\n<endif>', 2,
             _loop("00_init.txt:15", "<jump>", "*a in 00_init.txt (line 11)", changed=False)),
            ('*a\n<label>\n<eval "[2000]=1&[2001]=false">\n<jump 00_init,*a,"[2002]==0">', 2,
             _loop("00_init.txt:14", "<jump>", "*a in 00_init.txt (line 11)", changed=False)),
            # A hold only a click ends, passing a <label> each time round (without it the label line is right).
            ("<click 0>\n*hold\n<label>\n<wait time:1000>\n<jump 00_init,*hold>\n*staffroll_stop\n<label>\n"
             "<click 1>", 2, _hold("00_init.txt:13", 15)),
            # A hold whose body changes what its own if reads (a blink by a toggle) is one too.
            ('<click 0>\n*blink\n<label>\n<eval "[2001]=1-[2001]">\n<if "[2001]==1">\n<text TEXT_400>\n'
             '<jump_endif>\n<else>\n<name NAME_40>\n<endif>\n<wait time:700>\n<jump 00_init,*blink>\n'
             '*staffroll_stop\n<label>\n<returnmenu>', 2, _hold("00_init.txt:13", 22)),
            # One whose condition is always false never comes round.
            ('<click 0>\n*h\n<label>\n<wait time:10>\n<jump 00_init,*h,"2000==1">\n*staffroll_stop\n<label>\n'
             '<returnmenu>', 2, "00_init.txt:15:1: warning: the condition \"2000==1\" reads no variable, so it is "
             "always false: " + VARIABLES),
            # A condition that reads what the loop stores, as it holds once
            # stored, and a loop that stores two values by turns.
            ('*a\n<label>\n<eval "[2000]=1">\n<if "[2000]==1">\n<jump 00_init,*a>\n<endif>', 2,
             _loop("00_init.txt:15", "<jump>", "*a in 00_init.txt (line 11)", changed=False)),
            ('*a\n<label>\n<if "[2000]==1">\n<eval "[2000]=2">\n<jump_endif>\n<else>\n<clearvar>\n'
             '<eval "[2000]=true">\n<endif>\n<jump 00_init,*a,"[2001]==0">', 2,
             _loop("00_init.txt:20", "<jump>", "*a in 00_init.txt (line 11)", changed=False)),
            ("<gosub 00_init,*top>", 2, "00_init.txt:11:1: warning: gosub does nothing, whatever it names: a label is "
             "run by <call file,label>, which comes back at the label's <return>"),
            # A label cut short by a space, at the jump that names it.
            ("*all done\n<label>\n<jump 00_init,*all done>", 2, (
                "00_init.txt:11:1: warning: label line *all done: a label ends at a space or tab, so this one is "
                "*all, and a tag naming the whole line reads done as further arguments",
                "00_init.txt:13:1: warning: jump names label *all done, but a label ends at a space: line 11 makes "
                "the label *all, and jump reads done as its condition; write the label without spaces",
                "00_init.txt:13:1: warning: the condition \"done\" reads no variable, so it is always false: " + VARIABLES)),
            ("*all done\n<label>\n<call 00_init,\"*all done\">", 1, (
                "00_init.txt:11:1: warning: label line *all done: a label ends at a space or tab, so this one is "
                "*all, and a tag naming the whole line reads done as further arguments",
                "00_init.txt:13:1: error: call names label *all done, which 00_init.txt lacks (a label ends at a "
                "space: line 11 makes the label *all)")),
            # References as the engine reads them: a number that begins with
            # 0, 1 or 2, naming 0 to 23 or 2000 to 2023.
            ('<if "[5]==1">\n<endif>', 2, "00_init.txt:11:1: warning: the condition \"[5]==1\" reads no variable, so "
             "it is always false: [5] is read as 0 and keeps no value: the game reads a reference only when its "
             "number begins with 0, 1 or 2, so write [05]"),
            ('<eval "[2000]=1&[5]=1">', 2, "00_init.txt:11:1: warning: the statement \"[5]=1\": [5] is read as 0 and "
             "keeps no value: the game reads a reference only when its number begins with 0, 1 or 2, so write [05]"),
            ('<eval "[24]=1">', 2, "00_init.txt:11:1: warning: the statement \"[24]=1\": [24] is no variable, so it is "
             "read as 0 and keeps no value: the variables are [00] to [23] and [2000] to [2023]"),
            ('<jump 00_init,*top,"[2000]==[9]">', 2, "00_init.txt:11:1: warning: the condition \"[2000]==[9]\": [9] is "
             "read as 0 and keeps no value: the game reads a reference only when its number begins with 0, 1 or 2, "
             "so write [09]"),
            ('<menuadd 0,SELECT_40,00_init,*top,"[2000]==1">\n<menustart 0>', 2, "00_init.txt:11:1: warning: the "
             "statement \"[2000]==1\": == compares (in an if): a statement sets with =, so this one stores 0"),
            # Conditions and statements read otherwise than they are written.
            ('<if "2000==1 || 2001<1">\n<endif>', 2, "00_init.txt:11:1: warning: the condition \"2000==1 || 2001<1\" "
             "reads no variable, so it is always false: " + VARIABLES),
            ('<if "2000==1 || 2001>1">\n<endif>', 2, "00_init.txt:11:1: warning: the condition \"2000==1 || 2001>1\" "
             "reads no variable, so it is always true: " + VARIABLES),
            ('<if "[2000]==1&[2001]==2">\n<endif>', 2, "00_init.txt:11:1: warning: the part \"[2000]==1&[2001]==2\" "
             "of the condition \"[2000]==1&[2001]==2\" is always false: the game reads ==== as its operator, which is "
             "none of ==, !=, <, >, <= and >= (a part holds one comparison, and parts are joined by && or ||)"),
            ('<if "[2000]==1 && [2001]==2 || [2002]==3">\n<endif>', 2, "00_init.txt:11:1: warning: the condition "
             "\"[2000]==1 && [2001]==2 || [2002]==3\" joins its parts with both && and ||: the game joins every part "
             "by the last one, ||, so it holds when any part holds"),
            ('<if "%s">\n<endif>' % "||".join(["[2000]==%d" % n for n in range(17)]), 2, "00_init.txt:11:1: "
             "warning: the condition \"%s\" has more than 16 parts: the game reads none after the 16th" % "||".join(
                 ["[2000]==%d" % n for n in range(17)])),
            ('<eval "%s">' % "&".join(["[2000]++"] * 17), 2, "00_init.txt:11:1: warning: the statements \"%s\" are "
             "more than 16: the game runs none after the 16th" % "&".join(["[2000]++"] * 17)),
            ('<eval "[2000]=yes&[2001]=1+one&[2002]=">', 2, (
                "00_init.txt:11:1: warning: the statement \"[2000]=yes\": its value yes is read as 0",
                "00_init.txt:11:1: warning: the statement \"[2001]=1+one\": one in its sum is read as 0",
                "00_init.txt:11:1: warning: the statement \"[2002]=\": it gives no value, so it stores 0")),
            ('<eval "[2000]*=2">', 2, "00_init.txt:11:1: warning: the statement \"[2000]*=2\": the game reads it as "
             "[2000]=2: the operators are =, +=, -=, ++ and --"),
            ('<eval "[2000]=rand(1,6)+1">', 2, "00_init.txt:11:1: warning: the statement \"[2000]=rand(1,6)+1\": "
             "rand(...) in a sum is read as 0: give the sum its own statement ([2000]=rand(1,6)&[2000]+=1)"),
            ('<eval "flag=1&[2000]">', 2, ("00_init.txt:11:1: warning: the statement \"flag=1\": its target flag is no "
             "variable, so nothing is stored", "00_init.txt:11:1: warning: the statement \"[2000]\": it changes "
             "nothing: it has no operator (=, +=, -=, ++ or --)")),
            ("<if [2000]>3>\n<endif>", 2, "00_init.txt:11:1: warning: text behind the tag on its line: a '>' outside "
             "double quotes ends the tag, so the game reads <if [2000]> and passes 3> by: quote a condition or "
             "statement (\"[2000]>3\")"),
            ("<jump_endif>\n<text TEXT_400>\n<if \"[2000]==1\">\n<endif>", 1, "00_init.txt:11:1: error: jump_endif "
             "with no <if> before it: the game skips from here to an <endif> further on, passing by every line in "
             "between"),
            # A label line cut by a space into more than two words, at each
            # command that names it.
            ("*all done now\n<label>\n<call 00_init,*all done now>\n<returnmenu>", 2, (
                "00_init.txt:11:1: warning: label line *all done now: a label ends at a space or tab, so this one is "
                "*all, and a tag naming the whole line reads done now as further arguments",
                "00_init.txt:13:1: warning: call names label *all done now, but a label ends at a space: line 11 makes "
                "the label *all, and call reads done now as an argument it passes over; write the label without "
                "spaces",
                # It calls its own label for ever: the engine ends that too.
                _loop("00_init.txt:13", "<call>", "*all in 00_init.txt (line 11)"),
                "00_init.txt:13:1: warning: call reads 2 arguments, 4 are given: <call file,label>")),
            ("<menuadd 0,SELECT_40,,*all done now>\n<menustart 0>\n*all done now\n<label>", 2, (
                "00_init.txt:11:1: warning: menuadd names label *all done now, but a label ends at a space: line 13 "
                "makes the label *all, and menuadd reads done now as its statements; write the label without spaces",
                "00_init.txt:11:1: warning: menuadd reads 5 arguments, 6 are given: "
                "<menuadd new,text,file,label,statements>",
                "00_init.txt:11:1: warning: the statement \"done\": its target done is no variable, so nothing is "
                "stored",
                "00_init.txt:13:1: warning: label line *all done now: a label ends at a space or tab, so this one is "
                "*all, and a tag naming the whole line reads done now as further arguments")),
            ("<image base,back,bg_hall,,0,0,x:1>", 2, "00_init.txt:11:1: warning: image reads no argument by name, so "
             "x:1 is read as it stands, in a place it passes over: <image layer,page,name,priority,x,y,-,-,-,effect>"),
            ("<backlay bg>", 1, "00_init.txt:11:1: error: backlay's layer bg is neither base nor a number from 0 to 11: "
             "nothing is copied"),
            ('<if "[2000]==1">\n<text TEXT_400>\n<elseif "[2000]==2">\n<endif>', 2, "00_init.txt:13:1: warning: the "
             "branch before this elseif has no <jump_endif> at its end: when it runs, this condition is tested too "
             "and its branch may run after it"),
            ('<if "[2000]==1">\n<text TEXT_400>\n<else>\n<endif>', 2, "00_init.txt:13:1: warning: the branch before "
             "this else has no <jump_endif> at its end: when it runs, the else branch runs after it"),
            ('<if "[2000]==1">\n<jump_endif>\n<else>\n<elseif "[2000]==2">\n<endif>', 1, "00_init.txt:14:1: error: "
             "elseif after <else> (line 13): the elseifs of an if come before its else, or the else branch runs on "
             "into this one"),
            # An empty left side tests the right side for 0, as the engine
            # reads it: right of the operator R18 is the number 0.
            ('<if "!R18">\n<endif>', 2, "00_init.txt:11:1: warning: the condition \"!R18\" reads no variable, so it "
             "is always true: R18 stands for the R18 archive only left of the operator (\"R18==0\" holds without "
             "it); right of it, it is read as the number 0"),
            ('<if "!">\n<endif>', 2, "00_init.txt:11:1: warning: the condition \"!\" reads no variable, so it is "
             "always true: " + VARIABLES),
            ('<if "<=[2001]">\n<endif>', 2, "00_init.txt:11:1: warning: the part \"<=[2001]\" of the condition "
             "\"<=[2001]\" has nothing left of <=, so the game reads it as \"![2001]\": it holds when [2001] is 0"),
            # What no variable holds: a signed byte, -128 to 127.
            ('<if "[2000]==200 || [2001]>=1">\n<endif>', 2, "00_init.txt:11:1: warning: the part \"[2000]==200\" of "
             "the condition \"[2000]==200 || [2001]>=1\" is always false: a variable holds a number from -128 to 127"),
            ('<jump 00_init,*top,"R18>=2">', 2, "00_init.txt:11:1: warning: the part \"R18>=2\" of the condition "
             "\"R18>=2\" is always false: R18 is 1 when the R18 archive is there, else 0"),
            ('<eval "[2000]=200&[2001]+=-300&[05]=rand(0,255)">', 2, (
                "00_init.txt:11:1: warning: the statement \"[2000]=200\": a variable holds a number from -128 to 127, "
                "so storing 200 is storing -56",
                "00_init.txt:11:1: warning: the statement \"[2001]+=-300\": a variable holds a number from -128 to "
                "127, so adding -300 is adding -44",
                "00_init.txt:11:1: warning: the statement \"[05]=rand(0,255)\": rand(0,255) draws numbers a variable "
                "cannot hold (it holds -128 to 127): the game keeps their low byte")),
            # The 17th statement or part is the first the game drops.
            ('<eval "' + "&".join(["[2000]++"] * 17) + '">', 2, "00_init.txt:11:1: warning: the "
             "statements \"" + "&".join(["[2000]++"] * 17) + "\" are more than 16: the game runs none after the "
             "16th"),
            ('<if "' + "&&".join(["[2000]==1"] * 17) + '">\n<endif>', 2, "00_init.txt:11:1: warning: the condition "
             "\"" + "&&".join(["[2000]==1"] * 17) + "\" has more than 16 parts: the game reads none after the 16th"),
            # Slots, banks and menus beyond their range, as the engine
            # reads the number (3+5 is 8), and a layer layopt passes over.
            ("<voice 8,a01>\n<voice_stop -1>", 1, (
                "00_init.txt:11:1: warning: voice takes 0 to 7, so for 8 it plays the voice in slot 0",
                "00_init.txt:11:1: error: voice names 'a01', but no archive holds sound/voice/a01.ogg",
                "00_init.txt:12:1: warning: voice_stop takes 0 to 7, so for -1 it stops slot 0")),
            ("<stopse bank:3+5>\n<ws 12>", 2, (
                "00_init.txt:11:1: warning: stopse takes 0 to 7, so for 3+5 it stops bank 0",
                "00_init.txt:12:1: warning: ws takes 0 to 7, so for 12 it waits for bank 0")),
            ("<menuadd 0,SELECT_40,00_init,*top>\n<menustart 8>", 2, "00_init.txt:12:1: warning: menustart takes 0 "
             "to 7, so for 8 it keeps no record of the choice taken: a loaded save takes the menu's first choice, and "
             "the menu shows no mark of choices taken before"),
            ("<menuadd 0,SELECT_40,00_init,*top>\n" + "<menuadd 1,SELECT_40,00_init,*top>\n" * 8 + "<menustart 0>", 2,
             "00_init.txt:19:1: warning: a menu shows at most 8 choices: the game drops this one, the 9th since the "
             "menuadd that begins the menu (0 as its first argument)"),
            # Volumes beyond a percent, and switches only true turns on.
            ("<playbgm hall,1,150>\n<openvideo op,vol:-5>", 1, (
                "00_init.txt:11:1: warning: playbgm loops the music only for true or TRUE: 1 is read as false",
                "00_init.txt:11:1: warning: playbgm's volume 150 is a percent of the player's setting, 0 to 100: the "
                "game holds the volume it makes to 0 to 100, so it is at most full volume",
                "00_init.txt:12:1: warning: openvideo's volume -5 is a percent of the player's setting, 0 to 100: "
                "the game holds the volume it makes to 0 to 100, so it is silent",
                "00_init.txt:12:1: error: openvideo names 'op', but no archive holds movie/op.avi")),
            ("<wait time:500,click:yes>\n<playse 0,hall,True>\n<wait 10,True>", 1, (
                "00_init.txt:11:1: warning: wait lets a click end the wait only for true or TRUE: yes is read as false",
                "00_init.txt:12:1: warning: playse loops the sound only for true or TRUE: True is read as false",
                "00_init.txt:12:1: error: playse names 'hall', but no archive holds sound/se/hall.ogg",
                "00_init.txt:13:1: warning: wait lets a click end the wait only for true or TRUE: True is read as "
                "false")),
            # Whole numbers as the engine reads them.
            ("<wait 1+1+1+1+1000>\n<trans crossfade,0.5>\n<quake 99999999999,8>", 2, (
                "00_init.txt:11:1: warning: wait's time 1+1+1+1+1000 is read as 4: the game takes at most three of "
                "+ - * / in a number, and numbers from -2147483648 to 2147483647",
                "00_init.txt:12:1: warning: trans's time 0.5 is no whole number: the game reads it as 0",
                "00_init.txt:13:1: warning: quake's time 99999999999 is read as 2147483647: the game takes at most "
                "three of + - * / in a number, and numbers from -2147483648 to 2147483647")),
            ("<layopt message1,fore,false>", 2, "00_init.txt:11:1: warning: layopt acts on the message window, "
             "message0, alone: layer message1 is passed over"),
            # Text behind a condition tag that ends it early.
            ('<if "[2000]==1">x\n<endif>', 2, "00_init.txt:11:1: warning: text behind the tag on its line: a '>' "
             "outside double quotes ends the tag, so the game reads <if \"[2000]==1\"> and passes x by: quote a "
             "condition or statement (\"[2000]>3\")"),
        ]
        # The loops of LOOPS the engine ends: a counter the exit does not read, a toggle, a sum of 0, a copy.
        cases += [('*c\n<label>\n<eval "%s">\n<jump 00_init,*c,"%s">' % row[:2], 2, _loop(
            "00_init.txt:14", "<jump>", "*c in 00_init.txt (line 11)", changed=False)) for row in LOOPS[:5]]
        for line, code, message in cases:
            expected = list(message) if isinstance(message, tuple) else [message]
            self.assertEqual(self.check(CLEAN_SCENARIO + line + "\n"), (code, expected), line)
        # Loops that wait, count to a condition that leaves them, store what
        # a condition that leaves them reads, or end at a return with no
        # call pending are no loops the engine ends.
        self.assertEqual(self.check(CLEAN_SCENARIO + "*a\n<label>\n<wait time:1000>\n<jump 00_init,*a>\n"
                                    '*b\n<label>\n<eval "[2000]+=2">\n<jump 00_init,*b,"[2000]<9">\n'
                                    '*c\n<label>\n<if "[2001]==1">\n<returnmenu>\n<endif>\n<eval "[2001]=1">\n'
                                    '<jump 00_init,*c>\n*d\n<label>\n<text TEXT_400>\n<return>\n'
                                    '*e\n<label>\n<eval "[2002]=rand(0,1)">\n<jump 00_init,*e,"[2002]==0">\n'
                                    '*f\n<label>\n<if "[2003]==1">\n<eval "[2003]=2">\n<jump_endif>\n<else>\n'
                                    '<eval "[2003]=1">\n<endif>\n<jump 00_init,*f,"[2003]==1">\n'
                                    '*g\n<label>\n<if "[01]==0">\n<returnmenu>\n<endif>\n<clearvar>\n'
                                    '<jump 00_init,*g>\n*h\n<label>\n<eval "[2004]=1-[2004]&[2005]=[2004]">\n'
                                    '<jump 00_init,*h,"[2005]==0">\n*i\n<label>\n<wait time:10>\n'
                                    '<eval "[2006]+=1">\n<jump 00_init,*i,"[2006]<3">\n'
                                    "<returnmenu>\n"), (0, []))
        # No hold: the blink without its <label>, a waiting loop that counts to its exit, a <label> before a menu
        # that leads back, a keywait loop nothing ends, and a retry whose exit a called file's choice sets.
        self.assertEqual(self.check(CLEAN_SCENARIO + '<click 0>\n*blink\n<eval "[2001]=1-[2001]">\n<if "[2001]==1">\n'
                                    '<text TEXT_400>\n<jump_endif>\n<else>\n<name NAME_40>\n<endif>\n<wait time:700>\n'
                                    '<jump 00_init,*blink>\n*w\n<label>\n<wait time:10>\n<eval "[2002]+=1">\n'
                                    '<jump 00_init,*w,"[2002]<3">\n*m\n<label>\n<wait time:10>\n'
                                    '<menuadd 0,SELECT_40,00_init,*m>\n<menustart 0>\n*staffroll_stop\n<label>\n'
                                    '<returnmenu>\n', {
            "keys.txt": "*k\n<label>\n<text TEXT_400>\n<keywait 400>\n<jump keys,*k>\n",
            "choose.txt": '<menuadd 0,SELECT_40,,*yes,"[2001]=1">\n<menuadd 1,SELECT_40,,*no>\n<menustart 0>\n'
                          '*yes\n<label>\n<return>\n*no\n<label>\n<return>\n',
            "retry.txt": '<click 0>\n*retry\n<label>\n<wait time:10>\n<call choose>\n<jump retry,*retry,"[2001]==0">\n'
                         '*staffroll_stop\n<label>\n<returnmenu>\n'}), (0, []))
        # Keys every language has, a choice to a label that exists, named
        # arguments, a picture's skipped positions, conditions read from the
        # R18 archive or a sum of variables and a call to a label of its own
        # file are clean.
        self.assertEqual(self.check(CLEAN_SCENARIO + "<name NAME_40>\n<menuadd 0,SELECT_40,00_init,*top>\n"
                                    "<menuadd 1,SELECT_40,,*top,\"[2000]=1\">\n<menustart 0>\n"
                                    "<quake time:500,amplitude:8>\n<image 3,fore,bg_hall,,0,0,,,,1>\n"
                                    '<if "[2000]<3">\n<if "[2001]==1">\n<jump_endif>\n<endif>\n<jump_endif>\n'
                                    '<elseif "R18 == 1 || [2000]+[2001]>=4">\n<jump 00_init,*top>\n<else>\n'
                                    '<call 00_init,*top>\n<endif>\n'
                                    "<text SYSTEM_1014>\n"), (0, []))
        # Range conditions, references with a leading 0, every form of
        # statement and a gosub with nothing to pass over are clean too.
        self.assertEqual(self.check(CLEAN_SCENARIO + '<if "[2000]>1&&[2000]<3">\n<jump_endif>\n'
                                    '<elseif "[05]==1 || [2000]>=1 || [2000]<=-2">\n<jump_endif>\n<endif>\n'
                                    '<jump 00_init,*top,"[2000]>1&&[2000]<3">\n'
                                    '<eval "[0005]=1&[2000]++&[2001]--&[2001]=[2000]+1-[23]&[2002]=rand(1,6)&'
                                    '[2003]-=2&[2004]+=[2003]&[2005]=true">\n<gosub>\n'), (0, []))
        # Every slot, bank and menu in range, and 8 choices, are clean.
        self.assertEqual(self.check(CLEAN_SCENARIO + "<voice_stop 7>\n<voice_stop 0>\n<playse 7,hall>\n<stopse 1+6>\n"
                                    "<ws 0>\n<ws>\n<stopse>\n<layopt message0,back,true>\n<playbgm hall,TRUE,100>\n"
                                    "<playbgm hall,false,0>\n<wait 10,FALSE>\n<wait click:true>\n"
                                    "<wait 2*3-1/2>\n<wait -7>\n<image 3,fore,bg_hall,,-20,+30>\n" +
                                    "<menuadd 1,SELECT_40,00_init,*top>\n" * 3 + "<menuadd 0,SELECT_40,00_init,*top>\n" +
                                    "<menuadd 1,SELECT_40,00_init,*top>\n" * 7 + "<menustart 7>\n")[1],
                         ["00_init.txt:13:1: error: playse names 'hall', but no archive holds sound/se/hall.ogg"])
        # A flag tested for 0 by an empty left side, the whole range a
        # variable holds, exactly 16 statements or parts, and a comment
        # behind a condition tag are clean.
        self.assertEqual(self.check(CLEAN_SCENARIO + '<if "![2001]">\n<jump_endif>\n<elseif "![2001] || [05]">\n'
                                    '<endif>\n<if "[2000]>-128 && [2000]<127 && [2000]!=-1"> ; the range\n<endif>\n'
                                    '<eval "[2000]=127&[2001]=-128&[2002]=rand(0,127)&[2003]-=128">   ; set\n'
                                    '<eval "' + "&".join(["[2000]++"] * 16) + '&">\n'
                                    '<jump 00_init,*top,"' + "||".join(["[2000]==1"] * 16) + '">;\n'), (0, []))

    def test_files_are_found_as_the_engine_finds_them_and_each_file_is_checked(self):
        # A file named in other capitals is found, with its labels; a '*' in
        # the name stands for any one character, and only one.
        files = {"scene1.txt": "*s\n<label>\n", "Epilogue.txt": "*e\n<label>\n"}
        self.assertEqual(self.check(CLEAN_SCENARIO + "<call Scene1>\n<jump SCENE1,*s>\n<jump epilogue,*e>\n"
                                    "<jump scene*,*s>\n<menuadd 0,SELECT_40,*pilogue,*e>\n<menustart 0>\n", files),
                         (0, []))
        # A call of a label of its own file comes back behind itself for
        # ever once the label's part has come back: a return goes back
        # behind the newest call into its file, and so does the file's own
        # return or end after it, however the file was entered.
        aside = "*s\n<label>\n<call scene1,*aside>\n<text TEXT_400>\n<return>\n*aside\n<label>\n<return>\n"
        loops = ("scene1.txt:3:1: warning: call of label *aside of its own file scene1.txt comes back behind itself "
                 "for ever: once *aside's part has come back, the <return> of scene1.txt on line 5 comes back behind "
                 "this call again, as a return goes back behind the newest call into its file: put *aside in a file "
                 "of its own and call it there")
        self.assertEqual(self.check(CLEAN_SCENARIO + "<call scene1,*s>\n", {"scene1.txt": aside}), (2, [loops]))
        # Entered by a choice or a jump from a called file, which keeps the
        # caller's return.
        self.assertEqual(self.check(CLEAN_SCENARIO + "<call scene2>\n", {
            "scene2.txt": "<menuadd 0,SELECT_40,scene1,*s>\n<menuadd 1,SELECT_40,,*other>\n<menustart 0>\n"
                          "*other\n<label>\n<return>\n", "scene1.txt": aside}), (2, [loops]))
        self.assertEqual(self.check(CLEAN_SCENARIO + "<call scene2>\n", {
            "scene2.txt": '<jump scene1,*s,"[2000]==1">\n<return>\n', "scene1.txt": aside}), (2, [loops]))
        # 00_init.txt, whose end returns there once the part has come back.
        self.assertEqual(self.check("<call 00_init,*aside>\n<text TEXT_400>\n<keywait 400>\n*aside\n<label>\n"
                                    "<text TEXT_400>\n<return>\n")[1], [
            "00_init.txt:1:1: warning: call of label *aside of its own file 00_init.txt comes back behind itself for "
            "ever: once *aside's part has come back, the <return> of 00_init.txt on line 7 comes back behind this "
            "call again, as a return goes back behind the newest call into its file: put *aside in a file of its "
            "own and call it there"])
        self.assertEqual(self.check("<call 00_init,*aside>\n<text TEXT_400>\n<jump 00_init,*tail>\n*aside\n<label>\n"
                                    "<return>\n*tail\n<label>\n<text TEXT_400>\n"), (2, [
            "00_init.txt:1:1: warning: call of label *aside of its own file 00_init.txt comes back behind itself for "
            "ever: once *aside's part has come back, the end of 00_init.txt (line 9), which returns as <return> "
            "does, comes back behind this call again, as a return goes back behind the newest call into its file: "
            "put *aside in a file of its own and call it there"]))
        # No warning where the file leaves by <returnmenu> once the part has
        # come back, or where the part leaves by <returnmenu> or a jump that
        # never returns.
        quiet = {"scene1.txt": "*s\n<label>\n<call scene1,*aside>\n<returnmenu>\n*aside\n<label>\n<return>\n",
                 "scene3.txt": "*s\n<label>\n<call scene3,*end>\n<return>\n*end\n<label>\n<text TEXT_400>\n"
                               "<returnmenu>\n",
                 "scene4.txt": "*s\n<label>\n<call scene4,*away>\n<return>\n*away\n<label>\n<jump scene5>\n",
                 "scene5.txt": "<text TEXT_400>\n<returnmenu>\n",
                 # A call in the part comes back and clears the return it
                 # kept, so a file it then goes on to no longer returns here.
                 "scene6.txt": "*s\n<label>\n<call scene6,*aside>\n<return>\n*aside\n<label>\n<call scene5>\n"
                               "<jump scene7>\n",
                 "scene7.txt": "*s\n<label>\n<return>\n",
                 # A menu goes to its choices only.
                 "scene8.txt": "*s\n<label>\n<call scene8,*aside>\n<menuadd 0,SELECT_40,scene5>\n<menustart 0>\n"
                               "<return>\n*aside\n<label>\n<return>\n"}
        self.assertEqual(self.check(CLEAN_SCENARIO + "<call scene1,*s>\n<call scene3,*s>\n<call scene4,*s>\n"
                                    "<call scene6,*s>\n<call scene8,*s>\n", quiet), (0, []))
        # A part that goes on by a jump to a file that returns comes back:
        # that file's <label> keeps the call's return.
        self.assertEqual(self.check(CLEAN_SCENARIO + "<call scene6,*s>\n", dict(quiet, **{
            "scene6.txt": "*s\n<label>\n<call scene6,*aside>\n<return>\n*aside\n<label>\n<jump scene7>\n"}))[1],
            ["scene6.txt:3:1: warning: call of label *aside of its own file scene6.txt comes back behind itself for "
             "ever: once *aside's part has come back, the <return> of scene6.txt on line 4 comes back behind this "
             "call again, as a return goes back behind the newest call into its file: put *aside in a file of its "
             "own and call it there"])
        self.assertEqual(self.check("<call 00_init,*aside>\n<returnmenu>\n*aside\n<label>\n<return>\n"), (0, []))
        self.assertEqual(self.check(CLEAN_SCENARIO + "<call scene1>\n", {"scene1.txt": (
            '*s\n<label>\n<if "[2000]<3">\n<eval "[2000]++">\n<call Scene1>\n<endif>\n<return>\n')}), (2, [
            "scene1.txt:5:1: warning: call runs its own file scene1.txt from the top again, and a return goes back "
            "behind the newest call into its file, so the scene comes back to this call for ever: repeat a part with "
            "a label and <jump scene1,*label,\"condition\"> back to it"]))
        # A loop of plain tags through two files, by jumps or by a call whose
        # file's <label> keeps the return behind it.
        self.assertEqual(self.check(CLEAN_SCENARIO + "*a\n<label>\n<jump scene1,*s>\n", {
            "scene1.txt": "*s\n<label>\n<name NAME_40>\n<jump 00_init,*a>\n"}),
            (2, [_loop("00_init.txt:13", "<jump>", "*s in scene1.txt (line 1)")]))
        self.assertEqual(self.check(CLEAN_SCENARIO + "*a\n<label>\n<call scene1,*s>\n<jump 00_init,*a>\n", {
            "scene1.txt": "*s\n<label>\n<name NAME_40>\n<return>\n"}),
            (2, [_loop("00_init.txt:14", "<jump>", "*a in 00_init.txt (line 11)")]))
        # A return that goes back by the record a choice's <label> made, after a jump left that file and came back.
        self.assertEqual(self.check("<call scene2>\n*back\n<label>\n<jump scene1,*t>\n", {
            "scene2.txt": "<menuadd 0,SELECT_40,scene1,*s>\n<menustart 0>\n",
            "scene1.txt": "*s\n<label>\n<return>\n*t\n<label>\n<return>\n"}),
            (2, [_loop("00_init.txt:4", "<jump>", "*t in scene1.txt (line 4)")]))
        # A wait in the called file, or a way out of it, and it is none.
        self.assertEqual(self.check(CLEAN_SCENARIO + "*a\n<label>\n<call scene1,*s>\n<jump 00_init,*a>\n", {
            "scene1.txt": "*s\n<label>\n<ws>\n<return>\n"}), (0, []))
        # The loop search follows a story of 1,000 files whole to its last file's loop, at most 12 times the
        # places and file lookups of 100 files (counted; `test_tools.py --benchmark` gives seconds).
        costs = {}
        for chapters in (100, 1000):
            problems, costs[chapters], _ = story_check_cost(chapters)
            self.assertEqual([(level, where) for level, where, _ in problems],
                             [("warning", "ch%04d.txt:33:1" % (chapters - 1))])
        for unit in ("places", "lookups"):
            self.assertLessEqual(costs[1000][unit], 12 * costs[100][unit], costs)
        # A story larger than the loop search follows is said to be, not passed as clean.
        with unittest.mock.patch.object(script_check, "LOOP_SEARCH_LIMIT", 3):
            # It names the first three files it did not reach and counts the others.
            for more, named in (({}, ""), ({"x%d.txt" % k: "" for k in range(3)}, ", x0.txt and 2 files more")):
                self.assertEqual(self.check(CLEAN_SCENARIO, dict(files, **more))[1], [
                    "00_init.txt:1:1: warning: the search for loops the engine ends stopped after 3 places of the "
                    "story; loops beyond them are not checked, nor any in Epilogue.txt, scene1.txt" + named], named)
        # Of two files whose names differ in capitals alone, the first in the container's order is taken.
        self.assertEqual(self.check(CLEAN_SCENARIO + "<call scene2,*s>\n", {
            "Scene2.txt": "*s\n<label>\n<return>\n", "scene2.txt": "<return>\n"}), (0, []))
        self.assertEqual(self.check(CLEAN_SCENARIO + "<jump scene*1,*s>\n", files),
                         (1, ["00_init.txt:11:1: error: jump names scene*1.txt, which the container lacks"]))
        self.assertEqual(self.check(CLEAN_SCENARIO, {"bad.txt": b"<wait>\n <text \xff>\n"}),
                         (1, ["bad.txt:2:8: error: not UTF-8 (byte 0xFF): save the file as UTF-8"]))
        self.assertEqual(self.check(None, {"scene1.txt": CLEAN_SCENARIO}),
                         (1, ["00_init.txt: error: the container has no 00_init.txt, where New game starts the story"]))

    def test_the_command_line_prints_its_usage_and_checks_a_folder(self):
        out = io.StringIO()
        with contextlib.redirect_stdout(out), self.assertRaises(SystemExit) as done:
            script_check.main(["--help"])
        self.assertEqual(done.exception.code, 0)
        self.assertTrue(out.getvalue().startswith("usage: script_check.py [-h] [--game GAME] folder"), out.getvalue())
        self.assertIn("Exits 1 on errors, 2 on warnings only, 0 when all is", out.getvalue())
        with tempfile.TemporaryDirectory() as tmp:
            folder = write_game(tmp, CLEAN_SCENARIO + "<image 0,back,bg_gone>\n")
            with contextlib.redirect_stderr(io.StringIO()) as err:
                self.assertEqual(script_check.main([folder]), 1)
            self.assertEqual(err.getvalue(), os.path.relpath(os.path.join(folder, "00_init.txt")) +
                             ":11:1: error: image names 'bg_gone', but no archive holds visual/adv/bg_gone.ext\n")
            # A fault of the game's message table, found above the folder.
            table = os.path.join(tmp, "base", "script", "script_mes.mul.txt")
            with open(table, "a", encoding="utf-8") as f:
                f.write("505.zh-hnat = x\n")
            with contextlib.redirect_stderr(io.StringIO()) as err:
                self.assertEqual(script_check.main([folder]), 1)
            self.assertEqual(err.getvalue(), os.path.relpath(table) + ":12: error: unknown language 'zh-hnat'\n")
        # Without arguments, or with ones it does not know: its usage, and a
        # code of its own.
        with contextlib.redirect_stderr(io.StringIO()) as err:
            self.assertEqual(script_check.main([]), script_check.USAGE_EXIT)
            with self.assertRaises(SystemExit) as done:
                script_check.main(["--gmae", "x", "y"])
        self.assertEqual(done.exception.code, script_check.USAGE_EXIT)
        self.assertEqual(err.getvalue().count("usage: script_check.py"), 2)


# The one form of every message the tools print: path[:line[:col]]: level: text.
MESSAGE_FORM = re.compile(r"[^:\n]+(?::[0-9]+(?::[0-9]+)?)?: (?:error|warning): \S")


def characters_of_every_byte():
    """{byte: [characters]}: for each byte of Shift-JIS the characters of the
    engine's table whose code holds it, alone, as a lead or as a second byte."""
    out = {}
    for ch in [chr(b) for b in range(0x80)] + [chr(b + 0xFEC0) for b in range(0xA1, 0xE0)]:
        for b in script_data.encode(ch, "x")[0]:
            out.setdefault(b, []).append(ch)
    for u, code in sorted(script_data.encode_table().items()):
        for place, b in enumerate(code if len(code) == 2 else b""):
            if len(out.setdefault(b, [])) < 2 + place:
                out[b].append(chr(u))
    return out


class ConditionTableTest(unittest.TestCase):
    def test_the_engines_table_is_what_the_checker_reads_today(self):
        # The engine's test evaluates the same table with the engine's code.
        with open(CONDITION_CASES, encoding="ascii") as f:
            have = [line for line in f.read().splitlines() if line and not line.startswith("#")]
        made = condition_cases() + loop_cases() + differential_cases()
        self.assertGreaterEqual(len(made), 4000)
        # The loops written by hand are read as written: each one warned is one the engine ends.
        self.assertEqual([loop_verdict(text) for text, _ in HAND_LOOPS], [want for _, want in HAND_LOOPS])
        self.assertEqual(have, made, "the checker reads otherwise than the table says: run "
                                     "python3 tools/test_tools.py --write-condition-cases, then the engine's test "
                                     "Vars.TheAuthorsCheckerReadsAlike")

    def test_a_warning_of_a_condition_always_true_or_false_is_its_verdict(self):
        for line in condition_cases(seed=76, conditions=1500, statements=0, number_words=0):
            _, word, _, _, verdict = line.split("\t")
            word = re.sub(r"\\(x[0-9A-F]{2}|.)", lambda m: chr(int(m.group(1)[1:], 16)) if len(m.group(1)) == 3
                          else {"r": "\r", "n": "\n", "t": "\t", "e": ""}.get(m.group(1), m.group(1)), word)
            messages = [m for _, m in script_check.condition_problems(word.encode("latin-1"))]
            whole = [m for m in messages if m.startswith("the condition") and ", so it is always " in m]
            for m in whole:
                self.assertEqual(verdict, "T" if ", so it is always true" in m else "F", (word, messages))
            if verdict != "-":
                self.assertTrue(any("always %s" % ("true" if verdict == "T" else "false") in m for m in messages),
                                (word, messages))


class AnyBytesTest(unittest.TestCase):
    def assert_message_form(self, text, what):
        for line in text.splitlines():
            self.assertRegex(line, MESSAGE_FORM, what)

    def test_a_tag_name_of_any_bytes_is_told_in_the_message_form(self):
        # A name that begins with half-width ｲ, ｳ or ｹ (0xB2, 0xB3, 0xB9:
        # superscript digits when read as Latin-1) is an unknown command.
        with tempfile.TemporaryDirectory() as tmp:
            folder = write_game(tmp, CLEAN_SCENARIO + "<\uff72 a>\n<\uff73>\n<1\uff79>\n<+\uff72>\n")
            with contextlib.redirect_stderr(io.StringIO()) as err:
                self.assertEqual(script_check.main([folder]), 2)
            self.assertEqual([line.split(": ", 1)[1] for line in err.getvalue().splitlines()], [
                "warning: unknown command '\uff72'", "warning: unknown command '\uff73'",
                "warning: unknown command '1\uff79'", "warning: unknown command '+\uff72'"])
            with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()) as err:
                self.assertEqual(build_sample.main([os.path.join(tmp, "out"), "--sample", tmp]), 0)
            self.assertIn("00_init.txt:11:1: warning: unknown command '\uff72'", err.getvalue())
            self.assert_message_form(err.getvalue(), "build_sample")
            # The build reads every character in every place of a name of a
            # scenario it builds (those that end a tag or open a quote, apart).
            chars = [ch for some in characters_of_every_byte().values() for ch in some
                     if ch not in '\x00\r\n"<> ,\u3000']
            names = [n for ch in chars for n in (ch, ch + "x", "x" + ch, "x" + ch + "2")]
            with open(os.path.join(tmp, "base", "script", "script.arc", "00_init.txt"), "a", encoding="utf-8") as f:
                f.write("".join("<%s 1>\n" % n for n in names))
            with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()) as err:
                self.assertEqual(build_sample.main([os.path.join(tmp, "out"), "--sample", tmp]), 0)
            self.assertGreaterEqual(err.getvalue().count(": warning: unknown command"), len(names) * 3 // 4)
            self.assert_message_form(err.getvalue(), "build_sample")
        # Every byte in every place of a name: the checker names it in the
        # message form (a stray quote or '>' may end the check with an error).
        # Each byte of Shift-JIS comes from some character but 0xFD-0xFF;
        # each byte is also tried as it stands in the source file (most are
        # no UTF-8).
        chars = characters_of_every_byte()
        self.assertEqual(sorted(chars), list(range(0xFD)))
        tries = [(b, ch.encode("utf-8")) for b, some in sorted(chars.items()) for ch in some]
        for b, ch in tries + [(b, bytes([b])) for b in range(256)]:
            names = [ch, ch + b"x", b"a" + ch, b"1" + ch, b"-" + ch, b"12" + ch + b"3", ch + b"10"]
            text = b"".join(b"<%s 1>\n<%s>\n" % (n, n) for n in names)
            with tempfile.TemporaryDirectory() as tmp:
                os.mkdir(os.path.join(tmp, "s"))
                with open(os.path.join(tmp, "s", "00_init.txt"), "wb") as f:
                    f.write(text)
                    with contextlib.redirect_stderr(io.StringIO()) as err:
                        code = script_check.main([os.path.join(tmp, "s")])
                self.assertIn(code, (0, 1, 2), "byte %02X: %r" % (b, ch))
                self.assert_message_form(err.getvalue(), "byte %02X: %r" % (b, ch))


# Sources of each kind the build reads, small and valid, for the fuzzing
# below: (path in write_game's tree, its content).
FUZZ_SOURCES = [
    ("archives.json", None),
    ("extras.json", {"archive": "data_00.pcarc", "pictures": {"2105": [32, 18]},
                     "track": {"record": 16, "synth": {"format": "wav", "rate": 8000, "channels": 1, "parts": [
                         {"wave": "sine", "amp": 0.3, "tempo": 480, "notes": "C4:1"}]}}}),
    ("base/visual/adv/bg_hall.ext.pict", {"format": "ext0", "bpp": 32, "size": [8, 8], "background": "#203050",
                                          "shapes": [{"rect": [1, 1, 4, 4], "colour": "#ff0000", "radius": 1},
                                                     {"circle": [4, 4, 2], "colour": "#00ff0080"}]}),
    ("base/sound/bgm/hall.oggl.synth", {"format": "wav", "rate": 8000, "channels": 1, "loop": [0.0, 0.25],
                                        "parts": [{"wave": "sine", "amp": 0.3, "tempo": 240, "notes": "C4:1 D4:1"}]}),
    ("base/movie/op.avi.movie", {"size": "16x16", "rate": 5, "seconds": 1, "video": "mpeg4", "audio": "pcm",
                                 "card": {"size": [16, 16], "background": "#16203c"}}),
    ("base/script/script_mes.mul.txt", "languages = ja en\n[section 2]\n400.ja = こんにちは。\n400.en = Hello.\n"),
    ("base/script/script.arc/00_init.txt", CLEAN_SCENARIO + '<if "[2000]==1">\n<jump_endif>\n<endif>\n'),
]
FUZZ_VALUES = [None, True, False, -1, 0, 1, 3, 2 ** 40, -2 ** 70, 1e308, -0.5, 0.5, float("nan"), float("inf"), "", "x", "#zz",
               "\uff72", "\u00b2", "8x8", "C4:1", "sine", "ext0", [], {}, [1], [1, 2], [0, 0, 0, 0], ["a", "b"],
               {"a": 1}, [[1, 2], [3, 4]], "0100", "base", "data_00.pcarc"]


def fuzzed(rnd, value, depth=0):
    """value with some of its parts replaced, dropped or added."""
    if depth > 5 or rnd.random() < 0.15:
        return rnd.choice(FUZZ_VALUES)
    if isinstance(value, dict):
        out = {k: fuzzed(rnd, v, depth + 1) if rnd.random() < 0.4 else v for k, v in value.items()
               if rnd.random() > 0.08}
        if rnd.random() < 0.15:
            out[rnd.choice(("size", "rate", "parts", "x", "2999", "\u00b2"))] = rnd.choice(FUZZ_VALUES)
        return out
    if isinstance(value, list):
        out = [fuzzed(rnd, v, depth + 1) if rnd.random() < 0.4 else v for v in value if rnd.random() > 0.08]
        return out + [rnd.choice(FUZZ_VALUES)] if rnd.random() < 0.15 else out
    return value


def fuzzed_bytes(rnd, data):
    """data with random bytes: cut short, some bytes changed or put in, or
    random bytes alone."""
    kind = rnd.randrange(4)
    if kind == 0:
        return bytes(rnd.randrange(256) for _ in range(rnd.randrange(64)))
    if kind == 1:
        return data[:rnd.randrange(len(data) + 1)]
    out = bytearray(data)
    for _ in range(rnd.randrange(1, 6)):
        at = rnd.randrange(len(out) + 1)
        b = rnd.choice((rnd.randrange(256), ord("<"), ord(">"), ord('"'), ord("="), ord("["), 0xB2, 0x81, 0xFF))
        if kind == 2 and at < len(out):
            out[at] = b
        else:
            out[at:at] = bytes([b])
    return bytes(out)


class FuzzTest(unittest.TestCase):
    def test_every_build_input_of_any_bytes_is_told_at_its_file_in_the_message_form(self):
        import random
        rnd = random.Random(75)
        with tempfile.TemporaryDirectory() as tmp:
            game, out = os.path.join(tmp, "game"), os.path.join(tmp, "out")
            folder = write_game(game, CLEAN_SCENARIO)
            with open(os.path.join(game, "archives.json"), encoding="utf-8") as f:
                sources = [(rel, json.load(f) if value is None else value) for rel, value in FUZZ_SOURCES[:1]]
            sources += FUZZ_SOURCES[1:]
            originals = {}
            for rel, value in sources:
                path = os.path.join(game, rel)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                text = value if isinstance(value, str) else json.dumps(value)
                originals[rel] = text.encode("utf-8")
                with open(path, "wb") as f:
                    f.write(originals[rel])
            prefix = os.path.relpath(game) + os.sep
            scenarios = ": error: the scenarios have errors, so nothing is built"
            for rel, value in sources * 40:
                if isinstance(value, str) or rnd.random() < 0.3:
                    data = fuzzed_bytes(rnd, originals[rel])
                else:
                    data = json.dumps(fuzzed(rnd, value)).encode("utf-8")
                with open(os.path.join(game, rel), "wb") as f:
                    f.write(data)
                what = "%s: %r" % (rel, data)
                runs = [lambda: build_sample.main([out, "--sample", game])]
                if rel in ("archives.json", "extras.json") or "/script/" in rel:
                    runs.append(lambda: script_check.main([folder, "--game", game]))
                for run in runs:
                    with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()) as err:
                        try:
                            code = run()
                        except Exception as e:  # noqa: BLE001
                            self.fail("%s: %s: %s" % (what, type(e).__name__, e))
                    self.assertIn(code, (0, 1, 2), what)
                    lines = err.getvalue().splitlines()
                    self.assert_message_form(lines, what)
                    # Each fault is told at a file, the one fuzzed or one
                    # it changes the reading of (a scenario whose picture
                    # is gone), never at the game's folder alone.
                    located = [line for line in lines if line.startswith(prefix)]
                    self.assertEqual(len(located) + lines.count(prefix[:-1] + scenarios), len(lines), (what, lines))
                    self.assertEqual(code == 1, bool(located) and any(": error: " in line for line in located),
                                     (what, lines))
                with open(os.path.join(game, rel), "wb") as f:
                    f.write(originals[rel])

    def assert_message_form(self, lines, what):
        for line in lines:
            self.assertRegex(line, MESSAGE_FORM, what)


class IncrementalBuildTest(unittest.TestCase):
    def build(self, game, out, *extra):
        printed = io.StringIO()
        with contextlib.redirect_stdout(printed), contextlib.redirect_stderr(io.StringIO()):
            self.assertEqual(build_sample.main([out, "--sample", game] + list(extra)), 0)
        return printed.getvalue()

    def digests(self, out):
        names = ("data_00.pcarc", "data_p00.pcarc")
        return {n: vndata_digest(os.path.join(out, "data", n)) for n in names}

    def test_a_changed_scenario_rebuilds_its_archive_alone_and_equals_a_full_build(self):
        with tempfile.TemporaryDirectory() as tmp:
            game, out, full = os.path.join(tmp, "game"), os.path.join(tmp, "out"), os.path.join(tmp, "full")
            folder = write_game(game, CLEAN_SCENARIO)
            stages = [line for line in self.build(game, out).splitlines() if line.startswith("build_sample: ")]
            told = [stages.index("build_sample: " + s) for s in
                    ("checking the scenarios", "data_00.pcarc: script/ (3 sources)", "data_00.pcarc: writing the archive")]
            self.assertEqual(told, sorted(told), stages)
            first = self.digests(out)
            self.assertIn("unchanged", self.build(game, out))
            self.assertEqual(self.digests(out), first)
            with open(os.path.join(folder, "00_init.txt"), "a", encoding="utf-8") as f:
                f.write("; one more line\n")
            printed = self.build(game, out)
            second = self.digests(out)
            self.assertNotEqual(second["data_00.pcarc"], first["data_00.pcarc"])
            self.assertEqual(second["data_p00.pcarc"], first["data_p00.pcarc"])
            self.assertIn("data_p00.pcarc (unchanged)", printed)
            self.build(game, full, "--full")
            self.assertEqual(self.digests(full), second)
            with open(os.path.join(folder, "00_init.txt"), "a", encoding="utf-8") as f:
                f.write("<image base,back,bg_gone>\n")
            with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()) as err:
                self.assertEqual(build_sample.main([out, "--sample", game]), 1)
            self.assertIn("00_init.txt:12:1: error: image names 'bg_gone'", err.getvalue())
            self.assertIn(os.path.relpath(game) + ": error: the scenarios have errors, so nothing is built",
                          err.getvalue())
            self.assertEqual(self.digests(out), second)


    def test_a_warning_alone_builds_and_is_printed(self):
        with tempfile.TemporaryDirectory() as tmp:
            game, out = os.path.join(tmp, "game"), os.path.join(tmp, "out")
            write_game(game, CLEAN_SCENARIO + "<playbmg hall>\n")
            with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()) as err:
                self.assertEqual(build_sample.main([out, "--sample", game]), 0)
            self.assertIn("00_init.txt:11:1: warning: unknown command 'playbmg'", err.getvalue())
            self.assertEqual(sorted(self.digests(out)), ["data_00.pcarc", "data_p00.pcarc"])

    def test_a_fault_in_any_file_the_build_reads_is_named_at_its_place(self):
        # Each fault: (file, its content, the one line the build prints,
        # and whether the check of the scenarios prints it too).
        faults = [
            ("archives.json", '{"archives": [', 'archives.json:1:15: error: Expecting value', True),
            ("archives.json", '{"archives": [{"file": "data_00.pcarc", "version": "0100"}]}',
             'archives.json: error: archive 1 lacks its "tree" (a text)', True),
            ("archives.json", '{"archives": [{"file": "d.pcarc", "tree": "base", "version": 1.5}]}',
             "archives.json: error: archive 1: \"version\" is four digits, not 1.5", True),
            ("base/sound/bgm/hall.oggl.synth", '{"format": "wav", "rate": "fast"}',
             'base/sound/bgm/hall.oggl.synth: error: "rate" is "fast", not a whole number', False),
            ("base/sound/bgm/hall.oggl.synth", '{"parts": [{"notes": "C4:1 H4:1"}]}',
             "base/sound/bgm/hall.oggl.synth: error: bad note 'H4'", False),
            ("base/sound/bgm/hall.oggl.synth", '{"format": "wav", "bits": 12}',
             "base/sound/bgm/hall.oggl.synth: error: wav: 1 channels, 12 bits", False),
            ("base/visual/adv/bg_hall.ext.pict", '{"size": "big"}',
             'base/visual/adv/bg_hall.ext.pict: error: "size" is [width, height] in pixels, not "big"', False),
            ("base/visual/adv/bg_hall.ext.pict", '[8, 8]',
             "base/visual/adv/bg_hall.ext.pict: error: a picture is described by a JSON object", False),
            ("base/movie/op.avi.movie", '{"size": "64x48",\n', "base/movie/op.avi.movie:2:1: error: Expecting "
             "property name enclosed in double quotes", False),
            ("extras.json", '{"archive": "data_00.pcarc", "pictures": {"2105": "big"}}',
             'extras.json: error: picture 2105: its size is [width, height], not "big"', True),
            ("base/script/script_mes.mul.txt", "languages = ja en\n[section 2]\n400.en = Hello\xff.\n",
             "base/script/script_mes.mul.txt:3:15: error: not UTF-8 (byte 0xFF): save the file as UTF-8", True),
            # The edges of each check of the files the build reads.
            ("base/script/script_mes.mul.txt", "languages = 99999999999999999\n",
             "base/script/script_mes.mul.txt:1: error: 1 to 255 distinct languages needed", True),
            ("base/script/script_mes.mul.txt", "languages = ja\n[section 2]\n400.\u00c2\u00b2 = x\n",  # UTF-8 '\u00b2'
             "base/script/script_mes.mul.txt:3: error: unknown language '\u00b2'", True),
            ("archives.json", '{"archives": [{"file": "d.pcarc", "tree": "bass", "version": "0100"}]}',
             'archives.json: error: archive 1: "tree" names bass, which is no folder of the game', True),
            ("archives.json", '{"archives": [{"file": "d.pcarc", "tree": "base", "version": "0100"}], '
             '"mul_encoding": "latin1"}', "archives.json: error: \"mul_encoding\" is utf8 or sjis, not 'latin1'", True),
            ("archives.json", '{"archives": [{"file": "d.pcarc", "tree": "base", "version": "01000"}]}',
             "archives.json: error: archive 1: \"version\" is four digits, not '01000'", True),
            ("extras.json", '{"pictures": {"2376": [8, 8]}}',
             'extras.json: error: picture id "2376" is no number from 2000 to 2375', True),
            ("extras.json", '{"pictures": {"1999": [8, 8]}}',
             'extras.json: error: picture id "1999" is no number from 2000 to 2375', True),
            ("extras.json", '{"pictures": {"\\u00b2\\u00b2\\u00b2\\u00b2": [8, 8]}}',
             'extras.json: error: picture id "\\u00b2\\u00b2\\u00b2\\u00b2" is no number from 2000 to 2375', True),
            ("extras.json", '{"pictures": {"2000": [8, 0]}}',
             'extras.json: error: picture 2000: its size is [width, height], not [8, 0]', True),
            ("extras.json", '{"tracks": [{"record": 21, "synth": {}}]}',
             'extras.json: error: track 1 is {"record": 0 to 20, "synth": {...a sound source...}}', True),
            ("extras.json", '{"tracks": [{"record": -1, "synth": {}}]}',
             'extras.json: error: track 1 is {"record": 0 to 20, "synth": {...a sound source...}}', True),
            ("base/sound/bgm/hall.oggl.synth", '{"format": "wav", "rate": 8000.5}',
             'base/sound/bgm/hall.oggl.synth: error: "rate" is 8000.5, not a whole number', False),
            ("base/sound/bgm/hall.oggl.synth", '{"format": "wav", "loop": [-0.5, 1]}',
             'base/sound/bgm/hall.oggl.synth: error: "loop" is [start, end] in seconds, not [-0.5, 1]: a loop lies '
             'in the sound', False),
            ("base/sound/bgm/hall.oggl.synth", '{"format": "wav", "channels": Infinity}',
             'base/sound/bgm/hall.oggl.synth:1:31: error: Infinity is no number: write a number', False),
            ("extras.json", '{"pictures": {"2000": [8,\n -Infinity]}}',
             'extras.json:2:2: error: -Infinity is no number: write a number', True),
            ("base/visual/adv/bg_hall.ext.pict", '{"size": [8, NaN]}',
             "base/visual/adv/bg_hall.ext.pict:1:14: error: NaN is no number: write a number", False),
        ]
        for rel, content, line, checked in faults:
            with tempfile.TemporaryDirectory() as tmp:
                game, out = os.path.join(tmp, "game"), os.path.join(tmp, "out")
                folder = write_game(game, CLEAN_SCENARIO)
                os.makedirs(os.path.dirname(os.path.join(game, rel)), exist_ok=True)
                with open(os.path.join(game, rel), "wb") as f:
                    f.write(content.encode("latin-1"))
                prefix = os.path.relpath(game) + os.sep
                with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()) as err:
                    self.assertEqual(build_sample.main([out, "--sample", game]), 1, rel)
                self.assertEqual(err.getvalue().replace(prefix, "").splitlines(), [line], rel)
                self.assertFalse(os.path.exists(os.path.join(out, "data", "data_00.pcarc")), rel)
                if checked:
                    with contextlib.redirect_stderr(io.StringIO()) as err:
                        self.assertEqual(script_check.main([folder]), 1, rel)
                    self.assertEqual(err.getvalue().replace(prefix, "").splitlines(), [line], rel)

    def run_tools(self, tools, game, out, *extra):
        done = subprocess.run([sys.executable, os.path.join(tools, "build_sample.py"), out, "--sample", game] +
                              list(extra), capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        return done.stdout

    def test_what_the_archives_are_built_with_rebuilds_them_like_a_full_build(self):
        """A changed writer, a changed table encoding, or --full over a damaged
        cache: each build equals a full build of the same sources."""
        here = os.path.dirname(os.path.abspath(__file__))
        with tempfile.TemporaryDirectory() as tmp:
            game, out, tools = os.path.join(tmp, "game"), os.path.join(tmp, "out"), os.path.join(tmp, "tools")
            shutil.copytree(here, tools, ignore=shutil.ignore_patterns("__pycache__"))
            # The game's table has Japanese texts, which the encoding changes.
            write_game(game, CLEAN_SCENARIO)

            def fresh():
                full = tempfile.mkdtemp(dir=tmp)
                self.run_tools(tools, game, full, "--full")
                return self.digests(full)

            self.run_tools(tools, game, out)
            # A writer's own code changes what it writes.
            with open(os.path.join(tools, "image_data.py"), encoding="utf-8") as f:
                writer = f.read()
            changed = writer.replace('t += "ff"', 't += "80"')
            self.assertNotEqual(changed, writer)
            with open(os.path.join(tools, "image_data.py"), "w", encoding="utf-8") as f:
                f.write(changed)
            before = self.digests(out)
            self.run_tools(tools, game, out)
            self.assertNotEqual(self.digests(out), before)
            self.assertEqual(self.digests(out), fresh())
            # The message tables' encoding.
            with open(os.path.join(game, "archives.json"), encoding="utf-8") as f:
                config = json.load(f)
            config["mul_encoding"] = "sjis"
            with open(os.path.join(game, "archives.json"), "w", encoding="utf-8") as f:
                json.dump(config, f)
            before = self.digests(out)
            self.run_tools(tools, game, out)
            self.assertNotEqual(self.digests(out)["data_00.pcarc"], before["data_00.pcarc"])
            self.assertEqual(self.digests(out), fresh())
            # Every cache entry damaged and a source changed: --full takes
            # nothing from the cache and writes every archive.
            cache = os.path.join(out, ".build-cache")
            for name in os.listdir(cache):
                with open(os.path.join(cache, name), "r+b") as f:
                    f.write(b"\xff\xfe")
            with open(os.path.join(game, "base/script/script_mes.mul.txt"), "a", encoding="utf-8") as f:
                f.write("401.en = Two.\n")
            printed = self.run_tools(tools, game, out, "--full")
            self.assertEqual(self.digests(out), fresh())
            self.assertNotIn("unchanged", printed)


def vndata_digest(path):
    import hashlib
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()



class PictSourceTest(unittest.TestCase):
    def test_a_rounded_rect_leaves_its_corners(self):
        src = {"format": "png", "size": [20, 10], "background": "#00000000",
               "shapes": [{"rect": [0, 0, 20, 10], "radius": 4, "colour": "#ffffff"}]}
        w, h, px = image_data.new_picture(20, 10)
        image_data.paint((w, h, px), src["shapes"], "t")
        alpha = [[px[(y * w + x) * 4 + 3] for x in range(w)] for y in range(h)]
        self.assertEqual((alpha[0][0], alpha[0][1], alpha[0][2], alpha[1][1]), (0, 0, 255, 255))
        self.assertEqual((alpha[9][19], alpha[5][0], alpha[5][19]), (0, 255, 255))
        self.assertEqual(image_data.picture_from_source(json.dumps(src))[:4], b"\x89PNG")

    def test_typed_text_sits_on_its_baseline_in_its_colour(self):
        # Japanese, centred at x 60, baseline y 30, red over a blue ground,
        # then a rect painted after it covers its right half.
        shapes = [{"type": "はじめ", "face": "gothic", "size": 20, "at": [60, 30], "colour": "#ff0000",
                   "align": "centre"},
                  {"rect": [60, 0, 60, 40], "colour": "#0000ff"}]
        w, h, px = image_data.new_picture(120, 40, b"\0\0\xff\xff")
        image_data.paint((w, h, px), shapes, "t")
        red = [(x, y) for y in range(h) for x in range(w) if px[(y * w + x) * 4] > 128]
        self.assertTrue(red)
        self.assertGreaterEqual(min(x for x, _ in red), 60 - 32)
        self.assertLess(max(x for x, _ in red), 60)
        self.assertGreaterEqual(min(y for _, y in red), 30 - 20)
        self.assertLessEqual(max(y for _, y in red), 32)
        with self.assertRaises(image_data.ImageError):
            image_data.paint((w, h, px), [{"type": "x", "face": "nonesuch", "at": [0, 0]}], "t")

    def test_typed_text_is_drawn_as_written(self):
        # A per cent sign (the completion figures' sheet) and a backslash are
        # plain characters, not the drawing tool's escapes.
        for text in ("%", "1%", "%{n}", "a\\b"):
            w, h, px = image_data.new_picture(80, 40, b"\0\0\0\xff")
            image_data.paint((w, h, px), [{"type": text, "face": "sans", "size": 20, "at": [4, 30]}], "t")
            right = max((x for y in range(h) for x in range(w) if px[(y * w + x) * 4] > 128), default=-1)
            alone = image_data.new_picture(80, 40, b"\0\0\0\xff")
            image_data.paint(alone, [{"type": text[:-1] or " ", "face": "sans", "size": 20, "at": [4, 30]}], "t")
            shorter = max((x for y in range(h) for x in range(w) if alone[2][(y * w + x) * 4] > 128), default=-1)
            self.assertGreater(right, shorter + 4, text)

    def test_a_shadow_fades_out_beyond_its_edge(self):
        w, h, px = image_data.new_picture(40, 10)
        image_data.paint((w, h, px), [{"shadow": [10, 0, 20, 10], "blur": 8, "colour": "#000000ff"}], "t")
        alpha = [px[(5 * w + x) * 4 + 3] for x in range(w)]
        self.assertEqual(alpha[15], 255)
        self.assertTrue(255 > alpha[31] > alpha[35] > 0, alpha)
        self.assertEqual((alpha[1], alpha[39]), (0, 0))

    def test_a_fade_thins_a_picture_towards_its_bottom_only_inside_its_rect(self):
        w, h, px = image_data.new_picture(10, 20, b"\x10\x20\x30\xff")
        image_data.paint((w, h, px), [{"fade": [0, 4, 5, 10]}], "t")
        alpha = [px[(y * w + 2) * 4 + 3] for y in range(h)]
        self.assertEqual(alpha[:4] + alpha[14:], [255] * 10)
        self.assertTrue(255 > alpha[4] > alpha[9] > alpha[13] > 0, alpha)
        self.assertLess(alpha[13], 32)
        self.assertEqual(px[(9 * w + 7) * 4 + 3], 255, "beside the rect")
        self.assertEqual(px[(9 * w + 2) * 4:(9 * w + 2) * 4 + 3], b"\x10\x20\x30", "the colour stays")

class FontDataTest(unittest.TestCase):
    def test_ext0_picture_of_cells(self):
        ext = font_data.addglyph_from_source("# two cells\ncircle 102030\nsquare ffffff  # white\n")
        self.assertEqual(ext[:4], b"EXT0")
        self.assertEqual(struct.unpack_from("<iiiiiiB", ext, 12), (64, 128, 64, 128, -9999, -9999, 32))
        self.assertEqual(len(ext), 256 + 2 * 64 * 64 * 4)

        def px(x, y):
            at = 256 + (y * 64 + x) * 4
            return tuple(ext[at:at + 4])
        self.assertEqual(px(32, 32), (0x30, 0x20, 0x10, 255))  # B, G, R, A
        self.assertEqual(px(0, 0)[3], 0)
        self.assertEqual(px(32, 64 + 32), (255, 255, 255, 255))  # cell 1 starts at row 64
        for bad in ("", "blob 102030", "circle 1020", "circle zz2030", "circle"):
            with self.assertRaises(font_data.FontDataError, msg=bad):
                font_data.addglyph_from_source(bad)

    def test_sysfont_takes_the_first_existing_path(self):
        with tempfile.TemporaryDirectory() as tmp:
            there = os.path.join(tmp, "f.ttf")
            with open(there, "wb") as f:
                f.write(b"font bytes")
            src = "# comment\n%s\n%s\n" % (os.path.join(tmp, "missing.ttf"), there)
            self.assertEqual(font_data.sysfont_from_source(src), b"font bytes")
            with self.assertRaises(font_data.FontDataError):
                font_data.sysfont_from_source(os.path.join(tmp, "missing.ttf"))


class CatalogueDataTest(unittest.TestCase):
    def test_tables_pass_the_lint_and_match_the_committed_sources(self):
        pics = catalogue_data.pictures()
        r18, aa = catalogue_data.gallery()
        self.assertEqual(catalogue_data.lint(pics, catalogue_data.TRACKS), [])
        self.assertEqual(catalogue_data.lint_gallery(r18, aa), [])
        root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
        with open(os.path.join(root, "story", "catalogue_data.inc"), encoding="ascii") as f:
            self.assertEqual(f.read(), catalogue_data.emit(pics, catalogue_data.TRACKS))
        with open(os.path.join(root, "extras", "gallery_data.inc"), encoding="ascii") as f:
            self.assertEqual(f.read(), catalogue_data.emit_gallery(r18, aa))

    def test_lint_finds_faults(self):
        pics = catalogue_data.pictures()
        bad = list(pics)
        bad[20] = bad[21]
        bad[30] = "event_sefa_Upper"
        faults = catalogue_data.lint(bad, catalogue_data.TRACKS)
        self.assertTrue(any("duplicate" in f for f in faults))
        self.assertTrue(any("upper-case" in f for f in faults))
        # A character on which the two code-page tables disagree has no form.
        self.assertIsNone(catalogue_data.sjis("\u301c"))
        r18, aa = catalogue_data.gallery()
        aa[0][0] = [2104]
        self.assertNotEqual(catalogue_data.lint_gallery(r18, aa), [])


class ExtrasDataTest(unittest.TestCase):
    def test_thumbnails_pictures_and_track_named_in_shift_jis(self):
        files = extras_data.files_from_source({"pictures": {"2105": [1280, 720]}, "omit_thumbs": [3]})
        members = open_arc(files[b"visual/thumb/thumb.arc"])
        names = {n for n, _, _ in members}
        # Both variants' thumbnails, less the one left out; each 256x144 8 bits.
        self.assertEqual(len(members), len(extras_data.thumbnails()) - 1)
        first = b"thumb_" + catalogue_data.sjis(catalogue_data.pictures()[105]) + b".ext"
        self.assertIn(first, names)
        for _, _, data in members[:3]:
            self.assertEqual(struct.unpack_from("<4sffiiii", data), (b"EXT0", 0.0, 0.0, 256, 144, 256, 144))
            self.assertEqual(data[36], 8)
            self.assertEqual(len(data), 256 + 1024 + 256 * 144)
        picture = b"visual/adv/" + catalogue_data.sjis(catalogue_data.pictures()[105]) + b".ext"
        self.assertEqual(struct.unpack_from("<ii", files[picture], 20), (1280, 720))
        japanese = [n for n in names if any(b >= 0x80 for b in n)]
        self.assertTrue(japanese)
        for n in japanese:
            self.assertEqual(n.decode("cp932").encode("cp932"), n)
        # A thumbnail shows its own picture made small: the story's picture
        # from its source, the unlockable one from its drawn landscape.
        def thumb_pixel(name, x, y):
            data = {n: d for n, _, d in members}[b"thumb_" + catalogue_data.sjis(name) + b".ext"]
            i = data[256 + 1024 + y * 256 + x]
            return bytes(data[256 + 4 * i:256 + 4 * i + 3])  # B, G, R
        root = ROOT
        with open(os.path.join(root, "sample", "base", "visual", "adv", "event_sefa_ed_a.ext.pict"),
                  encoding="utf-8") as f:
            w, h, px = image_data.pixels_from_source(f.read())
        for x, y in ((128, 72), (60, 100), (200, 30)):
            at = (y * 5 * w + x * 5) * 4
            got, want = thumb_pixel("event_sefa_ed_a", x, y), bytes(px[at:at + 3])[::-1]
            # Its many colours are kept to 256 in steps of 16 a channel.
            self.assertLessEqual(max(abs(a - b) for a, b in zip(got, want)), 24, (x, y, got, want))
        scene = extras_data.event_scene(2105, (1280, 720))
        index = scene[2][100 * 5 * 1280 + 60 * 5]
        self.assertEqual(thumb_pixel(catalogue_data.pictures()[105], 60, 100),
                         bytes(extras_data.PALETTE[index][:3]))

    def test_special_buttons_and_music_titles(self):
        files = extras_data.files_from_source({"omit_buttons": [2]})
        names = [n for n, _, _ in open_arc(files[b"visual/thumb/thumb2.arc"])]
        self.assertEqual(len(names), 14)
        self.assertIn(b"button_c8.ext", names)
        self.assertNotIn(b"button_c13.ext", names)
        # Each button is its scenario's scene made small: the first
        # scenario's guide stands over the forest, as special.txt places her.
        root = ROOT
        adv = os.path.join(root, "sample", "base", "visual", "adv")
        pics = {}
        for name in ("bg_forest", "chara_guide"):
            with open(os.path.join(adv, name + ".ext.pict"), encoding="utf-8") as f:
                pics[name] = image_data.pixels_from_source(f.read())
        button = {n: d for n, _, d in open_arc(files[b"visual/thumb/thumb2.arc"])}[b"button_c8.ext"]

        def button_pixel(x, y):
            i = button[256 + 1024 + y * 256 + x]
            return bytes(button[256 + 4 * i:256 + 4 * i + 3])[::-1]  # R, G, B

        for (x, y), (name, left, top) in (((128, 44), ("chara_guide", 440, 60)), ((120, 68), ("chara_guide", 440, 60)),
                                          ((30, 100), ("bg_forest", 0, 0)), ((200, 120), ("bg_forest", 0, 0))):
            w, _, px = pics[name]
            at = ((y * 5 - top) * w + x * 5 - left) * 4
            got, want = button_pixel(x, y), bytes(px[at:at + 3])
            self.assertLessEqual(max(abs(a - b) for a, b in zip(got, want)), 24, (x, y, name, got, want))
        # The stage is what the label's first transition brings in.
        with tempfile.TemporaryDirectory() as tree:
            os.makedirs(os.path.join(tree, "script", "script.arc"))
            with open(os.path.join(tree, "script", "script.arc", "special.txt"), "w", encoding="utf-8") as f:
                f.write("*m1\n<label>\n<image 6,back,b,,10,20>\n<image base,back,a>\n<image 2,back,c,,5,6>\n"
                        "<freeimage 6>\n<image 4,back,d>\n<trans crossfade,0>\n<image 3,back,e>\n<trans wipe_000,9>\n"
                        "*m2\n<label>\n<returnmenu>\n")
            self.assertEqual(extras_data.special_stages(tree), {"*m1": [("a", 0, 0), ("c", 5, 6), ("d", 0, 0)]})
        # The sample's section 4 is the generator's, and slot i of a page
        # is titled after the record it plays.
        root = ROOT
        with open(os.path.join(root, "sample", "base", "script", "sysgra_mes.mul.txt"), encoding="utf-8") as f:
            self.assertIn(extras_data.music_titles_block(), f.read())
        block = extras_data.music_titles_block()
        self.assertIn("8.en = \\sWhere the Wind Goes\n", block)  # page 0, slot 1: record 1
        self.assertIn("17.en = \\sQuillmere\n", block)  # page 1, slot 2: record 18
        self.assertIn("20.en = \\sOverture\n", block)  # page 1, slot 3: record 19

    def test_the_sample_holds_every_track_once_as_a_distinct_loop(self):
        root = ROOT
        with open(os.path.join(root, "sample", "extras.json"), encoding="utf-8") as f:
            desc = json.load(f)
        bgm = os.path.join(root, "sample", "base", "sound", "bgm")
        stems = [n[:-len(".oggl.synth")] for n in os.listdir(bgm) if n.endswith(".oggl.synth")]
        records = [t["record"] for t in desc["tracks"] + [desc["track"]]]
        records += [catalogue_data.TRACKS.index(s) for s in stems]
        self.assertEqual(sorted(records), list(range(len(catalogue_data.TRACKS))))
        tunes = set()
        for t in desc["tracks"] + [desc["track"]]:
            start, end = t["synth"]["loop"]
            self.assertTrue(8.0 <= end - start <= 15.0, t["record"])
            tunes.add(t["synth"]["parts"][0]["notes"])
        self.assertEqual(len(tunes), len(desc["tracks"]) + 1)


class RunStateCheckTest(unittest.TestCase):
    """The run-state check on a small tree compiled here: a variable no reset
    sets fails it, until a reset sets it or it is marked process-wide."""

    def check(self, files):
        """Runs the check on the files ({path: text}) beside an empty reset
        for every layer; app/main.cpp is compiled into the program's own
        object folder, the rest into the library's. Returns (code, output)."""
        with tempfile.TemporaryDirectory() as root:
            library, program = os.path.join(root, 'library'), os.path.join(root, 'program')
            tree = {f'{folder}/resets.cpp': ''.join(f'void {r}() {{}}\n' for r in resets)
                    for _, (folder, *_), resets in check_run_state.LAYERS}
            for path, text in files.items():
                defined = [r for r in re.findall(r'\bvoid (\w+)\(\) \{', text) if r.endswith('Reset')]
                for stubs in [p for p in tree if p.endswith('/resets.cpp')]:
                    tree[stubs] = ''.join(line for line in tree[stubs].splitlines(True)
                                          if not any(f' {r}(' in line for r in defined))
                tree[path] = text
            for path, text in tree.items():
                os.makedirs(os.path.dirname(os.path.join(root, path)), exist_ok=True)
                with open(os.path.join(root, path), 'w') as f:
                    f.write(text)
            for path in tree:
                if path.endswith('.cpp'):
                    out = os.path.join(program if path == 'app/main.cpp' else library, path + '.o')
                    os.makedirs(os.path.dirname(out), exist_ok=True)
                    subprocess.run(['g++', '-std=c++20', '-c', '-I', root, os.path.join(root, path), '-o', out],
                                   check=True)
            out = io.StringIO()
            with contextlib.redirect_stdout(out), mock_argv([root, library, program]):
                code = check_run_state.main()
            return code, out.getvalue()

    def failing(self, files):
        """The variables the check names, as 'path:line name'."""
        code, out = self.check(files)
        found = sorted(re.findall(r'^(\S+):(\d+): (\w+) ', out, flags=re.M), key=lambda f: (f[0], int(f[1])))
        self.assertEqual(code, 1 if found else 0, out)
        return [f'{path}:{line} {name}' for path, line, name in found]

    def test_a_variable_no_reset_sets_fails_until_reset_or_marked(self):
        use = 'int Use() { return ++Seen + ++g_count + ++t_depth; }\n'
        code, out = self.check({'extras/a.cpp': 'int Seen = 0;\nnamespace {\nint g_count;\n}\n'
                                                 'thread_local int t_depth;\nvoid Extras_RunStateReset() {}\n' + use})
        self.assertEqual(code, 1)
        self.assertIn('extras/a.cpp:1: Seen is neither set by a reset', out)
        self.assertIn('extras/a.cpp:3: g_count is neither', out)
        self.assertIn('extras/a.cpp:5: t_depth is neither', out)
        # Set by a function the reset calls; marked; a constant table.
        self.assertEqual(self.failing({'extras/a.cpp': 'int Seen = 0;\nnamespace {\n// Counted.\n// process-wide: a count\n'
                                                       'int g_count;\nvoid Clear() { Seen = 0; }\n}\n'
                                                       'thread_local int t_depth;  // process-wide: one per thread\n'
                                                       'void Extras_RunStateReset() { Clear(); }\n'
                                                       'const int kTable[2] = {1, 2};\n' + use}), [])
        # The program's own files are read too.
        self.assertEqual(self.failing({'app/main.cpp': 'int g_runs;\nint main() { return ++g_runs; }\n'}),
                         ['app/main.cpp:1 g_runs'])

    def test_a_reset_must_set_the_variable_to_its_start(self):
        files = {'extras/a.cpp': 'int32_t Slot = -1;\nstd::atomic<float> Volume{1.0f};\nint Flags[2];\nint Held = 4;\n'
                                 'int Grid[1][2] = {\t{5, 5}\t};\nint Marks[2];\n'
                                 'int Use() { return Slot + Flags[0] + Held; }\n'
                                 'void Extras_RunStateReset() {\n    Slot = -1;\n    Volume.store(1.0f);\n'
                                 '    Flags[0] = Flags[1] = 0;\n    Held = Use() + 1;\n    Grid[0][0] = Grid[0][1] = 5;\n'
                                 '    std::fill(std::begin(Marks), std::end(Marks), 0);\n}\n'}
        files['extras/a.cpp'] = '#include <algorithm>\n#include <atomic>\n#include <cstdint>\n' + files['extras/a.cpp']
        self.assertEqual(self.failing(files), [])
        # Set to another value than the one it starts with; only read.
        bad = files['extras/a.cpp'].replace('Slot = -1;\n   ', 'Slot = 0;\n   ').replace('store(1.0f)', 'store(0.5f)')
        bad = bad.replace('Flags[1] = 0', 'Flags[1] = 1').replace('Held = Use() + 1', 'Use(); (void)Held')
        bad = bad.replace('Grid[0][1] = 5', 'Grid[0][1] = 6').replace('std::end(Marks), 0', 'std::end(Marks), 2')
        code, out = self.check({'extras/a.cpp': bad})
        self.assertIn('extras/a.cpp:4: Slot starts as -1, but Extras_RunStateReset sets it to 0', out)
        self.assertIn('extras/a.cpp:5: Volume starts as 1.0, but Extras_RunStateReset sets it to 0.5', out)
        self.assertIn('extras/a.cpp:6: Flags starts as 0, but Extras_RunStateReset sets it to 1', out)
        self.assertIn('extras/a.cpp:7: Held is neither set by a reset', out)
        self.assertIn('extras/a.cpp:8: Grid starts as 5, but Extras_RunStateReset sets it to 6', out)
        self.assertIn('extras/a.cpp:9: Marks starts as 0, but Extras_RunStateReset sets it to 2', out)
        self.assertEqual(code, 1)

    def test_literals_of_every_form_are_read_in_start_values_and_resets(self):
        # (type, start, a reset of the same value, one of another, the two values)
        forms = [('uint32_t', '0x1F', '31', '0x1E', 31, 30),
                 ('uint8_t', '0xFF', '255u', '0XfE', 255, 254),
                 ('int', '-0x10', '-16', '-0x11', -16, -17),
                 ('int', '017', '15', '016', 15, 14),
                 ('int', '00', '0', '010', 0, 8),
                 ('int', '0b1010', '10', '0B1011', 10, 11),
                 ('uint32_t', "1'000'000", '1000000ULL', "0xF'4241", 1000000, 1000001),
                 ('long', '5L', '5ll', '6LL', 5, 6),
                 ('uint64_t', '7ULL', '0x7ull', '010LLu', 7, 8),
                 ('unsigned', '3U', '3lu', '0b100Ul', 3, 4),
                 ('float', '1.5f', '15e-1F', '1.25F', 1.5, 1.25),
                 ('double', '.5', '0x1p-1', "2'5.e-2", 0.5, 0.25),
                 ('double', '2.', '2e0', '0x1.8P1', 2.0, 3.0),
                 ('float', '1e3f', "1'000.0f", '1e2f', 1000.0, 100.0),
                 ('char', "'A'", '65', "'B'", 65, 66),
                 ('char', "'\\n'", '10', "'\\t'", 10, 9),
                 ('char', "'\\x1b'", "'\\033'", "'\\0'", 27, 0),
                 ('char', "';'", "u8';'", "L'\\''", 59, 39),
                 ('int', '15', '(15)', '16 - 1', 15, None)]  # a computed value is not compared

        def tree(pick):
            decls = ''.join(f'{t} g_v{i} = {start};\n' for i, (t, start, *_) in enumerate(forms))
            sets = ''.join(f'    g_v{i} = {pick(f)};\n' for i, f in enumerate(forms))
            use = ' + '.join(f'int(g_v{i})' for i in range(len(forms)))
            return {'extras/a.cpp': '#include <cstddef>\n#include <cstdint>\n' + decls +
                    f'int Use() {{ return {use}; }}\nvoid Extras_RunStateReset() {{\n{sets}}}\n'}

        self.assertEqual(self.failing(tree(lambda f: f[2])), [])
        code, out = self.check(tree(lambda f: f[3]))
        self.assertNotIn('Traceback', out)
        for i, (_, _, _, _, start, other) in enumerate(forms):
            told = f'extras/a.cpp:{i + 3}: g_v{i} starts as {start!r}, but Extras_RunStateReset sets it to {other!r}'
            if other is None:
                self.assertNotIn(f'g_v{i} starts', out)
            else:
                self.assertIn(told, out)
        self.assertEqual(code, 1)

    def test_reads_are_no_writes(self):
        # Each variable is only read by the reset; each is named.
        text = ('#include <cstring>\n'
                'int g_and;\nint g_equal;\nint g_ref;\nint g_list[4];\nint g_copied;\nint g_seen;\n'
                'int Show(const int& v) { return v; }\nint Look(int const& v, const int* p) { return v + *p; }\n'
                'int Use() { return g_and + g_equal + g_ref + g_list[0] + g_copied + g_seen; }\n'
                'void Extras_RunStateReset() {\n'
                '    bool on = Use() > 0;\n'
                '    if (on && g_and) {}\n'
                '    if (g_equal == 0 || 0 == g_equal || g_equal <= 1 || g_equal != 2) {}\n'
                '    Show(g_ref);\n    Look(g_ref, &g_seen);\n'
                '    int total = 0;\n'
                '    for (const int& x : g_list) {\n        const int* at = &x;\n        total += *at;\n    }\n'
                '    std::memcpy(&total, &g_copied, sizeof g_copied);\n'
                '}\n')
        self.assertEqual(self.failing({'extras/a.cpp': text}),
                         ['extras/a.cpp:2 g_and', 'extras/a.cpp:3 g_equal', 'extras/a.cpp:4 g_ref',
                          'extras/a.cpp:5 g_list', 'extras/a.cpp:6 g_copied', 'extras/a.cpp:7 g_seen'])
        # The writes beside them count: through a reference, a range-for and
        # a copy into the variable.
        text = text.replace('int Show(const int& v) { return v; }', 'int Show(int& v) { return v = 0; }')
        text = text.replace('for (const int& x : g_list) {', 'for (int& x : g_list) {\n        x = 0;')
        text = text.replace('std::memcpy(&total, &g_copied', 'std::memcpy(&g_copied, &total')
        self.assertEqual(self.failing({'extras/a.cpp': text}),
                         ['extras/a.cpp:2 g_and', 'extras/a.cpp:3 g_equal', 'extras/a.cpp:7 g_seen'])
        # A library call sets what it writes (through std::begin or .data()
        # too) and reads the rest; a T* const parameter writes.
        calls = {'int g_copy[4]': ('std::copy(spare, spare + 4, g_copy)', 'std::copy(g_copy, g_copy + 4, spare)'),
                 'int g_copy_n[4]': ('std::copy_n(spare, 4, std::begin(g_copy_n))', 'std::copy_n(g_copy_n, 4, spare)'),
                 'int g_fill[4]': ('std::fill(std::begin(g_fill), g_fill + 4, 0)', 'std::fill_n(spare, 4, *g_fill)'),
                 'std::array<int, 4> g_data': ('std::fill_n(g_data.data(), 4, 0)', 'spare[0] = *g_data.data()'),
                 'int g_exchange': ('std::exchange(g_exchange, 0)', 'std::exchange(spare[0], g_exchange)'),
                 'int g_traded': ('std::exchange(g_traded, 0)', 'std::exchange(g_traded, 5)'),  # it starts as 0
                 'int g_swap[4]': ('std::swap(g_swap, spare)', 'std::memcmp(&g_swap, &spare, 4)'),
                 'int g_swap_back[4]': ('std::swap(spare, g_swap_back)', 'std::memcmp(spare, g_swap_back, 4)'),
                 'char g_text[4]': ('std::fill_n(g_text, 4, 0)',
                                    'std::strncmp(&g_text[0], "a", 1) + (std::strchr(&g_text[1], 0) != nullptr)'),
                 'char g_name[4]': ('Clear(&g_name[0])', 'std::strcmp(&g_name[0], "a") + std::strlen(&g_name[1])'),
                 'char g_byte': ('Clear(&g_byte)', 'std::memchr(&g_byte, 0, 1) != nullptr')}
        for pick in (0, 1):
            text = ('#include <algorithm>\n#include <array>\n#include <cstring>\n#include <utility>\n' +
                    ''.join(f'{d};\n' for d in calls) + 'void Clear(char* const p) { *p = 0; }\n'
                    'void Extras_RunStateReset() {\n    int spare[4] = {};\n' +
                    ''.join(f'    (void)({c[pick]});\n' for c in calls.values()) + '}\n')
            self.assertEqual([f.split()[1] for f in self.failing({'extras/a.cpp': text})],
                             [d.split()[-1].split('[')[0] for d in calls] if pick else [])

    def test_a_name_is_the_variable_only_where_its_file_is_seen(self):
        # An upper layer's reset sets a lower layer's variable through the
        # header that declares it, in a function of its own layer.
        engine = {'engine/volume.h': 'extern float Volume;\n', 'engine/volume.cpp': 'float Volume = 1.0f;\n'}
        story = {'story/reset.cpp': '#include "engine/volume.h"\nvoid Put() { Volume = 1.0f; }\n'
                                    'void GSL_StoryRunStateReset() { Put(); }\n'}
        self.assertEqual(self.failing({**engine, **story}), [])
        unseen = {'story/reset.cpp': 'namespace s { float Volume = 1.0f; }\nusing namespace s;\n'
                                     'void GSL_StoryRunStateReset() { Volume = 1.0f; }\n'}
        self.assertEqual(self.failing({**engine, **unseen}), ['engine/volume.cpp:1 Volume'])
        # Private names shared by two files, and private helpers of one name:
        # each file's reset reaches only its own.
        a = ('namespace {\nint g_request;\nint g_clock;\nvoid Clear() { g_clock = 0; }\n}\n'
             'int UseA() { return g_request + g_clock; }\n'
             'void Extras_RunStateReset() { g_request = 0; Clear(); }\n')
        b = ('namespace {\nint g_request;\nint g_clock;\nvoid Clear() { g_request = 0; }\n}\n'
             'int UseB() { Clear(); return g_request + g_clock; }\n')
        self.assertEqual(self.failing({'extras/a.cpp': a, 'extras/b.cpp': b}),
                         ['extras/b.cpp:2 g_request', 'extras/b.cpp:3 g_clock'])
        # A loop variable or a parameter of the variable's name is not it.
        c = ('#include <cstdint>\nint* work;\nint32_t entry = -1;\nint Table[4];\n'
             'void Clear(int32_t entry) { entry = -1; }\n'
             'void Extras_RunStateReset() {\n    for (int& work : Table) work = 0;\n    Clear(-1);\n}\n'
             'int Use() { return *work + entry; }\n')
        self.assertEqual(self.failing({'extras/c.cpp': c}), ['extras/c.cpp:2 work', 'extras/c.cpp:3 entry'])

    def test_a_mark_covers_the_variables_it_names_or_stands_above(self):
        text = ('#include <mutex>\n'
                '// The device.\n// process-wide (g_lock, g_device): opened by its start\nstd::mutex g_lock;\n'
                'int g_device;\nint g_rate;\n\n'
                '// process-wide: set by the start\nint g_first;\nint g_second;\n'
                'int g_third;  // process-wide: a count read as differences\n'
                'int Use() { return g_device + g_rate + g_first + g_second + ++g_third; }\n'
                'void Extras_RunStateReset() {}\n')
        self.assertEqual(self.failing({'extras/a.cpp': text}), ['extras/a.cpp:6 g_rate', 'extras/a.cpp:10 g_second'])
        # A mark that names what is not declared under it.
        code, out = self.check({'extras/a.cpp': text.replace('(g_lock, g_device)', '(g_lock, g_device,\n//  g_gone)')})
        self.assertIn('extras/a.cpp:3: the mark names g_gone, which is no run-wide variable declared under it', out)
        # A mark in a header is not read: the variable is named where its
        # object file's source defines it (an inline one with no line), and
        # a mark there that names variables names none.
        header = {'extras/a.h': '#pragma once\n// process-wide: a count\nextern int g_count;\n'
                                '// process-wide (g_named): a count\nextern int g_named;\n'
                                '// process-wide: a count\ninline int g_inline = 0;\n',
                  'extras/a.cpp': '#include "extras/a.h"\nint g_count;\nint g_named;\n'
                                  'int Use() { return ++g_count + ++g_named + ++g_inline; }\n'
                                  'void Extras_RunStateReset() {}\n'}
        code, out = self.check(header)
        self.assertEqual(code, 1)
        self.assertIn('extras/a.cpp:2: g_count is neither', out)
        self.assertIn('extras/a.cpp:3: g_named is neither', out)
        self.assertIn('extras/a.cpp: g_inline is neither', out)
        self.assertIn('extras/a.h:4: the mark names g_named, which is no run-wide variable declared under it', out)


@contextlib.contextmanager
def mock_argv(args):
    saved = sys.argv
    sys.argv = [saved[0]] + args
    try:
        yield
    finally:
        sys.argv = saved


if __name__ == "__main__":
    if sys.argv[1:] == ["--write-condition-cases"]:
        write_condition_cases()
        sys.exit(0)
    if sys.argv[1:2] == ["--write-loop-table"] and len(sys.argv) == 4:  # more generated loops, for VN_LOOP_TABLE
        with open(sys.argv[2], "w", encoding="ascii", newline="\n") as f:
            f.write("\n".join(differential_cases(seed=90, count=int(sys.argv[3]))[len(HAND_LOOPS):]) + "\n")
        sys.exit(0)
    if sys.argv[1:] == ["--benchmark"]:  # the check of a story of 100 and 1,000 files, after one of 10 (its tables)
        figures = {n: story_check_cost(n) for n in (10, 100, 1000)}
        for n, (problems, cost, seconds) in list(figures.items())[1:]:
            print("%5d files: %6.2f s, %d places followed, %d lookups, %d problems" % (
                n, seconds, cost["places"], cost["lookups"], len(problems)))
        print("1,000 files cost %.1f times 100 files" % (figures[1000][2] / figures[100][2]))
        sys.exit(0)
    unittest.main()
