#!/usr/bin/env python3
"""Runs a Vyr-level test file against the local HTTP server of server.py.

    run_http_tests.py VYR FILE.vyr

The cases find the server's base url in the environment variable
VYR_TEST_HTTP, and in VYR_TEST_HTTPS the url of the same server speaking
HTTPS with a self-signed certificate (made with the openssl command), which
a client that verifies its peers must refuse. HOME is a fresh temporary folder (the download cache lives
under it), VYR_HTTP_TIMEOUT is 1 second, and proxy settings are cleared so
that every request stays on 127.0.0.1.
"""
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.dirname(HERE))

import run_vyr_tests  # noqa: E402
import server  # noqa: E402


def main():
    for name in list(os.environ):
        if name.lower() in ("http_proxy", "https_proxy", "all_proxy", "no_proxy"):
            del os.environ[name]
    os.environ["VYR_TEST_HTTP"] = server.start()
    os.environ["VYR_HTTP_TIMEOUT"] = "1"
    with tempfile.TemporaryDirectory() as home, tempfile.TemporaryDirectory() as keys:
        cert, key = os.path.join(keys, "cert.pem"), os.path.join(keys, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                        "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                        "-keyout", key, "-out", cert], check=True, capture_output=True)
        os.environ["VYR_TEST_HTTPS"] = server.start(tls=(cert, key))
        os.environ["HOME"] = home
        return run_vyr_tests.main()


if __name__ == "__main__":
    sys.exit(main())
