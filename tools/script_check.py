"""Checks a game's scenarios the way an author needs (standard library only).

  check(folder, game_dir=None) -> [(level, "file:line:col", message)]
  script_check.py FOLDER [--game DIR]   prints them; exit code as report(),
                                        USAGE_EXIT when the command line is wrong

Each message is printed as "path:line:col: error|warning: message", the
path relative to the current folder, on one line (vndata.one_line).

`folder` is a script.arc source folder (its *.txt scenarios); `game_dir`,
when given, is the game's source folder (the one holding archives.json):
then every picture, wipe rule, sound, voice and movie a tag names must be a
file of one of its archives, and every message key of a text, name or
choice a text of the game's message tables. Levels are "error" and
"warning":
  errors   what script_data refuses (the first one ends the check), no
           00_init.txt, a call, jump or menuadd to a file or label that
           does not exist, a menuadd with neither, a menustart with no
           menuadd before it, an if with no endif, an elseif or a
           jump_endif with no if, an elseif or second else after else, a
           required argument missing (ARGUMENTS), a layer the engine cannot
           take (LAYERED), a file a tag names that no archive holds, a
           message key that no language of its table has;
  warnings a command the interpreter does not know, a branch of an if that
           runs into the next elseif or else without <jump_endif>, an else
           or endif with no if (the engine passes it by), a condition of
           an if, elseif or jump, or a part of one, that reads no variable
           or compares a variable with what no variable holds (CONDITIONS),
           a reference that is no variable and a condition or statement
           (STATEMENTS) the engine reads otherwise than it is written (read
           exactly as the engine reads it: condition_value, statements_run),
           text behind such a tag on its line, a whole-number argument read
           otherwise than written (NUMBERS), a slot, bank or menu beyond
           its range and a choice beyond a menu's eight (RANGES), a volume
           beyond 0 to 100 (VOLUMES), a switch neither true nor false
           (SWITCHES), a call
           that makes its file's return come back to it for ever
           (script_data), each place the story can come back to through
           plain tags alone (script_data.PLAIN: none that waits or reads
           the player's input or the clock) in a loop that, with the values
           the story brings there (every value an unknown one holds tried),
           comes round to the same place and values before any condition
           leaves it: the engine's loop watch ends the script there
           (_plain_loops follows the story with the returns the engine
           keeps and the values it brings), a call,
           jump or menuadd naming a label line cut short by a space, a
           gosub with arguments (gosub does nothing), more
           arguments than the command reads or a name it does not read, a
           label line without <label> (but for one in a loop that waits)
           or with a space, a <label> in a hold: a loop that waits, that a
           click leaves and that skip runs round (the label history keeps
           LABEL_HISTORY labels: _held_loops), a '<' in a comment,
           a tag begun with the full-width '\uff1c', an in-place text or
           name with a character that the tag syntax takes for itself, a
           text behind a text tag on its line, a message key some language
           lacks or written in small letters.
Script files and labels are found as script_data.find_member finds them.
Names map to files as the engine maps them: the folder and extension of the
name are dropped, 'A'..'Z' lowered, and the command's own folder and
extension added (RESOURCES).
"""

import argparse
import collections
import functools
import itertools
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import script_data  # noqa: E402
import vndata  # noqa: E402

# command -> (argument position, key of its named form, folder, extension)
RESOURCES = {
    "image": (2, None, b"visual/adv/", b".ext"),
    "trans": (0, "mask", b"visual/wipe/", b".ext"),
    "playbgm": (0, None, b"sound/bgm/", b".oggl"),
    "playse": (1, None, b"sound/se/", b".ogg"),
    "voice": (1, "voice", b"sound/voice/", b".ogg"),
    "openvideo": (0, None, b"movie/", b".avi"),
}
DEFAULT_WIPE = b"wipe_000"  # what `trans` uses for "crossfade" or no rule
INIT_NAME = "00_init.txt"  # where New game starts the story
# The commands whose first argument is a picture layer, and what a layer
# the engine cannot take leads to.
LAYERED = {"image": "the picture is not shown", "freeimage": "no picture is taken away",
           "backlay": "nothing is copied"}

# What each command of the table reads: its arguments by position ("-" a
# position it passes over), those it also reads by name (name:value), and
# those it cannot do without. A command not listed reads none; `text` reads
# every argument, joined by spaces.
ARGUMENTS = {
    "name": ("name", "", ""),
    "keywait": ("line nowait", "", ""),
    "voice": ("slot voice vol", "voice vol", "voice"),
    "font": ("size color", "size color", ""),
    "voice_stop": ("slot", "", ""),
    "textspeed": ("speed", "speed", ""),
    "lw": ("nowait", "", ""),
    "winframe": ("frame", "", ""),
    "layopt": ("layer page visible", "", "layer"),
    "position": ("offset", "", "offset"),
    "trans": ("mask time", "mask time", ""),
    "backlay": ("layer", "", ""),
    "image": ("layer page name priority x y - - - effect", "", "layer name"),
    "freeimage": ("layer page", "", "layer"),
    "move": ("layer page time x y", "layer page time x y", "layer"),
    "quake": ("time amplitude", "time amplitude", "time amplitude"),
    "staffroll_start": ("time", "", "time"),
    "openvideo": ("name vol", "vol", "name"),
    "playbgm": ("name loop volume", "", "name"),
    "stopbgm": ("time", "time", ""),
    "playse": ("bank name loop volume", "", "name"),
    "stopse": ("bank time", "bank time", ""),
    "ws": ("bank", "", ""),
    "label": ("name ref", "ref", ""),
    "call": ("file label", "", "file"),
    "eval": ("statements", "", "statements"),
    "jump": ("file label condition", "", ""),
    "menustart": ("menu", "", ""),
    "menuadd": ("new text file label statements", "", "text"),
    "if": ("condition", "", "condition"),
    "elseif": ("condition", "", "condition"),
    "trophy": ("number", "", ""),
    "wait": ("time click", "time click", ""),
    "click": ("stop", "", ""),
}

# Message keys as the engine expands them in a text, a name and a choice,
# the section of the script table each names (SYSTEM_n: section n / 1000,
# text n % 1000 of the system table), and the tables' archive paths.
KEY = re.compile(r"(NAME_|SELECT_|TEXT_|SYSTEM_)([0-9]+)")
KEY_SECTIONS = {"NAME_": 0, "SELECT_": 1, "TEXT_": 2}
MESSAGE_TABLES = {"script": "script/script_mes.mul", "SYSTEM_": "script/system_mes.mul"}
KEYED = {"text": None, "name": 0, "menuadd": 1}  # the argument with keys (None: every one)
LOWER_KEY = re.compile(r"(?i)(NAME_|SELECT_|TEXT_|SYSTEM_)([0-9]+)")
# Commands whose words are texts, names, labels or expressions: a word with
# a ':' in them is no named argument.
FREE_WORDS = ("name", "label", "call", "eval", "jump", "menuadd", "if", "elseif")

# Characters the tag syntax takes for itself, and how a text writes them.
ESCAPES = {",": "$2", ";": "$3", '"': "$4"}

# Source endings that the build drops from a file's name (build_sample.py).
_BUILT = (".synth", ".pict", ".movie", ".sysfont", ".addglyph")


def built_name(rel):
    """The archive name of the source file rel of a game's tree."""
    low = rel.lower()
    if low.endswith(".mul.txt"):
        return rel[:-len(".txt")]
    for ending in _BUILT:
        if low.endswith(ending):
            return rel[:-len(ending)]
    return rel


def _game_sources(game_dir):
    """(archive path, source path) of every file the build of game_dir puts
    into its archives, in the order of archives.json (a container is one
    file, with its folder as source)."""
    for archive in vndata.read_archives(game_dir)["archives"]:
        tree = os.path.join(game_dir, archive["tree"])
        for folder, dirs, names in os.walk(tree):
            rel_folder = os.path.relpath(folder, tree).replace(os.sep, "/")
            if rel_folder.lower().endswith(".arc"):
                dirs[:] = []
                yield rel_folder, folder
                continue
            for name in sorted(names):
                rel = name if rel_folder == "." else rel_folder + "/" + name
                yield built_name(rel), os.path.join(folder, name)


def game_files(game_dir):
    """The lower-cased Shift-JIS archive paths of every file the build of
    game_dir puts into its archives (containers count as one file)."""
    paths = {vndata.sjis_lower(vndata.encode_name(path)) for path, _ in _game_sources(game_dir)}
    extras = os.path.join(game_dir, "extras.json")
    if os.path.exists(extras):
        import extras_data
        paths.update(vndata.sjis_lower(p) for p in extras_data.paths_from_source(extras_data.read_source(extras)))
    return paths


