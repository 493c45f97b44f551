#!/usr/bin/env bash
# Reads every corpus workbook that xlrd reads with our reader
# (bench_xls_bench) and with python3-xlrd (xlrd_bench.py) and prints both
# totals, the time per file and the ratio.
#
#   bench/xls_vs_xlrd.sh [BUILD_DIR]     (default: build)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build}"
corpus="${GRAFOLIO_CORPUS_DIR:-$root/../shared/corpus/xls}"
bench="$build/bench/bench_xls_bench"
[[ -x "$bench" ]] || bench="$build/bench_xls_bench"
[[ -x "$bench" ]] || { echo "no bench_xls_bench in $build (cmake -S . -B $build -DGRAFOLIO_BENCH=ON && cmake --build $build --target bench_xls_bench)" >&2; exit 2; }

ours_json="$(GRAFOLIO_CORPUS_DIR="$corpus" "$bench" --benchmark_filter=BM_ReadCorpus \
  --benchmark_repetitions=3 --benchmark_report_aggregates_only=true --benchmark_format=json 2>/dev/null)"
xlrd_json="$(python3 "$root/bench/xlrd_bench.py" "$corpus" 3)"

python3 - "$ours_json" "$xlrd_json" <<'PY'
import json, sys
ours = json.loads(sys.argv[1])
xlrd = json.loads(sys.argv[2])
run = next(b for b in ours["benchmarks"] if b.get("aggregate_name") == "min" or b["name"].endswith("_min")) \
    if any(b.get("aggregate_name") == "min" for b in ours["benchmarks"]) else \
    next(b for b in ours["benchmarks"] if b.get("aggregate_name") == "mean")
unit = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "s": 1.0}[run["time_unit"]]
ours_s = run["real_time"] * unit
files = int(run.get("files", xlrd["files"]))
print("workbooks read:        %d (every corpus file xlrd reads)" % files)
print("grafolio TXLSRead:     %8.1f ms total  %8.3f ms per file" % (ours_s * 1e3, ours_s * 1e3 / files))
print("python3-xlrd 1.2.0:    %8.1f ms total  %8.3f ms per file" % (xlrd["total_s"] * 1e3, xlrd["per_file_s"] * 1e3))
print("ratio xlrd / ours:     %8.1f x" % (xlrd["total_s"] / ours_s))
PY
