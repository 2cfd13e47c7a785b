#!/usr/bin/env python3
"""The bill of materials of a FirstLoad package, in CycloneDX 1.6 JSON.

  sbom.py make  --stage DIR --build DIR --arch ARCH --version V --commit SHA [--out NAME]
  sbom.py check --stage DIR [--sbom NAME] [--root DIR]

`make` hashes every file of the package's stage folder and lists the
components the build put into its binaries or that they load:
  - what the linker took in (CMake's link lines, run again with the linker's
    trace): static archives and start files, from the Debian package that
    owns them, or from the Debian source package whose .dsc lies beside a
    library built here (the HTML parser);
  - what the ELF files load (DT_NEEDED, followed to the end), as the Debian
    packages that own those libraries.
The output depends only on the files, the package database and
SOURCE_DATE_EPOCH: everything is sorted and the serial number is derived
from the content.

`check` tells whether the SBOM in a package hashes every file correctly and
names the Debian packages at the versions installed here, or in the root
file system given (--root), where the Linux packages are built.
"""
import argparse
import hashlib
import json
import os
import re
import shlex
import struct
import subprocess
import sys
import tempfile
import time
import urllib.parse
import uuid

SBOM_NAME = "sbom.cdx.json"

# Licences of source packages whose copyright file gives none that maps
# clearly: GCC's runtime carries the runtime library exception, glibc's
# copyright is free text; the HTML parser is built here from its source.
SOURCE_LICENCES = {
    "gcc-10": "GPL-3.0-or-later WITH GCC-exception-3.1",
    "gcc-12": "GPL-3.0-or-later WITH GCC-exception-3.1",
    "gcc-mingw-w64": "GPL-3.0-or-later WITH GCC-exception-3.1",
    "glibc": "LGPL-2.1-or-later",
    "gumbo-parser": "Apache-2.0",
    "libsodium": "ISC",
}

# DEP-5 short names that are SPDX identifiers once their case is fixed;
# the GPL family is handled by pattern.
SPDX_IDS = {i.lower(): i for i in (
    "Apache-2.0", "Artistic-2.0", "BSD-2-Clause", "BSD-3-Clause", "BSD-4-Clause", "BSL-1.0",
    "CC0-1.0", "curl", "FTL", "ISC", "MIT", "MPL-1.1", "MPL-2.0", "OpenSSL", "Unicode-DFS-2016",
    "X11", "Zlib", "ZPL-2.1", "bzip2-1.0.6", "libpng-2.0", "IJG", "libtiff", "HPND", "0BSD")}
SPDX_IDS["expat"] = "MIT"
GNU_LICENCE = re.compile(r"^(A?GPL|LGPL|GFDL)-?(\d)(?:\.(\d))?(\+)?$", re.IGNORECASE)
GNU_VERSIONS = {"GPL-1.0", "GPL-2.0", "GPL-3.0", "LGPL-2.0", "LGPL-2.1", "LGPL-3.0", "AGPL-3.0",
                "GFDL-1.1", "GFDL-1.2", "GFDL-1.3"}


def spdx_id(name):
    """The SPDX identifier of one DEP-5 short name, or None."""
    m = GNU_LICENCE.match(name)
    if m:
        family, major, minor, plus = m.groups()
        licence = "%s-%s.%s" % (family.upper(), major, minor or "0")
        if licence not in GNU_VERSIONS:
            return None
        return licence + ("-or-later" if plus else "-only")
    return SPDX_IDS.get(name.lower())


def spdx_expression(field):
    """A DEP-5 License line as an SPDX expression, or None where a name does
    not map or the line uses precedence that SPDX would read differently."""
    if "," in field:
        return None
    parts = re.split(r"\s+(or|and)\s+", field.strip(), flags=re.IGNORECASE)
    out = []
    for i, part in enumerate(parts):
        if i % 2:
            out.append(part.upper())
            continue
        ident = spdx_id(part)
        if ident is None:
            return None
        out.append(ident)
    return " ".join(out)


def dep5_licence(path):
    """The License line of the `Files: *` paragraph of a machine-readable
    Debian copyright file, or None."""
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
    except OSError:
        return None
    paragraphs = re.split(r"\n\s*\n", text)
    if not re.match(r"Format:.*copyright-format", paragraphs[0], re.IGNORECASE):
        return None
    for paragraph in paragraphs[1:]:
        files = re.search(r"^Files:\s*(.*)$", paragraph, re.MULTILINE)
        licence = re.search(r"^License:\s*(.*)$", paragraph, re.MULTILINE)
        if files and licence and files.group(1).split() and files.group(1).split()[0] == "*":
            return licence.group(1).strip() or None
    return None


