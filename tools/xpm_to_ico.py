#!/usr/bin/env python3
"""Writes the form's icon as a Windows .ico file.

  xpm_to_ico.py ICON_HEADER OUTPUT.ico

ICON_HEADER is a C header holding one XPM picture as an array of strings, as
platform/posix/gtk/icon.h does: both backends show the same picture. The icon
has one 32 x 32 image in 16 colours; the XPM colour "None" becomes the
transparent part of the mask.
"""
import os
import re
import struct
import sys


def read_xpm(header):
    text = open(header, encoding="utf-8").read()
    strings = re.findall(r'"((?:[^"\\]|\\.)*)"', text)
    width, height, colours, per_pixel = (int(v) for v in strings[0].split()[:4])
    palette = {}
    for line in strings[1:1 + colours]:
        key, rest = line[:per_pixel], line[per_pixel:].split()
        palette[key] = rest[rest.index("c") + 1]
    rows = strings[1 + colours:1 + colours + height]
    pixels = [[row[x * per_pixel:(x + 1) * per_pixel] for x in range(width)] for row in rows]
    return width, height, palette, pixels


def ico(width, height, palette, pixels):
    colours = [c for c in palette.values() if c.lower() != "none"]
    if len(colours) > 16:
        sys.exit("the picture has more than 16 colours")
    colours += ["#000000"] * (16 - len(colours))
    index = {key: colours.index(c) for key, c in palette.items() if c.lower() != "none"}
    transparent = {key for key, c in palette.items() if c.lower() == "none"}

    # Bitmap rows run bottom-up; each row is padded to four bytes.
    xor_rows, and_rows = [], []
    for row in reversed(pixels):
        nibbles = [index.get(p, 0) for p in row]
        xor = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, width, 2))
        xor_rows.append(xor + b"\0" * (-len(xor) % 4))
        bits = 0
        mask = bytearray()
        for x, p in enumerate(row):
            bits = (bits << 1) | (1 if p in transparent else 0)
            if x % 8 == 7:
                mask.append(bits)
                bits = 0
        and_rows.append(bytes(mask) + b"\0" * (-len(mask) % 4))

    info = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 4, 0,
                       sum(map(len, xor_rows)) + sum(map(len, and_rows)), 0, 0, 16, 0)
    quads = b"".join(bytes((int(c[5:7], 16), int(c[3:5], 16), int(c[1:3], 16), 0))
                     for c in colours)
    image = info + quads + b"".join(xor_rows) + b"".join(and_rows)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", width, height, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    os.makedirs(os.path.dirname(os.path.abspath(sys.argv[2])), exist_ok=True)
    with open(sys.argv[2], "wb") as out:
        out.write(ico(*read_xpm(sys.argv[1])))


if __name__ == "__main__":
    main()
