#!/usr/bin/env bash
# The CGI program behind a real web server (lighttpd), asked by a real HTTP
# client: message pages, escaping, confinement to the program folder, the
# body limit and the error path.
# ctest-timeout: 60
set -u
BUILD=$1
SRC=$2
source "$SRC/tests/e2e/lib/lighttpd.sh"
start_server || exit 1
WORK=$ROOT/work
mkdir -p "$WORK"
LOG=$CGI_DIR/Log/grafolio.Log

ask() {  # ask NAME QUERY: body into $WORK/NAME.body, headers into $WORK/NAME.head
  http -D "$WORK/$1.head" -o "$WORK/$1.body" "$BASE_URL?$2"
}

same_bytes() { cmp -s "$1" "$2"; }
log_has() { grep -qF -- "$1" "$LOG"; }

# A missing workbook: the message page, byte for byte.
ask missing "filename=none.xls"
message_page 'EXCEL file "none.xls" not found !' >"$WORK/missing.expected"
check "missing workbook: message page byte for byte" same_bytes "$WORK/missing.body" "$WORK/missing.expected"
check "missing workbook: text/html" header_has missing "Content-Type: text/html"
check "missing workbook: status 200" header_has missing "HTTP/1.1 200"

# A file name with markup is escaped.
ask markup "filename=%3Cscript%3Ealert(1)%3C%2Fscript%3E.xls"
message_page 'EXCEL file "&lt;script&gt;alert(1)&lt;/script&gt;.xls" not found !' >"$WORK/markup.expected"
check "markup in file name: escaped" same_bytes "$WORK/markup.body" "$WORK/markup.expected"
check "markup in file name: no live script tag" bash -c "! grep -q '<script' '$WORK/markup.body'"

# Traversal attempts are not found, whatever exists outside.
for name in "..%2F..%2F..%2Fetc%2Fpasswd" "%2Fetc%2Fpasswd" "Log%2F..%2F..%2Fcgi-bin%2Fgrafolio"; do
  ask traversal "filename=$name"
  shown=$(python3 -c 'import sys,urllib.parse;print(urllib.parse.unquote(sys.argv[1]),end="")' "$name")
  message_page "EXCEL file \"$shown\" not found !" >"$WORK/traversal.expected"
  check "traversal $shown: not found" same_bytes "$WORK/traversal.body" "$WORK/traversal.expected"
done
ln -s /etc/passwd "$CGI_DIR/passwd.xls"
ask link "filename=passwd.xls"
message_page 'EXCEL file "passwd.xls" not found !' >"$WORK/link.expected"
check "link leading outside: not found" same_bytes "$WORK/link.body" "$WORK/link.expected"

# A body above AutoReadLimit (10000 bytes): a log line, and defaults are used.
head -c 10001 /dev/zero | tr '\0' 'a' >"$WORK/big.body.in"
http -D "$WORK/big.head" -o "$WORK/big.body" --data-binary @"$WORK/big.body.in" \
  -H 'Content-Type: application/x-www-form-urlencoded' "$BASE_URL"
check "body above AutoReadLimit: log line" log_has "Content length exceeds AutoReadLimit"
check "body above AutoReadLimit: answered" header_has big "HTTP/1.1 200"
check "body above AutoReadLimit: the default chart" header_has big "Content-Type: image/gif"

# A bad style: a log line "Unhandled exception : ..." and no body (the other
# requests that end so, e.g. a size beyond the bitmap limit, are the driver's
# unit table).
ask badstyle "style=abc"
check "bad style: log line" log_has "Unhandled exception : 'abc' ist kein gültiger Integerwert"
# The program answers nothing at all; the server then reports its own 500 page.
check "bad style: nothing from the program (server's 500)" header_has badstyle "HTTP/1.1 500"
check "bad style: no chart, no message page" bash -c "! grep -q -e GIF89a -e GRAFLIO '$WORK/badstyle.body'"

echo "--- request log"
cat "$LOG"
finish
