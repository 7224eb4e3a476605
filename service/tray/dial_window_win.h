#pragma once
// The tray's Dial window (template dial_window.rc), for a number nobody can
// select: one field, Number, whose drop-down holds the recent numbers, and
// Dial (Enter) and Cancel (Esc). Dial takes the first phone number in the
// field's text and dials it as a number taken from the screen, then closes;
// a text without one is said under the field, in the field's words, and the
// window stays open. One window at a time: opening it again brings it to the
// front. It runs modeless on the thread that opens it, whose message loop
// hands each message to HandleDialWindowMessage first.
#include <windows.h>

// Opens the window with the recent numbers, or brings the open one to the
// front; false when it cannot be made. The template must be in the program's
// own resources.
bool OpenDialWindow();
// True when message was the window's keyboard input (Tab, Enter, Esc, the
// access keys) and has been handled; the loop then skips it.
bool HandleDialWindowMessage(MSG* message);
