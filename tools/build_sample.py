#!/usr/bin/env python3
"""Builds the sample game's data archives from the sources in sample/.

  build_sample.py OUT [--sample DIR]

writes OUT/data/data_00.pcarc (base) and OUT/data/data_p00.pcarc (patch),
so that the engine started with OUT as its working directory finds them.
DIR defaults to the repository's sample/ folder.

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
"""

import argparse
import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import image_data  # noqa: E402
import sound_data  # noqa: E402
import font_data  # noqa: E402
import movie_data  # noqa: E402
import extras_data  # noqa: E402
import script_data  # noqa: E402
import vndata  # noqa: E402

MUL_SOURCE = ".mul.txt"
SYNTH_SOURCE = ".synth"
PICT_SOURCE = ".pict"
MOVIE_SOURCE = ".movie"
SCRIPT_ARC = "script.arc"  # scenario sources: converted and indexed by script_data


def build_archive(sample_dir, archive, mul_encoding, out_dir, extras=None):
    tree = os.path.join(sample_dir, archive["tree"])
    files, sources, containers = {}, {}, {}
    for rel, data in sorted(vndata.read_tree(tree).items()):
        name = rel
        if rel.lower().endswith(MUL_SOURCE):
            name = rel[:-len(".txt")]
            data = vndata.mul_from_source(data.decode("utf-8"), mul_encoding,
                                          os.path.join(archive["tree"], rel))
        elif rel.lower().endswith(SYNTH_SOURCE):
            name = rel[:-len(SYNTH_SOURCE)]
            data = sound_data.synth_from_source(data.decode("utf-8"), os.path.join(archive["tree"], rel))
        elif rel.lower().endswith(PICT_SOURCE):
            name = rel[:-len(PICT_SOURCE)]
            data = image_data.picture_from_source(data.decode("utf-8"), os.path.join(archive["tree"], rel))
        elif rel.lower().endswith(MOVIE_SOURCE):
            name = rel[:-len(MOVIE_SOURCE)]
            data = movie_data.movie_from_source(data.decode("utf-8"), os.path.join(archive["tree"], rel))
        elif rel.lower().endswith(font_data.SYSFONT_SOURCE):
            name = rel[:-len(font_data.SYSFONT_SOURCE)]
            data = font_data.sysfont_from_source(data.decode("utf-8"), os.path.join(archive["tree"], rel))
        elif rel.lower().endswith(font_data.ADDGLYPH_SOURCE):
            name = rel[:-len(font_data.ADDGLYPH_SOURCE)]
            data = font_data.addglyph_from_source(data.decode("utf-8"), os.path.join(archive["tree"], rel))
        arc_dir, _, member = name.rpartition("/")
        if arc_dir.lower().endswith(".arc"):
            containers.setdefault(arc_dir, []).append((member, data))
            sources.setdefault(arc_dir.lower(), archive["tree"] + "/" + arc_dir)
            continue
        key = name.lower()
        if key in sources:
            raise vndata.DataError("%s and %s both give %s" % (sources[key], rel, key))
        sources[key] = archive["tree"] + "/" + rel
        files[name] = data
    for arc_name, members in containers.items():
        if arc_name.lower().rpartition("/")[2] == SCRIPT_ARC:
            files[arc_name] = script_data.script_arc_bytes(os.path.join(tree, arc_name))
        else:
            files[arc_name] = vndata.arc_bytes(sorted(members))
    if extras and extras.get("archive") == archive["file"]:
        for path, data in extras_data.files_from_source(extras).items():
            sources[path.decode("cp932").lower()] = "extras.json"
            files[path] = data
    tables = vndata.tables_from_files(files, archive.get("compressed", ()))
    out_path = os.path.join(out_dir, "data", archive["file"])
    vndata.write_file(out_path, vndata.pcarc_bytes(tables, archive["version"]))
    with open(out_path + ".map", "w", encoding="utf-8") as f:
        for key in sorted(sources):
            f.write("%s\t%s\n" % (key, sources[key]))
    return out_path, len(files)


def main(argv=None):
    default_sample = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "sample")
    p = argparse.ArgumentParser(description="Builds the sample game's data archives.")
    p.add_argument("out", help="folder that receives data/*.pcarc")
    p.add_argument("--sample", default=default_sample, help="the sample sources")
    args = p.parse_args(argv)
    try:
        with open(os.path.join(args.sample, "archives.json"), encoding="utf-8") as f:
            config = json.load(f)
        extras = None
        if os.path.exists(os.path.join(args.sample, "extras.json")):
            with open(os.path.join(args.sample, "extras.json"), encoding="utf-8") as f:
                extras = json.load(f)
        for archive in config["archives"]:
            path, count = build_archive(args.sample, archive, config.get("mul_encoding", "utf8"), args.out, extras)
            print("build_sample: %s (%d files)" % (os.path.normpath(path), count))
    except (vndata.DataError, sound_data.SoundError, font_data.FontDataError, movie_data.MovieError, OSError,
            KeyError, ValueError) as e:
        print("build_sample: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
