#!/usr/bin/env bash
# A workbook whose values row holds formulas (LibreOffice made
# tests/fixtures/workbooks/formulas.xls from formulas.fods beside it: =A3*2,
# a reference to another sheet, MAX, ROUND, SUM, and a text formula as a
# label) charts the formulas' computed values through a real web server: the
# points are the cached results an independent reader (xlrd) finds in the
# file, not zeros.
set -u
BUILD=$1
SRC=$2
source "$SRC/tests/e2e/lib/lighttpd.sh"
WORK=$(mktemp -d /tmp/grafolio-e2e-work.XXXXXX)
trap 'stop_server; rm -rf "$WORK"' EXIT
trap 'exit 1' INT TERM
start_server || exit 1
FIX=$SRC/tests/fixtures/workbooks
cp "$FIX/formulas.xls" "$CGI_DIR/"

same_text() { [ "$(cat "$1")" = "$(cat "$2")" ]; }

query="filename=formulas.xls&number=yes&marks=yes&marksstyle=value"
curl -s --max-time 30 -D "$WORK/f.head" -o "$WORK/f.body" "$BASE_URL?$query"
"$BUILD/chart-snapshot" "$query" "$WORK/f.png" "$FIX" >"$WORK/f.points"
printf 'Nord\t10\nSüd\t27\nOst\t8\nWest\t5\nSumme\t50\n' >"$WORK/expected.points"
# The cached results of row 1 as xlrd reads them (the corpus's oracle
# tool), labels from row 0.
"$SRC/../shared/tools/xls-oracle" "$FIX/formulas.xls" | python3 -c '
import json, sys
cells = {}
for line in sys.stdin:
    f = line.rstrip("\n").split("\t")
    if len(f) == 5 and f[0] == "0":
        cells[(int(f[1]), int(f[2]))] = json.loads(f[4]) if f[3] == "text" else float(f[4])
for c in range(max(col for _, col in cells) + 1):
    print("%s\t%d" % (cells[(0, c)], int(cells[(1, c)])))
' >"$WORK/xlrd.points"

check "formulas in the values row: a GIF" grep -qi "^Content-Type: image/gif" "$WORK/f.head"
check "formulas in the values row: the formulas' results are charted" same_text "$WORK/f.points" "$WORK/expected.points"
check "formulas in the values row: the results xlrd finds in the file" same_text "$WORK/f.points" "$WORK/xlrd.points"
check "formulas in the values row: GIF equals the snapshot" same_pixels "$WORK/f.body" "$WORK/f.png"
check "formulas in the values row: nothing in the request log" [ ! -s "$CGI_DIR/Log/grafolio.Log" ]
finish
