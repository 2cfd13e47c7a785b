#!/usr/bin/env python3
"""Whole runs of FirstLoad, each case described by a file in tests/data/.

  e2e_runner.py --platform posix|wine --build BUILD --port PORT CASE...

posix runs BUILD/testhost/FirstLoad headless; wine runs BUILD/testhost/
FirstLoad.exe under Wine, windowed (WINEPREFIX and DISPLAY ready, as
scripts/test-windows leaves them). Both ask tools/feature_service.py on
127.0.0.1:PORT. Exit status 0 when every case passed, 77 when one cannot run
on this machine, else 1.

A case file: '#' lines are comments, the first one saying what the case shows;
'key: value' lines; '[run]' starts another run in the same folder, whose keys
add to the case's own. 'key@posix:' or 'key@wine:' gives that platform's
value. Double quotes around a value keep its outer spaces; \\xNN is a raw byte.

The case:
  platforms  posix or wine (read by CMake too); both when absent
  firstload  native: the native build, also in the wine run
             (FIRSTLOAD_NATIVE_BUILD or build/; the case is skipped without it)
  folder     the application folder's name (default: one no code page spells)
  setup      none, or the bytes of Orvistane.txt; else a ZELVAN record of
  product    column 1 and
  feature    column 2
  list       empty: an empty FeatDlods.txt is there before the first run
  update     none: no Update folder; else a stand-in for each download program
  without    a file taken out of the installed folder
  service    the service's --answer; no service when absent
  locale     NAME CHARSET: built with localedef for the run, LC_ALL set to it
  env        NAME=value for FirstLoad (one per line)
A run, started from an empty working folder:
  display    yes: windowed on an Xvfb display (under Wine always)
  output     closed: standard output and error are a pipe with no reader
  signals    inherited: started with SIGHUP ignored and SIGUSR1 blocked
  linger     seconds that the started program keeps running
  running    KIND NAME: a process named NAME runs meanwhile; KIND is copy,
             script, symlink, replaced, argument (of sh -c) or wine
What it must do:
  status     its exit status
  connecting yes: the Connecting notice comes first on standard error
  why        the reason in the line that a fetch failed; no line when absent
  message    the feature of the failure message; none when absent. Windowed,
             the message shows over the form and is dismissed with Return
  query      the one request the service gets; none when absent
  stored     none or yes: FeatDlods.txt; or 'row:' lines, its exact records
             (cells split at '|')
  launch     none or PROGRAM PARAMETER: the one start of a download program
  log        none, or NetError.log as a pattern where '*' is any text
Every run also leaves nothing else in the folder or the working folder.
"""
import argparse
import ntpath
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NOTICE = "Connecting to Zelvan's website. Please Wait......\n"
SAID = "FirstLoad: the feature list could not be fetched: "
MESSAGE = ("Zelvan's Downloader\nCould not connect to Zelvan's Website to download '%s'. "
           "Please check your Internet connection and try again.\n")
SKIP = 77
RUN_SECONDS = 120
# Records how it was started beside itself: its name, its arguments, its
# signal state, session and process id.
STANDIN = r"""#!/bin/sh
record="$(dirname "$0")/started-with"
# Builtins only: a shell blocks signals while it waits for a child.
while IFS= read -r l; do case $l in SigBlk*|SigIgn*) echo "$l";; esac; done \
  < /proc/self/status > "$record.signals"
sed 's/.*) //' /proc/$$/stat | cut -d' ' -f4 > "$record.sid"
echo $$ > "$record.pid"
{ basename "$0"; echo "$#"; for a in "$@"; do printf '%s\n' "$a"; done; } > "$record.part"
mv "$record.part" "$record.txt"
[ -z "$FIRSTLOAD_TEST_LINGER" ] || exec sleep "$FIRSTLOAD_TEST_LINGER"
"""
CLEAN_SIGNALS = b"SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n"


class Skip(Exception):
    pass


