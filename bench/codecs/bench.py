# Python's json and csv modules on the same inputs (best of three).
import csv
import io
import json
import sys
import time

folder = sys.argv[1]


def seconds(fn):
    best = None
    for _ in range(3):
        start = time.perf_counter()
        result = fn()
        t = time.perf_counter() - start
        best = t if best is None or t < best else best
    return best, result


with open(f"{folder}/doc.json", encoding="utf-8") as f:
    json_text = f.read()
with open(f"{folder}/table.csv", encoding="utf-8", newline="") as f:
    csv_text = f.read()
t_load, doc = seconds(lambda: json.loads(json_text))
t_dump, out = seconds(lambda: json.dumps(doc, ensure_ascii=False, separators=(",", ":")))
t_csv, rows = seconds(lambda: list(csv.reader(io.StringIO(csv_text, newline=""))))
print("load-json", round(t_load, 4), len(doc))
print("to-json", round(t_dump, 4), "true" if len(json.loads(out)) == len(doc) else "false")
print("load-csv", round(t_csv, 4), len(rows))
