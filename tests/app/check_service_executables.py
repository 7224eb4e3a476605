#!/usr/bin/env python3
"""Checks the two dial service programs: both import from Windows system DLLs
only (WinHTTP and BCrypt included, no mingw runtime DLL); dial-service.exe is a
console program, dial-service-tray.exe a GUI program, which Windows starts
without a console window (from the Run key, from Explorer).

    check_service_executables.py path/to/dial-service.exe path/to/dial-service-tray.exe
"""
import sys
import unittest

import pefile

SYSTEM_DLLS = {
    "advapi32.dll", "bcrypt.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll", "shell32.dll",
    "user32.dll", "winhttp.dll", "ws2_32.dll",
}
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
IMAGE_SUBSYSTEM_WINDOWS_CUI = 3


class ServiceExecutables(unittest.TestCase):
    console = None
    tray = None

    def imports(self, path):
        return {entry.dll.decode().lower() for entry in pefile.PE(path).DIRECTORY_ENTRY_IMPORT}

    def test_imports_only_system_dlls(self):
        for path in (self.console, self.tray):
            imported = self.imports(path)
            self.assertIn("winhttp.dll", imported, path)
            self.assertLessEqual(imported, SYSTEM_DLLS, "%s: non-system DLLs %s" % (path, sorted(imported - SYSTEM_DLLS)))

    def test_subsystems(self):
        self.assertEqual(IMAGE_SUBSYSTEM_WINDOWS_CUI, pefile.PE(self.console).OPTIONAL_HEADER.Subsystem)
        self.assertEqual(IMAGE_SUBSYSTEM_WINDOWS_GUI, pefile.PE(self.tray).OPTIONAL_HEADER.Subsystem)


if __name__ == "__main__":
    ServiceExecutables.console = sys.argv.pop(1)
    ServiceExecutables.tray = sys.argv.pop(1)
    unittest.main(verbosity=2)
