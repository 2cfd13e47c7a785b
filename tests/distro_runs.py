#!/usr/bin/env python3
"""Runs an unpacked Linux package in the root file system of a Debian
release, in a network and mount namespace of its own, as a user of that
release would: the example service answers on port 80 for the product's own
host name, a proxy listens beside it, and windowed runs have an Xvfb display
of their own. Each row of RUNS is one run in a fresh copy of the package.

  distro_runs.py --root DIR --package FOLDER --source CHECKOUT [--name NAME]
"""
import argparse
import http.client
import http.server
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

from e2e_runner import SAID, first_line, read, wait_for

HOST = "features.zelvan.example"  # the release build's service
LIST = "ZELVAN"  # the record's product, which the example service lists
LAUNCH = "VKP*#OTHERFILE#Photo Tools"
MESSAGE = "Could not connect to Zelvan's Website to download 'Photo Tools'"
GNOME = "[system/proxy]\nmode='manual'\nignore-hosts=@as []\n[system/proxy/http]\nhost='127.0.0.1'\nport=3128\n"

# answer: the service's (None: a list is stored before and no service runs);
# window: on the display; gnome: GNOME's settings name the proxy; then what
# must come of it: the exit status, whether the service was asked through
# the proxy, and the reason a failure gives.
RUNS = [
    dict(what="a first run, headless", answer="ok", status=0),
    dict(what="a common run", answer=None, status=0),
    dict(what="a first run in a window", answer="ok", window=True, status=0),
    dict(what="a first run in a window through GNOME's proxy", answer="ok", window=True,
         gnome=True, proxied=True, status=0),
    dict(what="a failure", answer="status:500", status=1, reason="HTTP 500"),
    dict(what="a redirect to a file", answer="redirect:file:///etc/passwd", status=1,
         reason="a redirect to file was refused"),
]
# Windowed runs: the service waits this long, so that the form is seen.
DELAY = 3


class Proxy(http.server.BaseHTTPRequestHandler):
    """Carries a request for an absolute address to the service, and logs it."""
    log_path = None

    def do_GET(self):
        with open(self.log_path, "a") as log:
            log.write(self.path + "\n")
        connection = http.client.HTTPConnection("127.0.0.1", 80, timeout=30)
        target = self.path.split("/", 3)[3] if self.path.startswith("http://") else self.path
        connection.request("GET", "/" + target, headers={"Host": HOST})
        answer = connection.getresponse()
        body = answer.read()
        self.send_response(answer.status)
        for name, value in answer.getheaders():
            if name.lower() not in ("transfer-encoding", "connection", "content-length"):
                self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


