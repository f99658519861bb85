#!/usr/bin/env python3
"""Checks that every variable a run keeps is put back by its layer's reset.

Usage: check_run_state.py SOURCE_ROOT OBJECT_DIR...

Each OBJECT_DIR holds object files laid out as the sources are (CMake's
CMakeFiles/vn_engine.dir for the engine library, CMakeFiles/vn.dir for the
program's own files). The check lists every mutable namespace-scope variable
the objects define, thread_local ones included (objdump's symbols in .bss,
.data, .tbss and .tdata; constant tables, function-local statics and the
compiler's own symbols are left out) and maps each to the source file that
defines it and to that file's layer.

A variable passes when either
- a reset sets it (LAYERS below: its own layer's, or the reset of the upper
  layer that writes it), or a function of the reset's own layer that the
  reset calls, directly or through others. A call goes to the function of
  that name in the caller's own file, else to the layer's public one. A name
  in a function's body is the variable only where that file can see it: a
  variable private to its file only in its own file, a public one in its own
  file or in a file that includes its extern declaration; a parameter or a
  local of the same name (a loop variable, say) hides it. The function must
  set it: assign it or an element or member of it, step it, store into it,
  fill or copy into it with memset, std::fill, std::copy or the like (given
  it, its std::begin or its data()), exchange or swap it, take its address
  (not where a call takes it as a pointer to const: a project function's
  parameter, the source of a copy, memcmp and the other readers), or hand
  it to a function of the project whose parameter is a non-const reference
  or pointer (T* const too), or bind it to a non-const reference of a
  range-for that assigns the elements. Reading it (==, &&,
  a const reference, a const range-for) is not enough. Where the variable
  starts as a plain literal (a number in any of C++'s forms, a character,
  nullptr, true, false; or zero, with no initialiser) and the reset writes
  a plain literal into it or its elements, the two must be equal; or
- its declaration is marked process-wide: state that lives for the process,
  e.g. a handle or table a subsystem's start-up makes afresh, a lock, or a
  test seam. `// process-wide: <why>` marks the declaration on its own lines
  or the one declaration directly under it; `// process-wide (A, B): <why>`
  in the comment above a run of declarations (no blank line between) marks
  the variables it names, each of which must be declared in that run.
  Marks are read in the file that defines the variable only; one in a
  header that names variables is told as naming none.

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

MARK = re.compile(r'//\s*process-wide\s*(?:\(([^)]*)\))?\s*:\s*\S')
IDENT = re.compile(r'[A-Za-z_]\w*')
CALL = re.compile(r'(?<![\w.>])([A-Za-z_]\w*)\s*\(')
MUTABLE_SECTION = re.compile(r'^\.(bss|data|tbss|tdata)(\.|$)')
TLS_SECTION = re.compile(r'^\.t(bss|data)(\.|$)')
CONSTANT_SECTION = re.compile(r'^\.data\.rel\.ro|\.DW\.ref\.')
QUALIFIERS = re.compile(r'\)\s*(?:(?:const|noexcept|override|final)\s*|->\s*[\w:<>*&, ]+)*$')
KEYWORDS = {'return', 'case', 'else', 'delete', 'throw', 'goto', 'new', 'sizeof', 'co_return', 'co_await',
            'co_yield', 'do', 'using', 'namespace', 'if', 'for', 'while', 'switch', 'default', 'operator'}
# A declaration's type before the name it declares (at the start of a statement).
TYPE_PREFIX = re.compile(r'^\s*(?:(?:const|static|constexpr|volatile|unsigned|signed|struct|enum|class|'
                         r'typename|thread_local)\s+)*([A-Za-z_]\w*(?:::[A-Za-z_]\w*)*)(?:\s*<[^;{}()]*>)?'
                         r'(?:\s+const)?\s*[*&]*\s*(?:const\s*)?[*&]*\s*$')
# The literal forms C++ has for numbers and characters; digit separators (')
# are taken out before the number ones are matched.
INTEGER_SUFFIX = r'(?:[uU](?:ll|LL|[lLzZ])?|(?:ll|LL|[lLzZ])[uU]?)?'
INTEGER = re.compile(r'^(?:0[xX]([0-9a-fA-F]+)|0[bB]([01]+)|(0[0-7]*)|([1-9][0-9]*))' + INTEGER_SUFFIX + '$')
DECIMAL_FLOAT = re.compile(r'^((?:[0-9]*\.[0-9]+|[0-9]+\.)(?:[eE][-+]?[0-9]+)?|[0-9]+[eE][-+]?[0-9]+)[fFlL]?$')
HEX_FLOAT = re.compile(r'^(0[xX](?:[0-9a-fA-F]*\.[0-9a-fA-F]+|[0-9a-fA-F]+\.?)[pP][-+]?[0-9]+)[fFlL]?$')
CHARACTER = re.compile(r"^(?:u8|[uUL])?'(.+)'$", flags=re.S)
ESCAPES = {'n': 10, 't': 9, 'r': 13, '0': 0, 'a': 7, 'b': 8, 'f': 12, 'v': 11, '\\': 92, "'": 39, '"': 34, '?': 63}
SCALAR = re.compile(r'^(?:(?:const|volatile|unsigned|signed|long|short)\s+)*'
                    r'(?:u?int(?:8|16|32|64)_t|int|char|bool|float|double|long|short|unsigned|size_t|'
                    r'u?intptr_t)$')
# Calls that write the buffers given at these argument places (a fill's or
# a copy's destination, both sides of a swap); their other arguments are read.
BUFFER_WRITERS = {'memset': {0}, 'memcpy': {0}, 'memmove': {0}, 'strcpy': {0}, 'strncpy': {0}, 'snprintf': {0},
                  'sprintf': {0}, 'bzero': {0}, 'fill': {0}, 'fill_n': {0}, 'copy': {2}, 'copy_n': {2},
                  'copy_backward': {2}, 'exchange': {0}, 'swap': {0, 1}}
# The argument that holds the value such a call writes into each element.
BUFFER_VALUES = {'fill': 2, 'fill_n': 2, 'exchange': 1}
# Calls that hand on the start of the buffer they are given (std::begin(x), x.data()).
BUFFER_STARTS = {'begin', 'data'}
# Calls that only read the buffers they are given.
BUFFER_READERS = {'memcmp', 'strcmp', 'strncmp', 'strlen', 'memchr', 'strchr'}
# Member calls that change the object they are called on.
WRITING_METHODS = {'store', 'exchange', 'fetch_add', 'fetch_sub', 'fetch_and', 'fetch_or', 'fetch_xor',
                   'compare_exchange_weak', 'compare_exchange_strong', 'clear', 'reset', 'fill', 'assign',
                   'swap', 'emplace', 'push_back', 'emplace_back', 'pop_back', 'resize'}


def layer_of(rel):
    top = rel.split('/', 1)[0]
    for name, folders, _ in LAYERS:
        if top in folders:
            return name
    return None


def digit_separator(text, i):
    """Whether the quote at i is a digit separator: it stands inside a
    number (the token before it starts with a digit)."""
    j = i
    while j > 0 and (text[j - 1].isalnum() or text[j - 1] in "_'."):
        j -= 1
    return j < i and text[j].isdigit() or (text[j] == '.' and text[j + 1:j + 2].isdigit())


def strip(text, keep_characters=False):
    """Blanks comments, the insides of string and character literals and
    preprocessor lines, keeping every offset and line break; with
    keep_characters, character literals stay as written."""
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
        elif c == '"' or (c == "'" and not digit_separator(text, i)):
            j = i + 1
            while j < n and text[j] != c and text[j] != '\n':
                j += 2 if text[j] == '\\' else 1
            if c == '"' or not keep_characters:
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


def split_spans(text):
    """(start, end) of each comma-separated part of an argument or parameter list."""
    spans, depth, start = [], 0, 0
    for i, c in enumerate(text):
        if c in '([{<':
            depth += 1
        elif c in ')]}>':
            depth -= 1
        elif c == ',' and depth == 0:
            spans.append((start, i))
            start = i + 1
    spans.append((start, len(text)))
    return spans


def split_top(text):
    """The comma-separated parts of an argument or parameter list."""
    return [text[a:b].strip() for a, b in split_spans(text)]


def character(body):
    """The value of a character literal's inside (one character or escape), else None."""
    if len(body) == 1:
        return ord(body)
    if body[0] != '\\':
        return None
    if body[1:] in ESCAPES:
        return ESCAPES[body[1:]]
    m = re.match(r'^\\(?:([0-7]{1,3})|x([0-9a-fA-F]+))$', body)
    return None if not m else int(m.group(1), 8) if m.group(1) else int(m.group(2), 16)


