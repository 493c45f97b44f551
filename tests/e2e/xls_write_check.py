#!/usr/bin/python3
"""Checks workbooks written by xls-write against our reader and three peers.

xls_write_check.py BUILD SRC WORK

Builds a BIFF5 workbook (sheets Data, Calc, "Übersicht Zahlen") and a BIFF4
worksheet from tests/fixtures/xls_write: the data cells of cells.tsv and the
200 formulas of formulas.tsv (on Data with local references; on Calc again
with every reference written as Data!ref). Then:
  * our reader (xls-dump --formulas) gives every data cell back, and every
    formula's text equals its input after normalisation (formula-compare);
  * xlrd reads every value, text, boolean and sheet name back equal;
  * LibreOffice (CSV export) and Gnumeric (ssconvert --recalc) show every
    formula's result equal to the expected value kept in formulas.tsv;
  * every refusal of xls-write is one line naming the input line and the
    reason, with exit status 1 and no file left behind.
Prints one line per check; exit status 1 when any failed.
"""
import csv, glob, json, math, os, re, subprocess, sys

BUILD, SRC, WORK = sys.argv[1:4]
FIX = os.path.join(SRC, "tests/fixtures/xls_write")
COMPARE = os.path.join(SRC, "../shared/tools/formula-compare")
failures = 0


def check(name, ok, detail=""):
    global failures
    print(("ok   " if ok else "FAIL ") + name + ("" if ok else ": " + detail))
    failures += 0 if ok else 1


def read_tsv(name):
    with open(os.path.join(FIX, name), encoding="utf-8") as f:
        return [l.rstrip("\n").split("\t") for l in f if l.strip() and not l.startswith("#")]


cells = read_tsv("cells.tsv")
formulas = read_tsv("formulas.tsv")
REF = re.compile(r"(?<![A-Za-z0-9_.$!'])(\$?[A-Z]{1,2}\$?\d+(?::\$?[A-Z]{1,2}\$?\d+)?)(?![A-Za-z0-9_(])")


def on_data(formula):
    """The formula with its references prefixed by Data! (outside strings)."""
    parts = re.split(r'("(?:[^"]|"")*")', formula)
    return "".join(p if p.startswith('"') else REF.sub(r"Data!\1", p) for p in parts)


OTHER = "Übersicht Zahlen"
extra = [(f"'{OTHER}'!A1*2", "10.0"), (f"SUM('{OTHER}'!A1:B1)+Data!A2", "8.0")]
# Functions that came with BIFF5 (ids from 336 on); xls-write refuses them in BIFF4.
BIFF5_ONLY = re.compile(r"\b(CONCATENATE|POWER)\(")
FCOL = 4  # formulas of the Data sheet in column E
layout = {5: [], 4: []}  # biff -> (sheet, row, col, formula, expected)
for row, (f, v) in enumerate(formulas):
    for biff in (4, 5):
        if biff == 5 or not BIFF5_ONLY.search(f):
            layout[biff].append(("Data", row, FCOL, f, v))
    layout[5].append(("Calc", row, 0, on_data(f), v))
for n, (f, v) in enumerate(extra):
    layout[5].append(("Calc", n, 1, f, v))
SHEETS = {5: ["Data", "Calc", OTHER], 4: ["Data"]}


def write_input(biff):
    lines = ["\t".join(c) for c in cells]
    lines += [f"{s}\t{r}\t{c}\tformula\t{f}" for s, r, c, f, _ in layout[biff]]
    if biff == 5:
        lines += [f"{OTHER}\t0\t0\tnumber\t5", f"{OTHER}\t0\t1\tnumber\t0.5"]
    path = os.path.join(WORK, f"in{biff}.tsv")
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    return path


files = {}
for biff in (4, 5):
    out = os.path.join(WORK, f"written{biff}.xls")
    with open(write_input(biff), "rb") as stdin:
        p = subprocess.run([os.path.join(BUILD, "xls-write"), "--biff", str(biff), out], stdin=stdin,
                           capture_output=True, text=True)
    check(f"BIFF{biff}: xls-write writes the workbook", p.returncode == 0 and os.path.exists(out), p.stderr)
    files[biff] = out


def data_value(c):
    kind, value = c[3], c[4]
    return float(value) if kind == "number" else value if kind == "text" else bool(int(value))


