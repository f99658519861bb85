"""Scenario scripts for the script container (standard library only).

An author writes scripts as UTF-8 text; the interpreter reads Shift-JIS
(code page 932) with CR LF line ends. This module converts them, refuses
what the interpreter could not run, and writes the label index 00_info.bin.

  script_bytes(text, name)   one UTF-8 source -> the member's bytes
  info_bytes(members)        [(name, bytes)] -> the label index
  script_arc_bytes(folder)   every *.txt of a folder + 00_info.bin -> container
  command_uses(folder)       command name -> ["file:line", ...] of its tags
  command_name(tag)          the command a tag names, as an author reads it
  read_scenarios(folder)     every *.txt of a folder, checked -> (members,
                             Story, places behind own-file calls warned of)
  find_member(word, ...)     the member a call, jump or menuadd names, found
                             as the engine finds it (Members: one index of
                             the names, for many lookups)

  script_data.py uses FOLDER   prints which line uses which command, and the
                               commands of the table that no tag uses

Refused (DataError, naming file, line and column): a character without a
code, a member of 1 MiB or more, a tag over 1535 bytes, a command name over
31 bytes, more than 33 arguments, a tag that no '>' closes before the end
and one that runs on over its line's end into the next line's '<' (a
double quote left open, which takes the '>' in, is named as such), a
source not in UTF-8; in the
index a label name over 63 bytes or a label twice in one file (with both
lines); in the folder a member name that is not ASCII, does not end in
".txt" or is over 47 bytes, more than 4096 members, and a 00_info.bin of
its own.

Warned (printed to stderr, or handed to the `warn` callback): a command name
the table lacks, a label line whose next tag is not <label or that holds a
space, a '<' inside a ';' comment, a call, jump or menuadd whose file or
label the container lacks or that names a label line cut short by a space,
and a call that makes its file's return come back behind it for ever (a
return goes back behind the newest call into its file): a call of its own
file with no label, and a call of a label of its own file whose part comes
back when the file then reaches a return or its end (Story follows the
story through ifs, jumps, choices and calls to find both). The author's
checker (script_check.py) searches the same Story for the loops the
engine's loop watch ends.

Syntax as the interpreter reads it: a byte of 0x81 or above outside
0xA0..0xDF leads a two-byte character whose second byte is never syntax; a
tag runs from '<' to the first '>' outside double quotes (a '"' followed by
' ', ',' or '>' ends quoting, any other '"' starts it); ' ' and ',' separate
arguments (a space, more spaces and one ',' are one separator); between tags
';' starts a comment that ends behind CR LF. A label is a line beginning
with '*'; the index records the offset of that '*'.
"""

import bisect
import os
import re
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gen_cp932  # noqa: E402
import vndata  # noqa: E402

MEMBER_LIMIT = 1 << 20
TAG_LIMIT = 1535
NAME_LIMIT = 31
ARG_LIMIT = 33
LABEL_LIMIT = 63
MEMBER_NAME_LIMIT = 47
MEMBER_COUNT_LIMIT = 4096
INFO_NAME = "00_info.bin"
INIT_NAME = "00_init.txt"  # where the story starts
SYSTEM_VARIABLES = tuple(range(24))  # [00] to [23], kept with the player's settings
GAME_VARIABLES = tuple(range(2000, 2024))  # [2000] to [2023], kept with a game; clearvar sets them to 0
INFO_RECORD = 136

COMMANDS = {
    "analyze_00": 9, "name": 10, "text": 11, "keywait": 12, "voice": 13, "font": 14,
    "windowex": 15, "setautowin": 16, "voice_wait": 17, "voice_stop": 18, "textspeed": 19,
    "lw": 20, "winframe": 21, "cm": 22, "layopt": 23, "position": 24, "trans": 30, "wt": 31,
    "backlay": 32, "image": 33, "freeimage": 34, "move": 35, "stopmove": 36, "wm": 37,
    "quake": 40, "stopquake": 41, "wq": 42, "staffroll_set": 43, "staffroll_start": 44,
    "staffroll_wait": 45, "staffroll_end": 46, "effect": 50, "gradater": 51,
    "openvideo": 100, "playbgm": 101, "stopbgm": 102, "playse": 103, "stopse": 104, "ws": 105,
    "soundstopall": 106, "label": 110, "call": 111, "return": 112, "eval": 113, "jump": 114,
    "gosub": 115, "menustart": 116, "menuadd": 117, "clearvar": 118, "if": 120, "elseif": 121,
    "else": 122, "endif": 123, "jump_endif": 124, "trophy": 130, "returnmenu": 131,
    "wait": 132, "input": 133, "click": 134, "cancelskipping": 135, "autosaverange": 136,
    "debug": 149,
}

