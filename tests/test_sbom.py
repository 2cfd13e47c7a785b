#!/usr/bin/env python3
"""The packages' bill of materials (tools/sbom.py), made for a package of this
build's own FirstLoad and HTTP module: the same input gives the same bytes,
it names what the dynamic loader loads and what the link took in, and its
check refuses a package that is not the one it describes."""
import argparse
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

parser = argparse.ArgumentParser()
parser.add_argument("--build", required=True)
parser.add_argument("--source", required=True)
args = parser.parse_args()
tool = os.path.join(args.source, "tools", "sbom.py")
sys.path.insert(0, os.path.dirname(tool))
import sbom  # noqa: E402

failures = []


def expect(ok, what):
    if not ok:
        failures.append(what)


# DEP-5 License lines and their SPDX expressions; None keeps the line as a name.
for line, want in [
    ("GPL-2+", "GPL-2.0-or-later"), ("GPL-2", "GPL-2.0-only"), ("LGPL-2.1+", "LGPL-2.1-or-later"),
    ("LGPL-2+", "LGPL-2.0-or-later"), ("Expat", "MIT"), ("bsd-3-clause", "BSD-3-Clause"),
    ("BSD-3-clause or GPL-2", "BSD-3-Clause OR GPL-2.0-only"),
    ("LGPL-2+ and MIT", "LGPL-2.0-or-later AND MIT"),
    ("GPL-2+ or AFL-2.1, and Expat", None), ("GPL-2+ with OpenSSL exception", None),
    ("PD", None), ("GPL-2+ or Tcl-BSDish", None), ("GPL-2.1+", None),
]:
    got = sbom.spdx_expression(line)
    expect(got == want, "licence %r: %r, not %r" % (line, got, want))

