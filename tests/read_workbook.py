"""Reads a saved workbook with openpyxl and prints what the tests check, as JSON.

Usage: read_workbook.py FILE
Prints {"sheets": [{"name", "cells": [[row, col, value, type, number_format]],
"charts": [{"type", "title", "series": [{"cat", "val", "cat_cache"}]}],
"widths": [[min, max, width]]}]}.
The file is passed as an open file object: openpyxl refuses names that do
not end in .xlsx, and the export's name ends in .xls.
"""
import json
import sys

import openpyxl


def title_text(chart):
    if chart.title is None or chart.title.tx is None or chart.title.tx.rich is None:
        return None
    return "".join(run.t for p in chart.title.tx.rich.p for run in (p.r or []))


def ref(data):
    if data is None:
        return None, None
    for kind in ("strRef", "numRef"):
        r = getattr(data, kind, None)
        if r is not None:
            cache = r.strCache if kind == "strRef" else r.numCache
            points = [pt.v for pt in cache.pt] if cache is not None else None
            return r.f, points
    return None, None


def main():
    with open(sys.argv[1], "rb") as f:
        wb = openpyxl.load_workbook(f)
    out = {"sheets": []}
    for ws in wb.worksheets:
        cells = [[c.row, c.column, c.value, c.data_type, c.number_format]
                 for c in sorted(ws._cells.values(), key=lambda c: (c.row, c.column))]
        charts = []
        for ch in ws._charts:
            series = []
            for s in ch.series:
                cat, cat_cache = ref(s.cat)
                val, _ = ref(s.val)
                series.append({"cat": cat, "val": val, "cat_cache": cat_cache})
            charts.append({"type": type(ch).__name__, "title": title_text(ch), "series": series})
        widths = [[d.min, d.max, d.width] for d in ws.column_dimensions.values() if d.min]
        out["sheets"].append({"name": ws.title, "cells": cells, "charts": charts, "widths": widths})
    json.dump(out, sys.stdout, ensure_ascii=True)


if __name__ == "__main__":
    main()