def literal(text):
    """The value of a plain literal (a number in any of C++'s forms, a
    character, nullptr, true, false), with a sign, else None."""
    text = text.strip()
    while text.startswith('(') and text.endswith(')') and matching(text, 0, '(', ')') == len(text) - 1:
        text = text[1:-1].strip()
    if text in ('nullptr', 'false', 'NULL'):
        return 0
    if text == 'true':
        return 1
    sign = -1 if text.startswith('-') else 1
    if text[:1] in '-+' and text:
        text = text[1:].strip()
    m = CHARACTER.match(text)
    if m:
        value = character(m.group(1))
        return None if value is None else sign * value
    number = text.replace("'", '') if re.match(r"^\.?[0-9]", text) else ''
    m = INTEGER.match(number)
    if m:
        hexadecimal, binary, octal, decimal = m.groups()
        value = (int(hexadecimal, 16) if hexadecimal else int(binary, 2) if binary
                 else int(octal, 8) if octal else int(decimal, 10))
        return sign * value
    m = HEX_FLOAT.match(number)
    if m:
        return sign * float.fromhex(m.group(1))
    m = DECIMAL_FLOAT.match(number)
    if m:
        return sign * float(m.group(1))
    return None


class Function:
    def __init__(self, src, name, params, body, private, characters):
        self.src, self.name, self.params, self.body, self.private = src, name, params, body, private
        self.characters = characters  # the body with its character literals as written
        self.locals = set(p for _, p in params if p) | declared_locals(body)