def message_tables(game_dir):
    """{table path: (source path, language names, {(section, index, language):
    text})} of
    the message tables the game's sources hold (MESSAGE_TABLES); the last
    archive of archives.json that holds a table gives it, as the engine
    takes the newest."""
    tables = {}
    for path, source in _game_sources(game_dir):
        if path.lower() not in MESSAGE_TABLES.values() or not source.endswith(".txt"):
            continue
        with open(source, "rb") as f:
            text = vndata.decode_utf8(f.read(), source)
        languages, _, texts = vndata.parse_mul_source(text, source=source)
        names = re.search(r"^[\s\ufeff]*languages\s*=\s*(.*)$", text, re.M).group(1).split()
        names = names if len(names) == languages else [str(g) for g in range(languages)]
        tables[path.lower()] = (os.path.relpath(source, game_dir).replace(os.sep, "/"), names, texts)
    return tables


def key_problems(word, tables):
    """(level, message) of each message key in a word that a table lacks:
    an error when no language has its text, a warning when some lack it."""
    out = []
    for m in LOWER_KEY.finditer(word.decode("cp932", "replace")):
        if m.group(1) != m.group(1).upper():
            out.append(("warning", "%s is no message key, so the player sees it as written: keys are written in "
                                   "capitals (%s%s)" % (m.group(0), m.group(1).upper(), m.group(2))))
    for m in KEY.finditer(word.decode("cp932", "replace")):
        kind, n = m.group(1), int(m.group(2))
        section, index = (n // 1000, n % 1000) if kind == "SYSTEM_" else (KEY_SECTIONS[kind], n)
        table = MESSAGE_TABLES["SYSTEM_" if kind == "SYSTEM_" else "script"]
        if table not in tables:
            continue
        source, names, texts = tables[table]
        lacking = [name for g, name in enumerate(names) if not texts.get((section, index, g))]
        if len(lacking) == len(names):
            out.append(("error", "%s: %s has no text %d in section %d, in any language (the game shows \"No text\")"
                        % (m.group(0), source, index, section)))
        elif lacking:
            out.append(("warning", "%s: %s has no text %d in section %d in %s (that language shows \"No text\")"
                        % (m.group(0), source, index, section, ", ".join(lacking))))
    return out


# The commands that test a condition, and the position of its argument;
# those that run statements, and theirs.
CONDITIONS = {"if": 0, "elseif": 0, "jump": 2}
STATEMENTS = {"eval": 0, "menuadd": 4}
LIST_PARTS = 16  # the engine reads no further part of a condition or statement list
COMPARISONS = (b"==", b"=", b"!=", b">=", b"<=", b">", b"<")
ASSIGNMENTS = (b"=", b"+=", b"-=", b"++", b"--")
VARIABLES = "a variable is written in brackets with a number that begins with 0, 1 or 2: [00] to [23] or " \
            "[2000] to [2023]"


R18_RIGHT = "R18 stands for the R18 archive only left of the operator (\"R18==0\" holds without it); right of " \
            "it, it is read as the number 0"
VARIABLE_RANGE = (-128, 127)  # what a variable holds (a signed byte)
PART_ROOM = 127  # the bytes one operand, operator or target keeps; the engine drops the rest


def _atoi(text):
    """The integer at the start of text as the engine reads it: a sign and
    ASCII digits, 0 when there are none, held to 32 bits."""
    m = re.match(rb"[+-]?[0-9]+", text)
    return max(-(1 << 31), min((1 << 31) - 1, int(m.group(0)))) if m else 0


def _variable(text):
    """The variable the engine reads at the start of text, or None: a '['
    and a number that begins with 0, 1 or 2 and names 0 to 23 or 2000 to
    2023 ([05] and [0005] are variable 5; [5] is none)."""
    if text[:1] != b"[" or text[1:2] not in (b"0", b"1", b"2"):
        return None
    n = _atoi(text[1:])
    return n if n < 24 or 2000 <= n < 2024 else None


def _bad_references(text):
    """The messages for each reference written in text (a '[' up to its ']')
    that the engine reads as no variable."""
    out = []
    for m in re.finditer(rb"\[([^\[\]]*)\]?", text):
        if _variable(m.group(0)) is not None:
            continue
        shown, number = m.group(0).decode("cp932", "replace"), m.group(1)
        if number.isdigit() and len(number) == 1:
            out.append("%s is read as 0 and keeps no value: the game reads a reference only when its number begins "
                       "with 0, 1 or 2, so write [0%s]" % (shown, number.decode()))
        else:
            out.append("%s is no variable, so it is read as 0 and keeps no value: the variables are [00] to [23] "
                       "and [2000] to [2023]" % shown)
    return out


def _chars(text):
    """The characters of text as the engine steps through them."""
    i = 0
    while i < len(text):
        n = script_data.char_len(text, i)
        yield text[i:i + n]
        i += n


class _Part:
    """One operand, operator or target as the engine keeps it: bytes beyond
    its room are dropped, and every later one with them."""

    def __init__(self):
        self.text, self.given, self.full = b"", False, False

    def put(self, ch):
        self.given = True
        if self.full or len(self.text) + len(ch) > PART_ROOM:
            self.full = True
        else:
            self.text += ch


def _split_comparison(part):
    """(left operand, operator, right operand) as the engine splits one
    comparison: every one of '<=>!' goes to the operator, the other
    characters before the first of them to the left operand, the rest to
    the right one."""
    left, op, right = _Part(), _Part(), _Part()
    for ch in _chars(part):
        (op if ch in (b"<", b"=", b">", b"!") else right if op.given else left).put(ch)
    return left.text, op.text, right.text


def _ref_value(text, values):
    n = _variable(text)
    return values.get(n, 0) if n is not None else 0


def _part_reader(part):
    """part_value of one comparison as a function of (values, r18)."""
    left, op, right = _split_comparison(part)
    if b"]+[" in left:
        starts = [left[j:] for j in range(len(left)) if left[j:j + 1] == b"["]
        a = lambda values, r18: sum(_ref_value(s, values) for s in starts)  # noqa: E731
    elif b"[" in left:
        a = lambda values, r18: _ref_value(left, values)  # noqa: E731
    elif left == b"R18":
        a = lambda values, r18: 1 if r18 else 0  # noqa: E731
    else:
        a = lambda values, r18, n=_atoi(left): n  # noqa: E731
    if b"[" in right:
        b = lambda values: _ref_value(right, values)  # noqa: E731
    else:
        b = lambda values, n={b"true": 1, b"false": 0}.get(right, _atoi(right)): n  # noqa: E731
    if not op:
        return lambda values, r18: a(values, r18) != 0
    if not left:
        return lambda values, r18: b(values) == 0
    compare = {b"==": int.__eq__, b"=": int.__eq__, b"!=": int.__ne__, b">=": int.__ge__, b"<=": int.__le__,
               b">": int.__gt__, b"<": int.__lt__}.get(op)
    if compare is None:
        return lambda values, r18: False
    return lambda values, r18: compare(a(values, r18), b(values))


def part_value(part, values, r18=False):
    """The value of one comparison as the engine takes it (values: {variable
    number: value}, 0 for any other; r18: whether the R18 archive exists).
    An empty left side tests whether the right side is 0."""
    return _part_reader(part)(values, r18)


def _inputs(part):
    """What one comparison reads, as the engine reads it: the variable
    numbers, and "R18" for the archive. An empty left side reads the right
    alone, a comparison without operator the left alone."""
    left, op, right = _split_comparison(part)
    sides = [left] if not op else [right] if not left else [left, right]
    out = set()
    for side in sides:
        if side is left and b"]+[" in left:
            out |= {_variable(left[j:]) for j in range(len(left)) if left[j:j + 1] == b"["} - {None}
        elif b"[" in side:
            out |= {_variable(side)} - {None}
        elif side is left and left == b"R18":
            out.add("R18")
    return out


def _squeezed(word):
    """A condition or statement list as the engine walks it: its enclosing
    quotes taken off, then every space and double quote dropped."""
    out = b""
    for ch in _chars(script_data.unquoted(word)):
        if ch not in (b" ", b'"'):
            out += ch
    return out


def condition_parts(word):
    """(parts, whether any part decides (||) or every one (&&), whether
    parts after the last one read are dropped) as the engine cuts a
    condition: at && and ||, at most LIST_PARTS parts, joined by the last
    separator read."""
    text = _squeezed(word)
    parts, start, i, any_part = [], 0, 0, False
    while i < len(text) and len(parts) < LIST_PARTS:
        if text[i:i + 2] in (b"&&", b"||"):
            any_part = text[i:i + 1] == b"|"
            parts.append(text[start:i])
            i = start = i + 2
            continue
        i += script_data.char_len(text, i)
    dropped = len(parts) == LIST_PARTS
    if not dropped:
        parts.append(text[start:])
    return parts, any_part, dropped and start < len(text)


def condition_value(word, values, r18=False):
    """Whether a condition holds, as the engine takes it: an empty one
    holds, and the parts are taken in turn until one decides."""
    if not script_data.unquoted(word):
        return True
    parts, any_part, _ = condition_parts(word)
    for part in parts:
        if part_value(part, values, r18) == any_part:
            return any_part
    return not any_part


@functools.lru_cache(maxsize=None)
def part_constant(part):
    """The value one comparison always has, or None when what it reads can
    change it: one that reads nothing, or one variable (or the archive)
    that takes none of its values (a variable holds a signed byte)."""
    inputs = _inputs(part)
    if not inputs:
        return part_value(part, {})
    if len(inputs) > 1:
        return None
    which, read = next(iter(inputs)), _part_reader(part)
    seen = {read({}, r18) for r18 in (False, True)} if which == "R18" else \
        {read({which: v}, False) for v in range(VARIABLE_RANGE[0], VARIABLE_RANGE[1] + 1)}
    return seen.pop() if len(seen) == 1 else None


def condition_verdict(word):
    """True or False when a condition always has that value as the engine
    reads it, else None."""
    if not script_data.unquoted(word):
        return True
    parts, any_part, _ = condition_parts(word)
    fixed = [part_constant(part) for part in parts]
    if any_part in fixed:
        return any_part
    return (not any_part) if all(v is not None for v in fixed) else None


def condition_problems(word):
    """Warnings for a condition the engine reads otherwise than it is
    written: parts that read no variable, so are always true or always false
    (every part: one warning for the whole), parts whose variable never
    holds what they compare it with, references that are no variable, a
    part with more than one comparison, a part with nothing left of its
    operator but for '!', && and || mixed, and parts after the 16th."""
    if not script_data.unquoted(word):
        return []
    written = script_data.unquoted(word).decode("cp932", "replace")
    text = _squeezed(word)
    parts, any_part, dropped = condition_parts(word)
    seps = re.findall(rb"&&|\|\|", text)
    out = []
    if len(set(seps[:LIST_PARTS])) > 1:
        out.append("the condition \"%s\" joins its parts with both && and ||: the game joins every part by the "
                   "last one, %s, so it holds when %s" % (written, "||" if any_part else "&&",
                                                         "any part holds" if any_part else "every part holds"))
    if dropped:
        out.append("the condition \"%s\" has more than %d parts: the game reads none after the %dth" % (
            written, LIST_PARTS, LIST_PARTS))
    fixed = []
    for part in parts:
        shown = part.decode("cp932", "replace")
        refs = _bad_references(part)
        left, op, right = _split_comparison(part)
        if op and left and op not in COMPARISONS:
            out.append("the part \"%s\" of the condition \"%s\" is always false: the game reads %s as its operator, "
                       "which is none of ==, !=, <, >, <= and >= (a part holds one comparison, and parts are joined "
                       "by && or ||)" % (shown, written, op.decode("cp932", "replace")))
            continue
        if op and not left and op != b"!":
            out.append("the part \"%s\" of the condition \"%s\" has nothing left of %s, so the game reads it as "
                       "\"!%s\": it holds when %s is 0" % (shown, written, op.decode("cp932", "replace"),
                                                           right.decode("cp932", "replace"),
                                                           right.decode("cp932", "replace") or "nothing"))
        inputs = _inputs(part)
        value = part_constant(part)
        if value is None or inputs:
            out += ["the condition \"%s\": %s" % (written, ref) for ref in refs]
        if value is None:
            continue
        if inputs:
            held = "R18 is 1 when the R18 archive is there, else 0" if inputs == {"R18"} else \
                "a variable holds a number from %d to %d" % VARIABLE_RANGE
            out.append("the part \"%s\" of the condition \"%s\" is always %s: %s" % (
                shown, written, "true" if value else "false", held))
            continue
        fixed.append((part, value, refs[0] if refs else R18_RIGHT if right == b"R18" else VARIABLES))
    if fixed and len(fixed) == len(parts):
        every = any(v for _, v, _ in fixed) if any_part else all(v for _, v, _ in fixed)
        tail = next((why for _, _, why in fixed if why != VARIABLES), VARIABLES)
        out.append("the condition \"%s\" reads no variable, so it is always %s: %s" % (
            written, "true" if every else "false", tail))
    else:
        out += ["the part \"%s\" of the condition \"%s\" reads no variable, so it is always %s: %s" % (
            part.decode("cp932", "replace"), written, "true" if value else "false", why) for part, value, why in fixed]
    return [("warning", message) for message in out]


def _split_statement(text):
    """(target, operator, expression) as the engine splits one statement:
    '+', '-' and '=' make the operator until it is one of the five
    assignments, the rest is the expression."""
    target, op, expr, state = _Part(), _Part(), _Part(), 0
    for ch in _chars(text):
        if state == 0 and ch in (b"+", b"-", b"="):
            state = 1
        if state == 1 and (ch not in (b"+", b"-", b"=") or op.text in ASSIGNMENTS):
            state = 2
        (target, op, expr)[state].put(ch)
    return target.text, op.text, expr.text


def statement_list(word):
    """(the statements the engine runs, the text it passes over) of a
    statement list: cut at each '&', at most LIST_PARTS of them."""
    text = _squeezed(word)
    out, start, i = [], 0, 0
    while len(out) < LIST_PARTS:
        if i < len(text) and text[i:i + 1] != b"&":
            i += script_data.char_len(text, i)
            continue
        out.append(text[start:i])
        if i >= len(text):
            return out, b""
        i = start = i + 1
    return out, text[start:]


def _lowest(a, b):
    return min(a, b)


def _byte(value):
    """A number as a variable keeps it: its low byte, signed."""
    return ((value & 0xFF) ^ 0x80) - 0x80


def _expression_value(expr, values, draw):
    """The value of a statement's expression as the engine takes it."""
    if b"[" in expr:
        value = _ref_value(expr, values) if expr[:1] == b"[" else 0
    elif expr in (b"true", b"false"):
        value = 1 if expr == b"true" else 0
    elif expr.startswith(b"rand("):
        comma = expr.find(b",")
        value = draw(*sorted((_atoi(expr[5:]), _atoi(expr[comma + 1:]) if comma >= 0 else 0)))
    else:
        value = _atoi(expr)
    if re.search(rb"[+-]", expr):
        total, minus = 0, False
        for piece in re.split(rb"([+-])", expr):
            if piece in (b"+", b"-"):
                minus = piece == b"-"
                continue
            v = (_ref_value(piece, values) if piece[:1] == b"[" else 0) if b"[" in piece else _atoi(piece)
            total = (total - v if minus else total + v) & 0xFFFFFFFF
        value = total - (1 << 32) if total >= 1 << 31 else total
    return value


def statements_run(word, values, draw=_lowest):
    """Runs a statement list on values ({variable number: value}) as the
    engine runs it; draw(low, high) gives what rand(low,high) draws."""
    for statement in statement_list(word)[0]:
        target, op, expr = _split_statement(statement)
        value = _expression_value(expr, values, draw)
        var = _variable(target)
        t = values.get(var, 0) if var is not None else 0
        out = {b"=": value, b"+=": t + value, b"-=": t - value, b"++": t + 1, b"--": t - 1}.get(op, t)
        if var is not None:
            values[var] = _byte(out)
    return values


def _value_problem(expr):
    """Why the engine reads a statement's expression as 0 or otherwise than
    it is written, or None."""
    if re.search(rb"[+-]", expr):
        for piece in re.split(rb"[+-]", expr):
            if piece.startswith(b"rand("):
                return "rand(...) in a sum is read as 0: give the sum its own statement ([2000]=rand(1,6)&[2000]+=1)"
            if piece and not (re.match(rb"[0-9]", piece) or (piece[:1] == b"[" and _variable(piece) is not None)):
                if piece[:1] != b"[":
                    return "%s in its sum is read as 0" % piece.decode("cp932", "replace")
        return None
    if expr.startswith(b"="):
        return "== compares (in an if): a statement sets with =, so this one stores 0"
    if expr in (b"true", b"false") or re.match(rb"rand\([+-]?[0-9]+,[+-]?[0-9]+\)$", expr) or re.match(rb"[0-9]", expr):
        return None
    if expr[:1] == b"[":
        return None  # told as a reference
    return "its value %s is read as 0" % expr.decode("cp932", "replace") if expr else "it gives no value, so it stores 0"


def _held_problem(op, expr):
    """Why a statement stores otherwise than written because a variable
    holds a signed byte, or None."""
    m = re.fullmatch(rb"rand\(([+-]?[0-9]+),([+-]?[0-9]+)\)", expr)
    if m and op == b"=":
        low, high = sorted((_atoi(m.group(1)), _atoi(m.group(2))))
        if low < VARIABLE_RANGE[0] or high > VARIABLE_RANGE[1]:
            return ("rand(%d,%d) draws numbers a variable cannot hold (it holds %d to %d): the game keeps their "
                    "low byte" % ((low, high) + VARIABLE_RANGE))
        return None
    if op not in (b"=", b"+=", b"-=") or not re.fullmatch(rb"[+-]?[0-9]+", expr):
        return None
    value = _atoi(expr)
    # Adding or taking away 128 to 255 leaves the range for some values
    # only; more, for every one.
    if VARIABLE_RANGE[0] <= value <= VARIABLE_RANGE[1] or (op != b"=" and abs(value) < 256):
        return None
    return "a variable holds a number from %d to %d, so %s %s is %s %d" % (
        VARIABLE_RANGE + ({b"=": "storing", b"+=": "adding", b"-=": "taking away"}[op], expr.decode(),
                          {b"=": "storing", b"+=": "adding", b"-=": "taking away"}[op], _byte(value)))


def statement_problems(word):
    """Warnings for statements the engine reads otherwise than they are
    written: a target or reference that is no variable, an operator that is
    none of =, +=, -=, ++ and --, a value read as 0 or one no variable
    holds, and statements after the 16th."""
    if not _squeezed(word):
        return []
    statements, rest = statement_list(word)
    out = []
    if rest.strip(b"&"):
        out.append("the statements \"%s\" are more than %d: the game runs none after the %dth" % (
            script_data.unquoted(word).decode("cp932", "replace"), LIST_PARTS, LIST_PARTS))
    for statement in statements:
        if not statement:
            continue
        target, op, expr = _split_statement(statement)
        if _variable(target) is None:
            why = _bad_references(target)[:1] or [
                "its target %s is no variable, so nothing is stored" % target.decode("cp932", "replace")]
        else:
            why = _bad_references(expr)
            if not re.fullmatch(rb"\[[0-9]+\]", target):
                why.append("the game reads it as %s%s%s: the operators are =, +=, -=, ++ and --" % (
                    re.match(rb"\[[0-9]+\]?", target).group(0).decode(), op.decode(), expr.decode("cp932", "replace")))
            elif op not in ASSIGNMENTS:
                why.append("it changes nothing: %s (=, +=, -=, ++ or --)" % (
                    "it has no operator" if not op else "the game reads %s as its operator, which is none of the five"
                    % op.decode()))
            elif op != b"++" and op != b"--" and _value_problem(expr):
                why.append(_value_problem(expr))
            elif _held_problem(op, expr):
                why.append(_held_problem(op, expr))
        out += ["the statement \"%s\": %s" % (statement.decode("cp932", "replace"), w) for w in why]
    return [("warning", message) for message in out]


def _usage(command):
    positions, named, _ = ARGUMENTS.get(command, ("", "", ""))
    text = "<%s%s>" % (command, " " + ",".join(positions.split()) if positions else "")
    if named:
        text += " (by name too: %s)" % ", ".join(n + ":" for n in named.split())
    return text


def argument_problems(command, words):
    """(level, message) of a tag whose arguments the command cannot read as
    given: more than it reads, a required one missing, a name it lacks."""
    if command == "text":
        keyed = words and KEY.match(words[0].decode("cp932", "replace"))
        if keyed and len(words) > 1:
            return [("warning", "text reads a message key alone, %d arguments are given: the words behind %s "
                                "are shown after its text" % (len(words), keyed.group(0)))]
        return []
    if command not in script_data.COMMANDS:
        return []
    if command == "gosub":
        return [("warning", "gosub does nothing, whatever it names: a label is run by <call file,label>, "
                            "which comes back at the label's <return>")] if words else []
    positions, named, required = (part.split() for part in ARGUMENTS.get(command, ("", "", "")))
    out = []
    if len(words) > len(positions):
        out.append(("warning", "%s reads %s, %d %s given: %s" % (
            command, "no arguments" if not positions else "%d argument%s" % (len(positions), "s" * (len(positions) > 1)),
            len(words), "is" if len(words) == 1 else "are", _usage(command))))
    given = {}
    for i, word in enumerate(words):
        key = re.match(rb"([A-Za-z_]+):", word)
        if key and not named and positions and command not in FREE_WORDS:
            place = positions[i] if i < len(positions) and positions[i] != "-" else None
            out.append(("warning", "%s reads no argument by name, so %s is read as it stands, %s: %s" % (
                command, word.decode("cp932", "replace"),
                "as its %s" % place if place else "in a place it passes over", _usage(command))))
        if key and named:
            if key.group(1).decode().lower() not in named:
                out.append(("warning", "%s has no argument named %s: %s" % (command, key.group(1).decode(), _usage(command))))
            elif word[len(key.group(0)):]:
                given[key.group(1).decode().lower()] = True
    for name in required:
        at = positions.index(name)
        if not given.get(name) and not (at < len(words) and script_data.unquoted(words[at])):
            out.append(("error", "%s lacks its %s argument: %s" % (command, name, _usage(command))))
    if command == "menuadd" and len(words) > 1 and not any(words[2:4]):
        out.append(("error", "menuadd names no file or label: taking the choice runs this file from its top"))
    return out


def _argument(words, position, key):
    """The word GSL_ArgGet would give: the last named `key:value` word, else
    the word at `position`; quotes stripped."""
    if key:
        prefix = key.encode() + b":"
        for word in reversed(words):
            if word.lower().startswith(prefix):
                return script_data.unquoted(word[len(prefix):])
    return script_data.unquoted(words[position]) if position < len(words) else b""


def resource_path(command, words):
    """The archive path a tag's file name stands for, or None when the tag
    names none."""
    position, key, folder, ext = RESOURCES[command]
    name = _argument(words, position, key)
    if command == "trans" and name in (b"", b"crossfade"):
        name = DEFAULT_WIPE
    stem = script_data.name_part(name)
    return vndata.sjis_lower(folder + stem + ext) if stem else None


def _inline_text_problems(command, tag):
    """Messages for a `text` or `name` tag whose text in place holds a
    character the tag syntax takes for itself."""
    body = tag[len(command) + 1:-1].strip(b" ")
    if not body or (body[:1] == b'"' and body[-1:] == b'"' and b'"' not in body[1:-1]):
        return []
    out, i, quote = [], 0, False
    while i < len(body):
        b = body[i]
        if script_data.is_lead(b) and i + 1 < len(body):
            i += 2
            continue
        ch = chr(b)
        if ch == '"':
            out.append("'\"' in a text in place: write %s" % ESCAPES['"'])
        elif ch == "," and not quote:
            out.append("',' separates arguments, so the text loses it: write %s for a comma" % ESCAPES[","])
        elif ch == ";":
            out.append("';' in a text in place: write %s" % ESCAPES[";"])
        i += 1
    return sorted(set(out))


def arg_int(text):
    """A number argument as the engine reads it: at most three of + - * /
    after its first byte, taken left to right in 32 bits."""
    ops = [i for i in range(1, len(text)) if text[i:i + 1] in (b"+", b"-", b"*", b"/")]
    end = ops[3] if len(ops) > 3 else len(text)
    ops = ops[:3]
    if not ops:
        return _atoi(text)
    wrap = lambda v: ((v + (1 << 31)) & 0xFFFFFFFF) - (1 << 31)  # noqa: E731
    result = _atoi(text[:ops[0]][:31])
    for k, at in enumerate(ops):
        v = _atoi(text[at + 1:ops[k + 1] if k + 1 < len(ops) else end][:31])
        op = text[at:at + 1]
        if op == b"+":
            result = wrap(result + v)
        elif op == b"-":
            result = wrap(result - v)
        elif op == b"*":
            result = wrap(result * v)
        else:
            result = 0 if v == 0 else wrap(abs(result) // abs(v) * (1 if (result < 0) == (v < 0) else -1))
    return result


# Numbers the engine takes only in a range: command -> (position, key of its
# named form, lowest, highest, what the game does with another).
RANGES = {
    "voice": (0, None, 0, 7, "plays the voice in slot 0"),
    "voice_stop": (0, None, 0, 7, "stops slot 0"),
    "playse": (0, None, 0, 7, "plays the sound in bank 0"),
    "stopse": (0, "bank", 0, 7, "stops bank 0"),
    "ws": (0, None, 0, 7, "waits for bank 0"),
    "menustart": (0, None, 0, 7, "keeps no record of the choice taken: a loaded save takes the menu's first "
                                 "choice, and the menu shows no mark of choices taken before"),
}
CHOICE_LIMIT = 8  # the choices one menu shows
# The arguments the game reads as whole numbers (arg_int), by command.
NUMBERS = {
    "keywait": "line nowait", "lw": "nowait", "voice": "slot vol", "voice_stop": "slot", "font": "size",
    "textspeed": "speed", "winframe": "frame", "position": "offset", "trans": "time", "image": "priority x y",
    "move": "time x y", "quake": "time amplitude", "staffroll_start": "time", "openvideo": "vol",
    "playbgm": "volume", "stopbgm": "time", "playse": "bank volume", "stopse": "bank time", "ws": "bank",
    "label": "ref", "menustart": "menu", "menuadd": "new", "trophy": "number", "wait": "time", "click": "stop",
}
# Volumes, a percent of the player's setting that the game holds to 0 to
# 100 once multiplied: command -> (position, key of its named form).
VOLUMES = {"playbgm": (2, None), "playse": (3, None), "openvideo": (1, "vol"), "voice": (2, "vol")}
# Switches the game reads as true only when written true or TRUE:
# command -> (position, key of its named form, what true does).
SWITCHES = {"playbgm": (1, None, "loops the music"), "playse": (2, None, "loops the sound"),
            "wait": (1, "click", "lets a click end the wait")}


def _exact(word):
    """The value of a sum, difference, product or quotient of whole numbers
    as written (left to right, a quotient cut towards 0), or None when the
    word is no such thing."""
    if not re.fullmatch(rb"[+-]?[0-9]+(?:[-+*/][0-9]+)*", word):
        return None
    pieces = re.split(rb"(?<=[0-9])([-+*/])", word)
    value = int(pieces[0])
    for op, number in zip(pieces[1::2], pieces[2::2]):
        n = int(number)
        value = value + n if op == b"+" else value - n if op == b"-" else value * n if op == b"*" else \
            0 if n == 0 else abs(value) // n * (1 if value >= 0 else -1)
    return value


def number_problems(command, words):
    """Warnings for an argument read as a whole number that the game reads
    otherwise than it is written: no whole number, more than three of
    + - * /, or beyond 32 bits."""
    positions, named, _ = (part.split() for part in ARGUMENTS.get(command, ("", "", "")))
    out = []
    for name in NUMBERS.get(command, "").split():
        word = _argument(words, positions.index(name), name if name in named else None)
        if not word or re.match(rb"[A-Za-z_]+:", word):
            continue  # a name the command does not read is told as such
        value, exact = arg_int(word[:255]), _exact(word)
        shown = word.decode("cp932", "replace")
        if exact is None:
            out.append("%s's %s %s is no whole number: the game reads it as %d" % (command, name, shown, value))
        elif exact != value:
            out.append("%s's %s %s is read as %d: the game takes at most three of + - * / in a number, and numbers "
                       "from -2147483648 to 2147483647" % (command, name, shown, value))
    return out


def range_problems(command, words):
    """Warnings for a number the command takes only in a range, and for a
    layopt of a layer it passes over."""
    if command == "layopt" and words and script_data.unquoted(words[0]) not in (b"", b"message0"):
        return ["layopt acts on the message window, message0, alone: layer %s is passed over" %
                script_data.unquoted(words[0]).decode("cp932", "replace")]
    out = []
    if command in SWITCHES:
        position, key, what = SWITCHES[command]
        word = _argument(words, position, key)
        if word and word not in (b"true", b"TRUE", b"false", b"FALSE"):
            out.append("%s %s only for true or TRUE: %s is read as false" % (
                command, what, word.decode("cp932", "replace")))
    if command in VOLUMES:
        word = _argument(words, *VOLUMES[command])
        value = arg_int(word[:255]) if word else 50
        if not 0 <= value <= 100:
            out.append("%s's volume %s is a percent of the player's setting, 0 to 100: the game holds the volume it "
                       "makes to 0 to 100, so %s" % (command, word.decode("cp932", "replace"),
                                                     "it is silent" if value < 0 else "it is at most full volume"))
    if command in RANGES:
        position, key, low, high, otherwise = RANGES[command]
        word = _argument(words, position, key)
        value = arg_int(word[:255]) if word else low
        if not low <= value <= high:
            out.append("%s takes %d to %d, so for %s it %s" % (
                command, low, high, word.decode("cp932", "replace"), otherwise))
    return out


def _is_layer(word):
    """Whether the engine takes word as a picture layer: base, or 0 to 11."""
    return word == b"base" or (word.isdigit() and int(word) <= 11)


def _full_width_tags(text, name):
    """Warnings for a tag written with the full-width '＜', which is text."""
    out = []
    for n, line in enumerate(text.splitlines(), 1):
        if line.lstrip().startswith(";"):
            continue
        for m in re.finditer("\uff1c\\s*([A-Za-z_]+|[0-9]+)", line):
            if m.group(1) in script_data.COMMANDS or m.group(1).isdigit():
                out.append(("warning", "%s:%d:%d" % (name, n, m.start() + 1),
                            "full-width '\uff1c' starts no tag, so the game passes the line by as text: "
                            "write <%s ...> with the ASCII '<' and '>'" % m.group(1)))
    return out


# Tags that end a branch of an if: the next elseif or else is not run into.
BRANCH_ENDS = ("jump_endif", "return", "returnmenu")


class _Flow:
    """Follows a file's if/elseif/else/endif blocks and its menus, tag by
    tag, as the engine runs them: a false condition skips to the next
    elseif, else or endif of its level; a branch that ran goes on into the
    next elseif or else unless a <jump_endif> ends it; a menustart shows the
    menuadd choices since the last menu."""

    def __init__(self):
        self.blocks = []  # [place of the if, else seen, last command of the branch]
        self.choices = 0

    def _ends_branch(self, command, words):
        return command in BRANCH_ENDS or (command == "jump" and not any(words[2:3]))

    def step(self, command, words, at):
        out = []
        if command == "menuadd":
            new = words and script_data.unquoted(words[0]) and arg_int(script_data.unquoted(words[0])) == 0
            self.choices = 1 if new else self.choices + 1
            if self.choices > CHOICE_LIMIT:
                out.append(("warning", "a menu shows at most %d choices: the game drops this one, the %dth since "
                                       "the menuadd that begins the menu (0 as its first argument)" % (
                                           CHOICE_LIMIT, self.choices)))
        elif command == "menustart":
            if not self.choices:
                out.append(("error", "menustart has no menuadd before it: there is no choice to take, "
                                     "and the game goes on past the menu"))
            self.choices = 0
        if command == "elseif" and not self.blocks:
            out.append(("error", "elseif with no <if> before it"))
            return out
        if command == "jump_endif" and not self.blocks:
            out.append(("error", "jump_endif with no <if> before it: the game skips from here to an <endif> further "
                                 "on, passing by every line in between"))
            return out
        if command in ("else", "endif") and not self.blocks:
            out.append(("warning", "%s with no <if> before it: the game passes it by%s" % (
                command, ", and the lines behind it always run" if command == "else" else "")))
            return out
        if command in ("elseif", "else"):
            block = self.blocks[-1]
            if block[1]:
                out.append(("error", "%s after <else> (line %s): %s" % (
                    command, block[1].split(":")[1], "the elseifs of an if come before its else, or the else "
                    "branch runs on into this one" if command == "elseif" else "an if has one else")))
            elif not block[2]:
                out.append(("warning", "the branch before this %s has no <jump_endif> at its end: when it runs, "
                                       "%s" % (command, "this condition is tested too and its branch may run "
                                               "after it" if command == "elseif" else "the else branch runs after it")))
            if command == "else":
                block[1] = at
            block[2] = False
        elif command == "endif":
            self.blocks.pop()
            if self.blocks:
                self.blocks[-1][2] = False
        elif command == "if":
            if self.blocks:
                self.blocks[-1][2] = False
            self.blocks.append([at, None, False])
        elif self.blocks:
            self.blocks[-1][2] = self._ends_branch(command, words)
        return out

    def end(self):
        """Errors for the blocks the file leaves open."""
        return [("error", at, "if with no <endif> in its file: a failed condition or a <jump_endif> finds no endif "
                              "to skip to, so the story runs on into every branch") for at, _, _ in self.blocks]


# The search for the loops the engine's loop watch ends (_plain_loops):
# _Run follows the story as the engine runs it, _values the values it brings
# to each state, _entry_cycle follows each loop from each way into it, and
# _loop_message tells those the engine ends.


LOOP_SEARCH_LIMIT = 1000000  # the states _Run follows at most; a story of more is told so


def _plain(command):
    """Whether the engine's loop watch lets a command through (a name the
    table lacks runs nothing, as a free entry does)."""
    return command in script_data.PLAIN or command not in script_data.COMMANDS


class _Run:
    """The story as the engine runs it, with what its loop watch compares:
    a state is (place, the call's return pending, {file: where its return
    goes}). A call keeps the place behind it pending; a <label> records the
    pending return for its file; a return or a file's end goes where its
    file's newest record says and clears the pending one (with none, the
    story ends there); a jump or a choice keeps them. The story starts at
    00_init.txt's top, a file it never reaches at its own top, and a label
    it never reaches at that label."""

    def __init__(self, story):
        self.story = story
        self.next = {}
        self.starts = []  # the states the story starts at, in the order followed
        self.reentered = _reentered(story)
        _from_every_start(story, self._start, lambda: (state[0] for state in self.next))

    def _start(self, places):
        self.starts += [(place, None, ()) for place in places]
        self._follow([(place, None, ()) for place in places])

    def _follow(self, todo):
        while todo and len(self.next) < LOOP_SEARCH_LIMIT:
            state = todo.pop()
            if state in self.next:
                continue
            self.next[state] = self._steps(state)
            todo += self.next[state]

    def _steps(self, state):
        place, pending, records = state
        name, i = place
        story = self.story
        if story.returns(place):
            back = dict(records).get(name)
            return [(back, None, self._kept(records, back[0], None))] if back else []
        _, command, words = story.tags[name][i]
        if command == "call":
            target = story.called(place)
            return [(target, (name, i + 1), self._kept(records, target[0], (name, i + 1)))] if target else []
        if command == "label" and pending:
            records = tuple(sorted(dict(records, **{name: pending}).items()))
        steps = story.steps(place)
        condition = _condition(command, words)
        if condition and len(steps) == 2:
            # A condition that always holds, or never, goes one way.
            verdict = condition_verdict(condition)
            if verdict is not None:
                steps = [steps[0 if verdict == (command == "jump") else 1]]
        return [(p, pending, records if p[0] == name else self._kept(records, p[0], pending)) for p in steps]

    def _kept(self, records, name, pending):
        """The records of a state in file name that a later return can use:
        its file's, then those of the files that return goes on to, and so
        on, and those of the pending call's file and on, and those of the
        files _reentered. Those of the other files left behind are dropped:
        the story enters them again only by a call or with one pending, at
        a <label> that records the return afresh. So a story of many files
        that go on to each other keeps about one state per place."""
        held = dict(records)
        keep = {f: held[f] for f in self.reentered & set(held)}
        for start in (name, pending[0] if pending else None):
            while start in held and start not in keep:
                keep[start] = held[start]
                start = held[start][0]
        return records if len(keep) == len(held) else tuple(sorted(keep.items()))

    def plain(self, state):
        return _plain(self.story.command(state[0]))

    def loops(self):
        """The loops of plain tags alone: each a set of states that can come
        back to each other with no other tag between."""
        return _cycles([v for v in self.next if self.plain(v)],
                       lambda v: [w for w in self.next[v] if w in self.next and self.plain(w)])


def _from_every_start(story, follow, reached):
    """Follows the story (follow(places)) from where _Run starts it:
    00_init.txt's top, then the top of each file not reached (reached():
    the places reached so far), then each label not reached."""
    follow([(INIT_NAME, 0)] if INIT_NAME in story.tags else [])
    files = {place[0] for place in reached()}
    follow([(name, 0) for name in story.members if name not in files])
    places = set(reached())
    follow([place for place in (story.entry(b"", label, name) for name in story.members for label in story.labels[name])
            if place and place not in places])


def _reentered(story):
    """The files whose record of a return a return can use after the story
    has left them and come back: those a jump or a choice from another file
    enters while no call may be pending, and those entered at a place from
    which a return comes before any <label> (which would record afresh)."""
    tags, out, callers, entries = story.tags, set(), {}, set()
    for name in story.members:
        for i, (_, command, _) in enumerate(tags[name]):
            if command == "call":
                target = story.called((name, i))
                if target:
                    callers.setdefault(target[0], []).append((name, i + 1))
                    entries.add(target)
    # The story with whether a call may be pending: a return goes behind any
    # call of its file.
    seen = set()

    def follow(todo):
        while todo:
            state = todo.pop()
            if state in seen:
                continue
            seen.add(state)
            (name, i), pending = state
            if story.returns((name, i)):
                todo += [(back, False) for back in callers.get(name, [])]
                continue
            if tags[name][i][1] == "call":
                target = story.called((name, i))
                todo += [(target, True)] if target else []
                continue
            for place in story.steps((name, i)):
                if place[0] != name:
                    entries.add(place)
                    if not pending:
                        out.add(place[0])
                todo.append((place, pending))
    _from_every_start(story, lambda places: follow([(place, False) for place in places]),
                      lambda: (place for place, _ in seen))
    for name, i in entries:
        # Whether a return comes before any <label> from the entry.
        walk, met = [(name, i)], set()
        while walk and name not in out:
            place = walk.pop()
            if place in met or place[0] != name:
                continue
            met.add(place)
            if story.returns(place):
                out.add(name)
            elif tags[name][place[1]][1] != "label":
                walk += story.steps(place)
    return out


def _cycles(nodes, succ):
    """The sets of nodes that can each come back to the others by succ
    (Tarjan's search), those with at least one way round."""
    index, low, stack, on, out = {}, {}, [], set(), []
    for root in nodes:
        if root in index:
            continue
        work = [(root, iter(succ(root)))]
        index[root] = low[root] = len(index)
        stack.append(root)
        on.add(root)
        while work:
            v, it = work[-1]
            w = next(it, None)
            if w is not None:
                if w not in index:
                    index[w] = low[w] = len(index)
                    stack.append(w)
                    on.add(w)
                    work.append((w, iter(succ(w))))
                elif w in on:
                    low[v] = min(low[v], index[w])
                continue
            work.pop()
            if work:
                low[work[-1][0]] = min(low[work[-1][0]], low[v])
            if low[v] == index[v]:
                part = set()
                while True:
                    w = stack.pop()
                    on.discard(w)
                    part.add(w)
                    if w == v:
                        break
                if len(part) > 1 or v in succ(v):
                    out.append(part)
    return out


def _condition(command, words):
    """The condition a tag tests (if, elseif, a jump with one), or None."""
    at = CONDITIONS.get(command)
    return words[at] if at is not None and at < len(words) and script_data.unquoted(words[at]) else None


def _reads(command, words):
    """The variables a condition tag reads ("R18" for the archive)."""
    condition = _condition(command, words)
    return set().union(*(_inputs(part) for part in condition_parts(condition)[0])) if condition else set()


# The values the loop search follows the story with: one per variable of
# VALUE_SLOTS (the R18 archive last), a number where every way there brings
# the same one, None where it is not known. A story starts with the game
# variables at 0 (New game, and a scene of the special menu), the system
# variables and the archive unknown; the option screen sets PLAYER_SET while
# the story waits.
VALUE_SLOTS = script_data.SYSTEM_VARIABLES + script_data.GAME_VARIABLES + ("R18",)
_SLOT = {var: k for k, var in enumerate(VALUE_SLOTS)}
_START = tuple(0 if var in script_data.GAME_VARIABLES else None for var in VALUE_SLOTS)
PLAYER_SET = (18,)
LOOP_FOLLOW_LIMIT = 200000  # the steps one loop's verdict follows at most; beyond, nothing is said
ENTRY_CHOICES = 512  # the unknown values at a loop's entry tried one by one at most


def _join(a, b):
    return a if a == b else tuple(x if x == y else None for x, y in zip(a, b))


def _statement_step(statement, held):
    """Runs one statement on held ({variable: value or None}) as the engine
    does; True when it draws rand()."""
    target, op, expr = _split_statement(statement)
    var = _variable(target)
    draws = expr.startswith(b"rand(")
    if var is None:
        return draws
    reads = {_variable(expr[j:]) for j in range(len(expr)) if expr[j:j + 1] == b"["} - {None}
    if op != b"=":
        reads.add(var)
    if draws or any(held[r] is None for r in reads):
        held[var] = None
    else:
        known = {r: held[r] for r in reads}
        statements_run(statement, known)
        held[var] = known.get(var, 0)
    return draws


def _menu_writes(story, place):
    """The variables the statements of the choices of the menustart at place store."""
    name, i = place
    out = set()
    for j in range(i - 1, -1, -1):
        _, command, words = story.tags[name][j]
        if command == "menustart":
            break
        if command == "menuadd" and len(words) > 4:
            out |= {_variable(_split_statement(st)[0]) for st in statement_list(words[4])[0]} - {None}
    return out


def _after(story, place, values):
    """(the values behind the tag at place, whether it draws rand())."""
    command = story.command(place)
    if command == "eval":
        words = story.tags[place[0]][place[1]][2]
        held, draws = dict(zip(VALUE_SLOTS, values)), False
        for statement in statement_list(words[0])[0] if words else []:
            draws = _statement_step(statement, held) or draws
        return tuple(held[var] for var in VALUE_SLOTS), draws
    if command == "clearvar":
        return tuple(0 if var in script_data.GAME_VARIABLES else v for var, v in zip(VALUE_SLOTS, values)), False
    if _plain(command):
        return values, False
    lost = set(PLAYER_SET) | (_menu_writes(story, place) if command == "menustart" else set())
    return tuple(None if var in lost else v for var, v in zip(VALUE_SLOTS, values)), False


def _holds(condition, values):
    """Whether a condition holds with values, None when a part it needs reads
    what is not known."""
    if not script_data.unquoted(condition):
        return True
    parts, any_part, _ = condition_parts(condition)
    known, unknown = {var: v for var, v in zip(VALUE_SLOTS, values) if v is not None}, False
    for part in parts:
        if any(values[_SLOT[var]] is None for var in _inputs(part)):
            unknown = True
        elif part_value(part, known, bool(values[-1])) == any_part:
            return any_part
    return None if unknown else not any_part


def _ways(story, run, state, values):
    """The states the story goes on to from state with values (a condition
    that they decide goes one way)."""
    steps = run.next[state]
    name, i = state[0]
    if len(steps) == 2 and i < len(story.tags[name]):
        _, command, words = story.tags[name][i]
        condition = _condition(command, words)
        holds = _holds(condition, values) if condition else None
        if holds is not None:
            return [steps[0 if holds == (command == "jump") else 1]]
    return steps


def _values(story, run):
    """{state: its values} of the states the story reaches with the values it
    brings there (a way a condition never takes is not followed)."""
    into, todo = {}, collections.deque()
    for state in run.starts:
        into[state] = _join(into.get(state, _START), _START)
        todo.append(state)
    while todo:
        state = todo.popleft()
        if state not in run.next:
            continue  # beyond the search's bound
        values = into[state]
        after = _after(story, state[0], values)[0]
        for w in _ways(story, run, state, values):
            old = into.get(w)
            new = after if old is None else _join(old, after)
            if new != old:
                into[w] = new
                todo.append(w)
    return into


def _entries(story, run, into, parts):
    """For each part (a set of states): {(state, values): None} of the ways
    the story comes into it, from outside it or by starting there."""
    where = {state: k for k, part in enumerate(parts) for state in part}
    out = [{} for _ in parts]
    for state, values in into.items():
        if state not in run.next:
            continue
        for w in _ways(story, run, state, values):
            k = where.get(w)
            if k is not None and where.get(state) != k:
                out[k][w, _after(story, state[0], values)[0]] = None
    for state in run.starts:
        if state in where:
            out[where[state]][state, _START] = None
    return out


def _follow_loop(story, run, part, node, memo, budget, skip):
    """Follows the story from node ((state, values)) within part as the
    engine runs it: ("ends", the states it comes round through), ("leaves",
    None) or ("unknown", the unknown variables a condition read, or None).
    skip: a wait goes on (skip), and a click does not leave it."""
    path, on, outcome = [], {}, None
    while outcome is None:
        if node in memo:
            outcome = memo[node]
            break
        if node in on:
            outcome = ("ends", [n[0] for n in path[on[node]:]])
            break
        if budget[0] <= 0:
            return "unknown", None
        budget[0] -= 1
        state, values = node
        on[node] = len(path)
        path.append(node)
        after, draws = _after(story, state[0], values)
        ways = _ways(story, run, state, values)
        if skip and story.command(state[0]) in ("wait", "keywait") and len(ways) == 2:
            ways = ways[1:]
        if draws:
            outcome = ("unknown", None)  # each draw is counted: the engine never ends it
        elif len(ways) > 1:
            _, command, words = story.tags[state[0][0]][state[0][1]]
            outcome = ("unknown", [_SLOT[var] for var in _reads(command, words) if values[_SLOT[var]] is None])
        elif not ways or ways[0] not in part:
            outcome = ("leaves", None)
        else:
            node = (ways[0], after)
    for n in path:
        memo[n] = outcome
    return outcome


def _domain(slot):
    return (0, 1) if VALUE_SLOTS[slot] == "R18" else range(VARIABLE_RANGE[0], VARIABLE_RANGE[1] + 1)


def _choices(slots):
    return functools.reduce(lambda n, k: n * len(_domain(k)), slots, 1)


def _entry_cycle(story, run, part, state, values, memo, budget, skip=False):
    """The states the engine comes round through when the story comes into
    part at state with values, whatever the unknown ones hold, or None when
    it leaves from some value or that is not known."""
    fixed = []
    while True:
        cycle, grown = None, False
        for choice in itertools.product(*(_domain(k) for k in fixed)):
            tried = list(values)
            for k, v in zip(fixed, choice):
                tried[k] = v
            outcome, detail = _follow_loop(story, run, part, (state, tuple(tried)), memo, budget, skip)
            if outcome == "ends":
                cycle = cycle or detail
                continue
            more = [k for k in detail or () if values[k] is None and k not in fixed]
            if outcome == "leaves" or not more or _choices(fixed + more) > ENTRY_CHOICES:
                return None
            fixed, grown = fixed + more, True
            break
        if not grown:
            return cycle


def _plain_loops(story, known, cost=None, run=None, into=None):
    """The messages for each loop of plain tags that the engine's loop watch
    ends: one the story comes into with values from which, whatever the
    unknown ones hold, it comes round to the same place with the same
    values before any condition leaves it. known: places behind own-file
    calls already warned of, whose loops are not told again. [(name,
    offset, message)]"""
    run = run or _Run(story)
    into = into if into is not None else _values(story, run)
    out, told = [], set()
    if cost is not None:
        cost.update(places=len(run.next), lookups=story.index.lookups)
    if len(run.next) >= LOOP_SEARCH_LIMIT:
        # Said, not passed over: loops past the states followed are not known.
        reached = {state[0][0] for state in run.next}
        unreached = [name for name in story.members if name not in reached]
        beyond = ", nor any in %s" % ", ".join(unreached[:3]) if unreached else ""
        beyond += " and %d files more" % (len(unreached) - 3) if len(unreached) > 3 else ""
        out.append((INIT_NAME if INIT_NAME in story.tags else next(iter(story.members), b"?"), 0,
                    "the search for loops the engine ends stopped after %d places of the story; "
                    "loops beyond them are not checked%s" % (LOOP_SEARCH_LIMIT, beyond)))
    parts = [whole for whole in run.loops() if not {state[0] for state in whole} & known]
    for part, ways_in in zip(parts, _entries(story, run, into, parts)):
        memo, budget = {}, [LOOP_FOLLOW_LIMIT]
        for state, values in ways_in:
            cycle = _entry_cycle(story, run, part, state, values, memo, budget)
            if cycle:
                out += _loop_message(story, run, set(cycle), told)
                break
    return out


LABEL_HISTORY = 400  # the labels the engine's history keeps


def _held_loops(story, run, into):
    """The loops of the story that wait: each the set of places of states
    that come back to each other with a tag that waits and no menu between
    (which stops each pass), with whether it is a hold: one that a click
    leaves (a wait or keywait that goes to *staffroll_stop, the <click 0>
    hold of an ending) and that the story comes into with values from
    which, with skip on, it comes round before any condition leaves it.
    [(set of places, whether it is a hold)]"""
    def succ(state):
        return [w for w in run.next[state] if w in run.next and story.command(w[0]) != "menustart"]
    nodes = [state for state in run.next if story.command(state[0]) != "menustart"]
    parts = [part for part in _cycles(nodes, succ) if not all(run.plain(state) for state in part)]
    out = []
    for part, ways_in in zip(parts, _entries(story, run, into, parts)):
        memo, budget = {}, [LOOP_FOLLOW_LIMIT]
        clicks = any(story.command(state[0]) in ("wait", "keywait") and len(run.next[state]) == 2 and
                     run.next[state][0] not in part for state in part)
        out.append(({state[0] for state in part}, clicks and any(
            _entry_cycle(story, run, part, state, values, memo, budget, skip=True) for state, values in ways_in)))
    return out


def _held_labels(story, loops):
    """[(name, offset, message)] of each <label> in a hold of _held_loops."""
    out = []
    for part in (part for part, hold in loops if hold):
        back = min((p for p in part for q in story.steps(p) if q in part and q[1] <= p[1] and q[0] == p[0]),
                   default=None)
        for name, i in sorted(p for p in part if story.command(p) == "label"):
            through = " (the loop goes back on line %s)" % story.line(back) if back else ""
            out.append((name, story.tags[name][i][0], (
                "<label> is passed on each pass of a loop that waits and that only a click ends%s: with skip on, "
                "it fills the game's label history (%d labels) in seconds and pushes out the labels passed before "
                "it, so neither the backlog nor a save made after that can go back to a line before the loop: take "
                "the <label> out of the loop (a jump finds a label line without one)" % (through, LABEL_HISTORY))))
    return out


def _loop_message(story, run, part, told):
    """[(name, offset, message)] of a loop the engine ends (part: the states
    it comes round through), told at a jump that goes back, else at a
    return or a call; nothing when that place was told already."""
    rank = {"jump": 0, "call": 2}
    backs = sorted((rank.get(story.command(v[0]), 1), v[0], w[0]) for v in part for w in run.next[v]
                   if w in part and (w[0][0] != v[0][0] or w[0][1] <= v[0][1]))
    _, (name, i), to = backs[0]
    if (name, i) in told:
        return []
    told.add((name, i))
    leaves = any(w not in part for v in part for w in run.next[v])
    tags = story.tags[name]
    what = "the end of %s, which returns as <return> does," % name if i >= len(tags) else "<%s>" % tags[i][1]
    label = next(iter(story.labels_at(to)), None)
    where = ("%s in %s (line %s)" % (label.decode("cp932", "replace"), to[0],
                                     story.where[to[0]].at(story.labels[to[0]][label]).split(":")[1])
             if label else "%s line %s" % (to[0], story.line(to)))
    why = ("and no condition that leaves it: the engine ends the script here (where a variable still changes, "
           "the story never goes on)" if not leaves else
           "and no condition of it ever leaves: with the values the story comes here with, its variables come "
           "back round to the same values first (no rand(), and no count that reaches a value that leaves), so the "
           "engine ends the script here")
    return [(name, tags[i][0] if i < len(tags) else None, "%s goes to %s, and the story comes back here "
             "again and again with no tag between that waits or reads the player's input or the clock %s: put a "
             "wait in the loop, or a condition that leaves it and a statement that changes what it reads" % (
                 what, where, why))]


def _rest_of_line(data, end):
    """The bytes behind a tag up to the line's end."""
    stop = data.find(b"\r\n", end)
    return data[end:stop if stop >= 0 else len(data)]


def check(folder, game_dir=None, cost=None):
    """Every problem of the scenarios of folder, in file and line order.
    cost, a dict when given, gets the work done: "places" the loop search
    followed and file "lookups"."""
    problems = []

    def warn(message):
        where, _, text = message.partition(": ")
        level = "error" if re.search(r", which .+? lacks\b", text) else "warning"
        problems.append((level, where, text))

    try:
        _, story, known = script_data.read_scenarios(folder, warn)
    except vndata.DataError as e:
        where, _, text = str(e).partition(": ")
        problems.append(("error", where, text))
        return problems
    run = _Run(story)
    into = _values(story, run)
    held = _held_loops(story, run, into)
    for name, offset, message in _plain_loops(story, known, cost, run, into) + _held_labels(story, held):
        where = story.where[name]
        warn("%s: %s" % (where.at(1 << 40 if offset is None else offset), message))
    # A label line in a loop that waits is right without its <label>.
    heads = {story.where[name].at(story.labels[name][label]) for part, _ in held for name, i in part
             for label in story.labels_at((name, i))}
    problems[:] = [p for p in problems if not (p[1] in heads and p[2].startswith(script_data.LABEL_LINE_UNRECORDED))]
    if not os.path.isfile(os.path.join(folder, INIT_NAME)):
        problems.append(("error", INIT_NAME, "the container has no %s, where New game starts the story" % INIT_NAME))
    files = game_files(game_dir) if game_dir else None
    tables = message_tables(game_dir) if game_dir else {}
    for name in story.members:
        text, data, where = story.texts[name], story.data[name], story.where[name]
        problems += _full_width_tags(text, name)
        flow = _Flow()
        for offset, tag, words in story.tagged[name]:
            command = script_data.command_name(tag)
            at = where.at(offset)
            for level, message in argument_problems(command, words) + flow.step(command, words, at):
                problems.append((level, at, message))
            if command in CONDITIONS and CONDITIONS[command] < len(words):
                for level, message in condition_problems(words[CONDITIONS[command]]):
                    problems.append((level, at, message))
            if command in STATEMENTS and STATEMENTS[command] < len(words):
                for level, message in statement_problems(words[STATEMENTS[command]]):
                    problems.append((level, at, message))
            if command in CONDITIONS or command in STATEMENTS:
                rest = _rest_of_line(data, offset + len(tag)).strip(b" \t")
                if rest and not rest.startswith((b"<", b";")):
                    problems.append(("warning", at, "text behind the tag on its line: a '>' outside double quotes "
                                                    "ends the tag, so the game reads %s and passes %s by: quote a "
                                                    "condition or statement (\"[2000]>3\")" % (
                                                        tag.decode("cp932", "replace"),
                                                        rest.decode("cp932", "replace"))))
            for message in number_problems(command, words) + range_problems(command, words):
                problems.append(("warning", at, message))
            if command in LAYERED and words and not _is_layer(script_data.unquoted(words[0])):
                problems.append(("error", at, "%s's layer %s is neither base nor a number from 0 to 11: %s" % (
                    command, words[0].decode("cp932", "replace"), LAYERED[command])))
            if command in KEYED:
                keyed = words if KEYED[command] is None else words[KEYED[command]:KEYED[command] + 1]
                for word in keyed:
                    for level, message in key_problems(word, tables):
                        problems.append((level, at, message))
            if command in ("text", "name"):
                for message in _inline_text_problems(command, tag):
                    problems.append(("warning", at, message))
                rest = _rest_of_line(data, offset + len(tag)).strip(b" \t")
                if rest and not rest.startswith((b"<", b";")):
                    problems.append(("warning", at, "text behind the tag on its line: a '>' in a text ends "
                                                    "the tag, write $0"))
            if files is not None and command in RESOURCES:
                wanted = resource_path(command, words)
                if wanted and wanted not in files:
                    written = _argument(words, *RESOURCES[command][:2]).decode("cp932", "replace")
                    problems.append(("error", at, "%s names %r, but no archive holds %s" %
                                     (command, written or DEFAULT_WIPE.decode(), wanted.decode("cp932", "replace"))))
        problems += flow.end()
    return sorted(problems, key=_place)


def _place(problem):
    name, _, rest = problem[1].partition(":")
    line, _, col = rest.partition(":")
    return (name, int(line) if line.isdigit() else 0, int(col) if col.isdigit() else 0)


def find_game_dir(folder):
    """The game's source folder above a script.arc folder: the nearest one
    holding archives.json, or None."""
    here = os.path.abspath(folder)
    for _ in range(4):
        here = os.path.dirname(here)
        if os.path.exists(os.path.join(here, "archives.json")):
            return here
    return None


def report(problems, folder, out=None):
    """Prints `path:line:col: level: message` lines; returns the exit code:
    1 with errors, 2 with warnings only, 0 when clean."""
    out = out or sys.stderr
    for level, where, message in problems:
        name, colon, place = where.partition(":")
        out.write(vndata.one_line("%s%s%s: %s: %s" % (vndata.shown_path(os.path.join(folder, name)), colon, place, level,
                                                       message)) + "\n")
    if any(level == "error" for level, _, _ in problems):
        return 1
    return 2 if problems else 0


USAGE_EXIT = 3  # the command line is not understood (0, 1 and 2 are the check's)


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        self.print_usage(sys.stderr)
        self.exit(USAGE_EXIT, "%s: error: %s\n" % (self.prog, message))


def main(argv=None):
    p = _Parser(
        prog="script_check.py", description="Checks a game's scenarios and prints each problem as "
        "'path:line:col: error|warning: message'. Exits 1 on errors, 2 on warnings only, 0 when all is clean, "
        "%d when the command line is not understood." % USAGE_EXIT)
    p.add_argument("folder", help="the script.arc folder of the scenario sources (*.txt)")
    p.add_argument("--game", help="the game's source folder (with archives.json); by default the nearest one "
                                  "above FOLDER")
    argv = sys.argv[1:] if argv is None else argv
    if not argv:
        p.print_help(sys.stderr)
        return USAGE_EXIT
    args = p.parse_args(argv)
    try:
        return report(check(args.folder, args.game or find_game_dir(args.folder)), args.folder)
    except (vndata.DataError, OSError) as e:
        place = getattr(e, "filename", None) or args.folder
        print(vndata.located("error", e.strerror or str(e) if isinstance(e, OSError) else str(e), place),
              file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
