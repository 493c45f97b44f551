#!/usr/bin/env bash
# Writes tools/hot-functions.txt: the code sections of the functions that the
# CGI program runs for the requests of bench/cgi_process.sh (a message page,
# the default chart flat and in 3D) and for a chart of every style, as
# callgrind counts them. The bundled link (CMakeLists.txt) lays these
# sections out first and side by side, so that a request touches a few pages
# of code instead of pages all over the program. Functions the requests run
# most come first: those every request runs (start-up, the engine, the
# message page), then those of charts.
# usage: tools/hot-functions.sh [BUILD_DIR]   (a bundled build: build/)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
command -v valgrind >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -q valgrind >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$build/grafolio" "$work/grafolio"
queries=("filename=none.xls" "" "3D=yes")
for style in 1 2 3 4 5 6; do queries+=("style=$style" "style=$style&3D=yes"); done
n=0
for q in "${queries[@]}"; do
  SERVER_SOFTWARE=hot-functions REQUEST_METHOD=GET QUERY_STRING=$q CGI_LOG_DIR=$work/log \
    valgrind -q --tool=callgrind --demangle=no --callgrind-out-file="$work/run.$n" "$work/grafolio" >/dev/null
  n=$((n + 1))
done
python3 - "$work/grafolio" "$work"/run.* >"$here/hot-functions.txt" <<'PY'
import re, sys
program, runs = sys.argv[1], sys.argv[2:]
seen = {}  # function -> (requests that run it, first request, order of first call)
for r, path in enumerate(runs):
    objects, names, obj, mine = {}, {}, None, set()
    for line in open(path):
        m = re.match(r'(c?)(ob|fn|fl|fi|fe)=\((\d+)\)(?: (.*))?$', line.rstrip('\n'))
        if not m:
            continue
        called, kind, ident, name = m.groups()
        if kind == 'ob':
            if name is not None:
                objects[ident] = name
            if not called:
                obj = objects.get(ident)
        elif kind == 'fn':
            if name is not None:
                names[ident] = name
            if not called and obj == program:
                mine.add(names[ident])
    for f in mine:
        count, first, order = seen.get(f, (0, r, len(seen)))
        seen[f] = (count + 1, first, order)
for f in sorted((f for f in seen if re.fullmatch(r'[A-Za-z_][A-Za-z0-9_.$]*', f)), key=lambda f: (seen[f][1], -seen[f][0], f)):
    section = '.text.startup.' if f.startswith('_GLOBAL__sub_I_') else '.text.'
    print(section + f)
    # A complete constructor or destructor (C1, D1) is usually an alias of
    # the base one (C2, D2), whose name the section carries.
    alias = re.sub(r'([CD])1(?=[EIB])', r'\g<1>2', f, count=1)
    if alias != f:
        print(section + alias)
PY
echo "$(wc -l <"$here/hot-functions.txt") sections in $here/hot-functions.txt"
