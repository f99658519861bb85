#!/usr/bin/env python3
"""Builds the sample game's data archives from the sources in sample/.

  build_sample.py OUT [--sample DIR] [--sound-seconds S]

writes OUT/data/data_00.pcarc (base) and OUT/data/data_p00.pcarc (patch),
so that the engine started with OUT as its working directory finds them.
DIR defaults to the repository's sample/ folder. With --sound-seconds every
sound is cut to at most S seconds (the fuzz targets' copy of the game).

DIR/archives.json lists the archives: for each its file name, the source
tree (a folder of DIR), the version (four digits) and the folders whose
files are stored gzip-compressed; "mul_encoding" (utf8 or sjis) is the
encoding of the message tables' texts.

Source names map to archive names like this:
  - "<name>.mul.txt" is a message-table source (format: see vndata.py) and
    is built into "<name>.mul";
  - "<name>.synth" describes a sound (format: see sound_data.py) and is
    synthesised into "<name>" (a .wav, .ogg, .oggl or .arc of sounds);
  - "<name>.pict" describes a picture (format: see image_data.py) and is
    drawn into "<name>" (an .ext, .png or .tga);
  - "<name>.sysfont" names a font file of Debian's font packages and
    "<name>.addglyph" describes an add-glyph picture (formats: see
    font_data.py); both are built into "<name>";
  - "<name>.movie" describes a movie (format: see movie_data.py), made with
    the ffmpeg tool into "<name>" (an .avi);
  - a folder "<name>.arc" becomes the container "<name>.arc" of its files
    (built as above, sorted by name; the container keeps their names),
    except "script.arc": its UTF-8 scenario sources become Shift-JIS members
    with CR LF line ends plus the label index 00_info.bin (script_data.py);
  - every other file is stored as it is, under its own path;
  - DIR/extras.json, when present, adds the extras screens' data
    (extras_data.py) to the archive it names;
  - folder and file names are lower-cased in the archive.
Beside each archive, "<archive>.map" lists what went in, one line per file:
archive path, a tab, the source path relative to DIR.

Before building, the scenarios of every script.arc folder are checked as
`pack.py script --check` checks them (script_check.py): each problem is
printed as "path:line:col: level: message", and an error stops the build.

The build is incremental. Every built file is kept in OUT/.build-cache under
the digest of its source and of the tools' own code; "<archive>.digest"
beside each archive holds the digest of everything the archive is built
from, followed by the cache entries it used. An archive whose digest is
unchanged is not written again; a changed one takes every unchanged file
from the cache. --full builds everything anew.
"""

import argparse
import collections
import hashlib
import json
import os
import shutil
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import image_data  # noqa: E402
import sound_data  # noqa: E402
import font_data  # noqa: E402
import movie_data  # noqa: E402
import extras_data  # noqa: E402
import script_check  # noqa: E402
import script_data  # noqa: E402
import vndata  # noqa: E402

MUL_SOURCE = ".mul.txt"
SYNTH_SOURCE = ".synth"
PICT_SOURCE = ".pict"
MOVIE_SOURCE = ".movie"
SCRIPT_ARC = "script.arc"  # scenario sources: converted and indexed by script_data


def _digest(*parts):
    h = hashlib.sha256()
    for part in parts:
        part = part if isinstance(part, bytes) else str(part).encode("utf-8")
        h.update(b"%d:" % len(part))
        h.update(part)
    return h.hexdigest()


def tools_digest():
    """The digest of the tools' own sources: a change to a writer rebuilds."""
    here = os.path.dirname(os.path.abspath(__file__))
    parts = []
    for name in sorted(os.listdir(here)):
        if name.endswith(".py"):
            with open(os.path.join(here, name), "rb") as f:
                parts += [name, f.read()]
    return _digest(*parts)


class BuildCache:
    """Built files kept by the digest of what they were built from. prune()
    removes the entries that this build did not use."""

    def __init__(self, folder, salt):
        self.folder, self.salt, self.used = folder, salt, set()

    def key(self, *parts):
        return _digest(self.salt, *parts)

    def has(self, key):
        return os.path.exists(os.path.join(self.folder, key))

    def get(self, key, build):
        self.used.add(key)
        path = os.path.join(self.folder, key)
        if os.path.exists(path):
            with open(path, "rb") as f:
                return f.read()
        data = build()
        vndata.write_file(path + ".tmp", data)
        os.replace(path + ".tmp", path)
        return data

    def prune(self):
        if os.path.isdir(self.folder):
            for name in os.listdir(self.folder):
                if name not in self.used:
                    os.remove(os.path.join(self.folder, name))


