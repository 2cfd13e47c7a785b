#!/usr/bin/env python3
"""The HTTP server the browser tests talk to, on 127.0.0.1 and a free port.

Prints "PORT <n>" once listening, then "START <token>" / "ABORT <token>" as
slow responses begin and as their client goes away. Exits when its standard
input closes, so it never outlives the test that started it.

Routes (query parameters choose the behaviour):
  /page  status, type (Content-Type, "-" for none), body (percent-encoded
         bytes), location, delay (seconds), mode (length, chunked, badchunk,
         drop: the connection ends mid-body, close: no length)
  /hop   left=N redirects N more times, then answers like /page
  /echo  a form holding the request's cache headers, User-Agent and the
         number of /echo requests so far; itself as cacheable as can be
  /big   size bytes of page holding Form1.txtvalue = "big", inside nest
         <div>s, then filler (markup repeated); mode as for /page
  /slow  token; trickles a byte every 50 ms for 30 s
"""
import html
import http.server
import os
import sys
import threading
import time
from urllib.parse import parse_qs, urlencode, urlsplit

lock = threading.Lock()
echo_hits = 0


def report(line):
    with lock:
        sys.stdout.write(line + "\n")
        sys.stdout.flush()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        # A proxy request carries the whole URL; its path and query still count.
        url = urlsplit(self.path)
        query = parse_qs(url.query, keep_blank_values=True, encoding="latin-1")
        q = {key: values[-1] for key, values in query.items()}
        routes = {"/page": self.page, "/hop": self.hop, "/echo": self.echo,
                  "/big": self.big, "/slow": self.slow}
        try:
            routes.get(url.path, lambda q: self.send(404, b"no such route"))(q)
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True

    def send(self, status, body, ctype="text/html", headers=(), mode="length"):
        self.send_response(status)
        if ctype != "-":
            self.send_header("Content-Type", ctype)
        for name, value in headers:
            self.send_header(name, value)
        if mode in ("chunked", "badchunk"):
            self.send_header("Transfer-Encoding", "chunked")
        elif mode == "drop":
            self.send_header("Content-Length", str(len(body) + 1000))
        elif mode != "close":
            self.send_header("Content-Length", str(len(body)))
        self.close_connection = mode in ("badchunk", "drop", "close")
        self.end_headers()
        if mode == "chunked":
            for at in range(0, len(body), 65536):
                piece = body[at:at + 65536]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            self.wfile.write(b"0\r\n\r\n")
        elif mode == "badchunk":
            self.wfile.write(b"zz\r\n" + body + b"\r\n0\r\n\r\n")
        else:
            self.wfile.write(body)

    def page(self, q):
        time.sleep(float(q.get("delay", 0)))
        headers = [("Location", q["location"])] if "location" in q else []
        self.send(int(q.get("status", 200)), q.get("body", "").encode("latin-1"),
                  q.get("type", "text/html"), headers, q.get("mode", "length"))

    def hop(self, q):
        left = int(q["left"])
        if left <= 0:
            return self.page(q)
        onward = "/hop?" + urlencode(dict(q, left=left - 1), encoding="latin-1")
        self.send(302, b"", headers=[("Location", onward)])

    def echo(self, q):
        global echo_hits
        with lock:
            echo_hits += 1
            hits = echo_hits
        fields = {"cache-control": self.headers.get("Cache-Control", ""),
                  "pragma": self.headers.get("Pragma", ""),
                  "user-agent": self.headers.get("User-Agent", ""),
                  "hits": str(hits)}
        inputs = "".join('<input name="%s" value="%s">' % (name, html.escape(value))
                         for name, value in fields.items())
        cacheable = [("Cache-Control", "public, max-age=86400"), ("ETag", '"same"'),
                     ("Last-Modified", "Mon, 01 Jan 2024 00:00:00 GMT")]
        self.send(200, ('<form name="Form1">%s</form>' % inputs).encode(), headers=cacheable)

    def big(self, q):
        size = int(q["size"])
        head = b"<div>" * int(q.get("nest", 0))
        head += b'<html><body><form name="Form1"><input name="txtvalue" value="big"></form>'
        piece = q.get("filler", "<p>filler text</p>\n").encode("latin-1")
        filler = piece * (size // len(piece) + 1)
        self.send(200, (head + filler)[:size], mode=q.get("mode", "length"))

    def slow(self, q):
        token = q["token"]
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", "100000")
        self.end_headers()
        report("START " + token)
        try:
            for _ in range(600):
                self.wfile.write(b" ")
                time.sleep(0.05)
        except (BrokenPipeError, ConnectionResetError):
            report("ABORT " + token)
        self.close_connection = True


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True

    def watch_parent():
        sys.stdin.buffer.read()
        os._exit(0)

    threading.Thread(target=watch_parent, daemon=True).start()
    report("PORT %d" % server.server_address[1])
    server.serve_forever()


if __name__ == "__main__":
    main()