def declared_locals(body):
    """The names a function body declares (locals, loop variables)."""
    names = set()
    for m in re.finditer(r'\b([A-Za-z_]\w*)\s*(?:=(?!=)|;|\[|\{|:(?!:)|\()', body):
        cut = max(body.rfind(c, 0, m.start()) for c in ';{}(')
        prefix = body[cut + 1:m.start()]
        t = TYPE_PREFIX.match(prefix)
        if t and t.group(1) not in KEYWORDS and m.group(1) not in KEYWORDS and re.search(r'[\s*&]$', prefix):
            names.add(m.group(1))
    return names


class Source:
    """One file: its functions, its namespace-scope statements, its includes."""

    def __init__(self, rel, text):
        self.rel = rel
        self.lines = text.split('\n')
        self.code = strip(text)
        self.code_characters = strip(text, keep_characters=True)
        self.code_lines = self.code.split('\n')
        self.includes = re.findall(r'^\s*#\s*include\s*"([^"]+)"', text, flags=re.M)
        self.functions = []
        self.statements = []  # (start, end) of namespace-scope statements
        self._scan()
        self._find_marks()
        self.externs = set()
        for start, end in self.statements:
            if re.match(r'\s*extern\b(?!\s*"")', self.code[start:end]):
                self.externs |= set(IDENT.findall(self.code[start:end]))

    def _scan(self):
        code = self.code
        i, start, blocks = 0, 0, []
        while i < len(code):
            c = code[i]
            if c == ';':
                self.statements.append((start, i + 1))
                start = i + 1
            elif c == '}':
                if blocks:
                    blocks.pop()
                start = i + 1
            elif c == '{':
                head = code[start:i]
                ns = re.search(r'\bnamespace\b\s*([\w:]*)\s*$', head)
                if ns or re.search(r'\bextern\s*"\s*"\s*$', head):
                    blocks.append('anon' if ns and not ns.group(1) else 'named')
                    start = i + 1
                    i += 1
                    continue
                end = matching(code, i, '{', '}')
                named = None if re.search(r'=\s*$', head) else self._function_head(head)
                if named:
                    private = 'anon' in blocks or re.match(r'\s*(?:template\s*<[^>]*>\s*)?static\b', head)
                    self.functions.append(Function(self, named[0], named[1], code[i + 1:end], bool(private),
                                                   self.code_characters[i + 1:end]))
                    start = end + 1
                i = end + 1
                continue
            i += 1

    @staticmethod
    def _function_head(head):
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
                    if not name or name.group(1) in KEYWORDS:
                        return None
                    params = []
                    for p in split_top(head[j + 1:close]):
                        p = p.split('=')[0].strip()
                        words = IDENT.findall(p)
                        params.append((p, words[-1] if len(words) > 1 and not p.endswith(')') else None))
                    return name.group(1), params
        return None

    def line_of(self, offset):
        return self.code.count('\n', 0, offset)

    def declaration(self, name):
        """(start, end) of the namespace-scope statement that declares name."""
        pattern = re.compile(r'(?<![.>\w])\b' + re.escape(name) + r'\b')
        for start, end in self.statements:
            text = self.code[start:end]
            if re.match(r'\s*(?:extern|struct|class|union|enum|using|typedef|template|static_assert)\b', text):
                continue
            if pattern.search(text):
                return start, end
        return None

    def marks(self, line):
        """The process-wide mark that starts on a line: None, or the set of
        names it covers ('*' for the declaration it stands on or above)."""
        return self.mark_at.get(line)

    def _find_marks(self):
        self.mark_at = {}
        for i, text in enumerate(self.lines):
            m = re.search(r'//\s*process-wide\b', text)
            if not m:
                continue
            rest, j = text[m.end():], i
            if rest.lstrip().startswith('('):
                # The names may go on over the comment lines below.
                while ')' not in rest and j + 1 < len(self.lines) and self.lines[j + 1].lstrip().startswith('//'):
                    j += 1
                    rest += ' ' + self.lines[j].lstrip()[2:]
                named = re.match(r'\s*\(([^)]*)\)\s*:\s*\S', rest)
                if named:
                    self.mark_at[i] = set(IDENT.findall(named.group(1)))
            elif MARK.match(text[m.start():]):
                self.mark_at[i] = {'*'}

    def first_line(self, start, end):
        """The line a statement starts on (its first character that is not blank)."""
        text = self.code[start:end]
        return self.line_of(start + len(text) - len(text.lstrip()))

    def marked(self, name, start, end):
        first, last = self.first_line(start, end), self.line_of(end)
        for line in range(first, last + 1):
            names = self.marks(line)
            if names and ('*' in names or name in names):
                return True
        j, above = first, True
        while j > 0 and self.lines[j - 1].strip():
            j -= 1
            comment = self.lines[j].lstrip().startswith('//')
            if not comment:
                above = False
            names = self.marks(j) if comment else None
            if names and (name in names or ('*' in names and above)):
                return True
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