# The commands that never wait and choose the story's way by the variables,
# the labels passed, the return pending and rand() draws alone (and those
# that do nothing): the engine's loop watch lets them through, and a loop of
# them alone is one it may end. Every other command counts as a wait.
# COMMANDS and PLAIN are checked against tests/data/commands.txt, which the
# engine's own table is checked against too.
PLAIN = {
    "analyze_00", "name", "text", "font", "windowex", "setautowin", "voice_wait", "voice_stop", "textspeed",
    "winframe", "cm", "layopt", "position", "trans", "backlay", "move", "stopmove", "stopquake", "staffroll_set",
    "staffroll_start", "staffroll_end", "effect", "gradater", "stopse", "soundstopall", "label", "call", "return",
    "eval", "jump", "gosub", "menuadd", "clearvar", "if", "elseif", "else", "endif", "jump_endif", "trophy", "input",
    "cancelskipping", "autosaverange",
}

_INDICES = set(COMMANDS.values())
# The commands that name a file and a label: the position of the file
# (the label follows it).
TARGETS = {b"call": 0, b"jump": 0, b"menuadd": 2}
_ENCODE = None


def encode_table():
    """UTF-16 value -> code bytes, built from the engine's own table source."""
    global _ENCODE
    if _ENCODE is None:
        _, index, records, _ = gen_cp932.build()
        table = {}
        for low in range(256):
            for high, first, second in records[index[low]:index[low + 1]]:
                table[(high << 8) | low] = bytes([first]) if second == 0 else bytes([first, second])
        _ENCODE = table
    return _ENCODE


def is_lead(b):
    return b > 0x80 and not 0xA0 <= b <= 0xDF


def _default_warn(message):
    print(vndata.located("warning", message, "."), file=sys.stderr)


class _Where:
    """Maps byte offsets of an encoded member back to source line and column."""

    def __init__(self, name):
        self.name = name
        self.starts = []  # (byte offset, line, column) per source character

    def at(self, offset):
        lo, hi = 0, len(self.starts)
        while lo + 1 < hi:
            mid = (lo + hi) // 2
            if self.starts[mid][0] <= offset:
                lo = mid
            else:
                hi = mid
        if not self.starts:
            return "%s:1:1" % self.name
        _, line, col = self.starts[lo]
        return "%s:%d:%d" % (self.name, line, col)


def encode(text, name):
    if text.startswith("\ufeff"):
        text = text[1:]
    text = text.replace("\r\n", "\n").replace("\r", "\n")
    table = encode_table()
    out, where = bytearray(), _Where(name)
    line, col = 1, 1
    for ch in text:
        u = ord(ch)
        where.starts.append((len(out), line, col))
        if ch == "\n":
            out += b"\r\n"
            line, col = line + 1, 1
            continue
        if u < 0x80:
            out.append(u)
        elif 0xFF61 <= u <= 0xFF9F:
            out.append(u - 0xFEC0)
        elif u in table:
            out += table[u]
        else:
            raise vndata.DataError("%s:%d:%d: %r has no Shift-JIS code" % (name, line, col, ch))
        col += 1
    return bytes(out), where


def char_len(data, i):
    return 2 if is_lead(data[i]) and i + 1 < len(data) and data[i + 1] != 0 else 1


