# Writes the benchmark's inputs into the folder given: doc.json, a JSON
# document of about 10 MB (records of strings, numbers, logic values, nulls
# and nested arrays and objects, some text with escapes and non-ASCII), and
# table.csv, about 10 MB of lines of fields (some quoted, holding commas,
# quotes and line breaks). The same inputs every run.
import json
import random
import sys

folder = sys.argv[1]
rng = random.Random(42)
words = ["alpha", "beta", "gamma", "delta", "épsilon", "zeta", "quote\"d", "tab\there", "line\nbreak", "日本"]


def record(i):
    return {
        "id": i,
        "name": f"item-{i}",
        "score": round(rng.uniform(-1000, 1000), 3),
        "ratio": rng.random(),
        "active": rng.random() < 0.5,
        "parent": None if i % 3 else i // 3,
        "tags": [rng.choice(words) for _ in range(rng.randint(0, 4))],
        "pos": {"x": rng.randint(-10000, 10000), "y": rng.randint(-10000, 10000), "label": rng.choice(words)},
        "note": " ".join(rng.choice(words) for _ in range(rng.randint(1, 8))),
    }


records, size, i = [], 0, 0
while size < 10_000_000:
    r = record(i)
    records.append(r)
    size += len(json.dumps(r, ensure_ascii=False)) + 1
    i += 1
with open(f"{folder}/doc.json", "w", encoding="utf-8") as f:
    json.dump(records, f, ensure_ascii=False)

lines, size, i = [], 0, 0
while size < 10_000_000:
    fields = [str(i), f"name-{i * 7}", "alpha", "beta gamma", str(i * i), f"x{1000 - i}",
              '"with, comma"' if i % 5 == 0 else "plain", '"say ""hi"""' if i % 7 == 0 else "last field here"]
    line = ",".join(fields)
    lines.append(line)
    size += len(line) + 1
    i += 1
with open(f"{folder}/table.csv", "w", encoding="utf-8", newline="") as f:
    f.write("\n".join(lines) + "\n")