class Project:
    def __init__(self, sources):
        self.sources = sources
        self.by_name = {}
        for src in sources.values():
            for f in src.functions:
                self.by_name.setdefault(f.name, []).append(f)
        self._closure = {}

    def closure(self, rel):
        """The files rel includes, directly or through others, and itself."""
        if rel not in self._closure:
            seen, todo = set(), [rel]
            while todo:
                r = todo.pop()
                if r in seen or r not in self.sources:
                    continue
                seen.add(r)
                todo.extend(self.sources[r].includes)
            self._closure[rel] = seen
        return self._closure[rel]

    def callees(self, caller, name, layer):
        own = [f for f in self.by_name.get(name, []) if f.src is caller.src]
        if own:
            return own
        return [f for f in self.by_name.get(name, []) if not f.private and layer_of(f.src.rel) == layer]

    def reach(self, layer, roots):
        """Every function the layer's resets reach, and the roots not found."""
        found, todo, missing = {}, [], []
        for r in roots:
            defs = [f for f in self.by_name.get(r, []) if layer_of(f.src.rel) == layer and not f.private]
            if not defs:
                missing.append(r)
            todo += defs
        while todo:
            f = todo.pop()
            if id(f) in found:
                continue
            found[id(f)] = f
            for m in CALL.finditer(f.body):
                todo += self.callees(f, m.group(1), layer)
        return list(found.values()), missing

    def sees(self, rel, var_rel, name, private):
        if rel == var_rel:
            return True
        if private:
            return False
        return any(name in self.sources[r].externs for r in self.closure(rel))

    def parameter_writes(self, callee, index):
        """Whether a project function named callee may write its index-th
        argument: a reference or pointer parameter whose referent is not
        const (no const before its first & or *)."""
        for f in self.by_name.get(callee, []):
            if index < len(f.params):
                p = f.params[index][0]
                ref = re.search(r'[&*]', p)
                if ref and '&&' not in p and not re.search(r'\bconst\b', p[:ref.start()]):
                    return True
        return False


