#!/usr/bin/env bash
# The chart in its three formats through a real web server: for every style,
# flat, 3D orthogonal and 3D rotated, the SVG answer is well-formed XML that
# refers to nothing outside itself and, rasterised by librsvg at the same
# size, matches the GIF of the same request in at least 95 % of its pixels
# (tests/e2e/lib/pixel_match.py); the PNG answer decodes to exactly the GIF's
# pixels. Workbook labels with markup characters and control characters
# come out escaped. (fastcgi.sh asks for the three formats through FastCGI;
# an unknown format's message page is the driver's unit table.)
# ctest-timeout: 600
set -u
BUILD=$1
SRC=$2
source "$SRC/tests/e2e/lib/lighttpd.sh"
WORK=$(mktemp -d /tmp/grafolio-e2e-work.XXXXXX)
on_exit 'rm -rf "$WORK"'
for tool in xmllint rsvg-convert; do
  command -v $tool >/dev/null || skip "$tool is not installed"
done

# Only references inside the document: "#id" and embedded PNG pictures; no
# entity declarations, scripts or style sheets that could fetch anything.
self_contained() {
  ! grep -oE '(href|src)="[^"]*"' "$1" | grep -qvE '="(#|data:image/png;base64,)' &&
    ! grep -oE 'url\([^)]*\)' "$1" | grep -qv 'url(#' &&
    ! grep -qE '<!DOCTYPE|<!ENTITY|<script|<style|xlink:|@import' "$1"
}
matches_gif() {  # rasterised SVG against the GIF, the share printed
  local share
  share=$(python3 "$SRC/tests/e2e/lib/pixel_match.py" "$1" "$2") || return 1
  echo "     $3: $share % of the pixels match"
  awk -v s="$share" 'BEGIN { exit !(s >= 95) }'
}

start_server "lighttpd/e2e" || exit 1
views=("" "&3D=yes" "&3D=yes&3Dorthogonal=no&3DRotation=30&3DElevation=330")
for style in 0 1 2 3 4 5 6; do
  for view in "${views[@]}"; do
    query="style=$style$view"
    name=$(echo "q$query" | tr -c 'A-Za-z0-9' '_')
    for format in gif svg png; do
      http -D "$WORK/$name.$format.head" -o "$WORK/$name.$format" "$BASE_URL?$query&format=$format"
    done
    check "?$query: SVG content type" header_has "$name.svg" "Content-Type: image/svg+xml"
    check "?$query: PNG content type" header_has "$name.png" "Content-Type: image/png"
    check "?$query: SVG parses as XML" xmllint --noout "$WORK/$name.svg"
    check "?$query: SVG refers to nothing outside" self_contained "$WORK/$name.svg"
    rsvg-convert -w 400 -h 250 "$WORK/$name.svg" -o "$WORK/$name.svg.png"
    check "?$query: rasterised SVG matches the GIF" matches_gif "$WORK/$name.gif" "$WORK/$name.svg.png" "$query"
    check "?$query: PNG has the GIF's pixels (ImageMagick)" same_pixels "$WORK/$name.png" "$WORK/$name.gif"
    check "?$query: PNG is an 8-bit palette image" \
      bash -c "[ \"\$(identify -format '%[png:IHDR.bit-depth-orig] %[png:IHDR.color-type-orig]' '$WORK/$name.png')\" = '8 3' ]"
  done
done

# Labels that would break out of their element unless escaped.
printf '0\t0\t0\ttext\ta<b>\n0\t0\t1\ttext\tTom & Jerry\n0\t0\t2\ttext\tsay "hi"\n0\t0\t3\ttext\tbell\a\001end\n' \
  >"$WORK/labels.tsv"
printf '0\t1\t0\tnumber\t5\n0\t1\t1\tnumber\t7\n0\t1\t2\tnumber\t9\n0\t1\t3\tnumber\t3\n' >>"$WORK/labels.tsv"
"$BUILD/xls-write" "$CGI_DIR/labels.xls" <"$WORK/labels.tsv"
http -o "$WORK/labels.svg" "$BASE_URL?filename=labels.xls&format=svg&legendstyle=value"
check "markup labels: SVG parses as XML" xmllint --noout "$WORK/labels.svg"
for text in '>5 a&lt;b&gt;</text>' '>7 Tom &amp; Jerry</text>' '>9 say &quot;hi&quot;</text>' $'>3 bell\uFFFD\uFFFDend</text>'; do
  check "markup labels: $text" grep -qF "$text" "$WORK/labels.svg"
done

finish
