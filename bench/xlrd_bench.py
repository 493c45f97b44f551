#!/usr/bin/env python3
"""Times xlrd's open_workbook over the corpus workbooks that xlrd reads (the
same set bench/xls_bench.cpp reads): all sheets, every cell loaded.

Usage: xlrd_bench.py [CORPUS_DIR] [REPEATS]
Prints one JSON object: files, repeats, best total seconds, seconds per file.
"""
import json
import os
import sys
import time

deb = "/usr/lib/python3/dist-packages"
if os.path.isdir(os.path.join(deb, "xlrd")) and deb not in sys.path:
    sys.path.insert(0, deb)
import xlrd  # noqa: E402


def files_of(corpus):
    out = []
    for name in sorted(os.listdir(corpus)):
        if not name.endswith(".xls"):
            continue
        path = os.path.join(corpus, name)
        with open(path + ".oracle.tsv") as f:
            if f.readline().startswith("#biff"):
                out.append(path)
    return out


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    corpus = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "shared", "corpus", "xls")
    repeats = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    files = files_of(corpus)
    best = None
    with open(os.devnull, "w") as devnull:
        for _ in range(repeats):
            start = time.perf_counter()
            for path in files:
                book = xlrd.open_workbook(path, logfile=devnull, verbosity=0,
                                          formatting_info=False, on_demand=False)
                book.release_resources()
            took = time.perf_counter() - start
            best = took if best is None else min(best, took)
    print(json.dumps({"files": len(files), "repeats": repeats, "total_s": best,
                      "per_file_s": best / len(files)}))


if __name__ == "__main__":
    main()
