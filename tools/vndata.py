"""Writers for the engine's data files: gzip files, .pcarc archives, .arc
containers and .mul message tables.

Standard library only. These writers know the formats from their layout
alone and share no code with the engine's readers, so that a misread field
shows up as a failing test instead of being mirrored on both sides.
Everything is little-endian.

Each writer can also produce damaged files for the readers' tests: pass
`broken` as one variant name or a list of them (see GZ_BROKEN, PCARC_BROKEN,
ARC_BROKEN, MUL_BROKEN). Variants that damage an entry pick the first entry
of the first table (or the first member / first non-empty text) that has one.

Names: str names are encoded as Shift-JIS (Python's cp932 codec, which is
good enough for test and sample data; keep names ASCII where the engine's
own code-page tables and cp932 could disagree). bytes are taken as they are.
"""

import os
import re
import struct
import zlib

# ---------------------------------------------------------------- helpers


class DataError(ValueError):
    """Input that cannot be written in the requested format."""


def shown_path(path):
    """A path as the tools print it: as given when relative, else relative
    to the current folder."""
    if not os.path.isabs(path):
        return os.path.normpath(path)
    try:
        return os.path.relpath(path)
    except ValueError:  # another drive
        return path


def one_line(text):
    """text with every character that would end or break a line of the
    terminal (controls, and the separators str.splitlines() knows) written
    as \\xHH or \\uHHHH."""
    return re.sub("[\x00-\x1f\x7f\x85\u2028\u2029]",
                  lambda m: "\\x%02X" % ord(m.group(0)) if ord(m.group(0)) < 256 else "\\u%04X" % ord(m.group(0)),
                  text)


def located(level, text, place):
    """The one form of the tools' messages, 'path:line:col: level: text': a
    text that begins with a place of its own ('path:line: ...', 'path
    shape 2: ...') is shown at it, any other at place."""
    head, sep, rest = text.partition(": ")
    token, _, qualifier = head.partition(" ")
    m = re.fullmatch(r"(.*?)((?::[0-9]+){0,2})", token)
    if sep and m.group(1) and (re.search(r"[./\\]", m.group(1)) or os.path.exists(m.group(1))):
        place, text = shown_path(m.group(1)) + m.group(2), (qualifier + ": " if qualifier else "") + rest
    else:
        place = shown_path(place)
    return one_line("%s: %s: %s" % (place, level, text))


def json_source(text, where, what=None, error=DataError):
    """The value of a JSON source text (with `what`, "a picture" say, an
    object that describes it); a fault is raised as `error`, a syntax fault
    named with its line and column."""
    import json

    def no_number(name):
        # NaN, Infinity and -Infinity: JSON has no such numbers.
        at = re.search(r'(?<![\w"])%s' % re.escape(name), text)
        at = at.start() if at else 0
        raise error("%s:%d:%d: %s is no number: write a number" % (
            where, text.count("\n", 0, at) + 1, at - text.rfind("\n", 0, at), name))
    try:
        value = json.loads(text, parse_constant=no_number)
    except json.JSONDecodeError as e:
        raise error("%s:%d:%d: %s" % (where, e.lineno, e.colno, e.msg)) from None
    if what and not isinstance(value, dict):
        raise error("%s: %s is described by a JSON object" % (where, what))
    return value


def decode_utf8(raw, where):
    """The text of a UTF-8 source; a byte that is not UTF-8 is named with its
    line and column."""
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError as e:
        line = raw.count(b"\n", 0, e.start) + 1
        col = len(raw[raw.rfind(b"\n", 0, e.start) + 1:e.start].decode("utf-8", "replace")) + 1
        raise DataError("%s:%d:%d: not UTF-8 (byte 0x%02X): save the file as UTF-8" % (
            where, line, col, raw[e.start])) from None


def read_json(path):
    """The value of the JSON file at path (UTF-8), faults named as by
    json_source."""
    with open(path, "rb") as f:
        return json_source(decode_utf8(f.read(), path), path)