# --- our reader: data cells and formula texts
for biff, path in files.items():
    dump = subprocess.run([os.path.join(BUILD, "xls-dump"), "--formulas", path], capture_output=True, text=True).stdout
    lines = set(subprocess.run([os.path.join(BUILD, "xls-dump"), path], capture_output=True, text=True).stdout.splitlines())
    missing = []
    for c in cells:
        value = data_value(c)
        text = (f"number\t{value!r}" if isinstance(value, float) else f"bool\t{int(value)}" if isinstance(value, bool)
                else "text\t" + json.dumps(value))
        line = f"0\t{c[1]}\t{c[2]}\t{text}"
        if line not in lines:
            missing.append(line)
    check(f"BIFF{biff}: our reader gives every data cell back", not missing, "; ".join(missing[:3]))
    names = [l for l in dump.splitlines() if l.startswith("#sheet")]
    check(f"BIFF{biff}: our reader lists the sheets", len(names) == len(SHEETS[biff]), str(names))
    oracle = os.path.join(WORK, f"oracle{biff}.txt")
    with open(oracle, "w", encoding="utf-8") as f:
        f.write(f"#biff\t{biff}\n")
        for i, s in enumerate(SHEETS[biff]):
            f.write(f"#sheet\t{i}\t{json.dumps(s if biff == 5 else names[0].split(chr(9))[2][1:-1])}\t0\t0\n")
        for s, r, c, formula, _ in layout[biff]:
            f.write(f"{SHEETS[biff].index(s)}\t{r}\t{c}\tformula\t{json.dumps(formula)}\n")
    dumpfile = os.path.join(WORK, f"dump{biff}.txt")
    with open(dumpfile, "w", encoding="utf-8") as f:
        f.write(dump)
    p = subprocess.run([COMPARE, dumpfile, oracle], capture_output=True, text=True)
    check(f"BIFF{biff}: every formula decodes to its text (formula-compare)", p.returncode == 0, p.stdout[-600:])

# --- xlrd
import xlrd

for biff, path in files.items():
    book = xlrd.open_workbook(path)
    if biff == 5:
        check("BIFF5: xlrd reads the sheet names", book.sheet_names() == SHEETS[5], str(book.sheet_names()))
    sheet = book.sheet_by_index(0)
    bad = []
    for c in cells:
        value = data_value(c)
        cell = sheet.cell(int(c[1]), int(c[2]))
        got = bool(cell.value) if cell.ctype == xlrd.XL_CELL_BOOLEAN else cell.value
        if got != value or (isinstance(value, bool) != (cell.ctype == xlrd.XL_CELL_BOOLEAN)):
            bad.append(f"{c[1]},{c[2]}: {got!r} != {value!r}")
    check(f"BIFF{biff}: xlrd reads every value, text and boolean back", not bad, "; ".join(bad[:3]))


# Cell formats as xlrd sees them (BIFF5): bold red-filled C1; C2 with two
# decimals, centred, bottom-aligned, four thin borders.
book = xlrd.open_workbook(files[5], formatting_info=True)
sheet = book.sheet_by_index(0)
looks = []
for r in (0, 1):
    xf = book.xf_list[sheet.cell_xf_index(r, 2)]
    font = book.font_list[xf.font_index]
    looks.append((font.bold, xf.background.pattern_colour_index if xf.background.fill_pattern == 1 else None,
                  book.format_map[xf.format_key].format_str, xf.alignment.hor_align, xf.alignment.vert_align,
                  (xf.border.left_line_style, xf.border.top_line_style, xf.border.right_line_style,
                   xf.border.bottom_line_style)))
expected_looks = [(1, 10, "General", 0, 2, (0, 0, 0, 0)), (0, None, "0.00", 2, 2, (1, 1, 1, 1))]
check("BIFF5: xlrd sees the cell formats", looks == expected_looks, str(looks))

# --- LibreOffice and Gnumeric: computed results
def same(got, expected):
    if expected in ("TRUE", "FALSE"):  # LibreOffice shows a boolean result in a General cell as 1 or 0
        return got.upper() == expected or got == ("1" if expected == "TRUE" else "0")
    try:
        e = float(expected)
    except ValueError:
        return got == expected
    try:
        return math.isclose(float(got), e, rel_tol=1e-9, abs_tol=1e-9)
    except ValueError:
        return False


def compare_results(peer, biff, sheets):
    bad, count = [], 0
    for s, r, c, f, v in layout[biff]:
        rows = sheets.get(s, [])
        got = rows[r][c] if r < len(rows) and c < len(rows[r]) else "<missing>"
        count += 1
        if not same(got, v):
            bad.append(f"{s}!{f} = {got!r}, expected {v!r}")
    check(f"BIFF{biff}: {peer} computes all {count} formulas as expected", not bad, f"{len(bad)} differ: " + "; ".join(bad[:4]))


def read_csv(path):
    with open(path, encoding="utf-8", newline="") as f:
        return list(csv.reader(f))


profile = os.path.join(WORK, "lo-profile")
lo_out = os.path.join(WORK, "lo")
p = subprocess.run(["soffice", f"-env:UserInstallation=file://{profile}", "--headless", "--convert-to",
                    "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1",
                    "--outdir", lo_out, files[4], files[5]], capture_output=True, text=True, timeout=600)