def licences(source, copyright_file):
    expression = SOURCE_LICENCES.get(source)
    if expression is None:
        field = dep5_licence(copyright_file) if copyright_file else None
        if field is None:
            return None
        expression = spdx_expression(field)
        if expression is None:
            return [{"license": {"name": field}}]
    if re.fullmatch(r"[A-Za-z0-9.+-]+", expression):
        return [{"license": {"id": expression}}]
    return [{"expression": expression}]


# ---------------------------------------------------------------- ELF files

def elf_dynamic(path):
    """(machine, DT_NEEDED names) of an ELF file, or None for any other file. Read from the section headers, so that any architecture's
    files are read alike."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"\x7fELF":
        return None
    wide = data[4] == 2
    end = "<" if data[5] == 1 else ">"
    machine = struct.unpack_from(end + "H", data, 18)[0]
    if wide:
        shoff, = struct.unpack_from(end + "Q", data, 0x28)
        shentsize, shnum = struct.unpack_from(end + "HH", data, 0x3A)
        sh = lambda i: struct.unpack_from(end + "IIQQQQIIQQ", data, shoff + i * shentsize)
        dyn, dynsize = end + "qQ", 16
    else:
        shoff, = struct.unpack_from(end + "I", data, 0x20)
        shentsize, shnum = struct.unpack_from(end + "HH", data, 0x2E)
        sh = lambda i: struct.unpack_from(end + "IIIIIIIIII", data, shoff + i * shentsize)
        dyn, dynsize = end + "iI", 8
    needed = []
    for i in range(shnum):
        _, kind, _, _, offset, size, link, _, _, _ = sh(i)
        if kind != 6:  # SHT_DYNAMIC
            continue
        strtab = sh(link)[4]
        for pos in range(offset, offset + size, dynsize):
            tag, value = struct.unpack_from(dyn, data, pos)
            if tag == 0:
                break
            if tag == 1:  # DT_NEEDED
                needed.append(data[strtab + value:data.index(b"\0", strtab + value)].decode())
    return machine, needed


def library_dirs(arch):
    triplet = subprocess.run(["dpkg-architecture", "-a" + arch, "-qDEB_HOST_MULTIARCH"],
                             check=True, capture_output=True, text=True).stdout.strip()
    return ["/lib/" + triplet, "/usr/lib/" + triplet, "/lib", "/usr/lib", "/lib64", "/usr/lib64"]


def load_closure(stage, files, arch):
    """Every library the ELF files of the package load, followed to the end:
    {file: [paths of what it needs]}, paths absolute. The programs carry no
    run path and load nothing of the package's through DT_NEEDED (the
    modules are opened by name), so only the system's folders are searched;
    a library found nowhere stops the SBOM rather than leave it out."""
    dirs = None
    closure = {}
    todo = [os.path.join(stage, f) for f in files]
    while todo:
        path = todo.pop()
        if path in closure:
            continue
        info = elf_dynamic(path)
        if info is None:
            continue
        machine, needed = info
        dirs = dirs or library_dirs(arch)
        found = []
        for name in needed:
            for d in dirs:
                candidate = os.path.normpath(os.path.join(d, name))
                if os.path.isfile(candidate) and (elf_dynamic(candidate) or (None,))[0] == machine:
                    found.append(candidate)
                    break
            else:
                sys.exit("sbom: %s needs %s, found nowhere in %s" % (path, name, " ".join(dirs)))
        closure[path] = found
        todo.extend(found)
    return closure


# ------------------------------------------------------------- link lines

def link_lines(build):
    """{output file name: (folder, argv)} for every target CMake links; of
    two outputs of one name, the one in the build folder's top."""
    lines = {}
    for folder, dirs, names in os.walk(build):
        dirs.sort()
        if "link.txt" not in names or not folder.endswith(".dir"):
            continue
        workdir = os.path.dirname(os.path.dirname(folder))  # above CMakeFiles/
        with open(os.path.join(folder, "link.txt")) as f:
            for line in f:
                argv = shlex.split(line)
                if "-o" not in argv:
                    continue
                out = os.path.normpath(os.path.join(workdir, argv[argv.index("-o") + 1]))
                name = os.path.basename(out)
                if name not in lines or os.path.dirname(out) == build:
                    lines[name] = (workdir, argv)
    return lines


