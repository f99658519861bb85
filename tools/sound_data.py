#!/usr/bin/env python3
"""Writes the engine's sound files from synthesised tones and melodies.

  sound_data.py wav OUT [options]       a PCM ".wav" file
  sound_data.py ogg OUT [options]       an Ogg Vorbis file (through libvorbisenc);
                                        with --loop it gets the ".oggl" trailer
  sound_data.py synth OUT SOURCE        a sound described by a ".synth" source
  sound_data.py batch FILE              one of the commands above per line

Options of wav and ogg:
  --rate R --channels C --frames N | --seconds S
  --tone HZ (default 440) | --melody      a sine tone, or a short tune
  --amp A (0..1, default 0.5) --wave sine|square|triangle
  --bits 8|16 (wav only) --fmt18 (wav: an 18-byte format chunk)
  --loop START END     loop points in frames: the 8-byte trailer
  --quality Q          Vorbis quality (-0.1..1, default 0.3)

".wav" layout: "RIFF" size "WAVE", a "fmt " chunk of 16 bytes (or 18 with a
zero extra-size field), a "data" chunk; the loop trailer (u32 start, u32 end,
in frames) directly after the samples, outside the RIFF chunks.
".oggl" = an Ogg Vorbis stream followed by the same 8 bytes.

A ".synth" source (JSON) describes one sound:
  {"format": "wav" | "ogg" | "oggl" | "arc", "rate": 22050, "channels": 1,
   "parts": [{"notes": "C5:1 E5:1 R:0.5 G5:2", "tempo": 120,
              "wave": "sine"|"square"|"triangle"|"voice", "amp": 0.4,
              "pan": 0.0, "decay": 0.3}],
   "repeat": 2,               the parts played this many times
   "loop": [start, end]}      seconds; written as frames in the trailer
Notes are NAME[#|b]OCTAVE:BEATS or R:BEATS (a rest). "arc" is a container
of {"members": {"name.wav": {...a sound...}, ...}} in that order.
"""

import argparse
import array
import ctypes
import ctypes.util
import json
import math
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vndata  # noqa: E402


class SoundError(Exception):
    pass


# ---------------------------------------------------------------- synthesis
#
# Every sound made is cut to at most this many seconds when set (None: whole).
# The fuzz targets' copy of the sample uses it: a script reaches the same
# code with a sound of a quarter second, decoded far faster.
MAX_SECONDS = None

# Sounds are lists of channels, each an array('f') of samples in -1..1.

NOTE_STEPS = {"c": -9, "d": -7, "e": -5, "f": -4, "g": -2, "a": 0, "b": 2}


def note_freq(name):
    """Frequency of "A4", "C#5", "Eb3"; 0 for "R" (a rest)."""
    n = name.strip().lower()
    if n in ("r", "rest"):
        return 0.0
    if not n or n[0] not in NOTE_STEPS:
        raise SoundError("bad note %r" % name)
    step, rest = NOTE_STEPS[n[0]], n[1:]
    if rest[:1] == "#":
        step, rest = step + 1, rest[1:]
    elif rest[:1] == "b":
        step, rest = step - 1, rest[1:]
    try:
        octave = int(rest)
    except ValueError:
        raise SoundError("bad note %r" % name)
    return 440.0 * 2.0 ** ((step + 12 * (octave - 4)) / 12.0)


def osc(wave, phase):
    """One sample of a wave at phase (cycles)."""
    p = phase - math.floor(phase)
    if wave == "square":
        return 1.0 if p < 0.5 else -1.0
    if wave == "triangle":
        return 4.0 * p - 1.0 if p < 0.5 else 3.0 - 4.0 * p
    if wave == "voice":  # a buzz with falling harmonics, roughly a vowel
        return sum(math.sin(2 * math.pi * k * p) / k for k in (1, 2, 3, 4, 5)) * 0.55
    return math.sin(2 * math.pi * p)


