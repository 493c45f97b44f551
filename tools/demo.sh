#!/usr/bin/env bash
# The main job: builds the CGI program and serves demo requests through it as
# a web server would start it (every chart style, 2D and 3D, both built-in
# test tables, a sample workbook and the message pages), then writes an
# index.html that shows the answers.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target grafolio
out=$PWD/build/demo
rm -rf "$out"
mkdir -p "$out/cgi-bin" "$out/answers"
cp build/grafolio "$out/cgi-bin/grafolio"
cp tests/fixtures/workbooks/*.xls "$out/cgi-bin/"

# run NAME QUERY: one CGI request; the raw answer is kept as NAME.http and its
# body as NAME.gif or NAME.html, by the content type the program sent.
run() {
  local name=$1 query=$2
  SERVER_SOFTWARE=demo REQUEST_METHOD=GET QUERY_STRING="$query" "$out/cgi-bin/grafolio" >"$out/answers/$name.http"
  python3 - "$out/answers/$name.http" "$out/answers/$name" <<'PY'
import sys
raw = open(sys.argv[1], 'rb').read()
head, sep, body = raw.partition(b'\r\n\r\n')
kind = 'gif' if b'image/gif' in head else 'html'
open(sys.argv[2] + '.' + kind, 'wb').write(body if sep else raw)
print(kind)
PY
}

names=("bar" "horizontal bar" "area" "pie" "line" "fast line" "point")
rows=""
for table in testdeutsch testenglish; do
  for style in 0 1 2 3 4 5 6; do
    for view in 2d 3d; do
      extra=""
      [ "$view" = 3d ] && extra="&3D=yes"
      name="$table-style$style-$view"
      kind=$(run "$name" "filename=$table&style=$style$extra")
      rows+="<tr><td>$table</td><td>$style (${names[$style]})</td><td>$view</td><td><img src=\"answers/$name.$kind\"></td></tr>"
    done
  done
done
more=(
  "obst-workbook|filename=obst.xls&number=yes"
  "three-sheets-sheet3|filename=three-sheets.xls&sheet=3&legendstyle=percent"
  "three-sheets-biff7-sheet1|filename=three-sheets-biff7.xls&3D=yes&3Dorthogonal=no&3DRotation=20&3DElevation=340"
  "german-number-title|number=yes&numbercolor=0&border=yes"
  "english-values-marks|filename=testenglish&marksstyle=value&color=3&backcolor=13"
  "automatic-colours|color=99"
  "pie-percent-legend-value-marks|style=3&legendstyle=percent&marksstyle=value"
  "area-3d-rotated-63-values|filename=wide300.xls&style=2&3D=yes&3Dorthogonal=no&3DRotation=20&3DElevation=340&width=800&height=400"
  "empty-sheet|filename=three-sheets.xls&sheet=2"
  "missing-workbook|filename=none.xls"
)
for entry in "${more[@]}"; do
  name=${entry%%|*}
  query=${entry#*|}
  kind=$(run "$name" "$query")
  if [ "$kind" = gif ]; then cell="<img src=\"answers/$name.gif\">"; else cell="<iframe src=\"answers/$name.html\" width=600 height=260></iframe>"; fi
  rows+="<tr><td colspan=3>?$query</td><td>$cell</td></tr>"
done
cat >"$out/index.html" <<HTML
<!doctype html><html><head><meta charset="utf-8"><title>grafolio demo</title></head>
<body><h1>grafolio demo answers</h1><table border=1 cellpadding=4>$rows</table></body></html>
HTML
echo "Demo answers (raw CGI output *.http, bodies *.gif / *.html): $out/answers"
echo "Overview page: $out/index.html"
echo "Request log: $out/cgi-bin/Log/grafolio.Log"
