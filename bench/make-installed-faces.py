#!/usr/bin/python3
"""Makes a folder of installed faces for start-up benchmarks: COUNT copies of the test fonts, each
with a family of its own (name IDs 1, 3, 4, 6 and 16 rewritten), and a fontconfig configuration
that sees only them.

Usage: make-installed-faces.py FOLDER [COUNT]      (needs python3-fonttools)
Then:  FONTCONFIG_FILE=FOLDER/fonts.conf quenfold-cli --list
"""
import os
import sys

from fontTools.ttLib import TTFont

SOURCES = [
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSans-Oblique.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSans-BoldOblique.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf",
    "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf",
    "/usr/share/fonts/truetype/liberation/LiberationSans-Bold.ttf",
    "/usr/share/fonts/truetype/liberation/LiberationMono-Regular.ttf",
    "/usr/share/fonts/truetype/liberation/LiberationSerif-Regular.ttf",
]


def renamed(source, number):
    # Lazy: only the name table is decompiled; every other table is copied as it is.
    font = TTFont(source, lazy=True)
    names = font["name"]
    family = names.getDebugName(1) or "Face"
    style = names.getDebugName(2) or "Regular"
    new_family = "%s Q%04d" % (family, number)
    for record in names.names:
        if record.nameID in (1, 16):
            record.string = new_family
        elif record.nameID in (4, 3):
            record.string = "%s %s" % (new_family, style) if style != "Regular" else new_family
        elif record.nameID == 6:
            record.string = ("%s-%s" % (new_family, style)).replace(" ", "")
    return font


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    folder = os.path.abspath(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    files = os.path.join(folder, "files")
    os.makedirs(files, exist_ok=True)
    for i in range(count):
        source = SOURCES[i % len(SOURCES)]
        # Faces of one family: the styles of a source family get the same number.
        number = i // len(SOURCES)
        target = os.path.join(files, "%04d-%s" % (i, os.path.basename(source)))
        if not os.path.exists(target):
            renamed(source, number).save(target)
    with open(os.path.join(folder, "fonts.conf"), "w") as conf:
        conf.write('<?xml version="1.0"?>\n<!DOCTYPE fontconfig SYSTEM "fonts.dtd">\n<fontconfig>\n'
                   "  <dir>%s</dir>\n  <cachedir>%s</cachedir>\n</fontconfig>\n"
                   % (files, os.path.join(folder, "cache")))


if __name__ == "__main__":
    main()
