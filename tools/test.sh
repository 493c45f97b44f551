#!/usr/bin/env bash
# Builds the project twice and runs the tests:
#  - the AddressSanitizer/UBSan build (drawing stack linked shared) builds
#    everything and runs every unit and end-to-end test;
#  - the plain build (the bundled programs a web server starts) builds only
#    the programs and tools and runs the end-to-end tests against them.
# Benchmarks are built only when asked (-DGRAFOLIO_BENCH=ON).
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DGRAFOLIO_SANITIZE=ON >/dev/null
cmake --build build-asan -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
echo "== end-to-end tests (plain build)"
ctest --test-dir build --output-on-failure -j "$jobs" -L e2e
echo "== all tests (sanitizer build)"
ctest --test-dir build-asan --output-on-failure -j "$jobs"