def render_notes(notes, rate, tempo=120, wave="sine", amp=0.4, decay=0.0):
    """A mono line of notes; each note has a 5 ms attack and a 20 ms release,
    and with decay > 0 an exponential decay of that time constant."""
    out = array.array("f")
    beat = 60.0 / tempo
    for item in notes.split():
        name, _, beats = item.partition(":")
        try:
            length = float(beats or 1)
        except ValueError:
            raise SoundError("bad note %r: its beats are a number" % item) from None
        freq, n = note_freq(name), int(round(length * beat * rate))
        attack, release = max(1, int(0.005 * rate)), max(1, int(0.02 * rate))
        for i in range(n):
            if freq == 0:
                out.append(0.0)
                continue
            env = min(1.0, i / attack, (n - i) / release)
            if decay > 0:
                env *= math.exp(-i / (decay * rate))
            out.append(amp * env * osc(wave, freq * i / rate))
    return out


def tone(frames, rate, freq=440.0, amp=0.5, wave="sine"):
    return array.array("f", (amp * osc(wave, freq * i / rate) for i in range(frames)))


DEFAULT_TUNE = "E5:1 G5:1 A5:2 G5:1 E5:1 D5:2 C5:1 D5:1 E5:1 G5:1 E5:4"


def mix_parts(parts, rate, channels):
    """Renders and mixes parts ({"notes", "tempo", "wave", "amp", "pan",
    "decay"}) into `channels` channels."""
    lines = []
    for p in parts:
        line = render_notes(p.get("notes", DEFAULT_TUNE), rate, p.get("tempo", 120), p.get("wave", "sine"),
                            p.get("amp", 0.4), p.get("decay", 0.0))
        lines.append((line, float(p.get("pan", 0.0))))
    length = max((len(l) for l, _ in lines), default=0)
    out = [array.array("f", bytes(4 * length)) for _ in range(channels)]
    for line, pan in lines:
        gains = [1.0] if channels == 1 else [min(1.0, 1.0 - pan), min(1.0, 1.0 + pan)]
        for c in range(channels):
            o, g = out[c], gains[c]
            for i, s in enumerate(line):
                o[i] += s * g
    return out


def to_pcm16(chans):
    """Interleaved little-endian 16-bit samples."""
    n = len(chans[0]) if chans else 0
    pcm = array.array("h", bytes(2 * n * len(chans)))
    for c, ch in enumerate(chans):
        for i, s in enumerate(ch):
            pcm[i * len(chans) + c] = max(-32768, min(32767, int(round(s * 32767))))
    if sys.byteorder != "little":
        pcm.byteswap()
    return pcm.tobytes()


def to_pcm8(chans):
    n = len(chans[0]) if chans else 0
    out = bytearray(n * len(chans))
    for c, ch in enumerate(chans):
        for i, s in enumerate(ch):
            out[i * len(chans) + c] = max(0, min(255, 128 + int(round(s * 127))))
    return bytes(out)


# ---------------------------------------------------------------- .wav

def wav_bytes(chans, rate, bits=16, fmt18=False, loop=None):
    """A PCM .wav of the channels; `loop` (start, end) in frames appends the
    8-byte loop trailer."""
    channels = len(chans)
    if channels < 1 or bits not in (8, 16):
        raise SoundError("wav: %d channels, %d bits" % (channels, bits))
    data = to_pcm16(chans) if bits == 16 else to_pcm8(chans)
    align = channels * bits // 8
    fmt = struct.pack("<HHIIHH", 1, channels, rate, rate * align, align, bits)
    if fmt18:
        fmt += struct.pack("<H", 0)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data
    out = b"RIFF" + struct.pack("<I", len(body)) + body
    if loop is not None:
        out += struct.pack("<II", int(loop[0]), int(loop[1]))
    return out


# ---------------------------------------------------------------- Ogg Vorbis

class _OggPacket(ctypes.Structure):
    _fields_ = [("packet", ctypes.c_void_p), ("bytes", ctypes.c_long), ("b_o_s", ctypes.c_long),
                ("e_o_s", ctypes.c_long), ("granulepos", ctypes.c_int64), ("packetno", ctypes.c_int64)]


