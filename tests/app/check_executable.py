#!/usr/bin/env python3
"""Checks that a built program is a single dependency-free 32-bit Windows GUI
executable: PE32 for i386, GUI subsystem, no link time stamp, and imports from
Windows system DLLs only (no mingw runtime DLL).

    check_executable.py path/to/teldial.exe
"""
import sys
import unittest

import pefile

SYSTEM_DLLS = {
    "advapi32.dll", "bcrypt.dll", "comctl32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll",
    "ole32.dll", "psapi.dll", "shell32.dll", "user32.dll", "winmm.dll", "ws2_32.dll",
}
IMAGE_FILE_MACHINE_I386 = 0x14C
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
PE32_MAGIC = 0x10B


class Executable(unittest.TestCase):
    path = None

    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(cls.path)

    def test_pe32_for_i386(self):
        self.assertEqual(PE32_MAGIC, self.pe.OPTIONAL_HEADER.Magic)
        self.assertEqual(IMAGE_FILE_MACHINE_I386, self.pe.FILE_HEADER.Machine)

    def test_gui_subsystem(self):
        self.assertEqual(IMAGE_SUBSYSTEM_WINDOWS_GUI, self.pe.OPTIONAL_HEADER.Subsystem)

    def test_no_link_time_stamp(self):
        self.assertEqual(0, self.pe.FILE_HEADER.TimeDateStamp)

    def test_imports_only_system_dlls(self):
        imported = {entry.dll.decode().lower() for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertTrue(imported, "no imports read")
        self.assertLessEqual(imported, SYSTEM_DLLS, "non-system DLLs: %s" % sorted(imported - SYSTEM_DLLS))
        for runtime in ("libstdc++-6.dll", "libgcc_s_dw2-1.dll", "libwinpthread-1.dll"):
            self.assertNotIn(runtime, imported)


if __name__ == "__main__":
    Executable.path = sys.argv.pop(1)
    unittest.main(verbosity=2)
