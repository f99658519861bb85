#!/usr/bin/env python3
"""Reads and writes the save store's files, from their documented layout.

  save_data.py check DIR [--slot S[:SUBTITLE_END]]... [--icon-slot S]...
      Checks DIR/save.cdf and DIR/registry.cdf: gzip member with the 8-byte
      trailer (u32 0, u32 size), 8728397 bytes, flag bytes 0/1, and for every
      slot whose data flag is set: its information and picture flags, the
      SaveInfo terminators and date, the subtitle suffix "_%02d" of slot + 1
      for slots 0-31, SHA-1(data) equal to its registry digest. --slot names
      slots that must be saved (with the end of their subtitle);
      --icon-slot slots whose picture part must carry a 228x128 32-bit
      18-byte header. Prints one line per saved slot.
  save_data.py system DIR [--language N] [--var N=V]... [--event ID]...
                          [--track K]... [--special BITS]
      Writes a store that holds only slot 32 (SystemData with the defaults
      and the given values).
  save_data.py write DIR [--slot S:SEED]... [--corrupt S]
      Writes a store with slots of patterned data (the block version "0100",
      then byte i = (i * 31 + SEED) & 255) and their digests; --corrupt
      changes one data byte of a slot after digesting, so that the slot reads
      broken.

Layout: 102 flag bytes (data parts of slots 0..33, then information parts,
then picture parts), then per slot its data part (135752 bytes for slots
0-31, 4379 for 32, 366152 for 33), its SaveInfo (1296: title[128],
subtitle[128], detail[1024], date u16 x 6 + u32 0) and its picture part
(116754). registry.cdf holds 34 SHA-1 digests of 20 bytes.
"""

import argparse
import hashlib
import os
import struct
import sys
import zlib

SLOTS = 34
INFO = 1296
PICT = 116754
FLAGS = 102
IMAGE = 8728397
REGISTRY = 680
VERSION = b'0100'  # the first four bytes of SystemData and GameState


def data_size(slot):
    return 135752 if slot < 32 else 4379 if slot == 32 else 366152


def offset(slot, part):
    at = FLAGS
    for i in range(slot):
        at += data_size(i) + INFO + PICT
    if part >= 1:
        at += data_size(slot)
    if part == 2:
        at += INFO
    return at


class Bad(Exception):
    pass


def read_gz(path, size):
    with open(path, 'rb') as f:
        raw = f.read()
    d = zlib.decompressobj(31)
    try:
        out = d.decompress(raw, size + 1)
    except zlib.error as e:
        raise Bad('%s: %s' % (path, e))
    if not d.eof or len(out) != size:
        raise Bad('%s: member of %d bytes, %d expected' % (path, len(out), size))
    if d.unused_data != struct.pack('<II', 0, size):
        raise Bad('%s: trailer %r' % (path, d.unused_data[:16]))
    return out


def write_gz(path, data):
    c = zlib.compressobj(6, zlib.DEFLATED, 31)
    body = c.compress(data) + c.flush()
    with open(path, 'wb') as f:
        f.write(body + struct.pack('<II', 0, len(data)))


def cstr(b, at, width, what):
    end = b.find(b'\0', at, at + width)
    if end < 0:
        raise Bad('%s: no terminator' % what)
    return b[at:end]


def check(args):
    image = read_gz(os.path.join(args.dir, 'save.cdf'), IMAGE)
    registry = read_gz(os.path.join(args.dir, 'registry.cdf'), REGISTRY)
    if any(v > 1 for v in image[:FLAGS]):
        raise Bad('flag bytes other than 0 and 1')
    wanted = {}
    for given in args.slot:
        slot, _, end = given.partition(':')
        wanted[int(slot)] = end
    for s in range(SLOTS):
        if not image[s]:
            if s in wanted:
                raise Bad('slot %d is empty' % s)
            continue
        if not image[SLOTS + s] or not image[2 * SLOTS + s]:
            raise Bad('slot %d: information or picture flag missing' % s)
        data = image[offset(s, 0):offset(s, 0) + data_size(s)]
        if hashlib.sha1(data).digest() != registry[20 * s:20 * s + 20]:
            raise Bad('slot %d: digest differs' % s)
        at = offset(s, 1)
        title = cstr(image, at, 128, 'slot %d title' % s)
        subtitle = cstr(image, at + 128, 128, 'slot %d subtitle' % s)
        cstr(image, at + 256, 1024, 'slot %d detail' % s)
        year, month, day, hour, minute, second, zero = struct.unpack_from('<6HI', image, at + 1280)
        if zero != 0 or not (1 <= month <= 12 and 1 <= day <= 31 and hour < 24 and minute < 60):
            raise Bad('slot %d: date' % s)
        if s < 32 and not subtitle.endswith(b'_%02d' % (s + 1)):
            raise Bad('slot %d: subtitle %r lacks its suffix' % (s, subtitle))
        if wanted.get(s) and not subtitle.endswith(wanted[s].encode()):
            raise Bad('slot %d: subtitle %r' % (s, subtitle))
        if s in args.icon_slot:
            w, h, bpp = struct.unpack_from('<HHB', image, offset(s, 2) + 12)
            if image[offset(s, 2):offset(s, 2) + 12] != bytes(12) or (w, h, bpp) != (228, 128, 32):
                raise Bad('slot %d: picture header' % s)
        print('slot %d: %s %04d-%02d-%02d' % (s, title.decode('utf-8', 'replace'), year, month, day))
    return 0


