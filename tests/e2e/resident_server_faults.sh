#!/usr/bin/env bash
# ctest-timeout: 900
# The resident CGI server behind lighttpd under faults: 2,000 mixed requests
# while the server runs (all handed over), is stopped (SIGSTOP) for 40 s, is
# killed and restarted at once, ends when its queue file is deleted, has
# almost no disk left in Temp (a small tmpfs, or a file-size limit where
# nothing can be mounted), and takes 100 requests at once. Every client gets the
# plain-CGI answer, none waits longer than the limits (30 s heartbeat, 180 s
# wait), and Temp/ holds no file of a finished request afterwards.
# Environment: FAULT_REQUESTS (default 2000; 400 in the sanitizer build, whose
# processes start several times slower), FAULT_CONCURRENCY (default 8),
# FAULT_NO_MOUNT (set: use the file-size limit even where a tmpfs could be
# mounted).
set -u
BUILD=$1
SRC=$2
source "$SRC/tests/e2e/lib/lighttpd.sh"
source "$SRC/tests/e2e/lib/resident.sh"
WORK=$(mktemp -d /tmp/grafolio-e2e-work.XXXXXX)
MOUNTED=
on_exit '[ -n "${E2E_DEBUG:-}" ] && cp "$LOG" "$WORK/"; [ -n "${E2E_DEBUG:-}" ] || rm -rf "$WORK"'
on_exit '[ -n "$MOUNTED" ] && umount -l "$MOUNTED"'
on_exit stop_resident
start_server || exit 1
cp "$SRC/tests/fixtures/workbooks/"*.xls "$CGI_DIR/"
TEMP=$CGI_DIR/Temp
QUEUE=$TEMP/grafolio_S
LOG=$CGI_DIR/Log/grafolio.Log
default_total=2000
grep -q '^GRAFOLIO_SANITIZE:BOOL=ON' "$BUILD/CMakeCache.txt" 2>/dev/null && default_total=400
TOTAL=${FAULT_REQUESTS:-$default_total}
CONC=${FAULT_CONCURRENCY:-8}

RESIDENT_ERR=$WORK/server.err
end_resident() {  # deleting the queue ends the server after its next tick (within 2 s)
  rm -f "$QUEUE"
  local ended=1
  for _ in $(seq 1 40); do
    kill -0 "$RESIDENT_PID" 2>/dev/null || { ended=0; break; }
    sleep 0.05
  done
  stop_resident
  return $ended
}

# load DIR FIRST COUNT: requests FIRST.. of the mixed list, CONC at a time;
# body and "code seconds" per request in DIR.
load() {
  mkdir -p "$1"
  local i
  # "?" leads every query, so that no line ends in a blank (xargs would join it
  # with the next).
  for i in $(seq "$2" $(($2 + $3 - 1))); do echo "$i ?${QUERIES[$((i % ${#QUERIES[@]}))]}"; done |
    xargs -P "$CONC" -L 1 sh -c \
      'curl -s --max-time 240 -o "$0/$2.body" -w "%{http_code} %{time_total}\n" "$1$3" >"$0/$2.code"' \
      "$1" "$BASE_URL"
}
# paced DIR FIRST COUNT SECONDS: the same requests started at a steady rate
# over SECONDS, whether or not earlier ones have ended (steady traffic).
paced() {
  mkdir -p "$1"
  local i pids=() pause
  pause=$(awk -v s="$4" -v n="$3" 'BEGIN { printf "%.3f", s / n }')
  for i in $(seq "$2" $(($2 + $3 - 1))); do
    curl -s --max-time 240 -o "$1/$i.body" -w '%{http_code} %{time_total}\n' \
      "$BASE_URL?${QUERIES[$((i % ${#QUERIES[@]}))]}" >"$1/$i.code" &
    pids+=($!)
    sleep "$pause"
  done
  wait "${pids[@]}"
}
# equal DIR FIRST COUNT: every body is the plain-CGI body of its query.
equal() {
  local i bad=0
  for i in $(seq "$2" $(($2 + $3 - 1))); do
    cmp -s "$1/$i.body" "$WORK/expected/$((i % ${#QUERIES[@]})).body" && continue
    bad=$((bad + 1))
    [ -n "${E2E_DEBUG:-}" ] && echo "     $i: ${QUERIES[$((i % ${#QUERIES[@]}))]}: $(cat "$1/$i.code") $(stat -c %s "$1/$i.body")"
  done
  [ "$bad" -eq 0 ] || echo "     $bad of $3 answers differ from plain CGI"
  [ "$bad" -eq 0 ]
}
# within DIR SECONDS: every request of DIR ended within SECONDS; prints the longest.
within() {
  awk -v limit="$2" '{ if ($2 > max) max = $2; if ($2 > limit) bad++ } END {
    printf "     longest wait %.1f s\n", max; exit bad > 0 }' "$1"/*.code
}
no_client_files() {  # no request or answer file stays (a moment for the last sweep)
  for _ in $(seq 1 40); do
    ls "$TEMP" 2>/dev/null | grep -q '_C_' || return 0
    sleep 0.05
  done
  ls "$TEMP" | grep '_C_' | head -5
  return 1
}
fallbacks() { cat "$LOG" 2>/dev/null | grep -c "served by the CGI process itself"; }
report() {  # report NAME COUNT FALLBACKS-BEFORE SECONDS
  echo "     $1: $2 requests in $4 s, $(($(fallbacks) - $3)) served by the CGI process itself"
}

