#!/usr/bin/env python3
"""Command-line front end of vndata: writes the engine's data files.

  pack.py gz    OUT IN [--plain] [--broken V ...]
      IN compressed as a gzip file with the engine's size trailer
      (u32 0, u32 size); --plain writes the gzip member alone.
  pack.py pcarc OUT ROOT [--version 0100] [--compress DIR ...] [--broken V ...]
      every folder below ROOT holding files becomes a table named by its
      path ("visual/system"); files directly in ROOT are refused. Folders
      given with --compress (relative to ROOT) store their files gzipped
      under "<name>.gz". A folder "x#2" becomes a second table named "x".
  pack.py arc   OUT IN... [--broken V ...]
      a container of the files IN (in that order), or of the files of one
      folder IN (sorted by name); members are named after their files.
  pack.py mul   OUT SRC [--encoding sjis|utf8] [--gzip] [--broken V ...]
      a message table from the UTF-8 source SRC (format: see vndata.py),
      texts written in Shift-JIS or UTF-8 (default utf8); --gzip writes it
      as a gzip file with the size trailer.

  pack.py script SRC_FOLDER OUT
  pack.py script SRC_FOLDER --check [--game DIR]
      the script container of the UTF-8 scenario sources *.txt of
      SRC_FOLDER (Shift-JIS, CR LF) with their label index 00_info.bin
      (see script_data.py); --check writes nothing and prints every problem
      as "path:line:col: error|warning: message" (see script_check.py),
      checking too that the game's source folder DIR (by default the
      nearest folder above SRC_FOLDER with an archives.json) holds every
      picture, rule, sound, voice and movie a tag names and the text of
      every message key (`script_check.py SRC_FOLDER` does the same). It exits 1 on
      errors, 2 on warnings only and 0 when the scenarios are clean.

--broken writes a damaged file for readers' tests; `pack.py KIND --help`
lists the variants. Every fault is printed as "path:line:col: error:
message" (line and column where known; vndata.located), and pack.py exits 1.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import script_check  # noqa: E402
import script_data  # noqa: E402
import vndata  # noqa: E402


def main(argv=None):
    p = argparse.ArgumentParser(description="Writes the engine's data files.")
    sub = p.add_subparsers(dest="kind", required=True)

    def broken_arg(sp, choices):
        sp.add_argument("--broken", action="append", choices=choices, metavar="V",
                        help="damage the file: " + ", ".join(choices))

    g = sub.add_parser("gz", help="gzip file with the size trailer")
    g.add_argument("out")
    g.add_argument("input")
    g.add_argument("--plain", action="store_true", help="no size trailer")
    broken_arg(g, vndata.GZ_BROKEN)

    a = sub.add_parser("pcarc", help=".pcarc archive from a folder tree")
    a.add_argument("out")
    a.add_argument("root")
    a.add_argument("--version", default="0100", help="four digits (default 0100)")
    a.add_argument("--compress", action="append", default=[], metavar="DIR",
                   help="a folder whose files are stored gzipped (repeatable)")
    broken_arg(a, vndata.PCARC_BROKEN)

    c = sub.add_parser("arc", help=".arc container")
    c.add_argument("out")
    c.add_argument("inputs", nargs="+")
    broken_arg(c, vndata.ARC_BROKEN)

    m = sub.add_parser("mul", help=".mul message table from a text source")
    m.add_argument("out")
    m.add_argument("source")
    m.add_argument("--encoding", default="utf8", choices=("sjis", "utf8"))
    m.add_argument("--gzip", action="store_true", help="write it gzipped")
    broken_arg(m, vndata.MUL_BROKEN)

    s = sub.add_parser("script", help="script container from scenario sources")
    s.add_argument("source")
    s.add_argument("out", nargs="?", help="the container to write (none with --check)")
    s.add_argument("--check", action="store_true", help="only report, write nothing")
    s.add_argument("--game", help="the game's source folder (with archives.json), for --check")

    args = p.parse_args(argv)
    try:
        if args.kind == "gz":
            with open(args.input, "rb") as f:
                vndata.write_gz(args.out, f.read(), not args.plain, args.broken)
        elif args.kind == "pcarc":
            vndata.write_pcarc(args.out, args.root, args.compress, args.version, args.broken)
        elif args.kind == "script" and args.check:
            game = args.game or script_check.find_game_dir(args.source)
            return script_check.report(script_check.check(args.source, game), args.source)
        elif args.kind == "script" and not args.out:
            p.error("script needs OUT, the container to write, or --check")
        elif args.kind == "script":
            warn = lambda m: print(vndata.located("warning", os.path.join(args.source, m), args.source),  # noqa: E731
                                   file=sys.stderr)
            vndata.write_file(args.out, script_data.script_arc_bytes(args.source, warn))
        elif args.kind == "arc":
            src = args.inputs[0] if len(args.inputs) == 1 and os.path.isdir(args.inputs[0]) else args.inputs
            vndata.write_arc(args.out, src, args.broken)
        else:
            vndata.write_mul(args.out, args.source, args.encoding, args.gzip, args.broken)
    except (vndata.DataError, OSError) as e:
        place = getattr(args, {"gz": "input", "pcarc": "root", "arc": "inputs"}.get(args.kind, "source"))
        place = place[0] if isinstance(place, list) else place
        if isinstance(e, OSError):
            place, text = e.filename or place, e.strerror or str(e)
        elif args.kind == "script" and not args.check:
            text = os.path.join(args.source, str(e))  # its messages name a file of the folder
        else:
            text = str(e)
        print(vndata.located("error", text, place), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
