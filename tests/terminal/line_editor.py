#!/usr/bin/env python3
"""Drives the console in a real terminal (tmux) as a user would: types keys
with send-keys and reads the screen with capture-pane.

Each session runs vyr in a fresh tmux server (its own socket) with HOME in a
temporary folder; the steps wait until the expected text is on the screen
(or give up after a while) and compare what it shows."""
import os
import shutil
import subprocess
import sys
import tempfile
import time

VYR = os.path.abspath(sys.argv[1])
failures = []


class Session:
    def __init__(self, name, width=80, height=30, args="", history=None):
        self.home = tempfile.mkdtemp()
        if history is not None:
            folder = os.path.join(self.home, ".vyr", "Vyr-Console")
            os.makedirs(folder)
            with open(os.path.join(folder, "console-cfg.vyr"), "w", encoding="utf-8") as f:
                f.write('Vyr [\n\tPurpose: "Vyr Console Configuration File"\n]\n\nbuffer-lines: 10000\n'
                        "history: [%s]" % " ".join('"%s"' % h for h in history))
        self.socket = "vyr-test-%d-%s" % (os.getpid(), name)
        self.name = name
        # After vyr ends, the shell reports the status and the terminal's modes.
        command = ("env HOME=%s %s %s; echo EXIT=$?; stty -a | tr ' ' '\\n' | grep -E '^-?(icanon|echo|isig)$' "
                   "| tr '\\n' ' '; echo; echo MODES-END; sleep 60" % (self.home, VYR, args))
        self.tmux("new-session", "-d", "-s", "t", "-x", str(width), "-y", str(height), command)

    def tmux(self, *args):
        return subprocess.run(["tmux", "-L", self.socket] + list(args), capture_output=True, text=True).stdout

    def keys(self, *keys):
        for k in keys:
            self.tmux("send-keys", "-t", "t", k)
            time.sleep(0.05)

    def type(self, text):
        self.tmux("send-keys", "-t", "t", "-l", text)
        time.sleep(0.05)

    def screen(self):
        return self.tmux("capture-pane", "-t", "t", "-p")

    def lines(self):
        return [l.rstrip() for l in self.screen().split("\n")]

    def wait_for(self, text, what, seconds=10):
        end = time.time() + seconds
        while time.time() < end:
            if text in self.screen():
                return True
            time.sleep(0.05)
        failures.append("%s: %s: %r not on the screen:\n%s" % (self.name, what, text, self.screen()))
        return False

    def expect_line(self, line, what):
        if not self.wait_for(line, what):
            return
        if line not in self.lines():
            failures.append("%s: %s: no line %r:\n%s" % (self.name, what, line, self.screen()))

    def close(self):
        self.tmux("kill-server")
        shutil.rmtree(self.home, ignore_errors=True)


def sane(s):
    """Whether the terminal is back in its usual modes after vyr ended."""
    s.wait_for("MODES-END", "terminal modes")
    modes = s.screen().split("EXIT=", 1)[-1].split()
    return all(m in modes for m in ("icanon", "isig", "echo"))


def enter(s, text, result, what):
    s.type(text)
    s.keys("Enter")
    s.expect_line(result, what)


def test_editing_and_history():
    s = Session("editing")
    try:
        s.wait_for(">>", "prompt")
        lines = s.lines()
        if not lines[0].startswith("--== Vyr ") or lines[1] != "Type HELP for starting information.":
            failures.append("editing: banner: %r" % lines[:2])
        enter(s, "1 + 2", "== 3", "a sum")
        # Home, Right, Delete, End, Left and Backspace edit inside the line.
        s.type('"xbc"')
        s.keys("Home", "Right", "Delete")
        s.type("a")
        s.keys("End", "Left", "BSpace", "BSpace")
        s.type("c")
        s.keys("Enter")
        s.expect_line('== "ac"', "editing keys")
        # Ctrl-A, Ctrl-E, Ctrl-B, Ctrl-F, Ctrl-K and Ctrl-D (delete under the cursor).
        s.type('"abc" junk')
        s.keys("C-a", "C-f", "C-d", "C-e", "C-b", "C-b", "C-b", "C-b", "C-b", "C-k", "Enter")
        s.expect_line('== "bc"', "control keys")
        # Up walks back through the history (newest first); the first Down
        # after it shows the same entry once more.
        s.keys("Up", "Up", "Up", "Down", "Enter")
        s.wait_for("== 3\n>>", "history walk")
        if s.lines().count(">> 1 + 2") != 2:
            failures.append("editing: history walk:\n" + s.screen())
        # A block continued over lines while its bracket is open.
        s.type("[")
        s.keys("Enter")
        s.wait_for("\n[\n", "continuation prompt")
        s.type("1 + 2")
        s.keys("Enter")
        s.type("]")
        s.keys("Enter")
        s.expect_line("]", "block result")
        if "[    1 + 2" not in s.lines() or "[    ]" not in s.lines():
            failures.append("editing: continuation prompts:\n" + s.screen())
        enter(s, "1 / 0", "*** Math Error: attempt to divide by zero", "error report")
        # Esc drops what is pending.
        s.type("[1 2")
        s.keys("Enter")
        s.wait_for("\n[\n", "open block")
        s.keys("Escape")
        s.expect_line("(escape)", "escape")
        # Ctrl-C halts a running command back to the prompt.
        s.type("forever []")
        s.keys("Enter")
        time.sleep(0.3)
        s.keys("C-c")
        s.wait_for("(halted)", "ctrl-c halts")
        enter(s, "2 * 3", "== 6", "after the halt")
        s.type("quit")
        s.keys("Enter")
        s.wait_for("EXIT=0", "quit")
        if not sane(s):
            failures.append("editing: terminal modes after quit:\n" + s.screen())
        cfg = os.path.join(s.home, ".vyr", "Vyr-Console", "console-cfg.vyr")
        text = open(cfg, encoding="utf-8").read() if os.path.exists(cfg) else ""
        if not text.startswith("Vyr [") or 'history: ["quit" "2 * 3" "forever []"' not in text:
            failures.append("editing: settings file:\n" + text)
    finally:
        s.close()


