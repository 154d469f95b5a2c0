#!/usr/bin/python3
"""Times our export of 65,530 rows (a time text and 13 numbers each; the benchmark writes to an
in-memory folder, so the device's flush latency does not count) and python3-xlwt writing the
same rows, in turns within one run: the machine is shared and its load changes from second to
second, so each round times both sides back to back. Prints every round, then the median and
the lowest ratio, by elapsed time and by CPU time.

usage: xlwt_ratio.py <path of bench_workbook> [rounds, default 3]"""
import json
import os
import statistics
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


def ours(bench):
    """Median elapsed and CPU seconds of our export over five repetitions."""
    out = subprocess.run([bench, "--benchmark_filter=Export65530Rows/1",
                          "--benchmark_format=json", "--benchmark_repetitions=5",
                          "--benchmark_report_aggregates_only=true"],
                         check=True, capture_output=True, text=True).stdout
    median = [b for b in json.loads(out)["benchmarks"] if b.get("aggregate_name") == "median"][0]
    assert median["time_unit"] == "ms"
    return median["real_time"] / 1000.0, median["cpu_time"] / 1000.0


def theirs():
    """Elapsed and CPU seconds of one xlwt export."""
    with tempfile.TemporaryDirectory(dir="/dev/shm" if os.path.isdir("/dev/shm") else None) as d:
        began, began_cpu = time.perf_counter(), time.process_time()
        xlwt_export(os.path.join(d, "xlwt.xls"))
        return time.perf_counter() - began, time.process_time() - began_cpu


def main():
    bench = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    wall, cpu = [], []
    for r in range(rounds):
        our_wall, our_cpu = ours(bench)
        their_wall, their_cpu = theirs()
        wall.append(their_wall / our_wall)
        cpu.append(their_cpu / our_cpu)
        print("round %d: ours %.3f s (CPU %.3f s), xlwt %.3f s (CPU %.3f s), ratio %.1fx (CPU %.1fx)"
              % (r + 1, our_wall, our_cpu, their_wall, their_cpu, wall[-1], cpu[-1]))
    print("export of %d rows, %d rounds: ratio median %.1fx, lowest %.1fx; CPU median %.1fx, "
          "lowest %.1fx" % (ROWS, rounds, statistics.median(wall), min(wall),
                            statistics.median(cpu), min(cpu)))


if __name__ == "__main__":
    main()
