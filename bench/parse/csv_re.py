# CSV-like text of about 10 MB: split into lines of fields with re.
import re

from text import build

text = build()
print(len(text))
line_re = re.compile(r"[^\n]+")
field_re = re.compile(r"[^,]+")
rows = [field_re.findall(line) for line in line_re.findall(text)]
print(len(rows), sum(map(len, rows)))
