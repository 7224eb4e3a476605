#!/usr/bin/env python3
"""Checks that the committed teldial.ico is what make_icon.py draws, so the two
cannot drift apart. PNG data is compared after decompression, which keeps the
check independent of the zlib version that compressed it.

    check_icon_source.py path/to/resources
"""
import importlib.util
import os
import struct
import sys
import zlib


def images(icon):
    """[(directory entry, image bytes)] of an .ico file."""
    count = struct.unpack_from("<H", icon, 4)[0]
    found = []
    for index in range(count):
        entry = icon[6 + 16 * index:22 + 16 * index]
        size, offset = struct.unpack_from("<II", entry, 8)
        found.append((entry[:8], icon[offset:offset + size]))
    return found


def comparable(image):
    """The image itself; for a PNG its chunks with IDAT decompressed."""
    if not image.startswith(b"\x89PNG"):
        return image
    chunks, position, pixels = [], 8, b""
    while position < len(image):
        length, kind = struct.unpack_from(">I4s", image, position)
        data = image[position + 8:position + 8 + length]
        if kind == b"IDAT":
            pixels += data
        else:
            chunks.append((kind, data))
        position += 12 + length
    return chunks, zlib.decompress(pixels)


def main():
    resources = sys.argv[1]
    module_spec = importlib.util.spec_from_file_location("make_icon", os.path.join(resources, "make_icon.py"))
    make_icon = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(make_icon)
    with open(os.path.join(resources, "teldial.ico"), "rb") as committed_file:
        committed = images(committed_file.read())
    drawn = images(make_icon.icon())
    if len(committed) != len(drawn):
        sys.exit(f"teldial.ico has {len(committed)} images, make_icon.py draws {len(drawn)}")
    for index, ((committed_entry, committed_image), (drawn_entry, drawn_image)) in enumerate(zip(committed, drawn)):
        if committed_entry != drawn_entry or comparable(committed_image) != comparable(drawn_image):
            sys.exit(f"image {index + 1} of teldial.ico differs from make_icon.py's; "
                     "run: python3 resources/make_icon.py resources/teldial.ico")
    print(f"teldial.ico matches make_icon.py: {len(drawn)} images")


if __name__ == "__main__":
    main()
