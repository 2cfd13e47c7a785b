#!/usr/bin/env python3
"""Signed packages, with keys and authorities the test makes itself.

  test_signing.py [--reuse-dist] [unittest options]

A certificate authority, a code-signing certificate in a PKCS#12 file with a
password and on a SoftHSM token with a PIN, a throwaway OpenPGP key, and a
timestamp authority on 127.0.0.1 (`openssl ts -reply` behind a small HTTP
handler). scripts/package runs signed once; the token signs the programs of a
built package directly, with the same code; every bad input must stop
scripts/package before the builds. The signed programs must reduce to those
of an unsigned run of the same commit: the test makes one first, or, with
--reuse-dist, takes the packages in dist/ that scripts/package has just made.
Whatever dist/ held is put back at the end.
"""
import argparse
import glob
import hashlib
import http.server
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DIST = os.path.join(ROOT, "dist")
SOFTHSM = "/usr/lib/softhsm/libsofthsm2.so"
PASSWORD = "correct horse battery"
PIN = "4711"
WORK = TSA = REUSE_DIST = None
KEYS = {}


def run(args, timeout=600, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=timeout, **kwargs)


def check(args, **kwargs):
    out = run(args, **kwargs)
    if out.returncode != 0:
        raise AssertionError(f"{args[0]} failed: {out.stdout}{out.stderr}")
    return out


def base_env(**extra):
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("FIRSTLOAD_SIGN", "FIRSTLOAD_GPG"))}
    env.update(SOFTHSM2_CONF=KEYS["softhsm_conf"], GNUPGHOME=KEYS["gnupg"], LC_ALL="C")
    env.update(extra)
    return env


def package(timeout=1200, **extra):
    start = time.monotonic()
    out = run(["bash", os.path.join(ROOT, "scripts", "package")], env=base_env(**extra),
              timeout=timeout)
    return out, time.monotonic() - start


def dist_files():
    return sorted(os.path.basename(p) for p in glob.glob(os.path.join(DIST, "*"))
                  if re.match(r"FirstLoad-|SHA256SUMS", os.path.basename(p)))


def exes(zip_path, folder):
    """Unpacks the programs of a Windows package into folder."""
    with zipfile.ZipFile(zip_path) as z:
        for name in ("FirstLoad.exe", "recordfile.exe"):
            with open(os.path.join(folder, name), "wb") as f:
                f.write(z.read(name))
    return [os.path.join(folder, n) for n in ("FirstLoad.exe", "recordfile.exe")]


def read(path):
    with open(path, "rb") as f:
        return f.read()


