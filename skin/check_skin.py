#!/usr/bin/python3
"""Checks the skin pictures against what the player expects of them.

Every picture must exist under skin/images/ with its exact name, file format
and pixel size; bitmaps must be uncompressed 24-bit. skin.qrc must list
exactly the files of skin/images/, each under its own name. Reads the file
headers itself, so it needs nothing beyond the standard library.

Prints one line per fault and exits 1; prints one line and exits 0 when all
is well. Usage: /usr/bin/python3 skin/check_skin.py [skin-directory]
"""

import os
import struct
import sys
import xml.etree.ElementTree as ET

# name -> (format, width, height)
EXPECTED = {}


def _add(names, fmt, w, h):
    for n in names.split():
        EXPECTED[n] = (fmt, w, h)


# pictures the buttons show
_add("tdN tdM tdd", "BMP", 24, 23)
_add("pn pm pd", "BMP", 19, 20)
_add("PausN PausM PausD", "BMP", 25, 25)
_add("PrevN PrevM PrevD NextN NextM NextD SBiN SBiM SBiD SFiN SFiM SFiD "
     "EjectN EjectM EjectD", "BMP", 32, 20)
_add("Opn Opm", "BMP", 38, 13)
_add("Moni Momi Modi Mn Mm Md", "GIF", 10, 10)
_add("PlusN PlusM PlusD MinusN MinusM MinusD", "BMP", 10, 10)
_add("MinN MinM MinD MaxN MaxM MaxD CrssN CrssM CrssD", "GIF", 34, 11)
# pictures the store keeps without a button to show them
_add("StepD StepM StopN PlayN Playm", "BMP", 32, 20)
_add("AddN AddM AddD RemN RemM RemD", "BMP", 20, 15)
_add("SD sm", "GIF", 13, 13)
_add("PlN", "GIF", 16, 22)
_add("Plm", "GIF", 20, 28)
# panel background and program icon
_add("panel", "BMP", 418, 113)
_add("velmora", "PNG", 64, 64)

EXTENSION = {"BMP": ".bmp", "GIF": ".gif", "PNG": ".png"}
ICON_SIZES = (16, 32, 48, 64, 128, 256)


def read_header(path):
    """(format, width, height, bits per pixel or None), or a fault text."""
    with open(path, "rb") as fh:
        data = fh.read()
    if data[:2] == b"BM" and len(data) >= 54:
        dib_size, w, h, planes, bpp, compression = struct.unpack_from("<IiiHHI", data, 14)
        if dib_size < 40:
            return "old-style bitmap header (%d bytes)" % dib_size
        if compression != 0:
            return "compressed bitmap (method %d)" % compression
        pixel_offset = struct.unpack_from("<I", data, 10)[0]
        stride = ((w * bpp + 31) // 32) * 4
        if pixel_offset + stride * abs(h) > len(data):
            return "bitmap truncated: %d bytes" % len(data)
        return ("BMP", w, abs(h), bpp)
    if data[:6] in (b"GIF87a", b"GIF89a") and len(data) >= 13:
        w, h = struct.unpack_from("<HH", data, 6)
        if not data.rstrip(b"\0").endswith(b";"):
            return "GIF without trailer"
        return ("GIF", w, h, None)
    if data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR":
        w, h = struct.unpack_from(">II", data, 16)
        return ("PNG", w, h, None)
    return "unknown file format"


def check(skin_dir):
    faults = []
    image_dir = os.path.join(skin_dir, "images")
    present = set(os.listdir(image_dir)) if os.path.isdir(image_dir) else set()
    expected_files = set()

    for name, (fmt, w, h) in sorted(EXPECTED.items()):
        filename = name + EXTENSION[fmt]
        expected_files.add(filename)
        if filename not in present:
            others = [f for f in present if os.path.splitext(f)[0].lower() == name.lower()]
            hint = " (found %s)" % ", ".join(sorted(others)) if others else ""
            faults.append("%s: missing%s" % (filename, hint))
            continue
        got = read_header(os.path.join(image_dir, filename))
        if isinstance(got, str):
            faults.append("%s: %s" % (filename, got))
            continue
        gfmt, gw, gh, bpp = got
        if gfmt != fmt:
            faults.append("%s: is %s, expected %s" % (filename, gfmt, fmt))
        elif (gw, gh) != (w, h):
            faults.append("%s: %dx%d, expected %dx%d" % (filename, gw, gh, w, h))
        elif fmt == "BMP" and bpp != 24:
            faults.append("%s: %d bits per pixel, expected 24" % (filename, bpp))

    for extra in sorted(present - expected_files):
        faults.append("%s: not a skin picture" % extra)

    # The icon theme's program icons, one PNG per size the desktop asks for.
    for px in ICON_SIZES:
        rel = os.path.join("icons", "hicolor", "%dx%d" % (px, px), "apps", "velmora.png")
        path = os.path.join(skin_dir, rel)
        if not os.path.isfile(path):
            faults.append("%s: missing" % rel)
            continue
        got = read_header(path)
        if isinstance(got, str) or got[:3] != ("PNG", px, px):
            faults.append("%s: %s, expected a %dx%d PNG" % (rel, got if isinstance(got, str) else got[:3], px, px))

    qrc_path = os.path.join(skin_dir, "skin.qrc")
    try:
        root = ET.parse(qrc_path).getroot()
    except (OSError, ET.ParseError) as e:
        faults.append("skin.qrc: %s" % e)
        return faults
    listed = {}
    for res in root.iter("qresource"):
        for f in res.iter("file"):
            alias = f.get("alias") or f.text
            listed[alias] = (res.get("prefix"), f.text)
    for filename in sorted(expected_files):
        if filename not in listed:
            faults.append("skin.qrc: %s not listed" % filename)
            continue
        prefix, source = listed[filename]
        if prefix != "/skin" or source != "images/" + filename:
            faults.append("skin.qrc: %s listed as %s under %s" % (filename, source, prefix))
    for alias in sorted(set(listed) - expected_files):
        faults.append("skin.qrc: lists %s, which is not a skin picture" % alias)
    return faults


def main(argv):
    skin_dir = argv[1] if len(argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    faults = check(skin_dir)
    for f in faults:
        print(f)
    if faults:
        return 1
    print("skin: %d pictures and %d icons OK" % (len(EXPECTED), len(ICON_SIZES)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
