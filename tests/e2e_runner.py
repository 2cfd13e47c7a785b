#!/usr/bin/env python3
"""Whole runs of FirstLoad, each case described by a file in tests/data/.

  e2e_runner.py --platform posix|wine --build BUILD [--emulator E] CASE...

posix runs BUILD/testhost/FirstLoad (through the emulator E, for a build of
another machine), headless unless a run asks for a window;
wine runs BUILD/testhost/FirstLoad.exe under Wine, windowed (WINEPREFIX and
DISPLAY ready, as scripts/test-windows leaves them). Both ask
tools/feature_service.py on 127.0.0.1, on a port the system chose, which the
tests' builds take from FIRSTLOAD_TEST_SERVICE_PORT; every other listener of a
case has a port of its own too, so that cases run side by side. Exits 0 when
every case passed, 77 when one cannot run here, else 1.

A case: '#' lines are comments, the first saying what it shows; 'key: value'
lines; '[run]' starts another run in the same folder, with the case's keys
and its own. 'key@posix:' or 'key@wine:' is that platform's value. Quotes
around a value keep its outer spaces; \\xNN is a raw byte.
  platforms   posix or wine; both when absent (CMake reads it too)
  firstload   native: the native build even in the wine run (FIRSTLOAD_NATIVE_BUILD
              or build/; skipped without it)
  folder      the application folder's name; default one no code page spells
  setup       none, or the bytes of Orvistane.txt; default a ZELVAN record
              of product and feature (default Ostra-VKP and Photo Tools)
  list        empty: FeatDlods.txt is there, empty, before the first run
  writable    no: the folder is immutable (chattr +i), so nothing can be
              written into it, by root or Wine's server either
  update      none: no Update folder; else a stand-in of each download program
  without     a file left out of the installed folder
  service     the service's answer; no service when absent
  delay       seconds the service waits before it answers
  locale      NAME CHARSET, built with localedef; env: NAME=value lines
              (NAME= unsets it). Every run has LC_ALL=C.UTF-8 and no other
              locale variable, but those the case sets.
  display     yes: windowed on a private Xvfb display
  output      closed: standard output and error are a pipe with no reader
  signals     inherited: started with SIGHUP ignored and SIGUSR1 blocked
  descriptors inherited: started with descriptor 7 open, as a careless
              starter leaves one
  linger      seconds that the started program keeps running
  close       windowed: the form's close button is pressed once it has been
              shown for these seconds; it must be gone within a second, and
              the message box come within 4 s
  together    N: N runs start at the same moment (the others' output unread)
  seconds     the run's own time limit; by default 5 (20 windowed, 60
              under Wine)
  tls         trusted: the build that asks https://localhost, trusting the
              tests' own authority (BUILD/testca, made here; under Wine put
              into the Root store by BUILD/trust_root.exe), and the service
              answers with a certificate from it; untrusted: from another;
              expired, wrongname: from the trusted one, but expired, or for
              another host name
  signed      KEY: the build with the signed cases' keys built in
              (tests/signed_pages.py: a and b trusted, c not), and the
              service signs its lists with BUILD/signed/keys/KEY.key
  running     KIND NAME: a process named NAME runs meanwhile; KIND is copy,
              script, symlink, replaced, argument (of sh -c), later (sleep 30
              NAME), envscript (#!/usr/bin/env python3), interpreter (python3
              -u NAME from its folder), firstargument or winpath (sleep with
              NAME or C:\\Product\\Update\\NAME as its first argument), nofile
              (grep NAME where no such file is) or wine
  proxy       squid AUTH: a squid of the case's own on 127.0.0.1, in
              its folder, as an unprivileged user, carrying requests and
              tunnels to the service's port only; AUTH is none, basic or
              digest, for the user jürgen with the password p@ss/w%rd&1, or
              deny: it refuses everything (403); negotiate: Kerberos, in a
              realm of the case's own where the user alice
              has a ticket, the proxy then named localhost (a KDC of its own);
              closed: nothing listens there; silent: connections are
              taken and never answered
  proxy-via   how the run learns of the proxy: env VARIABLE, set to its
              address; gnome MODE, GNOME's settings in a keyfile of the run's
              own (manual: the proxy for http and https; none; auto: a PAC
              file on a port of its own that names the proxy, and no manual
              one; auto loop: a PAC whose FindProxyForURL never returns;
              auto silent: a PAC address whose host never answers; wpad:
              no PAC address, so that WPAD is asked, and http://wpad/ is a
              listener on 127.0.0.1:80 that never answers); registry: Wine's ProxyEnable and ProxyServer in HKCU's
              Internet Settings, removed after the run
  bypass      with proxy-via registry: ProxyOverride, the hosts that go direct
  held        SECONDS (wine): BUILD/hold_file.exe opens FeatDlods_temp.txt as
              soon as it appears, as a scanner would (sharing all but its
              deletion), and keeps it open that long; it must have held it
  credentials ticket: the user's Kerberos ticket (KRB5CCNAME), else none;
              yes: the proxy's address holds the user and the password,
              percent-encoded; wrong: a wrong password; no (the default)
Every run has none of the proxy variables (http_proxy, HTTPS_PROXY, no_proxy,
...) and none of a desktop session's (DESKTOP_SESSION, XDG_CONFIG_HOME, ...)
but those the case sets.
What a run (started from an empty working folder) must do:
  status      its exit status (-9 when killed)
  connecting  yes: the Connecting notice comes first on standard error
  unstored    the reason on the line that says a fetched list could not be
              stored (at the folder's FeatDlods.txt); no such line when absent
  why         the reason on the line that says a fetch failed; no such line
              when absent; {proxy} stands for the proxy's address
  blamed      no: that line names no proxy, neither the word nor its address
  proxied     yes: squid carried the request to the service (a CONNECT over
              tls, else a GET, answered 200); no: squid, listening, saw none
  message     the feature named by the failure message; windowed, the message
              box is over the form and is dismissed
  caption     windowed: the form's caption and the message box's title, by
              which both are found; Zelvan's Downloader when absent. Natively
              also as read out through AT-SPI (the frame's and the alert's names)
  line        windowed: the form's line, under Wine read by BUILD/wininfo.exe,
              natively through AT-SPI (tests/atspi_info.py: a label of the
              frame) on a session bus and accessibility bus of the case's own
  says        windowed: the message box's text, read likewise (a label of
              the alert)
  query       each request the service gets, in order (the plain listener's
              as 'plain PATH'); none when absent
  page        the page a failed fetch names, where the service never saw the
              request (a refused certificate); query when absent
  stored      none or yes (FeatDlods.txt); or 'row:' lines, its exact records,
              cells split at '|'
  launch      none or PROGRAM PARAMETER: the one start of a download program
              (exactly one, whatever runs together); it holds no descriptor
              past 0-2, and when it lingers it is alive after the run
  log         none, or NetError.log as a pattern where '*' is any text
and leave nothing else in the folder or the working folder. With credentials,
neither standard error nor NetError.log may hold the user name or the
password, as given or percent-encoded.
"""
import argparse
import ctypes
import ntpath
import os
import pwd
import re
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
from urllib.parse import quote

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NOTICE = "Connecting to Zelvan's website. Please Wait......\n"
SAID = "FirstLoad: the feature list could not be fetched: "
STORED = "FirstLoad: the feature list could not be stored: "
MESSAGE = ("Zelvan's Downloader\nCould not connect to Zelvan's Website to download '%s'. "
           "Please check your Internet connection and try again.\n")
