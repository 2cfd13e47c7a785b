#!/usr/bin/env python3
"""FirstLoad.exe and recordfile.exe as they ship, under Wine.

  test_release.py --build BUILD_DIR --version VERSION [unittest options]

Checks the programs' headers and resources (no exports, no import library,
the version resource and the manifest), the form laid out at 144 DPI, the
program's hidden window under the application title, and the record tool on
a file of Windows-1252 text. WINEPREFIX must be a booted prefix and DISPLAY an
X server (scripts/test-windows prepares both); the DPI case makes a prefix of
its own.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = VERSION = None
OBJDUMP = "x86_64-w64-mingw32-objdump"


def wine(args, env=None, **kwargs):
    return subprocess.run(["wine"] + args, env=env, capture_output=True, timeout=120, **kwargs)


def wininfo(args, env=None):
    out = wine([os.path.join(BUILD, "wininfo.exe")] + args, env=env)
    return out.stdout.decode("utf-8", "replace").replace("\r\n", "\n")


def setup_record(folder, product, feature):
    cells = ["ZELVAN", product, feature] + [""] * 23
    with open(os.path.join(folder, "Orvistane.txt"), "wb") as f:
        for cell in cells:
            data = cell.encode("cp1252")
            f.write(struct.pack("<H", len(data)) + data)


class Programs(unittest.TestCase):
    def test_export_nothing_and_carry_version_and_manifest(self):
        # An import library from before the build stopped making one may be
        # left in a reused build folder; one at least as new as the program
        # is made by the build.
        implib = os.path.join(BUILD, "libFirstLoad.dll.a")
        if os.path.exists(implib):
            self.assertLess(os.path.getmtime(implib),
                            os.path.getmtime(os.path.join(BUILD, "FirstLoad.exe")))
        for name in ("FirstLoad.exe", "recordfile.exe"):
            header = subprocess.run([OBJDUMP, "-p", os.path.join(BUILD, name)],
                                    capture_output=True, text=True, check=True).stdout
            self.assertNotIn("There is an export table", header, name)
            self.assertIn("Time/Date\t\tThu Jan  1 00:00:00 1970", header, name)
        info = wininfo(["exe", os.path.join(BUILD, "FirstLoad.exe")])
        for line in ("CompanyName=Zelvan", "ProductName=Zelvan", "FileVersion=" + VERSION,
                     "ProductVersion=" + VERSION):
            self.assertIn(line + "\n", info)
        self.assertRegex(info, r"FileDescription=\S")
        manifest = info[info.index("manifest:"):]
        for part in ('level="asInvoker"', 'name="Microsoft.Windows.Common-Controls" '
                     'version="6.0.0.0"', "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                     "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "PerMonitorV2, System"):
            self.assertIn(part, " ".join(manifest.split()))

    def test_record_tool_keeps_windows_1252_text(self):
        with tempfile.TemporaryDirectory() as folder:
            tool = os.path.join(BUILD, "recordfile.exe")
            put = wine([tool, "put", "rec.txt", "ZELVAN", "Größe €", "x"], cwd=folder)
            self.assertEqual(put.returncode, 0, put.stderr)
            with open(os.path.join(folder, "rec.txt"), "rb") as f:
                self.assertTrue(f.read().startswith(
                    b"\x06\x00ZELVAN\x07\x00Gr\xf6\xdfe \x80\x01\x00x\x00\x00"))
            dump = wine([tool, "dump", "rec.txt"], cwd=folder)
            self.assertEqual(dump.returncode, 0, dump.stderr)
            self.assertEqual(dump.stdout.decode("cp1252"),
                             "row | 0      | 1       | 2\r\n"
                             "0   | ZELVAN | Größe € | x\r\n"
                             "(1 record of 26 cells)\r\n")


class OnAHighDpiDisplay(unittest.TestCase):
    """A fresh prefix with LogPixels 144, the form waiting for the service."""

    def test_form_is_laid_out_in_twips_and_the_program_is_titled(self):
        with tempfile.TemporaryDirectory() as work:
            env = dict(os.environ, WINEPREFIX=os.path.join(work, "prefix"), WINEDEBUG="-all")
            subprocess.run(["wineboot", "-i"], env=env, capture_output=True, timeout=300)
            wine(["reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t",
                  "REG_DWORD", "/d", "144", "/f"], env=env)
            subprocess.run(["wineserver", "-w"], env=env, timeout=120)
            app = os.path.join(work, "app")
            os.makedirs(os.path.join(app, "Update"))
            shutil.copy(os.path.join(BUILD, "testhost", "FirstLoad.exe"), app)
            setup_record(app, "Ostra-VKP", "Photo Tools")
            service = subprocess.Popen(
                [sys.executable, os.path.join(SOURCE, "tools", "feature_service.py"),
                 "--port", "0", "--delay", "30"], stdout=subprocess.PIPE)
            run = None
            try:
                said = service.stdout.readline().split()
                self.assertEqual(said[:1], [b"PORT"])
                env["FIRSTLOAD_TEST_SERVICE_PORT"] = said[1].decode()
                run = subprocess.Popen(["wine", os.path.join(app, "FirstLoad.exe")], env=env,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                windows = ""
                deadline = time.monotonic() + 60
                # Until the form is laid out: made, its label is at 0,0,0,0 a moment.
                while (("label|" not in windows or "label|0|0|0|0" in windows) and
                       time.monotonic() < deadline):
                    time.sleep(0.5)
                    windows = wininfo(["windows"], env=env)
                lines = windows.splitlines()
                # At 144 DPI a twip is a tenth of a pixel.
                self.assertIn("client|582|63", lines, windows)
                self.assertIn("label|24|12|438|24", lines, windows)
                form = next(l for l in lines if "|FirstLoadForm|" in l).split("|")[0]
                self.assertIn(form + "|FirstLoadApplication|0|Photo Tools Downloader", lines)
            finally:
                if run is not None:
                    run.kill()
                    run.wait()
                subprocess.run(["wineserver", "-k"], env=env, timeout=60)
                service.kill()
                service.wait()
                service.stdout.close()


def main():
    global BUILD, VERSION
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--version", required=True)
    args, rest = parser.parse_known_args()
    BUILD, VERSION = os.path.abspath(args.build), args.version
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
