#!/usr/bin/env python3
"""Keeps the layering of the code true by reading its includes.

platform/ is below everything; ModMain.h and errorlog/ are below the
subsystems, frmmain/ is below startup/ and launch/, which sit on top.
Usage: check_layers.py SOURCE_DIR; prints each include that reaches up and
exits 1 if there is one.
"""
import pathlib
import re
import sys

BASE = ["platform/", "ModMain/ModMain.h", "ModMain/errorlog/"]
SUBSYSTEMS = ["ModMain/encoding/", "ModMain/recordfile/", "ModMain/featurelist/"]

# Longest prefix first: what the files under each folder may include.
ALLOWED = [
    ("platform/", ["platform/"]),
    ("ModMain/ModMain.h", ["platform/"]),
    ("ModMain/errorlog/", BASE),
    ("ModMain/encoding/", BASE + ["ModMain/encoding/"]),
    ("ModMain/featurelist/", BASE + ["ModMain/featurelist/"]),
    ("ModMain/recordfile/", BASE + ["ModMain/encoding/", "ModMain/recordfile/"]),
    ("frmmain/", BASE + SUBSYSTEMS + ["frmmain/"]),
    ("ModMain/startup/", None),
    ("ModMain/launch/", None),
    ("ModMain/RunVars.cpp", ["ModMain/ModMain.h"]),
]

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def rule_for(path):
    for prefix, allowed in ALLOWED:
        if path.startswith(prefix):
            return prefix, allowed
    return None, None


def main():
    root = pathlib.Path(sys.argv[1])
    problems = []
    checked = 0
    for folder in ("platform", "ModMain", "frmmain"):
        for file in sorted((root / folder).rglob("*")):
            if file.suffix not in (".h", ".cpp", ".c"):
                continue
            path = file.relative_to(root).as_posix()
            prefix, allowed = rule_for(path)
            if prefix is None:
                problems.append("%s: in no layer" % path)
                continue
            checked += 1
            if allowed is None:
                continue
            for target in INCLUDE.findall(file.read_text(errors="replace")):
                if not any(target.startswith(a) for a in allowed):
                    problems.append("%s includes %s, which is above it" % (path, target))
    for p in problems:
        print(p)
    print("%d files checked, %d includes reach up" % (checked, len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
