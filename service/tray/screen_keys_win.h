#pragma once
// The background program's global keys: the dial key, which dials the first
// phone number in the text selected in the window in front, and the hang-up
// key, which does what the menu's "Hang up" does. Both belong to the tray's
// window and its thread.
#include <windows.h>

#include "service/settings/service_options.h"

// The ids of the keys in WM_HOTKEY's wParam.
const int kDialHotkeyId = 1;
const int kHangUpHotkeyId = 2;

// Says what went wrong with a key: a balloon by the icon (and the log).
typedef void (*KeyWarning)(const wchar_t* title, const char* text);

// Registers the keys the options name on window (none: that key is off),
// after letting go of those held before; each key another program holds is
// logged and warned of, by name.
void TakeHotkeys(HWND window, const ServiceOptions& options, KeyWarning warn);
// Lets both keys go, so that other programs (and the settings window's check)
// may have them.
void ReleaseHotkeys(HWND window);
// On the dial key: the selection in front copied, its first phone number
// dialled as a number from a dialer is; what stops it is warned of.
void DialSelection(HWND window, KeyWarning warn);
