#!/usr/bin/env python3
"""Runs the same chart requests through two builds of the CGI program and
reports every request whose answers differ byte for byte. Used when a change
must not alter any answer (drawing or encoding speed-ups).

usage: tools/answer-diff.py OLD_PROGRAM NEW_PROGRAM [COUNT] [SEED]

The requests are every style flat and in 3D for each sample workbook, then
COUNT (default 400) random combinations of the query fields.

The cache validators of chart answers, the "ETag" and "Last-Modified" header
lines, are taken out of both answers before comparing: they depend on the
program file and the copied workbooks. Every chart answer of NEW_PROGRAM must
hold exactly one of each, and no other answer any; OLD_PROGRAM may predate
them. (--validators, which used to switch this on, is still accepted.)"""
import os, random, re, shutil, subprocess, sys, tempfile

args = sys.argv[1:]
if '--validators' in args:
    args.remove('--validators')
old, new = args[0], args[1]
count = int(args[2]) if len(args) > 2 else 400
rng = random.Random(int(args[3]) if len(args) > 3 else 1)
VALIDATOR_LINE = re.compile(rb'ETag:"[0-9a-f]{16}"\r\n|Last-Modified:(Sun|Mon|Tue|Wed|Thu|Fri|Sat), \d\d '
                            rb'(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d{4} \d\d:\d\d:\d\d GMT\r\n')


def without_validators(answer):
    """The answer with its validator lines taken out, or None when the lines
    are not where they belong (one of each in a chart answer's header, none
    elsewhere)."""
    end = answer.find(b'\r\n\r\n')
    head, body = (answer[:end + 2], answer[end + 2:]) if end >= 0 else (answer, b'')
    found = [m.group(0).split(b':')[0] for m in VALIDATOR_LINE.finditer(head)]
    chart = b'content-type:image/' in head
    if sorted(found) != ([b'ETag', b'Last-Modified'] if chart else []):
        return None
    return VALIDATOR_LINE.sub(b'', head) + body
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
        end = answers[0].find(b'\r\n\r\n')
        if end >= 0:
            answers[0] = VALIDATOR_LINE.sub(b'', answers[0][:end + 2]) + answers[0][end + 2:]
        answers[1] = without_validators(answers[1])
        if answers[0] != answers[1]:
            differing += 1
            print(f'differs: ?{q} ({len(answers[0])} / {len(answers[1]) if answers[1] is not None else "misplaced validators"} bytes)')
    print(f'{len(queries)} requests, {differing} differ')
    sys.exit(1 if differing else 0)
finally:
    shutil.rmtree(work)
