#!/usr/bin/env python3
"""Checks that every variable a run keeps is put back by its layer's reset.

Usage: check_run_state.py SOURCE_ROOT OBJECT_DIR

OBJECT_DIR holds the engine library's object files, laid out as the sources
are (CMake's CMakeFiles/vn_engine.dir). The check lists every mutable
namespace-scope variable the objects define (objdump's symbols in .bss and
.data; constant tables, function-local statics and the compiler's own
symbols are left out) and maps each to its source file and layer.

A variable passes when either
- its name appears in a reset (LAYERS below: its own layer's, or the reset
  of the upper layer that writes it), or in a function of the reset's own
  layer that the reset calls, directly or through others (a variable private
  to its file counts only where it is named in its own file); or
- its declaration carries a `// process-wide: <why>` comment, at the end of
  its line or in the comment above it (a comment above a run of declarations
  with no blank or comment line between covers them all): state
  that lives for the process, e.g. a handle or table a subsystem's start-up
  makes afresh, a lock, or a test seam.

Exits 1 and names every other variable.
"""
import os
import re
import subprocess
import sys

# Layer -> the folders it holds and the resets that put its state back
# (the platform has none: its state is process-wide or the engine's resets'.)
LAYERS = [
    ('engine', ['platform', 'engine', 'shaders'], ['Lib_RunStateReset', 'Lib_TextRunStateReset']),
    ('ui', ['ui'], ['GSL_UiRunStateReset']),
    ('script', ['script'], ['GSL_ScriptRunStateReset']),
    ('story', ['story'], ['GSL_StoryRunStateReset']),
    ('screens', ['screens'], ['GSL_ScreensRunStateReset']),
    ('extras', ['extras'], ['Extras_RunStateReset']),
    ('app', ['app'], ['Main_RunStateReset', 'Main_AppWindowReset']),
]

MARKER = re.compile(r'//\s*process-wide:\s*\S')
IDENT = re.compile(r'[A-Za-z_]\w*')
CALL = re.compile(r'([A-Za-z_]\w*)\s*\(')
MUTABLE_SECTION = re.compile(r'^\.(bss|data|tbss|tdata)(\.|$)')
CONSTANT_SECTION = re.compile(r'^\.data\.rel\.ro|\.DW\.ref\.')
QUALIFIERS = re.compile(r'\)\s*(?:(?:const|noexcept|override|final)\s*|->\s*[\w:<>*&, ]+)*$')


def layer_of(rel):
    top = rel.split('/', 1)[0]
    for name, folders, _ in LAYERS:
        if top in folders:
            return name
    return None


def strip(text):
    """Blanks comments, the insides of string and character literals and
    preprocessor lines, keeping every offset and line break."""
    out = list(text)
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c == '#':
            j = i
            while j < n and not (text[j] == '\n' and text[j - 1] != '\\'):
                j += 1
            for k in range(i, j):
                if out[k] != '\n':
                    out[k] = ' '
            i = j
            continue
        if c == '\n':
            line_start = True
            i += 1
            continue
        if not c.isspace():
            line_start = False
        if text.startswith('//', i):
            j = text.find('\n', i)
            j = n if j < 0 else j
            for k in range(i, j):
                out[k] = ' '
            i = j
        elif text.startswith('/*', i):
            j = text.find('*/', i + 2)
            j = n if j < 0 else j + 2
            for k in range(i, j):
                if out[k] != '\n':
                    out[k] = ' '
            i = j
        elif c == 'R' and text.startswith('R"', i):
            m = re.match(r'R"([^(\s]*)\(', text[i:])
            end = text.find(')' + m.group(1) + '"', i) if m else -1
            j = n if end < 0 else end + len(m.group(1)) + 2
            for k in range(i + 2, j - 1):
                if out[k] != '\n':
                    out[k] = ' '
            i = j
        elif c in '"\'':
            j = i + 1
            while j < n and text[j] != c and text[j] != '\n':
                j += 2 if text[j] == '\\' else 1
            for k in range(i + 1, min(j, n)):
                out[k] = ' '
            i = j + 1
        else:
            i += 1
    return ''.join(out)


def matching(text, open_at, opener, closer):
    depth = 0
    for i in range(open_at, len(text)):
        if text[i] == opener:
            depth += 1
        elif text[i] == closer:
            depth -= 1
            if depth == 0:
                return i
    return len(text) - 1


