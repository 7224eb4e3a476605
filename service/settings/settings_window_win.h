#pragma once
// The settings window of dial-service-tray.exe (template settings_window.rc):
// the phone and its options, the credentials, the dialing rules, a test call
// with the form as it stands, and Save, which writes the settings file
// (a password only in its protected form) and has it taken up at once.
#include <windows.h>

#include <stddef.h>

#include "service/settings/service_options.h"
#include "service/settings/settings_win.h"

// Takes up the settings file just written; false with the one-line problem,
// which the window then shows, staying open.
typedef bool (*ApplySettings)(char* problem, size_t size);

// Shows the window until it is saved (true) or closed (false). The form
// starts from the settings in effect (loaded, which must stay until then):
// fields that the machine's file sets are shown and locked, and each line of
// the user's file left out (loaded.userFaults) is named at the top in turn,
// to be put right in its field or dropped. Save writes to path only the keys
// changed in the form (and leaves out the lines dropped), and only when the
// whole new file loads with the machine's file and argv. ask (may be null):
// a line shown at the top when the window opens, saying what is missing.
bool RunSettingsWindow(const LoadedOptions& loaded, const wchar_t* path, int argc, const wchar_t* const* argv,
                       ApplySettings apply, const char* ask = nullptr);
// The window while it is open, otherwise null.
HWND OpenSettingsWindow();