def build_file(rel, data, source, mul_encoding):
    """The bytes the source file rel of a tree builds into (its archive name
    is script_check.built_name(rel))."""
    low = rel.lower()
    if low.endswith(MUL_SOURCE):
        return vndata.mul_from_source(vndata.decode_utf8(data, source), mul_encoding, source)
    writers = ((SYNTH_SOURCE, sound_data.synth_from_source), (PICT_SOURCE, image_data.picture_from_source),
               (MOVIE_SOURCE, movie_data.movie_from_source),
               (font_data.SYSFONT_SOURCE, font_data.sysfont_from_source),
               (font_data.ADDGLYPH_SOURCE, font_data.addglyph_from_source))
    for ending, writer in writers:
        if low.endswith(ending):
            try:
                return writer(vndata.decode_utf8(data, source), source)
            except (sound_data.SoundError, font_data.FontDataError, movie_data.MovieError, KeyError, TypeError,
                    ValueError, AttributeError, IndexError, ZeroDivisionError, OverflowError, struct.error) as e:
                # A fault found deep in a writer, which does not know the file.
                if str(e).startswith(source):
                    raise
                raise vndata.DataError("%s: %s" % (source, e)) from None
    return data


def _extras_files(extras, cache, tree, source):
    """The extras screens' files (source: the extras' source file), from the
    cache when all of them are there (the thumbnails are made from the
    story's picture sources too)."""
    desc = json.dumps(extras, sort_keys=True) + ("" if sound_data.MAX_SECONDS is None else
                                                 " %r" % sound_data.MAX_SECONDS)
    desc += json.dumps(extras_data.story_pictures(tree), sort_keys=True)
    keys = {path: cache.key("extras", desc, path) for path in extras_data.paths_from_source(extras)}
    if not all(cache.has(k) for k in keys.values()):
        built = extras_data.files_from_source(extras, tree, source)
        return {path: cache.get(keys[path], lambda p=path: built[p]) for path in keys}
    return {path: cache.get(k, None) for path, k in keys.items()}


def build_archive(sample_dir, archive, mul_encoding, out_dir, extras=None, cache=None, say=lambda line: None):
    """Builds one archive into out_dir/data; returns (path, file count,
    whether it was written). say(line) is told each stage as it begins: each
    top folder of the tree, the extras, the writing."""
    tree = os.path.join(sample_dir, archive["tree"])
    cache = cache or BuildCache(os.path.join(out_dir, ".build-cache"), tools_digest())
    extras = extras if extras and extras.get("archive") == archive["file"] else None
    tree_files = sorted(vndata.read_tree(tree).items())
    key = cache.key(json.dumps(archive, sort_keys=True), mul_encoding, json.dumps(extras, sort_keys=True),
                    sound_data.MAX_SECONDS, *[part for rel, data in tree_files for part in (rel, data)])
    out_path = os.path.join(out_dir, "data", archive["file"])
    try:
        with open(out_path + ".digest", encoding="ascii") as f:
            recorded = f.read().split()
        if recorded[:1] == [key] and os.path.exists(out_path) and all(cache.has(k) for k in recorded[1:]):
            cache.used.update(recorded[1:])
            return out_path, None, False
    except OSError:
        pass
    used_before = set(cache.used)
    files, sources, containers, scripts = {}, {}, {}, {}
    stages = collections.Counter(rel.partition("/")[0] for rel, _ in tree_files)
    for rel, data in tree_files:
        count = stages.pop(rel.partition("/")[0], 0)
        if count:
            say("%s: %s/ (%d source%s)" % (archive["file"], rel.partition("/")[0], count, "" if count == 1 else "s"))
        arc_dir, _, member = rel.rpartition("/")
        if arc_dir.lower().rpartition("/")[2] == SCRIPT_ARC:
            scripts.setdefault(arc_dir, []).append((rel, data))
            sources.setdefault(arc_dir.lower(), archive["tree"] + "/" + arc_dir)
            continue
        sound = rel.lower().endswith(SYNTH_SOURCE)
        data = cache.get(cache.key("file", archive["tree"], rel, data, mul_encoding,
                                   *([sound_data.MAX_SECONDS] if sound and sound_data.MAX_SECONDS is not None else [])),
                         lambda r=rel, d=data: build_file(r, d, os.path.join(tree, r), mul_encoding))
        name = script_check.built_name(rel)
        arc_dir, _, member = name.rpartition("/")
        if arc_dir.lower().endswith(".arc"):
            containers.setdefault(arc_dir, []).append((member, data))
            sources.setdefault(arc_dir.lower(), archive["tree"] + "/" + arc_dir)
            continue
        key_name = name.lower()
        if key_name in sources:
            raise vndata.DataError("%s: %s gives %s too" % (os.path.join(tree, rel), sources[key_name], key_name))
        sources[key_name] = archive["tree"] + "/" + rel
        files[name] = data
    for arc_name, members in containers.items():
        files[arc_name] = vndata.arc_bytes(sorted(members))
    for arc_name, members in scripts.items():
        files[arc_name] = cache.get(cache.key("script", *[p for m in members for p in m]),
                                    lambda a=arc_name: script_data.script_arc_bytes(os.path.join(tree, a),
                                                                                   lambda m: None))
    if extras:
        say("%s: the extras' thumbnails, event pictures and music" % archive["file"])
        for path, data in _extras_files(extras, cache, tree, os.path.join(sample_dir, "extras.json")).items():
            sources[path.decode("cp932").lower()] = "extras.json"
            files[path] = data
    say("%s: writing the archive" % archive["file"])
    tables = vndata.tables_from_files(files, archive.get("compressed", ()))
    vndata.write_file(out_path + ".tmp", vndata.pcarc_bytes(tables, archive["version"]))
    os.replace(out_path + ".tmp", out_path)
    with open(out_path + ".map", "w", encoding="utf-8") as f:
        for name in sorted(sources):
            f.write("%s\t%s\n" % (name, sources[name]))
    vndata.write_file(out_path + ".digest", "\n".join([key] + sorted(cache.used - used_before)).encode() + b"\n")
    return out_path, len(files), True