def test_completion_and_wrapping():
    s = Session("completion", width=30)
    try:
        s.wait_for(">>", "prompt")
        # One candidate completes the path; several are listed after the prompt
        # and the line comes back at the next prompt.
        s.type("system/opt")
        s.keys("Tab")
        s.wait_for(">> system/options", "path completed")
        s.type("/")
        s.keys("Tab")
        s.wait_for("args", "candidates listed")
        if not any(l.startswith(">> args ") for l in s.lines()):
            failures.append("completion: candidates:\n" + s.screen())
        s.wait_for(">> system/options/", "the line back after the list")
        s.type("sc")
        s.keys("Tab", "Enter")
        s.expect_line("== none", "completed path evaluated")
        # Words complete from system/words once the library gives it.
        s.type("to logic! in system 'words")
        s.keys("Enter")
        s.wait_for("== ", "system/words present?")
        if "== true" in s.lines():
            s.type("x: rejoi")
            s.keys("Tab")
            s.wait_for(">> x: rejoin", "word completed after a delimiter")
            s.keys("C-a", "C-k")
            s.type("pri")
            s.keys("Tab")
            s.wait_for(">> prin", "common beginning offered")
            if not any(l.startswith(">> prin print") for l in s.lines()):
                failures.append("completion: word candidates:\n" + s.screen())
            s.keys("C-a", "C-k")
        # A line longer than the width wraps, and editing at its head redraws it.
        s.type('"' + "a" * 40 + '"')
        s.keys("Home")
        s.type("x: ")
        s.wait_for("x: ", "insert at the head")
        lines = s.lines()
        if '>> x: "' + "a" * 23 not in lines or "a" * 17 + '"' not in lines:
            failures.append("completion: wrapped line:\n" + s.screen())
        s.keys("Enter")
        s.wait_for('== "' + "a" * 22 + "...", "wrapped result cut to the width")
        # Wide characters take two columns.
        s.type('"' + "\u4e2d" * 14 + '"')
        s.wait_for("\u4e2d\"", "wide line")
        # 4 + 13 x 2 columns fill the first row; one starting in the last
        # column of a row would leave that column empty.
        if '>> "' + "\u4e2d" * 13 not in s.lines() or "\u4e2d\"" not in s.lines():
            failures.append("completion: wide characters:\n" + s.screen())
        s.keys("Home", "Right")
        s.type("a")
        s.wait_for('>> "a' + "\u4e2d" * 12, "wide line redrawn")
        if '>> "a' + "\u4e2d" * 12 not in s.lines() or "\u4e2d\u4e2d\"" not in s.lines():
            failures.append("completion: wide characters after an insert:\n" + s.screen())
        s.keys("Enter")
        s.wait_for("== ", "wide result")
        s.keys("C-d")
        s.wait_for("EXIT=0", "ctrl-d quits")
    finally:
        s.close()


def test_q_and_ctrl_c_at_prompt():
    for name, keys in (("q", ["q", "Enter"]), ("ctrl-c", ["C-c"])):
        s = Session("quit-" + name)
        try:
            s.wait_for(">>", "prompt")
            s.keys(*keys)
            s.wait_for("EXIT=0", name + " quits")
            if not sane(s):
                failures.append("%s: terminal modes:\n%s" % (name, s.screen()))
        finally:
            s.close()


