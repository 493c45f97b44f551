# Helpers for the resident modes' end-to-end tests and benchmark: mixed
# queries with their plain-CGI answers, many concurrent requests, the
# resident CGI server and the FastCGI web servers. Source after lighttpd.sh (its free_port is used);
# needs BUILD, SRC, WORK.

# Styles, sizes, test tables, workbooks and a missing workbook.
QUERIES=(
  "" "style=1" "style=2" "style=3" "style=4" "style=5" "style=6"
  "width=200&height=120" "filename=testenglish&style=3" "filename=obst.xls"
  "filename=unicode-sheetnames.xls&sheet=2" "filename=none.xls"
  "3D=yes&3DRotation=30&3DElevation=20" "number=Stimmen&numbercolor=4&style=2"
  "border=yes&backcolor=3&legend=no" "color=99&style=3" "marks=no&marksstyle=value&style=4"
)

# start_resident PROGRAM [CWD [BLOCKS]]: the program started bare (no CGI
# environment, working in CWD, by default its own folder; files limited to
# BLOCKS of ulimit -f), so that it runs as the resident server; waits up to
# 5 s for its lock and queue in the Temp folder beside it. Sets RESIDENT_PID;
# its standard error goes to $RESIDENT_ERR when set.
RESIDENT_PID=
start_resident() {
  local temp
  temp=$(dirname "$1")/Temp
  (cd "${2:-$(dirname "$1")}" && ulimit -f "${3:-unlimited}" &&
    exec env -i PATH="$PATH" "$1" </dev/null >/dev/null 2>>"${RESIDENT_ERR:-/dev/null}") &
  RESIDENT_PID=$!
  for _ in $(seq 1 100); do
    [ "$(cat "$temp/grafolio_S.lock" 2>/dev/null)" = "$RESIDENT_PID" ] && [ -e "$temp/grafolio_S" ] && return 0
    sleep 0.05
  done
  echo "the resident server did not come up"
  return 1
}
# stop_resident [SIGNAL]: ends it (resumed first, should it be stopped) with
# SIGNAL, KILL by default.
stop_resident() {
  if [ -n "$RESIDENT_PID" ]; then
    kill -CONT "$RESIDENT_PID" 2>/dev/null || true
    kill -"${1:-KILL}" "$RESIDENT_PID" 2>/dev/null || true
    wait "$RESIDENT_PID" 2>/dev/null || true
    RESIDENT_PID=
  fi
}

wait_http() {  # wait_http URL: up to 30 s for a successful answer (the server and what it runs are up)
  for _ in $(seq 1 300); do
    curl -sf --max-time 2 -o /dev/null "$1" && return 0
    sleep 0.1
  done
  return 1
}

# expected_answers URL DIR: the answer body of every query, one file each.
expected_answers() {
  mkdir -p "$2"
  local i
  for i in "${!QUERIES[@]}"; do
    curl -s --max-time 30 -o "$2/$i.body" "$1?${QUERIES[$i]}" || return 1
  done
}

# run_mixed URL DIR N: N requests at once, query i mod the list; body,
# headers and "code seconds" per request in DIR.
run_mixed() {
  mkdir -p "$2"
  local i pids=()
  for i in $(seq 0 $(($3 - 1))); do
    curl -s --max-time 60 -D "$2/$i.head" -o "$2/$i.body" -w '%{http_code} %{time_total}\n' \
      "$1?${QUERIES[$((i % ${#QUERIES[@]}))]}" >"$2/$i.code" &
    pids+=($!)
  done
  wait "${pids[@]}"
}

# mixed_equal DIR EXPECTED N: every body equals the plain-CGI body of its query.
mixed_equal() {
  local i bad=0
  for i in $(seq 0 $(($3 - 1))); do
    cmp -s "$1/$i.body" "$2/$((i % ${#QUERIES[@]})).body" || bad=$((bad + 1))
  done
  [ "$bad" -eq 0 ] || echo "  $bad of $3 answers differ from plain CGI"
  [ "$bad" -eq 0 ]
}

# lighttpd with mod_fastcgi starting the program itself (the README's snippet).
# Sets FCGI_ROOT, FCGI_URL, FCGI_PID.
start_lighttpd_fastcgi() {
  FCGI_ROOT=$(mktemp -d /tmp/grafolio-fcgi.XXXXXX)
  mkdir -p "$FCGI_ROOT/htdocs" "$FCGI_ROOT/app"
  cp "$BUILD/grafolio" "$FCGI_ROOT/app/grafolio"
  cp "$SRC/tests/fixtures/workbooks/"*.xls "$FCGI_ROOT/app/"
  local port
  port=$(free_port) || return 1
  sed -e "s|@ROOT@|$FCGI_ROOT|g" -e "s|@PORT@|$port|g" -e "s|@APP@|$FCGI_ROOT/app|g" \
    "$SRC/tests/e2e/lib/lighttpd-fastcgi.conf" >"$FCGI_ROOT/lighttpd.conf"
  /usr/sbin/lighttpd -D -f "$FCGI_ROOT/lighttpd.conf" &
  FCGI_PID=$!
  FCGI_URL="http://127.0.0.1:$port/grafolio"
  wait_http "$FCGI_URL" || { cat "$FCGI_ROOT/error.log"; return 1; }
}

# spawn-fcgi starting the program on a port, nginx passing requests to it
# (the README's snippets). Sets NGINX_ROOT, NGINX_URL, NGINX_PID, SPAWN_PID.
start_nginx_fastcgi() {
  NGINX_ROOT=$(mktemp -d /tmp/grafolio-nginx.XXXXXX)
  mkdir -p "$NGINX_ROOT/app" "$NGINX_ROOT/tmp"
  cp "$BUILD/grafolio" "$NGINX_ROOT/app/grafolio"
  cp "$SRC/tests/fixtures/workbooks/"*.xls "$NGINX_ROOT/app/"
  local port fport
  port=$(free_port) || return 1
  fport=$(free_port) || return 1
  /usr/bin/spawn-fcgi -n -a 127.0.0.1 -p "$fport" -- "$NGINX_ROOT/app/grafolio" >"$NGINX_ROOT/app.log" 2>&1 &
  SPAWN_PID=$!
  sed -e "s|@ROOT@|$NGINX_ROOT|g" -e "s|@PORT@|$port|g" -e "s|@FCGI_PORT@|$fport|g" \
    "$SRC/tests/e2e/lib/nginx-fastcgi.conf" >"$NGINX_ROOT/nginx.conf"
  /usr/sbin/nginx -p "$NGINX_ROOT" -c "$NGINX_ROOT/nginx.conf" -g "daemon off; pid $NGINX_ROOT/nginx.pid;" \
    2>"$NGINX_ROOT/stderr.log" &
  NGINX_PID=$!
  NGINX_URL="http://127.0.0.1:$port/grafolio"
  wait_http "$NGINX_URL" || { cat "$NGINX_ROOT/stderr.log" "$NGINX_ROOT/error.log" "$NGINX_ROOT/app.log" 2>/dev/null; return 1; }
}

stop_fastcgi_servers() {
  local pid
  for pid in ${FCGI_PID:-} ${NGINX_PID:-} ${SPAWN_PID:-}; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  FCGI_PID= NGINX_PID= SPAWN_PID=
  [ -n "${FCGI_ROOT:-}" ] && rm -rf "$FCGI_ROOT"
  [ -n "${NGINX_ROOT:-}" ] && rm -rf "$NGINX_ROOT"
  FCGI_ROOT= NGINX_ROOT=
}
