#!/usr/bin/env bash
# Cache validators through real web servers: lighttpd with plain CGI, the
# resident CGI server behind it, lighttpd mod_fastcgi and nginx with
# spawn-fcgi. curl gets a chart with ETag and Last-Modified; asking again
# with either gets 304 and no body; HEAD gets the GET's headers; a changed
# workbook gets a new chart; message pages carry no validators. (The bytes
# the program writes for a 304, with a status line or a Status line, are the
# engine's unit table.)
# ctest-timeout: 300
set -u
BUILD=$1
SRC=$2
source "$SRC/tests/e2e/lib/lighttpd.sh"
source "$SRC/tests/e2e/lib/resident.sh"
WORK=$(mktemp -d /tmp/grafolio-e2e-work.XXXXXX)
on_exit 'rm -rf "$WORK"'
on_exit stop_fastcgi_servers
on_exit 'stop_resident TERM'
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

if start_resident "$CGI_DIR/grafolio"; then
  validators "resident server" "$BASE_URL" "$CGI_DIR"
  check "resident server: every request was handed over" eval '! grep -q "served by" "$CGI_DIR/Log/grafolio.Log"'
  stop_resident TERM
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
