#!/usr/bin/env python3
"""Makes the signed-list cases in OUTDIR with the real minisign: three key
pairs in keys/ (a and b built in, as while one replaces the other; c not),
keys.txt with the public keys of a and b, and per case of CASES a page
NAME.html (Form1 with txtvalue and txtsig) and NAME.expect, the words the
refusal must contain ("" where the list is taken).

  signed_pages.py OUTDIR
"""
import html, os, shutil, subprocess, sys, tempfile, time

QUERY = {"APPCODE": "4711", "FeatureName": "3"}  # the test's request
LIST = "Caf\u00e9 Filters/4711/filters.zip/1 MB#Help/4711/help.zip/?"
LATER = int(time.time()) + 10 * 365 * 86400

# name: key, what is signed, how (-l: the legacy un-hashed form), the
# trusted comment's fields, what is done to the page after, and the expected
# refusal.
CASES = [
    ("good", "a", {}, {}, None, ""),
    ("second-key", "b", {}, {}, None, ""),
    ("list-changed", "a", {}, {}, "list", "does not match its signature"),
    ("other-key", "c", {}, {}, None, "does not trust"),
    ("legacy-form", "a", {"legacy": True}, {}, None, "pre-hashed"),
    ("other-appcode", "a", {}, {"APPCODE": "4712"}, None, "another request"),
    ("other-feature", "a", {}, {"FeatureName": "30"}, None, "another request"),
    ("expired", "a", {}, {"expires": "1700000000"}, None, "expired"),
    ("comment-changed", "a", {}, {}, "comment", "trusted comment does not match"),
    ("not-firstloads", "a", {"comment": "timestamp:1700000000"}, {}, None, "not FirstLoad's"),
    ("damaged", "a", {}, {}, "damage", "damaged"),
    ("no-field", "a", {}, {}, "drop", "no signature"),
]


def minisign(*args):
    subprocess.run(["minisign", *args], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def main():
    out = sys.argv[1]
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(os.path.join(out, "keys"))
    for k in "abc":
        minisign("-G", "-W", "-f", "-p", os.path.join(out, "keys", k + ".pub"),
                 "-s", os.path.join(out, "keys", k + ".key"))
    def public(k):
        with open(os.path.join(out, "keys", k + ".pub")) as f:
            return f.read().splitlines()[1]
    with open(os.path.join(out, "keys.txt"), "w") as f:
        f.write("%s;%s" % (public("a"), public("b")))
    with tempfile.TemporaryDirectory() as tmp:
        message = os.path.join(tmp, "list")
        with open(message, "wb") as f:
            f.write(LIST.encode("utf-8"))
        for name, key, how, fields, after, expect in CASES:
            values = dict(QUERY, expires=str(LATER))
            values.update(fields)
            comment = how.get("comment", "FirstLoad APPCODE=%(APPCODE)s FeatureName=%(FeatureName)s "
                                         "expires=%(expires)s" % values)
            sig = os.path.join(tmp, name + ".minisig")
            minisign("-S", *(["-l"] if how.get("legacy") else []), "-s",
                     os.path.join(out, "keys", key + ".key"), "-m", message, "-x", sig, "-t", comment)
            with open(sig) as f:
                lines = f.read().splitlines()
            listed = LIST
            if after == "list":
                listed = LIST.replace("1 MB", "2 MB")
            elif after == "comment":
                lines[2] = lines[2].replace("FeatureName=3", "FeatureName=4")
            elif after == "damage":
                lines[1] = lines[1][:40]
            field = "" if after == "drop" else \
                '<textarea name="txtsig">%s</textarea>' % html.escape("\n".join(lines) + "\n")
            page = ('<!DOCTYPE html><html><head><meta charset="utf-8"></head><body>'
                    '<form name="Form1"><input type="hidden" name="txtvalue" value="%s">%s</form>'
                    '</body></html>' % (html.escape(listed, quote=True), field))
            with open(os.path.join(out, name + ".html"), "wb") as f:
                f.write(page.encode("utf-8"))
            with open(os.path.join(out, name + ".expect"), "w") as f:
                f.write(expect)


if __name__ == "__main__":
    main()