def enclosing_call(body, at):
    """(callee, argument index, where the callee's name starts, where its '('
    stands) of the call whose arguments hold offset at; a member call's
    callee is named with a leading '.'."""
    depth, commas = 0, 0
    for i in range(at - 1, -1, -1):
        c = body[i]
        if c in ')]}':
            depth += 1
        elif c in '[{':
            if depth == 0:
                return None
            depth -= 1
        elif c == '(':
            if depth == 0:
                m = re.search(r'([A-Za-z_]\w*)\s*$', body[:i])
                if not m:
                    return None
                member = re.search(r'(?:\.|->)\s*$', body[:m.start()])
                return ('.' if member else '') + m.group(1), commas, m.start(), i
            depth -= 1
        elif c == ';' and depth == 0:
            return None
        elif c == ',' and depth == 0:
            commas += 1
    return None


def buffer_call(body, at):
    """The call whose arguments hold offset at, looked for through the calls
    that hand on the start of a buffer."""
    call = enclosing_call(body, at)
    while call and call[0].lstrip('.') in BUFFER_STARTS and call[1] == 0:
        call = enclosing_call(body, call[2])
    return call


def argument(body, characters, open_at, index):
    """The plain literal the index-th argument of the call whose '(' stands
    at open_at is, else None."""
    spans = split_spans(body[open_at + 1:matching(body, open_at, '(', ')')])
    if index >= len(spans):
        return None
    return literal(characters[open_at + 1 + spans[index][0]:open_at + 1 + spans[index][1]])


def buffer_write(body, characters, call):
    """(True, value) when the call writes the buffer at its argument place,
    else None."""
    if not call or call[1] not in BUFFER_WRITERS.get(call[0], ()):
        return None
    index = BUFFER_VALUES.get(call[0])
    return True, None if index is None else argument(body, characters, call[3], index)


