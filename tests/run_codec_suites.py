#!/usr/bin/env python3
"""The JSON and CSV codecs against public test suites and Python's own modules.

Usage: run_codec_suites.py VYR SOURCE_DIR

The suites live outside the repository, in shared/testdata next to the main
checkout (../shared/testdata from the project root):
  json/  the parsing cases of JSONTestSuite: y_* must load, n_* must answer
         the error value, i_* may go either way but must not crash;
  csv/   csv-spectrum: csvs/NAME.csv must load to the records of json/NAME.json.
Round trips: what to-json writes must parse with Python's json module to the
structure the input gave; what to-csv writes must read back with Python's csv
module to the same rows.
"""
import csv
import io
import json
import math
import os
import subprocess
import sys
import tempfile

# Where the loader's own rules decide (each file with the result it must
# give, and why). Numbers are read by the language's own lexer: an integer
# beyond 32 bits becomes a float, a float beyond the double range is
# infinite (which to-json writes as null) and one below it is 0.0. An escape
# of a lone low surrogate is kept as that code; a high surrogate without its
# low half raises script invalid-data.
JSON_DEVIATIONS = {
    "i_number_too_big_pos_int.json": ("value [1.0e20]", "integer beyond 32 bits read as a float"),
    "i_number_very_big_negative_int.json": ("value [-2.374623746732769e47]", "integer beyond 32 bits read as a float"),
    "i_number_huge_exp.json": ("value [null]", "float beyond the double range read as infinite"),
    "i_number_real_pos_overflow.json": ("value [null]", "float beyond the double range read as infinite"),
    "i_number_real_underflow.json": ("value [0.0]", "float below the double range read as 0.0"),
    "i_string_lone_second_surrogate.json": ("value", "a lone low surrogate is kept"),
    "i_object_key_lone_2nd_surrogate.json": ("value", "a lone low surrogate is kept (the key stays a string)"),
    "i_string_1st_surrogate_but_2nd_missing.json": ("raised script invalid-data",
                                                    "a high surrogate needs its low half"),
}
# Valid files whose value to-json writes otherwise than Python reads it.
JSON_ROUND_TRIP_DEVIATIONS = {
    "y_number_double_close_to_zero.json": "to-json forms floats as the language does: with "
                                          "system/options/float/pretty? on, -1e-78 is formed 0.0",
}

# Files of csv-spectrum whose twin does not hold what the CSV file holds.
CSV_DATA_FAULTS = {
    "location_coordinates": "the twin holds the phone number 1234567890 where the CSV file holds "
                            "2095257564, and its one record as a bare object",
}


SKIP = 77  # CTest's skip code for this test


def find_testdata(source_dir):
    """shared/testdata beside the project root, beside the main checkout when
    the project is a linked worktree, or beside the local repository this one
    was cloned from. None when it is nowhere."""
    roots = [source_dir]
    queries = [["rev-parse", "--path-format=absolute", "--git-common-dir"], ["remote", "get-url", "origin"]]
    for query in queries:
        try:
            answer = subprocess.run(["git", "-C", source_dir] + query, capture_output=True, text=True,
                                    check=True).stdout.strip()
        except (OSError, subprocess.CalledProcessError):
            continue
        if answer.startswith("file://"):
            answer = answer[len("file://"):]
        if os.path.isabs(answer):
            roots.append(os.path.dirname(answer.rstrip("/")) if answer.rstrip("/").endswith(".git") else answer)
    for root in roots:
        path = os.path.normpath(os.path.join(root, "..", "shared", "testdata"))
        if os.path.isdir(os.path.join(path, "json")) and os.path.isdir(os.path.join(path, "csv")):
            return path
    print("SKIP: the test data is missing: expected ../shared/testdata (json/ and csv/) beside "
          + " or ".join(roots))
    return None


def run_vyr(vyr, script):
    """Runs a script and answers its output lines; a crash fails the test."""
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "suite.vyr")
        with open(path, "w", encoding="utf-8") as f:
            f.write(script)
        r = subprocess.run([vyr, path], capture_output=True, cwd=tmp, timeout=600)
    out = r.stdout.decode("utf-8", "replace")
    if r.returncode != 0 or "*** " in out:
        sys.exit(f"FAIL: vyr ended with status {r.returncode}\n{out[-3000:]}\n{r.stderr.decode()[-3000:]}")
    return out.split("\n")[:-1] if out.endswith("\n") else out.split("\n")


