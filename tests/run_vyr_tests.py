#!/usr/bin/env python3
"""Runs one Vyr-level test file and reports each case.

A test file holds cases of this form:

    === name of the case
    source lines (Vyr code)
    --> expected result

The expected result is the molded value (mold/all) of the last expression,
or, when the code raises an error, "error: " followed by the error's category
and id, as in "error: script no-value".
Lines starting with ";" outside a case are comments. All cases of a file run
in one process; each case is evaluated under `try`, so a failing case does not
stop the others.
"""
import os
import subprocess
import sys
import tempfile

# How each case is wrapped; the marker line separates the cases' outputs.
CASE_TEMPLATE = """print {{@@case {index}}}
set/any 'vyr-test-result try [
{code}
]
either error? :vyr-test-result [
    print ["error:" vyr-test-result/type vyr-test-result/id]
] [print mold/all :vyr-test-result]
"""


def parse_cases(path):
    cases, current, in_expect = [], None, False
    with open(path, encoding="utf-8") as f:
        for lineno, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if line.startswith("=== "):
                current = {"name": line[4:].strip(), "code": [], "expect": [], "line": lineno}
                cases.append(current)
                in_expect = False
            elif current is None:
                continue
            elif line.startswith("--> "):
                current["expect"].append(line[4:])
                in_expect = True
            elif in_expect:
                current["expect"].append(line)
            else:
                current["code"].append(line)
    for c in cases:
        while c["expect"] and not c["expect"][-1].strip():
            c["expect"].pop()
    return cases


def main():
    vyr, test_file = sys.argv[1], sys.argv[2]
    cases = parse_cases(test_file)
    if not cases:
        print(f"{test_file}: no cases")
        return 0
    script = ["Vyr [Title: \"generated test\"]"]
    for i, c in enumerate(cases):
        script.append(CASE_TEMPLATE.format(index=i, code="\n".join(c["code"])))
    script.append("print {@@end}")
    with tempfile.NamedTemporaryFile("w", suffix=".vyr", delete=False, encoding="utf-8") as tmp:
        tmp.write("\n".join(script))
        script_path = tmp.name
    try:
        # A collection at every safe point makes the stress runs many times slower.
        limit = 1800 if os.environ.get("VYR_GC_STRESS") == "1" else 600
        proc = subprocess.run([vyr, script_path], capture_output=True, timeout=limit)
    finally:
        os.unlink(script_path)
    out = proc.stdout.decode("utf-8", "replace").replace("\r\n", "\n")

    outputs, index, lines = {}, None, []
    for line in out.split("\n"):
        if line.startswith("@@case ") or line == "@@end":
            if index is not None:
                outputs[index] = lines
            index = int(line[7:]) if line.startswith("@@case ") else None
            lines = []
        elif index is not None:
            lines.append(line)
    if index is not None:
        outputs[index] = lines

    failures = 0
    for i, c in enumerate(cases):
        got = outputs.get(i)
        got_text = "\n".join(got).rstrip("\n") if got is not None else None
        want = "\n".join(c["expect"])
        if got_text != want:
            failures += 1
            print(f"FAIL {test_file}:{c['line']}: {c['name']}")
            print(f"  expected: {want}")
            print(f"  got:      {got_text if got_text is not None else '(no output: the run ended early)'}")
    if proc.returncode != 0 or "@@end" not in out:
        print(f"{test_file}: vyr exited with status {proc.returncode}")
        tail = (out + proc.stderr.decode('utf-8', 'replace'))[-2000:]
        print(tail)
        failures += 1
    print(f"{test_file}: {len(cases) - min(failures, len(cases))}/{len(cases)} cases passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
