#!/usr/bin/env bash
# xls-compare.sh FILE...: compares what our reader reports (xls-dump) with
# what xlrd reads (the corpus oracle) for each workbook, masking the parts
# that differ by design: the #biff line (xlrd's version numbers differ from
# our codes), the row and column counts of #sheet lines, and the date/number
# cell type (we do not interpret number formats).
#
# Uses FILE.oracle.tsv when it exists, else runs ../shared/tools/xls-oracle.
# XLS_DUMP names the dump program (default: build/xls-dump of this tree).
# Prints one line per file: "same", "differs" (with the diff), or
# "oracle-error" (xlrd could not read the file; our dump must still end
# cleanly). Exit status 1 when any file differs or our dump crashed.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
dump=${XLS_DUMP:-$here/build/xls-dump}
oracle_tool=${XLS_ORACLE:-$here/../shared/tools/xls-oracle}
status=0
mask() {
  awk -F'\t' 'BEGIN { OFS = "\t" }
    /^#biff/ { next }
    /^#sheet/ { print $1, $2, $3; next }
    { if ($4 == "date") $4 = "number"; print }'
}
for f in "$@"; do
  if [ -f "$f.oracle.tsv" ]; then oracle=$(cat "$f.oracle.tsv"); else oracle=$("$oracle_tool" "$f"); fi
  ours=$(timeout 60 "$dump" "$f" 2>/dev/null); rc=$?
  if [ $rc -gt 1 ]; then
    echo "CRASH ($rc) $f"; status=1; continue
  fi
  case "$oracle" in
    "#error"*) echo "oracle-error $f"; continue ;;
  esac
  if d=$(diff <(printf '%s\n' "$oracle" | mask) <(printf '%s\n' "$ours" | mask)); then
    echo "same $f"
  else
    echo "differs $f"; printf '%s\n' "$d" | head -20; status=1
  fi
done
exit $status