def parse(path, platform):
    """The case's keys and each run's, as lists of values."""
    with open(path, "rb") as f:
        data = re.sub(rb"\\x([0-9A-Fa-f]{2})", lambda m: bytes([int(m[1], 16)]), f.read())
    blocks = [{}]
    for line in data.decode("utf-8", "surrogateescape").splitlines():
        if line.startswith("#") or not line.strip():
            continue
        if line == "[run]":
            blocks.append({})
            continue
        key, colon, value = line.partition(":")
        if not colon:
            raise ValueError("%s: not a key: %r" % (path, line))
        value = value[1:] if value.startswith(" ") else value
        if len(value) >= 2 and value[0] == value[-1] == '"':
            value = value[1:-1]
        key, _, only = key.partition("@")
        blocks[-1].setdefault(key, {}).setdefault(only, []).append(value)
    resolved = [{k: v.get(platform, v.get("")) for k, v in b.items()} for b in blocks]
    resolved = [{k: v for k, v in b.items() if v is not None} for b in resolved]
    case = resolved[0]
    return case, [dict(case, **run) for run in resolved[1:]] or [case]


def one(block, key, default=None):
    return block[key][-1] if key in block else default


def record(cells, code_page="cp1252"):
    """One record of the record file layout, padded to 26 cells."""
    cells = list(cells) + [""] * (26 - len(cells))
    return b"".join(struct.pack("<H", len(c.encode(code_page))) + c.encode(code_page)
                    for c in cells)


def wait_for(condition, seconds, step=0.05):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return condition()


def read(path):
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        return f.read()


def xdotool(display, *args):
    try:
        return subprocess.run(["xdotool", *args], env=dict(os.environ, DISPLAY=display),
                              capture_output=True, text=True, timeout=20).stdout
    except subprocess.TimeoutExpired:
        return ""


def started(process, fd, seconds):
    """The first line a starting server writes on fd."""
    line = b""
    while not line.endswith(b"\n") and select.select([fd], [], [], seconds)[0]:
        piece = os.read(fd, 1)
        if not piece:
            break
        line += piece
    return line.decode().strip()


