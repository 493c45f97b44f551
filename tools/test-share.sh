#!/usr/bin/env bash
# Prints the lines of test code, of production code and the tests' share of
# the production code (source and script files: *.cpp, *.h, *.sh, *.py).
# Production is every folder the programs are built from, whatever its name
# (so moving code between folders does not change the count).
set -euo pipefail
cd "$(dirname "$0")/.."
count() {
  find "$@" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.sh' -o -name '*.py' \) -print0 |
    xargs -0 cat | wc -l
}
prod_dirs=()
for d in */; do
  d=${d%/}
  case $d in tests|tools|bench|build*) continue ;; esac
  prod_dirs+=("$d")
done
tests=$(count tests)
prod=$(count "${prod_dirs[@]}")
echo "tests:      $tests lines"
echo "production: $prod lines (${prod_dirs[*]})"
awk -v t="$tests" -v p="$prod" 'BEGIN { printf "share:      %.1f %%\n", 100 * t / p }'