def test_history_from_settings_and_fatal_signal():
    s = Session("settings", history=["1 + 41", "older"])
    try:
        s.wait_for(">>", "prompt")
        s.keys("Up", "Enter")
        s.expect_line("== 42", "history of the last run")
        # Hidden input shows a star for each character and stays out of the history.
        s.type('pw: ask/hide "Password: "')
        s.keys("Enter")
        s.wait_for("Password:", "hidden prompt")
        s.type("s\u4e2dcret")
        s.wait_for("Password: ******", "stars")
        s.keys("Enter")
        enter(s, "pw", '== "s\u4e2dcret"', "hidden answer")
        s.keys("Up", "Up")
        s.wait_for(">> pw: ask/hide", "the hidden line is not in the history")
        s.keys("C-a", "C-k")
        # A fatal signal while the line editor holds the terminal in raw mode
        # still gives the terminal back.
        s.type("abc")
        shell = s.tmux("display", "-p", "-t", "t", "#{pane_pid}").strip()
        children = subprocess.run(["ps", "-o", "pid=", "--ppid", shell], capture_output=True, text=True).stdout
        for pid in children.split():
            os.kill(int(pid), 15)
        s.wait_for("EXIT=143", "ended by the signal")
        if not sane(s):
            failures.append("settings: terminal modes after SIGTERM:\n" + s.screen())
    finally:
        s.close()


def test_redirected_output():
    """With the output going to a file, the editor still draws on the terminal."""
    folder = tempfile.mkdtemp()
    out = os.path.join(folder, "out.txt")
    s = Session("redirected", args="> " + out)
    try:
        s.wait_for(">>", "prompt on the terminal")
        enter(s, "1 + 2", ">> 1 + 2", "echo on the terminal")
        s.type("q")
        s.keys("Enter")
        s.wait_for("EXIT=0", "q")
        text = open(out, encoding="utf-8").read()
        if "== 3\n" not in text or ">>" in text:
            failures.append("redirected: output file:\n" + text)
    finally:
        s.close()
        shutil.rmtree(folder, ignore_errors=True)


def test_hang_up():
    """A terminal that goes away while the editor waits for a key ends the
    input: the console ends with status 0 instead of reading on for ever."""
    import pty
    import select
    master, slave = pty.openpty()
    home = tempfile.mkdtemp()
    proc = subprocess.Popen([VYR], stdin=slave, stdout=slave, stderr=slave, env=dict(os.environ, HOME=home))
    os.close(slave)
    seen, end = b"", time.time() + 10
    while b">> " not in seen and time.time() < end:
        if select.select([master], [], [], 0.1)[0]:
            try:
                seen += os.read(master, 4096)
            except OSError:
                break
    os.close(master)
    try:
        status = proc.wait(timeout=10)
        if status != 0:
            failures.append("hang-up: status %d" % status)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        failures.append("hang-up: still running after the terminal went away")
    shutil.rmtree(home, ignore_errors=True)


def test_catch_script():
    folder = tempfile.mkdtemp()
    script = os.path.join(folder, "hello.vyr")
    with open(script, "w") as f:
        f.write('Vyr [Title: "hello"]\nprint "hello from the script"\n')
    s = Session("catch", args="--catch " + script)
    try:
        s.wait_for("hello from the script", "script ran")
        s.wait_for(">>", "console after the script")
        if "--== Vyr" in s.screen():
            failures.append("catch: a banner after the script:\n" + s.screen())
        enter(s, "1 + 1", "== 2", "console after --catch")
        s.type("q")
        s.keys("Enter")
        s.wait_for("EXIT=0", "q")
    finally:
        s.close()
        shutil.rmtree(folder, ignore_errors=True)


def test_ctrl_c_ends_an_http_request():
    """Ctrl-C while a request waits for a slow server halts it at once, long
    before the server would answer."""
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "http"))
    import server
    for name in list(os.environ):
        if name.lower() in ("http_proxy", "all_proxy"):
            del os.environ[name]
    base = server.start()
    s = Session("http-halt")
    try:
        s.wait_for(">>", "prompt")
        s.type("read %sslow?30" % base)
        s.keys("Enter")
        time.sleep(0.5)
        s.keys("C-c")
        s.wait_for("(halted)", "ctrl-c ends the request")
        enter(s, "2 * 3", "== 6", "after the halted request")
        s.type("q")
        s.keys("Enter")
        s.wait_for("EXIT=0", "q")
    finally:
        s.close()


def main():
    if shutil.which("tmux") is None:
        print("tmux is missing")
        return 1
    test_editing_and_history()
    test_completion_and_wrapping()
    test_q_and_ctrl_c_at_prompt()
    test_catch_script()
    test_history_from_settings_and_fatal_signal()
    test_hang_up()
    test_redirected_output()
    test_ctrl_c_ends_an_http_request()
    for f in failures:
        print("FAIL " + f)
    print("line editor in tmux: %d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
