#!/usr/bin/env python3
"""Whole runs of FirstLoad.exe under Wine.

Each case installs the tests' build of FirstLoad.exe into a fresh application
folder whose name the ANSI code page cannot spell, with a setup record and
the stand-in download program in Update\\, and runs it under Wine against the
example feature service, which runs here on 127.0.0.1.

  test_endtoend.py --build BUILD_DIR --port PORT [unittest options]

Wine must be ready: WINEPREFIX a booted prefix, and DISPLAY an X server for the
windows (scripts/test-windows prepares both). Every wait is bounded. One case
runs the native build of the tests (build/testhost/FirstLoad, from
scripts/test) beside a program under Wine, and is skipped without it.
"""
import argparse
import os
import select
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = None
PORT = None
RUN_SECONDS = 120
CODE_PAGE = "cp1252"
TITLE = "Zelvan's Downloader"
NATIVE_BUILD = os.path.join(SOURCE, "build")
NATIVE_FILES = {"FirstLoad": os.path.join("testhost", "FirstLoad"),
                "libFirstLoadHttp.so": "libFirstLoadHttp.so",
                "libFirstLoadGtk.so": "libFirstLoadGtk.so"}
# The native build's stand-in: it records its start as the Windows one does.
NATIVE_STANDIN = """#!/bin/sh
cd "$(dirname "$0")" || exit 1
printf '"%s" %s' "$0" "$1" > started-with.ansi
printf '"%s" %s' "$0" "$1" > started-with.part && mv started-with.part started-with.txt
"""


def record(cells):
    """One record of the record file layout, padded to 26 cells."""
    cells = list(cells) + [""] * (26 - len(cells))
    out = b""
    for cell in cells:
        data = cell.encode(CODE_PAGE)
        out += struct.pack("<H", len(data)) + data
    return out


def wait_for(condition, seconds, step=0.1):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return condition()


