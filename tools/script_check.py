"""Checks a game's scenarios the way an author needs (standard library only).

  check(folder, game_dir=None) -> [(level, "file:line:col", message)]

`folder` is a script.arc source folder (its *.txt scenarios); `game_dir`,
when given, is the game's source folder (the one holding archives.json):
then every picture, wipe rule, sound, voice and movie a tag names must be a
file of one of its archives. Levels are "error" and "warning":
  errors   what script_data refuses (the first one ends the check), a
           call/jump to a file or label that does not exist, a file a tag
           names that no archive holds;
  warnings a command the interpreter does not know, a label line without
           <label>, a '<' in a comment, an in-place text or name with a
           character that the tag syntax takes for itself.
Names map to files as the engine maps them: the folder and extension of the
name are dropped, 'A'..'Z' lowered, and the command's own folder and
extension added (RESOURCES).
"""

import json
import os
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


def game_files(game_dir):
    """The lower-cased Shift-JIS archive paths of every file the build of
    game_dir puts into its archives (containers count as one file)."""
    with open(os.path.join(game_dir, "archives.json"), encoding="utf-8") as f:
        config = json.load(f)
    paths = set()
    for archive in config["archives"]:
        tree = os.path.join(game_dir, archive["tree"])
        for folder, dirs, names in os.walk(tree):
            rel_folder = os.path.relpath(folder, tree).replace(os.sep, "/")
            if rel_folder.lower().endswith(".arc"):
                dirs[:] = []
                paths.add(vndata.sjis_lower(vndata.encode_name(rel_folder)))
                continue
            for name in names:
                rel = name if rel_folder == "." else rel_folder + "/" + name
                paths.add(vndata.sjis_lower(vndata.encode_name(built_name(rel))))
    extras = os.path.join(game_dir, "extras.json")
    if os.path.exists(extras):
        import extras_data
        with open(extras, encoding="utf-8") as f:
            paths.update(vndata.sjis_lower(p) for p in extras_data.paths_from_source(json.load(f)))
    return paths


def _unquoted(word):
    return word[1:-1] if len(word) >= 2 and word[:1] == b'"' and word[-1:] == b'"' else word


def _argument(words, position, key):
    """The word GSL_ArgGet would give: the last named `key:value` word, else
    the word at `position`; quotes stripped."""
    if key:
        prefix = key.encode() + b":"
        for word in reversed(words):
            if word.lower().startswith(prefix):
                return _unquoted(word[len(prefix):])
    return _unquoted(words[position]) if position < len(words) else b""


def _stem(name):
    """The file name without folder and extension, as the engine cuts it."""
    start, i = 0, 0
    while i < len(name):
        if name[i] in b"\\/\t":
            start = i + 1
        i += 2 if script_data._is_lead(name[i]) and i + 1 < len(name) else 1
    base = name[start:]
    i = 0
    while i < len(base):
        if base[i] == ord("."):
            return base[:i]
        i += 2 if script_data._is_lead(base[i]) and i + 1 < len(base) else 1
    return base


def resource_path(command, words):
    """The archive path a tag's file name stands for, or None when the tag
    names none."""
    position, key, folder, ext = RESOURCES[command]
    name = _argument(words, position, key)
    if command == "trans" and name in (b"", b"crossfade"):
        name = DEFAULT_WIPE
    stem = _stem(name)
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
        if script_data._is_lead(b) and i + 1 < len(body):
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


def _rest_of_line(data, end):
    """The bytes behind a tag up to the line's end."""
    stop = data.find(b"\r\n", end)
    return data[end:stop if stop >= 0 else len(data)]


def check(folder, game_dir=None):
    """Every problem of the scenarios of folder, in file and line order."""
    problems = []

    def warn(message):
        where, _, text = message.partition(": ")
        level = "error" if " which the container lacks" in text or ", which " in text else "warning"
        problems.append((level, where, text))

    try:
        script_data.script_arc_bytes(folder, warn)
    except vndata.DataError as e:
        where, _, text = str(e).partition(": ")
        if "tag not closed" in text:
            text += " (a '<' in a text is written $1)"
        problems.append(("error", where, text))
        return problems
    files = game_files(game_dir) if game_dir else None
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        if not name.endswith(".txt") or not os.path.isfile(path):
            continue
        with open(path, "rb") as f:
            data, where = script_data._encode(f.read().decode("utf-8"), name)
        for offset, tag, words in script_data._tags(data, where, lambda m: None):
            command = script_data._name_of(tag).decode("cp932", "replace")
            number = script_data._numeric(script_data._name_of(tag))
            if number is not None:
                command = {v: k for k, v in script_data.COMMANDS.items()}.get(number, command)
            at = where.at(offset)
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
        out.write("%s: %s: %s\n" % (os.path.join(folder, where), level, message))
    if any(level == "error" for level, _, _ in problems):
        return 1
    return 2 if problems else 0