class TimestampAuthority(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        with tempfile.TemporaryDirectory(dir=WORK) as d:
            with open(os.path.join(d, "query"), "wb") as f:
                f.write(query)
            check(["openssl", "ts", "-reply", "-config", KEYS["tsa_conf"], "-queryfile",
                   os.path.join(d, "query"), "-inkey", KEYS["tsa_key"], "-signer",
                   KEYS["tsa_cert"], "-chain", KEYS["ca"], "-out", os.path.join(d, "reply")])
            body = read(os.path.join(d, "reply"))
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def make_keys():
    k = KEYS

    def path(name):
        return os.path.join(WORK, name)

    def cert(name, subject, extensions):
        check(["openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", path(name + ".key"),
               "-out", path(name + ".csr"), "-subj", subject])
        with open(path(name + ".ext"), "w") as f:
            f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                    + extensions + "\n")
        check(["openssl", "x509", "-req", "-in", path(name + ".csr"), "-CA", k["ca"], "-CAkey",
               path("ca.key"), "-CAcreateserial", "-days", "7", "-out", path(name + ".pem"),
               "-extfile", path(name + ".ext")])
        return path(name + ".pem"), path(name + ".key")

    k["ca"] = path("ca.pem")
    check(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", path("ca.key"),
           "-out", k["ca"], "-days", "7", "-subj", "/CN=FirstLoad Test Authority",
           "-addext", "basicConstraints=critical,CA:TRUE",
           "-addext", "keyUsage=critical,keyCertSign,cRLSign"])
    k["cert"], signer_key = cert("signer", "/CN=FirstLoad Test Signer",
                                 "extendedKeyUsage=codeSigning")
    k["tsa_cert"], k["tsa_key"] = cert("tsa", "/CN=FirstLoad Test TSA",
                                       "extendedKeyUsage=critical,timeStamping")
    k["pkcs12"], k["password_file"] = path("signer.p12"), path("password")
    with open(k["password_file"], "w") as f:
        f.write(PASSWORD + "\n")
    check(["openssl", "pkcs12", "-export", "-inkey", signer_key, "-in", k["cert"], "-certfile",
           k["ca"], "-out", k["pkcs12"], "-passout", "file:" + k["password_file"]])
    k["tsa_conf"] = path("tsa.cnf")
    with open(path("tsa.serial"), "w") as f:
        f.write("01\n")
    with open(k["tsa_conf"], "w") as f:
        f.write(f"[tsa]\ndefault_tsa = t\n[t]\nserial = {path('tsa.serial')}\n"
                "signer_digest = sha256\ndefault_policy = 1.2.3.4.1\n"
                "other_policies = 1.2.3.4.2\ndigests = sha256, sha384, sha512\n"
                "accuracy = secs:1\ness_cert_id_alg = sha256\n")

    # The token holds the key; the certificate comes from a file.
    os.makedirs(path("tokens"))
    k["softhsm_conf"] = path("softhsm2.conf")
    with open(k["softhsm_conf"], "w") as f:
        f.write(f"directories.tokendir = {path('tokens')}\nobjectstore.backend = file\n")
    env = dict(os.environ, SOFTHSM2_CONF=k["softhsm_conf"])
    check(["softhsm2-util", "--init-token", "--free", "--label", "firstload-test", "--pin", PIN,
           "--so-pin", "12345678"], env=env)
    check(["openssl", "pkcs8", "-topk8", "-nocrypt", "-in", signer_key, "-out", path("p8.key")])
    check(["softhsm2-util", "--import", path("p8.key"), "--token", "firstload-test", "--label",
           "signer", "--id", "01", "--pin", PIN], env=env)

    k["gnupg"] = path("gnupg")
    os.makedirs(k["gnupg"], mode=0o700)
    env = dict(os.environ, GNUPGHOME=k["gnupg"])
    check(["gpg", "--batch", "--gen-key"], env=env, input="%no-protection\nKey-Type: EDDSA\n"
          "Key-Curve: ed25519\nKey-Usage: sign\nName-Real: FirstLoad Test Release\n"
          "Expire-Date: 0\n%commit\n")
    listing = check(["gpg", "--batch", "--with-colons", "--list-secret-keys"], env=env).stdout
    k["gpg_key"] = re.search(r"^fpr:+([0-9A-F]{40}):", listing, re.M).group(1)
    k["keyring"] = path("release.gpg")
    with open(k["keyring"], "wb") as f:
        f.write(subprocess.run(["gpg", "--batch", "--export", k["gpg_key"]], env=env,
                               capture_output=True, check=True).stdout)


def setUpModule():
    global WORK, TSA
    check(["bash", "-c", 'source scripts/deps.sh && ensure_packages '
           '"${FIRSTLOAD_SIGNING_PACKAGES[@]}" "${FIRSTLOAD_SIGNING_TEST_PACKAGES[@]}"'],
          cwd=ROOT)
    WORK = tempfile.mkdtemp(prefix="firstload-signing-")
    make_keys()
    TSA = http.server.HTTPServer(("127.0.0.1", 0), TimestampAuthority)
    threading.Thread(target=TSA.serve_forever, daemon=True).start()
    KEYS["tsa_url"] = "http://127.0.0.1:%d/" % TSA.server_address[1]

    # The unsigned packages of this commit, kept aside: every run of
    # scripts/package empties dist/.
    os.makedirs(os.path.join(WORK, "dist"))
    for name in dist_files():
        shutil.copy2(os.path.join(DIST, name), os.path.join(WORK, "dist", name))
    if not REUSE_DIST:
        out, _ = package()
        if out.returncode != 0:
            raise AssertionError("the unsigned package failed: " + out.stderr)
    zips = glob.glob(os.path.join(DIST, "FirstLoad-*-win64.zip"))
    if len(zips) != 1:
        raise AssertionError("no Windows package in dist/")
    os.makedirs(os.path.join(WORK, "unsigned"))
    KEYS["unsigned_zip"] = shutil.copy2(zips[0], os.path.join(WORK, "unsigned"))
    KEYS["unsigned_linux"] = [
        shutil.copy2(linux, os.path.join(WORK, "unsigned"))
        for linux in sorted(glob.glob(os.path.join(DIST, "FirstLoad-*-linux-*.tar.gz")))]
    KEYS["unsigned"] = exes(KEYS["unsigned_zip"], os.path.join(WORK, "unsigned"))