class Service:
    """The example feature service on the port the tests' FirstLoad asks."""

    def __init__(self, answer, log):
        self.process = subprocess.Popen(
            [sys.executable, os.path.join(SOURCE, "tools", "feature_service.py"),
             "--port", str(PORT), "--answer", answer, "--log", log],
            stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        ready, _, _ = select.select([self.process.stdout], [], [], 20)
        line = self.process.stdout.readline().decode().strip() if ready else ""
        if line != "PORT %d" % PORT:
            self.stop()
            raise RuntimeError("the example service did not start: %r" % line)

    def stop(self):
        self.process.kill()
        self.process.wait(timeout=10)
        self.process.stdout.close()


class AppFolder:
    """An installed application folder with the stand-in download program;
    with native, of the native build instead of FirstLoad.exe."""

    def __init__(self, program="VKPDownload.exe", native=False):
        self.native = native
        self.tmp = tempfile.mkdtemp(prefix="firstload-wine-")
        self.dir = os.path.join(self.tmp, "Zelvan Ωμέγα 日本")
        self.update = os.path.join(self.dir, "Update")
        os.makedirs(self.update)
        if not native:
            shutil.copy(os.path.join(BUILD, "testhost", "FirstLoad.exe"), self.dir)
            shutil.copy(os.path.join(BUILD, "standin_download.exe"),
                        os.path.join(self.update, program))
            return
        for name, built in NATIVE_FILES.items():
            shutil.copy(os.path.join(NATIVE_BUILD, built), os.path.join(self.dir, name))
        with open(os.path.join(self.update, program), "w") as out:
            out.write(NATIVE_STANDIN)
        os.chmod(os.path.join(self.update, program), 0o755)

    def remove(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def write_setup(self, product, feature):
        with open(self.path("Orvistane.txt"), "wb") as out:
            out.write(record(["ZELVAN", product, feature]))

    def read(self, name):
        path = self.path(name)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def requests(self):
        data = self.read("service.log")
        return data.decode().splitlines() if data else []

    def start(self, stderr=subprocess.DEVNULL):
        if self.native:
            # Headless: the native build needs no window to start the program.
            env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
            return subprocess.Popen([self.path("FirstLoad")], stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, stderr=stderr, env=env)
        return subprocess.Popen(["wine", self.path("FirstLoad.exe")], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=stderr)

    def run(self):
        process = self.start()
        try:
            return process.wait(timeout=RUN_SECONDS)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(timeout=10)
            raise AssertionError("FirstLoad.exe did not end within %d s" % RUN_SECONDS)

    def launch(self, seconds=20):
        """The parameter string and the ANSI command line of the stand-in's
        start, or None when it was not started within seconds."""
        txt = self.path("Update", "started-with.txt")
        ansi = self.path("Update", "started-with.ansi")
        if not wait_for(lambda: os.path.exists(txt), seconds):
            return None
        with open(txt, "rb") as f:
            line = f.read().decode("utf-8")
        with open(ansi, "rb") as f:
            ansi_line = f.read()
        os.remove(txt)
        os.remove(ansi)
        return parameters(line), parameters(ansi_line)


def parameters(command_line):
    """The parameter string: the shell quotes the program and puts it after."""
    quote = '"' if isinstance(command_line, str) else b'"'
    end = command_line.find(quote, 1) if command_line[:1] == quote else -1
    if end < 0 or command_line[end + 1:end + 2] not in (" ", b" "):
        raise AssertionError("unexpected command line: %r" % command_line)
    return command_line[end + 2:]


class EndToEnd(unittest.TestCase):
    def app(self, program="VKPDownload.exe", native=False):
        app = AppFolder(program, native)
        self.addCleanup(app.remove)
        return app

    def service(self, answer, app):
        service = Service(answer, app.path("service.log"))
        self.addCleanup(service.stop)
        return service

    def test_first_run_fetches_stores_and_launches_then_later_runs_go_straight_to_the_launch(self):
        app = self.app()
        app.write_setup("Ostra-VKP", "Photo Tools")
        self.service("list:F1/Tools/?/Yes#F2/A??B/x//y>F3/1##2/p>>q", app)

        self.assertEqual(app.run(), 0)
        self.assertEqual(app.requests(), ["/Features.aspx?&APPCODE=680570080&FeatureName="
                                          "080401111611111230480111111801511"])
        # Byte for byte what the POSIX build stores for the same answer.
        self.assertEqual(app.read("FeatDlods.txt"),
                         record(["F1", "Tools", "", "Yes"]) + record(["F2", "A?B", "x/y"]) +
                         record([]) + record(["F3", "1#2", "p>q"]) + record([]))
        self.assertEqual(app.launch(), ("VKP*#OTHERFILE#Photo Tools", b"VKP*#OTHERFILE#Photo Tools"))
        self.assertIsNone(app.read("FeatDlods_temp.txt"))
        self.assertIsNone(app.read("NetError.log"))

        self.assertEqual(app.run(), 0)
        self.assertEqual(len(app.requests()), 1)
        self.assertEqual(app.launch(), ("VKP*#OTHERFILE#Photo Tools", b"VKP*#OTHERFILE#Photo Tools"))

    def test_other_product_with_a_feature_name_past_ascii(self):
        app = self.app("OtherDownload.exe")
        app.write_setup("Quend-Levy", "Café")
        self.service("ok", app)
        self.assertEqual(app.run(), 0)
        self.assertEqual(app.requests(), ["/Features.aspx?&APPCODE=180580960870860"
                                          "&FeatureName=760790201332"])
        self.assertIsNotNone(app.read("FeatDlods.txt"))
        # A single-byte program reads the same bytes as before the wide launch.
        self.assertEqual(app.launch(), ("Quend-Levy*#OTHERFILE#Café",
                                        b"Quend-Levy*#OTHERFILE#Caf\xe9"))
        self.assertIsNone(app.read("NetError.log"))

    def test_running_download_program_is_not_started_again(self):
        # The native build counts a program under Wine by the kernel's name of
        # its process or by its first argument, as it runs the Wine loader.
        for running, native in (("VKPDownload.exe", False), ("vkpdownload.EXE", False),
                                ("VKPDownload.exe", True)):
            with self.subTest(running=running, native=native):
                missing = [f for f in NATIVE_FILES.values()
                           if not os.path.exists(os.path.join(NATIVE_BUILD, f))]
                if native and missing:
                    self.skipTest("the native build is missing (%s in %s): run scripts/test first"
                                  % (", ".join(missing), NATIVE_BUILD))
                app = self.app(native=native)
                app.write_setup("Ostra-VKP", "Photo Tools")
                with open(app.path("FeatDlods.txt"), "wb"):
                    pass
                # Started while no process of the name runs: the case can fail.
                self.assertEqual(app.run(), 0)
                self.assertEqual(app.launch()[0], "VKP*#OTHERFILE#Photo Tools")
                # A process of that name, started from another folder.
                elsewhere = tempfile.mkdtemp(prefix="firstload-wine-running-")
                self.addCleanup(shutil.rmtree, elsewhere, True)
                program = os.path.join(elsewhere, running)
                shutil.copy(os.path.join(BUILD, "standin_download.exe"), program)
                stayer = subprocess.Popen(["wine", program, "--stay"], stdin=subprocess.DEVNULL,
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                try:
                    self.assertTrue(wait_for(
                        lambda: os.path.exists(os.path.join(elsewhere, "ready")), 30))
                    self.assertEqual(app.run(), 0)
                    self.assertIsNone(app.launch(seconds=3))
                finally:
                    open(os.path.join(elsewhere, "stop"), "w").close()
                    try:
                        stayer.wait(timeout=30)
                    except subprocess.TimeoutExpired:
                        stayer.kill()
                        stayer.wait(timeout=10)
                self.assertIsNone(app.read("NetError.log"))

    def test_failed_list_shows_the_message_over_the_form_says_why_and_starts_nothing(self):
        said = "FirstLoad: the feature list could not be fetched: "
        # The service's answer (None: it does not run) and what the line on
        # standard error holds besides the address (None: no line).
        for answer, why in (("error", None), ("status:503", "HTTP 503"), (None, "")):
            with self.subTest(answer=answer):
                app = self.app()
                app.write_setup("Ostra-VKP", "Photo Tools")
                # Each row's service goes with the row: the next may want none.
                service = Service(answer, app.path("service.log")) if answer else None
                try:
                    with open(os.path.join(app.tmp, "stderr"), "wb") as stderr:
                        process = app.start(stderr=stderr)
                    try:
                        windows = self.dismiss_message(process)
                    finally:
                        if process.poll() is None:
                            process.kill()
                            process.wait(timeout=10)
                finally:
                    if service:
                        service.stop()
                self.assertEqual(len(windows), 2)
                self.assertIsNone(app.read("FeatDlods.txt"))
                self.assertIsNone(app.launch(seconds=2))
                self.assertIsNone(app.read("NetError.log"))
                with open(os.path.join(app.tmp, "stderr"), "rb") as f:
                    lines = [line for line in f.read().decode("cp1252", "replace").splitlines()
                             if line.startswith(said)]
                if why is None:
                    self.assertEqual(lines, [])
                else:
                    self.assertEqual(len(lines), 1, lines)
                    self.assertIn(why, lines[0])
                    self.assertIn(" from http://127.0.0.1:%d/Features.aspx?" % PORT, lines[0])

    def dismiss_message(self, process):
        """Waits for the form and the message box, both titled alike, presses
        OK and checks the exit status; returns the windows."""
        windows = []

        def both_on_screen():
            windows[:] = xdotool("search", "--onlyvisible", "--name", "^%s$" % TITLE).split()
            return len(windows) >= 2

        self.assertTrue(wait_for(both_on_screen, 60), "windows: %r" % windows)
        # Press OK: Return in each window; the form takes no keys.
        deadline = time.monotonic() + 60
        while process.poll() is None and time.monotonic() < deadline:
            for window in windows:
                xdotool("windowfocus", "--sync", window)
                xdotool("key", "--clearmodifiers", "Return")
            if process.poll() is None:
                time.sleep(0.5)
        self.assertEqual(process.wait(timeout=30), 1)
        return windows


def xdotool(*args):
    try:
        return subprocess.run(["xdotool", *args], capture_output=True, text=True,
                              timeout=20).stdout
    except subprocess.TimeoutExpired:
        return ""


def main():
    global BUILD, PORT
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--port", type=int, required=True)
    args, rest = parser.parse_known_args()
    BUILD, PORT = os.path.abspath(args.build), args.port
    for var in ("WINEPREFIX", "DISPLAY"):
        if not os.environ.get(var):
            sys.exit("%s is not set: run scripts/test-windows" % var)
    unittest.main(argv=[sys.argv[0], "-v", *rest])


if __name__ == "__main__":
    main()