def check_scenarios(sample_dir, config):
    """Checks every script.arc folder of the game; returns False on errors."""
    clean = True
    for archive in config["archives"]:
        tree = os.path.join(sample_dir, archive["tree"])
        for folder, dirs, _ in os.walk(tree):
            if os.path.basename(folder).lower() == SCRIPT_ARC:
                dirs[:] = []
                problems = script_check.check(folder, sample_dir)
                clean = script_check.report(problems, os.path.relpath(folder)) != 1 and clean
    return clean


def main(argv=None):
    default_sample = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "sample")
    p = argparse.ArgumentParser(description="Builds the sample game's data archives.")
    p.add_argument("out", help="folder that receives data/*.pcarc")
    p.add_argument("--sample", default=default_sample, help="the sample sources")
    p.add_argument("--full", action="store_true", help="build everything anew, not from the cache")
    p.add_argument("--sound-seconds", type=float, help="cut every sound to at most this many seconds")
    args = p.parse_args(argv)
    sound_data.MAX_SECONDS = args.sound_seconds
    try:
        config = vndata.read_archives(args.sample)
        say = lambda line: print("build_sample: " + line, flush=True)  # noqa: E731
        say("checking the scenarios")
        if not check_scenarios(args.sample, config):
            print(vndata.located("error", "the scenarios have errors, so nothing is built", args.sample),
                  file=sys.stderr)
            return 1
        extras = None
        if os.path.exists(os.path.join(args.sample, "extras.json")):
            extras = extras_data.read_source(os.path.join(args.sample, "extras.json"))
        cache_dir = os.path.join(args.out, ".build-cache")
        if args.full:
            shutil.rmtree(cache_dir, ignore_errors=True)
        cache = BuildCache(cache_dir, tools_digest())
        for archive in config["archives"]:
            path, count, written = build_archive(args.sample, archive, config.get("mul_encoding", "utf8"),
                                                 args.out, extras, cache, say)
            say("%s (%s)" % (os.path.normpath(path), "%d file%s" % (count, "" if count == 1 else "s") if written else "unchanged"))
        cache.prune()
    except (vndata.DataError, sound_data.SoundError, font_data.FontDataError, movie_data.MovieError, OSError,
            KeyError, ValueError) as e:
        text = e.strerror or str(e) if isinstance(e, OSError) else str(e)
        if isinstance(e, KeyError):
            text = "archives.json lacks the key %s" % e
        print(vndata.located("error", text, getattr(e, "filename", None) or args.sample), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
