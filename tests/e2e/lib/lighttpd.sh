# Starts and stops a real web server (lighttpd with mod_cgi) on a loopback
# port for end-to-end tests. Source it; it needs BUILD (the build folder).
#   start_server [SERVER_TAG]   sets ROOT, CGI_DIR, PORT, BASE_URL; the server
#                               is stopped and ROOT removed when the script
#                               ends, however it ends
#   stop_server
#   server_alive                true while this script's own server answers
#   http CURL-ARGS...           curl -s with a bounded wait, after checking
#                               that the server is alive
# The program is copied into $CGI_DIR (its own folder: workbooks and the Log
# folder live beside it).
# Optional: LIGHTTPD_MAX_REQUEST_KB (largest request body in KB, default 100)
# and LIGHTTPD_EXTRA_CONF (more configuration lines).
source "$(dirname "${BASH_SOURCE[0]}")/e2e.sh"

# Longest wait for one answer, in seconds.
E2E_MAX_TIME=${E2E_MAX_TIME:-30}

start_server() {
  local tag=${1:-"lighttpd"}
  ROOT=$(mktemp -d /tmp/grafolio-e2e.XXXXXX)
  CGI_DIR=$ROOT/htdocs/cgi-bin
  mkdir -p "$CGI_DIR"
  cp "$BUILD/grafolio" "$CGI_DIR/grafolio"
  # A token only this server serves tells it apart from anything else that
  # may answer on the same port.
  SERVER_TOKEN=$RANDOM$RANDOM$$
  echo "$SERVER_TOKEN" >"$ROOT/htdocs/alive.txt"
  on_exit stop_server
  local attempt
  for attempt in $(seq 1 20); do
    PORT=$(free_port) || break
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
    # Should this script be killed outright, the watchdog still stops the
    # server and removes its folder.
    (
      trap - EXIT TERM INT HUP
      while kill -0 $$ 2>/dev/null && kill -0 "$SERVER_PID" 2>/dev/null; do sleep 1; done
      kill "$SERVER_PID" 2>/dev/null
      rm -rf "$ROOT"
    ) >/dev/null 2>&1 &
    WATCHDOG_PID=$!
    BASE_URL="http://127.0.0.1:$PORT/cgi-bin/grafolio"
    for _ in $(seq 1 100); do
      if server_alive; then return 0; fi
      kill -0 "$SERVER_PID" 2>/dev/null || break  # port taken meanwhile: next one
      sleep 0.05
    done
    stop_server keep
  done
  echo "lighttpd did not start:"
  cat "$ROOT/error.log" 2>/dev/null
  return 1
}

server_alive() {
  [ -n "${SERVER_PID:-}" ] && kill -0 "$SERVER_PID" 2>/dev/null &&
    [ "$(curl -s --max-time 2 "http://127.0.0.1:$PORT/alive.txt" 2>/dev/null)" = "$SERVER_TOKEN" ]
}

http() {
  if ! server_alive; then
    echo "lighttpd on port ${PORT:-?} is not answering:" >&2
    cat "$ROOT/error.log" >&2 2>/dev/null
    return 1
  fi
  curl -s --max-time "$E2E_MAX_TIME" "$@"
}

stop_server() {  # stop_server [keep]: keep leaves ROOT for another start
  if [ -n "${SERVER_PID:-}" ]; then
    kill "$SERVER_PID" 2>/dev/null || true
    wait "$SERVER_PID" 2>/dev/null || true
    SERVER_PID=
  fi
  if [ -n "${WATCHDOG_PID:-}" ]; then
    kill "$WATCHDOG_PID" 2>/dev/null || true
    wait "$WATCHDOG_PID" 2>/dev/null || true
    WATCHDOG_PID=
  fi
  if [ "${1:-}" != keep ] && [ -n "${ROOT:-}" ]; then
    rm -rf "$ROOT"
    ROOT=
  fi
}
