#!/usr/bin/python3
"""Runs the export benchmark (in-memory folder, so the device's flush latency does not count
on our side either) and writes the same 65,530 rows (a time text and 13 numbers each)
with python3-xlwt in the same run, then prints both times and their ratio.

usage: xlwt_ratio.py <path of bench_workbook>"""
import json
import os
import subprocess
import sys
import tempfile
import time

import xlwt

ROWS = 65530
START = 1322121959


def xlwt_export(path):
    book = xlwt.Workbook(encoding="utf-8")
    sheet = book.add_sheet("Sheet1")
    sheet.write(0, 0, "SN: 000000000001,Model: 5000")
    titles = ["Time", "Udc(V)", "Uac(V)", "f(Hz)", "Pac(W)", "Etoday(kWh)", "Etotal(kWh)",
              "Ttoday(min)", "Ttotal(h)", "T(\u00b0C)", "Iac-Shift", "DCI(mA)", "State 1",
              "State 2"]
    for col, title in enumerate(titles):
        sheet.write(1, col, title)
    for k in range(ROWS):
        row = sheet.row(2 + k)
        row.write(0, time.strftime("%Y-%m-%d %H-%M-%S", time.gmtime(START + k)))
        values = [200 + (k % 1000) * 0.1, 230 + (k % 7) * 0.3, 49.95 + (k % 11) * 0.01,
                  (k % 5000) * 0.5, k * 0.01, 12345.6 + (k % 100) * 0.1, k // 60,
                  1000 + k // 3600, -5 + (k % 600) * 0.1, 2000 + k % 5, k % 300,
                  -2147483647 if k % 3 == 0 else 0, k % 4]
        for col, value in enumerate(values):
            row.write(col + 1, float(value))
        if k % 1000 == 999:
            sheet.flush_row_data()
    book.save(path)


def main():
    bench = sys.argv[1]
    out = subprocess.run([bench, "--benchmark_filter=Export65530Rows/1",
                          "--benchmark_format=json", "--benchmark_repetitions=3",
                          "--benchmark_report_aggregates_only=true"],
                         check=True, capture_output=True, text=True).stdout
    results = json.loads(out)["benchmarks"]
    ours = min(b["real_time"] for b in results if b.get("aggregate_name") in ("mean", "median"))
    ours_s = ours / 1000.0  # milliseconds -> seconds
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "xlwt.xls")
        began = time.perf_counter()
        xlwt_export(path)
        theirs_s = time.perf_counter() - began
    print("export of %d rows: ours %.3f s, xlwt %.3f s, ratio %.1fx"
          % (ROWS, ours_s, theirs_s, theirs_s / ours_s))


if __name__ == "__main__":
    main()
