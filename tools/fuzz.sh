#!/usr/bin/env bash
# Builds a libFuzzer target from tools/fuzz/<TARGET>.cpp and runs it for a
# bounded time, seeded with the .xls corpus and the kept fuzz finds.
#
#   tools/fuzz.sh TARGET SECONDS [libFuzzer options...]
#   tools/fuzz.sh --list
#
# TARGET is the file stem (compound_file_fuzz). The target is compiled with
# clang++ -fsanitize=fuzzer,address,undefined together with platform/*.cpp
# (and xls/*.cpp when it includes an xls/ header, workbook/*.cpp with minizip,
# expat and zlib when it includes a workbook/ header, and for each http/,
# gateways/ or resident/ header it includes, that header's .cpp and
# http/http_fields.cpp); no CMake needed.
# Builds and the growing corpus live in build-fuzz/ (FUZZ_BUILD_DIR). Finds go
# to build-fuzz/<TARGET>-finds/; keep each one as a test fixture in
# tests/fixtures/fuzz/<TARGET without _fuzz>/.
# Environment: FUZZ_MAX_LEN (default 262144), FUZZ_BUILD_DIR, GRAFOLIO_CORPUS_DIR.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
fuzzdir="$root/tools/fuzz"

if [[ "${1:-}" == "--list" ]]; then
  for f in "$fuzzdir"/*.cpp; do basename "$f" .cpp; done
  exit 0
fi
if (($# < 2)) || ! [[ "$2" =~ ^[0-9]+$ ]]; then
  echo "usage: $0 TARGET SECONDS [libFuzzer options...] | $0 --list" >&2
  exit 2
fi
target="$1"
seconds="$2"
shift 2
src="$fuzzdir/$target.cpp"
[[ -f "$src" ]] || { echo "no fuzz target $src (try --list)" >&2; exit 2; }

out="${FUZZ_BUILD_DIR:-$root/build-fuzz}"
corpus_dir="${GRAFOLIO_CORPUS_DIR:-$root/../shared/corpus/xls}"
mkdir -p "$out/obj"

cxx="${CXX_FUZZ:-clang++}"
pkg="cairo cairo-ft freetype2"
common=(-std=c++20 -g -O1 -fno-omit-frame-pointer -I"$root" $(pkg-config --cflags $pkg))

# The library sources the target needs.
sources=("$root"/platform/*.cpp)
libs=()
if grep -q '#include "\(xls\|workbook\)/' "$src"; then sources+=("$root"/xls/*.cpp); fi
if grep -q '#include "workbook/' "$src"; then
  sources+=("$root"/workbook/*.cpp)
  libs+=(-lminizip -lexpat -lz)
fi
for header in $(grep -o '#include "\(http\|gateways\|resident\)/[a-z_]*\.h"' "$src" | sed 's/.*"\(.*\)\.h"/\1/'); do
  [[ "$header" != http/http_fields && -f "$root/$header.cpp" ]] && sources+=("$root/$header.cpp")
done
if grep -q '#include "\(http\|gateways\|resident\)/' "$src"; then sources+=("$root/http/http_fields.cpp"); fi

# Compile each source once; again only when it or any header is newer.
objects=()
for s in "${sources[@]}"; do
  rel="${s#"$root"/}"
  obj="$out/obj/${rel//\//_}.o"
  objects+=("$obj")
  if [[ ! -f "$obj" || "$s" -nt "$obj" ]] ||
     [[ -n "$(find "$root/platform" "$root/xls" "$root/workbook" "$root/http" "$root/gateways" "$root/resident" -name '*.h' -newer "$obj" -print -quit 2>/dev/null)" ]]; then
    echo "compiling $rel"
    "$cxx" "${common[@]}" -fsanitize=fuzzer-no-link,address,undefined -c "$s" -o "$obj"
  fi
done
echo "linking $target"
"$cxx" "${common[@]}" -fsanitize=fuzzer,address,undefined "$src" "${objects[@]}" \
  $(pkg-config --libs $pkg) "${libs[@]}" -pthread -o "$out/$target"

# Seeds: the corpus workbooks and the kept finds, copied so that libFuzzer
# never writes into the shared corpus. New inputs it finds stay in
# $out/$target-corpus for the next run.
seeds="$(mktemp -d)"
trap 'rm -rf "$seeds"' EXIT
if [[ -d "$corpus_dir" ]]; then
  find "$corpus_dir" -maxdepth 1 -name '*.xls' -exec cp {} "$seeds/" \;
fi
# Targets of today's formats start from the modern corpus's small files.
if grep -q '#include "workbook/' "$src" && [[ -d "$root/../shared/corpus/modern" ]]; then
  find "$root/../shared/corpus/modern" -maxdepth 1 -type f \( -name '*.xls[xm]' -o -name '*.ods' -o -name '*.fods' \) \
    -size -64k -exec cp {} "$seeds/" \;
fi
kept="$root/tests/fixtures/fuzz/${target%_fuzz}"
if [[ -d "$kept" ]]; then cp "$kept"/* "$seeds/" 2>/dev/null || true; fi
mkdir -p "$out/$target-corpus" "$out/$target-finds"

echo "running $target for $seconds s ($(find "$seeds" -type f | wc -l) seeds)"
status=0
(cd "$out" && "./$target" "$out/$target-corpus" "$seeds" \
  -max_total_time="$seconds" -max_len="${FUZZ_MAX_LEN:-262144}" -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$out/$target-finds/" -print_final_stats=1 "$@") || status=$?
finds=$(find "$out/$target-finds" -type f | wc -l)
echo "exit status $status; $finds find(s) in $out/$target-finds"
exit "$status"