CAPTION = "Zelvan's Downloader"
TITLE = "^Zelvan.s Downloader$"
# Records its name, arguments, signal state, session and process id.
STANDIN = r"""#!/bin/sh
record="$(dirname "$0")/started-with"
# Builtins only: a shell blocks signals while it waits for a child.
while IFS= read -r l; do case $l in SigBlk*|SigIgn*) echo "$l";; esac; done \
  < /proc/self/status > "$record.signals"
sed 's/.*) //' /proc/$$/stat | cut -d' ' -f4 > "$record.sid"
echo $$ > "$record.pid"
echo $$ >> "$record.starts"
# Descriptors it was given past 0-2; the shell's own are 10 and up.
for fd in 3 4 5 6 7 8 9; do [ ! -e /proc/$$/fd/$fd ] || echo $fd; done > "$record.fds"
{ basename "$0"; echo "$#"; for a in "$@"; do printf '%s\n' "$a"; done; } > "$record.part"
mv "$record.part" "$record.txt"
# Not exec: it stays under its own name, as a download program would.
[ -z "$FIRSTLOAD_TEST_LINGER" ] || sleep "$FIRSTLOAD_TEST_LINGER"
"""
CLEAN_SIGNALS = b"SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n"
QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
# Whoever runs the tests may have a proxy or a desktop session of their own.
LOCALE_VARIABLES = ("LC_ALL", "LC_CTYPE", "LC_MESSAGES", "LC_COLLATE", "LC_NUMERIC", "LANG",
                    "LANGUAGE")
NOT_INHERITED = ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                 "ALL_PROXY", "no_proxy", "NO_PROXY", "GSETTINGS_BACKEND", "XDG_CONFIG_HOME",
                 "DESKTOP_SESSION", "XDG_CURRENT_DESKTOP", "GNOME_DESKTOP_SESSION_ID",
                 "KDE_FULL_SESSION", "KRB5CCNAME", "KRB5_CONFIG",
                 # A windowed run is read through an accessibility bus of its own.
                 "NO_AT_BRIDGE", "GTK_A11Y", "AT_SPI_BUS_ADDRESS")
# A letter past ASCII, and what an address must escape.
PROXY_USER, PROXY_PASSWORD, WRONG_PASSWORD = "jürgen", "p@ss/w%rd&1", "wr@ng/p%ss&2"
REALM, KERBEROS_USER, KERBEROS_PASSWORD = "FIRSTLOAD.TEST", "alice", "k3rb/p@ss"
INTERNET_SETTINGS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings"


class Skip(Exception):
    pass


def parse(path, platform):
    """The case's keys and each run's, each with its list of values."""
    with open(path, "rb") as f:
        data = re.sub(rb"\\x([0-9A-Fa-f]{2})", lambda m: bytes([int(m[1], 16)]), f.read())
    blocks = [{}]
    for line in data.decode("utf-8", "surrogateescape").splitlines():
        if line == "[run]":
            blocks.append({})
        elif line.strip() and not line.startswith("#"):
            key, _, value = line.partition(": ") if ": " in line else line.partition(":")
            value = value[1:-1] if len(value) > 1 and value[0] == value[-1] == '"' else value
            key, _, only = key.partition("@")
            blocks[-1].setdefault(key, {}).setdefault(only, []).append(value)
    blocks = [{k: v.get(platform, v.get("")) for k, v in b.items()} for b in blocks]
    blocks = [{k: v for k, v in b.items() if v is not None} for b in blocks]
    return blocks[0], [dict(blocks[0], **run) for run in blocks[1:]] or [blocks[0]]


def one(block, key, default=None):
    return block[key][-1] if key in block else default


def record(cells):
    """One record of the record file layout, padded to 26 cells."""
    cells = [c.encode("cp1252") for c in cells] + [b""] * (26 - len(cells))
    return b"".join(struct.pack("<H", len(c)) + c for c in cells)


def wait_for(condition, seconds, step=0.05):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(step)
    return True


def read(path):
    if os.path.exists(path):
        with open(path, "rb") as f:
            return f.read()


def listens(port):
    """Asked of the kernel: a connection would be a request in squid's log."""
    with open("/proc/net/tcp") as table:
        return any(f[1] == "0100007F:%04X" % port and f[3] == "0A"
                   for f in (line.split() for line in table))


def reserve_port():
    """A socket bound to a port of 127.0.0.1 that the system chose, never
    listening: while it is held, no one else gets the port, and a connection
    to it is refused."""
    held = socket.socket()
    held.bind(("127.0.0.1", 0))
    return held


def terminate(process):
    process.terminate()
    try:
        process.wait(30)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def first_line(fd, seconds):
    line = b""
    while not line.endswith(b"\n") and select.select([fd], [], [], seconds)[0]:
        piece = os.read(fd, 1)
        if not piece:
            break
        line += piece
    return line.decode().strip()


def xdotool(display, *args):
    try:
        # Titles are matched as UTF-8 whatever the tests' own locale.
        return subprocess.run(["xdotool", *args], env=dict(os.environ, DISPLAY=display,
                                                            LC_ALL="C.UTF-8"),
                              capture_output=True, text=True, timeout=20).stdout
    except subprocess.TimeoutExpired:
        return ""


def request_close(display, window):
    """What a window manager sends when the close button is pressed:
    WM_PROTOCOLS' WM_DELETE_WINDOW, through libX11."""
    x = ctypes.CDLL("libX11.so.6")
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x.XInternAtom.restype = ctypes.c_ulong
    x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                             ctypes.c_void_p]
    x.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                    ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                    ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 16)]
    connection = x.XOpenDisplay(display.encode())
    if not connection:
        return
    event = ClientMessage(type=33, window=window, format=32,  # ClientMessage
                          message_type=x.XInternAtom(connection, b"WM_PROTOCOLS", 0))
    event.data[0] = x.XInternAtom(connection, b"WM_DELETE_WINDOW", 0)
    x.XSendEvent(connection, window, 0, 0, ctypes.byref(event))
    x.XCloseDisplay(connection)