def tearDownModule():
    if TSA is not None:
        TSA.shutdown()
        TSA.server_close()
    if WORK is None:
        return
    if "gnupg" in KEYS:
        subprocess.run(["gpgconf", "--kill", "all"], env=dict(os.environ, GNUPGHOME=KEYS["gnupg"]))
    if os.path.isdir(os.path.join(WORK, "dist")):
        for name in dist_files():
            os.remove(os.path.join(DIST, name))
        for name in os.listdir(os.path.join(WORK, "dist")):
            shutil.copy2(os.path.join(WORK, "dist", name), os.path.join(DIST, name))
    shutil.rmtree(WORK, ignore_errors=True)


def closed_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


class BadSigningInputs(unittest.TestCase):
    """Each stops scripts/package before the builds, says why and leaves dist/ empty."""

    def test_each_stops_the_run_before_the_builds(self):
        silent = socket.socket()  # takes connections and never answers
        silent.bind(("127.0.0.1", 0))
        silent.listen(8)
        p12 = dict(FIRSTLOAD_SIGN_PKCS12=KEYS["pkcs12"],
                   FIRSTLOAD_SIGN_PASSWORD_FILE=KEYS["password_file"])
        token = dict(FIRSTLOAD_SIGN_PKCS11_MODULE=SOFTHSM, FIRSTLOAD_SIGN_CERT=KEYS["cert"],
                     FIRSTLOAD_SIGN_PKCS11_KEY="pkcs11:token=firstload-test;object=signer",
                     FIRSTLOAD_SIGN_PASSWORD=PIN)
        rows = [
            ("wrong password", dict(FIRSTLOAD_SIGN_PKCS12=KEYS["pkcs12"],
                                    FIRSTLOAD_SIGN_PASSWORD="horse battery staple"),
             r"the signing key cannot sign: .*Wrong password"),
            ("wrong PIN", dict(token, FIRSTLOAD_SIGN_PASSWORD="0000"),
             r"the signing key cannot sign: .*PIN incorrect"),
            ("missing token", dict(token, FIRSTLOAD_SIGN_PKCS11_KEY=
                                   "pkcs11:token=elsewhere;object=signer"),
             r"the signing key cannot sign: .*No matching initialized token"),
            ("missing module", dict(token, FIRSTLOAD_SIGN_PKCS11_MODULE=WORK + "/none.so"),
             r"no PKCS#11 module at '" + re.escape(WORK + "/none.so") + "'"),
            ("unreachable timestamp authority",
             dict(p12, FIRSTLOAD_SIGN_TIMESTAMP_URL="http://127.0.0.1:%d/" % closed_port()),
             r"the timestamp authority http://127.0.0.1:\d+/ gave no timestamp: "
             r".*Connection refused"),
            ("silent timestamp authority",
             dict(p12, FIRSTLOAD_SIGN_TIMEOUT="3", FIRSTLOAD_SIGN_TIMESTAMP_URL=
                  "http://127.0.0.1:%d/" % silent.getsockname()[1]),
             r"the timestamp authority .* gave no timestamp: no answer within 3 s"),
            ("unknown OpenPGP key", dict(FIRSTLOAD_GPG_KEY="nobody@example.invalid"),
             r"the OpenPGP key nobody@example.invalid cannot sign"),
            ("timestamp without a key", dict(FIRSTLOAD_SIGN_TIMESTAMP_URL=KEYS["tsa_url"]),
             r"FIRSTLOAD_SIGN_TIMESTAMP_URL is set but no key is given"),
        ]
        try:
            for name, env, message in rows:
                with self.subTest(name):
                    out, took = package(timeout=120, **env)
                    self.assertNotEqual(out.returncode, 0)
                    self.assertRegex(out.stderr, "(?s)package: " + message)
                    self.assertNotIn("== Linux build", out.stdout)
                    self.assertLess(took, 60)
                    self.assertEqual(dist_files(), [])
        finally:
            silent.close()


