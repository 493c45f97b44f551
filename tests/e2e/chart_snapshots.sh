#!/usr/bin/env bash
# Reviewed chart snapshots as regression fixtures: each query of
# tests/fixtures/snapshots/cases.tsv must still draw exactly the pixels of its
# reviewed PNG. After an intended change of the drawing, look at the new
# pictures and replace the fixtures.
# ctest-timeout: 90
set -u
BUILD=$1
SRC=$2
source "$SRC/tests/e2e/lib/lighttpd.sh"
WORK=$(mktemp -d /tmp/grafolio-snap.XXXXXX)
on_exit 'rm -rf "$WORK"'
FIX=$SRC/tests/fixtures/snapshots

while IFS=$'\t' read -r name query; do
  "$BUILD/chart-snapshot" "$query" "$WORK/$name.png" "$SRC/tests/fixtures/workbooks" >/dev/null
  check "snapshot $name (?$query)" same_pixels "$WORK/$name.png" "$FIX/$name.png"
done <"$FIX/cases.tsv"
finish
