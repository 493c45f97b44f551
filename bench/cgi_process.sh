#!/usr/bin/env bash
# Whole CGI process timings, start-up to exit: a message-page request and the
# default chart request, side by side with /bin/true (median of many runs).
# usage: bench/cgi_process.sh [BUILD_DIR]   (a release build: build/)
set -euo pipefail
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/grafolio" "$work/grafolio"
export SERVER_SOFTWARE=bench REQUEST_METHOD=GET CGI_LOG_DIR=$work/log
hyperfine -N --warmup 20 --runs 300 --export-json "$work/result.json" \
  -n true "/bin/true" \
  -n message-page "env QUERY_STRING=filename=none.xls $work/grafolio" \
  -n default-chart "env QUERY_STRING= $work/grafolio" \
  -n true-via-env "env QUERY_STRING= /bin/true" >/dev/null
python3 - "$work/result.json" <<'PY'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
base = results["true-via-env"]["median"]
print(f"{'command':<14} {'median ms':>10} {'minus env+/bin/true ms':>24}")
for name in ["true", "true-via-env", "message-page", "default-chart"]:
    m = results[name]["median"]
    print(f"{name:<14} {m*1000:>10.3f} {(m-base)*1000:>24.3f}")
PY