class SigningOnAToken(unittest.TestCase):
    """The programs of a built package, signed with the key on the token."""

    def sign(self, folder, **env):
        programs = []
        for exe in KEYS["unsigned"]:
            programs.append(os.path.join(folder, os.path.basename(exe)))
            shutil.copy(exe, programs[-1])
        # osslsigncode's command lines, as ps would show them, and the password
        # if it were in its environment.
        shim = os.path.join(folder, "bin")
        os.makedirs(shim)
        with open(os.path.join(shim, "osslsigncode"), "w") as f:
            f.write(f'#!/bin/sh\nprintf "%s\\n" "$* ${{FIRSTLOAD_SIGN_PASSWORD-}}" '
                    f'>> {folder}/command-lines\nexec {shutil.which("osslsigncode")} "$@"\n')
        os.chmod(os.path.join(shim, "osslsigncode"), 0o755)
        env = base_env(PATH=shim + os.pathsep + os.environ["PATH"],
                       FIRSTLOAD_SIGN_PKCS11_MODULE=SOFTHSM, FIRSTLOAD_SIGN_CERT=KEYS["cert"],
                       FIRSTLOAD_SIGN_PKCS11_KEY="pkcs11:token=firstload-test;object=signer",
                       FIRSTLOAD_SIGN_PASSWORD=PIN, **env)
        out = run(["bash", "-c", 'set -euo pipefail; source scripts/signing.sh; '
                   '[ -n "${PREFLIGHT:-}" ] && signing_preflight; sign_windows "$@"', "sign"]
                  + programs, cwd=ROOT, env=env)
        with open(os.path.join(folder, "command-lines")) as f:
            return out, programs, f.read()

    def test_programs_verify_and_reduce_to_the_unsigned_build(self):
        with tempfile.TemporaryDirectory(dir=WORK) as folder:
            out, programs, commands = self.sign(folder, PREFLIGHT="1")
            self.assertEqual(out.returncode, 0, out.stderr)
            # The trial, then both programs.
            self.assertEqual(sum(l.startswith("sign ") for l in commands.splitlines()), 3,
                             commands)
            self.assertNotIn(PIN, commands)
            for signed, unsigned in zip(programs, KEYS["unsigned"]):
                verify = run(["osslsigncode", "verify", "-CAfile", KEYS["ca"], "-in", signed])
                self.assertEqual(verify.returncode, 0, verify.stdout + verify.stderr)
                self.assertIn("Signature verification: ok", verify.stdout)
                self.assertIn("Subject: /CN=FirstLoad Test Signer", verify.stdout)
                check(["osslsigncode", "remove-signature", "-in", signed, "-out", signed + ".back"])
                self.assertEqual(read(signed + ".back"), read(unsigned), signed)

    def test_a_failed_signature_leaves_the_program_as_it_was(self):
        with tempfile.TemporaryDirectory(dir=WORK) as folder:
            out, programs, _ = self.sign(folder, FIRSTLOAD_SIGN_TIMESTAMP_URL=
                                         "http://127.0.0.1:%d/" % closed_port())
            self.assertNotEqual(out.returncode, 0)
            self.assertRegex(out.stderr, "package: signing FirstLoad.exe failed: ")
            self.assertEqual(read(programs[0]), read(KEYS["unsigned"][0]))
            self.assertEqual(sorted(os.listdir(folder)),
                             ["FirstLoad.exe", "bin", "command-lines", "recordfile.exe"])