def cut_tag(data, start):
    """The tag whose '<' is at start, cut as the interpreter cuts it: it runs
    to the first '>' outside double quotes (a '"' followed by ' ', ',' or
    '>' ends quoting, any other '"' starts it); ' ' and ',' outside quotes
    separate arguments. Returns (end offset behind its '>', or None when a
    NUL or the end comes first; the tag bytes; its argument words; the offset
    of the '"' whose quoting is open where the tag's first line ends or at
    the end, or None)."""
    i, quote, bounds, arg_start = start + 1, False, [], None
    quote_at, open_at = None, None
    while i < len(data):
        b = data[i]
        if b == 0:
            break
        if char_len(data, i) == 2:
            i += 2
            continue
        if b == ord('"'):
            after = data[i + 1] if i + 1 < len(data) else 0
            if not quote:
                quote_at = i
            quote = after not in b" ,>"
        elif b == 0x0D and quote and open_at is None:
            open_at = quote_at
        elif not quote and b == ord(">"):
            if arg_start is not None:
                bounds.append(arg_start)
            return i + 1, data[start:i + 1], [_word(data, s) for s in bounds], open_at
        elif not quote and b in b" ,":
            if arg_start is not None:
                bounds.append(arg_start)
            i += 1
            while i < len(data) and data[i] == 0x20:
                i += 1
            if b == 0x20 and i < len(data) and data[i] == ord(","):
                i += 1
                while i < len(data) and data[i] == 0x20:
                    i += 1
            arg_start = i
            continue
        i += 1
    return None, data[start:i], [], open_at if open_at is not None else (quote_at if quote else None)


def _word(data, start):
    """An argument word as the interpreter copies it (quotes kept)."""
    i, quote = start, False
    while i < len(data):
        b = data[i]
        if b == 0 or (not quote and b in b" ,>"):
            break
        n = char_len(data, i)
        if n == 1 and b == ord('"'):
            after = data[i + 1] if i + 1 < len(data) else 0
            quote = after not in b" ,>"
        i += n
    return data[start:i]


def name_of(tag):
    i = 1
    while i < len(tag) and tag[i] not in b" >":
        i += char_len(tag, i)
    return tag[1:i]


def numeric(name):
    """The index a command name written as a number stands for, read as the
    engine reads it (a sign, then the ASCII digits 0-9), or None: not a
    number, 0, or beyond a 32-bit index."""
    m = re.match(rb"[+-]?[0-9]+", name)
    if not m:
        return None
    value = int(m.group(0))
    return value if value != 0 and -(1 << 31) <= value < (1 << 31) else None


def each_tag(data, where, warn):
    """Yields (offset, tag bytes, words) of every tag, checking each."""
    i = 0
    while i < len(data):
        b = data[i]
        if b == 0:
            return
        if b == ord(";"):
            j = i + 1
            while j < len(data) and data[j] != 0:
                if data[j] == 0x0D and j + 1 < len(data) and data[j + 1] == 0x0A:
                    j += 2
                    break
                if data[j] == ord("<"):
                    warn("%s: '<' inside a ';' comment" % where.at(j))
                j += char_len(data, j)
            i = j
            continue
        if b != ord("<"):
            i += char_len(data, i)
            continue
        end, tag, words, open_at = cut_tag(data, i)
        line_end = tag.find(b"\r\n")
        runs_on = line_end >= 0 and b"<" in tag[line_end:]  # into the next line's tag
        if open_at is not None and (end is None or runs_on):
            raise vndata.DataError("%s: double quote not closed: the '>' behind it is read as quoted text "
                                   "(a '\"' in a text is written $4)" % where.at(open_at))
        if end is None:
            raise vndata.DataError("%s: tag not closed by '>' before the end of the file" % where.at(i))
        if runs_on:
            raise vndata.DataError("%s: tag not closed by '>' on its line: the game reads on to the '>' on line %s, "
                                   "taking the tags between in as its arguments" % (
                                       where.at(i), where.at(end - 1).split(":")[1]))
        if len(tag) > TAG_LIMIT:
            raise vndata.DataError("%s: tag of %d bytes (at most %d)" % (where.at(i), len(tag), TAG_LIMIT))
        name = name_of(tag)
        if len(name) > NAME_LIMIT:
            raise vndata.DataError("%s: command name of %d bytes (at most %d)" % (where.at(i), len(name), NAME_LIMIT))
        if len(words) > ARG_LIMIT and name in (b"text", b"name", b"11", b"10"):
            raise vndata.DataError("%s: a sentence of %d words stands where a message key belongs: %s reads a key "
                                   "(TEXT_n from the message table) or one text in place, whose spaces and commas "
                                   "separate arguments (at most %d)" % (where.at(i), len(words), name.decode(), ARG_LIMIT))
        if len(words) > ARG_LIMIT:
            raise vndata.DataError("%s: %d arguments (at most %d)" % (where.at(i), len(words), ARG_LIMIT))
        number = numeric(name)
        if (name.decode("latin-1") not in COMMANDS if number is None else number not in _INDICES):
            shown = name.decode("cp932", "replace")
            head = shown.split("\t", 1)[0]
            if "\t" in shown and head in COMMANDS:
                warn("%s: unknown command '%s<TAB>%s': a tab does not end a command's name, write a space after %s"
                     % (where.at(i), head, shown.split("\t", 1)[1], head))
            else:
                warn("%s: unknown command %r" % (where.at(i), shown))
        yield i, tag, words
        i = end


