#pragma once
// The settings window of dial-service-tray.exe (template settings_window.rc):
// the phone and its options, the credentials, the dialing rules, a test call
// with the form as it stands, and Save, which writes the settings file
// (a password only in its protected form) and has it taken up at once.
#include <windows.h>

#include <stddef.h>

#include "service/settings/service_options.h"

// Takes up the settings file just written; false with the one-line problem,
// which the window then shows, staying open.
typedef bool (*ApplySettings)(char* problem, size_t size);

// Shows the window until it is saved (true) or closed (false). The form starts
// from current, which must stay until then; Save writes the file at path.
bool RunSettingsWindow(const ServiceOptions& current, const wchar_t* path, ApplySettings apply);
// The window while it is open, otherwise null.
HWND OpenSettingsWindow();