def vyr_file(path):
    return "%" + path.replace(" ", "%20")


def same(a, b):
    """Structural equality, numbers compared by value (an integer beyond 32
    bits comes back as a float, shortened by the float form)."""
    if isinstance(a, bool) or isinstance(b, bool):
        return a is b
    if isinstance(a, (int, float)) and isinstance(b, (int, float)):
        if isinstance(a, float) and math.isinf(a) or isinstance(b, float) and math.isinf(b):
            return a == b
        return math.isclose(a, b, rel_tol=1e-14, abs_tol=0.0) or a == b
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    return a == b


def python_json(path):
    """The file as Python reads it (None when Python refuses it)."""
    try:
        with open(path, "rb") as f:
            return json.loads(f.read().decode("utf-8"))
    except (ValueError, UnicodeDecodeError, RecursionError):
        return None


def json_suite(vyr, data, failures):
    folder = os.path.join(data, "json")
    names = sorted(n for n in os.listdir(folder) if n.endswith(".json"))
    # Each file: "name<TAB>value <to-json text>", "name<TAB>error" (answered)
    # or "name<TAB>raised <type> <id>".
    script = f"""Vyr []
foreach name {json.dumps(names).replace(',', '')} [
    set/any 'r try [reduce [load/as read/binary rejoin [{vyr_file(folder + '/')} name] 'json]]
    print rejoin [name "^-" case [
        error? :r [rejoin ["raised " r/type " " r/id]]
        error? first r ["error"]
        true [rejoin ["value " to-json first r]]
    ]]
]
"""
    results = {}
    for line in run_vyr(vyr, script):
        name, _, rest = line.partition("\t")
        results[name] = rest
    for name in names:
        got = results.get(name)
        if got is None:
            failures.append(f"json {name}: no result")
            continue
        kind = name[0]
        if name in JSON_DEVIATIONS:
            expected_kind = JSON_DEVIATIONS[name][0]
            if not got.startswith(expected_kind):
                failures.append(f"json {name}: expected {expected_kind} ({JSON_DEVIATIONS[name][1]}), got {got[:80]}")
            continue
        if kind == "y":
            if not got.startswith("value "):
                failures.append(f"json {name}: valid JSON did not load: {got[:120]}")
                continue
            # Round trip: the emitted text parses to the structure Python reads.
            try:
                back = json.loads(got[len("value "):])
            except ValueError as e:
                failures.append(f"json {name}: to-json wrote text that is not JSON ({e}): {got[:120]}")
                continue
            if not same(back, python_json(os.path.join(folder, name))) and name not in JSON_ROUND_TRIP_DEVIATIONS:
                failures.append(f"json {name}: loaded and written back as {got[6:126]}")
        elif kind == "n":
            if got != "error":
                failures.append(f"json {name}: invalid JSON gave {got[:120]}")
        elif got.startswith("value "):
            try:
                json.loads(got[len("value "):])
            except ValueError as e:
                failures.append(f"json {name}: to-json wrote text that is not JSON ({e}): {got[:120]}")


def csv_rows(text):
    return list(csv.reader(io.StringIO(text, newline="")))


def csv_suite(vyr, data, failures):
    folder = os.path.join(data, "csv")
    names = sorted(n[:-4] for n in os.listdir(os.path.join(folder, "csvs")) if n.endswith(".csv"))
    # Each file: its records, its lines, and the text to-csv makes of its lines.
    script = f"""Vyr []
foreach name {json.dumps(names).replace(',', '')} [
    text: to string! read/binary rejoin [{vyr_file(folder + '/csvs/')} name %.csv]
    print rejoin [name "^-records^-" to-json load-csv/header/as-records text]
    print rejoin [name "^-lines^-" to-json load-csv text]
    print rejoin [name "^-written^-" to-json to-csv load-csv text]
]
"""
    results = {}
    for line in run_vyr(vyr, script):
        name, kind, rest = line.split("\t", 2)
        results[(name, kind)] = json.loads(rest)
    for name in names:
        with open(os.path.join(folder, "json", name + ".json"), encoding="utf-8") as f:
            expected = json.load(f)
        with open(os.path.join(folder, "csvs", name + ".csv"), encoding="utf-8", newline="") as f:
            rows = csv_rows(f.read())
        records = results.get((name, "records"))
        if name in CSV_DATA_FAULTS:
            # The records must match the CSV file itself.
            header, *body = rows
            expected = [dict(zip(header, r)) for r in body]
        if records != expected:
            failures.append(f"csv {name}: records {records} differ from {expected}")
        if results.get((name, "lines")) != rows:
            failures.append(f"csv {name}: lines {results.get((name, 'lines'))} differ from Python's {rows}")
        written = results.get((name, "written"))
        if not isinstance(written, str) or csv_rows(written) != rows:
            failures.append(f"csv {name}: to-csv wrote {written!r}, which Python reads otherwise")