LABEL_LINE_UNRECORDED = "label line not followed by <label>"  # how that warning begins


def _check(data, name, where, warn):
    """Checks a member; returns its tags."""
    if len(data) >= MEMBER_LIMIT:
        raise vndata.DataError("%s: %d bytes (a member holds less than 1 MiB)" % (name, len(data)))
    tags = list(each_tag(data, where, warn))
    offsets = [t[0] for t in tags]
    # A label line should be followed by its <label> tag.
    for offset in _label_offsets(data):
        label, rest = _label_at(data, offset)
        if rest and not rest.startswith(b";"):
            warn("%s: label line %s %s: a label ends at a space or tab, so this one is %s, and a tag naming "
                 "the whole line reads %s as further arguments" % (
                     where.at(offset), label.decode("cp932", "replace"), rest.decode("cp932", "replace"),
                     label.decode("cp932", "replace"), rest.decode("cp932", "replace")))
        at = bisect.bisect_right(offsets, offset)
        if at == len(tags) or name_of(tags[at][1]) != b"label":
            warn("%s: %s: passing it is not recorded, so a save made after it or the <return> of a file called "
                 "there goes by the label before it; write <label> after it, but for a loop that waits, which would "
                 "fill the game's history of labels" % (where.at(offset), LABEL_LINE_UNRECORDED))
    return tags


def script_bytes(text, name, warn=_default_warn):
    """The member bytes of a UTF-8 source: Shift-JIS, CR LF, no byte-order mark."""
    data, where = encode(text, name)
    _check(data, name, where, warn)
    return data


def _label_offsets(data):
    offsets = []
    i = 0
    while i < len(data):
        if data[i] == ord("*") and (i == 0 or data[i - 1] == 0x0A):
            offsets.append(i)
        nl = data.find(b"\n", i)
        if nl < 0:
            break
        i = nl + 1
    return offsets


def _label_at(data, offset):
    """(label, the rest of its line stripped) of the label line at offset."""
    end = offset
    while end < len(data) and data[end] not in b" \t\r\n\0":
        end += 1
    return data[offset:end], _line_rest(data, end).strip(b" \t")


def _line_rest(data, start):
    stop = data.find(b"\r\n", start)
    return data[start:stop if stop >= 0 else len(data)]


def _labels(name, data, where=None):
    """[(label, offset)] of a member."""
    seen, out = {}, []
    at = (lambda offset: where.at(offset).rsplit(":", 1)[0]) if where else (lambda offset: name)
    for offset in _label_offsets(data):
        label, _ = _label_at(data, offset)
        if len(label) > LABEL_LIMIT:
            raise vndata.DataError("%s: label %r over %d bytes" % (at(offset), label.decode("cp932", "replace"), LABEL_LIMIT))
        if label in seen:
            first = "line %s" % where.at(seen[label]).split(":")[1] if where else "before"
            raise vndata.DataError("%s: label %r twice (first on %s)" % (
                at(offset), label.decode("cp932", "replace"), first))
        seen[label] = offset
        out.append((label, offset))
    return out


