#!/usr/bin/env bash
# Dumps every workbook of the public corpus of today's formats (.xlsx,
# .xlsm, .ods, .fods) with our xls-dump in one process (xls-dump FILE...),
# side by side with the independent Python readers reading the same files in
# one interpreter (openpyxl read-only for OOXML, odfpy for ODF;
# bench/modern_peers.py), in one hyperfine run: all files, then OOXML and ODF
# apart. Compare the CPU times (User + System) as well as the wall times: on
# a loaded machine the wall times mostly measure waiting. Also counts the
# dump's instructions (perf stat, where the machine lets it) and the largest
# peak memory of one dump.
#
#   bench/modern_dump_vs_peers.sh [BUILD_DIR]     (default: build)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
corpus="$(cd "${GRAFOLIO_MODERN_CORPUS_DIR:-$root/../shared/corpus/modern}" && pwd)"
dump="$build/xls-dump"
[[ -x "$dump" ]] || { echo "no xls-dump in $build (cmake --build $build --target xls-dump)" >&2; exit 2; }
command -v hyperfine >/dev/null || { echo "hyperfine is missing (apt-get install hyperfine)" >&2; exit 2; }

ours() {  # ours GLOB...: the dump of every matching file in one process, output discarded
  local globs=("$@")
  echo "cd '$corpus' && '$dump' ${globs[*]} >/dev/null"
}
peers="python3 '$root/bench/modern_peers.py' '$corpus'"

table="$(mktemp)"
trap 'rm -f "$table"' EXIT
python3 "$root/bench/modern_peers.py" "$corpus"
hyperfine --runs 3 --style basic --export-markdown "$table" \
  -n "xls-dump, all"           "$(ours '*.xlsx' '*.xlsm' '*.ods' '*.fods')" \
  -n "openpyxl + odfpy, all"   "$peers all" \
  -n "xls-dump, xlsx/xlsm"     "$(ours '*.xlsx' '*.xlsm')" \
  -n "openpyxl, xlsx/xlsm"     "$peers xlsx" \
  -n "xls-dump, ods/fods"      "$(ours '*.ods' '*.fods')" \
  -n "odfpy, ods/fods"         "$peers ods"
cat "$table"

if command -v perf >/dev/null; then
  echo "--- instructions of the whole corpus dump (one process)"
  perf stat -e instructions:u -x, bash -c "$(ours '*.xlsx' '*.xlsm' '*.ods' '*.fods')" 2>&1 | tail -1 || true
fi
echo "--- largest peak resident size of one dump (KiB) and its file"
cd "$corpus"
for f in *.xlsx *.xlsm *.ods *.fods; do
  /usr/bin/time -f "%M $f" "$dump" "$f" 2>&1 >/dev/null | tail -1
done | sort -n | tail -1
