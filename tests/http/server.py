"""A small HTTP server for the tests of http urls, on 127.0.0.1.

Routes (any method):
  /echo...      the request as text: "METHOD target", the header lines in
                the order received ("Host" shown as "Host: -", its port
                varies), a blank line, then the body
  /text         text with CR LF line ends
  /binary       the bytes 0 to 255
  /empty        200 with an empty body
  /no-content   204
  /missing      404 with a short body
  /redirect     302 to /text; /see-other: 303 to /echo; /loop: 302 to itself
  /dup          two Set-Cookie headers and an X-Multi header twice
  /slow         waits 3 s before it answers (/slow?N: N seconds)
  /count        "n" for the n-th request of this route (for the cache tests)
  /script.vyr   a script with a header; /values: the text "a b c"
"""
import http.server
import ssl
import threading
import time

ROUTES = {}


def route(path):
    def register(f):
        ROUTES[path] = f
        return f
    return register


@route("/echo")
def echo(h, body):
    lines = [f"{h.command} {h.path}"]
    for name, value in h.headers.items():
        lines.append(f"{name}: -" if name.lower() == "host" else f"{name}: {value}")
    return 200, [("Content-Type", "text/plain")], ("\n".join(lines) + "\n\n").encode() + body


@route("/text")
def text(h, body):
    return 200, [("Content-Type", "text/plain; charset=utf-8")], "one\r\ntwo é\r\n".encode()


@route("/binary")
def binary(h, body):
    return 200, [("Content-Type", "application/octet-stream")], bytes(range(256))


@route("/empty")
def empty(h, body):
    return 200, [], b""


@route("/no-content")
def no_content(h, body):
    return 204, [], b""


@route("/missing")
def missing(h, body):
    return 404, [("Content-Type", "text/plain")], b"not here"


@route("/redirect")
def redirect(h, body):
    return 302, [("Location", "/text")], b"moved"


@route("/see-other")
def see_other(h, body):
    return 303, [("Location", "/echo")], b""


@route("/loop")
def loop(h, body):
    return 302, [("Location", "/loop")], b""


@route("/dup")
def dup(h, body):
    return 200, [("Set-Cookie", "a=1"), ("X-Multi", "first"), ("Set-Cookie", "b=2"), ("x-multi", "second")], b"ok"


@route("/slow")
def slow(h, body):
    query = h.path.partition("?")[2]
    time.sleep(int(query) if query.isdigit() else 3)
    return 200, [], b"late"


COUNTS = {}


@route("/count")
def count(h, body):
    COUNTS[h.path] = COUNTS.get(h.path, 0) + 1
    return 200, [("Content-Type", "text/plain")], str(COUNTS[h.path]).encode()


@route("/script.vyr")
def script(h, body):
    return 200, [("Content-Type", "text/plain")], b'Vyr [Title: "remote"]\r\n; a comment\r\nremote-sum: 1 + 2\r\n'


@route("/values")
def values(h, body):
    return 200, [("Content-Type", "text/plain")], b"a b c"


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def __getattr__(self, name):
        if name.startswith("do_"):
            return self.answer
        raise AttributeError(name)

    def answer(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        path = self.path.split("?")[0]
        handler = ROUTES.get(path) or (echo if path.startswith("/echo") else None)
        if handler is None:
            status, headers, payload = 404, [], b""
        else:
            status, headers, payload = handler(self, body)
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        if status != 204:
            self.send_header("Content-Length", str(len(payload)))
        self.end_headers()
        if self.command != "HEAD" and status != 204:
            try:
                self.wfile.write(payload)
            except (BrokenPipeError, ConnectionResetError):
                pass  # the client gave up waiting (the time-out tests)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # a client that refuses the certificate, or gives up waiting


def start(tls=None):
    """Starts the server on a free port; answers its base url. With tls, a
    (certificate file, key file) pair, it speaks HTTPS."""
    server = Server(("127.0.0.1", 0), Handler)
    scheme = "http"
    if tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(*tls)
        server.socket = context.wrap_socket(server.socket, server_side=True)
        scheme = "https"
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return f"{scheme}://127.0.0.1:{server.server_address[1]}/"
