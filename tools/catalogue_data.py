#!/usr/bin/env python3
"""Generate the built-in event-picture and music catalogues.

Writes story/catalogue_data.inc (or the path given as the first argument);
`--check` only lints the tables and exits non-zero on a fault.

Picture names are "event_" + group key + "_" + title + variant, with titles of
kanji, kana and full-width letters and digits; within a group the records
stand in the byte order of their stored (UTF-8) names. Track stems are
Japanese titles, except records 18 ("quillmere", the title track), 19 and 20,
which are lower-case ASCII. Every name is at most 62 bytes, unique, free of
upper-case ASCII, and its Shift-JIS form (through gen_cp932's tables) is never
longer than the UTF-8 form and, for a non-ASCII name, is not valid UTF-8.
"""

import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen_cp932  # noqa: E402

# Scene words; titles are built by joining two of them (with a full-width
# digit for the later ones), so every title is unique.
WORDS = ('朝焼け 夕暮れ 星空 海辺 森 花畑 雨宿り 祭り 教室 屋上 図書館 帰り道 '
         '約束 手紙 告白 再会 旅立ち 夜明け 雪景色 湖 桜 月夜 秘密 記憶').split()
FULLWIDTH = 'ＡＢＣＤＥＦ１２３４５６７８９'

GROUPS = [  # key, count, fixed names first (ASCII, so they sort first)
    ('deformation', 13, []),
    ('sefa', 83, ['ed_a', 'ed_b']),
    ('dova', 63, ['ed']),
    ('pemble', 72, ['ed']),
    ('lirra', 82, ['ed']),
    ('other', 6, []),
    ('quorin', 55, []),
]

TRACKS = ['セファのテーマ', '風の行方', 'ドーヴァのテーマ', '静かな午後', 'ペンブルのテーマ',
          '雨の窓辺', 'リラのテーマ', '街角の灯', 'クオリンのテーマ', '遠い記憶', '緊張',
          '陽だまり', '夜想曲', '追憶', 'セーブとロード', '哀しみの森', 'ギャラリー', '約束の空',
          'quillmere', 'overture', 'reverie']

ENCODE = None


def sjis(text):
    """Shift-JIS bytes of text through gen_cp932's tables; None for a
    character without a code, or one where Python's cp932 codec disagrees."""
    global ENCODE
    if ENCODE is None:
        _, index, records, _ = gen_cp932.build()
        ENCODE = {}
        for low in range(256):
            for high, b1, b2 in records[index[low]:index[low + 1]]:
                ENCODE[(high << 8) | low] = bytes([b1, b2]) if b2 else bytes([b1])
    out = b''
    for ch in text:
        u = ord(ch)
        code = bytes([u]) if u < 0x80 else ENCODE.get(u)
        if code is None:
            return None
        try:
            if ch.encode('cp932') != code:
                return None
        except UnicodeEncodeError:
            return None
        out += code
    return out


def titles():
    for n in range(10000):
        a, b = WORDS[n % len(WORDS)], WORDS[(n // len(WORDS)) % len(WORDS)]
        t = a if n < len(WORDS) else a + 'の' + b
        if n >= len(WORDS) * len(WORDS):
            t += FULLWIDTH[n % len(FULLWIDTH)]
        yield t


def pictures():
    gen = titles()
    names = []
    for key, count, fixed in GROUPS:
        group = ['event_%s_%s' % (key, f) for f in fixed]
        while len(group) < count:
            title = next(gen)
            if key in ('deformation', 'quorin', 'sefa', 'lirra') and len(group) % 3 == 1:
                variants = ['a', 'b'] if key != 'lirra' else ['a1', 'b2']
            else:
                variants = ['']
            for v in variants:
                if len(group) < count:
                    group.append('event_%s_%s%s' % (key, title, v))
        fixed_names = group[:len(fixed)]
        rest = sorted(group[len(fixed):], key=lambda s: s.encode('utf-8'))
        names += fixed_names + rest
    names += ['event_other_last1', 'event_other_last2']
    return names


def lint(pics, tracks):
    faults = []
    if len(pics) != 376 or len(tracks) != 21:
        faults.append('counts %d/%d' % (len(pics), len(tracks)))
    if len(set(pics)) != len(pics) or len(set(tracks)) != len(tracks):
        faults.append('duplicate names')
    for name in pics + tracks:
        raw = name.encode('utf-8')
        if len(raw) > 62 or not raw:
            faults.append('%r: length' % name)
        if any('A' <= c <= 'Z' for c in name):
            faults.append('%r: upper-case ASCII' % name)
        s = sjis(name)
        if s is None:
            faults.append('%r: no Shift-JIS form' % name)
            continue
        if len(s) > len(raw):
            faults.append('%r: Shift-JIS longer' % name)
        if s != raw:
            try:
                s.decode('utf-8')
                faults.append('%r: Shift-JIS form is valid UTF-8' % name)
            except UnicodeDecodeError:
                pass
    start = 0
    for key, count, fixed in GROUPS:
        group = pics[start:start + count]
        if any(not n.startswith('event_%s_' % key) for n in group):
            faults.append('group %s' % key)
        for i, f in enumerate(fixed):
            if group[i] != 'event_%s_%s' % (key, f):
                faults.append('fixed %s' % f)
        raw = [n.encode('utf-8') for n in group]
        if raw != sorted(raw):
            faults.append('group %s out of order' % key)
        start += count
    if pics[374:] != ['event_other_last1', 'event_other_last2']:
        faults.append('last pictures')
    if tracks[18] != 'quillmere' or not all(t.isascii() and t.islower() for t in tracks[19:]):
        faults.append('ASCII tracks')
    if any(t.isascii() for t in tracks[:18]):
        faults.append('Japanese tracks')
    return faults


def c_string(name):
    return '"' + ''.join(c if c.isascii() and c.isalnum() or c == '_' else '\\%03o' % b
                         for c in name for b in c.encode('utf-8')) + '"'


def emit(pics, tracks):
    lines = ['// Generated by tools/catalogue_data.py. Do not edit.',
             '// Names are stored in UTF-8, zero-padded to 64 bytes.', '',
             'static const EventPictureRecord kEventPictures[%d] = {' % len(pics)]
    lines += ['    {%s, %d},' % (c_string(n), 2000 + i) for i, n in enumerate(pics)]
    lines += ['};', '', 'static const BgmTrackRecord kBgmTracks[%d] = {' % len(tracks)]
    lines += ['    {%s, -1},' % c_string(n) for n in tracks]
    lines += ['};', '']
    return '\n'.join(lines)


def main():
    pics = pictures()
    faults = lint(pics, TRACKS)
    for f in faults:
        print('catalogue_data: ' + f, file=sys.stderr)
    if faults:
        return 1
    if '--check' in sys.argv[1:]:
        return 0
    args = [a for a in sys.argv[1:] if not a.startswith('--')]
    out = args[0] if args else os.path.join(os.path.dirname(os.path.abspath(__file__)), '..',
                                            'story', 'catalogue_data.inc')
    with open(out, 'w', encoding='ascii') as f:
        f.write(emit(pics, TRACKS))
    return 0


if __name__ == '__main__':
    sys.exit(main())
