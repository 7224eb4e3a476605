#pragma once
// The global keys of the background program as text, "Ctrl+Alt+Shift+F8" or
// "none", read into modifiers and a virtual key and written back for the
// settings window. Pure text work: the key codes are Windows' virtual-key
// codes and the modifier bits RegisterHotKey's MOD_ values, written out here
// so that this builds without <windows.h>.
//
// Names are case-insensitive and joined by "+" (blanks around them allowed):
// Ctrl (Control), Alt, Shift, Win (Windows), then one key: A-Z, 0-9, F1-F24,
// Num0-Num9, Insert, Delete, Home, End, PageUp, PageDown, Up, Down, Left,
// Right, Space, Pause, ScrollLock.
#include <stddef.h>

const unsigned kHotkeyAlt = 0x0001;
const unsigned kHotkeyCtrl = 0x0002;
const unsigned kHotkeyShift = 0x0004;
const unsigned kHotkeyWin = 0x0008;

struct Hotkey {
  unsigned modifiers;  // kHotkey... bits
  unsigned key;        // the virtual-key code; 0: no key ("none")
};

// The dial key when no setting names one: Ctrl+Alt+Shift+F8. An F-key types
// no character with AltGr on any layout (AltGr is Ctrl+Alt there, and only
// the character keys have an AltGr level), Windows reserves the Win chords for
// itself, F12 belongs to debuggers, and of the F-keys with Ctrl+Alt+Shift
// Office takes F9 (Excel recalculates), Windows and the browsers none.
// docs/developer.md has the table of what each program does with it.
const Hotkey kDefaultDialHotkey = {kHotkeyCtrl | kHotkeyAlt | kHotkeyShift, 0x77};
// Hanging up has no key of its own unless set: a stray press would end a
// call in the middle, and the tray's menu does it.
const Hotkey kDefaultHangUpHotkey = {0, 0};

// Other keys the settings window offers when the chosen one is taken, in
// this order: the same chord on its neighbours, none of them in any of the
// programs the default was checked against.
const Hotkey kSpareDialHotkeys[] = {
    {kHotkeyCtrl | kHotkeyAlt | kHotkeyShift, 0x76},  // F7
    {kHotkeyCtrl | kHotkeyAlt | kHotkeyShift, 0x75},  // F6
    {kHotkeyCtrl | kHotkeyAlt | kHotkeyShift, 0x79},  // F10
    {kHotkeyCtrl | kHotkeyAlt | kHotkeyShift, 0x7A},  // F11
    {kHotkeyCtrl | kHotkeyAlt | kHotkeyShift, 0x74},  // F5
};

enum HotkeyError {
  kHotkeyParsed,
  kHotkeyEmpty,
  kHotkeyUnknownName,
  kHotkeyNameTwice,
  kHotkeyTwoKeys,
  kHotkeyNoKey,
  kHotkeyNoModifier,
  kHotkeyAltGr,
  kHotkeyDebuggerKey,
};

// text (UTF-16, 0-terminated) into *hotkey; "none" gives key 0. A key
// without Ctrl, Alt or Win is refused unless it is F13-F24, which no
// keyboard's typing uses; Ctrl+Alt (with or without Shift) on a character key
// is refused, as AltGr sends Ctrl+Alt on European layouts and types with it
// (AltGr+D is "Đ" on Czech); and F12 is, which RegisterHotKey's contract
// keeps for debuggers at all times.
HotkeyError ParseHotkey(const char16_t* text, Hotkey* hotkey);
// A phrase for the refusal, to follow the option and its value.
const char* DescribeHotkeyError(HotkeyError error);

// "Ctrl+Alt+Shift+F8" (modifiers always in that order, then Win) or "none",
// 0-terminated in text, cut to size; the length it needs.
size_t FormatHotkey(const Hotkey& hotkey, char* text, size_t size);

inline bool SameHotkey(const Hotkey& a, const Hotkey& b) { return a.modifiers == b.modifiers && a.key == b.key; }
