# Starts and stops a real web server (lighttpd with mod_cgi) on a loopback
# port for end-to-end tests. Source it; it needs BUILD (the build folder).
#   start_server [SERVER_TAG]   sets ROOT, CGI_DIR, PORT, BASE_URL
#   stop_server
# The program is copied into $CGI_DIR (its own folder: workbooks and the Log
# folder live beside it).
# Optional: LIGHTTPD_MAX_REQUEST_KB (largest request body in KB, default 100)
# and LIGHTTPD_EXTRA_CONF (more configuration lines).

start_server() {
  local tag=${1:-"lighttpd"}
  ROOT=$(mktemp -d /tmp/grafolio-e2e.XXXXXX)
  CGI_DIR=$ROOT/htdocs/cgi-bin
  mkdir -p "$CGI_DIR"
  cp "$BUILD/grafolio" "$CGI_DIR/grafolio"
  for _ in $(seq 1 50); do
    PORT=$((20000 + RANDOM % 20000))
    if ! (exec 3<>/dev/tcp/127.0.0.1/$PORT) 2>/dev/null; then break; fi
  done
  cat >"$ROOT/lighttpd.conf" <<CONF
server.document-root = "$ROOT/htdocs"
server.bind = "127.0.0.1"
server.port = $PORT
server.modules = ("mod_cgi")
server.errorlog = "$ROOT/error.log"
server.pid-file = "$ROOT/lighttpd.pid"
server.tag = "$tag"
server.max-request-size = ${LIGHTTPD_MAX_REQUEST_KB:-100}
${LIGHTTPD_EXTRA_CONF:-}
\$HTTP["url"] =~ "^/cgi-bin/" { cgi.assign = ("" => "") }
CONF
  /usr/sbin/lighttpd -D -f "$ROOT/lighttpd.conf" &
  SERVER_PID=$!
  BASE_URL="http://127.0.0.1:$PORT/cgi-bin/grafolio"
  for _ in $(seq 1 100); do
    if curl -s -o /dev/null "http://127.0.0.1:$PORT/"; then return 0; fi
    sleep 0.05
  done
  echo "lighttpd did not start:"; cat "$ROOT/error.log"
  return 1
}

stop_server() {
  if [ -n "${SERVER_PID:-}" ]; then
    kill "$SERVER_PID" 2>/dev/null || true
    wait "$SERVER_PID" 2>/dev/null || true
    SERVER_PID=
  fi
  [ -n "${ROOT:-}" ] && rm -rf "$ROOT"
}

# Assertion helpers; failures are counted, the script exits non-zero at the end.
FAILURES=0
PASSES=0
check() {  # check NAME COMMAND...
  local name=$1
  shift
  if "$@"; then
    PASSES=$((PASSES + 1))
    echo "ok   $name"
  else
    FAILURES=$((FAILURES + 1))
    echo "FAIL $name"
  fi
}
finish() {
  echo "$PASSES passed, $FAILURES failed"
  [ "$FAILURES" -eq 0 ]
}
