#!/usr/bin/env python3
"""Writes a large .xlsx for the chart benchmark, streaming (never holding the
file): sheet 1 has ROWS rows (labels in row 1, whole numbers in row 2, then a
text and two numbers per row) and the shared strings are many long random
texts, so the package reaches about SIZE_MB megabytes. A second sheet is
small. Written with Python's zipfile, not by this project's code.

usage: bench/make_big_xlsx.py OUT.xlsx [ROWS] [SIZE_MB]
"""
import base64
import os
import sys
import zipfile

out = sys.argv[1]
rows = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
size_mb = int(sys.argv[3]) if len(sys.argv) > 3 else 100
MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKG = "http://schemas.openxmlformats.org/package/2006/relationships"
labels = ["sehr gut", "gut", "befriedigend", "ausreichend", "mangelhaft"]
# Random texts compress to about three quarters: enough of them to fill the
# file next to the sheet (about 12 MB compressed for a million rows).
text_len = 400
strings = max(1000, int((size_mb - 12 * rows / 1_000_000) * 1_000_000 / (text_len * 0.76)))

with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
    z.writestr("[Content_Types].xml",
               '<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
               '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
               '<Default Extension="xml" ContentType="application/xml"/>'
               '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
               '</Types>')
    z.writestr("_rels/.rels", f'<Relationships xmlns="{PKG}"><Relationship Id="rId1" Type="{REL}/officeDocument" Target="xl/workbook.xml"/></Relationships>')
    z.writestr("xl/workbook.xml", f'<workbook xmlns="{MAIN}" xmlns:r="{REL}"><sheets><sheet name="Gross" sheetId="1" r:id="rId1"/>'
               f'<sheet name="Klein" sheetId="2" r:id="rId2"/></sheets></workbook>')
    z.writestr("xl/_rels/workbook.xml.rels",
               f'<Relationships xmlns="{PKG}"><Relationship Id="rId1" Type="{REL}/worksheet" Target="worksheets/sheet1.xml"/>'
               f'<Relationship Id="rId2" Type="{REL}/worksheet" Target="worksheets/sheet2.xml"/>'
               f'<Relationship Id="rId3" Type="{REL}/sharedStrings" Target="sharedStrings.xml"/>'
               f'<Relationship Id="rId4" Type="{REL}/styles" Target="styles.xml"/></Relationships>')
    z.writestr("xl/styles.xml", f'<styleSheet xmlns="{MAIN}"><cellXfs count="1"><xf numFmtId="0"/></cellXfs></styleSheet>')
    with z.open("xl/sharedStrings.xml", "w", force_zip64=True) as f:
        f.write(f'<sst xmlns="{MAIN}" count="{strings + len(labels)}" uniqueCount="{strings + len(labels)}">'.encode())
        for label in labels:
            f.write(f"<si><t>{label}</t></si>".encode())
        for _ in range(strings):
            f.write(b"<si><t>" + base64.b64encode(os.urandom(text_len * 3 // 4)) + b"</t></si>")
        f.write(b"</sst>")
    with z.open("xl/worksheets/sheet1.xml", "w", force_zip64=True) as f:
        f.write(f'<worksheet xmlns="{MAIN}"><sheetData>'.encode())
        f.write(('<row r="1">' + "".join(f'<c r="{c}1" t="s"><v>{i}</v></c>' for i, c in enumerate("ABCDE")) + "</row>").encode())
        f.write(('<row r="2">' + "".join(f'<c r="{c}2"><v>{v}</v></c>' for c, v in zip("ABCDE", [67, 58, 32, 18, 6])) + "</row>").encode())
        chunk = []
        for r in range(3, rows + 1):
            chunk.append(f'<row r="{r}"><c r="A{r}" t="s"><v>{5 + r % strings}</v></c><c r="B{r}"><v>{r}</v></c>'
                         f'<c r="C{r}"><v>{r * 0.5}</v></c></row>')
            if len(chunk) == 10000:
                f.write("".join(chunk).encode())
                chunk = []
        f.write(("".join(chunk) + "</sheetData></worksheet>").encode())
    z.writestr("xl/worksheets/sheet2.xml", f'<worksheet xmlns="{MAIN}"><sheetData><row r="1"><c r="A1"><v>1</v></c></row></sheetData></worksheet>')
