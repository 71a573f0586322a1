# CSV-like text of about 10 MB: split into lines of fields with str.split.
from text import build

text = build()
print(len(text))
rows = [line.split(",") for line in text.split("\n") if line]
print(len(rows), sum(map(len, rows)))
