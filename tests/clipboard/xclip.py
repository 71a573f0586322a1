#!/usr/bin/env python3
"""The clipboard of an X display: vyr against xclip on a private Xvfb server.

Starts Xvfb on a display number it picks itself (-displayfd), exchanges text
and file lists between vyr and xclip in both directions, then stops the
server and checks that vyr answers false once the display is gone. The
server is stopped on every path; every child has a time limit. Exits 77
(skipped) when Xvfb or xclip is not installed."""
import os
import select
import shutil
import subprocess
import sys
import tempfile

VYR = os.path.abspath(sys.argv[1])
SKIP = 77
LIMIT = 30  # seconds for any one child
failures = []


def start_xvfb():
    """The server process and its display name, or (None, None)."""
    read_end, write_end = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-screen", "0", "64x64x24"],
                              pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    while not number.endswith(b"\n"):
        ready, _, _ = select.select([read_end], [], [], LIMIT)
        chunk = os.read(read_end, 16) if ready else b""
        if not chunk:
            break
        number += chunk
    os.close(read_end)
    if not number.strip().isdigit():
        stop(server)
        return None, None
    return server, ":" + number.strip().decode()


def stop(server):
    server.terminate()
    try:
        server.wait(timeout=10)
    except subprocess.TimeoutExpired:
        server.kill()
        server.wait()


def vyr(env, code):
    """The output of a script running the code."""
    with tempfile.NamedTemporaryFile("w", suffix=".vyr", delete=False, encoding="utf-8") as f:
        f.write("Vyr []\n" + code + "\n")
        path = f.name
    try:
        return subprocess.run([VYR, path], env=env, capture_output=True, timeout=LIMIT).stdout.decode("utf-8")
    finally:
        os.unlink(path)


def xclip(env, *args, data=None):
    """xclip on the CLIPBOARD selection: the output of -o, or sets it from data
    (xclip stays behind to serve it, so its streams must not be ours)."""
    cmd = ["xclip", "-selection", "clipboard"] + list(args)
    if data is None:
        return subprocess.run(cmd + ["-o"], env=env, capture_output=True, timeout=LIMIT).stdout
    subprocess.run(cmd + ["-i"], env=env, input=data, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=LIMIT)
    return None


def check(name, got, want):
    if got != want:
        failures.append(name)
        print(f"FAIL {name}\n  expected: {want!r}\n  got:      {got!r}")


def run_cases(env):
    check("text written by vyr is UTF-8 for others",
          (vyr(env, 'print write-clipboard "a^M^/b ☺"'), xclip(env, "-t", "UTF8_STRING")),
          ("true\n", "a\r\nb ☺".encode()))
    xclip(env, data="x\r\ny é".encode())
    check("text from another program comes back with LF line ends",
          vyr(env, "print mold read-clipboard"), '"x^/y é"\n')
    check("files written by vyr are a uri-list",
          (vyr(env, 'print write-clipboard [%/tmp/a%20b "/x/é"]'), xclip(env, "-t", "text/uri-list")),
          ("true\n", b"file:///tmp/a%20b\r\nfile:///x/%C3%A9\r\n"))
    xclip(env, "-t", "text/uri-list", data=b"# copied\r\nfile:///tmp/q%25r\r\nfile://localhost/s%20t/\r\n")
    check("a uri-list of local files comes back as file! values",
          vyr(env, "print mold read-clipboard"), '[%"/tmp/q%r" %"/s t/"]\n')
    xclip(env, "-t", "text/uri-list", data=b"http://example.com/\r\n")
    check("a uri-list naming other than files is not taken as files",
          vyr(env, "print mold read-clipboard"), "none\n")
    check("writing none empties the clipboard for every reader",
          (vyr(env, 'write-clipboard "x" print write-clipboard none print mold read-clipboard'),
           b"UTF8_STRING" in xclip(env, "-t", "TARGETS")),
          ("true\nnone\n", False))


def main():
    if not shutil.which("Xvfb") or not shutil.which("xclip"):
        print("Xvfb or xclip is not installed: skipped")
        return SKIP
    server, display = start_xvfb()
    if server is None:
        print("Xvfb did not start")
        return 1
    home = tempfile.mkdtemp()
    env = {k: v for k, v in os.environ.items() if k not in ("WAYLAND_DISPLAY", "XAUTHORITY")}
    env.update(DISPLAY=display, HOME=home)
    try:
        run_cases(env)
    finally:
        stop(server)
        shutil.rmtree(home, ignore_errors=True)
    check("a display that cannot be reached: false for reading and writing",
          vyr(env, 'print read-clipboard print write-clipboard "x"'), "false\nfalse\n")
    print(f"clipboard under Xvfb: {'failed: ' + ', '.join(failures) if failures else 'all cases passed'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