class Runs:
    def __init__(self, args, tmp):
        self.args, self.tmp, self.root = args, tmp, os.path.abspath(args.root)
        self.failures = []
        # The namespace's own: loopback up, the product's host name on it, the
        # run folders, /proc and /dev inside the root file system.
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
        hosts = os.path.join(tmp, "hosts")
        with open(hosts, "w") as f:
            f.write("127.0.0.1 localhost %s\n" % HOST)
        open(os.path.join(self.root, "etc/hosts"), "a").close()  # debootstrap writes none
        for source, target in ((hosts, "etc/hosts"), (tmp, "mnt"), ("/dev", "dev")):
            subprocess.run(["mount", "--rbind", source, os.path.join(self.root, target)], check=True)
        subprocess.run(["mount", "-t", "proc", "proc", os.path.join(self.root, "proc")], check=True)
        Proxy.log_path = os.path.join(tmp, "proxy.log")
        proxy = http.server.ThreadingHTTPServer(("127.0.0.1", 3128), Proxy)
        threading.Thread(target=proxy.serve_forever, daemon=True).start()
        self.display = None

    def start_display(self):
        announce, told = os.pipe()
        self.xvfb_log = os.path.join(self.tmp, "xvfb.log")
        with open(self.xvfb_log, "wb") as log:
            xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(told), "-listen", "tcp", "-ac",
                                     "-screen", "0", "1024x768x24", "-noreset"],
                                    pass_fds=(told,), stdout=log, stderr=log)
        os.close(told)
        # The whole line: Xvfb writes the newline apart from the number, and
        # dies if the pipe is closed between the two.
        self.display = "127.0.0.1:" + first_line(announce, 20)
        os.close(announce)
        if not wait_for(self.takes_clients, 10, 0.1):
            self.failures.append("Xvfb %s took no client: %r" % (self.display,
                                                                read(self.xvfb_log)))
        return xvfb

    def takes_clients(self):
        return subprocess.run(["xwininfo", "-root", "-display", self.display],
                              capture_output=True).returncode == 0

    def inside(self, path):
        return "/mnt/" + os.path.relpath(path, self.tmp)

    def chroot(self, argv, env, **kw):
        command = ["chroot", self.root, "/usr/bin/env", "-i"] + \
                  ["%s=%s" % item for item in sorted(env.items())] + argv
        return subprocess.run(command, capture_output=True, timeout=120, **kw)

    def check(self, ok, what):
        if not ok:
            self.failures.append("%s: %s" % (self.current, what))

    def run(self, number, row):
        self.current = row["what"]
        folder = os.path.join(self.tmp, "run%d" % number)
        app = os.path.join(folder, os.path.basename(self.args.package))
        shutil.copytree(self.args.package, app, symlinks=True)
        env = {"PATH": "/usr/bin:/bin", "HOME": "/root", "LC_ALL": "C.UTF-8"}
        made = self.chroot([self.inside(os.path.join(app, "recordfile")), "put",
                            self.inside(os.path.join(app, "Orvistane.txt")), LIST, "Ostra-VKP",
                            "Photo Tools"], env)
        self.check(made.returncode == 0, "recordfile: %r" % made.stderr)
        os.mkdir(os.path.join(app, "Update"))
        standin = os.path.join(app, "Update", "VKPDownload.exe")
        with open(standin, "w") as f:
            f.write('#!/bin/sh\nprintf \'%s\\n\' "$@" > "$(dirname "$0")/started-with.txt"\n')
        os.chmod(standin, 0o755)
        stored = os.path.join(app, "FeatDlods.txt")
        if row["answer"] is None:
            with open(stored, "w") as f:
                f.write("")
        service_log = os.path.join(folder, "service.log")
        service = None
        if row["answer"] is not None:
            service = subprocess.Popen(
                [sys.executable, os.path.join(self.args.source, "tools", "feature_service.py"),
                 "--port", "80", "--answer", row["answer"], "--log", service_log,
                 "--delay", str(DELAY if row.get("window") else 0)],
                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            self.check(service.stdout.readline().startswith(b"PORT "), "the service did not start")
        if row.get("window"):
            env.update(DISPLAY=self.display, NO_AT_BRIDGE="1")
        if row.get("gnome"):
            settings = os.path.join(folder, "xdg", "glib-2.0", "settings")
            os.makedirs(settings)
            with open(os.path.join(settings, "keyfile"), "w") as f:
                f.write(GNOME)
            env.update(GSETTINGS_BACKEND="keyfile", XDG_CONFIG_HOME=self.inside(
                os.path.join(folder, "xdg")), XDG_CURRENT_DESKTOP="GNOME", DESKTOP_SESSION="gnome")
        proxied_before = len(read(Proxy.log_path) or b"")
        seen = []
        watcher = threading.Thread(target=self.watch_form, args=(seen,)) if row.get("window") else None
        if watcher:
            watcher.start()
        ran = self.chroot([self.inside(os.path.join(app, "FirstLoad"))], env)
        if watcher:
            watcher.join()
        if service:
            service.kill()
            service.wait()
        err = ran.stderr.decode("utf-8", "replace")
        self.check(ran.returncode == row["status"], "status %d: %s" % (ran.returncode, err))
        asked = read(service_log) or b""
        self.check((b"/Features.aspx?" in asked) == (row["answer"] is not None),
                   "the service was asked %r" % asked)
        proxied = (read(Proxy.log_path) or b"")[proxied_before:]
        self.check((b"/Features.aspx?" in proxied) == bool(row.get("proxied")),
                   "the proxy carried %r" % proxied)
        if row.get("window"):
            self.check(seen, "no form was seen on the display: %s; Xvfb said %r" % (
                err, read(self.xvfb_log)))
        if row["status"] == 0:
            self.check(read(stored) is not None, "no list was stored")
            for _ in range(50):
                if os.path.exists(os.path.join(app, "Update", "started-with.txt")):
                    break
                time.sleep(0.1)
            launched = read(os.path.join(app, "Update", "started-with.txt"))
            self.check(launched == (LAUNCH + "\n").encode(), "started with %r" % launched)
        else:
            self.check(read(stored) is None, "a list was stored")
            self.check(SAID + row["reason"] in err, "the reason was not given: %s" % err)
            self.check(MESSAGE in err, "no message: %s" % err)
        print("%s %s: %s" % (self.args.name, row["what"],
                             "FAILED" if any(f.startswith(self.current + ":") for f in self.failures)
                             else "passed"), flush=True)

    def watch_form(self, seen):
        deadline = time.monotonic() + DELAY + 5
        while time.monotonic() < deadline and not seen:
            tree = subprocess.run(["xwininfo", "-root", "-tree", "-display", self.display],
                                  capture_output=True, text=True).stdout
            if "Zelvan's Downloader" in tree:
                seen.append(True)
            time.sleep(0.1)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--package", required=True, help="the unpacked package's folder")
    parser.add_argument("--source", required=True, help="the checkout, for the example service")
    parser.add_argument("--name", default="")
    args = parser.parse_args()
    if os.environ.get("FIRSTLOAD_DISTRO_NAMESPACE") != "1":
        os.environ["FIRSTLOAD_DISTRO_NAMESPACE"] = "1"
        os.execvp("unshare", ["unshare", "--net", "--mount", "--fork", sys.executable] + sys.argv)
    tmp = tempfile.mkdtemp(prefix="firstload-distro-")
    runs = Runs(args, tmp)
    xvfb = runs.start_display()
    try:
        for number, row in enumerate(RUNS):
            runs.run(number, row)
    finally:
        xvfb.kill()
        subprocess.run(["umount", "-R", os.path.join(args.root, "proc"),
                        os.path.join(args.root, "dev"), os.path.join(args.root, "mnt"),
                        os.path.join(args.root, "etc/hosts")], stderr=subprocess.DEVNULL)
        shutil.rmtree(tmp, ignore_errors=True)
    for failure in runs.failures:
        print("FAIL %s %s" % (args.name, failure), file=sys.stderr)
    sys.exit(1 if runs.failures else 0)


if __name__ == "__main__":
    main()
