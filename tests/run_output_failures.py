#!/usr/bin/env python3
"""Standard output that cannot be written: a full device and a closed
descriptor end the run with a report on standard error and a non-zero status;
a reader that goes away (a closed pipe) ends it quietly."""
import os
import signal
import subprocess
import sys
import tempfile

SCRIPT = 'Vyr []\nloop 20000 [print "a line of output that fills the pipe"]\nprint "end"\n'


def run(vyr, script, stdout, **kw):
    return subprocess.run([vyr, script], stdout=stdout, stderr=subprocess.PIPE, timeout=300, **kw)


def main():
    vyr = sys.argv[1]
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        script = os.path.join(tmp, "out.vyr")
        with open(script, "w") as f:
            f.write(SCRIPT)

        with open("/dev/full", "wb") as full:
            p = run(vyr, script, full)
        err = p.stderr.decode("utf-8", "replace")
        if p.returncode == 0 or "Cannot write to standard output" not in err:
            failures.append(f"/dev/full: status {p.returncode}, stderr {err!r}")

        # A closed descriptor 1 (the child starts without it).
        p = subprocess.run(["sh", "-c", 'exec "$0" "$1" >&-', vyr, script], stderr=subprocess.PIPE, timeout=300)
        err = p.stderr.decode("utf-8", "replace")
        if p.returncode == 0 or "Cannot write to standard output" not in err:
            failures.append(f"closed stdout: status {p.returncode}, stderr {err!r}")

        # The reader reads one line and goes away; SIGPIPE is ignored in the
        # child, so the write itself must end the run, quietly.
        child = subprocess.Popen([vyr, script], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 preexec_fn=lambda: signal.signal(signal.SIGPIPE, signal.SIG_IGN))
        child.stdout.readline()
        child.stdout.close()
        err = child.stderr.read().decode("utf-8", "replace")
        status = child.wait(timeout=300)
        if status == 0 or err:
            failures.append(f"closed pipe: status {status}, stderr {err!r}")

    for f in failures:
        print("FAIL", f)
    print(f"output failures: {3 - len(failures)}/3 cases passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