class _OggPage(ctypes.Structure):
    _fields_ = [("header", ctypes.c_void_p), ("header_len", ctypes.c_long),
                ("body", ctypes.c_void_p), ("body_len", ctypes.c_long)]


_LIBS = None


def _libs():
    global _LIBS
    if _LIBS is None:
        names = []
        for lib in ("ogg", "vorbis", "vorbisenc"):
            path = ctypes.util.find_library(lib)
            if not path:
                raise SoundError("lib%s not found (install libvorbis-dev)" % lib)
            names.append(ctypes.CDLL(path))
        ogg, vorbis, enc = names
        P = ctypes.c_void_p
        for f, args in (("ogg_stream_init", [P, ctypes.c_int]), ("ogg_stream_packetin", [P, P]),
                        ("ogg_stream_flush", [P, P]), ("ogg_stream_pageout", [P, P]), ("ogg_stream_clear", [P])):
            getattr(ogg, f).argtypes = args
            getattr(ogg, f).restype = ctypes.c_int
        for f, args in (("vorbis_info_init", [P]), ("vorbis_comment_init", [P]), ("vorbis_analysis_init", [P, P]),
                        ("vorbis_block_init", [P, P]), ("vorbis_analysis_headerout", [P, P, P, P, P]),
                        ("vorbis_analysis_wrote", [P, ctypes.c_int]), ("vorbis_analysis_blockout", [P, P]),
                        ("vorbis_analysis", [P, P]), ("vorbis_bitrate_addblock", [P]),
                        ("vorbis_bitrate_flushpacket", [P, P]), ("vorbis_block_clear", [P]),
                        ("vorbis_dsp_clear", [P]), ("vorbis_comment_clear", [P]), ("vorbis_info_clear", [P])):
            getattr(vorbis, f).argtypes = args
            getattr(vorbis, f).restype = ctypes.c_int
        vorbis.vorbis_analysis_buffer.argtypes = [P, ctypes.c_int]
        vorbis.vorbis_analysis_buffer.restype = ctypes.POINTER(ctypes.POINTER(ctypes.c_float))
        enc.vorbis_encode_init_vbr.argtypes = [P, ctypes.c_long, ctypes.c_long, ctypes.c_float]
        enc.vorbis_encode_init_vbr.restype = ctypes.c_int
        _LIBS = (ogg, vorbis, enc)
    return _LIBS


def ogg_bytes(chans, rate, quality=0.3, serial=0x5EED):
    """An Ogg Vorbis stream of the channels (each an array('f') in -1..1)."""
    ogg, vorbis, enc = _libs()
    channels = len(chans)
    # The library's state records, as opaque blocks larger than they are.
    vi, vc, vd, vb, os_ = (ctypes.create_string_buffer(16384) for _ in range(5))
    out = bytearray()
    og, op = _OggPage(), _OggPacket()

    def pages(flush):
        take = ogg.ogg_stream_flush if flush else ogg.ogg_stream_pageout
        while take(os_, ctypes.byref(og)):
            out.extend(ctypes.string_at(og.header, og.header_len))
            out.extend(ctypes.string_at(og.body, og.body_len))

    def drain():
        while vorbis.vorbis_analysis_blockout(vd, vb) == 1:
            vorbis.vorbis_analysis(vb, None)
            vorbis.vorbis_bitrate_addblock(vb)
            while vorbis.vorbis_bitrate_flushpacket(vd, ctypes.byref(op)):
                ogg.ogg_stream_packetin(os_, ctypes.byref(op))
                pages(False)

    vorbis.vorbis_info_init(vi)
    if enc.vorbis_encode_init_vbr(vi, channels, rate, quality) != 0:
        vorbis.vorbis_info_clear(vi)
        raise SoundError("vorbis: %d channels at %d Hz not encodable" % (channels, rate))
    vorbis.vorbis_comment_init(vc)
    vorbis.vorbis_analysis_init(vd, vi)
    vorbis.vorbis_block_init(vd, vb)
    ogg.ogg_stream_init(os_, serial)
    heads = [_OggPacket() for _ in range(3)]
    vorbis.vorbis_analysis_headerout(vd, vc, *(ctypes.byref(h) for h in heads))
    for h in heads:
        ogg.ogg_stream_packetin(os_, ctypes.byref(h))
    pages(True)

    total, chunk = len(chans[0]), 4096
    for at in range(0, total, chunk):
        n = min(chunk, total - at)
        buf = vorbis.vorbis_analysis_buffer(vd, n)
        for c in range(channels):
            src = chans[c].buffer_info()[0] + 4 * at
            ctypes.memmove(buf[c], src, 4 * n)
        vorbis.vorbis_analysis_wrote(vd, n)
        drain()
    vorbis.vorbis_analysis_wrote(vd, 0)
    drain()
    pages(True)

    ogg.ogg_stream_clear(os_)
    vorbis.vorbis_block_clear(vb)
    vorbis.vorbis_dsp_clear(vd)
    vorbis.vorbis_comment_clear(vc)
    vorbis.vorbis_info_clear(vi)
    return bytes(out)


