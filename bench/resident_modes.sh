#!/usr/bin/env bash
# The default chart through lighttpd, in one run: as plain CGI, handed to the
# resident server, and through FastCGI (mod_fastcgi), at concurrency 1 and 8.
# Prints requests per second and the median round trip of each.
# usage: bench/resident_modes.sh [BUILD_DIR] [REQUESTS]   (a release build: build/)
set -u
BUILD=${1:-build}
REQUESTS=${2:-400}
SRC=$(cd "$(dirname "$0")/.." && pwd)
source "$SRC/tests/e2e/lib/lighttpd.sh"
source "$SRC/tests/e2e/lib/resident.sh"
WORK=$(mktemp -d /tmp/grafolio-bench.XXXXXX)
RESIDENT_PID=
cleanup() {
  [ -n "$RESIDENT_PID" ] && kill "$RESIDENT_PID" 2>/dev/null && wait "$RESIDENT_PID" 2>/dev/null
  stop_fastcgi_servers
  stop_server
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' TERM INT
start_server >/dev/null || exit 1
start_lighttpd_fastcgi || exit 1

# load URL CONCURRENCY: REQUESTS requests of URL, CONCURRENCY at a time.
load() {
  python3 - "$1" "$2" "$REQUESTS" <<'PY'
import http.client, statistics, sys, threading, time, urllib.parse
url, conc, total = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
u = urllib.parse.urlsplit(url)
times, lock, left = [], threading.Lock(), [total]
def worker():
    while True:
        with lock:
            if left[0] == 0: return
            left[0] -= 1
        start = time.perf_counter()
        c = http.client.HTTPConnection(u.hostname, u.port, timeout=60)
        c.request("GET", u.path)
        r = c.getresponse(); body = r.read(); c.close()
        if r.status != 200 or not body.startswith(b"GIF89a"): raise SystemExit("bad answer")
        with lock: times.append(time.perf_counter() - start)
left[0] = 10 * conc; ts = [threading.Thread(target=worker) for _ in range(conc)]; [t.start() for t in ts]; [t.join() for t in ts]
times.clear(); left[0] = total
begin = time.perf_counter()
ts = [threading.Thread(target=worker) for _ in range(conc)]; [t.start() for t in ts]; [t.join() for t in ts]
elapsed = time.perf_counter() - begin
print(f"{total / elapsed:.1f} {statistics.median(times) * 1000:.2f}")
PY
}

declare -A RESULT
for c in 1 8; do RESULT[plain,$c]=$(load "$BASE_URL" $c); done
(cd "$CGI_DIR" && exec env -i PATH="$PATH" ./grafolio) &
RESIDENT_PID=$!
for _ in $(seq 1 100); do [ -s "$CGI_DIR/Temp/grafolio_S.lock" ] && break; sleep 0.05; done
for c in 1 8; do RESULT[resident,$c]=$(load "$BASE_URL" $c); done
for c in 1 8; do RESULT[fastcgi,$c]=$(load "$FCGI_URL" $c); done
served_itself=$(grep -c "served by the CGI process itself" "$CGI_DIR/Log/grafolio.Log" 2>/dev/null)

printf "%-10s %5s %10s %12s %14s %16s\n" mode conc "req/s" "median ms" "req/s vs CGI" "median vs CGI"
for mode in plain resident fastcgi; do
  for c in 1 8; do
    read -r rps med <<<"${RESULT[$mode,$c]}"
    read -r prps pmed <<<"${RESULT[plain,$c]}"
    printf "%-10s %5s %10s %12s %14s %16s\n" "$mode" "$c" "$rps" "$med" \
      "$(python3 -c "print(f'{$rps/$prps:.2f}x')")" "$(python3 -c "print(f'{$med/$pmed:.2f}x')")"
  done
done
echo "requests the CGI processes served themselves while the server ran: ${served_itself:-0}"
