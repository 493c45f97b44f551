#!/usr/bin/env bash
# The main job: builds the program and serves demo requests through it, as a
# web server would start it, and says where the answers went.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target grafolio
out=build/demo
rm -rf "$out"
mkdir -p "$out"
run() {  # run NAME QUERY: one CGI request, answer kept as NAME.http
  SERVER_SOFTWARE=demo QUERY_STRING="$2" REQUEST_METHOD=GET CGI_LOG_DIR="$PWD/$out" build/grafolio >"$out/$1.http"
  echo "  $out/$1.http  ($(wc -c <"$out/$1.http") bytes)  ?$2"
}
echo "Answers of the demo requests:"
run default ""
run english "filename=testenglish"
run missing "filename=none.xls"
echo "Request log: $out/grafolio.Log"