def loop_trailer(start, end):
    return struct.pack("<II", int(start), int(end))


# ---------------------------------------------------------------- .synth sources

WAVES = ("sine", "square", "triangle", "voice")
_WHOLE = ("rate", "channels", "repeat", "bits")  # numbers of a sound; "quality" may have a fraction
_PART_NUMBERS = ("tempo", "amp", "pan", "decay")


def synth_from_source(text, where="synth"):
    """The bytes of the sound a .synth source (JSON text) describes."""
    return _synth(vndata.json_source(text, where, error=SoundError), where)


def _check_synth(desc, where):
    """SoundError naming the setting of a sound description that has the
    wrong type or an unknown value."""
    def number(value, what, whole):
        if isinstance(value, bool) or not isinstance(value, (int, float)) or not math.isfinite(value) or \
                (whole and value != int(value)):
            raise SoundError("%s: %s is %s, not %s" % (where, what, json.dumps(value),
                                                       "a whole number" if whole else "a number"))
    if not isinstance(desc, dict):
        raise SoundError("%s: a sound is described by a JSON object" % where)
    for key in _WHOLE + ("quality",):
        if key in desc:
            number(desc[key], '"%s"' % key, key in _WHOLE)
    parts = desc.get("parts", [{}])
    if not isinstance(parts, list) or not all(isinstance(p, dict) for p in parts):
        raise SoundError('%s: "parts" is a list of objects' % where)
    for n, part in enumerate(parts, 1):
        for key in _PART_NUMBERS:
            if key in part:
                number(part[key], '"%s" of part %d' % (key, n), False)
        if part.get("tempo", 120) <= 0:
            raise SoundError('%s: "tempo" of part %d is beats a minute, more than 0' % (where, n))
        if not isinstance(part.get("notes", ""), str):
            raise SoundError('%s: "notes" of part %d is a text of notes ("C5:1 E5:1")' % (where, n))
        if part.get("wave", "sine") not in WAVES:
            raise SoundError('%s: "wave" of part %d is %s, not one of %s' % (
                where, n, json.dumps(part["wave"]), ", ".join(WAVES)))
    loop = desc.get("loop")
    if loop is not None and (not isinstance(loop, list) or len(loop) != 2):
        raise SoundError('%s: "loop" is [start, end] in seconds' % where)
    for value in loop or ():
        number(value, '"loop"', False)
        if value < 0:
            raise SoundError('%s: "loop" is [start, end] in seconds, not %s: a loop lies in the sound' % (
                where, json.dumps(loop)))


