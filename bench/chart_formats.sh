#!/usr/bin/env bash
# The three answer formats of one chart side by side, whole CGI process
# (start-up to exit) in one hyperfine run: GIF (the default), SVG (the same
# chart on the vector surface) and PNG (the GIF's pixels through libpng), for
# a bar chart, a 3D pie and a rotated 3D line chart. Prints each median, the
# ratio of SVG and PNG to the GIF of the same chart, user-space instructions
# per answer (perf, when the kernel lets us count), page faults and peak
# memory, and the answer sizes of all three formats for every style, flat, 3D
# and 3D rotated.
# usage: bench/chart_formats.sh [BUILD_DIR] [RUNS]   (a release build: build/)
set -euo pipefail
build=${1:-build}
runs=${2:-200}
command -v hyperfine >/dev/null || { echo "needs hyperfine" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/grafolio" "$work/grafolio"
export SERVER_SOFTWARE=bench REQUEST_METHOD=GET CGI_LOG_DIR=$work/log QUERY_STRING=
charts=("bar|style=0" "pie-3d|style=3&3D=yes" "line-3d-rotated|style=4&3D=yes&3Dorthogonal=no&3DRotation=30&3DElevation=330")
args=()
for chart in "${charts[@]}"; do
  for format in gif svg png; do
    query="${chart#*|}&format=$format"
    # Each command must do its work: the answer carries its content type.
    QUERY_STRING=$query "$work/grafolio" | head -c 200 | grep -aq "content-type:image/$format" || {
      echo "?$query gives no $format answer" >&2
      exit 1
    }
    args+=(-n "${chart%%|*} $format" "env QUERY_STRING=$query $work/grafolio")
  done
done
hyperfine -N --warmup 10 --runs "$runs" --export-json "$work/result.json" "${args[@]}" >/dev/null
python3 - "$work/result.json" <<'PY'
import json, statistics, sys
results = {r['command']: r for r in json.load(open(sys.argv[1]))['results']}
print(f"{'answer':28} {'median ms':>10} {'user+sys ms':>12} {'vs GIF':>7}")
for name, r in results.items():
    chart, fmt = name.rsplit(' ', 1)
    gif = statistics.median(results[chart + ' gif']['times'])
    med = statistics.median(r['times'])
    print(f"{name:28} {med * 1000:10.2f} {(r['user'] + r['system']) * 1000:12.2f} {med / gif:7.2f}")
PY
if command -v perf >/dev/null && perf stat -e instructions:u -x, true >/dev/null 2>&1; then
  echo
  echo "user-space instructions per answer (perf stat, mean of 20):"
  for chart in "${charts[@]}"; do
    for format in gif svg png; do
      n=$(QUERY_STRING="${chart#*|}&format=$format" perf stat -r 20 -x, -e instructions:u "$work/grafolio" 2>&1 >/dev/null |
        awk -F, '/instructions/ { print $1 }')
      printf '%-28s %12s\n' "${chart%%|*} $format" "$n"
    done
  done
fi
if [ -x /usr/bin/time ]; then
  echo
  echo "minor page faults and peak resident KiB per answer (GNU time):"
  for chart in "${charts[@]}"; do
    for format in gif svg png; do
      printf '%-28s %s\n' "${chart%%|*} $format" \
        "$(QUERY_STRING="${chart#*|}&format=$format" /usr/bin/time -f '%R faults %M KiB' "$work/grafolio" 2>&1 >/dev/null)"
    done
  done
fi
echo
echo "answer body sizes in bytes (400 x 250, testdeutsch):"
printf '%-60s %8s %8s %8s\n' query gif svg png
for style in 0 1 2 3 4 5 6; do
  for view in "" "&3D=yes" "&3D=yes&3Dorthogonal=no&3DRotation=30&3DElevation=330"; do
    sizes=()
    for format in gif svg png; do
      sizes+=("$(QUERY_STRING="style=$style$view&format=$format" "$work/grafolio" | sed '1,/^\r$/d' | wc -c)")
    done
    printf '%-60s %8s %8s %8s\n' "style=$style$view" "${sizes[@]}"
  done
done
