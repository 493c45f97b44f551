#!/usr/bin/env bash
# Charts of real workbooks through a real web server: the answer's points are
# the sheet's values, the chosen sheet is charted, and an encrypted workbook
# or an empty sheet answers the empty-sheet message page.
# ctest-timeout: 90
set -u
BUILD=$1
SRC=$2
source "$SRC/tests/e2e/lib/lighttpd.sh"
WORK=$(mktemp -d /tmp/grafolio-e2e-work.XXXXXX)
on_exit 'rm -rf "$WORK"'
start_server || exit 1
FIX=$SRC/tests/fixtures/workbooks
cp "$FIX/"*.xls "$CGI_DIR/"

points_are() {  # points_are NAME EXPECTED: the snapshot's points for the same query
  [ "$(cat "$WORK/$1.points")" = "$(printf "$2")" ]
}
chart() {  # chart NAME QUERY
  http -D "$WORK/$1.head" -o "$WORK/$1.body" "$BASE_URL?$2"
  "$BUILD/chart-snapshot" "$2" "$WORK/$1.png" "$FIX" >"$WORK/$1.points"
}

chart obst "filename=obst.xls"
check "BIFF8 umlaut labels: a GIF" header_has obst "Content-Type: image/gif"
check "BIFF8 umlaut labels: the sheet's values" points_are obst \
  "Äpfel\t11\nÖl\t4\nÜbung\t9\nStraße\t15\nGröße\t6\nKäse\t8"
check "BIFF8 umlaut labels: GIF equals the snapshot" same_pixels "$WORK/obst.body" "$WORK/obst.png"

chart sheet2 "filename=unicode-sheetnames.xls&sheet=2"
check "sheet=2 of three: the second sheet's values" points_are sheet2 "c\t3"
check "sheet=2 of three: GIF equals the snapshot" same_pixels "$WORK/sheet2.body" "$WORK/sheet2.png"
chart sheet3 "filename=three-sheets-biff7.xls&sheet=3"
check "BIFF7 sheet=3: the third sheet's values" points_are sheet3 "Miete\t12\nStrom\t3\nPersonal\t50\nSonstiges\t7"

http -o "$WORK/empty.body" "$BASE_URL?filename=three-sheets.xls&sheet=2"
message_page "You selected an emtpy EXCEL file (three-sheets.xls) or an empty sheet (2) !" >"$WORK/empty.expected"
check "empty sheet: the empty-sheet message page" cmp -s "$WORK/empty.body" "$WORK/empty.expected"
http -o "$WORK/beyond.body" "$BASE_URL?filename=three-sheets.xls&sheet=9"
message_page "You selected an emtpy EXCEL file (three-sheets.xls) or an empty sheet (9) !" >"$WORK/beyond.expected"
check "sheet beyond the workbook: the empty-sheet message page" cmp -s "$WORK/beyond.body" "$WORK/beyond.expected"
http -o "$WORK/enc.body" "$BASE_URL?filename=encrypted.xls"
message_page "You selected an emtpy EXCEL file (encrypted.xls) or an empty sheet (1) !" >"$WORK/enc.expected"
check "encrypted workbook: the empty-sheet message page" cmp -s "$WORK/enc.body" "$WORK/enc.expected"
check "encrypted workbook: the reader's message in the log" grep -q "Can not read, file is encrypted" "$CGI_DIR/Log/grafolio.Log"
echo "--- request log"; cat "$CGI_DIR/Log/grafolio.Log"
finish