def round_trips(vyr, failures):
    """Values with the characters that need care, through to-json and to-csv."""
    script = """Vyr []
values: reduce [
    1 -2147483648 2.5 -0.0 1e300 1.#INF -1.#INF 1.#NaN 50% none true false
    "ctrl ^@^A^-^/^M^(1F) quote ^" backslash \\ slash /" "é😀 ^(FFFF) ^(10FFFF)"
    make map! reduce ['a 1 "b c" reduce [2 make map! []] 'd none]
    make object! [x: 1 y: "z"]
    'word #"c" %f/g <t> [] quote (1 2)
]
print to-json values
print to-json/pretty values "^-"
print to-json/ascii values
lines: reduce [
    ["a b" "c,d" {e"f} "cr^Monly" "crlf^M^/x" "lf^/x" "" "é😀" "semi;colon" "'"]
    reduce [1 2.5 none true "x" "y" "z" "w" "v" 'u]
]
print to-json to-csv lines
print to-json to-csv/with lines #";"
print to-json to-csv/with/quote lines "::" #"'"
"""
    out = run_vyr(vyr, script)
    if len(out) < 6:
        failures.append(f"round trips: output ended early: {out}")
        return
    expected = [
        1, -2147483648, 2.5, 0.0, 1e300, None, None, None, 0.5, None, True, False,
        "ctrl \x00\x01\t\n\r\x1f quote \" backslash \\ slash /", "é😀 \uffff \U0010ffff",
        {"a": 1, "b c": [2, {}], "d": None},
        {"x": 1, "y": "z"},
        "word", '#"c"', "f/g", "<t>", [], [1, 2],
    ]
    for label, text in (("compact", out[0]), ("ascii", out[-4])):
        try:
            back = json.loads(text)
        except ValueError as e:
            failures.append(f"to-json {label}: not JSON ({e}): {text[:200]}")
            continue
        if not same(back, expected):
            failures.append(f"to-json {label}: {back} differs from {expected}")
    if not all(ord(c) < 128 for c in out[-4]):
        failures.append(f"to-json/ascii wrote characters above 127: {out[-4][:200]}")
    pretty = "\n".join(out[1:-4])
    try:
        if not same(json.loads(pretty), expected):
            failures.append(f"to-json/pretty: {pretty[:200]} differs")
    except ValueError as e:
        failures.append(f"to-json/pretty: not JSON ({e}): {pretty[:200]}")
    rows = [["a b", "c,d", 'e"f', "cr\ronly", "crlf\r\nx", "lf\nx", "", "é😀", "semi;colon", "'"],
            ["1", "2.5", "none", "true", "x", "y", "z", "w", "v", "u"]]
    for label, text, dialect in (("comma", out[-3], {}), ("semicolon", out[-2], {"delimiter": ";"})):
        got = list(csv.reader(io.StringIO(json.loads(text), newline=""), **dialect))
        if got != rows:
            failures.append(f"to-csv {label}: Python reads {got}, expected {rows}")
    # Python's reader takes one-character delimiters: split the "::" text by hand.
    text = json.loads(out[-1])
    if "'cr\ronly'" not in text or "''''" not in text or not text.endswith("\n"):
        failures.append(f"to-csv with a text delimiter and another quote: {text!r}")


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    vyr, source_dir = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    data = find_testdata(source_dir)
    if data is None:
        return SKIP
    failures = []
    json_suite(vyr, data, failures)
    csv_suite(vyr, data, failures)
    round_trips(vyr, failures)
    for f in failures:
        print("FAIL", f)
    if failures:
        sys.exit(f"{len(failures)} failures")
    print("codec suites: all passed")


if __name__ == "__main__":
    sys.exit(main())