class Case:
    def __init__(self, path, args):
        self.path, self.args, self.problems = path, args, []
        self.case, self.runs = parse(path, args.platform)
        self.build = args.build
        if args.platform not in one(self.case, "platforms", args.platform):
            raise Skip("for %s only" % one(self.case, "platforms"))
        self.wine = args.platform == "wine" and one(self.case, "firstload") != "native"
        if args.platform == "wine" and not self.wine:
            self.build = os.environ.get("FIRSTLOAD_NATIVE_BUILD", os.path.join(SOURCE, "build"))
            if not os.path.exists(os.path.join(self.build, "testhost", "FirstLoad")):
                raise Skip("no native build in %s: run scripts/test first" % self.build)
        self.cleanups, self.run_number, self.xdisplay = [], 0, None

    def check(self, ok, what):
        if not ok:
            self.problems.append("run %d: %s" % (self.run_number, what))
        return ok

    def run(self):
        self.tmp = tempfile.mkdtemp(prefix="firstload-e2e-")
        try:
            self.install()
            self.start_service()
            for self.run_number, run in enumerate(self.runs, 1):
                self.one_run(run)
        finally:
            for cleanup in reversed(self.cleanups):
                cleanup()
            shutil.rmtree(self.tmp, ignore_errors=True)
        return self.problems

    def install(self):
        case = self.case
        self.app = os.path.join(self.tmp, one(case, "folder", "Zelvan Ωμέγα 日本"))
        self.cwd = os.path.join(self.tmp, "cwd")
        os.makedirs(self.cwd)
        os.makedirs(self.app)
        host = os.path.join(self.build, "testhost")
        if self.wine:
            files = {"FirstLoad.exe": os.path.join(host, "FirstLoad.exe")}
        else:
            files = {"FirstLoad": os.path.join(host, "FirstLoad"),
                     "libFirstLoadHttp.so": os.path.join(self.build, "libFirstLoadHttp.so"),
                     "libFirstLoadGtk.so": os.path.join(self.build, "libFirstLoadGtk.so")}
        files.pop(one(case, "without"), None)
        for name, built in files.items():
            shutil.copy(built, os.path.join(self.app, name))
        self.installed = set(files)
        if one(case, "update") != "none":
            self.installed.add("Update")
            os.makedirs(os.path.join(self.app, "Update"))
            for program in ("VKPDownload.exe", "OtherDownload.exe"):
                target = os.path.join(self.app, "Update", program)
                if self.wine:
                    shutil.copy(os.path.join(self.build, "standin_download.exe"), target)
                else:
                    with open(target, "w") as out:
                        out.write(STANDIN)
                    os.chmod(target, 0o755)
        setup = one(case, "setup")
        if setup != "none":
            self.installed.add("Orvistane.txt")
            with open(os.path.join(self.app, "Orvistane.txt"), "wb") as out:
                out.write(setup.encode("utf-8", "surrogateescape") if setup is not None else
                          record(["ZELVAN", one(case, "product", ""), one(case, "feature", "")]))
        if one(case, "list") == "empty":
            open(os.path.join(self.app, "FeatDlods.txt"), "wb").close()
        self.env = dict(os.environ)
        for pair in case.get("env", []):
            name, _, value = pair.partition("=")
            self.env[name] = value
        if "locale" in case:
            name, charset = one(case, "locale").split()
            locales = os.path.join(self.tmp, "locales")
            os.makedirs(locales)
            subprocess.run(["localedef", "-i", name, "-f", charset,
                            os.path.join(locales, "%s.%s" % (name, charset))],
                           capture_output=True)
            if not os.listdir(locales):
                raise RuntimeError("localedef could not build %s.%s" % (name, charset))
            self.env.update(LOCPATH=locales, LC_ALL="%s.%s" % (name, charset))
        if not self.wine:
            for name in ("DISPLAY", "WAYLAND_DISPLAY"):
                self.env.pop(name, None)

    def start_service(self):
        self.requests = os.path.join(self.tmp, "service.log")
        answer = one(self.case, "service")
        if answer is None:
            return
        service = subprocess.Popen(
            [sys.executable, os.path.join(SOURCE, "tools", "feature_service.py"), "--port",
             str(self.args.port), "--answer", answer, "--log", self.requests],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
        self.cleanups.append(lambda: (service.kill(), service.wait(), service.stdout.close()))
        line = started(service, service.stdout.fileno(), 20)
        if line != "PORT %d" % self.args.port:
            raise RuntimeError("the example service did not start: %r" % line)

    def display(self):
        """Wine's display, or a private X server for a windowed native run."""
        if self.wine:
            return os.environ["DISPLAY"]
        if self.xdisplay:
            return self.xdisplay
        if not shutil.which("Xvfb"):
            raise Skip("Xvfb is not installed")
        ready, announce = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(announce), "-screen", "0",
                                 "1024x768x24", "-nolisten", "tcp"], pass_fds=(announce,),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(announce)
        self.cleanups.append(lambda: (xvfb.terminate(), xvfb.wait()))
        number = started(xvfb, ready, 20)
        os.close(ready)
        self.xdisplay = ":" + number
        # Until a client gets in.
        wait_for(lambda: subprocess.run(["xdpyinfo"], env=dict(os.environ, DISPLAY=self.xdisplay),
                                        capture_output=True).returncode == 0, 10, 0.1)
        return self.xdisplay

    def start_running(self, kind, name):
        """A process named name from another folder; returns how to stop it."""
        elsewhere = tempfile.mkdtemp(dir=self.tmp)
        named = os.path.join(elsewhere, name)
        if kind in ("copy", "replaced"):
            shutil.copy("/bin/sleep", named)
            argv = [named, "30"]
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
            argv = [named, "30"]
        elif kind == "argument":
            argv = ["/bin/sh", "-c", "sleep 30; :", name]
        elif kind == "wine":
            shutil.copy(os.path.join(self.args.build, "standin_download.exe"), named)
            argv = ["wine", named, "--stay"]
        # Popen returns once the program is executing.
        process = subprocess.Popen(argv, start_new_session=True, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if kind == "replaced":
            os.remove(named)
            with open(named, "w") as out:
                out.write("a newer program")
        if kind != "wine":
            return lambda: (os.killpg(process.pid, signal.SIGKILL), process.wait())
        self.check(wait_for(lambda: os.path.exists(os.path.join(elsewhere, "ready")), 30),
                   "the running stand-in did not start")

        def stop():
            open(os.path.join(elsewhere, "stop"), "w").close()
            try:
                process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        return stop

    def one_run(self, run):
        windowed = self.wine or one(run, "display") == "yes"
        env = dict(self.env)
        if windowed:
            env["DISPLAY"] = self.display()
        if "linger" in run:
            env["FIRSTLOAD_TEST_LINGER"] = one(run, "linger")
        if os.path.exists(self.requests):
            os.remove(self.requests)
        stop_running = self.start_running(*one(run, "running").split(" ", 1)) \
            if "running" in run else None

        def inherit_signals():
            signal.signal(signal.SIGHUP, signal.SIG_IGN)
            signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGUSR1})
        closed = one(run, "output") == "closed"
        if closed:
            gone, out = os.pipe()
            os.close(gone)
        command = (["wine", os.path.join(self.app, "FirstLoad.exe")] if self.wine
                   else [os.path.join(self.app, "FirstLoad")])
        try:
            process = subprocess.Popen(
                command, cwd=self.cwd, env=env, stdin=subprocess.DEVNULL,
                stdout=out if closed else subprocess.DEVNULL,
                stderr=out if closed else subprocess.PIPE,
                preexec_fn=inherit_signals if one(run, "signals") == "inherited" else None)
            if closed:
                os.close(out)
            err = bytearray()
            reader = threading.Thread(target=lambda: err.extend(process.stderr.read())) \
                if not closed else None
            if reader:
                reader.start()
            message = one(run, "message")
            if windowed and message is not None:
                self.dismiss(process, env["DISPLAY"])
            try:
                status = process.wait(timeout=RUN_SECONDS)
            except subprocess.TimeoutExpired:
                process.kill()
                status = process.wait()
                self.check(False, "FirstLoad did not end within %d s" % RUN_SECONDS)
            if reader:
                reader.join(10)
                # Nothing it started keeps its standard error open.
                self.check(not reader.is_alive(), "standard error stays open after the run")
        finally:
            if stop_running:
                stop_running()
        self.check(status == int(one(run, "status")), "exit status %d" % status)
        if not closed:
            self.check_stderr(run, bytes(err), windowed)
        self.check_files(run)

    def dismiss(self, process, display):
        """Waits for the form and the message box, both titled alike, and
        presses OK."""
        windows = []

        def both_on_screen():
            windows[:] = xdotool(display, "search", "--onlyvisible", "--name",
                                 "^Zelvan.s Downloader$").split()
            return len(windows) >= 2
        self.check(wait_for(both_on_screen, 60, 0.1) and len(windows) == 2,
                   "the form and the message box: windows %r" % windows)
        deadline = time.monotonic() + 60
        while process.poll() is None and time.monotonic() < deadline:
            # Return in each window; the form takes no keys.
            for window in xdotool(display, "search", "--onlyvisible", "--name",
                                  "^Zelvan.s Downloader$").split():
                xdotool(display, "windowfocus", "--sync", window)
                xdotool(display, "key", "--clearmodifiers", "Return")
            time.sleep(0.5)

    def check_stderr(self, run, err, windowed):
        why, message = one(run, "why"), one(run, "message")
        address = " from http://127.0.0.1:%d%s" % (self.args.port, one(run, "query", ""))
        if self.wine:
            # Wine's own lines may come between.
            lines = [line for line in err.decode("cp1252", "replace").splitlines()
                     if line.startswith("FirstLoad")]
            if not self.check(len(lines) == (why is not None), "standard error: %r" % lines):
                return
            if not lines:
                return
            head, tail, err = SAID, address, lines[0]
        else:
            err = err.decode("utf-8", "surrogateescape")
            head = NOTICE if one(run, "connecting") == "yes" and not windowed else ""
            tail = MESSAGE % message if message is not None and not windowed else ""
            if why is not None:
                head, tail = head + SAID, address + "\n" + tail
        middle = err[len(head):len(err) - len(tail)]
        self.check(err.startswith(head) and err.endswith(tail) and
                   len(err) >= len(head) + len(tail) and "\n" not in middle and
                   (why in middle if why is not None else not middle),
                   "standard error: %r" % err)

    def check_files(self, run):
        query = one(run, "query")
        if "service" in run:
            requests = read(self.requests)
            requests = requests.decode().splitlines() if requests else []
            self.check(requests == ([query] if query else []), "requests: %r" % requests)
        stored = read(os.path.join(self.app, "FeatDlods.txt"))
        if "row" in run:
            self.check(stored == b"".join(record(r.split("|")) for r in run["row"]),
                       "stored list: %r" % stored)
        else:
            self.check((stored is not None) == (one(run, "stored") == "yes"),
                       "stored list: %r" % stored)
        self.check_launch(one(run, "launch"), one(run, "linger"))
        log, pattern = read(os.path.join(self.app, "NetError.log")), one(run, "log", "none")
        if pattern == "none":
            self.check(log is None, "error log: %r" % log)
        else:
            self.check(log is not None and re.fullmatch(
                ".*".join(map(re.escape, pattern.split("*"))), log.decode("latin-1"), re.S),
                "error log: %r" % log)
        expected = set(self.installed)
        expected |= {"FeatDlods.txt"} if stored is not None else set()
        expected |= {"NetError.log"} if log is not None else set()
        left = set(os.listdir(self.app))
        self.check(left == expected, "the folder holds %r" % sorted(left - expected))
        self.check(not os.listdir(self.cwd), "the working folder holds %r" % os.listdir(self.cwd))

    def check_launch(self, launch, linger):
        update = os.path.join(self.app, "Update")
        record = os.path.join(update, "started-with.txt")
        seconds = (20 if launch != "none" else 3) if self.wine else \
            (5 if launch != "none" else 0.5)
        if not wait_for(lambda: os.path.exists(record), seconds):
            self.check(launch == "none", "no program started")
            return
        if not self.check(launch != "none", "a program started: %r" % read(record)):
            return
        program, _, parameter = launch.partition(" ")
        if self.wine:
            # The shell quotes the program and puts the parameter after it.
            line = read(record).decode("utf-8")
            quoted = re.fullmatch(r'"([^"]*)" (.*)', line, re.S)
            self.check(quoted and ntpath.basename(quoted[1]) == program and
                       quoted[2] == parameter, "started as %r" % line)
            # A single-byte program reads the parameter in the ANSI code page.
            ansi = read(os.path.join(update, "started-with.ansi"))
            quoted = re.fullmatch(rb'"([^"]*)" (.*)', ansi, re.S)
            self.check(quoted and quoted[2] == parameter.encode("cp1252"), "ANSI line %r" % ansi)
        else:
            lines = read(record).split(b"\n")
            self.check(lines == [program.encode(), b"1",
                                 parameter.encode("utf-8", "surrogateescape"), b""],
                       "started as %r" % lines)
            # On its own: a session of its own, no signal blocked or ignored,
            # not waited for.
            self.check(int(read(record[:-4] + ".sid")) != os.getsid(0), "same session")
            signals = read(record[:-4] + ".signals")
            self.check(signals == CLEAN_SIGNALS, "started with signals %r" % signals)
            if linger:
                pid = int(read(record[:-4] + ".pid"))
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    self.check(False, "the run waited for the program")
        for name in os.listdir(update):
            if name.startswith("started-with"):
                os.remove(os.path.join(update, name))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--platform", choices=("posix", "wine"), required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("cases", nargs="+")
    args = parser.parse_args()
    args.build = os.path.abspath(args.build)
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
        for problem in problems:
            print("  " + problem)
        failed += bool(problems)
    return 1 if failed else SKIP if skipped else 0


if __name__ == "__main__":
    sys.exit(main())