def info_bytes(members, places=None):
    """The label index: i32 count, 4 zero bytes, then {label[64], file[64],
    u64 offset} per label, in member order, then line order."""
    records = []
    for name, data in members:
        for label, offset in _labels(name, data, (places or {}).get(name)):
            records.append(label.ljust(64, b"\0") + vndata.encode_name(name).ljust(64, b"\0") +
                           struct.pack("<Q", offset))
    return struct.pack("<iI", len(records), 0) + b"".join(records)


def _cut_labels(data, where):
    """{label: (the rest of its line, its line number)} of the label lines
    of a member that hold a space (the label ends at it)."""
    out = {}
    for offset in _label_offsets(data):
        label, rest = _label_at(data, offset)
        if rest and not rest.startswith(b";"):
            out[label] = (rest, where.at(offset).split(":")[1])
    return out


# What a call, jump or menuadd reads the word behind its label as.
_AFTER_LABEL = {b"call": "as an argument it passes over", b"jump": "as its condition", b"menuadd": "as its statements"}


def _spaced_label(command, label, after, cut):
    """The message for a call, jump or menuadd that names a label line cut
    short by a space (cut: _cut_labels of its member), written in one word
    (label) or as the label and the words behind it (after), or None."""
    for have, (rest, line) in cut.items():
        whole = b" ".join([have] + rest.split())
        if b" ".join(label.split()) == whole or (label == have and after[:len(rest.split())] == rest.split()):
            return ("%s names label %s, but a label ends at a space: line %s makes the label %s, and %s reads %s %s; "
                    "write the label without spaces" % (
                        command.decode(), whole.decode("cp932", "replace"), line, have.decode("cp932", "replace"),
                        command.decode(), rest.decode("cp932", "replace"), _AFTER_LABEL[command.lower()]))
    return None


def name_part(name):
    """A file name without folder and extension, as the engine cuts it: from
    behind the last '/', '\\' or tab to the first '.'."""
    start, i = 0, 0
    while i < len(name):
        if name[i] in b"\\/\t":
            start = i + 1
        i += char_len(name, i)
    base = name[start:]
    i = 0
    while i < len(base):
        if base[i] == ord("."):
            return base[:i]
        i += char_len(base, i)
    return base


def unquoted(word):
    return word[1:-1] if len(word) >= 2 and word[:1] == b'"' and word[-1:] == b'"' else word


class Members:
    """The members of a container, indexed by their names as the engine
    matches them ('A'..'Z' taken as 'a'..'z'), each name lowered once."""

    def __init__(self, names):
        self.names = list(names)
        self.lowered = [vndata.sjis_lower(vndata.encode_name(name)) for name in self.names]
        self.first = {}
        for low, name in zip(self.lowered, self.names):
            self.first.setdefault(low, name)
        self.lookups = 0  # names looked up, the unit the checker's cost is counted in

    def find(self, word, current):
        """find_member of word in these members."""
        self.lookups += 1
        wanted = name_part(unquoted(word))
        if not wanted:
            return current
        wanted = vndata.sjis_lower(wanted + b".txt")
        if b"*" not in wanted:
            return self.first.get(wanted)
        for low, name in zip(self.lowered, self.names):
            if len(low) == len(wanted) and all(w in (c, ord("*")) for w, c in zip(wanted, low)):
                return name
        return None


def find_member(word, current, members):
    """The member a call, jump or menuadd names, found as the engine finds it:
    the word's file-name part + ".txt" (an empty word: the current file)
    against each member's name, 'A'..'Z' taken as 'a'..'z' and a '*' in the
    word standing for any one character; the first that matches, by its own
    name, or None. Labels are then matched exactly, in that member.
    members: their names in container order, or a Members of them."""
    return (members if isinstance(members, Members) else Members(members)).find(word, current)


def target_problem(command, word, label, current, labels, members=None):
    """The message for a call, jump or menuadd whose file or label is not in
    the container (labels: {member: set of labels}, in container order;
    members: a Members of them), or None."""
    member = find_member(word, current, members or list(labels))
    label = unquoted(label)
    if member is None:
        return "%s names %s.txt, which the container lacks" % (
            command, name_part(unquoted(word)).decode("cp932", "replace"))
    if label and label not in labels[member]:
        near = [have for have in labels[member] if have.lower() == label.lower()]
        return "%s names label %s, which %s lacks%s" % (
            command, label.decode("cp932", "replace"), member,
            " (labels match as written: it has %s)" % near[0].decode("cp932", "replace") if near else "")
    return None


