#!/usr/bin/env python3
"""Writes the engine's movie files with Debian's ffmpeg command-line tool.

  movie_data.py avi OUT [options]      an AVI of a test pattern and a tone
  movie_data.py movie OUT SOURCE       a movie described by a ".movie" source

Options of avi:
  --size WxH (default 640x360) --rate FPS (30) --seconds S (3)
  --video mpeg4|mjpeg (mpeg4) --quality Q (ffmpeg's -q:v, 2..31, default 5)
  --audio pcm|none (pcm: 16-bit stereo PCM at 48000 Hz) --tone HZ (440)
  --pattern testsrc|testsrc2|smptebars|rgbtestsrc (testsrc2)

A ".movie" source (JSON) takes the same settings by name, for example
  {"size": "640x360", "rate": 30, "seconds": 3, "video": "mpeg4",
   "quality": 5, "audio": "pcm", "tone": 440, "pattern": "testsrc2"}
Every movie is an AVI: MPEG-4 part 2 or Motion JPEG video, PCM sound.

In place of the pattern and the tone a source may give a title card and a
tune: "card" is a picture (a ".pict" description, tools/image_data.py) at
least as large as the movie, which the movie pans across from its left edge
to its right edge over the whole time (a card of the movie's size stays
still); "fade" fades it in from black and out again over that many seconds;
"music" is a sound (a ".synth" description, tools/sound_data.py, format wav)
played from the start and cut at the end.
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import image_data  # noqa: E402
import sound_data  # noqa: E402
import vndata  # noqa: E402


class MovieError(Exception):
    pass


DEFAULTS = {"size": "640x360", "rate": 30, "seconds": 3.0, "video": "mpeg4", "quality": 5,
            "audio": "pcm", "tone": 440.0, "pattern": "testsrc2", "card": None, "fade": 0.0, "music": None}
VIDEO = {"mpeg4": ["-c:v", "mpeg4", "-vtag", "XVID"], "mjpeg": ["-c:v", "mjpeg"]}
PATTERNS = ("testsrc", "testsrc2", "smptebars", "rgbtestsrc")


def _settings(desc, where):
    s = dict(DEFAULTS)
    for key, value in desc.items():
        if key not in DEFAULTS:
            raise MovieError("%s: unknown setting %r" % (where, key))
        s[key] = value
    if not re.fullmatch(r"[1-9][0-9]{0,3}x[1-9][0-9]{0,3}", str(s["size"])):
        raise MovieError("%s: bad size %r" % (where, s["size"]))
    w, h = (int(v) for v in s["size"].split("x"))
    if w % 2 or h % 2:
        raise MovieError("%s: the size must be even" % where)
    if s["video"] not in VIDEO or s["audio"] not in ("pcm", "none") or s["pattern"] not in PATTERNS:
        raise MovieError("%s: video, audio or pattern unknown" % where)
    try:
        s["rate"], s["seconds"], s["tone"] = int(s["rate"]), float(s["seconds"]), float(s["tone"])
        s["quality"], s["fade"] = int(s["quality"]), float(s["fade"])
    except (TypeError, ValueError):
        raise MovieError("%s: rate, seconds, tone and quality are numbers" % where)
    if not (1 <= s["rate"] <= 120 and 0 < s["seconds"] <= 600 and 2 <= s["quality"] <= 31 and s["tone"] > 0):
        raise MovieError("%s: rate, seconds, tone or quality out of range" % where)
    if s["card"] is not None and not isinstance(s["card"], dict):
        raise MovieError("%s: the card is a picture description" % where)
    if s["music"] is not None and not isinstance(s["music"], dict):
        raise MovieError("%s: the music is a sound description" % where)
    if not 0 <= 2 * s["fade"] <= s["seconds"]:
        raise MovieError("%s: the fades are longer than the movie" % where)
    return s


def _written(tmp, name, make, desc, error, where):
    """The path of tmp/name holding what make (a writer's source reader) makes
    of the description desc; the writer's error becomes a MovieError."""
    try:
        data = make(json.dumps(desc), where)
    except error as e:
        raise MovieError(str(e))
    path = os.path.join(tmp, name)
    with open(path, "wb") as f:
        f.write(data)
    return path


def _card_input(s, tmp, where):
    """ffmpeg's input arguments and video filter for a title card."""
    w, h = (int(v) for v in s["size"].split("x"))
    cw, ch = (int(v) for v in s["card"].get("size", (0, 0)))
    if cw < w or ch < h:
        raise MovieError("%s: the card is smaller than the movie" % where)
    path = _written(tmp, "card.png", image_data.picture_from_source, dict(s["card"], format="png"),
                    image_data.ImageError, where + " card")
    seconds = s["seconds"]
    filters = ["crop=%d:%d:'(%d)*t/%g':'(%d)*t/%g'" % (w, h, cw - w, seconds, ch - h, seconds)]
    if s["fade"] > 0:
        filters += ["fade=t=in:st=0:d=%g" % s["fade"], "fade=t=out:st=%g:d=%g" % (seconds - s["fade"], s["fade"])]
    return ["-loop", "1", "-framerate", str(s["rate"]), "-t", "%g" % seconds, "-i", path], ",".join(filters)


def _music_input(s, tmp, where):
    return ["-i", _written(tmp, "music.wav", sound_data.synth_from_source, dict(s["music"], format="wav"),
                           sound_data.SoundError, where + " music")]


def avi_bytes(desc, where="movie"):
    """The AVI file for a settings dictionary (missing keys take DEFAULTS)."""
    s = _settings(desc, where)
    ffmpeg = shutil.which("ffmpeg")
    if not ffmpeg:
        raise MovieError("%s: the ffmpeg tool is missing (tools/setup.sh installs it)" % where)
    seconds = "%g" % s["seconds"]
    with tempfile.TemporaryDirectory() as tmp:
        cmd = [ffmpeg, "-nostdin", "-v", "error", "-y"]
        vf = None
        if s["card"] is not None:
            args, vf = _card_input(s, tmp, where)
            cmd += args
        else:
            cmd += ["-f", "lavfi", "-i", "%s=size=%s:rate=%d:duration=%s" % (s["pattern"], s["size"], s["rate"], seconds)]
        if s["audio"] == "pcm" and s["music"] is not None:
            cmd += _music_input(s, tmp, where)
        elif s["audio"] == "pcm":
            cmd += ["-f", "lavfi", "-i", "sine=frequency=%g:sample_rate=48000:duration=%s" % (s["tone"], seconds)]
        if vf:
            cmd += ["-vf", vf]
        cmd += VIDEO[s["video"]] + ["-q:v", str(s["quality"]), "-pix_fmt", "yuvj420p" if s["video"] == "mjpeg" else "yuv420p"]
        cmd += ["-c:a", "pcm_s16le", "-ac", "2"] if s["audio"] == "pcm" else ["-an"]
        cmd += ["-t", seconds]
        out = os.path.join(tmp, "movie.avi")
        run = subprocess.run(cmd + [out], capture_output=True, text=True)
        if run.returncode != 0 or not os.path.exists(out):
            raise MovieError("%s: ffmpeg failed: %s" % (where, run.stderr.strip()[:300]))
        with open(out, "rb") as f:
            return f.read()


def movie_from_source(text, where="movie"):
    """The AVI file a ".movie" source describes."""
    return avi_bytes(vndata.json_source(text, where, "a movie", MovieError), where)


def main(argv=None):
    p = argparse.ArgumentParser(description="Writes AVI movies for the engine.")
    sub = p.add_subparsers(dest="cmd", required=True)
    a = sub.add_parser("avi")
    a.add_argument("out")
    for key, value in DEFAULTS.items():
        if value is not None and key != "fade":
            a.add_argument("--" + key, type=type(value), default=value)
    m = sub.add_parser("movie")
    m.add_argument("out")
    m.add_argument("source")
    args = p.parse_args(argv)
    try:
        if args.cmd == "avi":
            data = avi_bytes({k: getattr(args, k) for k in DEFAULTS if hasattr(args, k)}, args.out)
        else:
            with open(args.source, encoding="utf-8") as f:
                data = movie_from_source(f.read(), args.source)
        with open(args.out, "wb") as f:
            f.write(data)
    except (MovieError, OSError) as e:
        print("movie_data: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