def writes(project, body, name, characters=None):
    """(whole, value) for every place body sets name: whole when it writes
    the variable or an element, not a member; value a plain literal or None.
    characters: the body with its character literals as written (the
    literals' values are read there)."""
    characters = body if characters is None else characters
    found = []
    for m in re.finditer(r'(?<![\w.])(?<!->)\b' + re.escape(name) + r'\b', body):
        before = body[:m.start()].rstrip()
        if before.endswith('::') and re.search(r'\w::$', before):
            continue
        pos, subscript, member, method = m.end(), False, False, None
        while True:
            rest = body[pos:]
            ws = len(rest) - len(rest.lstrip())
            pos += ws
            if body.startswith('[', pos):
                pos = matching(body, pos, '[', ']') + 1
                subscript = True
                continue
            step = re.match(r'(?:\.|->)\s*([A-Za-z_]\w*)', body[pos:])
            if step:
                pos += step.end()
                if re.match(r'\s*\(', body[pos:]):
                    method = step.group(1)
                    break
                member = True
                continue
            break
        rest = body[pos:]
        whole = not member
        if method:
            if method in WRITING_METHODS:
                value = None
                if method in ('store', 'exchange') and whole:
                    value = argument(body, characters, pos + rest.index('('), 0)
                found.append((whole, value))
            elif method in BUFFER_STARTS and whole and not subscript:
                write = buffer_write(body, characters, buffer_call(body, m.start()))
                if write:
                    found.append(write)
            continue
        if re.match(r'=(?!=)', rest):
            rhs = rest[1:rest.find(';')] if ';' in rest else rest[1:]
            chain = re.match(r'^(?:\s*[\w\[\].>-]+\s*=(?!=))*(.*)$', rhs, flags=re.S)
            found.append((whole, literal(characters[pos + 1 + chain.start(1):pos + 1 + chain.end(1)])))
            continue
        if re.match(r'(?:[-+*/%&|^]|<<|>>)=|\+\+|--', rest) or re.search(r'(?:\+\+|--)\s*$', before):
            found.append((whole, None))
            continue
        if before.endswith('&') and not before.endswith('&&') and not re.search(r'[\w)\]]\s*&$', before):
            # Its address: read where a call takes it as a pointer to const
            # (a project function's parameter, the source of a copy), else
            # handed on to what may write through it.
            call = buffer_call(body, m.start())
            if call and (call[0] in BUFFER_READERS or
                         (call[0] in BUFFER_WRITERS and call[1] not in BUFFER_WRITERS[call[0]]) or
                         (call[0] in project.by_name and not project.parameter_writes(call[0], call[1]))):
                continue
            found.append((whole, None))
            continue
        loop = re.search(r'\bfor\s*\(([^;()]*?)([A-Za-z_]\w*)\s*:$', before)
        if loop and '&' in loop.group(1) and not re.search(r'\bconst\b', loop.group(1)):
            end = matching(body, body.rfind('(', 0, m.start()), '(', ')')
            for whole_element, value in writes(project, body[end + 1:], loop.group(2), characters[end + 1:]):
                found.append((True, value if whole_element else None))
            continue
        call = buffer_call(body, m.start())
        if call and not member and not subscript:
            write = buffer_write(body, characters, call)
            if write or project.parameter_writes(call[0], call[1]):
                found.append(write or (True, None))
    return found


def variables(object_dirs, root):
    """(source, name, private) of every mutable namespace-scope variable."""
    objects = []
    for object_dir in object_dirs:
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
    found, current = set(), None
    for line in out.split('\n'):
        if re.search(r':\s+file format ', line):
            current = by_path.get(line.split(':')[0])
            continue
        parts = line.split('\t')
        if current is None or len(parts) != 2:
            continue
        fields = parts[0].split()
        if len(fields) < 3:
            continue
        section = fields[-1]
        if 'O' not in fields[1:-1] and not TLS_SECTION.match(section):
            continue
        symbol = parts[1].split(None, 1)[-1] if ' ' in parts[1] else parts[1]
        symbol = symbol.replace('(anonymous namespace)::', '')
        if not MUTABLE_SECTION.match(section) or CONSTANT_SECTION.search(section):
            continue
        if ')::' in symbol or symbol.startswith(('std::', '__', 'guard variable', 'vtable', 'typeinfo', 'TLS ')):
            continue
        private = line[17:24].strip().startswith('l')
        found.add((current, symbol.split('::')[-1], private))
    return sorted(found)


