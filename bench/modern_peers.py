#!/usr/bin/env python3
"""Reads every workbook of a corpus folder of today's formats the way the
independent readers do, touching every cell value: .xlsx/.xlsm with openpyxl
(load_workbook(read_only=True, data_only=True), iter_rows over every sheet),
.ods/.fods with odfpy (load, then every table:table-cell's attributes and
text). The peer side of bench/modern_dump_vs_peers.sh.

Usage: modern_peers.py CORPUS_DIR [xlsx|ods|all]
Prints the number of files and cells read, and of files a reader refused
(a refused file costs the peer less than a read one).
"""
import os
import sys
import warnings

deb = "/usr/lib/python3/dist-packages"
if deb not in sys.path:
    sys.path.insert(0, deb)
import openpyxl  # noqa: E402
from odf.opendocument import load  # noqa: E402
from odf.namespaces import TABLENS, OFFICENS  # noqa: E402

XLSX = (".xlsx", ".xlsm")
ODS = (".ods", ".fods")


def read_xlsx(path):
    cells = 0
    wb = openpyxl.load_workbook(path, read_only=True, data_only=True)
    for ws in wb.worksheets:
        for row in ws.iter_rows():
            for cell in row:
                if cell.value is not None:
                    cells += 1
    wb.close()
    return cells


def cell_text(node):
    out = []
    for ch in node.childNodes:
        if ch.nodeType == ch.TEXT_NODE:
            out.append(ch.data)
        elif ch.nodeType == ch.ELEMENT_NODE:
            out.append(cell_text(ch))
    return "".join(out)


def read_ods(path):
    cells = 0
    doc = load(path)
    stack = [doc.spreadsheet]
    while stack:
        node = stack.pop()
        for ch in node.childNodes:
            if ch.nodeType != ch.ELEMENT_NODE:
                continue
            if ch.qname == (TABLENS, "table-cell"):
                if ch.attributes.get((OFFICENS, "value-type")) or cell_text(ch):
                    cells += 1
            else:
                stack.append(ch)
    return cells


def main():
    corpus = sys.argv[1]
    which = sys.argv[2] if len(sys.argv) > 2 else "all"
    warnings.simplefilter("ignore")
    files = cells = failed = 0
    for name in sorted(os.listdir(corpus)):
        path = os.path.join(corpus, name)
        if name.endswith(XLSX) and which in ("xlsx", "all"):
            reader = read_xlsx
        elif name.endswith(ODS) and which in ("ods", "all"):
            reader = read_ods
        else:
            continue
        files += 1
        try:
            cells += reader(path)
        except Exception:  # noqa: BLE001 - a file the peer cannot read
            failed += 1
    print("%d files, %d cells, %d refused" % (files, cells, failed))


if __name__ == "__main__":
    main()
