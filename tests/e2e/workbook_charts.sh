#!/usr/bin/env bash
# Charts through a real web server: the GIF answer decodes to exactly the
# bitmap the snapshot tool draws for the same query (the default, a size and
# colour no snapshot has, workbooks' later sheets), and its points are the
# sheet's values. A values row of formulas (LibreOffice made formulas.xls from
# formulas.fods beside it) charts the cached results xlrd finds in the file,
# not zeros. An encrypted workbook or an empty sheet answers the empty-sheet
# message page.
# ctest-timeout: 120
set -u
BUILD=$1
SRC=$2
source "$SRC/tests/e2e/lib/lighttpd.sh"
WORK=$(mktemp -d /tmp/grafolio-e2e-work.XXXXXX)
on_exit 'rm -rf "$WORK"'
start_server "lighttpd/e2e" || exit 1
FIX=$SRC/tests/fixtures/workbooks
cp "$FIX/"*.xls "$CGI_DIR/"

points_are() {  # points_are NAME EXPECTED: the snapshot's points for the same query
  [ "$(cat "$WORK/$1.points")" = "$(printf "$2")" ]
}

# name, query, the points (printf format; "-" where the pixels alone are checked)
while IFS='|' read -r -u 3 name query points; do
  http -D "$WORK/$name.head" -o "$WORK/$name.body" "$BASE_URL?$query"
  "$BUILD/chart-snapshot" "$query" "$WORK/$name.png" "$FIX" >"$WORK/$name.points"
  check "$name (?$query): content-type image/gif" header_has "$name" "Content-Type: image/gif"
  check "$name (?$query): GIF equals the snapshot pixel for pixel" same_pixels "$WORK/$name.body" "$WORK/$name.png"
  [ "$points" = - ] || check "$name (?$query): the sheet's values" points_are "$name" "$points"
done 3<<'CASES'
default||-
size and colour|width=640&height=480&color=3&3D=yes|-
BIFF8 umlaut labels|filename=obst.xls|Äpfel\t11\nÖl\t4\nÜbung\t9\nStraße\t15\nGröße\t6\nKäse\t8
sheet 2 of three|filename=unicode-sheetnames.xls&sheet=2|c\t3
sheet 3 of three|filename=three-sheets.xls&sheet=3&style=1|-
BIFF7 sheet 3|filename=three-sheets-biff7.xls&sheet=3|Miete\t12\nStrom\t3\nPersonal\t50\nSonstiges\t7
formulas|filename=formulas.xls&number=yes&marks=yes&marksstyle=value|Nord\t10\nSüd\t27\nOst\t8\nWest\t5\nSumme\t50
CASES

# The cached results of the formulas' row as xlrd reads them (the corpus's
# oracle tool), labels from row 0.
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
check "formulas: the results xlrd finds in the file" [ "$(cat "$WORK/formulas.points")" = "$(cat "$WORK/xlrd.points")" ]
check "charts: nothing in the request log" [ ! -s "$CGI_DIR/Log/grafolio.Log" ]

# name, query, the page's message
while IFS='|' read -r -u 3 name query message; do
  http -o "$WORK/$name.body" "$BASE_URL?$query"
  message_page "$message" >"$WORK/$name.expected"
  check "$name: the empty-sheet message page" cmp -s "$WORK/$name.body" "$WORK/$name.expected"
done 3<<'CASES'
empty sheet|filename=three-sheets.xls&sheet=2|You selected an emtpy EXCEL file (three-sheets.xls) or an empty sheet (2) !
sheet beyond the workbook|filename=three-sheets.xls&sheet=9|You selected an emtpy EXCEL file (three-sheets.xls) or an empty sheet (9) !
encrypted workbook|filename=encrypted.xls|You selected an emtpy EXCEL file (encrypted.xls) or an empty sheet (1) !
CASES
check "encrypted workbook: the reader's message in the log" grep -q "Can not read, file is encrypted" "$CGI_DIR/Log/grafolio.Log"
echo "--- request log"; cat "$CGI_DIR/Log/grafolio.Log"
finish