class Case:
    def __init__(self, path, args):
        self.args, self.problems, self.cleanups, self.number, self.xdisplay = args, [], [], 0, None
        self.a11y = None
        self.case, self.runs = parse(path, args.platform)
        if args.platform not in one(self.case, "platforms", args.platform):
            raise Skip("for %s only" % one(self.case, "platforms"))
        # libproxy reads GNOME's settings through a helper program of its
        # own; one started by an emulated program runs only where binfmt is
        # registered, as it is not in a container.
        if args.emulator and any(one(run, "proxy-via", "").startswith("gnome")
                                 for run in [self.case] + self.runs):
            raise Skip("GNOME's settings need libproxy's helper, which the emulator cannot start")
        self.wine = args.platform == "wine" and one(self.case, "firstload") != "native"
        self.build = args.build
        if args.platform == "wine" and not self.wine:
            self.build = os.environ.get("FIRSTLOAD_NATIVE_BUILD", os.path.join(SOURCE, "build"))
            if not os.path.exists(os.path.join(self.build, "testhost", "FirstLoad")):
                raise Skip("no native build in %s: run scripts/test first" % self.build)

    def check(self, ok, what):
        if not ok:
            self.problems.append("run %d: %s" % (self.number, what))
        return ok

    def run(self):
        self.tmp = tempfile.mkdtemp(prefix="firstload-e2e-")
        try:
            self.install()
            for self.number, run in enumerate(self.runs, 1):
                self.one_run(run)
        finally:
            for cleanup in reversed(self.cleanups):
                cleanup()
            shutil.rmtree(self.tmp, ignore_errors=True)
        return self.problems

    def install(self):
        case, build = self.case, self.build
        self.app = os.path.join(self.tmp, one(case, "folder", "Zelvan Ωμέγα 日本"))
        self.cwd = os.path.join(self.tmp, "cwd")
        os.makedirs(self.cwd)
        os.makedirs(os.path.join(self.app, "Update"))
        self.tls = one(case, "tls")
        # signed: the key the service signs with (BUILD/signed/keys/KEY.key),
        # for the build with the signed cases' keys built in.
        self.signed = one(case, "signed")
        program = "testhost-tls/FirstLoad" if self.tls else \
            "testhost-signed/FirstLoad" if self.signed else "testhost/FirstLoad"
        files = {"FirstLoad.exe": program + ".exe"} if self.wine else {
            "FirstLoad": program, "libFirstLoadHttp.so": "libFirstLoadHttp.so",
            "libFirstLoadGtk.so": "libFirstLoadGtk.so", "locale": "locale"}
        files.pop(one(case, "without"), None)
        for name, built in files.items():
            if name == "locale":
                shutil.copytree(os.path.join(build, built), os.path.join(self.app, name))
            else:
                shutil.copy(os.path.join(build, built), os.path.join(self.app, name))
        self.installed = set(files) | {"Update"}
        for program in ("VKPDownload.exe", "OtherDownload.exe"):
            target = os.path.join(self.app, "Update", program)
            if self.wine:
                shutil.copy(os.path.join(build, "standin_download.exe"), target)
            else:
                with open(target, "w") as out:
                    out.write(STANDIN)
                os.chmod(target, 0o755)
        if one(case, "update") == "none":
            shutil.rmtree(os.path.join(self.app, "Update"))
            self.installed.remove("Update")
        setup = one(case, "setup")
        if setup != "none":
            self.installed.add("Orvistane.txt")
            with open(os.path.join(self.app, "Orvistane.txt"), "wb") as out:
                out.write(setup.encode("utf-8", "surrogateescape") if setup is not None else record(
                    ["ZELVAN", one(case, "product", "Ostra-VKP"),
                     one(case, "feature", "Photo Tools")]))
        if one(case, "list") == "empty":
            open(os.path.join(self.app, "FeatDlods.txt"), "wb").close()
        if one(case, "writable") == "no":
            # Immutable: not even root, nor Wine's server, may add a file.
            subprocess.run(["chattr", "+i", self.app], check=True)
            self.cleanups.append(lambda: subprocess.run(["chattr", "-i", self.app]))
        self.env = {k: v for k, v in os.environ.items()
                    if k not in NOT_INHERITED and k not in LOCALE_VARIABLES and
                    not k.startswith("LC_")}
        # Python in the C locale gives its children LC_CTYPE=C.UTF-8: every
        # case says its locale, C.UTF-8 unless it sets another; NAME= unsets.
        self.env["LC_ALL"] = "C.UTF-8"
        self.env.update(pair.split("=", 1) for pair in case.get("env", []))
        self.env = {k: v for k, v in self.env.items() if v or k not in LOCALE_VARIABLES}
        if not self.wine:
            self.env.pop("DISPLAY", None)
            self.env.pop("WAYLAND_DISPLAY", None)
        if "locale" in case:
            lang, charset = one(case, "locale").split()
            self.env.update(LOCPATH=os.path.join(self.tmp, "locales"), LC_ALL=lang + "." + charset)
            os.makedirs(self.env["LOCPATH"])
            subprocess.run(["localedef", "-i", lang, "-f", charset,
                            os.path.join(self.env["LOCPATH"], self.env["LC_ALL"])], **QUIET)
            if not os.listdir(self.env["LOCPATH"]):
                raise RuntimeError("localedef could not build " + self.env["LC_ALL"])
        self.requests = os.path.join(self.tmp, "service.log")
        if "service" in case:
            tls = []
            if self.tls:
                # The build trusts the authority in BUILD/testca; the other is a stranger.
                trusted = os.path.join(build, "testca")
                authority = trusted if self.tls != "untrusted" else os.path.join(self.tmp, "ca")
                tls = ["--tls", authority] + (["--tls-flaw", self.tls] if self.tls in (
                    "expired", "wrongname") else [])
            if self.signed:
                tls += ["--minisign-key", os.path.join(build, "signed", "keys", self.signed + ".key")]
            service = self.start(
                sys.executable, os.path.join(SOURCE, "tools", "feature_service.py"), "--port",
                "0", "--answer", one(case, "service"), "--log", self.requests,
                "--delay", one(case, "delay", "0"), *tls, stdout=subprocess.PIPE)
            line = first_line(service.stdout.fileno(), 20)
            if not re.fullmatch(r"PORT \d+", line):
                raise RuntimeError("the example service did not start: %r" % line)
            self.port = int(line.split()[1])
            if self.tls and self.tls != "untrusted" and self.wine:
                # WinINet takes no authority file; it trusts the prefix's Root store.
                with open(os.path.join(trusted, "ca.pem"), "rb") as pem:
                    subprocess.run(["wine", os.path.join(build, "trust_root.exe")], stdin=pem,
                                   stdout=subprocess.DEVNULL, env=self.env, check=True,
                                   timeout=120)
        else:
            # Nothing answers there, whoever else listens meanwhile.
            self.port = self.hold_port().getsockname()[1]
        self.env["FIRSTLOAD_TEST_SERVICE_PORT"] = str(self.port)
        held = self.hold_port()
        self.proxy_port = held.getsockname()[1]
        self.proxy = "http://127.0.0.1:%d" % self.proxy_port
        self.squid = os.path.join(self.tmp, "squid")
        self.realm = None
        if one(case, "proxy", "closed") == "silent":
            # Connections are taken (into the kernel's backlog), never answered.
            held.listen(64)
        elif one(case, "proxy", "closed") != "closed":
            auth = one(case, "proxy").split()[1]
            if auth == "negotiate":
                # The ticket is for HTTP/localhost, the name the client asks for.
                self.proxy = "http://localhost:%d" % self.proxy_port
                self.start_kdc()
            held.close()
            self.start_squid(auth)

    def silent_port(self):
        """A port where connections are taken and never answered."""
        held = self.hold_port()
        held.listen(64)
        return held.getsockname()[1]

    def silent_wpad(self):
        """The name wpad, as this case alone sees it, for 127.0.0.1, where port
        80 takes connections and never answers."""
        if not os.environ.get("FIRSTLOAD_E2E_NAMESPACE"):
            raise Skip("WPAD needs a mount namespace of the case's own (root)")
        hosts = os.path.join(self.tmp, "hosts")
        with open(hosts, "w") as out:
            out.write("127.0.0.1 localhost wpad\n")
        subprocess.run(["mount", "--bind", hosts, "/etc/hosts"], check=True)
        self.cleanups.append(lambda: subprocess.run(["umount", "/etc/hosts"], **QUIET))
        held = socket.socket()
        held.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            held.bind(("127.0.0.1", 80))
        except OSError as e:
            held.close()
            raise Skip("port 80 is not free here: %s" % e)
        held.listen(64)
        self.cleanups.append(held.close)

    def hold_port(self):
        """A port held, unanswered, until the case ends."""
        held = reserve_port()
        self.cleanups.append(held.close)
        return held

    def start_squid(self, auth):
        """A squid with a configuration of its own that carries requests to
        the service alone, for a user with a password if auth says so."""
        port, at = self.proxy_port, lambda name: os.path.join(self.squid, name)
        os.makedirs(self.squid)
        conf = ["http_port 127.0.0.1:%d" % port, "cache_effective_user proxy",
                "pid_filename " + at("squid.pid"), "cache_log " + at("cache.log"),
                "logformat firstload %rm %ru %>Hs %un",
                "access_log stdio:%s firstload" % at("access.log"), "coredump_dir " + self.squid,
                "cache deny all", "netdb_filename none", "pinger_enable off",
                "shutdown_lifetime 0 seconds",
                # Its own rule: the default tunnels to port 443 only.
                "acl service port %d" % self.port, "http_access deny !service"]
        if auth == "none":
            conf.append("http_access allow localhost")
        elif auth == "deny":
            pass  # every request meets the last rule: 403
        elif auth == "negotiate":
            conf += ["auth_param negotiate program /usr/lib/squid/negotiate_kerberos_auth -k %s "
                     "-s HTTP/localhost@%s" % (at("http.keytab"), REALM),
                     "acl users proxy_auth REQUIRED", "http_access allow users"]
            shutil.copy(os.path.join(self.realm, "http.keytab"), at("http.keytab"))
        else:
            secret = PROXY_PASSWORD if auth == "digest" else subprocess.run(
                ["openssl", "passwd", "-apr1", "-stdin"], input=PROXY_PASSWORD.encode(),
                capture_output=True, check=True).stdout.decode().strip()
            with open(at("users"), "w", encoding="utf-8") as out:
                out.write("%s:%s\n" % (PROXY_USER, secret))
            helper = "basic_ncsa_auth" if auth == "basic" else "digest_file_auth"
            conf += ["auth_param %s program /usr/lib/squid/%s %s" % (auth, helper, at("users")),
                     "auth_param %s realm FirstLoad" % auth, "acl users proxy_auth REQUIRED",
                     "http_access allow users"]
        with open(at("squid.conf"), "w") as out:
            out.write("\n".join(conf + ["http_access deny all", ""]))
        if os.geteuid() == 0:
            # Squid leaves root for this user, who must reach its folder.
            user = pwd.getpwnam("proxy")
            os.chmod(self.tmp, 0o711)
            for name in [self.squid] + [at(n) for n in os.listdir(self.squid)]:
                os.chown(name, user.pw_uid, user.pw_gid)
        # Its shared memory is named after -n, apart from any other squid.
        realm = {"KRB5_CONFIG": os.path.join(self.realm, "krb5.conf")} if auth == "negotiate" else {}
        squid = self.start("/usr/sbin/squid", "-N", "-n", "firstload%d" % port, "-f",
                           at("squid.conf"), stop=lambda: terminate(squid),
                           env=dict(os.environ, **realm))
        if not wait_for(lambda: listens(port) or squid.poll() is not None, 30) or not listens(port):
            raise RuntimeError("squid did not start: %s" % (read(at("cache.log")) or b"")[-2000:])

    def start_kdc(self):
        """A Kerberos realm of the case's own: a KDC on a port of 127.0.0.1 that
        knows the user and the proxy's service, whose key squid gets."""
        self.realm = os.path.join(self.tmp, "realm")
        os.makedirs(self.realm)
        at = lambda name: os.path.join(self.realm, name)
        held = reserve_port()
        kdc_port = held.getsockname()[1]
        held.close()
        with open(at("krb5.conf"), "w") as out:
            out.write("[libdefaults]\n default_realm = %s\n dns_lookup_kdc = false\n"
                      " dns_lookup_realm = false\n rdns = false\n udp_preference_limit = 1\n"
                      "[realms]\n %s = {\n  kdc = 127.0.0.1:%d\n }\n"
                      "[domain_realm]\n localhost = %s\n" % (REALM, REALM, kdc_port, REALM))
        with open(at("kdc.conf"), "w") as out:
            out.write("[kdcdefaults]\n kdc_listen = 127.0.0.1:%d\n kdc_tcp_listen = 127.0.0.1:%d\n"
                      "[realms]\n %s = {\n  database_name = %s\n  key_stash_file = %s\n }\n"
                      "[logging]\n kdc = FILE:%s\n"
                      % (kdc_port, kdc_port, REALM, at("principal"), at("stash"), at("kdc.log")))
        env = dict(self.env, KRB5_CONFIG=at("krb5.conf"), KRB5_KDC_PROFILE=at("kdc.conf"))
        for step in (["kdb5_util", "create", "-s", "-P", "master", "-r", REALM],
                     ["kadmin.local", "-r", REALM, "-q", "addprinc -pw %s %s" % (
                         KERBEROS_PASSWORD, KERBEROS_USER)],
                     ["kadmin.local", "-r", REALM, "-q", "addprinc -randkey HTTP/localhost"],
                     ["kadmin.local", "-r", REALM, "-q", "ktadd -k %s HTTP/localhost"
                      % at("http.keytab")]):
            subprocess.run(step, env=env, check=True, **QUIET)
        self.start("krb5kdc", "-n", env=env)
        if not wait_for(lambda: listens(kdc_port), 20):
            raise RuntimeError("the KDC did not start: %r" % read(at("kdc.log")))
        # The user's ticket, as kinit leaves it at log-in.
        subprocess.run(["kinit", KERBEROS_USER], input=KERBEROS_PASSWORD.encode(), check=True,
                       env=dict(env, KRB5CCNAME="FILE:" + at("ticket")),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def tell_proxy(self, run, env):
        """Puts the proxy where the run looks for it; the credentials given."""
        via, _, what = one(run, "proxy-via", "").partition(" ")
        secrets = {"yes": (PROXY_USER, PROXY_PASSWORD),
                   "wrong": (PROXY_USER, WRONG_PASSWORD)}.get(one(run, "credentials", "no"), ())
        address = self.proxy.replace("//", "//%s:%s@" % tuple(
            quote(s, safe="") for s in secrets), 1) if secrets else self.proxy
        port = self.proxy_port
        if self.realm:
            # The user's own ticket, or none at all.
            ticket = "ticket" if one(run, "credentials") == "ticket" else "no-ticket"
            env.update(KRB5_CONFIG=os.path.join(self.realm, "krb5.conf"),
                       KRB5CCNAME="FILE:" + os.path.join(self.realm, ticket))
        if via == "env":
            env[what] = address
        elif via == "gnome":
            env.update(GSETTINGS_BACKEND="keyfile", XDG_CONFIG_HOME=os.path.join(self.tmp, "xdg"),
                       XDG_CURRENT_DESKTOP="GNOME", DESKTOP_SESSION="gnome")
            settings = os.path.join(env["XDG_CONFIG_HOME"], "glib-2.0", "settings")
            os.makedirs(settings, exist_ok=True)
            pac = os.path.join(self.tmp, "pac")
            # GNOME's own default exempts localhost and 127.0.0.0/8, the service's.
            mode = "auto" if what.startswith("auto") or what == "wpad" else what
            keyfile = "[system/proxy]\nmode='%s'\nignore-hosts=@as []\n" % mode
            if what == "auto silent":
                keyfile += "autoconfig-url='http://127.0.0.1:%d/proxy.pac'\n" % self.silent_port()
            elif what == "wpad":
                self.silent_wpad()
            elif what.startswith("auto"):
                answer = ("for (;;) {}" if what == "auto loop" else
                          'return "PROXY 127.0.0.1:%d";' % port)
                os.makedirs(pac, exist_ok=True)
                with open(os.path.join(pac, "proxy.pac"), "w") as out:
                    out.write("function FindProxyForURL(url, host) { %s }\n" % answer)
                # libproxy fetches it itself, over plain http, from a port the
                # system picks, so that no connection of another test holds it.
                server = self.start(sys.executable, "-u", "-m", "http.server", "--bind",
                                    "127.0.0.1", "--directory", pac, "0", stdout=subprocess.PIPE)
                said = re.search(r" port (\d+) ", first_line(server.stdout.fileno(), 20))
                if not said:
                    raise RuntimeError("the PAC file is not served")
                keyfile += "autoconfig-url='http://127.0.0.1:%s/proxy.pac'\n" % said[1]
            else:
                keyfile += "".join("[system/proxy/%s]\nhost='127.0.0.1'\nport=%d\n" % (scheme, port)
                                   for scheme in ("http", "https"))
            with open(os.path.join(settings, "keyfile"), "w") as out:
                out.write(keyfile)
        elif via == "registry":
            values = (("ProxyEnable", "REG_DWORD", "1"), ("ProxyServer", "REG_SZ",
                                                          "127.0.0.1:%d" % port))
            values += (("ProxyOverride", "REG_SZ", one(run, "bypass")),) if "bypass" in run else ()
            # The prefix serves every case: the values go with the run.
            self.cleanups.append(lambda: [subprocess.run(
                ["wine", "reg", "delete", INTERNET_SETTINGS, "/v", name, "/f"], env=self.env,
                **QUIET) for name, _, _ in values])
            for name, kind, value in values:
                subprocess.run(["wine", "reg", "add", INTERNET_SETTINGS, "/v", name, "/t", kind,
                                "/d", value, "/f"], env=self.env, check=True, **QUIET)
        return secrets

    def check_proxy(self, run, err, logged, secrets):
        """Whether squid carried the request, and that no credential shows."""
        log = read(os.path.join(self.app, "NetError.log")) or b""
        for secret in secrets:
            for form in {secret.encode(), secret.encode("cp1252"), quote(secret, safe="").encode()}:
                self.check(form not in err and form not in log, "%r is shown" % form)
        if "proxied" not in run:
            return
        lines = []

        def carried():
            lines[:] = (read(os.path.join(self.squid, "access.log")) or b"")[logged:].decode(
                "utf-8", "replace").splitlines()
            return any(re.fullmatch(r"%s \S*:%d\S* 200 .*" % (
                "CONNECT" if self.tls else "GET", self.port), line) for line in lines)
        if one(run, "proxied") == "yes":
            self.check(wait_for(carried, 10), "squid carried none: %r" % lines)
        else:
            # Squid logs a request once it is over, which the run's end is.
            time.sleep(1)
            carried()
            self.check(listens(self.proxy_port) and not lines, "squid saw %r" % lines)

    def start(self, *argv, stop=None, **streams):
        """A helper process, ended with the case."""
        process = subprocess.Popen(argv, **{**QUIET, **streams})
        self.cleanups.append(stop or (lambda: (process.kill(), process.wait())))
        return process

    def display(self):
        """Wine's display, or a private X server for a windowed native run."""
        if self.wine or self.xdisplay:
            return self.xdisplay or self.env["DISPLAY"]
        ready, announce = os.pipe()
        # No reset when the last client leaves: a client connecting meanwhile
        # would be dropped with the others.
        with open(os.path.join(self.tmp, "xvfb.log"), "wb") as log:
            self.start("Xvfb", "-displayfd", str(announce), "-screen", "0", "1024x768x24",
                       "-nolisten", "tcp", "-noreset", pass_fds=(announce,),
                       stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        os.close(announce)
        display = self.xdisplay = ":" + first_line(ready, 20)
        os.close(ready)
        # Until a client with the runs' own environment gets in.
        self.check(wait_for(lambda: subprocess.run(["xdpyinfo"], env=dict(self.env, DISPLAY=display),
                                                   **QUIET).returncode == 0, 10, 0.1),
                   "Xvfb %s took no client: %r" % (display, read(os.path.join(self.tmp, "xvfb.log"))))
        return display

    def start_running(self, kind, name):
        """A process of that name from another folder, until the run ends."""
        elsewhere = tempfile.mkdtemp(dir=self.tmp)
        named = os.path.join(elsewhere, name)
        argv = [named, "30"]
        if kind in ("copy", "replaced"):
            shutil.copy("/bin/sleep", named)
            if kind == "replaced":
                # Started through another name, so only the executable's own
                # name, whose file is then replaced, can tell.
                argv[0] = os.path.join(elsewhere, "runner")
                os.symlink(named, argv[0])
        elif kind == "script":
            with open(named, "w") as out:
                out.write("#!/bin/sh\nsleep 30\n:\n")
            os.chmod(named, 0o755)
            argv = [named]
        elif kind == "symlink":
            os.symlink("/bin/sleep", named)
        elif kind == "argument":
            argv = ["/bin/sh", "-c", "sleep 30; :", name]
        elif kind == "later":
            argv = ["/bin/sleep", "30", name]
        elif kind in ("envscript", "interpreter"):
            with open(named, "w") as out:
                out.write("#!/usr/bin/env python3\nimport time\ntime.sleep(30)\n")
            os.chmod(named, 0o755)
            # The kernel starts env, which starts python3 with the script's path.
            argv = [named] if kind == "envscript" else ["python3", "-u", name]
        elif kind in ("firstargument", "winpath"):
            # sleep's own file and kernel name; only the first argument tells.
            argv = [name if kind == "firstargument" else "C:\\Product\\Update\\" + name, "30"]
        elif kind == "nofile":
            # Like grep NAME build.log where no such file is: the name comes
            # first but names no file. Waits on its open input.
            argv = ["grep", name]
        else:
            shutil.copy(os.path.join(self.args.build, "standin_download.exe"), named)
            # The stand-in stays until a file "stop" appears beside it.
            stayer = self.start("wine", named, "--stay", stop=lambda: (
                open(os.path.join(elsewhere, "stop"), "w").close(), stayer.wait(90)))
            return self.check(wait_for(lambda: os.path.exists(os.path.join(elsewhere, "ready")),
                                       30), "the running stand-in did not start")
        # Popen returns once the program runs.
        extra = dict(executable="/bin/sleep") if kind in ("firstargument", "winpath") else \
            dict(stdin=subprocess.PIPE) if kind == "nofile" else {}
        process = self.start(*argv, start_new_session=True, cwd=elsewhere, **extra,
                             stop=lambda: (os.killpg(process.pid, signal.SIGKILL), process.wait()))
        if kind in ("envscript", "interpreter"):
            # python3 may be a launcher script (pyenv's shims) that execs the
            # interpreter only later; until then the process is no script's.
            def interpreting():
                try:
                    return os.path.basename(os.readlink("/proc/%d/exe" % process.pid)).startswith(
                        "python")
                except OSError:
                    return False
            self.check(wait_for(interpreting, 30), "python3 did not start")
        if kind == "replaced":
            os.remove(named)
            with open(named, "w") as out:
                out.write("a newer program")

    def hold(self, seconds):
        """Another program that holds the list's temporary file for a moment."""
        path = "Z:" + os.path.join(self.app, "FeatDlods_temp.txt").replace("/", "\\")
        holder = self.start("wine", os.path.join(self.args.build, "hold_file.exe"), path,
                            str(int(seconds * 1000)), env=self.env, stdout=subprocess.PIPE,
                            stop=lambda: self.check(holder.wait(90) == 0,
                                                    "the temporary file was never held"))
        self.check(first_line(holder.stdout.fileno(), 60) == "waiting", "hold_file did not start")

    def accessibility(self):
        """A session bus of the case's own and the accessibility bus on it,
        which GTK's bridge and a screen reader find through it."""
        if self.a11y:
            return self.a11y
        path = os.path.join(self.tmp, "session-bus")
        env = dict(self.env, DISPLAY=self.display(), DBUS_SESSION_BUS_ADDRESS="unix:path=" + path)
        # Each in a session of its own, which ends with it, with what it started.
        bus = self.start("dbus-daemon", "--session", "--nofork", "--address=" + env[
            "DBUS_SESSION_BUS_ADDRESS"], start_new_session=True, env=env,
            stop=lambda: (os.killpg(bus.pid, signal.SIGKILL), bus.wait()))
        if not wait_for(lambda: os.path.exists(path), 20):
            raise RuntimeError("the session bus did not start")
        launcher = self.start("/usr/libexec/at-spi-bus-launcher", "--launch-immediately",
                              start_new_session=True, env=env, stop=lambda: (
                                  os.killpg(launcher.pid, signal.SIGKILL), launcher.wait()))

        def owned():
            # Asked earlier, the session bus would start a launcher of its own.
            return b"boolean true" in subprocess.run(
                ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                 "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                 "string:org.a11y.Bus"], env=env, capture_output=True, timeout=20).stdout
        if not wait_for(owned, 20, 0.1) or subprocess.run(
                ["dbus-send", "--session", "--print-reply", "--reply-timeout=20000",
                 "--dest=org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus.GetAddress"],
                env=env, **QUIET, timeout=30).returncode != 0:
            raise RuntimeError("the accessibility bus did not start")
        self.a11y = {"DBUS_SESSION_BUS_ADDRESS": env["DBUS_SESSION_BUS_ADDRESS"]}
        return self.a11y

    def one_run(self, run):
        windowed = self.wine or one(run, "display") == "yes"
        env = dict(self.env, DISPLAY=self.display()) if windowed else dict(self.env)
        if windowed and not self.wine:
            env.update(self.accessibility())
        if "linger" in run:
            env["FIRSTLOAD_TEST_LINGER"] = one(run, "linger")
        if os.path.exists(self.requests):
            os.remove(self.requests)
        stops = len(self.cleanups)
        if "running" in run:
            self.start_running(*one(run, "running").split(" ", 1))
        if "held" in run:
            self.hold(float(one(run, "held")))
        secrets = self.tell_proxy(run, env)
        logged = len(read(os.path.join(self.squid, "access.log")) or b"")

        signals, descriptors = one(run, "signals") == "inherited", one(run, "descriptors") == "inherited"

        def inherit():
            if signals:
                signal.signal(signal.SIGHUP, signal.SIG_IGN)
                signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGUSR1})
            if descriptors:
                os.dup2(0, 7)  # inheritable, and every other one is not
        closed = one(run, "output") == "closed"
        # Under Wine, processes of Wine's own may keep a pipe open: a file then.
        err = open(os.path.join(self.tmp, "stderr"), "w+b") if self.wine else bytearray()
        gone, out = os.pipe() if closed else (None, err if self.wine else subprocess.PIPE)
        if closed:
            os.close(gone)
        argv = (["wine", os.path.join(self.app, "FirstLoad.exe")] if self.wine else
                self.args.emulator + [os.path.join(self.app, "FirstLoad")])
        began = time.monotonic()
        others = [subprocess.Popen(argv, cwd=self.cwd, env=env, **QUIET)
                  for _ in range(int(one(run, "together", "1")) - 1)]
        process = subprocess.Popen(
            argv, cwd=self.cwd, env=env,
            stdin=subprocess.DEVNULL, stdout=out if closed else subprocess.DEVNULL, stderr=out,
            preexec_fn=inherit if signals or descriptors else None, close_fds=not descriptors)
        reader = threading.Thread(target=lambda: process.stderr and err.extend(process.stderr.read()))
        reader.start()
        if closed:
            os.close(out)
        closed_at = self.close_form(process, env, run) if windowed and "close" in run else None
        if windowed and "message" in run:
            self.dismiss(process, env, run, closed_at)
        try:
            status = process.wait(timeout=120)
        except subprocess.TimeoutExpired:
            process.kill()
            status = process.wait()
            self.check(False, "FirstLoad did not end in time")
        took = time.monotonic() - began
        limit = float(one(run, "seconds", 60 if self.wine else 20 if windowed else 5))
        self.check(took < limit, "the run took %.1f s, more than %g" % (took, limit))
        for other in others:
            self.check(other.wait(120) == status, "a run beside it ended with %d" % other.returncode)
        reader.join(10)
        # Nothing it started keeps its standard error open.
        self.check(not reader.is_alive(), "standard error stays open after the run")
        while len(self.cleanups) > stops:
            self.cleanups.pop()()
        self.check(status == int(one(run, "status")), "exit status %d" % status)
        if self.wine:
            err.seek(0)
            err = err.read()
        if windowed and b"cannot open the display" in bytes(err):
            self.check(False, "the display refused FirstLoad; Xvfb said %r, and now %s" % (
                read(os.path.join(self.tmp, "xvfb.log")),
                "takes clients" if subprocess.run(["xdpyinfo"], env=env, **QUIET).returncode == 0
                else "takes none"))
        if not closed:
            self.check_stderr(run, bytes(err), windowed)
        self.check_proxy(run, bytes(err), logged, secrets)
        self.check_files(run)

    def search(self, process, run):
        """xdotool's arguments that find the run's form and message box, both
        titled alike: under Wine the display serves other tests too, so only
        this run's windows, by the process that made them."""
        caption = one(run, "caption")
        title = TITLE if caption is None else "^%s$" % re.escape(caption)
        return (["search", "--onlyvisible"] + (["--pid", str(process.pid)] if self.wine else []) +
                ["--name", title])

    def close_form(self, process, env, run):
        """Presses the form's close button (WM_DELETE_WINDOW, as a window
        manager sends it) once it has been shown for the seconds close says;
        it must be gone within a second. Returns when the button was pressed."""
        windows, display = [], env["DISPLAY"]

        def shown():
            windows[:] = xdotool(display, *self.search(process, run)).split()
            return len(windows) == 1
        if not self.check(wait_for(shown, 60, 0.1), "no form to close: %r" % windows):
            return None
        time.sleep(float(one(run, "close")))
        request_close(display, int(windows[0]))
        closed_at = time.monotonic()
        self.check(wait_for(lambda: windows[0] not in xdotool(
            display, *self.search(process, run)).split(), 1, 0.05), "the form did not close")
        return closed_at

    def dismiss(self, process, env, run, closed_at=None):
        """Waits for the form and the message box, checks what they show, and
        presses OK; after the form was closed, for the message box alone,
        within 4 s of the close."""
        windows, display, caption = [], env["DISPLAY"], one(run, "caption")
        search = self.search(process, run)
        expected = 1 if closed_at else 2

        # Exactly so many: Wine may show a window of the process a moment
        # more while it makes another.
        def all_shown():
            windows[:] = xdotool(display, *search).split()
            return len(windows) == expected
        # A program that has ended shows nothing more.
        self.check(wait_for(lambda: all_shown() or process.poll() is not None, 60, 0.1) and
                   len(windows) == expected, "the form and the message box: %r" % windows)
        if closed_at:
            took = time.monotonic() - closed_at
            self.check(took < 4, "the message came %.1f s after the form was closed" % took)
        if not closed_at:
            self.check_shown(process, env, run, caption)
        deadline = time.monotonic() + 60
        while process.poll() is None and time.monotonic() < deadline:
            # Return in each window; the form takes no keys.
            for window in xdotool(display, *search).split():
                xdotool(display, "windowfocus", "--sync", window)
                xdotool(display, "key", "--clearmodifiers", "Return")
            time.sleep(0.5)

    def check_shown(self, process, env, run, caption):
        """What the form and the message box show, read from outside."""
        shown = None
        if not self.wine:
            # As a screen reader reads them: the form and the message box by
            # their titles, and the labels inside.
            shown = self.read_out(process, env, "frame,text,alert,message")
        elif "line" in run or "says" in run:
            shown = subprocess.run(["wine", os.path.join(self.args.build, "wininfo.exe"), "windows",
                                    "Z:" + self.app.replace("/", "\\")],
                                   env=env, capture_output=True, timeout=60).stdout
        if shown is not None:
            shown = shown.decode("utf-8", "replace").splitlines()
            for key, kind in (("line", "text|"), ("says", "message|")):
                if key in run:
                    self.check(kind + one(run, key) in shown, "%s shown: %r" % (key, shown))
        if not self.wine:
            for kind, what in (("frame|", "caption"), ("alert|", "title")):
                self.check(kind + (caption or CAPTION) in shown, "%s read out: %r" % (what, shown))

    def read_out(self, process, env, until):
        """What tests/atspi_info.py, run by Debian's python3, reads of FirstLoad."""
        try:
            return subprocess.run(["/usr/bin/python3", os.path.join(SOURCE, "tests", "atspi_info.py"),
                                   "--pid", str(process.pid), "--until", until, "--seconds", "30"],
                                  env=env, stdout=subprocess.PIPE, timeout=60).stdout
        except subprocess.TimeoutExpired:
            return b"the reader did not end"

    def check_stderr(self, run, err, windowed):
        why, message = one(run, "why"), one(run, "message")
        why = why and why.replace("{proxy}", self.proxy)
        unstored = one(run, "unstored")
        said = SAID if unstored is None else STORED
        if unstored is not None:
            # Said at the list's path; under Wine that is a Windows path.
            why, address = unstored, " at " + ("Z:" + self.app.replace("/", "\\") + "\\"
                                               if self.wine else self.app + "/") + "FeatDlods.txt"
        else:
            origin = "https://localhost" if self.tls else "http://127.0.0.1"
            page = one(run, "page", one(run, "query", ""))
            address = " from %s:%d%s" % (origin, self.port, page)
        if self.wine:
            # Only FirstLoad's own lines: Wine may add its own.
            lines = [line for line in err.decode("cp1252", "replace").splitlines()
                     if line.startswith("FirstLoad")]
            if not self.check(len(lines) == (why is not None), "standard error: %r" % lines) \
                    or not lines:
                return
            head, tail, err = said, address, lines[0]
        else:
            err = err.decode("utf-8", "surrogateescape")
            head = NOTICE if one(run, "connecting") == "yes" and not windowed else ""
            tail = MESSAGE % message if message is not None and not windowed else ""
            if why is not None:
                head, tail = head + said, address + "\n" + tail
        middle = err[len(head):len(err) - len(tail)]
        if one(run, "blamed") == "no":
            self.check("proxy" not in middle and self.proxy not in middle,
                       "the proxy is blamed: %r" % err)
        self.check(err.startswith(head) and err.endswith(tail) and
                   len(err) >= len(head) + len(tail) and "\n" not in middle and
                   (why in middle if why is not None else not middle), "standard error: %r" % err)

    def check_files(self, run):
        if "service" in run:
            requests = (read(self.requests) or b"").decode().splitlines()
            self.check(requests == run.get("query", []), "requests: %r" % requests)
        stored = read(os.path.join(self.app, "FeatDlods.txt"))
        if "row" in run:
            self.check(stored == b"".join(record(r.split("|")) for r in run["row"]),
                       "stored list: %r" % stored)
        else:
            self.check((stored is not None) == (one(run, "stored") == "yes"),
                       "stored list: %r" % stored)
        self.check_launch(one(run, "launch"), "linger" in run)
        log, pattern = read(os.path.join(self.app, "NetError.log")), one(run, "log", "none")
        self.check(log is None if pattern == "none" else log is not None and re.fullmatch(
            ".*".join(map(re.escape, pattern.split("*"))), log.decode("latin-1"), re.S),
            "error log: %r" % log)
        expected = self.installed | {name for name, there in (
            ("FeatDlods.txt", stored is not None), ("NetError.log", log is not None)) if there}
        left = set(os.listdir(self.app))
        self.check(left == expected, "the folder holds %r" % sorted(left ^ expected))
        self.check(not os.listdir(self.cwd), "the working folder holds %r" % os.listdir(self.cwd))

    def check_launch(self, launch, lingers):
        update = os.path.join(self.app, "Update")
        record = os.path.join(update, "started-with.")
        started = wait_for(lambda: os.path.exists(record + "txt"),
                           (20 if self.wine else 5) if launch != "none" else
                           (3 if self.wine else 0.5))
        line = read(record + "txt")
        ok = self.check(started == (launch != "none"), "started: %r" % line)
        program, _, parameter = launch.partition(" ")
        if ok and started and self.wine:
            # The shell quotes the program and puts the parameter after it; a
            # single-byte program reads the parameter in the ANSI code page.
            quoted = re.fullmatch(r'"([^"]*)" (.*)', line.decode("utf-8"), re.S)
            self.check(quoted and ntpath.basename(quoted[1]) == program and
                       quoted[2] == parameter, "started as %r" % line)
            ansi = read(record + "ansi")
            self.check(re.fullmatch(rb'"[^"]*" ' + re.escape(parameter.encode("cp1252")), ansi),
                       "started as %r in ANSI" % ansi)
        elif ok and started:
            self.check(line.split(b"\n") == [program.encode(), b"1", parameter.encode(
                "utf-8", "surrogateescape"), b""], "started as %r" % line)
            # On its own: in a session of its own, with no signal blocked or
            # ignored, and not waited for.
            self.check(int(read(record + "sid")) != os.getsid(0), "in the run's session")
            self.check(read(record + "signals") == CLEAN_SIGNALS,
                       "signals: %r" % read(record + "signals"))
            self.check(read(record + "fds") == b"", "given descriptors %r" % read(record + "fds"))
            if lingers:
                pid = int(read(record + "pid"))
                stat = read("/proc/%d/stat" % pid) or b""
                # Alive, not a zombie that nothing reaps.
                self.check(stat.rsplit(b")", 1)[-1][:2] not in (b"", b" Z"),
                           "the program has ended: %r" % stat)
                try:
                    os.killpg(pid, signal.SIGKILL)
                except ProcessLookupError:
                    self.check(False, "the run waited for the program")
        if launch != "none" or os.path.exists(record + "starts"):
            time.sleep(0.5)  # a second start, were there one, has had time to say so
            starts = (read(record + "starts") or b"").splitlines()
            self.check(len(starts) == (launch != "none"), "started %d times" % len(starts))
            # None may outlive its case.
            for pid in starts if not self.wine else []:
                try:
                    os.killpg(int(pid), signal.SIGKILL)
                except ProcessLookupError:
                    pass
            if self.wine and lingers:
                stop = os.path.join(update, "stop")
                open(stop, "w").close()
                time.sleep(1)  # the stand-in looks every 100 ms
                os.remove(stop)
        for name in os.listdir(update) if os.path.isdir(update) else []:
            if name.startswith("started-with."):
                os.remove(os.path.join(update, name))


def own_process_table(args):
    """Natively and as root, runs this script again in a process namespace of
    its own, so that cases side by side never see each other's download
    programs running."""
    if args.platform != "posix" or os.geteuid() != 0 or os.environ.get("FIRSTLOAD_E2E_NAMESPACE"):
        return
    unshare = ["unshare", "--pid", "--fork", "--mount-proc", "--kill-child"]
    if subprocess.run(unshare + ["true"], **QUIET).returncode == 0:
        os.environ["FIRSTLOAD_E2E_NAMESPACE"] = "1"
        os.execvp(unshare[0], unshare + [sys.executable] + sys.argv)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--platform", choices=("posix", "wine"), required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--emulator", action="append", default=[],
                        help="runs a build for another machine (posix)")
    parser.add_argument("cases", nargs="+")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
    own_process_table(args)
    failed = skipped = 0
    for path in args.cases:
        with open(path, encoding="utf-8", errors="replace") as f:
            title = f.readline().lstrip("# ").strip()
        try:
            problems = Case(path, args).run()
        except Skip as why:
            print("SKIP %s (%s): %s" % (path, title, why))
            skipped += 1
            continue
        print("%s %s (%s)" % ("FAIL" if problems else "ok", path, title))
        print("".join("  %s\n" % problem for problem in problems), end="")
        failed += bool(problems)
    return 1 if failed else 77 if skipped else 0


if __name__ == "__main__":
    sys.exit(main())