def linked_in(workdir, argv):
    """What the linker took into the output: archives some member of which
    it used, and object files, as absolute paths. The link is made again into
    a scratch file with the linker's trace."""
    with tempfile.TemporaryDirectory(prefix="firstload-sbom-") as tmp:
        argv = list(argv)
        argv[argv.index("-o") + 1] = os.path.join(tmp, "out")
        run = subprocess.run(argv + ["-Wl,-t,-t"], cwd=workdir, capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit("sbom: linking again in %s failed:\n%s" % (workdir, run.stderr))
    used = set()
    for line in run.stdout.splitlines() + run.stderr.splitlines():
        line = line.strip()
        member = re.match(r"^\((.*)\)[^()]*$", line)
        if member:
            used.add(member.group(1))
        elif line.endswith((".o", ".obj")):
            used.add(line)
    used = {os.path.normpath(os.path.join(workdir, p)) for p in used}
    return sorted(p for p in used if os.path.isfile(p))


# ------------------------------------------------------- Debian packages

def usr_aliases(path):
    """The names dpkg may know a file by on a merged-/usr system."""
    names = []
    for p in (os.path.normpath(path), os.path.realpath(path)):
        names.append(p)
        for short in ("/lib", "/lib64", "/bin", "/sbin"):
            if p.startswith(short + "/"):
                names.append("/usr" + p)
            elif p.startswith("/usr" + short + "/"):
                names.append(p[4:])
    return list(dict.fromkeys(names))


def owners(paths, arch):
    """{path: 'package:arch' or 'package'} from dpkg -S."""
    aliases = {p: usr_aliases(p) for p in paths}
    asked = sorted({a for names in aliases.values() for a in names})
    found = {}
    if asked:
        out = subprocess.run(["dpkg", "-S"] + asked, capture_output=True, text=True).stdout
        for line in out.splitlines():
            if line.startswith("diversion ") or ": " not in line:
                continue
            pkgs, path = line.split(": ", 1)
            pkgs = [p.strip() for p in pkgs.split(",")]
            mine = [p for p in pkgs if p.endswith(":" + arch)] or pkgs
            found[path] = mine[0]
    result = {}
    for p, names in aliases.items():
        owner = next((found[n] for n in names if n in found), None)
        if owner is None:
            sys.exit("sbom: no Debian package owns %s" % p)
        result[p] = owner
    return result


FIELDS = ["Package", "Architecture", "Version", "source:Package", "source:Version", "Maintainer"]


def package_info(names):
    """{name_arch: fields} from dpkg-query for 'package:arch' or 'package' names."""
    fmt = "\t".join("${%s}" % f for f in FIELDS) + "\n"
    out = subprocess.run(["dpkg-query", "-W", "-f=" + fmt] + sorted(names),
                         check=True, capture_output=True, text=True).stdout
    rows = [dict(zip(FIELDS, line.split("\t"))) for line in out.splitlines()]
    info = {}
    for name_arch in names:
        name, _, arch = name_arch.partition(":")
        row = next(r for r in rows if r["Package"] == name and arch in ("", r["Architecture"]))
        info[name_arch] = row
    return info


def read_dsc(path):
    fields = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            m = re.match(r"^(Source|Version|Maintainer|X-Distro):\s*(.*)$", line)
            if m:
                fields[m.group(1)] = m.group(2).strip()
    return fields


def distro():
    try:
        with open("/etc/os-release") as f:
            rows = dict(l.rstrip("\n").split("=", 1) for l in f if "=" in l)
    except OSError:
        return None
    name, version = rows.get("ID", "").strip('"'), rows.get("VERSION_ID", "").strip('"')
    return "%s-%s" % (name, version) if name and version else None


def purl(name, version, arch, dist):
    quote = lambda s, safe="": urllib.parse.quote(s, safe=safe)
    qualifiers = "arch=" + quote(arch) + ("&distro=" + quote(dist) if dist else "")
    return "pkg:deb/debian/%s@%s?%s" % (quote(name), quote(version, ":~"), qualifiers)


def supplier(maintainer):
    m = re.match(r"^\s*(.*?)\s*<([^>]+)>\s*$", maintainer or "")
    if not m:
        return {"name": maintainer} if maintainer else None
    return {"name": m.group(1) or m.group(2), "contact": [{"email": m.group(2)}]}


def component(name, version, arch, source, source_version, maintainer, copyright_file, linkage,
              files, dist):
    ref = purl(name, version, arch, dist)
    c = {"type": "library", "bom-ref": ref, "name": name, "version": version}
    who = supplier(maintainer)
    if who:
        c["supplier"] = who
    lic = licences(source, copyright_file)
    if lic:
        c["licenses"] = lic
    c["purl"] = ref
    c["properties"] = [
        {"name": "firstload:linkage", "value": linkage},
        {"name": "firstload:files", "value": " ".join(sorted(files))},
        {"name": "debian:source", "value": "%s %s" % (source, source_version)},
    ]
    return c


# ------------------------------------------------------------------- make

def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def package_files(stage, sbom_name):
    names = []
    for folder, dirs, files in os.walk(stage):
        dirs.sort()
        for f in files:
            rel = os.path.relpath(os.path.join(folder, f), stage).replace(os.sep, "/")
            if rel != sbom_name:
                names.append(rel)
    return sorted(names)


def make(args):
    stage, build = os.path.abspath(args.stage), os.path.abspath(args.build)
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if not epoch:
        sys.exit("sbom: SOURCE_DATE_EPOCH is not set")
    dist = distro()
    files = package_files(stage, args.out)
    file_ref = {f: "file:" + f for f in files}

    # What each file contains (its link) and loads (its ELF dependencies).
    lines = link_lines(build)
    contains = {}
    built_from = {}  # a library built here -> the .dsc of its source
    for f in files:
        line = lines.get(os.path.basename(f))
        if line is None:
            continue
        # What the build folder holds is FirstLoad's own code, but for a
        # library built here from a Debian source whose .dsc lies beside it.
        inputs = []
        for p in linked_in(*line):
            if os.path.commonpath([p, build]) != build:
                inputs.append(p)
                continue
            folder = os.path.dirname(p)
            while os.path.commonpath([folder, build]) == build and folder != build:
                dsc = sorted(n for n in os.listdir(folder) if n.endswith(".dsc"))
                if dsc:
                    built_from[p] = os.path.join(folder, dsc[0])
                    inputs.append(p)
                    break
                folder = os.path.dirname(folder)
        contains[f] = inputs
    closure = load_closure(stage, files, args.arch)
    outside = sorted({p for needs in closure.values() for p in needs})
    system = sorted({p for ps in contains.values() for p in ps if p not in built_from} | set(outside))
    owner = owners(system, args.arch)
    info = package_info(set(owner.values()))

    components, refs_of = {}, {}  # ref -> component; path -> ref
    linkage, used_files = {}, {}
    for p, name_arch in owner.items():
        row = info[name_arch]
        ref = purl(row["Package"], row["Version"], row["Architecture"], dist)
        refs_of[p] = ref
        used_files.setdefault(ref, set()).add(os.path.basename(p))
        linkage.setdefault(ref, set()).add("dynamic" if p in outside else "static")
        components[ref] = row
    for p, dsc_path in built_from.items():
        dsc = read_dsc(dsc_path)
        row = {"Package": dsc["Source"], "Architecture": "source", "Version": dsc["Version"],
               "source:Package": dsc["Source"], "source:Version": dsc["Version"],
               "Maintainer": dsc.get("Maintainer", ""), "distro": dsc.get("X-Distro", dist)}
        ref = purl(row["Package"], row["Version"], "source", row["distro"])
        refs_of[p] = ref
        used_files.setdefault(ref, set()).add(os.path.basename(p))
        linkage.setdefault(ref, set()).add("static")
        components[ref] = row

    libraries = []
    for ref, row in sorted(components.items()):
        copyright_file = None
        if row["Architecture"] != "source":
            copyright_file = "/usr/share/doc/%s/copyright" % row["Package"]
        libraries.append(component(
            row["Package"], row["Version"], row["Architecture"], row["source:Package"],
            row["source:Version"], row["Maintainer"], copyright_file,
            "+".join(sorted(linkage[ref])), used_files[ref], row.get("distro", dist)))

    file_components = [{"type": "file", "bom-ref": file_ref[f], "name": f,
                        "hashes": [{"alg": "SHA-256", "content": sha256(os.path.join(stage, f))}]}
                       for f in files]

    # Who depends on whom: the package's files on what they contain and
    # load, each Debian package on what its libraries load.
    edges = {file_ref[f]: set() for f in files}
    edges.update({ref: set() for ref in components})
    for f in files:
        edges[file_ref[f]].update(refs_of[p] for p in contains.get(f, []))
    for path, needs in closure.items():
        if os.path.commonpath([path, stage]) == stage:
            src = file_ref[os.path.relpath(path, stage).replace(os.sep, "/")]
        else:
            src = refs_of[path]
        edges[src].update(refs_of[p] for p in needs if refs_of[p] != src)
    app_ref = "FirstLoad@" + args.version
    dependencies = [{"ref": app_ref, "dependsOn": sorted(file_ref.values())}]
    dependencies += [{"ref": ref, "dependsOn": sorted(deps)} for ref, deps in sorted(edges.items())]

    stamp = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(int(epoch)))
    bom = {
        "version": 1,
        "metadata": {
            "timestamp": stamp,
            "lifecycles": [{"phase": "build"}],
            "tools": {"components": [{"type": "application", "name": "FirstLoad tools/sbom.py",
                                      "version": args.version}]},
            "component": {
                "type": "application", "bom-ref": app_ref, "name": "FirstLoad",
                "version": args.version,
                "properties": [{"name": "firstload:commit", "value": args.commit}],
            },
        },
        "components": file_components + libraries,
        "dependencies": dependencies,
    }
    # The serial number names this content: the same package, the same number.
    digest = hashlib.sha256(canonical(bom)).digest()
    serial = "urn:uuid:" + str(uuid.UUID(bytes=digest[:16], version=5))
    bom = {"bomFormat": "CycloneDX", "specVersion": "1.6", "serialNumber": serial, **bom}
    with open(os.path.join(stage, args.out), "w", encoding="utf-8") as f:
        f.write(json.dumps(bom, indent=2, ensure_ascii=False) + "\n")