expected_answers "$BASE_URL" "$WORK/expected" || { echo "plain CGI did not answer"; exit 1; }
STARTED=$SECONDS
N1=$((TOTAL / 4)) N2=$((TOTAL / 10)) N3=$((TOTAL / 4)) N4=$((TOTAL / 4))
N5=$((TOTAL - N1 - N2 - N3 - N4))

# 1. The server runs.
start_resident "$CGI_DIR/grafolio" || exit 1
before=$(fallbacks) t=$SECONDS
load "$WORK/1" 0 $N1
report "running" $N1 "$before" $((SECONDS - t))
check "running: answers equal plain CGI's" equal "$WORK/1" 0 $N1
check "running: every request ended within 30 s" within "$WORK/1" 30
check "running: no request or answer file left" no_client_files
check "running: no client served its request itself" test "$(fallbacks)" -eq "$before"

# 2. The server stopped (SIGSTOP) for 40 s under steady traffic (requests
# started at an even pace over 50 s, so the queue's time stamp stays fresh),
# then resumed. Clients
# that queued give up 30 s after the last heartbeat; later ones do not queue.
before=$(fallbacks) t=$SECONDS
paced "$WORK/2" $N1 $N2 50 &
LOAD=$!
sleep 1
kill -STOP "$RESIDENT_PID"
sleep 40
kill -CONT "$RESIDENT_PID"
wait "$LOAD"
report "stopped for 40 s" $N2 "$before" $((SECONDS - t))
check "stopped: answers equal plain CGI's" equal "$WORK/2" $N1 $N2
check "stopped: every request ended within 30 s heartbeat + 6 s" within "$WORK/2" 36
check "stopped: no request or answer file left once resumed" no_client_files
check "stopped: the resumed server still runs" kill -0 "$RESIDENT_PID"

# 3. The server killed (SIGKILL) and restarted at once while requests wait.
before=$(fallbacks) t=$SECONDS
load "$WORK/3" $((N1 + N2)) $N3 &
LOAD=$!
sleep 1
# Held for a moment so that requests are sure to wait in its queue when it dies.
kill -STOP "$RESIDENT_PID"
for _ in $(seq 1 250); do
  [ "$(stat -c %s "$QUEUE" 2>/dev/null || echo 0)" -ge $((268 * 4)) ] && break
  sleep 0.02
done
kill -9 "$RESIDENT_PID"
wait "$RESIDENT_PID" 2>/dev/null
RESIDENT_PID=
start_resident "$CGI_DIR/grafolio" || exit 1
wait "$LOAD"
report "killed and restarted" $N3 "$before" $((SECONDS - t))
check "killed: answers equal plain CGI's" equal "$WORK/3" $((N1 + N2)) $N3
check "killed: every request ended within 30 s heartbeat + 10 s" within "$WORK/3" 40
check "killed: no request or answer file left" no_client_files

# 4. No disk left in Temp: a 64 KiB tmpfs with 16 KiB free, or, where
# nothing can be mounted, a 4 KiB file-size limit on the server.
check "queue file deleted: the server ends within 2 s" end_resident
rm -rf "$TEMP"
mkdir -m 0700 "$TEMP"
STARVED="a 64 KiB tmpfs with 16 KiB free"
if [ -z "${FAULT_NO_MOUNT:-}" ] && mount -t tmpfs -o size=64k,mode=0700 grafolio-e2e "$TEMP" 2>/dev/null; then
  MOUNTED=$TEMP
  head -c $((48 * 1024)) /dev/zero >"$TEMP/filler"
  start_resident "$CGI_DIR/grafolio" || exit 1
else
  STARVED="a 4 KiB file-size limit on the server"
  start_resident "$CGI_DIR/grafolio" "$CGI_DIR" 4 || exit 1
fi
before=$(fallbacks) t=$SECONDS
load "$WORK/4" $((N1 + N2 + N3)) $N4
report "starved of disk ($STARVED)" $N4 "$before" $((SECONDS - t))
check "starved: answers equal plain CGI's" equal "$WORK/4" $((N1 + N2 + N3)) $N4
check "starved: every request ended within 30 s" within "$WORK/4" 30
check "starved: no request or answer file left" no_client_files
end_resident || true
if [ -n "$MOUNTED" ]; then
  umount "$MOUNTED" && MOUNTED=
fi

# 5. Disk back: the server serves again, up to 100 requests at once
# contending for its queue, and nobody falls back.
start_resident "$CGI_DIR/grafolio" || exit 1
before=$(fallbacks) t=$SECONDS
CONC=100 load "$WORK/5" $((TOTAL - N5)) $N5
report "running again" $N5 "$before" $((SECONDS - t))
check "again: answers equal plain CGI's" equal "$WORK/5" $((TOTAL - N5)) $N5
check "again: no client served its request itself" test "$(fallbacks)" -eq "$before"
check "again: no request or answer file left" no_client_files
check "all $TOTAL requests got an answer" test "$(cat "$WORK"/[1-5]/*.code | grep -vc '^000 ')" -eq "$TOTAL"
echo "     $TOTAL requests, $CONC at a time, in $((SECONDS - STARTED)) s"

finish
