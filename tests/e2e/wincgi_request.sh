#!/usr/bin/env bash
# WinCGI: a request written as an ini file, its path the program's first
# parameter, answers into the output file the ini names; the bytes equal the
# plain CGI answer to the same request (as under a server that writes its own
# status line, since a WinCGI server does).
set -u
BUILD=$1
SRC=$2
source "$SRC/tests/e2e/lib/lighttpd.sh"
source "$SRC/tests/e2e/lib/resident.sh"
WORK=$(mktemp -d /tmp/grafolio-e2e-wincgi.XXXXXX)
on_exit 'rm -rf "$WORK"'
on_exit 'stop_resident TERM'
cp "$BUILD/grafolio" "$WORK/grafolio"
cp "$SRC/tests/fixtures/workbooks/obst.xls" "$WORK/"

wincgi() {  # wincgi NAME METHOD QUERY [FORM-LITERAL-LINES]
  cat >"$WORK/$1.ini" <<INI
[CGI]
Request Protocol=HTTP/1.0
Request Method=$2
Executable Path=/cgi-win/grafolio
Query String=$3
Server Software=Website/1.1
CGI Version=CGI/1.3 (Win)
[System]
Output File=$WORK/$1.out
[Form Literal]
${4:-}
INI
  sed -i 's/$/\r/' "$WORK/$1.ini"
  (cd "$WORK" && env -i ./grafolio "$WORK/$1.ini")
}
cgi() {  # cgi NAME QUERY [BODY]
  if [ -n "${3:-}" ]; then
    printf '%s' "$3" | env -i SERVER_SOFTWARE=Apache REQUEST_METHOD=POST CONTENT_LENGTH=${#3} \
      CONTENT_TYPE=application/x-www-form-urlencoded "$WORK/grafolio" >"$WORK/$1.cgi"
  else
    env -i SERVER_SOFTWARE=Apache REQUEST_METHOD=GET QUERY_STRING="$2" "$WORK/grafolio" >"$WORK/$1.cgi"
  fi
}
same() { cmp -s "$WORK/$1.out" "$WORK/$1.cgi"; }

# name, method, query, form fields (the CGI request's body where there are any)
while IFS='|' read -r -u 3 name method query form; do
  wincgi "$name" "$method" "$query" "${form//&/$'\n'}"
  cgi "$name" "$query" "$form"
  check "WinCGI $name: same bytes as CGI" same "$name"
done 3<<'CASES'
default|GET||
workbook|GET|filename=obst.xls&style=3&3D=yes|
post|POST||filename=obst.xls&style=1&number=Obst
CASES

# With a resident server of the program running (started bare), a WinCGI
# client queues its request file and the server answers it. The output file
# is named relative to the working folder, so where it appears tells who
# wrote it: the server works in server-cwd, the client in client-cwd.
mkdir -p "$WORK/server-cwd" "$WORK/client-cwd"
start_resident "$WORK/grafolio" "$WORK/server-cwd"
check "resident server started" test -f "$WORK/Temp/grafolio_S"
cat >"$WORK/relative.ini" <<INI
[CGI]
Request Method=GET
Query String=filename=obst.xls&style=3&3D=yes
[System]
Output File=relative.out
INI
(cd "$WORK/client-cwd" && timeout 30 env -i "$WORK/grafolio" "$WORK/relative.ini")
check "WinCGI through the resident server: answered by the server" test -f "$WORK/server-cwd/relative.out"
check "WinCGI through the resident server: not by the client" test ! -e "$WORK/client-cwd/relative.out"
cp "$WORK/workbook.cgi" "$WORK/relative.cgi"
check "WinCGI through the resident server: same bytes as CGI" cmp -s "$WORK/server-cwd/relative.out" "$WORK/relative.cgi"
stop_resident TERM
(cd "$WORK/client-cwd" && timeout 30 env -i "$WORK/grafolio" "$WORK/relative.ini")
check "WinCGI without a server: the client answers itself" cmp -s "$WORK/client-cwd/relative.out" "$WORK/relative.cgi"

# A request that fails (here its request file is missing; planted output
# files and a full disk are the engine's unit tests) ends with a failure
# status; a good one with 0.
status_of() {  # status_of NAME: runs the request NAME.ini, prints its exit status
  (cd "$WORK" && timeout 20 env -i ./grafolio "$WORK/$1.ini" >/dev/null 2>&1)
  echo $?
}
check "WinCGI: a missing request file fails" test "$(status_of missing)" = 1
check "WinCGI: a good request succeeds" test "$(status_of workbook)" = 0
grep -F "WinCGI" "$WORK/Log/grafolio.Log" | sed 's/^/log: /'

finish
