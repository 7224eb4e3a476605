#!/usr/bin/env python3
"""Checks that the built programs are single dependency-free Windows
executables for the build's processor: PE32 for i386 in the 32-bit build,
PE32+ for AMD64 in the 64-bit one, the expected subsystem (dial-service-tray.exe
is a GUI program, which Windows starts without a console window, from the Run
key or from Explorer), no link time stamp, imports from Windows system DLLs
only (no mingw runtime DLL), and in both service programs the template of the
window that asks before a number is dialled.

    check_executable.py i686|x86_64 teldial.exe dial-service.exe dial-service-tray.exe
"""
import sys
import unittest

import pefile

SYSTEM_DLLS = {
    "advapi32.dll", "bcrypt.dll", "comctl32.dll", "crypt32.dll", "gdi32.dll", "iphlpapi.dll", "kernel32.dll",
    "msvcrt.dll", "ole32.dll", "psapi.dll", "secur32.dll", "shell32.dll", "user32.dll", "winmm.dll", "ws2_32.dll",
}
MINGW_RUNTIME_DLLS = ("libstdc++-6.dll", "libgcc_s_dw2-1.dll", "libgcc_s_seh-1.dll", "libwinpthread-1.dll")
# (optional header magic, machine) of each build.
FORMATS = {"i686": (0x10B, 0x14C), "x86_64": (0x20B, 0x8664)}
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
IMAGE_SUBSYSTEM_WINDOWS_CUI = 3
RT_DIALOG = 5
IDD_CONFIRMATION = 200  # service/confirm/confirmation_window_ids.h

arch = None
programs = {}  # "teldial" / "dial-service" -> path


class Executable:
    """The checks every program of the release passes."""
    name = None
    subsystem = None

    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(programs[cls.name])

    def test_format_of_the_build(self):
        magic, machine = FORMATS[arch]
        self.assertEqual(hex(magic), hex(self.pe.OPTIONAL_HEADER.Magic))
        self.assertEqual(hex(machine), hex(self.pe.FILE_HEADER.Machine))

    def test_subsystem(self):
        self.assertEqual(self.subsystem, self.pe.OPTIONAL_HEADER.Subsystem)

    def test_no_link_time_stamp(self):
        self.assertEqual(0, self.pe.FILE_HEADER.TimeDateStamp)

    def test_imports_only_system_dlls(self):
        imported = {entry.dll.decode().lower() for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertTrue(imported, "no imports read")
        self.assertLessEqual(imported, SYSTEM_DLLS, "non-system DLLs: %s" % sorted(imported - SYSTEM_DLLS))
        for runtime in MINGW_RUNTIME_DLLS:
            self.assertNotIn(runtime, imported)


class Dialer(Executable, unittest.TestCase):
    name = "teldial"
    subsystem = IMAGE_SUBSYSTEM_WINDOWS_GUI


class DialService(Executable, unittest.TestCase):
    name = "dial-service"
    subsystem = IMAGE_SUBSYSTEM_WINDOWS_CUI

    def test_secures_requests_with_schannel(self):
        self.assertIn(b"secur32.dll", {entry.dll.lower() for entry in self.pe.DIRECTORY_ENTRY_IMPORT})

    def test_carries_the_confirmation_window(self):
        dialogs = [entry.directory.entries for entry in self.pe.DIRECTORY_ENTRY_RESOURCE.entries
                   if entry.id == RT_DIALOG]
        self.assertIn(IDD_CONFIRMATION, [dialog.id for entries in dialogs for dialog in entries])


class DialServiceTray(DialService):
    name = "dial-service-tray"
    subsystem = IMAGE_SUBSYSTEM_WINDOWS_GUI


if __name__ == "__main__":
    if len(sys.argv) < 5 or sys.argv[1] not in FORMATS:
        sys.exit(__doc__)
    arch = sys.argv.pop(1)
    for name in ("teldial", "dial-service", "dial-service-tray"):
        programs[name] = sys.argv.pop(1)
    unittest.main(verbosity=2)
