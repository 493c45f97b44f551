#!/usr/bin/env bash
# What a cache validator saves, whole CGI processes side by side in one
# hyperfine run: the message page (the cheapest answer there was), a
# workbook chart and a test-table chart answered in full, the same two
# answered 304 Not Modified (If-None-Match with their ETag; and
# If-Modified-Since), and HEAD. Then the minor page faults per process
# (/usr/bin/time %R, mean of 20), user-space instructions (perf stat; "n/a"
# where the machine has no counter for them) and the answer's bytes.
# usage: bench/conditional_request.sh [BUILD_DIR] [RUNS]   (a release build: build/)
set -euo pipefail
build=${1:-build}
runs=${2:-300}
src=$(cd "$(dirname "$0")/.." && pwd)
command -v hyperfine >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -q hyperfine >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/grafolio" "$work/grafolio"
cp "$src/tests/fixtures/workbooks/obst.xls" "$work/"
export SERVER_SOFTWARE=bench REQUEST_METHOD=GET CGI_LOG_DIR=$work/log
book="filename=obst.xls&style=3&3D=yes"
table="filename=testenglish"
tag() { QUERY_STRING=$1 "$work/grafolio" | grep -a '^ETag:' | cut -d: -f2 | tr -d '\r'; }
book_tag=$(tag "$book")
table_tag=$(tag "$table")
modified=$(QUERY_STRING=$book "$work/grafolio" | grep -a '^Last-Modified:' | cut -d: -f2- | tr -d '\r')
# Each command must do its work.
QUERY_STRING=filename=none.xls "$work/grafolio" | grep -aq '<html'
QUERY_STRING=$book HTTP_IF_NONE_MATCH=$book_tag "$work/grafolio" | grep -aq '^HTTP/1.1 304 '
QUERY_STRING=$table HTTP_IF_NONE_MATCH=$table_tag "$work/grafolio" | grep -aq '^HTTP/1.1 304 '
QUERY_STRING=$book HTTP_IF_MODIFIED_SINCE=$modified "$work/grafolio" | grep -aq '^HTTP/1.1 304 '
QUERY_STRING=$book "$work/grafolio" | grep -aq GIF89a

# name|variables of the request, as shell assignments
commands=(
  "message-page|QUERY_STRING=filename=none.xls"
  "workbook-chart-200|QUERY_STRING='$book'"
  "workbook-chart-304-etag|QUERY_STRING='$book' HTTP_IF_NONE_MATCH='$book_tag'"
  "workbook-chart-304-date|QUERY_STRING='$book' HTTP_IF_MODIFIED_SINCE='$modified'"
  "workbook-chart-head|QUERY_STRING='$book' REQUEST_METHOD=HEAD"
  "table-chart-200|QUERY_STRING=$table"
  "table-chart-304-etag|QUERY_STRING=$table HTTP_IF_NONE_MATCH='$table_tag'"
)
# Through the shell (hyperfine takes its start-up off every command), so
# that the date's blanks and the tag's quotes arrive as they are.
args=()
for c in "${commands[@]}"; do args+=(-n "${c%%|*}" "${c#*|} $work/grafolio"); done
hyperfine --warmup 20 --runs "$runs" --export-json "$work/result.json" "${args[@]}" >/dev/null

declare -A faults instructions bytes
for c in "${commands[@]}"; do
  name=${c%%|*}
  total=0
  for _ in $(seq 1 20); do
    f=$( { eval "${c#*|} /usr/bin/time -f %R $work/grafolio" >/dev/null; } 2>&1 | tail -1)
    total=$((total + f))
  done
  faults[$name]=$((total / 20))
  bytes[$name]=$(eval "${c#*|} $work/grafolio" | wc -c)
  instructions[$name]=$(eval "${c#*|} perf stat -x, -e instructions:u -r 20 $work/grafolio" 2>&1 >/dev/null |
    awk -F, '/instructions/ && $1 ~ /^[0-9]+$/ {print $1}' || true)
done
python3 - "$work/result.json" "$(for c in "${commands[@]}"; do n=${c%%|*}; echo "$n ${faults[$n]} ${instructions[$n]:-n/a} ${bytes[$n]}"; done)" <<'PY'
import json, sys
runs = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
counts = {line.split()[0]: line.split()[1:] for line in sys.argv[2].splitlines()}
page = runs["message-page"]
print(f"{'request':<26} {'median ms':>10} {'CPU ms':>8} {'x page':>7} {'minflt':>7} {'instr (user)':>13} {'bytes':>7}")
for name, r in runs.items():
    cpu = r["user"] + r["system"]
    faults, instr, size = counts[name]
    print(f"{name:<26} {r['median']*1000:>10.3f} {cpu*1000:>8.3f} {r['median']/page['median']:>7.2f} "
          f"{faults:>7} {instr:>13} {size:>7}")
PY
