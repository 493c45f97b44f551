#!/usr/bin/env bash
# Cache validators through real web servers: lighttpd with plain CGI, the
# resident CGI server behind it, lighttpd mod_fastcgi and nginx with
# spawn-fcgi. curl gets a chart with ETag and Last-Modified; asking again
# with either gets 304 and no body; HEAD gets the GET's headers; a changed
# workbook gets a new chart; message pages carry no validators.
# ctest-timeout: 300
set -u
BUILD=$1
SRC=$2
source "$SRC/tests/e2e/lib/lighttpd.sh"
source "$SRC/tests/e2e/lib/resident.sh"
WORK=$(mktemp -d /tmp/grafolio-e2e-work.XXXXXX)
RESIDENT_PID=
stop_resident() {
  if [ -n "$RESIDENT_PID" ]; then
    kill "$RESIDENT_PID" 2>/dev/null || true
    wait "$RESIDENT_PID" 2>/dev/null || true
    RESIDENT_PID=
  fi
}
trap 'stop_resident; stop_fastcgi_servers; stop_server; rm -rf "$WORK"' EXIT
trap 'exit 1' TERM INT
# The operator's max-age reaches CGI programs through the server's environment.
LIGHTTPD_EXTRA_CONF='server.modules += ("mod_setenv")
setenv.add-environment = ("GRAFOLIO_MAX_AGE" => "600")'
start_server || exit 1
cp "$SRC/tests/fixtures/workbooks/"*.xls "$CGI_DIR/"
QUERY="filename=obst.xls&style=3&3D=yes"

field() {  # field FILE NAME: the value of a response header field
  grep -i "^$2:" "$1" | head -1 | cut -d: -f2- | sed -e 's/^ *//' -e 's/\r$//'
}
status() { head -1 "$1" | cut -d' ' -f2; }

# validators NAME URL BOOK_DIR: the whole story through one gateway.
validators() {
  local name=$1 url=$2 dir=$3 d=$WORK/$1
  mkdir -p "$d"
  http -D "$d/get.head" -o "$d/get.body" "$url?$QUERY" || true
  local tag modified
  tag=$(field "$d/get.head" ETag)
  modified=$(field "$d/get.head" Last-Modified)
  check "$name: the chart answers 200 with a GIF" \
    test "$(status "$d/get.head")" = 200 -a "$(head -c 6 "$d/get.body")" = GIF89a
  check "$name: ETag and Last-Modified" test -n "$tag" -a -n "$modified"
  check "$name: the GIF is plain CGI's" cmp -s "$d/get.body" "$WORK/plain.body"

  http -D "$d/etag.head" -o "$d/etag.body" -H "If-None-Match: $tag" "$url?$QUERY" || true
  check "$name: If-None-Match answers 304 without body" \
    test "$(status "$d/etag.head")" = 304 -a ! -s "$d/etag.body"
  check "$name: the 304 carries the ETag and no length" \
    test "$(field "$d/etag.head" ETag)|$(field "$d/etag.head" Content-Length)" = "$tag|"
  http -D "$d/date.head" -o "$d/date.body" -H "If-Modified-Since: $modified" "$url?$QUERY" || true
  check "$name: If-Modified-Since answers 304" test "$(status "$d/date.head")" = 304 -a ! -s "$d/date.body"
  http -D "$d/other.head" -o /dev/null -H "If-None-Match: $tag" "$url?$QUERY&legend=no" || true
  check "$name: another field answers 200" test "$(status "$d/other.head")" = 200

  http -I -o "$d/head.head" "$url?$QUERY" || true
  check "$name: HEAD has the GET's type, tag and length" test \
    "$(field "$d/head.head" Content-Type)|$(field "$d/head.head" ETag)|$(field "$d/head.head" Content-Length)" = \
    "image/gif|$tag|$(stat -c %s "$d/get.body")"

  touch "$dir/obst.xls"
  http -D "$d/touched.head" -o "$d/touched.body" -H "If-None-Match: $tag" "$url?$QUERY" || true
  check "$name: after the workbook is touched 200 with a new ETag" test \
    "$(status "$d/touched.head")" = 200 -a "$(field "$d/touched.head" ETag)" != "$tag" -a -s "$d/touched.body"
  http -D "$d/missing.head" -o /dev/null "$url?filename=missing.xls" || true
  check "$name: a message page has no validators" test -z "$(field "$d/missing.head" ETag)"
}

http -D "$WORK/plain.head" -o "$WORK/plain.body" "$BASE_URL?$QUERY"
validators "lighttpd CGI" "$BASE_URL" "$CGI_DIR"
check "lighttpd CGI: Cache-Control from GRAFOLIO_MAX_AGE on 200 and 304" test \
  "$(field "$WORK/lighttpd CGI/get.head" Cache-Control)|$(field "$WORK/lighttpd CGI/etag.head" Cache-Control)" = \
  "max-age=600|max-age=600"

# Under a server named Apache no status line is written: a Status line carries the 304.
stop_server
start_server "Apache/2.4.57 (Debian)" || exit 1
cp "$SRC/tests/fixtures/workbooks/"*.xls "$CGI_DIR/"
cat >"$CGI_DIR/raw" <<'SH'
#!/bin/sh
"$(dirname "$0")/grafolio" | tee "$(dirname "$0")/raw-answer"
SH
chmod +x "$CGI_DIR/raw"
http -D "$WORK/apache.head" -o /dev/null "http://127.0.0.1:$PORT/cgi-bin/raw?$QUERY" || true
apache_tag=$(field "$WORK/apache.head" ETag)
http -D "$WORK/apache304.head" -o "$WORK/apache304.body" -H "If-None-Match: $apache_tag" \
  "http://127.0.0.1:$PORT/cgi-bin/raw?$QUERY" || true
check "Apache: the program's 304 is a Status line and the validators" test \
  "$(tr -d '\r' <"$CGI_DIR/raw-answer" | head -3 | cut -d: -f1 | tr '\n' ' ')" = "Status ETag Last-Modified "
check "Apache: the client gets 304 without body" \
  test "$(status "$WORK/apache304.head")" = 304 -a ! -s "$WORK/apache304.body"

(cd "$CGI_DIR" && exec env -i PATH="$PATH" ./grafolio) &
RESIDENT_PID=$!
for _ in $(seq 1 100); do
  [ "$(cat "$CGI_DIR/Temp/grafolio_S.lock" 2>/dev/null)" = "$RESIDENT_PID" ] && [ -e "$CGI_DIR/Temp/grafolio_S" ] && break
  sleep 0.05
done
if kill -0 "$RESIDENT_PID" 2>/dev/null && [ -e "$CGI_DIR/Temp/grafolio_S" ]; then
  validators "resident server" "$BASE_URL" "$CGI_DIR"
  check "resident server: every request was handed over" eval '! grep -q "served by" "$CGI_DIR/Log/grafolio.Log"'

  stop_resident
else
  check "the resident server starts" false
fi

if start_lighttpd_fastcgi; then
  validators "lighttpd FastCGI" "$FCGI_URL" "$FCGI_ROOT/app"
else
  check "lighttpd mod_fastcgi starts" false
fi
if start_nginx_fastcgi; then
  validators "nginx + spawn-fcgi" "$NGINX_URL" "$NGINX_ROOT/app"
else
  check "nginx + spawn-fcgi starts" false
fi
finish
