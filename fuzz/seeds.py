#!/usr/bin/env python3
"""Writes the seed corpus every fuzz target starts from.

  seeds.py OUT

OUT/sample: the sample game's archives (tools/build_sample.py) and every file
that went into them, built from its source one by one (message tables,
sounds, pictures, fonts, movies, containers), plus each archive as the three
start-up archives would hold it (see startup_chain_fuzz.cpp), and each
scenario as a member of the script container holds it (Shift-JIS, CR LF;
see script_stage_fuzz.cpp).
OUT/fixtures: the files the tests write with the data tools (sounds,
containers, archives, gzip files, message tables, pictures) and the stored
test files of tests/data.
Nothing is written when OUT already holds a "done" mark.
"""

import os
import shutil
import sys

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(here)
sys.path.insert(0, os.path.join(root, "tools"))
import build_sample  # noqa: E402
import font_data  # noqa: E402
import image_data  # noqa: E402
import movie_data  # noqa: E402
import script_data  # noqa: E402
import sound_data  # noqa: E402
import vndata  # noqa: E402

# The separator of the start-up archives in one input (startup_chain_fuzz.cpp).
ARCHIVE_SEPARATOR = b"--vn-archive--"


# Files of the start-up chain's seed archives.
CHAIN_FILES = ("script/system_mes.mul", "script/sysgra_mes.mul", "doc/about.txt", "sound/se/se_decide.wav",
               "sound/se/se_cancel.wav", "sound/bgm/title.oggl")


def built(rel, data, where):
    """(name, bytes) of a sample source as build_sample.py builds it."""
    low = rel.lower()
    if low.endswith(build_sample.MUL_SOURCE):
        return rel[:-4], vndata.mul_from_source(data.decode("utf-8"), "utf8", where)
    if low.endswith(build_sample.SYNTH_SOURCE):
        return rel[:-6], sound_data.synth_from_source(data.decode("utf-8"), where)
    if low.endswith(build_sample.PICT_SOURCE):
        return rel[:-5], image_data.picture_from_source(data.decode("utf-8"), where)
    if low.endswith(build_sample.MOVIE_SOURCE):
        return rel[:-6], movie_data.movie_from_source(data.decode("utf-8"), where)
    if low.endswith(font_data.SYSFONT_SOURCE):
        return rel[:-len(font_data.SYSFONT_SOURCE)], font_data.sysfont_from_source(data.decode("utf-8"), where)
    if low.endswith(font_data.ADDGLYPH_SOURCE):
        return rel[:-len(font_data.ADDGLYPH_SOURCE)], font_data.addglyph_from_source(data.decode("utf-8"), where)
    return rel, data


def flat(name):
    return name.replace("/", "_")


def sample_seeds(out):
    sample = os.path.join(root, "sample")
    build_sample.main([os.path.join(out, "run")])
    archives = []
    for name in sorted(os.listdir(os.path.join(out, "run", "data"))):
        if name.endswith(".pcarc"):
            with open(os.path.join(out, "run", "data", name), "rb") as f:
                archives.append(f.read())
            shutil.copy(os.path.join(out, "run", "data", name), os.path.join(out, name))
    shutil.rmtree(os.path.join(out, "run"))
    seen = set()
    chain = {}
    for tree in ("base", "patch"):
        for rel, data in sorted(vndata.read_tree(os.path.join(sample, tree)).items()):
            if rel.lower().endswith(".md"):
                continue
            name, data = built(rel, data, rel)
            key = flat(name)
            if key in seen:
                key = tree + "_" + key
            seen.add(key)
            vndata.write_file(os.path.join(out, key), data)
            if "/script.arc/" in name and name.lower().endswith(".txt"):
                member = script_data.script_bytes(data.decode("utf-8"), name, warn=lambda message: None)
                vndata.write_file(os.path.join(out, "member_" + key), member)
            if tree == "base" and name in CHAIN_FILES:
                chain[name] = data
    # Small base, patch and R18 archives of the start-up files, which overlap.
    base = vndata.pcarc_bytes(vndata.tables_from_files(chain), "0100")
    patch = vndata.pcarc_bytes(vndata.tables_from_files({"doc/about.txt": b"patched\n"}), "0101")
    r18 = vndata.pcarc_bytes(vndata.tables_from_files({"doc/about.txt": b"r18\n",
                                                       "sound/se/se_decide.wav": chain.get("sound/se/se_cancel.wav", b"")},
                                                      ("sound",)), "0102")
    vndata.write_file(os.path.join(out, "startup_chain"), ARCHIVE_SEPARATOR.join([base, patch, r18]))


def fixture_seeds(out):
    tone = sound_data.tone(2205, 22050, 441.0, 0.5)
    stereo = [sound_data.tone(4410, 44100, 441.0, 0.25), sound_data.tone(4410, 44100, 661.5, 0.25)]
    files = {
        "tone.wav": sound_data.wav_bytes([tone], 22050),
        "tone8.wav": sound_data.wav_bytes([tone], 22050, bits=8),
        "stereo.wav": sound_data.wav_bytes(stereo, 44100),
        "loop.wav": sound_data.wav_bytes([tone * 2], 22050, loop=(1000, 3000)),
        "loop18.wav": sound_data.wav_bytes([tone * 2], 22050, fmt18=True, loop=(1000, 3000)),
        "tone.ogg": sound_data.ogg_bytes([tone], 22050, quality=0.0),
        "loop.oggl": sound_data.ogg_bytes(stereo, 44100, quality=0.0) + sound_data.loop_trailer(500, 3000),
    }
    files["sounds.arc"] = vndata.arc_bytes([("a.wav", files["loop.wav"]), ("b.oggl", files["loop.oggl"]),
                                            ("c.ogg", files["tone.ogg"])])
    files["text.gz"] = vndata.gz_bytes(b"fixture text\n" * 20)
    pic = image_data.pattern_picture(24, 16)
    files["coords.png"] = image_data.png_bytes(pic)
    files["coords.ext"] = image_data.ext0_bytes(pic)
    files["flat8.ext"] = image_data.ext0_bytes(image_data.new_picture(24, 16, b"\x10\x20\x30\xff"), bpp=8)
    files["coords.tga"] = image_data.header18_bytes(pic)
    files["system.ini"] = bytes(64)
    for name, data in files.items():
        try:
            vndata.write_file(os.path.join(out, name), data)
        except (TypeError, ValueError):
            pass
    data_dir = os.path.join(root, "tests", "data")
    for name in sorted(os.listdir(data_dir)):
        if os.path.isfile(os.path.join(data_dir, name)):  # folders hold other tests' sources
            shutil.copy(os.path.join(data_dir, name), os.path.join(out, name))


def main(argv):
    if len(argv) != 1:
        print("usage: seeds.py OUT", file=sys.stderr)
        return 2
    out = argv[0]
    if os.path.exists(os.path.join(out, "done")):
        return 0
    for part, fill in (("sample", sample_seeds), ("fixtures", fixture_seeds)):
        os.makedirs(os.path.join(out, part), exist_ok=True)
        fill(os.path.join(out, part))
    open(os.path.join(out, "done"), "w").close()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
