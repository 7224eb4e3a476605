#!/usr/bin/env python3
"""Reads the resources of a built teldial.exe and checks the application
manifest and the icon group.

    check_resources.py path/to/teldial.exe
"""
import struct
import sys
import unittest
import xml.etree.ElementTree as ElementTree

import pefile

RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
WINDOWS_SETTINGS = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"

SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  # Vista
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10
}

# (width, bits per pixel) of the nine images.
ICON_IMAGES = sorted([(16, 4), (32, 4), (16, 8), (32, 8), (48, 8), (16, 32), (32, 32), (48, 32), (256, 32)])

executable = None

# The manifest's processorArchitecture for each machine type of the PE header:
# Windows will not start a program whose manifest names another processor.
MANIFEST_ARCHITECTURE = {0x14C: "x86", 0x8664: "amd64"}


def resources_of_type(pe, type_id):
    """{resource id: bytes} of one resource type (first language of each)."""
    found = {}
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if type_entry.id != type_id:
            continue
        for entry in type_entry.directory.entries:
            data = entry.directory.entries[0].data.struct
            found[entry.id if entry.id is not None else str(entry.name)] = pe.get_data(data.OffsetToData, data.Size)
    return found


class Resources(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(executable, fast_load=False)

    def manifest_architecture(self):
        machine = self.pe.FILE_HEADER.Machine
        self.assertIn(machine, MANIFEST_ARCHITECTURE, "unexpected machine type 0x%X" % machine)
        return MANIFEST_ARCHITECTURE[machine]

    def manifest(self):
        manifests = resources_of_type(self.pe, RT_MANIFEST)
        self.assertEqual([1], list(manifests), "one manifest, id 1")
        return ElementTree.fromstring(manifests[1])

    def test_manifest_identity(self):
        root = self.manifest()
        self.assertEqual(ASM_V1 + "assembly", root.tag)
        self.assertEqual("1.0", root.get("manifestVersion"))
        identity = root.find(ASM_V1 + "assemblyIdentity")
        self.assertIsNotNone(identity)
        self.assertEqual("1.0.0.0", identity.get("version"))
        self.assertEqual(self.manifest_architecture(), identity.get("processorArchitecture"))
        self.assertEqual("win32", identity.get("type"))
        self.assertTrue(identity.get("name"))

    def test_manifest_supported_systems(self):
        entries = self.manifest().findall(f"{COMPATIBILITY}compatibility/{COMPATIBILITY}application/{COMPATIBILITY}supportedOS")
        ids = [entry.get("Id").lower() for entry in entries]
        self.assertEqual(5, len(ids))
        self.assertEqual(SUPPORTED_OS, set(ids))

    def test_manifest_common_controls(self):
        dependencies = self.manifest().findall(f"{ASM_V1}dependency/{ASM_V1}dependentAssembly/{ASM_V1}assemblyIdentity")
        self.assertEqual(1, len(dependencies))
        self.assertEqual({
            "type": "win32",
            "name": "Microsoft.Windows.Common-Controls",
            "version": "6.0.0.0",
            "processorArchitecture": self.manifest_architecture(),
            "publicKeyToken": "6595b64144ccf1df",
            "language": "*",
        }, dict(dependencies[0].attrib))

    def test_manifest_dpi_aware(self):
        settings = self.manifest().findall(f"{ASM_V3}application/{ASM_V3}windowsSettings/{WINDOWS_SETTINGS}dpiAware")
        self.assertEqual(["true"], [s.text.strip() for s in settings])

    def test_icon_group(self):
        groups = resources_of_type(self.pe, RT_GROUP_ICON)
        self.assertEqual(1, len(groups), "one icon group")
        group = next(iter(groups.values()))
        reserved, kind, count = struct.unpack_from("<HHH", group)
        self.assertEqual((0, 1, 9), (reserved, kind, count))
        self.assertEqual(6 + 14 * count, len(group))
        icons = resources_of_type(self.pe, RT_ICON)
        seen = []
        for index in range(count):
            width, height, colours, _, planes, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * index)
            width, height = width or 256, height or 256
            with self.subTest(width=width, bits=bits):
                self.assertEqual(width, height)
                self.assertEqual(16 if bits == 4 else 0, colours)
                self.assertEqual(1, planes)
                self.assertIn(icon_id, icons)
                image = icons[icon_id]
                self.assertEqual(size, len(image))
                if width == 256:
                    self.check_png(image)
                else:
                    self.check_dib(image, width, bits)
            seen.append((width, bits))
        self.assertEqual(ICON_IMAGES, sorted(seen))

    def check_png(self, image):
        self.assertEqual(b"\x89PNG\r\n\x1a\n", image[:8], "the 256 px image is stored as PNG")
        length, chunk = struct.unpack_from(">I4s", image, 8)
        self.assertEqual((13, b"IHDR"), (length, chunk))
        width, height, depth, colour_type = struct.unpack_from(">IIBB", image, 16)
        self.assertEqual((256, 256, 8, 6), (width, height, depth, colour_type), "256x256 RGBA, 8 bits a channel")

    def check_dib(self, image, size, bits):
        header_size, width, height, planes, bit_count, compression = struct.unpack_from("<IiiHHI", image)
        self.assertEqual((40, size, 2 * size, 1, bits, 0), (header_size, width, height, planes, bit_count, compression))
        palette = (1 << bits) if bits <= 8 else 0
        row = lambda bits_per_row: (bits_per_row + 31) // 32 * 4
        self.assertEqual(40 + 4 * palette + size * row(size * bits) + size * row(size), len(image),
                         "header, palette, colour rows and AND mask")

    def test_version_information(self):
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        one_zero_zero_zero = (0x00010000, 0x00000000)
        self.assertEqual(one_zero_zero_zero, (fixed.FileVersionMS, fixed.FileVersionLS))
        self.assertEqual(one_zero_zero_zero, (fixed.ProductVersionMS, fixed.ProductVersionLS))
        strings = {}
        for info in self.pe.FileInfo[0]:
            for table in getattr(info, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
        self.assertEqual("teldial", strings.get("ProductName"))
        self.assertEqual("1.0.0.0", strings.get("FileVersion"))
        self.assertEqual("1.0.0.0", strings.get("ProductVersion"))
        self.assertEqual("teldial.exe", strings.get("OriginalFilename"))
        self.assertTrue(strings.get("FileDescription"))


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    executable = sys.argv.pop(1)
    unittest.main()