# Why a call back into its own file loops: the game keeps no stack of calls.
_NO_STACK = "a return goes back behind the newest call into its file"


def _self_call(name):
    """The message for a call of the file it stands in with no label."""
    stem = name[:-len(".txt")]
    return ("call runs its own file %s from the top again, and %s, so the scene comes back to this call for "
            "ever: repeat a part with a label and <jump %s,*label,\"condition\"> back to it" % (name, _NO_STACK, stem))


_BY_INDEX = {v: k for k, v in COMMANDS.items()}


def _command(tag):
    """The command a tag runs (its name, or the name of the index it is
    written as), as text."""
    name = name_of(tag)
    number = numeric(name)
    return _BY_INDEX.get(number, "") if number is not None else name.decode("latin-1")


def command_name(tag):
    """The command a tag names, as an author reads it: the name of the index
    it is written as, else its name as written (one the table lacks too)."""
    number = numeric(name_of(tag))
    return _BY_INDEX.get(number) or name_of(tag).decode("cp932", "replace")


class Story:
    """The ways the story can go from tag to tag, across files, as the
    engine runs them: a tag goes on to the next; a condition (if, elseif,
    jump with one) goes either way; if skips to the next elseif, else or
    endif of its level, jump_endif to its endif; a jump or a choice goes to
    its file and label (no label: the file's top); a call comes back behind
    itself; return, returnmenu and the end of a file go nowhere further.
    A place is (member, tag index); the index len(tags) is the file's end,
    which returns as a <return> does."""

    def __init__(self, tagged, labels, data=None, texts=None):
        self.members = list(tagged)
        self.tagged = {name: tags for name, (tags, _) in tagged.items()}  # [(offset, tag, words)]
        self.data = data or {}  # {member: its bytes}
        self.texts = texts or {}  # {member: its UTF-8 source text}
        self.index = Members(self.members)
        self.tags = {name: [(offset, _command(tag), words) for offset, tag, words in tags]
                     for name, (tags, _) in tagged.items()}
        self.where = {name: where for name, (_, where) in tagged.items()}
        self.labels = labels  # {member: {label: offset}}
        self.skips = {name: self._blocks(name) for name in tagged}
        self.entries = {}  # {(member, label): its place}
        self.offsets = {name: [at for at, _, _ in self.tags[name]] for name in tagged}

    def _blocks(self, name):
        """{tag index: where its skip lands} for if, elseif and jump_endif."""
        skips, stack = {}, []
        for i, (_, command, _) in enumerate(self.tags[name]):
            if command == "if":
                stack.append(([i], []))
            elif command in ("elseif", "else", "endif") and stack:
                stack[-1][0].append(i)
                if command == "endif":
                    siblings, jumps = stack.pop()
                    for a, b in zip(siblings, siblings[1:]):
                        skips[a] = b
                    for j in jumps:
                        skips[j] = i
            elif command == "jump_endif" and stack:
                stack[-1][1].append(i)
        return skips

    def entry(self, word, label, current):
        """The place a jump, call or choice of current to (word, label)
        lands at, or None when its file or label does not exist."""
        member = self.index.find(word, current)
        if member is None:
            return None
        label = unquoted(label)
        if label and label not in self.labels[member]:
            return None
        if (member, label) not in self.entries:
            offset = self.labels[member].get(label, 0)
            self.entries[member, label] = member, bisect.bisect_left(self.offsets[member], offset)
        return self.entries[member, label]

    def called(self, place):
        """The place the call at place goes to, or None when its file or
        label does not exist."""
        name, i = place
        words = self.tags[name][i][2]
        return self.entry(words[0] if words else b"", words[1] if len(words) > 1 else b"", name)

    def steps(self, place):
        """The places the story can go to from place (nothing from a return)."""
        name, i = place
        tags = self.tags[name]
        if i >= len(tags):
            return []
        _, command, words = tags[i]
        word = lambda k: words[k] if k < len(words) else b""  # noqa: E731
        out = []
        if command in ("return", "returnmenu"):
            return []
        if command == "jump":
            target = self.entry(word(0), word(1), name)
            out += [target] if target else []
            if not unquoted(word(2)):
                return out
        elif command == "menustart":
            adds = []
            for j in range(i - 1, -1, -1):
                if tags[j][1] == "menustart":
                    break
                if tags[j][1] == "menuadd":
                    adds.append(tags[j][2])
            targets = [self.entry(w[2] if len(w) > 2 else b"", w[3] if len(w) > 3 else b"", name) for w in adds]
            out += [t for t in targets if t]
            if adds:
                return out
        elif command in ("wait", "keywait") and b"*staffroll_stop" in self.labels[name] and any(
                c == "click" and unquoted(w[0] if w else b"") == b"0" for _, c, w in tags):
            out.append(self.entry(b"", b"*staffroll_stop", name))
        elif command in ("if", "elseif", "jump_endif") and i in self.skips[name]:
            out.append((name, self.skips[name][i]))
            if command == "jump_endif":
                return out
        return out + [(name, i + 1)]

    def command(self, place):
        """The command at place ('' at the file's end)."""
        name, i = place
        return self.tags[name][i][1] if i < len(self.tags[name]) else ""

    def labels_at(self, place):
        """The labels of place's file that land at place, in file order."""
        return [label for label in self.labels[place[0]] if self.entry(b"", label, place[0]) == place]

    def returns(self, place):
        """Whether the story returns at place (a <return> or the file's end)."""
        name, i = place
        return i >= len(self.tags[name]) or self.tags[name][i][1] == "return"

    def line(self, place):
        """The source line of a place (a file's end: its last line)."""
        name, i = place
        if i < len(self.tags[name]):
            return self.where[name].at(self.tags[name][i][0]).split(":")[1]
        return str(self.where[name].starts[-1][1] if self.where[name].starts else 1)

    def own_call_loop(self, name, index, label):
        """For a call at tag index of name of its own label: the place of the
        return in name that comes back behind it again once the label's part
        has come back, or None. A return goes back behind the newest call
        into its file: the label's part comes back by a return in name, or in
        a file it goes on to by jump or choice before any other call (that
        file's <label> keeps the call's return); after that, every return in
        name comes back there too."""
        start = self.entry(b"", label, name)
        if start is None:
            return None
        seen, todo, back = set(), [(start, True)], False
        while todo and not back:
            place, pending = todo.pop()
            if (place, pending) in seen:
                continue
            seen.add((place, pending))
            if self.returns(place):
                back = place[0] == name or pending
                continue
            calling = self.tags[place[0]][place[1]][1] == "call"
            todo += [(p, pending and not calling) for p in self.steps(place)]
        if not back:
            return None
        seen, todo = set(), [(name, index + 1)]
        while todo:
            place = todo.pop()
            if place in seen:
                continue
            seen.add(place)
            if self.returns(place):
                if place[0] == name:
                    return place
                continue
            todo += self.steps(place)
        return None


