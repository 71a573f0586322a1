#!/usr/bin/env python3
"""Runs one console transcript: NAME.in is piped into vyr; standard output must
equal NAME.out and the exit status NAME.status (0 when that file is absent).
NAME.args, when present, holds the command-line arguments, one per line;
NAME.env, variables to set (NAME=VALUE, one per line; "@tmp" in a value stands
for a fresh temporary folder). HOME is a fresh temporary folder unless NAME.env
sets it, so that the console's settings file of the user is never touched."""
import os
import subprocess
import sys
import tempfile


def read(path, default=None):
    if not os.path.exists(path):
        return default
    with open(path, encoding="utf-8") as f:
        return f.read()


def main():
    vyr, input_path = sys.argv[1], sys.argv[2]
    base = input_path[:-3]
    args = [a for a in (read(base + ".args", "") or "").split("\n") if a]
    expected = read(base + ".out", "")
    status = int((read(base + ".status", "0") or "0").strip())
    tmp = tempfile.TemporaryDirectory()
    env = dict(os.environ, HOME=tmp.name)
    for line in (read(base + ".env", "") or "").split("\n"):
        if "=" in line:
            key, value = line.split("=", 1)
            env[key] = value.replace("@tmp", tmp.name)
    with open(input_path, "rb") as stdin:
        proc = subprocess.run([vyr] + args, stdin=stdin, capture_output=True, timeout=300, env=env,
                              cwd=os.path.dirname(os.path.abspath(input_path)))
    tmp.cleanup()
    got = proc.stdout.decode("utf-8", "replace")
    ok = True
    if got != expected:
        ok = False
        print(f"FAIL {input_path}: output differs")
        import difflib
        for line in difflib.unified_diff(expected.splitlines(), got.splitlines(), "expected", "got", lineterm=""):
            print(line)
    if proc.returncode != (status & 0xFF):
        ok = False
        print(f"FAIL {input_path}: exit status {proc.returncode}, expected {status & 0xFF}")
        print(proc.stderr.decode("utf-8", "replace")[-2000:])
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
