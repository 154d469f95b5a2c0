"""Writes an .xls file with xlwt from a small description read from a file:
'=== sheet name' starts a sheet; every other line is one row of tab-separated fields. An empty
field leaves the cell empty, 's:text' is a text cell, a field that reads as a float is a number,
anything else is text."""
import sys

import xlwt

book = xlwt.Workbook(encoding="utf-8")
sheet = None
row = 0
with open(sys.argv[1], encoding="utf-8") as desc:
    for line in desc.read().split("\n"):
        if line.startswith("=== "):
            sheet = book.add_sheet(line[4:])
            row = 0
            continue
        if sheet is None or line == "":
            continue
        for col, field in enumerate(line.split("\t")):
            if field == "":
                continue
            if field.startswith("s:"):
                sheet.write(row, col, field[2:])
                continue
            try:
                sheet.write(row, col, float(field))
            except ValueError:
                sheet.write(row, col, field)
        row += 1
book.save(sys.argv[2])