def read_archives(game_dir):
    """The archives of a game's archives.json, checked: {"archives": [{"file":
    name, "tree": folder of game_dir, "version": four digits, "compressed":
    [folder, ...]}, ...], "mul_encoding": "utf8" | "sjis"}."""
    path = os.path.join(game_dir, "archives.json")
    config = read_json(path)
    if not isinstance(config, dict) or not isinstance(config.get("archives"), list) or not config["archives"]:
        raise DataError("%s: an object whose \"archives\" lists the archives is wanted" % path)
    if config.get("mul_encoding", "utf8") not in ("utf8", "sjis"):
        raise DataError("%s: \"mul_encoding\" is utf8 or sjis, not %r" % (path, config["mul_encoding"]))
    for n, archive in enumerate(config["archives"], 1):
        what = "%s: archive %d" % (path, n)
        if not isinstance(archive, dict):
            raise DataError("%s is no object of \"file\", \"tree\", \"version\" and \"compressed\"" % what)
        for key in ("file", "tree"):
            if not isinstance(archive.get(key), str) or not archive[key]:
                raise DataError("%s lacks its \"%s\" (a text)" % (what, key))
        try:
            _version_text(archive.get("version"))
        except DataError:
            raise DataError("%s: \"version\" is four digits, not %r" % (what, archive.get("version"))) from None
        if not os.path.isdir(os.path.join(game_dir, archive["tree"])):
            raise DataError("%s: \"tree\" names %s, which is no folder of the game" % (what, archive["tree"]))
        compressed = archive.get("compressed", [])
        if not isinstance(compressed, list) or not all(isinstance(c, str) for c in compressed):
            raise DataError("%s: \"compressed\" is a list of folder names" % what)
    return config


def broken_variants(broken, known):
    if broken is None:
        return set()
    names = {broken} if isinstance(broken, str) else set(broken)
    unknown = names - set(known)
    if unknown:
        raise DataError("unknown broken variant(s): %s (known: %s)"
                        % (", ".join(sorted(unknown)), ", ".join(known)))
    return names


def encode_name(name):
    """A str name as Shift-JIS bytes; bytes stay as they are."""
    if isinstance(name, bytes):
        return name
    try:
        return name.encode("cp932")
    except UnicodeEncodeError as e:
        raise DataError("name %r has no Shift-JIS form" % name) from e


def sjis_lower(name):
    """Lower-case 'A'..'Z' in Shift-JIS bytes, leaving the byte after a lead
    byte (0x81-0x9F, 0xE0-0xFF) alone."""
    out = bytearray(name)
    i = 0
    while i < len(out):
        c = out[i]
        if 0x81 <= c <= 0x9F or c >= 0xE0:
            i += 2
            continue
        if 0x41 <= c <= 0x5A:
            out[i] = c + 0x20
        i += 1
    return bytes(out)


def _field(name, size, what):
    """A NUL-terminated name in a fixed field of `size` bytes."""
    if b"\0" in name:
        raise DataError("%s %r contains a NUL byte" % (what, name))
    if len(name) >= size:
        raise DataError("%s %r is %d bytes; at most %d fit"
                        % (what, name, len(name), size - 1))
    return name.ljust(size, b"\0")


def run_batch(path, run):
    """Runs `run` on each line of the file at `path`, split like a shell
    command line; blank lines and lines starting with '#' are skipped."""
    import shlex
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.strip() and not line.lstrip().startswith("#"):
                run(shlex.split(line))


