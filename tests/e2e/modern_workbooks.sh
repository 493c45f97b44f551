#!/usr/bin/env bash
# Today's workbook formats through a real web server: one workbook that
# LibreOffice saved as .xls, .xlsx, .ods and .csv answers the same pixels for
# every chart style, asked for by name and uploaded; so does the same sheet
# as a semicolon, Windows-1252 CSV (LibreOffice's, with decimal commas put in
# by hand: "12,0" must read as the number 12, which the chart shows, where a
# text would chart 0); sheet 2 of a three-sheet .xlsx and .ods is the sheet
# charted.
# ctest-timeout: 240
set -u
BUILD=$1
SRC=$2
source "$SRC/tests/e2e/lib/lighttpd.sh"
WORK=$(mktemp -d /tmp/grafolio-e2e-work.XXXXXX)
on_exit 'rm -rf "$WORK"'
start_server || exit 1
FIX=$SRC/tests/fixtures/workbooks
for f in markt.xls markt.xlsx markt.ods markt.csv markt-de.csv unicode-sheetnames.xls unicode-sheetnames.xlsx \
  unicode-sheetnames.ods; do
  cp "$FIX/$f" "$CGI_DIR/"
  cp "$FIX/$f" "$WORK/"
done
FORMATS="xlsx ods csv"

get() {  # get NAME QUERY: the answer by name
  http -D "$WORK/$1.head" -o "$WORK/$1.body" "$BASE_URL?$2"
}
upload() {  # upload NAME FILE FIELD...: the answer to a form posting FILE
  local name=$1 file=$2
  shift 2
  local fields=()
  for f in "$@"; do fields+=(-F "$f"); done
  (cd "$WORK" && http -D "$WORK/$name.head" -o "$WORK/$name.body" -F "filename=@$file" "${fields[@]}" "$BASE_URL")
}
is_gif() { header_has "$1" "Content-Type: image/gif"; }
not_same() { ! cmp -s "$1" "$2"; }

# The .xls answer is the reference: first make sure it is the chart of the
# sheet's values, not a message page every format could share.
get ref-0 "filename=markt.xls&style=0"
"$BUILD/chart-snapshot" "filename=markt.xls&style=0" "$WORK/ref-0.png" "$FIX" >"$WORK/ref.points"
check "markt.xls: a GIF" is_gif ref-0
check "markt.xls: the sheet's values" [ "$(cat "$WORK/ref.points")" = \
  "$(printf 'Äpfel\t12\nÖl\t-4\nÜbung\t9\nStraße\t1500\nGröße\t0\nKäse\t8')" ]

for style in 0 1 2 3 4 5 6; do
  query="style=$style&3D=yes&marks=yes"
  get "ref-$style" "filename=markt.xls&$query"
  for ext in $FORMATS; do
    get "$ext-$style" "filename=markt.$ext&$query"
    check "markt.$ext style $style by name: same pixels as .xls" same_pixels "$WORK/$ext-$style.body" "$WORK/ref-$style.body"
  done
  get "de-$style" "filename=markt-de.csv&$query"
  check "markt-de.csv (;, decimal comma, cp1252) style $style: same pixels as .xls" \
    same_pixels "$WORK/de-$style.body" "$WORK/ref-$style.body"
done
for style in 0 3 4; do
  for ext in $FORMATS; do
    upload "up-$ext-$style" "markt.$ext" "style=$style" "3D=yes" "marks=yes"
    check "markt.$ext style $style uploaded: a GIF" is_gif "up-$ext-$style"
    check "markt.$ext style $style uploaded: same pixels as .xls by name" \
      same_pixels "$WORK/up-$ext-$style.body" "$WORK/ref-$style.body"
  done
done

# Sheet 2 of three: the Greek-named sheet holds "c" 3; sheet 1 "a" 1, "b" 2.
get sheet2-xls "filename=unicode-sheetnames.xls&sheet=2"
get sheet1-xls "filename=unicode-sheetnames.xls&sheet=1"
check "three sheets: sheet 1 and 2 differ in the .xls" not_same "$WORK/sheet1-xls.body" "$WORK/sheet2-xls.body"
for ext in xlsx ods; do
  get "sheet2-$ext" "filename=unicode-sheetnames.$ext&sheet=2"
  check "unicode-sheetnames.$ext sheet=2: a GIF" is_gif "sheet2-$ext"
  check "unicode-sheetnames.$ext sheet=2: the chart of sheet 2" same_pixels "$WORK/sheet2-$ext.body" "$WORK/sheet2-xls.body"
  upload "up-sheet2-$ext" "unicode-sheetnames.$ext" "sheet=2"
  check "unicode-sheetnames.$ext sheet=2 uploaded: the chart of sheet 2" \
    same_pixels "$WORK/up-sheet2-$ext.body" "$WORK/sheet2-xls.body"
done
echo "--- request log"; cat "$CGI_DIR/Log/grafolio.Log" 2>/dev/null
finish
