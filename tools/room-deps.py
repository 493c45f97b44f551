#!/usr/bin/env python3
"""Checks that the source folders (rooms) depend on each other only downwards.

usage: tools/room-deps.py [SOURCE_DIR]

Reads every #include "room/file.h" of the production folders, prints each
room's direct dependencies, and fails (status 1) when the rooms' graph has a
cycle, when the files inside a room include each other in a cycle, or when a
room includes one that the allowed order below puts above it. In chart/ and
xls/ a unit cycle is only reported (a chart and its axes know each other, as
do the reader and the formula decoder)."""
import os, re, sys

# Bottom to top: a room may include only rooms listed before it.
ORDER = ['platform', 'image', 'chart', 'xls', 'xlswrite', 'workbook', 'http', 'gateways', 'resident', 'app']
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z0-9_]+)/([A-Za-z0-9_.]+)"', re.M)

root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..'))
files = {}  # "room/file.h" -> set of included "room/file.h"
for room in ORDER:
    for name in sorted(os.listdir(os.path.join(root, room))):
        if name.endswith(('.h', '.cpp')):
            with open(os.path.join(root, room, name), encoding='utf-8', errors='replace') as f:
                files[f'{room}/{name}'] = {f'{r}/{n}' for r, n in INCLUDE.findall(f.read())}

faults = []
rooms = {room: set() for room in ORDER}
for path, includes in files.items():
    room = path.split('/')[0]
    for included in includes:
        target = included.split('/')[0]
        if target == room:
            continue
        if target not in rooms:
            continue  # a system or test header
        rooms[room].add(target)
        if ORDER.index(target) > ORDER.index(room):
            faults.append(f'{path} includes {included}: {target}/ is above {room}/')


def cycle(graph):
    """One cycle of the graph as a list of nodes, or None."""
    state = {}
    def visit(node, trail):
        state[node] = 'open'
        for nxt in sorted(graph.get(node, ())):
            if state.get(nxt) == 'open':
                return trail[trail.index(nxt):] + [nxt] if nxt in trail else [node, nxt]
            if nxt not in state:
                found = visit(nxt, trail + [nxt])
                if found:
                    return found
        state[node] = 'done'
        return None
    for node in sorted(graph):
        if node not in state:
            found = visit(node, [node])
            if found:
                return found
    return None


found = cycle(rooms)
if found:
    faults.append('rooms include each other in a cycle: ' + ' -> '.join(found))
# Files of one room: a header and its .cpp are one unit.
notes = []
for room in ORDER:
    units = {}
    for path, includes in files.items():
        if path.startswith(room + '/'):
            unit = os.path.splitext(path)[0]
            units.setdefault(unit, set()).update(
                os.path.splitext(i)[0] for i in includes if i.startswith(room + '/'))
    for unit in units:
        units[unit].discard(unit)
    found = cycle(units)
    if found:
        (notes if room in ('chart', 'xls') else faults).append(
            f'units of {room}/ include each other in a cycle: ' + ' -> '.join(found))

for room in ORDER:
    print(f'{room + "/":<10} needs ' + (', '.join(r + '/' for r in ORDER if r in rooms[room]) or 'nothing of ours'))
for note in notes:
    print('note: ' + note)
for fault in faults:
    print('FAULT: ' + fault)
sys.exit(1 if faults else 0)
