"""Prints every cell of an .xls file, as read by xlrd, one line per cell:
sheet-index TAB row TAB col TAB kind TAB value, kind 'n' (number, repr) or 's' (text with
backslash, tab and newline escaped). The first lines are 'sheet TAB index TAB name'."""
import sys

import xlrd


def esc(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")


book = xlrd.open_workbook(sys.argv[1], ragged_rows=True)
out = sys.stdout
for i, sheet in enumerate(book.sheets()):
    out.write("sheet\t%d\t%s\n" % (i, esc(sheet.name)))
for i, sheet in enumerate(book.sheets()):
    for r in range(sheet.nrows):
        for c, cell in enumerate(sheet.row(r)):
            if cell.ctype == xlrd.XL_CELL_EMPTY or cell.ctype == xlrd.XL_CELL_BLANK:
                continue
            if cell.ctype == xlrd.XL_CELL_NUMBER:
                out.write("%d\t%d\t%d\tn\t%r\n" % (i, r, c, cell.value))
            elif cell.ctype == xlrd.XL_CELL_TEXT:
                out.write("%d\t%d\t%d\ts\t%s\n" % (i, r, c, esc(cell.value)))
            else:
                out.write("%d\t%d\t%d\t?\t%r\n" % (i, r, c, cell.value))
