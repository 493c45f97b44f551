#!/usr/bin/env bash
# The main job: builds the CGI program and serves demo requests through it as
# a web server would start it (every chart style, 2D and 3D, both built-in
# test tables, sample workbooks in every format read and the message pages),
# each chart kind as GIF and as SVG side by side, then writes an index.html
# that shows the answers (tools/demo-screenshot.sh photographs it with
# headless Chromium).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target grafolio
out=$PWD/build/demo
rm -rf "$out"
mkdir -p "$out/cgi-bin" "$out/answers"
cp build/grafolio "$out/cgi-bin/grafolio"
cp tests/fixtures/workbooks/*.{xls,xlsx,ods,fods,csv} "$out/cgi-bin/"

# run NAME QUERY: one CGI request; the raw answer is kept as NAME.http and its
# body as NAME.gif, NAME.svg, NAME.png or NAME.html, by the content type the
# program sent.
run() {
  local name=$1 query=$2
  SERVER_SOFTWARE=demo REQUEST_METHOD=GET QUERY_STRING="$query" "$out/cgi-bin/grafolio" >"$out/answers/$name.http"
  python3 - "$out/answers/$name.http" "$out/answers/$name" <<'PY'
import sys
raw = open(sys.argv[1], 'rb').read()
head, sep, body = raw.partition(b'\r\n\r\n')
kinds = {b'image/gif': 'gif', b'image/svg+xml': 'svg', b'image/png': 'png'}
kind = next((k for t, k in kinds.items() if b'content-type:' + t in head.lower()), 'html')
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
      svg=$(run "$name-svg" "filename=$table&style=$style$extra&format=svg")
      rows+="<tr><td>$table</td><td>$style (${names[$style]})</td><td>$view</td><td><img src=\"answers/$name.$kind\"></td>"
      rows+="<td><img src=\"answers/$name-svg.$svg\"></td></tr>"
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
  "markt-xlsx|filename=markt.xlsx&style=3&3D=yes"
  "markt-ods|filename=markt.ods&style=3&3D=yes"
  "markt-csv|filename=markt.csv&style=3&3D=yes"
  "markt-de-csv-semicolons|filename=markt-de.csv&style=3&3D=yes"
  "three-sheets-ods-sheet2|filename=unicode-sheetnames.ods&sheet=2"
  "empty-sheet|filename=three-sheets.xls&sheet=2"
  "missing-workbook|filename=none.xls"
)
for entry in "${more[@]}"; do
  name=${entry%%|*}
  query=${entry#*|}
  kind=$(run "$name" "$query")
  if [ "$kind" = gif ]; then cell="<img src=\"answers/$name.gif\">"; else cell="<iframe src=\"answers/$name.html\" width=600 height=260></iframe>"; fi
  rows+="<tr><td colspan=3>?$query</td><td colspan=2>$cell</td></tr>"
done
# A workbook upload as a browser sends it (multipart/form-data), through the
# same program, and the form that sends it.
python3 - "$out/cgi-bin/obst.xls" "$out/answers/upload.body" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
b = b'----grafoliodemo'
body = (b'--' + b + b'\r\nContent-Disposition: form-data; name="style"\r\n\r\n3\r\n' +
        b'--' + b + b'\r\nContent-Disposition: form-data; name="3D"\r\n\r\nyes\r\n' +
        b'--' + b + b'\r\nContent-Disposition: form-data; name="filename"; filename="obst.xls"\r\n' +
        b'Content-Type: application/vnd.ms-excel\r\n\r\n' + data + b'\r\n--' + b + b'--\r\n')
open(sys.argv[2], 'wb').write(body)
PY
SERVER_SOFTWARE=demo REQUEST_METHOD=POST CONTENT_TYPE="multipart/form-data; boundary=----grafoliodemo" \
  CONTENT_LENGTH=$(stat -c %s "$out/answers/upload.body") "$out/cgi-bin/grafolio" \
  <"$out/answers/upload.body" >"$out/answers/upload-obst.http"
python3 - "$out/answers/upload-obst.http" "$out/answers/upload-obst.gif" <<'PY'
import sys
raw = open(sys.argv[1], 'rb').read()
open(sys.argv[2], 'wb').write(raw.partition(b'\r\n\r\n')[2])
PY
rows+="<tr><td colspan=3>upload of obst.xls (style=3, 3D=yes)</td><td colspan=2><img src=\"answers/upload-obst.gif\"></td></tr>"
cat >"$out/upload.html" <<'HTML'
<!doctype html><html><head><meta charset="utf-8"><title>grafolio: chart a workbook</title></head>
<body><h1>Chart a workbook</h1>
<form action="cgi-bin/grafolio" method="post" enctype="multipart/form-data">
<p>Workbook (.xls, .xlsx, .xlsm, .ods, .fods, .csv): <input type="file" name="filename"
 accept=".xls,.xlsx,.xlsm,.ods,.fods,.csv,.txt,application/vnd.ms-excel,application/vnd.openxmlformats-officedocument.spreadsheetml.sheet,application/vnd.ms-excel.sheet.macroEnabled.12,application/vnd.oasis.opendocument.spreadsheet,text/csv"></p>
<p>Sheet: <input type="number" name="sheet" value="1" min="1" max="999"></p>
<p>Style: <select name="style"><option value="0">bar</option><option value="1">horizontal bar</option>
<option value="2">area</option><option value="3">pie</option><option value="4">line</option>
<option value="5">fast line</option><option value="6">point</option></select></p>
<p><label><input type="checkbox" name="3D" value="yes"> 3D</label></p>
<p>Format: <select name="format"><option value="gif">GIF</option><option value="svg">SVG (vector)</option>
<option value="png">PNG</option></select></p>
<p><input type="submit" value="Chart"></p>
</form>
<p>Serve this folder with a CGI-capable web server (the program is cgi-bin/grafolio).</p>
</body></html>
HTML

cat >"$out/index.html" <<HTML
<!doctype html><html><head><meta charset="utf-8"><title>grafolio demo</title></head>
<body><h1>grafolio demo answers</h1><table border=1 cellpadding=4>
<tr><th>table</th><th>style</th><th>view</th><th>GIF</th><th>SVG (format=svg)</th></tr>$rows</table></body></html>
HTML
echo "Demo answers (raw CGI output *.http, bodies *.gif / *.svg / *.html): $out/answers"
echo "Overview page: $out/index.html"
echo "Upload form (serve $out with a CGI-capable server): $out/upload.html"
echo "Request log: $out/cgi-bin/Log/grafolio.Log"