for biff, path in files.items():
    stem = os.path.splitext(os.path.basename(path))[0]
    sheets = {s: read_csv(os.path.join(lo_out, f"{stem}-{s}.csv")) for s in SHEETS[5]
              if os.path.exists(os.path.join(lo_out, f"{stem}-{s}.csv"))}
    if biff == 4 and not sheets:  # a BIFF4 worksheet's one sheet has no name of its own
        found = glob.glob(os.path.join(lo_out, f"{stem}-*.csv"))
        sheets = {"Data": read_csv(found[0])} if found else {}
    check(f"BIFF{biff}: LibreOffice opens the file", bool(sheets), p.stdout + p.stderr)
    compare_results("LibreOffice", biff, sheets)

for biff, path in files.items():
    out = os.path.join(WORK, f"gnumeric{biff}.csv")
    p = subprocess.run(["ssconvert", "--recalc", "-S", path, out], capture_output=True, text=True, timeout=300)
    sheets = {}
    for i, s in enumerate(SHEETS[biff]):
        if os.path.exists(f"{out}.{i}"):
            sheets[s] = read_csv(f"{out}.{i}")
    check(f"BIFF{biff}: Gnumeric opens the file", len(sheets) == len(SHEETS[biff]), p.stderr[-300:])
    compare_results("Gnumeric", biff, sheets)

# --- refusals: one line naming the input line and the reason, no file left
# (the writer's and the formula encoder's own messages are their unit tests';
# here the tool's input rules and one message of each passed through)
refusals = [
    (5, "S\t0\t0\tnumber\t1\nS\t0\t1\tdate\t2024", 'line 2: unknown type "date" (number, text, bool or formula)'),
    (5, "S\t3\t2\ttext\t\u0436", 'line 1: Cell R3,C2: Character "\u0436" is not in code page 1252'),
    (5, "S\t0\t0\tnumber\t1\nS\t1\t0\tformula\tIF(1)", 'line 2: To few arguments to function "IF"'),
    (4, "S\t0\t0\tformula\tPOWER(2,3)", 'line 1: Unknown function "POWER" in formula'),
    (4, "S\t0\t0\tnumber\t1\nT\t0\t0\tnumber\t1", 'line 2: a BIFF4 file holds one sheet only; "T" is a second sheet'),
    (5, "S\t0\t0\tbool\t2", 'line 1: bool value "2" is neither 0 nor 1'),
    (5, "S\t0\t0\tnumber\t1\tcolour=3", 'line 1: unknown format key "colour"'),
    (5, "S\t0\t300\tnumber\t1", 'line 1: column "300" is not a number from 0 to 255'),
    (5, "S\t0\t0\tnumber\t1\n" + "L" * 32 + "\t0\t0\tnumber\t1", f'line 2: sheet name "{"L" * 32}" is longer than 31 characters'),
]
refusal_dir = os.path.join(WORK, "refusals")
os.makedirs(refusal_dir)
for biff, text, reason in refusals:
    p = subprocess.run([os.path.join(BUILD, "xls-write"), "--biff", str(biff), os.path.join(refusal_dir, "x.xls")],
                       input=(text + "\n").encode(), capture_output=True)
    err = p.stderr.decode()
    ok = p.returncode == 1 and err == "xls-write: " + reason + "\n" and not os.listdir(refusal_dir)
    check("refusal: " + reason, ok, f"status {p.returncode}, {err!r}, left {os.listdir(refusal_dir)}")

# --- OUT is replaced only when it is a regular file (or missing): a FIFO, a
# folder or a link (here to a file that must stay as it is) is refused before
# anything is written, and stays what it was.
planted_dir = os.path.join(WORK, "planted")
os.makedirs(planted_dir)
victim = os.path.join(planted_dir, "victim")
with open(victim, "w") as f:
    f.write("keep")
plants = {"fifo.xls": lambda p: os.mkfifo(p), "folder.xls": lambda p: os.mkdir(p),
          "link.xls": lambda p: os.symlink(victim, p)}
for name, plant in plants.items():
    out = os.path.join(planted_dir, name)
    plant(out)
    before = sorted(os.listdir(planted_dir))
    p = subprocess.run([os.path.join(BUILD, "xls-write"), out], input=b"S\t0\t0\tnumber\t1\n", capture_output=True,
                       timeout=30)
    err = p.stderr.decode()
    ok = (p.returncode == 1 and err == f'xls-write: will not replace "{out}": it is not a regular file\n'
          and sorted(os.listdir(planted_dir)) == before and open(victim).read() == "keep"
          and not os.path.isfile(out) or os.path.islink(out))
    check("refusal: OUT is a " + name[:-4], ok, f"status {p.returncode}, {err!r}, {sorted(os.listdir(planted_dir))}")
p = subprocess.run([os.path.join(BUILD, "xls-write"), victim], input=b"S\t0\t0\tnumber\t1\n", capture_output=True)
check("a regular OUT is replaced", p.returncode == 0 and open(victim, "rb").read(8) == bytes.fromhex("D0CF11E0A1B11AE1"),
      p.stderr.decode())

sys.exit(1 if failures else 0)
