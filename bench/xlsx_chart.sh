#!/usr/bin/env bash
# The first chart of a large .xlsx, and of a large .xls, against the default
# chart from the built-in table, whole CGI processes side by side in one
# hyperfine run. The workbooks are generated into a scratch folder and removed
# afterwards: the .xlsx (about 100 MB, 1,000,000 rows on its first sheet,
# large shared strings) by bench/make_big_xlsx.py, the .xls (a 100 MB
# Workbook stream whose first sheet holds a small table and whose second the
# bulk) by tests/e2e/lib/big_workbook.py; the .xls chart is meant to cost at
# most twice the default chart. Prints the medians, their ratios, and each
# request's peak resident size, page faults and instructions.
# usage: bench/xlsx_chart.sh [BUILD_DIR] [RUNS]   (a release build: build/)
# Measured 2026-12-07 (bundled release build, 30 runs, shared 2-core machine),
# 112 MB workbook: default chart median 137.7 ms / 19.6 ms CPU, 6.3 MiB peak
# resident, 331 minor faults; .xlsx chart median 158.5 ms / 25.0 ms CPU
# (x1.15 wall, x1.27 CPU), 7.2 MiB peak resident, 518 minor faults.
set -euo pipefail
build=${1:-build}
runs=${2:-100}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/grafolio" "$work/grafolio"
python3 "$here/make_big_xlsx.py" "$work/big.xlsx" "${BIG_ROWS:-1000000}" "${BIG_MB:-100}"
python3 "$here/../tests/e2e/lib/big_workbook.py" "$work/big.xls" 100000000
echo "workbooks: $(stat -c %s "$work/big.xlsx") and $(stat -c %s "$work/big.xls") bytes"
export SERVER_SOFTWARE=bench REQUEST_METHOD=GET CGI_LOG_DIR=$work/log QUERY_STRING=
# Both answers must be charts (the GIF signature after the header).
QUERY_STRING= "$work/grafolio" | grep -aq GIF89a
QUERY_STRING=filename=big.xlsx "$work/grafolio" | grep -aq GIF89a
QUERY_STRING=filename=big.xls "$work/grafolio" | grep -aq GIF89a
hyperfine -N --warmup 5 --runs "$runs" --export-json "$work/result.json" \
  -n default-chart "env QUERY_STRING= $work/grafolio" \
  -n big-xlsx-chart "env QUERY_STRING=filename=big.xlsx $work/grafolio" \
  -n big-xls-chart "env QUERY_STRING=filename=big.xls $work/grafolio" >/dev/null
python3 - "$work/result.json" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
d = r["default-chart"]
cpu = lambda x: x["user"] + x["system"]
print(f"{'request':<16} {'median ms':>10} {'mean CPU ms':>12}")
for name, x in r.items():
    print(f"{name:<16} {x['median']*1000:>10.3f} {cpu(x)*1000:>12.3f}")
for name in ["big-xlsx-chart", "big-xls-chart"]:
    b = r[name]
    print(f"ratio {name} / default: median {b['median']/d['median']:.2f}, CPU {cpu(b)/cpu(d):.2f}")
PY
for q in "" "filename=big.xlsx" "filename=big.xls"; do
  rss=$( { QUERY_STRING=$q /usr/bin/time -f '%M %R' "$work/grafolio" >/dev/null; } 2>&1 | tail -1)
  ins=""
  if command -v perf >/dev/null; then
    ins=$( { QUERY_STRING=$q perf stat -x, -e instructions:u "$work/grafolio" >/dev/null; } 2>&1 | grep instructions | cut -d, -f1)
  fi
  echo "query '${q:-default}': peak resident ${rss%% *} KiB, minor page faults ${rss##* }, instructions ${ins:-n/a}"
done