work = tempfile.mkdtemp(prefix="firstload-sbom-test-")
try:
    # The licence of a copyright file is its `Files: *` paragraph's.
    copyright_file = os.path.join(work, "copyright")
    with open(copyright_file, "w") as f:
        f.write("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n\n"
                "Files: debian/*\nLicense: GPL-2+\n\nFiles: *\nCopyright: someone\nLicense: Zlib\n")
    expect(sbom.licences("zlib", copyright_file) == [{"license": {"id": "Zlib"}}],
           "the Files: * paragraph's licence was not taken")
    expect(sbom.licences("gcc-12", None) == [{"expression": "GPL-3.0-or-later WITH GCC-exception-3.1"}],
           "GCC's runtime lacks its exception")

    stage = os.path.join(work, "stage")
    os.makedirs(os.path.join(stage, "licences"))
    for name in ("FirstLoad", "libFirstLoadHttp.so"):
        shutil.copy(os.path.join(args.build, name), stage)
    with open(os.path.join(stage, "licences", "notice.txt"), "w") as f:
        f.write("a notice\n")

    def make(epoch):
        env = dict(os.environ, SOURCE_DATE_EPOCH=str(epoch))
        subprocess.run([sys.executable, tool, "make", "--stage", stage, "--build", args.build,
                        "--arch", subprocess.check_output(["dpkg", "--print-architecture"], text=True).strip(),
                        "--version", "9.8.7", "--commit", "0123abc"], env=env, check=True)
        with open(os.path.join(stage, sbom.SBOM_NAME), "rb") as f:
            return f.read()

    first, second, later = make(1000000000), make(1000000000), make(1000000060)
    expect(first == second, "two runs on the same files gave different bytes")
    doc, other = json.loads(first), json.loads(later)
    expect(doc["metadata"]["timestamp"] == "2001-09-09T01:46:40Z", "timestamp not SOURCE_DATE_EPOCH's")
    expect(other["metadata"]["timestamp"] == "2001-09-09T01:47:40Z", "timestamp not SOURCE_DATE_EPOCH's")
    expect(doc["serialNumber"] != other["serialNumber"], "the serial number is not the content's")
    app = doc["metadata"]["component"]
    expect((app["version"], app["properties"]) == ("9.8.7", [{"name": "firstload:commit", "value": "0123abc"}]),
           "FirstLoad's version or commit is missing: %r" % app)

    files = {c["name"]: c for c in doc["components"] if c["type"] == "file"}
    expect(sorted(files) == ["FirstLoad", "libFirstLoadHttp.so", "licences/notice.txt"],
           "files listed: %s" % sorted(files))
    for name, c in files.items():
        with open(os.path.join(stage, name), "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        expect(c["hashes"] == [{"alg": "SHA-256", "content": digest}], "%s: wrong hash" % name)

    libraries = [c for c in doc["components"] if c["type"] == "library"]
    prop = lambda c, key: next(p["value"] for p in c["properties"] if p["name"] == key)
    loaded = {f for c in libraries if "dynamic" in prop(c, "firstload:linkage")
              for f in prop(c, "firstload:files").split()}
    # What the dynamic loader itself says the two load.
    ldd = set()
    for name in ("FirstLoad", "libFirstLoadHttp.so"):
        out = subprocess.check_output(["ldd", os.path.join(stage, name)], text=True)
        ldd |= {os.path.basename(m) for m in re.findall(r"^\s*(\S+)", out, re.MULTILINE)}
    ldd.discard("linux-vdso.so.1")
    expect(loaded == ldd, "loaded libraries: SBOM only %s, ldd only %s" % (loaded - ldd, ldd - loaded))
    with open(os.path.join(args.build, "CMakeFiles", "FirstLoad.dir", "link.txt")) as f:
        static_cxx = "-static-libstdc++" in f.read()
    linked = {f for c in libraries if "static" in prop(c, "firstload:linkage")
              for f in prop(c, "firstload:files").split()}
    expect(("libstdc++.a" in linked) == static_cxx, "libstdc++.a linked in: %s" % sorted(linked))

    owner = {f: c["bom-ref"] for c in libraries for f in prop(c, "firstload:files").split()}
    deps = {d["ref"]: d["dependsOn"] for d in doc["dependencies"]}
    expect(owner["libc.so.6"] in deps["file:FirstLoad"], "FirstLoad does not depend on libc")
    expect(owner["libssl.so.3"] in deps.get(owner["libcurl.so.4"], []), "libcurl does not depend on libssl")
    expect(owner["libcurl.so.4"] not in deps["file:FirstLoad"], "FirstLoad depends on libcurl")

    def check(at):
        return subprocess.run([sys.executable, tool, "check", "--stage", at],
                              capture_output=True, text=True)

    expect(check(stage).returncode == 0, "check refused the package it was made for: " + check(stage).stderr)

    def edit_version(at, c_name):
        path = os.path.join(at, sbom.SBOM_NAME)
        with open(path) as f:
            text = f.read()
        c = next(c for c in json.loads(text)["components"] if c["name"] == c_name)
        with open(path, "w") as f:
            f.write(text.replace("@" + sbom.urllib.parse.quote(c["version"], ":~"), "@0.0-0")
                    .replace('"version": "%s"' % c["version"], '"version": "0.0-0"'))

    libc = next(c["name"] for c in libraries if c["bom-ref"] == owner["libc.so.6"])
    faults = [
        ("a file changed", lambda at: open(os.path.join(at, "FirstLoad"), "ab").write(b"\0"),
         "FirstLoad has another SHA-256"),
        ("a file added", lambda at: open(os.path.join(at, "extra.txt"), "w").write("x"),
         "extra.txt is not in the SBOM"),
        ("a file gone", lambda at: os.remove(os.path.join(at, "licences", "notice.txt")),
         "licences/notice.txt is in the SBOM but not in the package"),
        ("a version not installed", lambda at: edit_version(at, libc), "the SBOM says 0.0-0, installed is"),
    ]
    for what, plant, message in faults:
        at = os.path.join(work, "fault")
        shutil.rmtree(at, ignore_errors=True)
        shutil.copytree(stage, at)
        plant(at)
        run = check(at)
        expect(run.returncode == 1 and message in run.stderr,
               "%s: check ended %d: %s" % (what, run.returncode, run.stderr.strip()))
finally:
    shutil.rmtree(work)

for f in failures:
    print("FAIL: " + f)
print("%d failed" % len(failures))
sys.exit(1 if failures else 0)
