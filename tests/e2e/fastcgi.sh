#!/usr/bin/env bash
# FastCGI: the same mixed requests through lighttpd mod_fastcgi and through
# nginx with spawn-fcgi answer the bodies and content types plain CGI
# answers; so does one chart in each of its formats (GIF, SVG, PNG).
set -u
BUILD=$1
SRC=$2
source "$SRC/tests/e2e/lib/lighttpd.sh"
source "$SRC/tests/e2e/lib/resident.sh"
WORK=$(mktemp -d /tmp/grafolio-e2e-work.XXXXXX)
on_exit 'rm -rf "$WORK"'
on_exit stop_fastcgi_servers
start_server || exit 1
cp "$SRC/tests/fixtures/workbooks/"*.xls "$CGI_DIR/"
MIXED=("${QUERIES[@]}")
FORMATS=("style=3&3D=yes&legendstyle=percent&format="{gif,svg,png})
COUNT_MIXED=100
COUNT_FORMATS=${#FORMATS[@]}

use() {  # use LIST: QUERIES become the list's
  local -n list=$1
  QUERIES=("${list[@]}")
}
content_types_equal() {  # content_types_equal DIR COUNT PLAIN: content types as plain CGI gives them
  local i
  for i in $(seq 0 $(($2 - 1))); do
    [ "$(grep -i '^content-type' "$1/$i.head" | tr -d '\r' | tr A-Z a-z)" = \
      "$(grep -i '^content-type' "$3/$((i % ${#QUERIES[@]})).head" | tr -d '\r' | tr A-Z a-z)" ] || return 1
  done
}
all_ok() { ! grep -qv '^200 ' "$1"/*.code; }
same_as_plain() {  # same_as_plain NAME URL: each list at once through URL, answered as plain CGI answers it
  local list count
  for list in MIXED FORMATS; do
    use $list
    count=COUNT_$list
    count=${!count}
    run_mixed "$2" "$WORK/$1-$list" "$count"
    check "$1, $list: $count answers with status 200" all_ok "$WORK/$1-$list"
    check "$1, $list: $count bodies equal plain CGI's" mixed_equal "$WORK/$1-$list" "$WORK/plain-$list" "$count"
    check "$1, $list: content types as plain CGI" content_types_equal "$WORK/$1-$list" "$count" "$WORK/plain-$list"
  done
}

for list in MIXED FORMATS; do
  use $list
  run_mixed "$BASE_URL" "$WORK/plain-$list" ${#QUERIES[@]}
  check "plain CGI, $list: answers with status 200" all_ok "$WORK/plain-$list"
done
if start_lighttpd_fastcgi; then
  same_as_plain "lighttpd mod_fastcgi" "$FCGI_URL"
else
  check "lighttpd mod_fastcgi starts" false
fi
if start_nginx_fastcgi; then
  same_as_plain "nginx + spawn-fcgi" "$NGINX_URL"
else
  check "nginx + spawn-fcgi starts" false
fi
finish
