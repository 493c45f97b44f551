#!/usr/bin/env bash
# Writes 100,000 number cells and 10,000 formulas with our writer (BIFF5,
# bench_xls_write_bench) and with python3-xlwt (BIFF8, xlwt_bench.py) and
# prints cells per second of both and the ratio.
#
#   bench/xls_write_vs_xlwt.sh [BUILD_DIR]     (default: build)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build}"
bench="$build/bench/bench_xls_write_bench"
[[ -x "$bench" ]] || bench="$build/bench_xls_write_bench"
[[ -x "$bench" ]] || { echo "no bench_xls_write_bench in $build (cmake --build $build --target bench_xls_write_bench)" >&2; exit 2; }

ours_json="$("$bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true --benchmark_format=json 2>/dev/null)"
xlwt_json="$(/usr/bin/python3 "$root/bench/xlwt_bench.py" 3)"

/usr/bin/python3 - "$ours_json" "$xlwt_json" <<'PY'
import json, sys
ours = json.loads(sys.argv[1])
xlwt = json.loads(sys.argv[2])
run = next(b for b in ours["benchmarks"] if b.get("aggregate_name") == "mean")
unit = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "s": 1.0}[run["time_unit"]]
ours_s = run["real_time"] * unit
cells = xlwt["cells"]
print("cells written:          %d (100,000 numbers, 10,000 formulas)" % cells)
print("grafolio TXLSWrite BIFF5: %8.1f ms  %10.0f cells/s" % (ours_s * 1e3, cells / ours_s))
print("python3-xlwt 1.3 BIFF8:   %8.1f ms  %10.0f cells/s" % (xlwt["best_s"] * 1e3, xlwt["cells_per_s"]))
print("ratio ours / xlwt:        %8.1f x" % (xlwt["best_s"] / ours_s))
PY
