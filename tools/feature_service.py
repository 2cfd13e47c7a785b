#!/usr/bin/env python3
"""A local stand-in for the feature web service, for the demo and the tests.

Answers GET /Features.aspx?&APPCODE=<digits>&FeatureName=<digits> with a page
whose form "Form1" holds the feature list in its field "txtvalue". The values
arrive digit-encoded (each character's code, three digits, reversed); the
default answer lists a few features built from the decoded product code and
feature name. Every cell of a list reads back through the loader as the text
it was built from, whatever separators or "?" it holds, with one exception:
a cell cannot hold a TAB (the grid starts a new column there), so a TAB in a
name is sent as a space.

  feature_service.py [--port N] [--answer KIND] [--delay SECONDS] [--log FILE]
                     [--browser-tests] [--tls DIR [--tls-flaw FLAW]] [--plain-port N]
                     [--minisign-key FILE]

KIND is one of
  ok            the list built from the query (the default)
  list:TEXT     exactly TEXT as the list
  error         the field holds ERROR
  empty         the field is empty
  noform        a page without the form
  status:N      HTTP status N with an error page
  redirect      a redirect to /Features.aspx on the same server, then ok
  redirect:URL  a redirect to URL
  downgrade     for --tls: a redirect to the same page and query over plain
                http at 127.0.0.1:PLAIN (--plain-port, else the port + 2),
                where a listener of its own answers ok and logs each request
                as "plain PATH", so that a client that follows is seen
  rows:N        a list of N rows of 26 cells
and, to try a client's defences, a hostile or broken service:
  endless       a body that never ends
  drip          a body that drips one byte a minute
  trickle       a body that trickles two bytes a second, for ever
  loop          a redirect to itself, for ever
  reset         a connection reset in the middle of the body
  badchunk      invalid chunked encoding
  hugelength    a Content-Length of 4 GB, then the connection ends
  deep          a page nested 100,000 elements deep, the form innermost
  garbage       binary garbage as text/html
Prints "PORT <n>" once it listens; every request's path and query go to the
--log file, one line each. Listens on 127.0.0.1 only; with --tls, over
https with a certificate for localhost from the certificate authority in DIR
(ca.pem and ca.key, made there with openssl when missing); --tls-flaw
expired gives one from the same authority that expired in 2020, wrongname
one for another host name.

With --minisign-key, the default answer also carries the list's minisign
signature in the form's field "txtsig" (a textarea): the list's UTF-8 bytes,
signed with that unencrypted secret key by minisign, with the trusted
comment "FirstLoad APPCODE=<digits> FeatureName=<digits> expires=<unix time>"
(the query's digits as they came, an hour ahead), for a build whose
FEATURE_LIST_KEYS holds the key's public half.

With --browser-tests it also serves the browser's own tests, prints
"START <token>" / "ABORT <token>" as slow answers begin and as their client
goes away, and exits when its standard input closes. Query parameters choose:
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
import argparse
import fcntl
import html
import http.server
import os
import random
import socket
import ssl
import subprocess
import struct
import sys
import tempfile
import threading
import time
from urllib.parse import parse_qs, parse_qsl, urlencode, urlsplit

CODE_PAGE = "cp1252"


def decode_digits(digits):
    """The inverse of the query encoding: groups of three digits, reversed."""
    out = bytearray()
    for i in range(0, len(digits), 3):
        group = digits[i:i + 3][::-1]
        if not group.isdigit() or int(group) > 255:
            raise ValueError("not an encoded value: %r" % digits)
        out.append(int(group))
    return out.decode(CODE_PAGE, errors="replace")


def escape_cell(text):
    """A cell's text in the list: "?" and the separators doubled.

    A TAB cannot be cell text (the grid starts a new column at every TAB), so
    it is written as a space.
    """
    return (text.replace("\t", " ").replace("?", "??").replace("/", "//")
            .replace("#", "##").replace(">", ">>"))


def row_text(cells):
    """One row of the list: the cells joined with "/", "?" for an empty one.

    The loader reads the "/" before a cell and the doubled "/" that opens it
    as one run and gives the literal "/" to the cell before; so a cell that
    begins with "/" is joined to the cell before it by a TAB instead, where
    the grid starts the next column all the same. A row that begins with "#"
    or ">" would lose its first one to the row or group before in the same
    way; an opening "/", whose empty cell takes no column, keeps them apart.
    """
    pieces = []
    for cell in cells:
        text = escape_cell(cell)
        if pieces and text.startswith("/"):
            pieces[-1].append(text)
        else:
            pieces.append([text])
    # "?" marks an empty cell only when it is the whole piece.
    row = "/".join(p[0] or "?" if len(p) == 1 else "\t".join(p) for p in pieces)
    return "/" + row if row.startswith(("#", ">")) else row


def list_text(groups):
    """The list of groups of rows of cells; every cell reads back as given.

    A row without cells or a group without rows has no text of its own and
    would glue its neighbours together, so it is left out.
    """
    return ">".join("#".join(row_text(row) for row in g if row)
                    for g in groups if any(g))


def build_list(appcode, feature):
    rows = [
        [feature, appcode, feature.replace(" ", "") + ".zip", "12.4 MB"],
        [feature + " Help", appcode, "help.zip", ""],
    ]
    updates = [["Updates", appcode, "patch-1.2.zip", "0.9 MB"]]
    return list_text([rows, updates])


def page(value, signature=""):
    field = '<textarea name="txtsig">%s</textarea>' % html.escape(signature) if signature else ""
    return ("<!DOCTYPE html><html><head><meta charset=\"windows-1252\">"
            "<title>Features</title></head><body>"
            "<form name=\"Form1\" id=\"Form1\" method=\"post\" action=\"Features.aspx\">"
            "<input type=\"hidden\" name=\"txtvalue\" id=\"txtvalue\" value=\"%s\">%s"
            "</form></body></html>" % (html.escape(value, quote=True), field))


def minisign_signature(key, value, query, hours=1):
    """minisign's signature file for value's UTF-8 bytes, signed with the
    secret key file key for the request's APPCODE and FeatureName, digit for
    digit, valid for hours."""
    comment = "FirstLoad APPCODE=%s FeatureName=%s expires=%d" % (
        query.get("APPCODE", ""), query.get("FeatureName", ""), time.time() + hours * 3600)
    with tempfile.TemporaryDirectory() as tmp:
        message = os.path.join(tmp, "list")
        with open(message, "wb") as f:
            f.write(value.encode("utf-8"))
        subprocess.run(["minisign", "-S", "-s", key, "-m", message, "-t", comment],
                       check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        with open(message + ".minisig") as f:
            return f.read()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    answer = "ok"
    delay = 0.0
    log_file = None
    log_prefix = ""
    plain_port = 0
    browser_tests = False
    minisign_key = None
    lock = threading.Lock()
    echo_hits = 0

    def log_message(self, *args):
        pass

    def do_GET(self):
        # A proxy request carries the whole URL; its path and query still count.
        url = urlsplit(self.path)
        try:
            if self.browser_tests and url.path in ("/page", "/hop", "/echo", "/big", "/slow"):
                query = parse_qs(url.query, keep_blank_values=True, encoding="latin-1")
                getattr(self, "route_" + url.path[1:])({k: v[-1] for k, v in query.items()})
            else:
                self.answer_request(url)
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True  # the client gave up, as it should

    def answer_request(self, url):
        if self.log_file:
            with self.lock, open(self.log_file, "a", encoding="utf-8") as log:
                log.write(self.log_prefix + self.path + "\n")
        if self.delay:
            time.sleep(self.delay)
        answer = self.answer
        if url.path == "/Features2.aspx" or answer != "redirect":
            if url.path not in ("/Features.aspx", "/Features2.aspx"):
                return self.send(404, "<html><body>Not found</body></html>")
        if answer == "redirect":
            if url.path == "/Features.aspx":
                return self.send(302, "", location="/Features2.aspx?" + url.query)
            answer = "ok"
        if answer.startswith("redirect:"):
            return self.send(302, "", location=answer[9:])
        if answer == "downgrade":
            return self.send(302, "", location="http://127.0.0.1:%d/Features.aspx?%s" % (
                self.plain_port, url.query))
        hostile = getattr(self, "hostile_" + answer, None)
        if hostile:
            return hostile()
        if answer.startswith("rows:"):
            rows = ["R%d/%s" % (i, "/".join("c%d" % c for c in range(25)))
                    for i in range(int(answer[5:]))]
            return self.send(200, page("#".join(rows)))
        if answer.startswith("status:"):
            return self.send(int(answer[7:]), "<html><body>Service error</body></html>")
        if answer == "noform":
            return self.send(200, "<html><body>No form here</body></html>")
        if answer == "error":
            return self.send(200, page("ERROR"))
        if answer == "empty":
            return self.send(200, page(""))
        if answer.startswith("list:"):
            return self.send(200, page(answer[5:]))
        try:
            query = dict(parse_qsl(url.query, keep_blank_values=True))
            appcode = decode_digits(query.get("APPCODE", ""))
            feature = decode_digits(query.get("FeatureName", ""))
        except ValueError:
            return self.send(400, "<html><body>Bad query</body></html>")
        listing = build_list(appcode, feature)
        if self.minisign_key:
            return self.send(200, page(listing, minisign_signature(self.minisign_key, listing,
                                                                   query)))
        return self.send(200, page(listing))

    def head(self, headers):
        self.send_response(200)
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.flush()

    def hostile_endless(self):
        self.head([("Content-Type", "text/html")])
        self.close_connection = True
        chunk = b"<p>" + b"x" * 65533
        while True:
            self.wfile.write(chunk)

    def hostile_drip(self):
        self.head([("Content-Type", "text/html"), ("Content-Length", "100")])
        for _ in range(100):
            self.wfile.write(b"<")
            self.wfile.flush()
            time.sleep(60)

    def hostile_trickle(self):
        # Above a byte a second, so that no stall limit ends it: 16 MiB would
        # take months.
        self.head([("Content-Type", "text/html"), ("Content-Length", str(16 << 20))])
        while True:
            self.wfile.write(b"<")
            self.wfile.flush()
            time.sleep(0.5)

    def hostile_loop(self):
        self.send(302, "", location=self.path)

    def hostile_reset(self):
        self.head([("Content-Type", "text/html"), ("Content-Length", "100000")])
        self.wfile.write(page("a/b").encode()[:200])
        self.wfile.flush()
        # Closing with a zero linger time sends a reset instead of a clean end.
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                   struct.pack("ii", 1, 0))
        self.connection.close()
        self.close_connection = True

    def hostile_badchunk(self):
        self.head([("Content-Type", "text/html"), ("Transfer-Encoding", "chunked")])
        self.wfile.write(b"10\r\n<html><body>abc\r\nzz\r\nnot a chunk\r\n")
        self.close_connection = True

    def hostile_hugelength(self):
        self.head([("Content-Type", "text/html"), ("Content-Length", str(4 << 30))])
        self.wfile.write(page("a/b").encode())
        self.close_connection = True

    def hostile_deep(self):
        depth = 100000
        body = ("<html><body>" + "<div>" * depth + page("a/b") + "</div>" * depth +
                "</body></html>")
        self.send(200, body)

    def hostile_garbage(self):
        self.send_bytes(200, bytes(random.Random(7).getrandbits(8) for _ in range(65536)))

    def send(self, status, body, location=None):
        headers = [("Cache-Control", "no-store")] + ([("Location", location)] if location else [])
        self.send_bytes(status, body.encode(CODE_PAGE, errors="replace"),
                        "text/html; charset=windows-1252", headers)

    def send_bytes(self, status, body, ctype="text/html", headers=(), mode="length"):
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

    # The browser's own tests.
    def route_page(self, q):
        time.sleep(float(q.get("delay", 0)))
        headers = [("Location", q["location"])] if "location" in q else []
        self.send_bytes(int(q.get("status", 200)), q.get("body", "").encode("latin-1"),
                        q.get("type", "text/html"), headers, q.get("mode", "length"))

    def route_hop(self, q):
        left = int(q["left"])
        if left <= 0:
            return self.route_page(q)
        onward = "/hop?" + urlencode(dict(q, left=left - 1), encoding="latin-1")
        self.send_bytes(302, b"", headers=[("Location", onward)])

    def route_echo(self, q):
        with self.lock:
            Handler.echo_hits += 1
            hits = Handler.echo_hits
        fields = {"cache-control": self.headers.get("Cache-Control", ""),
                  "pragma": self.headers.get("Pragma", ""),
                  "user-agent": self.headers.get("User-Agent", ""),
                  "hits": str(hits)}
        inputs = "".join('<input name="%s" value="%s">' % (name, html.escape(value))
                         for name, value in fields.items())
        cacheable = [("Cache-Control", "public, max-age=86400"), ("ETag", '"same"'),
                     ("Last-Modified", "Mon, 01 Jan 2024 00:00:00 GMT")]
        self.send_bytes(200, ('<form name="Form1">%s</form>' % inputs).encode(),
                        headers=cacheable)

    def route_big(self, q):
        size = int(q["size"])
        head = b"<div>" * int(q.get("nest", 0))
        head += b'<html><body><form name="Form1"><input name="txtvalue" value="big"></form>'
        piece = q.get("filler", "<p>filler text</p>\n").encode("latin-1")
        filler = piece * (size // len(piece) + 1)
        self.send_bytes(200, (head + filler)[:size], mode=q.get("mode", "length"))

    def route_slow(self, q):
        self.head([("Content-Type", "text/html"), ("Content-Length", "100000")])
        report("START " + q["token"])
        try:
            for _ in range(600):
                self.wfile.write(b" ")
                time.sleep(0.05)
        except (BrokenPipeError, ConnectionResetError):
            report("ABORT " + q["token"])
        self.close_connection = True


def report(line):
    with Handler.lock:
        sys.stdout.write(line + "\n")
        sys.stdout.flush()


def server_certificate(folder, flaw=None):
    """The certificate authority in folder (made once) and a certificate from
    it for localhost alone, or with a flaw: expired (valid for a day in 2020)
    or wrongname (for another host); the certificate's and its key's paths."""
    os.makedirs(folder, exist_ok=True)
    at = lambda name: os.path.join(folder, name)
    pem, ext = at("server-%s.pem" % flaw if flaw else "server.pem"), at(
        "server-%s.ext" % flaw if flaw else "server.ext")
    steps = [
        ["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-keyout", at("ca.key"),
         "-out", at("ca.pem"), "-subj", "/CN=FirstLoad-test-authority"],
        ["req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout",
         at("server.key"), "-out", at("server.csr")],
    ]
    # Services started together make the folder's files once.
    with open(at("lock"), "w") as lock, tempfile.TemporaryDirectory() as work:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(pem):
            with open(ext, "w") as out:
                out.write("subjectAltName=DNS:%s\nbasicConstraints=CA:FALSE\n"
                          "extendedKeyUsage=serverAuth\n" % (
                              "other.example" if flaw == "wrongname" else "localhost"))
            if flaw == "expired":
                # Only openssl ca takes the dates; its database is thrown away.
                with open(os.path.join(work, "ca.cnf"), "w") as out:
                    out.write("[ca]\ndefault_ca=issuing\n[issuing]\ndatabase=%s\n"
                              "new_certs_dir=%s\nserial=%s\ndefault_md=sha256\n"
                              "policy=anything\n[anything]\ncommonName=supplied\n"
                              % (os.path.join(work, "index"), work, os.path.join(work, "serial")))
                open(os.path.join(work, "index"), "w").close()
                sign = ["ca", "-batch", "-config", os.path.join(work, "ca.cnf"), "-cert",
                        at("ca.pem"), "-keyfile", at("ca.key"), "-in", at("server.csr"), "-out",
                        pem, "-notext", "-create_serial", "-startdate", "20200101000000Z",
                        "-enddate", "20200102000000Z", "-extfile", ext]
            else:
                sign = ["x509", "-req", "-days", "2", "-in", at("server.csr"), "-CA", at("ca.pem"),
                        "-CAkey", at("ca.key"), "-CAcreateserial", "-CAserial", at("ca.srl"),
                        "-out", pem, "-extfile", ext]
            first = 0 if not os.path.exists(at("ca.pem")) else 1 if not os.path.exists(
                at("server.csr")) else 2
            for step in steps[first:] + [sign]:
                subprocess.run(["openssl"] + step, check=True, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return pem, at("server.key")


class Server(http.server.ThreadingHTTPServer):
    allow_reuse_address = True
    daemon_threads = True

    def handle_error(self, request, client_address):
        # A client that hangs up early is what the hostile answers are for.
        if not isinstance(sys.exc_info()[1], OSError):
            super().handle_error(request, client_address)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--answer", default="ok")
    parser.add_argument("--delay", type=float, default=0.0)
    parser.add_argument("--log")
    parser.add_argument("--browser-tests", action="store_true")
    parser.add_argument("--tls", metavar="DIR")
    parser.add_argument("--plain-port", type=int)
    parser.add_argument("--tls-flaw", choices=("expired", "wrongname"))
    parser.add_argument("--minisign-key", metavar="FILE",
                        help="signs each list with this minisign secret key (unencrypted), "
                             "in the field txtsig")
    args = parser.parse_args()
    Handler.minisign_key = args.minisign_key
    Handler.answer = args.answer
    Handler.delay = args.delay
    Handler.log_file = args.log
    Handler.browser_tests = args.browser_tests
    server = Server(("127.0.0.1", args.port), Handler)
    if args.answer == "downgrade":
        default = args.port + 2 if args.port else 0
        plain = Server(("127.0.0.1", default if args.plain_port is None else args.plain_port),
                       type("PlainHandler", (Handler,), {"answer": "ok", "log_prefix": "plain "}))
        Handler.plain_port = plain.server_address[1]
        threading.Thread(target=plain.serve_forever, daemon=True).start()
    if args.tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(*server_certificate(args.tls, args.tls_flaw))
        # The handshake happens on the connection's own thread.
        server.socket = context.wrap_socket(server.socket, server_side=True,
                                            do_handshake_on_connect=False)
    if args.browser_tests:
        # Never outlives the test that started it.
        threading.Thread(target=lambda: (sys.stdin.buffer.read(), os._exit(0)),
                         daemon=True).start()
    report("PORT %d" % server.server_address[1])
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
