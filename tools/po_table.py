#!/usr/bin/env python3
"""Windows carries the window's translations inside the exe: this writes
them from po/<language>.po as a C++ table, keyed by the Windows language.

  po_table.py OUT.cpp PO...
"""
import os
import sys

# gettext's name of a language -> its primary language and, where the name
# has a region, the sublanguage Windows gives that region.
LANGIDS = {"de": (0x07, None), "fr": (0x0C, None), "es": (0x0A, None), "it": (0x10, None),
           "pt_BR": (0x16, 0x01), "pl": (0x15, None), "ru": (0x19, None), "ja": (0x11, None),
           "zh_CN": (0x04, 0x02), "ko": (0x12, None)}


def unquote(text):
    out, i = [], 0
    escapes = {"n": "\n", "t": "\t", '"': '"', "\\": "\\"}
    while i < len(text):
        if text[i] == "\\":
            out.append(escapes[text[i + 1]])
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def entries(path):
    """The translated msgid -> msgstr pairs of a .po file (no plurals, no
    contexts: the window has neither)."""
    pairs, key, current = [], None, {}
    with open(path, encoding="utf-8") as po:
        for line in po:
            line = line.strip()
            if line.startswith("#") or not line:
                continue
            if line.startswith("msgid ") or line.startswith("msgstr "):
                key, rest = line.split(" ", 1)
                if key == "msgid" and "msgstr" in current:
                    pairs.append((current["msgid"], current["msgstr"]))
                    current = {}
                current[key] = unquote(rest[1:-1])
            elif line.startswith('"'):
                current[key] += unquote(line[1:-1])
            else:
                raise ValueError("%s: cannot read %r" % (path, line))
    if "msgstr" in current:
        pairs.append((current["msgid"], current["msgstr"]))
    return [(i, s) for i, s in pairs if i and s]


def literal(text):
    """A UTF-16 literal in plain ASCII, whatever the compiler's source charset."""
    out = []
    for c in text:
        if c in '"\\':
            out.append("\\" + c)
        elif " " <= c <= "~":
            out.append(c)
        elif ord(c) > 0xFFFF:
            out.append("\\U%08X" % ord(c))
        else:
            out.append("\\u%04X" % ord(c))
    return 'u"' + "".join(out) + '"'


def main():
    out, pos = sys.argv[1], sys.argv[2:]
    rows = []
    for path in pos:
        language = os.path.splitext(os.path.basename(path))[0]
        primary, sub = LANGIDS[language]
        for msgid, msgstr in entries(path):
            rows.append("    {0x%02X, %d, %s, %s}," % (primary, -1 if sub is None else sub,
                                                       literal(msgid), literal(msgstr)))
    text = ("// Made by tools/po_table.py from po/; not edited by hand.\n"
            '#include "platform/win32/catalogue.h"\n\n'
            "namespace fl::win32 {\n\n"
            "const CatalogueEntry kCatalogue[] = {\n" + "\n".join(rows) + "\n};\n"
            "const int kCatalogueSize = %d;\n\n}  // namespace fl::win32\n" % len(rows))
    with open(out, "w", encoding="ascii") as f:
        f.write(text)


if __name__ == "__main__":
    main()
