#!/usr/bin/env python3
"""Runs the same chart requests through two builds of the CGI program and
reports every request whose answers differ byte for byte. Used when a change
must not alter any answer (drawing or encoding speed-ups).

usage: tools/answer-diff.py OLD_PROGRAM NEW_PROGRAM [COUNT] [SEED]

The requests are every style flat and in 3D for each sample workbook, then
COUNT (default 400) random combinations of the query fields."""
import os, random, shutil, subprocess, sys, tempfile

old, new = sys.argv[1], sys.argv[2]
count = int(sys.argv[3]) if len(sys.argv) > 3 else 400
rng = random.Random(int(sys.argv[4]) if len(sys.argv) > 4 else 1)
here = os.path.dirname(os.path.abspath(__file__))
workbooks = os.path.join(here, '..', 'tests', 'fixtures', 'workbooks')
files = ['testdeutsch', 'testenglish', 'obst.xls', 'three-sheets.xls', 'three-sheets-biff7.xls',
         'wide300.xls', 'unicode-sheetnames.xls', 'formulas.xls', 'none.xls']

queries = []
for f in files:
    for style in range(7):
        for extra in ['', '&3D=yes', '&3D=yes&3Dorthogonal=no&3DRotation=30&3DElevation=330']:
            queries.append(f'filename={f}&style={style}{extra}')
fields = {
    'style': lambda: str(rng.randrange(8)),
    'sheet': lambda: str(rng.randrange(4)),
    '3D': lambda: rng.choice(['yes', 'no']),
    '3Dorthogonal': lambda: rng.choice(['yes', 'no']),
    '3DRotation': lambda: str(rng.randrange(0, 360)),
    '3DElevation': lambda: str(rng.randrange(0, 360)),
    '3DDepth': lambda: str(rng.randrange(0, 100)),
    '3DZoom': lambda: str(rng.randrange(10, 200)),
    'width': lambda: str(rng.randrange(60, 900)),
    'height': lambda: str(rng.randrange(60, 700)),
    'color': lambda: str(rng.choice([0, 1, 3, 7, 13, 15, 99])),
    'backcolor': lambda: str(rng.randrange(16)),
    'chartbacktopcolor': lambda: str(rng.randrange(16)),
    'chartbackbottomcolor': lambda: str(rng.randrange(16)),
    'border': lambda: rng.choice(['yes', 'no']),
    'legend': lambda: rng.choice(['yes', 'no']),
    'legendstyle': lambda: rng.choice(['value', 'percent', 'x']),
    'marks': lambda: rng.choice(['yes', 'no']),
    'marksstyle': lambda: rng.choice(['value', 'percent', 'label']),
    'number': lambda: rng.choice(['yes', 'no']),
    'numbercolor': lambda: str(rng.randrange(16)),
}
for _ in range(count):
    chosen = rng.sample(sorted(fields), rng.randrange(2, 9))
    q = ['filename=' + rng.choice(files)] + [f'{k}={fields[k]()}' for k in chosen]
    queries.append('&'.join(q))

work = tempfile.mkdtemp()
try:
    programs = []
    for name, path in (('old', old), ('new', new)):
        d = os.path.join(work, name)
        os.mkdir(d)
        shutil.copy(path, os.path.join(d, 'grafolio'))
        for w in os.listdir(workbooks):
            shutil.copy(os.path.join(workbooks, w), d)
        programs.append(os.path.join(d, 'grafolio'))
    differing = 0
    for q in queries:
        answers = []
        for p in programs:
            env = dict(os.environ, SERVER_SOFTWARE='answer-diff', REQUEST_METHOD='GET', QUERY_STRING=q)
            answers.append(subprocess.run([p], env=env, capture_output=True, timeout=60).stdout)
        if answers[0] != answers[1]:
            differing += 1
            print(f'differs: ?{q} ({len(answers[0])} / {len(answers[1])} bytes)')
    print(f'{len(queries)} requests, {differing} differ')
    sys.exit(1 if differing else 0)
finally:
    shutil.rmtree(work)
