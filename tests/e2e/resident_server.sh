#!/usr/bin/env bash
# The resident CGI server behind lighttpd: with a server running, CGI
# processes hand their requests over and answer what plain CGI answers;
# killing the server loses no client; deleting the queue file ends it.
set -u
BUILD=$1
SRC=$2
source "$SRC/tests/e2e/lib/lighttpd.sh"
source "$SRC/tests/e2e/lib/resident.sh"
WORK=$(mktemp -d /tmp/grafolio-e2e-work.XXXXXX)
RESIDENT_PID=
stop_resident() {
  if [ -n "$RESIDENT_PID" ]; then
    kill -9 "$RESIDENT_PID" 2>/dev/null || true
    wait "$RESIDENT_PID" 2>/dev/null || true
    RESIDENT_PID=
  fi
}
trap 'stop_resident; stop_server; rm -rf "$WORK"' EXIT
trap 'exit 1' TERM INT
start_server || exit 1
cp "$SRC/tests/fixtures/workbooks/"*.xls "$CGI_DIR/"
QUEUE=$CGI_DIR/Temp/grafolio_S
LOG=$CGI_DIR/Log/grafolio.Log
N=100

start_resident() {  # the program started bare, as an administrator would
  (cd "$CGI_DIR" && exec env -i PATH="$PATH" ./grafolio) &
  RESIDENT_PID=$!
  for _ in $(seq 1 100); do
    [ "$(cat "$CGI_DIR/Temp/grafolio_S.lock" 2>/dev/null)" = "$RESIDENT_PID" ] && [ -e "$QUEUE" ] && return 0
    sleep 0.05
  done
  echo "the resident server did not come up"
  return 1
}
alive() { kill -0 "$RESIDENT_PID" 2>/dev/null; }
ended_within() {  # ended_within SECONDS: the server process is gone by then
  local end=$((SECONDS + $1))
  while [ $SECONDS -le $end ]; do
    alive || return 0
    sleep 0.05
  done
  return 1
}
no_fallback_logged() { ! grep -q "served by the CGI process itself" "$LOG" 2>/dev/null; }
all_within() {  # every request ended within SECONDS (curl's time)
  awk -v limit="$2" '{ if ($2 > limit) bad++ } END { exit bad > 0 }' "$1"/*.code
}

# Plain CGI answers first, with no server running.
expected_answers "$BASE_URL" "$WORK/expected" || { echo "plain CGI did not answer"; exit 1; }

# 100 concurrent requests while the server runs.
start_resident || exit 1
run_mixed "$BASE_URL" "$WORK/served" $N
check "server still running after $N requests" alive
check "$N concurrent answers equal plain CGI's" mixed_equal "$WORK/served" "$WORK/expected" $N
# With the server alive throughout, a client either hands its request over
# or logs why it served it itself.
check "all $N served by the server (no client served itself)" no_fallback_logged
check "no request or answer file left behind" bash -c "! ls '$CGI_DIR/Temp' | grep -q '_C_'"

# SIGKILL of the server mid-run: every client answers or ends within the limits.
run_mixed "$BASE_URL" "$WORK/killed" $N &
MIXED=$!
for _ in $(seq 1 200); do  # until some requests wait in the queue
  [ "$(stat -c %s "$QUEUE" 2>/dev/null || echo 0)" -ge $((268 * 5)) ] && break
  sleep 0.02
done
kill -9 "$RESIDENT_PID"
wait "$RESIDENT_PID" 2>/dev/null
RESIDENT_PID=
wait "$MIXED"
echo "     after SIGKILL: $(grep -c "served by the CGI process itself" "$LOG") clients served their request themselves"
check "after SIGKILL: every client got the plain-CGI answer" mixed_equal "$WORK/killed" "$WORK/expected" $N
check "after SIGKILL: every request ended within 35 s" all_within "$WORK/killed" 35

# Deleting the queue file ends the server after its next tick.
start_resident || exit 1
rm -f "$QUEUE"
check "queue file deleted: the server ends after its next tick (within 2 s)" ended_within 2
RESIDENT_PID=

finish