def start_value(src, name, decl):
    """The value a scalar variable, or each element of an array of scalars,
    starts with when its declaration gives a plain literal or nothing (zero);
    None when the check cannot tell."""
    text = src.code[decl[0]:decl[1]]
    m = re.search(r'(?<![.>\w])\b' + re.escape(name) + r'\b', text)
    kind = re.sub(r'\b(?:static|inline|thread_local|constinit|alignas\s*\([^)]*\))\s*', '', text[:m.start()]).strip()
    atomic = re.match(r'^std::atomic\s*<\s*(.*?)\s*>$', kind)
    kind = atomic.group(1) if atomic else kind
    if not (SCALAR.match(kind) or re.match(r'^[\w:<>\s]+\*$', kind)):
        return None
    at = m.end()
    while text[at:].lstrip().startswith('['):
        at += len(text[at:]) - len(text[at:].lstrip())
        at = matching(text, at, '[', ']') + 1
    rest = text[at:].rstrip().rstrip(';').rstrip()
    if not rest.strip():
        return 0
    init = re.match(r'^\s*(?:=\s*)?\{(.*)\}$|^\s*=(.*)$|^\s*\((.*)\)$', rest, flags=re.S)
    if not init:
        return None
    group = next(g for g in range(1, 4) if init.group(g) is not None)
    inside = init.group(group)
    if not inside.strip():
        return 0
    # The values read where the character literals stand as written.
    start = decl[0] + at + init.start(group)
    while inside and inside[0] in '{} \t\n':
        inside, start = inside[1:], start + 1
    inside = inside.rstrip('{} \t\n')
    values = {literal(src.code_characters[start + a:start + b]) for a, b in split_spans(inside)}
    return values.pop() if len(values) == 1 and None not in values else None


def main():
    if len(sys.argv) < 3:
        print(__doc__.split('\n\n')[1])
        return 2
    root = os.path.abspath(sys.argv[1])
    sources = read_sources(root)
    listed = variables([os.path.abspath(a) for a in sys.argv[2:]], root)
    if not listed:
        print(f'no object files of the layers under {" ".join(sys.argv[2:])}')
        return 1
    project = Project(sources)
    problems, reach = [], []
    for layer, _, roots in LAYERS:
        layer_reach, missing = project.reach(layer, roots)
        reach += layer_reach
        for name in missing:
            problems.append(f'{layer}: its reset {name} is not defined in its folders')
    names_of = {}
    for rel, name, _ in listed:
        names_of.setdefault(rel, set()).add(name)
    for rel, name, private in listed:
        src = sources[rel]
        decl = src.declaration(name)
        where = f'{rel}:{src.first_line(*decl) + 1}' if decl else rel
        found = []
        for f in reach:
            if name in f.locals or not project.sees(f.src.rel, rel, name, private):
                continue
            found += [(f, w) for w in writes(project, f.body, name, f.characters)]
        if found:
            start = start_value(src, name, decl) if decl else None
            for f, (whole, value) in found:
                if whole and start is not None and value is not None and value != start:
                    problems.append(f'{where}: {name} starts as {start}, but {f.name} sets it to {value}')
            continue
        if decl and src.marked(name, *decl):
            continue
        roots = ', '.join(next(r for l, _, r in LAYERS if l == layer_of(rel)))
        problems.append(f'{where}: {name} is neither set by a reset ({roots} for its layer) '
                        f'nor marked "// process-wide: <why>"')
    for rel, src in sorted(sources.items()):
        for line in range(len(src.lines)):
            names = src.marks(line)
            if not names or '*' in names:
                continue
            run = []
            j = line + 1
            while j < len(src.lines) and src.lines[j].strip():
                run.append(src.code_lines[j])
                j += 1
            declared = set(IDENT.findall(' '.join(run)))
            for name in sorted(names - (declared & names_of.get(rel, set()))):
                problems.append(f'{rel}:{line + 1}: the mark names {name}, which is no run-wide variable '
                                f'declared under it')
    for p in problems:
        print(p)
    if problems:
        print(f'{len(problems)} problem(s) with the run-wide state')
        return 1
    print(f'run state: each of {len(listed)} variables is reset by its layer or marked process-wide')
    return 0


if __name__ == '__main__':
    sys.exit(main())
