#!/usr/bin/env python3
"""Times python3-xlwt writing the cells bench/xls_write_bench.cpp writes:
100,000 numbers (10,000 rows of 10 columns) and 10,000 formulas, one file
(BIFF8). Best of REPEATS runs.

Usage: xlwt_bench.py [REPEATS]
Prints one JSON object: cells, repeats, best seconds, cells per second.
"""
import json
import os
import sys
import tempfile
import time

deb = "/usr/lib/python3/dist-packages"
if os.path.isdir(os.path.join(deb, "xlwt")) and deb not in sys.path:
    sys.path.insert(0, deb)
import xlwt  # noqa: E402

ROWS, COLS = 10000, 10


def write(path):
    book = xlwt.Workbook()
    sheet = book.add_sheet("Sheet1")
    for r in range(ROWS):
        row = sheet.row(r)
        for c in range(COLS):
            row.write(c, r * 0.5 + c)
        n = str(r + 1)
        row.write(COLS, xlwt.Formula("SUM(A" + n + ":J" + n + ")*2+ROUND(A" + n + "/3,2)"))
        if r % 1000 == 999:
            sheet.flush_row_data()
    book.save(path)


repeats = int(sys.argv[1]) if len(sys.argv) > 1 else 3
best = None
with tempfile.TemporaryDirectory() as folder:
    for _ in range(repeats):
        start = time.perf_counter()
        write(os.path.join(folder, "xlwt.xls"))
        took = time.perf_counter() - start
        best = took if best is None else min(best, took)
cells = ROWS * (COLS + 1)
print(json.dumps({"cells": cells, "repeats": repeats, "best_s": best, "cells_per_s": cells / best}))