def _own_label_call(story, name, index, label):
    """The message for a call of a label of its own file that comes back
    behind itself for ever, or None."""
    again = story.own_call_loop(name, index, label)
    if again is None:
        return None
    shown = label.decode("cp932", "replace")
    what = ("the end of %s (line %s), which returns as <return> does," if again[1] >= len(story.tags[name]) else
            "the <return> of %s on line %s") % (name, story.line(again))
    return ("call of label %s of its own file %s comes back behind itself for ever: once %s's part has come back, "
            "%s comes back behind this call again, as %s: put %s in a file of its own and call it there" % (
                shown, name, shown, what, _NO_STACK, shown))


def read_scenarios(folder, warn=_default_warn):
    """Reads, converts and checks every *.txt of folder: (members [(name,
    bytes)] in name order, the Story of them, the places behind calls of
    their own file already warned of as coming back for ever)."""
    names = sorted(os.listdir(folder))
    if INFO_NAME in names:
        raise vndata.DataError("%s: the folder holds its own %s, which the build writes: take it out" % (
            INFO_NAME, INFO_NAME))
    members, tagged, texts = [], {}, {}
    for name in names:
        if not os.path.isfile(os.path.join(folder, name)):
            continue
        if not name.isascii() or not name.endswith(".txt"):
            raise vndata.DataError("%s: member names are ASCII and end in .txt" % name)
        if len(name) > MEMBER_NAME_LIMIT:
            raise vndata.DataError("%s: name over %d bytes" % (name, MEMBER_NAME_LIMIT))
        with open(os.path.join(folder, name), "rb") as f:
            raw = f.read()
        texts[name] = text = vndata.decode_utf8(raw, name)
        data, where = encode(text, name)
        tagged[name] = (_check(data, name, where, warn), where)
        members.append((name, data))
    if len(members) + 1 > MEMBER_COUNT_LIMIT:
        raise vndata.DataError("%s: %d members (at most %d with the index)" % (
            members[MEMBER_COUNT_LIMIT - 1][0], len(members) + 1, MEMBER_COUNT_LIMIT))
    story = Story(tagged, {name: dict(_labels(name, data, tagged[name][1])) for name, data in members},
                  dict(members), texts)
    labels = {name: set(story.labels[name]) for name, _ in members}
    cut = {name: _cut_labels(data, tagged[name][1]) for name, data in members}
    known = set()
    for name, (tags, where) in tagged.items():
        for index, (offset, tag, words) in enumerate(tags):
            command = name_of(tag)
            if command not in TARGETS:
                continue
            at = TARGETS[command]
            file, label = (words[at] if at < len(words) else b""), (words[at + 1] if at + 1 < len(words) else b"")
            problem = target_problem(command.decode(), file, label, name, labels, story.index)
            member = story.index.find(file, name)
            spaced = _spaced_label(command, unquoted(label), words[at + 2:], cut.get(member, {}))
            if problem and spaced:
                problem += " (%s)" % spaced.partition(", but ")[2].partition(", and ")[0]
            elif spaced:
                warn("%s: %s" % (where.at(offset), spaced))
            if problem:
                warn("%s: %s" % (where.at(offset), problem))
            if command == b"call" and member == name and name_part(unquoted(file)):
                problem = _own_label_call(story, name, index, unquoted(label)) if unquoted(label) else _self_call(name)
                if problem:
                    warn("%s: %s" % (where.at(offset), problem))
                    known.add((name, index + 1))
    return members, story, known


