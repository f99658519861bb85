#!/usr/bin/env python3
"""Generate the built-in event-picture and music catalogues.

Writes story/catalogue_data.inc and extras/gallery_data.inc (or the two
paths given as arguments); `--check` only lints the tables and exits non-zero
on a fault.

The gallery tables (two variants, R18 and all-ages) order the pictures by
category: 0 "dova", 1 "quorin", 2 "pemble", 3 "lirra", 4 "sefa" and one
"lirra", 5 "deformation", "other", four "pemble", one "lirra" and the two
last pictures. Ids 2104 and 2350..2355 stand in neither variant; all-ages
thumbnail j of a category takes the first pictures of R18 thumbnail j.

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

# Pictures per thumbnail, by category.
R18_THUMBS = [
    [1, 2, 2, 1, 2, 5, 2, 4, 6, 8, 6, 7, 6, 6, 1, 3],
    [1, 3, 2, 3, 10, 12, 2, 4, 5, 5, 1, 1],
    [7, 1, 3, 3, 17, 5, 5, 11, 8, 5, 1, 1, 1],
    [1, 6, 2, 4, 8, 9, 5, 4, 8, 7, 3, 11, 10, 1, 1],
    [3, 1, 10, 2, 5, 13, 4, 3, 12, 6, 7, 8, 2, 1, 1, 6],
    [2, 2, 2, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1, 1, 2, 1, 1, 1, 1, 1, 1],
]
AA_THUMBS = [
    [1, 2, 2, 1, 2, 5, 2, 2, 2, 1, 3],
    [1, 3, 2, 2, 1, 1],
    [7, 1, 3, 1, 3, 1, 1, 1],
    [1, 6, 2, 4, 4, 3, 3, 1, 1],
    [3, 1, 10, 2, 3, 2, 1, 1, 6],
    R18_THUMBS[5],
]
EXCLUDED = {2104} | set(range(2350, 2356))
DOVA_START = [2105, 2157, 2158, 2130, 2131, 2106]


def gallery():
    """(R18 categories of id runs, all-ages categories): each a list of 6
    categories, each a list of thumbnails, each a list of ids."""
    def ids(first, last):
        return [i for i in range(first, last + 1) if i not in EXCLUDED]
    dova = DOVA_START + [i for i in ids(2096, 2158) if i not in DOVA_START]
    quorin = ids(2319, 2373)
    pemble = ids(2159, 2230)
    lirra = ids(2231, 2312)
    sefa = ids(2013, 2095)
    pools = [dova, quorin, pemble[:68], lirra[:80], sefa + lirra[80:81],
             ids(2000, 2012) + ids(2313, 2318) + pemble[68:] + lirra[81:] + [2374, 2375]]
    r18 = []
    for pool, counts in zip(pools, R18_THUMBS):
        runs, at = [], 0
        for n in counts:
            runs.append(pool[at:at + n])
            at += n
        assert at == len(pool), (at, len(pool))
        r18.append(runs)
    aa = [[r18[c][j][:n] for j, n in enumerate(counts)] for c, counts in enumerate(AA_THUMBS)]
    return r18, aa


def lint_gallery(r18, aa):
    faults = []
    flat = {}
    for name, cats in (('r18', r18), ('aa', aa)):
        order = [i for cat in cats for thumb in cat for i in thumb]
        flat[name] = order
        if len(set(order)) != len(order):
            faults.append('%s: repeated id' % name)
        if EXCLUDED & set(order):
            faults.append('%s: excluded id' % name)
        if order[-2:] != [2374, 2375] or [len(t) for t in cats[5][-2:]] != [1, 1]:
            faults.append('%s: last pictures' % name)
        if any(len(cat) > 21 for cat in cats) or any(not t for cat in cats for t in cat):
            faults.append('%s: thumbnail counts' % name)
    if len(flat['r18']) != 369 or len(flat['aa']) != 131:
        faults.append('picture counts %d/%d' % (len(flat['r18']), len(flat['aa'])))
    if set(flat['r18']) != set(range(2000, 2376)) - EXCLUDED:
        faults.append('r18 does not hold every other id')
    if not set(flat['aa']) <= set(flat['r18']):
        faults.append('all-ages is not a subset')
    if flat['r18'][:17] != flat['aa'][:17] or flat['r18'][:6] != DOVA_START:
        faults.append('shared beginning')
    return faults


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


def emit_gallery(r18, aa):
    lines = ['// Generated by tools/catalogue_data.py. Do not edit.', '']
    for tag, cats in (('R18', r18), ('AllAges', aa)):
        order = [i for cat in cats for thumb in cat for i in thumb]
        thumbs = [t for cat in cats for t in cat]
        lines.append('static const int32_t kGalleryPictures%s[%d] = {' % (tag, len(order)))
        for i in range(0, len(order), 12):
            lines.append('    ' + ' '.join('%d,' % v for v in order[i:i + 12]))
        lines += ['};', '', 'static const GalleryThumb kGalleryThumbs%s[%d] = {' % (tag, len(thumbs))]
        at = 0
        for t in thumbs:
            lines.append('    {%d, %d},' % (len(t), at))
            at += len(t)
        lines += ['};', '', 'static const GalleryCategory kGalleryCategories%s[6] = {' % tag]
        first = 0
        for cat in cats:
            lines.append('    {kGalleryThumbs%s + %d, %d, %d},' % (tag, first, len(cat), first))
            first += len(cat)
        lines += ['};', '']
    return '\n'.join(lines)


def main():
    pics = pictures()
    r18, aa = gallery()
    faults = lint(pics, TRACKS) + lint_gallery(r18, aa)
    for f in faults:
        print('catalogue_data: ' + f, file=sys.stderr)
    if faults:
        return 1
    if '--check' in sys.argv[1:]:
        return 0
    args = [a for a in sys.argv[1:] if not a.startswith('--')]
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..')
    out = args[0] if args else os.path.join(root, 'story', 'catalogue_data.inc')
    out_gallery = args[1] if len(args) > 1 else os.path.join(root, 'extras', 'gallery_data.inc')
    with open(out, 'w', encoding='ascii') as f:
        f.write(emit(pics, TRACKS))
    with open(out_gallery, 'w', encoding='ascii') as f:
        f.write(emit_gallery(r18, aa))
    return 0


if __name__ == '__main__':
    sys.exit(main())
