#!/usr/bin/env python3
"""Checks that no source folder includes a folder above its own.

The folders form a stack, bottom to top (LAYERS below). A file may include
headers of its own layer and of any layer below it. tests/, bench/ and fuzz/
sit outside the stack and are not checked. Exits 1 and names every offending
include line when the stack is broken.
"""
import os
import re
import sys

LAYERS = [
    'platform',
    'engine/core',
    'engine/files',
    'shaders',
    'engine/render',
    'engine/input',
    'engine/sound',
    'engine/text',
    'engine/movie',
    'ui',
    'script',
    'story',
    'screens',
    'extras',
    'app',  # the top layer: drives frames and knows every subsystem
]

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def layer_of(path):
    best = None
    for i, folder in enumerate(LAYERS):
        if path == folder or path.startswith(folder + '/'):
            if best is None or len(folder) > len(LAYERS[best]):
                best = i
    return best


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..')
    root = os.path.abspath(root)
    problems = []
    unplaced = []
    for top in ['platform', 'engine', 'shaders', 'ui', 'script', 'story', 'screens', 'extras', 'app']:
        for dirpath, _, names in os.walk(os.path.join(root, top)):
            for name in sorted(names):
                if not name.endswith(('.cpp', '.h', '.inc')):
                    continue
                full = os.path.join(dirpath, name)
                rel = os.path.relpath(full, root).replace(os.sep, '/')
                own = layer_of(rel)
                if own is None:
                    unplaced.append(rel)
                    continue
                with open(full, encoding='utf-8', errors='replace') as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        target = m.group(1)
                        if '/' not in target:
                            continue  # a header beside the file
                        other = layer_of(target)
                        if other is not None and other > own:
                            problems.append(f'{rel}:{number}: includes {target} '
                                            f'({LAYERS[other]} is above {LAYERS[own]})')
    for rel in unplaced:
        problems.append(f'{rel}: lies in no layer; add its folder to LAYERS')
    for p in problems:
        print(p)
    if problems:
        print(f'{len(problems)} layering problem(s)')
        return 1
    print('layers: every include points down the stack')
    return 0


if __name__ == '__main__':
    sys.exit(main())