def script_arc_bytes(folder, warn=_default_warn):
    """The container of every *.txt of folder plus its 00_info.bin."""
    members, story, _ = read_scenarios(folder, warn)
    return vndata.arc_bytes(sorted(members + [(INFO_NAME, info_bytes(members, story.where))]))


def command_uses(folder, warn=_default_warn):
    """{command name: ["file:line", ...]} of every tag in the *.txt of folder,
    in file and line order; a tag written by its index counts by its name, a
    name the table lacks is listed under that name."""
    uses = {}
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if not name.endswith(".txt") or not os.path.isfile(path):
            continue
        with open(path, "rb") as f:
            text = vndata.decode_utf8(f.read(), name)
        data, where = encode(text, name)
        for offset, tag, _ in each_tag(data, where, warn):
            uses.setdefault(command_name(tag), []).append(where.at(offset).rsplit(":", 1)[0])
    return uses


def unused_commands(uses):
    """The commands of the table (in index order) that `uses` lacks."""
    return [name for name, _ in sorted(COMMANDS.items(), key=lambda kv: kv[1]) if name not in uses]


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if len(argv) != 2 or argv[0] != "uses":
        sys.stderr.write("usage: script_data.py uses FOLDER\n")
        return 2
    try:
        uses = command_uses(argv[1], lambda message: None)
    except (OSError, UnicodeDecodeError, vndata.DataError) as e:
        text = e.strerror or str(e) if isinstance(e, OSError) else os.path.join(argv[1], str(e))
        sys.stderr.write(vndata.located("error", text, getattr(e, "filename", None) or argv[1]) + "\n")
        return 1
    for name, _ in sorted(COMMANDS.items(), key=lambda kv: kv[1]):
        print("%-16s %s" % (name, " ".join(uses.get(name, ["-"]))))
    unused = unused_commands(uses)
    if unused:
        print("no tag uses: " + ", ".join(unused))
    return 1 if unused else 0


if __name__ == "__main__":
    sys.exit(main())
