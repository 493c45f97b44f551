#!/usr/bin/env bash
# Workbooks written by xls-write read back by our reader, xlrd, LibreOffice
# and Gnumeric; refusals of bad input (tests/e2e/xls_write_check.py).
set -u
BUILD=$1
SRC=$2
WORK=$(mktemp -d /tmp/grafolio-e2e-xlswrite.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
trap 'exit 1' TERM INT
timeout 900 /usr/bin/python3 "$SRC/tests/e2e/xls_write_check.py" "$BUILD" "$SRC" "$WORK"