class SignedPackage(unittest.TestCase):
    """One scripts/package run with the PKCS#12 file, a timestamp and an OpenPGP key."""

    @classmethod
    def setUpClass(cls):
        out, _ = package(FIRSTLOAD_SIGN_PKCS12=KEYS["pkcs12"],
                         FIRSTLOAD_SIGN_PASSWORD_FILE=KEYS["password_file"],
                         FIRSTLOAD_SIGN_TIMESTAMP_URL=KEYS["tsa_url"],
                         FIRSTLOAD_GPG_KEY=KEYS["gpg_key"])
        if out.returncode != 0:
            raise AssertionError("the signed package failed: " + out.stderr)
        cls.folder = tempfile.mkdtemp(dir=WORK)
        cls.zip = glob.glob(os.path.join(DIST, "FirstLoad-*-win64.zip"))[0]
        cls.programs = exes(cls.zip, cls.folder)

    def test_programs_verify_with_a_timestamp(self):
        for exe in self.programs:
            verify = run(["osslsigncode", "verify", "-CAfile", KEYS["ca"], "-TSA-CAfile",
                          KEYS["ca"], "-in", exe])
            self.assertEqual(verify.returncode, 0, verify.stdout + verify.stderr)
            for line in ("Signature verification: ok", "Message digest algorithm  : SHA256",
                         "Timestamp Server Signature verification: ok"):
                self.assertIn(line, verify.stdout, exe)
            self.assertRegex(verify.stdout, r"Timestamp time: \w+ +\d+ [\d:]+ \d{4} GMT")

    def test_the_package_is_the_unsigned_one_plus_signatures(self):
        # Built afresh from the same commit, this run is also the check that
        # the packages are reproducible: all but the signatures, and what
        # names the signed programs, is the unsigned run's to the byte.
        unsigned_hashes = {}
        for signed, unsigned in zip(self.programs, KEYS["unsigned"]):
            check(["osslsigncode", "remove-signature", "-in", signed, "-out", signed + ".back"])
            self.assertEqual(read(signed + ".back"), read(unsigned), signed)
            unsigned_hashes[os.path.basename(signed)] = hashlib.sha256(read(unsigned)).hexdigest()
        with zipfile.ZipFile(self.zip) as z, zipfile.ZipFile(KEYS["unsigned_zip"]) as u:
            self.assertEqual(z.namelist(), u.namelist())
            for mine, theirs in zip(z.infolist(), u.infolist()):
                self.assertEqual((mine.date_time, mine.external_attr, mine.compress_type),
                                 (theirs.date_time, theirs.external_attr, theirs.compress_type),
                                 mine.filename)
            for name in z.namelist():
                if not name.endswith(".exe") and name != "sbom.cdx.json":
                    self.assertEqual(z.read(name), u.read(name), name)
            # The bill of materials names the programs as they ship: signed;
            # with the unsigned programs' hashes in their place, and its
            # serial number (a hash of the rest) aside, it is the unsigned one.
            sbom = json.loads(z.read("sbom.cdx.json"))
            for component in sbom["components"]:
                if component["type"] == "file" and component["name"] in unsigned_hashes:
                    name = component["name"]
                    self.assertEqual(component["hashes"][0]["content"],
                                     hashlib.sha256(z.read(name)).hexdigest(), name)
                    component["hashes"][0]["content"] = unsigned_hashes[name]
            theirs = json.loads(u.read("sbom.cdx.json"))
            for bom in (sbom, theirs):
                bom.pop("serialNumber")
            self.assertEqual(sbom, theirs)
        for linux, unsigned in zip(sorted(glob.glob(os.path.join(DIST, "FirstLoad-*-linux-*.tar.gz"))),
                                   KEYS["unsigned_linux"]):
            self.assertEqual(read(linux), read(unsigned), linux)

    def test_checksums_carry_a_signature_that_gpgv_verifies(self):
        sums = os.path.join(DIST, "SHA256SUMS")
        check(["sha256sum", "-c", sums], cwd=DIST)
        self.assertEqual(len(read(sums).splitlines()),
                         len(glob.glob(os.path.join(DIST, "FirstLoad-*"))))
        gpgv = run(["gpgv", "--keyring", KEYS["keyring"], sums + ".asc", sums])
        self.assertEqual(gpgv.returncode, 0, gpgv.stderr)
        self.assertIn('Good signature from "FirstLoad Test Release"', gpgv.stderr)
        tampered = os.path.join(self.folder, "SHA256SUMS")
        with open(tampered, "wb") as f:
            f.write(read(sums).replace(b"  FirstLoad", b"  Firstload"))
        self.assertNotEqual(run(["gpgv", "--keyring", KEYS["keyring"], sums + ".asc",
                                 tampered]).returncode, 0)

    def test_signed_programs_pass_the_release_checks_under_wine(self):
        check(["x86_64-w64-mingw32-g++", "-std=c++20", "-O1", "-static", "-o",
               os.path.join(self.folder, "wininfo.exe"),
               os.path.join(ROOT, "tests", "wine", "wininfo.cpp"), "-lversion"])
        version = re.search(r"FirstLoad-(.+)-win64\.zip$", self.zip).group(1)
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        env.update(WINEPREFIX=os.path.join(self.folder, "prefix"), WINEARCH="win64",
                   WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        try:
            run(["wineboot", "-i"], env=env)
            release = run([sys.executable, os.path.join(ROOT, "tests", "wine", "test_release.py"),
                           "--build", self.folder, "--version", version,
                           "Programs"], env=env)
            self.assertEqual(release.returncode, 0, "\n".join(
                line[:300] for line in release.stderr.splitlines()
                if line.startswith(("FAIL", "ERROR", "AssertionError", "Traceback"))))
            self.assertIn("Ran 2 tests", release.stderr)
        finally:
            subprocess.run(["wineserver", "-k"], env=env, timeout=60)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--reuse-dist", action="store_true")
    args, rest = parser.parse_known_args()
    REUSE_DIST = args.reuse_dist
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
