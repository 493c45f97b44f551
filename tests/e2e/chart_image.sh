#!/usr/bin/env bash
# Chart images through a real web server: the GIF answer decodes to exactly
# the bitmap the snapshot tool draws for the same query. (The snapshots pin
# those bitmaps for every style and view, the GIF writer's tests the encoding
# against giflib and ImageMagick, the engine's tests the header lines; here
# only the path from a web server's query to the image it sends, for the
# default, a size and colour no snapshot has, and a workbook's later sheet.)
# ctest-timeout: 60
set -u
BUILD=$1
SRC=$2
source "$SRC/tests/e2e/lib/lighttpd.sh"
WORK=$(mktemp -d /tmp/grafolio-e2e-work.XXXXXX)
on_exit 'rm -rf "$WORK"'

start_server "lighttpd/e2e" || exit 1
cp "$SRC/tests/fixtures/workbooks/"*.xls "$CGI_DIR/"
for query in "" "width=640&height=480&color=3&3D=yes" "filename=three-sheets.xls&sheet=3&style=1"; do
  name=$(echo "q${query}" | tr -c 'A-Za-z0-9' '_')
  http -D "$WORK/$name.head" -o "$WORK/$name.gif" "$BASE_URL?$query"
  "$BUILD/chart-snapshot" "$query" "$WORK/$name.png" "$SRC/tests/fixtures/workbooks" >/dev/null
  check "?$query: content-type image/gif" header_has "$name" "Content-Type: image/gif"
  check "?$query: GIF equals the snapshot pixel for pixel" same_pixels "$WORK/$name.gif" "$WORK/$name.png"
done
finish