def empty_image():
    return bytearray(IMAGE)


def patterned(slot, seed):
    """A slot's data block: the version the engine writes, then byte i =
    (i * 31 + seed) & 255."""
    data = bytearray((i * 31 + seed) & 255 for i in range(data_size(slot)))
    data[0:4] = VERSION
    return bytes(data)


def put_slot(image, table, slot, data, title=b'title', subtitle=b'sub'):
    image[slot] = image[SLOTS + slot] = image[2 * SLOTS + slot] = 1
    image[offset(slot, 0):offset(slot, 0) + len(data)] = data
    info = bytearray(INFO)
    info[0:len(title)] = title
    if slot < 32:
        subtitle += b'_%02d' % (slot + 1)
    info[128:128 + len(subtitle)] = subtitle
    struct.pack_into('<6HI', info, 1280, 2030, 1, 2, 3, 4, 5, 0)
    image[offset(slot, 1):offset(slot, 1) + INFO] = info
    table[20 * slot:20 * slot + 20] = hashlib.sha1(bytes(data)).digest()


def save_files(folder, image, table):
    os.makedirs(folder, exist_ok=True)
    write_gz(os.path.join(folder, 'save.cdf'), bytes(image))
    write_gz(os.path.join(folder, 'registry.cdf'), bytes(table))


def system_data(args):
    d = bytearray(4379)
    d[0:4] = VERSION
    d[5:15] = bytes([0, 60, 80, 0, 100, 50, 50, 100, 100, 1])
    d[29] = args.language & 0xFF
    for given in args.var:
        n, _, v = given.partition('=')
        d[94 + int(n)] = int(v) & 0xFF
    for pid in args.event:
        bit = pid - 2000
        d[4326 + bit // 8] |= 1 << (bit % 8)
    for k in [18] + args.track:
        d[4374 + k // 8] |= 1 << (k % 8)
    struct.pack_into('<H', d, 4377, args.special & 0x7FFF)
    return bytes(d)


def system(args):
    image, table = empty_image(), bytearray(REGISTRY)
    put_slot(image, table, 32, system_data(args), subtitle=b'system')
    save_files(args.dir, image, table)
    return 0


def write(args):
    image, table = empty_image(), bytearray(REGISTRY)
    for given in args.slot:
        slot, _, seed = given.partition(':')
        slot, seed = int(slot), int(seed or 0)
        put_slot(image, table, slot, patterned(slot, seed))
    if args.corrupt is not None:
        image[offset(args.corrupt, 0) + 7] ^= 0xFF
    save_files(args.dir, image, table)
    return 0


def main():
    p = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    sub = p.add_subparsers(dest='cmd', required=True)
    c = sub.add_parser('check')
    c.add_argument('dir')
    c.add_argument('--slot', action='append', default=[])
    c.add_argument('--icon-slot', action='append', type=int, default=[])
    s = sub.add_parser('system')
    s.add_argument('dir')
    s.add_argument('--language', type=int, default=1)
    s.add_argument('--var', action='append', default=[])
    s.add_argument('--event', action='append', type=int, default=[])
    s.add_argument('--track', action='append', type=int, default=[])
    s.add_argument('--special', type=int, default=0)
    w = sub.add_parser('write')
    w.add_argument('dir')
    w.add_argument('--slot', action='append', default=[])
    w.add_argument('--corrupt', type=int)
    args = p.parse_args()
    try:
        return {'check': check, 'system': system, 'write': write}[args.cmd](args)
    except Bad as e:
        print('save_data.py: %s' % e, file=sys.stderr)
        return 1


if __name__ == '__main__':
    sys.exit(main())
