#!/usr/bin/env bash
# Whole CGI process timings, start-up to exit, side by side in one hyperfine
# run: /bin/true, a message-page request, the default chart request (2D and
# 3D) and gnuplot drawing the same 400 x 250 bar chart as a GIF. Prints each
# median (and mean CPU time) and the ratios against /bin/true and gnuplot, then
# the minor page faults per request (their count is the same on any machine,
# their cost is not: where faults are expensive they dominate). hyperfine -N cannot set
# a variable per command, so the requests run under env(1); "env /bin/true"
# runs too, and its extra cost over /bin/true is taken off those requests.
# usage: bench/cgi_process.sh [BUILD_DIR] [RUNS]   (a release build: build/)
set -euo pipefail
build=${1:-build}
runs=${2:-500}
if ! command -v gnuplot >/dev/null || ! command -v hyperfine >/dev/null || [ ! -x /usr/bin/time ]; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q gnuplot-nox hyperfine time >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/grafolio" "$work/grafolio"
font=/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf
# The default chart's table: five bars in darkening greens, grid, legend on the right.
cat >"$work/bars.dat" <<'DAT'
0 67 "sehr gut" 0x00FF00
1 58 "gut" 0x00F000
2 32 "befriedigend" 0x00E100
3 18 "ausreichend" 0x00D200
4 6 "mangelhaft" 0x00C300
DAT
cat >"$work/bars.gp" <<GP
set terminal gif size 400,250 font "$font" 8
set output "$work/gnuplot.gif"
set style fill solid 1.0 border -1
set boxwidth 0.7
set yrange [0:*]
set grid ytics
set key outside right
plot "$work/bars.dat" using 1:2:4:xtic(3) with boxes lc rgb variable title "Balken"
GP
export SERVER_SOFTWARE=bench REQUEST_METHOD=GET CGI_LOG_DIR=$work/log QUERY_STRING=
# Each command must do its work: a chart answer starts with the GIF
# signature after the header, the message page with HTML.
QUERY_STRING= "$work/grafolio" | grep -aq GIF89a
QUERY_STRING=filename=none.xls "$work/grafolio" | grep -aq '<html'
gnuplot "$work/bars.gp" && head -c 6 "$work/gnuplot.gif" | grep -q GIF8
hyperfine -N --warmup 20 --runs "$runs" --export-json "$work/result.json" \
  -n true "/bin/true" \
  -n env-true "env QUERY_STRING= /bin/true" \
  -n message-page "env QUERY_STRING=filename=none.xls $work/grafolio" \
  -n default-chart-2d "env QUERY_STRING= $work/grafolio" \
  -n default-chart-3d "env QUERY_STRING=3D=yes $work/grafolio" \
  -n gnuplot "gnuplot $work/bars.gp" >/dev/null
python3 - "$work/result.json" <<'PY'
import json, sys
runs = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
# Wall time medians, and the mean CPU time (user + system), which a busy
# machine disturbs less.
for title, value in [("median wall", lambda r: r["median"]), ("mean CPU", lambda r: r["user"] + r["system"])]:
    results = {name: value(r) for name, r in runs.items()}
    true, gnuplot = results["true"], results["gnuplot"]
    env = results["env-true"] - true
    print(f"{title}; env(1) start-up taken off the requests: {env*1000:.3f} ms")
    print(f"{'command':<18} {title + ' ms':>16} {'x /bin/true':>12} {'x gnuplot':>10}")
    for name in ["true", "message-page", "default-chart-2d", "default-chart-3d", "gnuplot"]:
        m = results[name] - (env if name.startswith(("message", "default")) else 0)
        print(f"{name:<18} {m*1000:>16.3f} {m/true:>12.2f} {m/gnuplot:>10.3f}")
PY
# Minor page faults of one process (the query set in the process itself, as
# env(1) would add its own): the median of 21 runs.
faults() {
  local query=$1
  shift
  for _ in $(seq 21); do
    QUERY_STRING=$query /usr/bin/time -f %R "$@" 2>&1 >/dev/null </dev/null | tail -n 1
  done | sort -n | sed -n 11p
}
true_faults=$(faults "" /bin/true)
echo "minor page faults per process (median of 21)"
printf '%-18s %8s %12s\n' command faults 'x /bin/true'
for entry in "true||/bin/true" "message-page|filename=none.xls|$work/grafolio" \
             "default-chart-2d||$work/grafolio" "default-chart-3d|3D=yes|$work/grafolio"; do
  IFS='|' read -r name query program <<<"$entry"
  n=$(faults "$query" "$program")
  awk -v name="$name" -v n="$n" -v t="$true_faults" 'BEGIN { printf "%-18s %8d %12.2f\n", name, n, n / t }'
done