class Source:
    """One file: its functions' bodies and where its names are declared."""

    def __init__(self, rel, text):
        self.rel = rel
        self.lines = text.split('\n')
        self.code = strip(text)
        self.functions = []  # (name, body)
        self.outside = []  # (start, end) spans of namespace-scope text
        self._scan()

    def _scan(self):
        code = self.code
        i, start = 0, 0
        while i < len(code):
            c = code[i]
            if c in ';}':
                self.outside.append((start, i + 1))
                start = i + 1
            elif c == '{':
                head = code[start:i]
                if re.search(r'\bnamespace\b[\w\s:]*$', head) or re.search(r'\bextern\s*"\s*"\s*$', head):
                    self.outside.append((start, i + 1))
                    start = i + 1
                    i += 1
                    continue
                end = matching(code, i, '{', '}')
                self.outside.append((start, i))
                name = self._function_name(head)
                if name:
                    self.functions.append((name, code[i + 1:end]))
                else:
                    self.outside.append((i, end + 1))
                start = i = end + 1
                continue
            i += 1
        self.outside.append((start, len(code)))

    @staticmethod
    def _function_name(head):
        m = QUALIFIERS.search(head)
        if not m:
            return None
        close = m.start()
        depth = 0
        for j in range(close, -1, -1):
            if head[j] == ')':
                depth += 1
            elif head[j] == '(':
                depth -= 1
                if depth == 0:
                    name = re.search(r'([A-Za-z_]\w*)\s*$', head[:j])
                    return name.group(1) if name else None
        return None

    def declaration_line(self, name):
        pattern = re.compile(r'\b' + re.escape(name) + r'\b')
        for start, end in self.outside:
            m = pattern.search(self.code, start, end)
            if m:
                return self.code.count('\n', 0, m.start())
        return None

    def marked(self, line):
        """The declaration's own line, or the comment block directly above
        the run of code lines it belongs to, carries the marker."""
        if MARKER.search(self.lines[line]):
            return True
        j = line
        while j > 0 and self.lines[j - 1].strip() and not self.lines[j - 1].lstrip().startswith('//'):
            j -= 1
        while j > 0 and self.lines[j - 1].lstrip().startswith('//'):
            if MARKER.search(self.lines[j - 1]):
                return True
            j -= 1
        return False


def read_sources(root):
    sources = {}
    for top in sorted({f for _, folders, _ in LAYERS for f in folders}):
        for dirpath, _, names in os.walk(os.path.join(root, top)):
            for name in sorted(names):
                if name.endswith(('.cpp', '.h', '.inc')):
                    full = os.path.join(dirpath, name)
                    rel = os.path.relpath(full, root).replace(os.sep, '/')
                    with open(full, encoding='utf-8', errors='replace') as f:
                        sources[rel] = Source(rel, f.read())
    return sources


def reset_reach(sources, layer, roots):
    """The (file, names) of every function the layer's resets reach."""
    defined = {}
    for src in sources.values():
        if layer_of(src.rel) == layer:
            for name, body in src.functions:
                defined.setdefault(name, []).append((src.rel, body))
    missing = [r for r in roots if r not in defined]
    seen, todo, reach = set(), list(roots), []
    while todo:
        name = todo.pop()
        if name in seen:
            continue
        seen.add(name)
        for rel, body in defined.get(name, []):
            reach.append((rel, set(IDENT.findall(body))))
            todo.extend(CALL.findall(body))
    return reach, missing


def variables(object_dir, root):
    """(source, name, private) of every mutable namespace-scope variable."""
    objects = []
    for dirpath, _, names in os.walk(object_dir):
        for name in sorted(names):
            if name.endswith('.o'):
                full = os.path.join(dirpath, name)
                rel = os.path.relpath(full, object_dir).replace(os.sep, '/')[:-2]
                if os.path.exists(os.path.join(root, rel)) and layer_of(rel):
                    objects.append((full, rel))
    if not objects:
        return None
    by_path = {full: rel for full, rel in objects}
    out = subprocess.run(['objdump', '-t', '-C'] + [full for full, _ in objects],
                         check=True, capture_output=True, text=True).stdout
    found, current = [], None
    for line in out.split('\n'):
        if line.endswith(':     file format elf64-x86-64') or re.search(r':\s+file format ', line):
            current = by_path.get(line.split(':')[0])
            continue
        parts = line.split('\t')
        if current is None or len(parts) != 2:
            continue
        fields = parts[0].split()
        if len(fields) < 3 or 'O' not in fields[1:-1]:
            continue
        section = fields[-1]
        symbol = parts[1].split(None, 1)[-1] if ' ' in parts[1] else parts[1]
        symbol = symbol.replace('(anonymous namespace)::', '')
        if not MUTABLE_SECTION.match(section) or CONSTANT_SECTION.search(section):
            continue
        if ')::' in symbol or symbol.startswith(('std::', '__', 'guard variable', 'vtable', 'typeinfo')):
            continue
        private = line[17:24].strip().startswith('l')
        found.append((current, symbol.split('::')[-1], private))
    return found


def main():
    if len(sys.argv) != 3:
        print(__doc__.split('\n\n')[1])
        return 2
    root, object_dir = (os.path.abspath(a) for a in sys.argv[1:])
    sources = read_sources(root)
    listed = variables(object_dir, root)
    if not listed:
        print(f'no object files of the layers under {object_dir}')
        return 1
    problems = []
    reach = []
    for layer, _, roots in LAYERS:
        layer_reach, missing = reset_reach(sources, layer, roots)
        reach += layer_reach
        for name in missing:
            problems.append(f'{layer}: its reset {name} is not defined in its folders')
    for rel, name, private in sorted(listed):
        if any(name in names and (not private or where == rel) for where, names in reach):
            continue
        src = sources[rel]
        line = src.declaration_line(name)
        if line is not None and src.marked(line):
            continue
        where = f'{rel}:{line + 1}' if line is not None else rel
        roots = ', '.join(next(r for l, _, r in LAYERS if l == layer_of(rel)))
        problems.append(f'{where}: {name} is neither set by a reset ({roots} for its layer) '
                        f'nor marked "// process-wide: <why>"')
    for p in problems:
        print(p)
    if problems:
        print(f'{len(problems)} run-wide variable(s) no reset puts back')
        return 1
    print(f'run state: each of {len(listed)} variables is reset by its layer or marked process-wide')
    return 0


if __name__ == '__main__':
    sys.exit(main())
