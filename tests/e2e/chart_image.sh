#!/usr/bin/env bash
# Chart images through a real web server: the answer is a GIF that decodes
# (ImageMagick and giflib) to exactly the bitmap the snapshot tool draws for
# the same parameters; under a server calling itself Apache the program
# writes no status line.
# ctest-timeout: 120
set -u
BUILD=$1
SRC=$2
source "$SRC/tests/e2e/lib/lighttpd.sh"
WORK=$(mktemp -d /tmp/grafolio-e2e-work.XXXXXX)
on_exit 'rm -rf "$WORK"'

giflib_reads() {  # giflib decodes it to the same pixels as ImageMagick
  local gif=$1
  gif2rgb -1 -o "$WORK/g" "$gif" 2>/dev/null && /usr/bin/convert "$gif" -depth 8 rgb:"$WORK/m.rgb" &&
    cmp -s "$WORK/g" "$WORK/m.rgb"
}

start_server "lighttpd/e2e" || exit 1
cp "$SRC/tests/fixtures/workbooks/"*.xls "$CGI_DIR/"
# A wrapper that keeps the program's raw answer, to see the bytes it wrote.
cat >"$CGI_DIR/raw" <<'SH'
#!/bin/sh
"$(dirname "$0")/grafolio" | tee "$(dirname "$0")/raw-answer"
SH
chmod +x "$CGI_DIR/raw"

# Every style flat and in 3D, then the look parameters and workbooks.
styles=()
for style in 2 3 4 5 6; do styles+=("style=$style" "style=$style&3D=yes"); done
for query in "${styles[@]}" "" "style=1" "3D=yes" "3D=yes&3Dorthogonal=no&3DRotation=20&3DElevation=340" "filename=testenglish&legendstyle=percent&number=yes&border=yes" "width=640&height=480&color=3" "filename=obst.xls" "filename=three-sheets.xls&sheet=3"; do
  name=$(echo "q${query}" | tr -c 'A-Za-z0-9' '_')
  http -D "$WORK/$name.head" -o "$WORK/$name.gif" "$BASE_URL?$query"
  "$BUILD/chart-snapshot" "$query" "$WORK/$name.png" "$SRC/tests/fixtures/workbooks"
  check "?$query: content-type image/gif" header_has "$name" "Content-Type: image/gif"
  check "?$query: GIF equals the snapshot pixel for pixel" same_pixels "$WORK/$name.gif" "$WORK/$name.png"
  check "?$query: giflib decodes the same pixels" giflib_reads "$WORK/$name.gif"
done

# The raw answer under lighttpd starts with the status line.
http -o "$WORK/raw1.gif" "http://127.0.0.1:$PORT/cgi-bin/raw?"
check "status line for a server that is neither Apache nor Netscape" \
  bash -c "head -c 45 '$CGI_DIR/raw-answer' | grep -q \$'^HTTP/1.1 200 OK\r\ncontent-type:image/gif\r\n\r\nGIF89a'"
stop_server

start_server "Apache/2.4.57 (Debian)" || exit 1
cat >"$CGI_DIR/raw" <<'SH'
#!/bin/sh
"$(dirname "$0")/grafolio" | tee "$(dirname "$0")/raw-answer"
SH
chmod +x "$CGI_DIR/raw"
http -D "$WORK/apache.head" -o "$WORK/apache.gif" "http://127.0.0.1:$PORT/cgi-bin/raw?"
check "Apache: no status line, content-type first" \
  bash -c "head -c 30 '$CGI_DIR/raw-answer' | grep -q \$'^content-type:image/gif\r\n\r\nGIF89a'"
check "Apache: still a GIF for the client" header_has apache "Content-Type: image/gif"
finish
