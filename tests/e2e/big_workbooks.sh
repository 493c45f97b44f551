#!/usr/bin/env bash
# Big files cost what they must, not their size in memory: a 1 GB file that
# is no workbook is refused from its first bytes, and a 100 MB workbook
# (generated here, also with its stream in scattered sectors) is read
# without holding it: every request stays below
# 64 MB resident (peak, /usr/bin/time -v). What charting its small first
# sheet costs against the default chart is bench/xlsx_chart.sh's to measure.
# Under the sanitizers (their shadow memory and quarantine, their slower
# start) only the answers are checked.
# ctest-timeout: 120
set -u
BUILD=$1
SRC=$2
source "$SRC/tests/e2e/lib/e2e.sh"
WORK=$(mktemp -d /tmp/grafolio-big.XXXXXX)
on_exit 'rm -rf "$WORK"'
cp "$BUILD/grafolio" "$WORK/grafolio"
export SERVER_SOFTWARE=e2e REQUEST_METHOD=GET CGI_LOG_DIR=$WORK/log
LIMIT_KB=$((64 * 1024))
measured=yes
grep -q '^GRAFOLIO_SANITIZE:BOOL=ON' "$BUILD/CMakeCache.txt" 2>/dev/null && measured=no
bounded() {  # bounded NAME CMD...: a check of a memory bound
  if [ "$measured" = yes ]; then check "$@"; else echo "skip $1 (sanitizer build)"; fi
}

truncate -s 1G "$WORK/sparse.xls"
python3 "$SRC/tests/e2e/lib/big_workbook.py" "$WORK/big.xls" 100000000
python3 "$SRC/tests/e2e/lib/big_workbook.py" "$WORK/small.xls" 100000
python3 "$SRC/tests/e2e/lib/big_workbook.py" "$WORK/scattered.xls" 100000000 scattered

run() {  # run NAME QUERY: answer in NAME.out, peak resident KB in NAME.rss
  QUERY_STRING=$2 timeout 60 /usr/bin/time -v -o "$WORK/$1.time" "$WORK/grafolio" >"$WORK/$1.out"
  sed -n 's/^\tMaximum resident set size (kbytes): //p' "$WORK/$1.time" >"$WORK/$1.rss"
}
below_limit() {
  local kb
  kb=$(cat "$WORK/$1.rss")
  echo "  $1: peak $((kb / 1024)) MB"
  [ -n "$kb" ] && [ "$kb" -lt "$LIMIT_KB" ]
}
gif_body() { python3 -c 'import sys; d=open(sys.argv[1],"rb").read(); sys.stdout.buffer.write(d[d.find(b"GIF89a"):])' "$1"; }
same_chart() {  # the answer is a GIF equal to the one for the small twin workbook
  grep -aq GIF89a "$WORK/$1.out" && cmp -s <(gif_body "$WORK/$1.out") <(gif_body "$WORK/$2.out")
}
log_has() { grep -qF -- "$1" "$WORK/log/grafolio.Log"; }

run sparse "filename=sparse.xls"
check "1 GB non-workbook: refused" log_has "Unhandled exception : File is not a Excel file"
bounded "1 GB non-workbook: below 64 MB" below_limit sparse

run small1 "filename=small.xls"
run big1 "filename=big.xls"
check "100 MB workbook, sheet 1: the sheet's chart" same_chart big1 small1
bounded "100 MB workbook, sheet 1: below 64 MB" below_limit big1
run small2 "filename=small.xls&sheet=2"
run big2 "filename=big.xls&sheet=2"
check "100 MB workbook, sheet 2 (its bulk): the sheet's chart" same_chart big2 small2
bounded "100 MB workbook, sheet 2 (its bulk): below 64 MB" below_limit big2
# The stream in scattered sectors cannot be read in place: it is put
# together in a scratch file, not in memory.
run scattered2 "filename=scattered.xls&sheet=2"
check "100 MB workbook in scattered sectors, sheet 2: the sheet's chart" same_chart scattered2 small2
bounded "100 MB workbook in scattered sectors, sheet 2: below 64 MB" below_limit scattered2
finish
