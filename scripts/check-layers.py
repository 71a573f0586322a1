#!/usr/bin/env python3
"""Refuses an #include that runs upward through the source layers.

Layers from the ground up; a file may include its own layer and those below.
console/ and view/ sit side by side; boot/ (start-up) sits on top of all.
"""
import pathlib
import re
import sys

RANK = {"runtime": 0, "datatypes": 1, "io": 2, "engine": 3, "library": 4,
        "console": 5, "view": 5, "boot": 6}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/')

root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")
faults = []
for layer, rank in RANK.items():
    for path in sorted((root / layer).rglob("*")):
        if path.suffix not in (".h", ".cpp", ".inc"):
            continue
        for n, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            m = INCLUDE.match(line)
            if not m or m.group(1) not in RANK:
                continue
            target = m.group(1)
            if RANK[target] > rank or (RANK[target] == rank and target != layer):
                faults.append(f"{path.relative_to(root)}:{n}: {layer}/ includes {target}/")
for f in faults:
    print(f)
if faults:
    print(f"{len(faults)} upward include(s)", file=sys.stderr)
    sys.exit(1)