def canonical(doc):
    return json.dumps(doc, sort_keys=True, separators=(",", ":"), ensure_ascii=False).encode()


# ------------------------------------------------------------------ check

def check(args):
    stage = os.path.abspath(args.stage)
    with open(os.path.join(stage, args.sbom), encoding="utf-8") as f:
        bom = json.load(f)
    problems = []
    hashed = {}
    for c in bom.get("components", []):
        if c.get("type") == "file":
            digests = [h["content"] for h in c.get("hashes", []) if h.get("alg") == "SHA-256"]
            hashed[c["name"]] = digests[0] if digests else None
    files = package_files(stage, args.sbom)
    for f in files:
        if f not in hashed:
            problems.append("%s is not in the SBOM" % f)
        elif hashed[f] != sha256(os.path.join(stage, f)):
            problems.append("%s has another SHA-256 than the SBOM says" % f)
    problems += ["%s is in the SBOM but not in the package" % f for f in sorted(set(hashed) - set(files))]

    wanted = {}
    for c in bom.get("components", []):
        m = re.match(r"^pkg:deb/debian/([^@]+)@([^?]+)\?(.*)$", c.get("purl", ""))
        if not m:
            continue
        name, version = urllib.parse.unquote(m.group(1)), urllib.parse.unquote(m.group(2))
        arch = urllib.parse.parse_qs(m.group(3)).get("arch", [""])[0]
        if arch == "source":
            continue  # built here from source; no installed package to compare
        if c.get("version") != version:
            problems.append("%s: version %s, purl %s" % (name, c.get("version"), version))
        wanted[name if arch == "all" else name + ":" + arch] = version
    if wanted:
        admin = ["--admindir=" + os.path.join(args.root, "var/lib/dpkg")] if args.root else []
        run = subprocess.run(["dpkg-query"] + admin + ["-W", "-f=${Package}:${Architecture}\t${Version}\n"]
                             + sorted(wanted), capture_output=True, text=True)
        installed = {}
        for line in run.stdout.splitlines():
            name_arch, version = line.split("\t")
            installed[name_arch[:-len(":all")] if name_arch.endswith(":all") else name_arch] = version
        for name_arch, version in sorted(wanted.items()):
            have = installed.get(name_arch)
            if have != version:
                problems.append("%s: the SBOM says %s, installed is %s"
                                % (name_arch, version, have or "nothing"))
    for p in problems:
        print("sbom: " + p, file=sys.stderr)
    if problems:
        sys.exit(1)
    print("sbom: %d files hashed, %d Debian packages at their installed versions"
          % (len(files), len(wanted)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    m = sub.add_parser("make")
    m.add_argument("--stage", required=True, help="the package's folder as it will be archived")
    m.add_argument("--build", required=True, help="the CMake build folder that made it")
    m.add_argument("--arch", required=True, help="Debian architecture of the binaries")
    m.add_argument("--version", required=True)
    m.add_argument("--commit", required=True)
    m.add_argument("--out", default=SBOM_NAME, help="file name inside the stage folder")
    c = sub.add_parser("check")
    c.add_argument("--stage", required=True, help="an unpacked package")
    c.add_argument("--sbom", default=SBOM_NAME)
    c.add_argument("--root", help="the root file system the package was built in, whose "
                                  "Debian packages are compared instead of this machine's")
    args = parser.parse_args()
    make(args) if args.command == "make" else check(args)


if __name__ == "__main__":
    main()
