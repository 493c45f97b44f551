#!/usr/bin/env bash
# FastCGI: the same mixed requests through lighttpd mod_fastcgi and through
# nginx with spawn-fcgi answer the bodies plain CGI answers.
set -u
BUILD=$1
SRC=$2
source "$SRC/tests/e2e/lib/lighttpd.sh"
source "$SRC/tests/e2e/lib/resident.sh"
WORK=$(mktemp -d /tmp/grafolio-e2e-work.XXXXXX)
trap 'stop_fastcgi_servers; stop_server; rm -rf "$WORK"' EXIT
trap 'exit 1' TERM INT
start_server || exit 1
cp "$SRC/tests/fixtures/workbooks/"*.xls "$CGI_DIR/"
N=100

content_types_equal() {  # content types as plain CGI gives them
  local i
  for i in $(seq 0 $(($2 - 1))); do
    [ "$(grep -i '^content-type' "$1/$i.head" | tr -d '\r' | tr A-Z a-z)" = \
      "$(grep -i '^content-type' "$WORK/plain/$((i % ${#QUERIES[@]})).head" | tr -d '\r' | tr A-Z a-z)" ] || return 1
  done
}
all_ok() { ! grep -qv '^200 ' "$1"/*.code; }

expected_answers "$BASE_URL" "$WORK/expected" || { echo "plain CGI did not answer"; exit 1; }
run_mixed "$BASE_URL" "$WORK/plain" ${#QUERIES[@]}

if start_lighttpd_fastcgi; then
  run_mixed "$FCGI_URL" "$WORK/lighttpd" $N
  check "lighttpd mod_fastcgi: $N answers with status 200" all_ok "$WORK/lighttpd"
  check "lighttpd mod_fastcgi: $N bodies equal plain CGI's" mixed_equal "$WORK/lighttpd" "$WORK/expected" $N
  check "lighttpd mod_fastcgi: content types as plain CGI" content_types_equal "$WORK/lighttpd" $N
else
  check "lighttpd mod_fastcgi starts" false
fi

if start_nginx_fastcgi; then
  run_mixed "$NGINX_URL" "$WORK/nginx" $N
  check "nginx + spawn-fcgi: $N answers with status 200" all_ok "$WORK/nginx"
  check "nginx + spawn-fcgi: $N bodies equal plain CGI's" mixed_equal "$WORK/nginx" "$WORK/expected" $N
  check "nginx + spawn-fcgi: content types as plain CGI" content_types_equal "$WORK/nginx" $N
else
  check "nginx + spawn-fcgi starts" false
fi

finish