def _synth(desc, where):
    if isinstance(desc, dict) and desc.get("format") == "arc":
        members = desc.get("members", {})
        if not isinstance(members, dict) or not members:
            raise SoundError('%s: an arc needs "members", an object of named sounds' % where)
        return vndata.arc_bytes([(name, _synth(d, "%s:%s" % (where, name))) for name, d in members.items()])
    _check_synth(desc, where)
    fmt = desc.get("format", "wav")
    rate, channels = int(desc.get("rate", 22050)), int(desc.get("channels", 1))
    if channels not in (1, 2) or not 8000 <= rate <= 96000:
        raise SoundError("%s: %d channels at %d Hz" % (where, channels, rate))
    chans = mix_parts(desc.get("parts", [{}]), rate, channels)
    chans = [c * int(desc.get("repeat", 1)) for c in chans]
    if MAX_SECONDS is not None:
        chans = [c[:max(1, int(MAX_SECONDS * rate))] for c in chans]
    loop = desc.get("loop")
    frames = None if loop is None else [min(len(chans[0]), int(round(t * rate))) for t in loop]
    if fmt == "wav":
        return wav_bytes(chans, rate, int(desc.get("bits", 16)), bool(desc.get("fmt18", False)), frames)
    if fmt in ("ogg", "oggl"):
        data = ogg_bytes(chans, rate, float(desc.get("quality", 0.3)))
        if fmt == "oggl":
            data += loop_trailer(*(frames or (0, len(chans[0]))))
        return data
    raise SoundError("%s: unknown format %r" % (where, fmt))


# ---------------------------------------------------------------- command line

def _signal(args):
    frames = args.frames if args.frames is not None else int(round(args.seconds * args.rate))
    if args.melody:
        chans = mix_parts([{"amp": args.amp, "wave": args.wave}], args.rate, args.channels)
        chans = [(c * (frames // max(1, len(c)) + 1))[:frames] for c in chans]
    else:
        mono = tone(frames, args.rate, args.tone, args.amp, args.wave)
        chans = [mono] + [tone(frames, args.rate, args.tone * 1.5, args.amp, args.wave)
                          for _ in range(args.channels - 1)]
    return chans


def _parser():
    p = argparse.ArgumentParser(description="Writes sound files for the engine's tests and sample data.")
    sub = p.add_subparsers(dest="kind", required=True)
    for kind in ("wav", "ogg"):
        s = sub.add_parser(kind)
        s.add_argument("out")
        s.add_argument("--rate", type=int, default=22050)
        s.add_argument("--channels", type=int, default=1, choices=(1, 2))
        s.add_argument("--frames", type=int)
        s.add_argument("--seconds", type=float, default=0.5)
        s.add_argument("--tone", type=float, default=440.0)
        s.add_argument("--melody", action="store_true")
        s.add_argument("--amp", type=float, default=0.5)
        s.add_argument("--wave", default="sine", choices=("sine", "square", "triangle", "voice"))
        s.add_argument("--loop", type=int, nargs=2, metavar=("START", "END"))
        if kind == "wav":
            s.add_argument("--bits", type=int, default=16, choices=(8, 16))
            s.add_argument("--fmt18", action="store_true")
        else:
            s.add_argument("--quality", type=float, default=0.3)
    s = sub.add_parser("synth")
    s.add_argument("out")
    s.add_argument("source")
    s = sub.add_parser("batch")
    s.add_argument("file")
    return p


def run(argv):
    args = _parser().parse_args(argv)
    if args.kind == "batch":
        vndata.run_batch(args.file, run)
        return
    if args.kind == "synth":
        with open(args.source, encoding="utf-8") as f:
            data = synth_from_source(f.read(), args.source)
    elif args.kind == "wav":
        data = wav_bytes(_signal(args), args.rate, args.bits, args.fmt18, args.loop)
    else:
        data = ogg_bytes(_signal(args), args.rate, args.quality)
        if args.loop:
            data += loop_trailer(*args.loop)
    vndata.write_file(args.out, data)


def main(argv=None):
    try:
        run(sys.argv[1:] if argv is None else argv)
    except (SoundError, vndata.DataError, OSError) as e:
        print("sound_data.py: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