def write_file(path, data):
    folder = os.path.dirname(path)
    if folder:
        os.makedirs(folder, exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


# ---------------------------------------------------------------- gzip files

GZ_BROKEN = (
    "truncated",  # the first half of the file
    "short",      # the first 17 bytes: one byte under the smallest valid file
    "tiny",       # the first 3 bytes: shorter than the size field itself
    "empty",      # 0 bytes
    "bad-crc",    # the member's CRC-32 altered
    "bad-size",   # the size in the last 4 bytes is one more than the data
)


def gz_member(data):
    """One gzip member as zlib writes it: 10-byte header without a file name,
    deflate level 9, memLevel 8, default strategy, CRC-32 and size."""
    c = zlib.compressobj(9, zlib.DEFLATED, 31, 8, zlib.Z_DEFAULT_STRATEGY)
    return c.compress(data) + c.flush(zlib.Z_FINISH)


def gz_bytes(data, trailer=True, broken=None):
    """A gzip file: one member, then (with `trailer`) a u32 0 and a u32 size,
    as the engine writes its own .gz and .cdf files."""
    bad = broken_variants(broken, GZ_BROKEN)
    member = bytearray(gz_member(data))
    if "bad-crc" in bad:
        member[-8] ^= 0xFF
    out = member + (struct.pack("<II", 0, len(data) & 0xFFFFFFFF) if trailer else b"")
    if "bad-size" in bad:
        struct.pack_into("<I", out, len(out) - 4, (len(data) + 1) & 0xFFFFFFFF)
    if "truncated" in bad:
        out = out[:len(out) // 2]
    if "short" in bad:
        out = out[:17]
    if "tiny" in bad:
        out = out[:3]
    if "empty" in bad:
        out = out[:0]
    return bytes(out)


def write_gz(out_path, data, trailer=True, broken=None):
    write_file(out_path, gz_bytes(data, trailer, broken))


# ---------------------------------------------------------------- .pcarc archives
#
# header (400 bytes): version[4] ASCII digits, T i32, base offset u64,
#   32 table offsets u64, 32 table sizes u32
# table: dir name[64], E i32, compressed u8, 11 zero bytes, E entries
# entry (80 bytes): name[64], offset u64 from the base offset, stored size
#   u32, 4 zero bytes
# This writer puts the tables right after the header and the file data right
# after the tables (the base offset), in table order.

PCARC_HEADER = 400
PCARC_TABLE_HEAD = 80
PCARC_ENTRY = 80
PCARC_MAX_TABLES = 32

PCARC_BROKEN = (
    "truncated-header",  # the file ends after 200 bytes
    "t33",               # T = 33
    "base-past-eof",     # the data's base offset lies past the end of the file
    "table-size-10",     # table 0's size is 10
    "table-past-eof",    # table 0's offset lies past the end of the file
    "e-beyond-table",    # E is one more than the table's size holds
    "dir-no-nul",        # a directory name fills its 64 bytes, no NUL
    "name-no-nul",       # an entry name fills its 64 bytes, no NUL
    "offset-past-eof",   # an entry's data starts past the end of the file
    "size-past-eof",     # an entry's data ends one byte past the end of the file
    "short-gz",          # a compressed entry's stored size is 17
    "bad-crc",           # a compressed entry's gzip CRC-32 is altered
    "huge-size",         # a compressed entry's gzip size field claims 2 GiB
)


class Table:
    """One directory table: `dir` and file names as bytes or str (lower-cased
    when written), `files` a list of (name, data)."""

    def __init__(self, dir, compressed=False, files=()):
        self.dir = dir
        self.compressed = bool(compressed)
        self.files = list(files)


def _version_text(version):
    text = "%04d" % version if isinstance(version, int) else str(version)
    if not re.fullmatch(r"[0-9]{4}", text):
        raise DataError("version must be four decimal digits, not %r" % (version,))
    return text.encode("ascii")


def pcarc_bytes(tables, version="0100", broken=None):
    """The archive holding `tables` (a list of Table) in that order."""
    bad = broken_variants(broken, PCARC_BROKEN)
    if len(tables) > PCARC_MAX_TABLES:
        raise DataError("%d tables; an archive holds at most %d"
                        % (len(tables), PCARC_MAX_TABLES))
    table_blobs, data = [], bytearray()
    places = []  # (table index, entry index, entry field position, stored data)
    for t, table in enumerate(tables):
        dir_name = sjis_lower(encode_name(table.dir))
        blob = bytearray(_field(dir_name, 64, "directory name"))
        blob += struct.pack("<iB11x", len(table.files), int(table.compressed))
        seen = set()
        for e, (name, content) in enumerate(table.files):
            stored_name = sjis_lower(encode_name(name)) + (b".gz" if table.compressed else b"")
            if stored_name in seen:
                raise DataError("%r appears twice in table %r" % (stored_name, dir_name))
            seen.add(stored_name)
            stored = gz_bytes(content) if table.compressed else bytes(content)
            places.append((t, e, len(blob), stored))
            blob += _field(stored_name, 64, "file name")
            blob += struct.pack("<QI4x", len(data), len(stored))
            data += stored
        table_blobs.append(blob)

    offsets, pos = [], PCARC_HEADER
    for blob in table_blobs:
        offsets.append(pos)
        pos += len(blob)
    base = pos
    header = bytearray(PCARC_HEADER)
    struct.pack_into("<4siQ", header, 0, _version_text(version), len(tables), base)
    for j, blob in enumerate(table_blobs):
        struct.pack_into("<Q", header, 16 + 8 * j, offsets[j])
        struct.pack_into("<I", header, 272 + 4 * j, len(blob))
    out = header + b"".join(table_blobs) + data
    size = len(out)

    def entry_at(compressed_only=False):
        for t, e, at, stored in places:
            if not compressed_only or tables[t].compressed:
                return offsets[t] + at, stored
        raise DataError("no %sentry to damage" % ("compressed " if compressed_only else ""))

    if "t33" in bad:
        struct.pack_into("<i", out, 4, 33)
    if "base-past-eof" in bad:
        struct.pack_into("<Q", out, 8, size + 1)
    if bad & {"table-size-10", "table-past-eof", "e-beyond-table", "dir-no-nul"} and not tables:
        raise DataError("no table to damage")
    if "table-size-10" in bad:
        struct.pack_into("<I", out, 272, 10)
    if "table-past-eof" in bad:
        struct.pack_into("<Q", out, 16, size + 16)
    if "e-beyond-table" in bad:
        struct.pack_into("<i", out, offsets[0] + 64, len(tables[0].files) + 1)
    if "dir-no-nul" in bad:
        out[offsets[0]:offsets[0] + 64] = b"d" * 64
    if "name-no-nul" in bad:
        at, _ = entry_at()
        out[at:at + 64] = b"n" * 64
    if "offset-past-eof" in bad:
        at, _ = entry_at()
        struct.pack_into("<Q", out, at + 64, size - base + 1)
    if "size-past-eof" in bad:
        at, _ = entry_at()
        offset = struct.unpack_from("<Q", out, at + 64)[0]
        struct.pack_into("<I", out, at + 72, size - base - offset + 1)
    if "short-gz" in bad:
        at, _ = entry_at(compressed_only=True)
        struct.pack_into("<I", out, at + 72, 17)
    if "bad-crc" in bad:
        at, stored = entry_at(compressed_only=True)
        crc_at = base + struct.unpack_from("<Q", out, at + 64)[0] + len(stored) - 16
        out[crc_at] ^= 0xFF
    if "huge-size" in bad:
        at, stored = entry_at(compressed_only=True)
        size_at = base + struct.unpack_from("<Q", out, at + 64)[0] + len(stored) - 4
        struct.pack_into("<I", out, size_at, 0x80000000)
    if "truncated-header" in bad:
        out = out[:200]
    return bytes(out)


def _table_key(rel):
    """'visual/system#2' -> ('visual/system', 2): a '#N' suffix on a folder
    makes an extra table with the same directory name."""
    m = re.fullmatch(r"(.*)#([0-9]+)", rel)
    return (m.group(1), int(m.group(2))) if m else (rel, 0)


def tables_from_files(files, compressed_dirs=()):
    """Tables from {archive path: data}; a path's directory part names its
    table. A folder named 'x#N' becomes a further table named 'x', written
    after the table 'x' (for archives with a repeated directory name).
    A bytes path is an ASCII folder and a file name in Shift-JIS bytes."""
    compressed = {d.strip("/").lower() for d in compressed_dirs}
    groups = {}
    for path, content in files.items():
        if isinstance(path, bytes):
            folder, sep, name = path.rpartition(b"/")
            folder = folder.decode("ascii")
        else:
            path = path.replace("\\", "/")
            folder, sep, name = path.rpartition("/")
        if not sep or not folder:
            raise DataError("%r has no directory part" % path)
        groups.setdefault(folder, []).append((name, content))
    tables, seen = [], set()
    for folder in sorted(groups, key=_table_key):
        key = (sjis_lower(encode_name(_table_key(folder)[0])), _table_key(folder)[1])
        if key in seen:
            raise DataError("folders %r differ only in case" % folder)
        seen.add(key)
        dir_name = _table_key(folder)[0]
        packed = folder.lower() in compressed or dir_name.lower() in compressed
        tables.append(Table(dir_name, packed, sorted(groups[folder],
                                                     key=lambda f: encode_name(f[0]))))
    return tables


def read_tree(root):
    """{archive path: data} for every file below `root`."""
    files = {}
    for folder, _, names in os.walk(root):
        for name in names:
            full = os.path.join(folder, name)
            rel = os.path.relpath(full, root).replace(os.sep, "/")
            with open(full, "rb") as f:
                files[rel] = f.read()
    return files


def write_pcarc(out_path, root_dir, compressed_dirs=(), version="0100", broken=None):
    """Packs the files below `root_dir`, one table per folder; the folders
    named in `compressed_dirs` (paths relative to root_dir) store gzip files."""
    tables = tables_from_files(read_tree(root_dir), compressed_dirs)
    write_file(out_path, pcarc_bytes(tables, version, broken))


# ---------------------------------------------------------------- .arc containers
#
# u32 0 (not read by the engine), u32 N, N entries of 72 bytes
# (name[64], size u32, offset u32 from the container start), then the data,
# each member starting on a 16-byte boundary.

ARC_ENTRY = 72
ARC_ALIGN = 16

ARC_BROKEN = (
    "n-too-large",      # N is one entry more than the file can hold
    "n-huge",           # N = 0xFFFFFFFF (N * 72 overflows 32 bits)
    "offset-past-end",  # member 0 starts one byte past the end
    "size-past-end",    # member 0 ends one byte past the end
    "offset-wrap",      # member 0 at 0xFFFFFFF0 with size 0x20 (wraps in 32 bits)
    "long-name",        # member 0's name fills its 64 bytes, no NUL
)


def arc_bytes(members, broken=None):
    """The container of `members`, a list of (name, data), in that order.
    Names keep their case."""
    bad = broken_variants(broken, ARC_BROKEN)
    head = 8 + ARC_ENTRY * len(members)
    out = bytearray(struct.pack("<II", 0, len(members)))
    pos = head
    for name, content in members:
        pos = (pos + ARC_ALIGN - 1) // ARC_ALIGN * ARC_ALIGN
        out += _field(encode_name(name), 64, "member name")
        out += struct.pack("<II", len(content), pos)
        pos += len(content)
    for _, content in members:
        out += b"\0" * (-len(out) % ARC_ALIGN) + content
    size = len(out)
    if bad - {"n-too-large", "n-huge"} and not members:
        raise DataError("no member to damage")
    if "n-too-large" in bad:
        struct.pack_into("<I", out, 4, (size - 8) // ARC_ENTRY + 1)
    if "n-huge" in bad:
        struct.pack_into("<I", out, 4, 0xFFFFFFFF)
    if "offset-past-end" in bad:
        struct.pack_into("<I", out, 8 + 68, size + 1)
    if "size-past-end" in bad:
        offset = struct.unpack_from("<I", out, 8 + 68)[0]
        struct.pack_into("<I", out, 8 + 64, size - offset + 1)
    if "offset-wrap" in bad:
        struct.pack_into("<II", out, 8 + 64, 0x20, 0xFFFFFFF0)
    if "long-name" in bad:
        out[8:8 + 64] = b"m" * 64
    return bytes(out)


def write_arc(out_path, sources, broken=None):
    """Packs files into a container. `sources`: a folder (its files, sorted
    by name, not recursive) or a list of file paths (in that order); each
    member is named after its file."""
    if isinstance(sources, (str, os.PathLike)):
        folder = sources
        sources = [os.path.join(folder, n) for n in sorted(os.listdir(folder))
                   if os.path.isfile(os.path.join(folder, n))]
    members = []
    for path in sources:
        with open(path, "rb") as f:
            members.append((os.path.basename(path), f.read()))
    write_file(out_path, arc_bytes(members, broken))


# ---------------------------------------------------------------- .mul message tables
#
# L u8, 3 zero bytes, N u32, 10 section counts u32, N entries {offset u32,
# length u32}, then the strings (not terminated). Entry of (section s,
# index i, language g) = L * (counts of sections before s) + L * i + g;
# offsets count from the start of the strings; length 0 = no text.
#
# Source format (UTF-8 text), for example:
#
#   # comment lines start with '#'
#   languages = ja en zh-hans zh-hant     (names, in language order; or a count: languages = 4)
#
#   [section 2]
#   count = 31                           (optional; default: highest index + 1)
#   29.ja = ゲームを終了しますか？
#   29.en = Do you want to quit the game?
#   30.1 = Quit                          (a language may also be given by number)
#
# Sections are 0 to 9; a section not mentioned has no messages. A text is
# everything after the first '=', with spaces and tabs around it removed
# (other white space such as U+3000 is kept). Escapes: \n newline, \t tab,
# \s space, \\ backslash, \xHH one raw byte written as it is (not encoded).
# A text left out or written empty is a missing text (length 0).

MUL_SECTIONS = 10
MUL_HEAD = 48

MUL_BROKEN = (
    "truncated",        # the file ends after 20 bytes, inside the section counts
    "n-too-large",      # the entry table runs one entry past the end of the file
    "n-huge",           # N = 0x20000000 (8 * N overflows 32 bits)
    "counts-exceed-n",  # section 9's count is one more than the entries written
    "offset-past-end",  # the first text starts past the end of the strings
    "length-past-end",  # the first text ends one byte past the end of the strings
)

_ESCAPES = {"n": "\n", "t": "\t", "s": " ", "\\": "\\"}


def _codec(encoding):
    key = encoding.lower().replace("-", "").replace("_", "")
    if key in ("sjis", "shiftjis", "cp932"):
        return "cp932"
    if key == "utf8":
        return "utf-8"
    raise DataError("encoding must be sjis or utf8, not %r" % encoding)


def _text(value, codec, where):
    out, plain, i = bytearray(), [], 0

    def flush():
        try:
            out.extend("".join(plain).encode(codec))
        except UnicodeEncodeError as e:
            raise DataError("%s: %r has no %s form" % (where, e.object[e.start:e.end], codec)) from e
        plain.clear()

    while i < len(value):
        c = value[i]
        if c != "\\":
            plain.append(c)
            i += 1
            continue
        nxt = value[i + 1:i + 2]
        if nxt == "x" and re.fullmatch(r"[0-9a-fA-F]{2}", value[i + 2:i + 4]):
            flush()
            out.append(int(value[i + 2:i + 4], 16))
            i += 4
        elif nxt in _ESCAPES:
            plain.append(_ESCAPES[nxt])
            i += 2
        else:
            raise DataError("%s: unknown escape \\%s" % (where, nxt))
    flush()
    return bytes(out)


def parse_mul_source(text, encoding="utf8", source="<source>"):
    """(L, counts, texts) from the source format above; texts maps
    (section, index, language) to encoded bytes."""
    codec = _codec(encoding)
    langs, counts, texts, section = None, [None] * MUL_SECTIONS, {}, None
    for lineno, raw in enumerate(text.splitlines(), 1):
        where = "%s:%d" % (source, lineno)
        line = raw.strip(" \t\r\ufeff")
        if not line or line.startswith("#"):
            continue
        if line.startswith("["):
            m = re.fullmatch(r"\[\s*section\s+([0-9]+)\s*\]", line, re.I)
            if not m or int(m.group(1)) >= MUL_SECTIONS:
                raise DataError("%s: expected [section 0] to [section 9]" % where)
            section = int(m.group(1))
            continue
        key, sep, value = line.partition("=")
        key, value = key.strip(" \t"), value.strip(" \t")
        if not sep:
            raise DataError("%s: expected 'key = text'" % where)
        if key == "languages":
            if langs is not None or section is not None:
                raise DataError("%s: 'languages' must come once, before the sections" % where)
            names = value.split()
            counted = len(names) == 1 and re.fullmatch("[0-9]+", names[0])
            langs = [str(g) for g in range(int(names[0]))] if counted and int(names[0]) <= 255 else \
                [] if counted else names
            if not 1 <= len(langs) <= 255 or len(set(langs)) != len(langs):
                raise DataError("%s: 1 to 255 distinct languages needed" % where)
            continue
        if section is None:
            raise DataError("%s: %r before the first [section N]" % (where, key))
        if key == "count":
            if not re.fullmatch("[0-9]+", value):
                raise DataError("%s: count must be a number" % where)
            counts[section] = int(value)
            continue
        m = re.fullmatch(r"([0-9]+)\.(\S+)", key)
        if not m:
            raise DataError("%s: expected 'index.language = text', got %r" % (where, key))
        if langs is None:
            raise DataError("%s: 'languages = ...' must come first" % where)
        lang = m.group(2)
        g = langs.index(lang) if lang in langs else int(lang) if re.fullmatch("[0-9]+", lang) else -1
        if not 0 <= g < len(langs):
            raise DataError("%s: unknown language %r" % (where, lang))
        k = (section, int(m.group(1)), g)
        if k in texts:
            raise DataError("%s: text %d.%s of section %d given twice" % (where, k[1], lang, section))
        texts[k] = _text(value, codec, where)
    if langs is None:
        raise DataError("%s: no 'languages = ...' line" % source)
    for s in range(MUL_SECTIONS):
        top = max([i + 1 for (ks, i, _) in texts if ks == s], default=0)
        if counts[s] is None:
            counts[s] = top
        elif counts[s] < top:
            raise DataError("%s: section %d has count %d but index %d" % (source, s, counts[s], top - 1))
    return len(langs), counts, texts


def mul_bytes(languages, counts, texts, broken=None):
    """The table for L = `languages`, ten section `counts` and `texts`
    {(section, index, language): bytes}."""
    bad = broken_variants(broken, MUL_BROKEN)
    if not 1 <= languages <= 255 or len(counts) != MUL_SECTIONS:
        raise DataError("1 to 255 languages and 10 section counts needed")
    n = languages * sum(counts)
    entries, strings = bytearray(), bytearray()
    first = None
    for s in range(MUL_SECTIONS):
        for i in range(counts[s]):
            for g in range(languages):
                t = texts.get((s, i, g), b"")
                if t and first is None:
                    first = len(entries)
                entries += struct.pack("<II", len(strings) if t else 0, len(t))
                strings += t
    extra = set(texts) - {(s, i, g) for s in range(MUL_SECTIONS)
                          for i in range(counts[s]) for g in range(languages)}
    if extra:
        raise DataError("texts outside the sections: %s" % sorted(extra)[:5])
    head = bytearray(struct.pack("<B3xI", languages, n) + struct.pack("<10I", *counts))
    out = head + entries + strings
    if bad & {"offset-past-end", "length-past-end"} and first is None:
        raise DataError("no text to damage")
    if "n-too-large" in bad:
        struct.pack_into("<I", out, 4, (len(out) - MUL_HEAD) // 8 + 1)
    if "n-huge" in bad:
        struct.pack_into("<I", out, 4, 0x20000000)
    if "counts-exceed-n" in bad:
        struct.pack_into("<I", out, 8 + 4 * 9, counts[9] + 1)
    if "offset-past-end" in bad:
        struct.pack_into("<I", out, MUL_HEAD + first, len(strings) + 1)
    if "length-past-end" in bad:
        offset = struct.unpack_from("<I", out, MUL_HEAD + first)[0]
        struct.pack_into("<I", out, MUL_HEAD + first + 4, len(strings) - offset + 1)
    if "truncated" in bad:
        out = out[:20]
    return bytes(out)


def mul_from_source(text, encoding="utf8", source="<source>", broken=None):
    return mul_bytes(*parse_mul_source(text, encoding, source), broken=broken)


def write_mul(out_path, src_path, encoding="utf8", compress=False, broken=None):
    """Writes the table for the source file `src_path` with its texts in
    `encoding` ("sjis" or "utf8"); `compress` writes it as a gzip file with
    the engine's size trailer."""
    with open(src_path, encoding="utf-8") as f:
        data = mul_from_source(f.read(), encoding, src_path, broken)
    write_file(out_path, gz_bytes(data) if compress else data)
